#pragma once

#include "devicesimulator.h"

class QSocketNotifier;

// Serves each device as a socket in a directory, for the program's virtual
// HID backend: one connection per open device.
class SocketSimulator : public DeviceSimulator
{
    Q_OBJECT
public:
    SocketSimulator(const QString& directory, const QList<SimulatedDevice>& devices,
                    QObject* parent = nullptr);
    ~SocketSimulator() override;

    // Creates the directory and every socket.
    bool start() override;

protected:
    bool plug(const QString& name) override;
    void unplug(const QString& name) override;
    // Stops or resumes reading, and starts or stops flooding, the device's
    // connections as its fault says.
    void faultChanged(const QString& name) override;

private:
    struct Connection
    {
        int fd = -1;
        QSocketNotifier* notifier = nullptr;
        QSocketNotifier* floodNotifier = nullptr; // writable, while flooding
        quint32 flooded = 0;                      // reports sent unasked
    };
    struct Served
    {
        int listenFd = -1;
        QSocketNotifier* listenNotifier = nullptr;
        QMap<quint64, Connection> connections;
    };

    void acceptConnections(const QString& name);
    void readConnection(const QString& name, quint64 id);
    void closeConnection(Served& served, quint64 id);
    void answer(const QString& name, quint64 id, const QByteArray& reply);
    void setUpFlood(const QString& name, quint64 id);
    void flood(const QString& name, quint64 id);
    QString socketPath(const QString& name) const;

    QString m_strDirectory;
    QMap<QString, Served> m_served;
    quint64 m_nextConnectionId = 1;
};
