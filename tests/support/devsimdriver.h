#pragma once

#include <QByteArray>
#include <QObject>
#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>

#include <functional>

// Runs varnoks-devsim (build/bin) for a test: virtual devices in a temporary
// directory, their output lines collected, commands sent to them. Output is
// read whenever the event loop runs, so wait with the wait* helpers or
// QTRY_*; the simulator is stopped (and its sockets removed) with the object.
//
//   DevsimDriver sim;
//   QVERIFY(sim.start({"a", "b,fault=refuse"}));
//   sim.useAsBackend();                  // VARNOKS_HID_BACKEND=virtual:<dir>
//   ... build the registry / sender / main window ...
//   QVERIFY(sim.waitForReports("a", 2));
class DevsimDriver : public QObject
{
    Q_OBJECT
public:
    // One decoded "NAME report ..." line.
    struct Report
    {
        QString device;
        int item = -1;
        bool fahrenheit = false;
        int alarm = -1;
        int cpu = -1;
        int cpuUsage = -1;
        int gpu = -1;
        int gpuUsage = -1;
        int fan = -1;
        QByteArray raw;  // the 64 report bytes
        qint64 atMs = 0; // when it was read, on the clock of now()
    };

    DevsimDriver();
    ~DevsimDriver() override;

    // Starts the simulator with these device specs and waits until every
    // device's socket is there. With discardOutput the lines are not kept
    // (for long runs that would fill memory).
    bool start(const QStringList& devices, const QStringList& extraArguments = {},
               bool discardOutput = false);
    // Closes its input (the simulator's end-of-session) and waits for exit 0.
    bool stop(int timeoutMs = 5000);
    // Sends SIGTERM and waits for exit 0.
    bool terminate(int timeoutMs = 5000);
    bool isRunning() const { return m_process.state() != QProcess::NotRunning; }
    // Whether the build has the simulator at all.
    static bool available();
    // Milliseconds on one monotonic clock shared by every helper of a test.
    static qint64 now();

    QString directory() const { return m_dir.path(); }
    QString backendSpec() const { return QStringLiteral("virtual:") + directory(); }
    QString devicePath(const QString& name) const { return directory() + QLatin1Char('/') + name; }
    // Points VARNOKS_HID_BACKEND at this simulator until the driver goes.
    void useAsBackend();

    // Sends one command line; plug and unplug wait until the socket
    // appeared or went.
    void command(const QString& line);
    bool unplug(const QString& name);
    bool plug(const QString& name);
    void setFault(const QString& name, const QString& kind)
    {
        command(QStringLiteral("fault %1 %2").arg(name, kind));
    }

    // Everything read so far from standard output and standard error.
    QStringList lines();
    QString errorOutput();
    QList<Report> reports(const QString& name = QString());
    // Reports read at or after sinceMs (see now()).
    QList<Report> reportsSince(qint64 sinceMs, const QString& name = QString());
    int identifyCount(const QString& name);
    // When the first identification request of the device at or after
    // sinceMs was read; -1 if none.
    qint64 identifiedAt(const QString& name, qint64 sinceMs = 0);
    void clearLines();

    // Run the event loop until the condition holds; false after the time-out.
    bool waitFor(const std::function<bool()>& condition, int timeoutMs = 5000);
    bool waitForReports(const QString& name, int count, int timeoutMs = 5000);

    static bool parseReport(const QString& line, Report* report);

private:
    void collect();

    QTemporaryDir m_dir;
    QProcess m_process;
    QStringList m_lines;
    QList<qint64> m_lineTimes; // when each line was read
    QByteArray m_partial;
    QByteArray m_stderr;
    bool m_exported = false;
    QByteArray m_savedBackend;
    bool m_hadBackend = false;
};
