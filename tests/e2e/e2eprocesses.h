#pragma once

#include "devsimdriver.h"

#include <QElapsedTimer>
#include <QObject>
#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>

#include <functional>

// The outside view of the whole program: the real varnoks-pilot and
// varnoks-devsim from the build's bin folder, each in its own process, with
// every folder the program touches inside one temporary directory.

// Milliseconds on one clock shared by every process helper of a test.
qint64 e2eNow();

// Runs the event loop until the condition holds or the time is up.
bool e2eWaitFor(const std::function<bool()>& condition, int timeoutMs);

QString e2eBinPath(const QString& name);

// One data report as the simulator printed it, stamped when it was read.
struct SeenReport : DevsimDriver::Report
{
    qint64 atMs = 0;
};

// varnoks-devsim with its devices in a temporary folder. Lines are read as
// they come while the event loop runs.
class Devsim : public QObject
{
    Q_OBJECT
public:
    Devsim();
    ~Devsim() override;

    static bool available();

    bool start(const QStringList& devices);
    // SIGTERM and wait for its exit; true when it exited with 0.
    bool terminate();

    QString directory() const { return m_dir.path(); }
    QString socketPath(const QString& name) const { return m_dir.path() + QLatin1Char('/') + name; }

    void command(const QString& line);
    // plug/unplug and wait until the socket appeared or went.
    bool plug(const QString& name);
    bool unplug(const QString& name);

    QList<SeenReport> reports(const QString& device = QString()) const;
    QList<SeenReport> reportsSince(qint64 sinceMs, const QString& device = QString()) const;
    // Time of the first identification request of the device, -1 if none.
    qint64 identifiedAt(const QString& name, qint64 sinceMs = 0) const;
    QString errorOutput() const { return QString::fromLocal8Bit(m_stderr); }

private:
    void collect();

    QTemporaryDir m_dir;
    QProcess m_process;
    QByteArray m_partial;
    QByteArray m_stderr;
    QList<SeenReport> m_reports;
    QList<QPair<qint64, QString>> m_identified;
};

// varnoks-pilot on the offscreen platform with its own XDG folders, run log
// folder, simulated sensors and virtual HID devices.
class Pilot
{
public:
    Pilot();
    ~Pilot();

    bool isValid() const { return m_dir.isValid(); }
    QString root() const { return m_dir.path(); }
    QString configHome() const { return root() + QStringLiteral("/config"); }
    QString logDir() const { return root() + QStringLiteral("/logs"); }
    QString fixturePath() const { return root() + QStringLiteral("/sensors.json"); }
    QString settingsPath() const { return configHome() + QStringLiteral("/KR_alvo/VarnoksPilot.conf"); }
    QString autostartPath() const
    {
        return configHome() + QStringLiteral("/autostart/DeviceMonitorStartTask.desktop");
    }

    // The fixture the simulated sensors serve: one CPU package temperature,
    // one CPU fan, one GPU temperature, each a constant.
    bool writeFixture(double cpu, double gpu, double fan);
    // Stores a setting before the program starts (or for its next start).
    void setSetting(const QString& key, const QVariant& value);

    // Environment of the program; devsim's folder for the HID backend and
    // an FTP server's address for the update check may be empty.
    QProcessEnvironment environment(const QString& hidDirectory, const QString& updateServer) const;

    // Starts the program; true once it runs.
    bool start(const QString& hidDirectory, const QString& updateServer = QString());
    // Runs a further copy with the same environment to its end, returning
    // its exit code (or -1 when it did not end within the time).
    int runAnother(const QString& hidDirectory, int timeoutMs);
    bool isRunning() const { return m_process.state() == QProcess::Running; }
    qint64 pid() const { return m_process.processId(); }
    // SIGTERM; returns the milliseconds until the process ended, -1 when it
    // did not end within timeoutMs (it is then killed).
    qint64 terminate(int timeoutMs);
    int exitCode() const { return m_process.exitCode(); }
    QProcess::ExitStatus exitStatus() const { return m_process.exitStatus(); }
    QString output();

    // Today's run log ("" when there is none).
    QString readLog() const;

private:
    QTemporaryDir m_dir;
    QProcess m_process;
    QByteArray m_output;
};
