#pragma once

#include "firmware.h"

#include <QMap>
#include <QObject>
#include <QString>
#include <QStringList>

// Simulated displays behind one transport. The firmware answers the same
// way on each; the transport decides how the bytes travel and what
// plugging means. Prints one line per request on standard output and takes
// commands from standard input (through command()).
class DeviceSimulator : public QObject
{
    Q_OBJECT
public:
    explicit DeviceSimulator(const QList<SimulatedDevice>& devices, QObject* parent = nullptr);

    // Plugs every device; false (with a message on standard error) when one
    // cannot be.
    virtual bool start();
    // Unplugs every device.
    void shutdown();
    // One command line: "unplug NAME", "plug NAME", "fault NAME KIND", "quit".
    void command(const QString& line);

    QStringList deviceNames() const;

signals:
    void displayChanged(const QString& name, const DisplayState& state);
    void plugChanged(const QString& name, bool plugged);
    void quitRequested();

protected:
    virtual bool plug(const QString& name) = 0;
    virtual void unplug(const QString& name) = 0;
    // The device's fault changed; the transport applies what is its own
    // (reading or not, flooding).
    virtual void faultChanged(const QString& name) = 0;

    const SimulatedDevice& device(const QString& name) const;
    // Passes a report written to the device to its firmware, prints what it
    // was and returns the firmware's answer.
    FirmwareAnswer receive(const QString& name, const QByteArray& report);

    static void printOut(const QString& line);
    static void printErr(const QString& line);

private:
    QMap<QString, SimulatedDevice> m_devices;
};
