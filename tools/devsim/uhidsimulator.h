#pragma once

#include "devicesimulator.h"

class QSocketNotifier;
class QTimer;

// Makes each device a HID device of the running kernel through /dev/uhid:
// the kernel gives it a hidraw node and udev announces it, exactly as for a
// display on a USB port. Writes to the node reach the firmware, its answers
// are the node's input reports.
class UhidSimulator : public DeviceSimulator
{
    Q_OBJECT
public:
    explicit UhidSimulator(const QList<SimulatedDevice>& devices, QObject* parent = nullptr);
    ~UhidSimulator() override;

    // False, with the reason on standard error, when /dev/uhid cannot be
    // opened.
    bool start() override;

protected:
    bool plug(const QString& name) override;
    void unplug(const QString& name) override;
    void faultChanged(const QString& name) override;

private:
    struct Node
    {
        int fd = -1;
        bool plugged = false;   // as far as the user is concerned
        quint64 generation = 0; // of the uhid device, so late answers find theirs gone
        QSocketNotifier* notifier = nullptr;
        QTimer* floodTimer = nullptr;
        quint32 flooded = 0;
    };

    bool create(const QString& name);
    void destroy(const QString& name);
    void readEvents(const QString& name);
    void output(const QString& name, const QByteArray& data);
    void sendInput(const QString& name, quint64 generation, const QByteArray& report);
    void flood(const QString& name);

    QMap<QString, Node> m_nodes;
    quint64 m_nextGeneration = 1;
};
