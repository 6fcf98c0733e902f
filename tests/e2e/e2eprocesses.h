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

// The device simulator is the tests' one launcher, DevsimDriver; its
// reports carry the time they were read on e2eNow()'s clock.
using SeenReport = DevsimDriver::Report;

// The reports grouped into passes of the sender: the devices of one pass are
// served side by side within milliseconds, passes are 500 ms apart. Each
// pass is the sorted list of the devices it reached.
QList<QStringList> e2ePasses(const QList<SeenReport>& reports);

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
