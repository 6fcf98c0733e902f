#pragma once

#include <QByteArray>
#include <QMap>
#include <QObject>
#include <QString>
#include <QStringList>

#include <memory>

class QSocketNotifier;

// How a simulated device misbehaves.
struct DeviceFault
{
    enum Kind
    {
        None,
        Refuse,  // data answers carry ack byte 0
        Silent,  // no answer at all
        WrongId, // identification reply with report id 0x10
        Short,   // 2-byte answers
        Drop,    // connection closed after reading
        Slow,    // answers after `delayMs`
        Mute,    // answers the identification, then nothing else
        Stall,   // reads nothing: a writer waits as on a stalled endpoint
        Flood,   // sends input reports unasked, as fast as the reader takes them
    };
    Kind kind = None;
    int delayMs = 0;

    // "refuse", "silent", "wrong-id", "short", "drop", "slow:MS", "mute",
    // "stall", "flood", "none".
    static bool parse(const QString& text, DeviceFault* fault);
};

struct SimulatedDevice
{
    QString name;
    quint16 vendorId = 0x2E3C;
    quint16 productId = 0x0A12;
    bool hasSerial = true;
    QString serial;
    quint8 software[2] = {1, 0};
    quint8 hardware[2] = {1, 0};
    QByteArray uuid;
    DeviceFault fault;

    // NAME[,vid=HEX][,pid=HEX][,serial=TEXT|none][,sw=M.m][,hw=M.m][,uuid=24 HEX][,fault=KIND]
    static bool parse(const QString& spec, SimulatedDevice* device, QString* error);
};

// What the device shows, decoded from one data report.
struct DisplayState
{
    int item = 0;
    bool fahrenheit = false;
    int alarm = 0;
    int cpu = 0;
    int cpuUsage = 0;
    int gpu = 0;
    int gpuUsage = 0;
    int fan = 0;
};

// The report line printed for a data report (without the device name).
QString reportLine(const QByteArray& report, DisplayState* state);

// Serves each device as a socket in the directory: answers identification
// and data reports as the firmware does, prints one line per request on
// standard output and takes commands from standard input.
class DeviceSimulator : public QObject
{
    Q_OBJECT
public:
    DeviceSimulator(const QString& directory, const QList<SimulatedDevice>& devices,
                    QObject* parent = nullptr);
    ~DeviceSimulator() override;

    // Creates every socket; false (with a message on standard error) when one
    // cannot be made.
    bool start();
    // Removes every socket and info file.
    void shutdown();
    // One command line: "unplug NAME", "plug NAME", "fault NAME KIND", "quit".
    void command(const QString& line);

    QStringList deviceNames() const;

signals:
    void displayChanged(const QString& name, const DisplayState& state);
    void plugChanged(const QString& name, bool plugged);
    void quitRequested();

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
        SimulatedDevice device;
        int listenFd = -1;
        QSocketNotifier* listenNotifier = nullptr;
        QMap<quint64, Connection> connections;
    };

    bool plug(Served& served);
    void unplug(Served& served);
    void acceptConnections(const QString& name);
    void readConnection(const QString& name, quint64 id);
    void closeConnection(Served& served, quint64 id);
    void handleMessage(Served& served, quint64 id, const QByteArray& message);
    void answer(const QString& name, quint64 id, const QByteArray& reply);
    // Stops or resumes reading, and starts or stops flooding, the device's
    // connections as its fault says.
    void applyFault(Served& served);
    void setUpFlood(Served& served, quint64 id);
    void flood(const QString& name, quint64 id);
    QString socketPath(const QString& name) const;

    QString m_strDirectory;
    QMap<QString, Served> m_devices;
    quint64 m_nextConnectionId = 1;
};
