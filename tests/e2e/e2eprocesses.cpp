#include "e2eprocesses.h"

#include <QCoreApplication>
#include <QDate>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QSettings>
#include <QTest>

#include <csignal>

namespace {

bool sendSignal(QProcess& process, int signal)
{
    const qint64 pid = process.processId();
    return pid > 0 && ::kill(static_cast<pid_t>(pid), signal) == 0;
}

} // namespace

qint64 e2eNow()
{
    return DevsimDriver::now();
}

bool e2eWaitFor(const std::function<bool()>& condition, int timeoutMs)
{
    const qint64 deadline = e2eNow() + timeoutMs;
    while (!condition()) {
        if (e2eNow() >= deadline)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QTest::qSleep(5);
    }
    return true;
}

QList<QStringList> e2ePasses(const QList<SeenReport>& reports)
{
    QList<QStringList> passes;
    qint64 last = -1000;
    for (const SeenReport& report : reports) {
        if (passes.isEmpty() || report.atMs - last > 200)
            passes.append(QStringList());
        passes.last().append(report.device);
        last = report.atMs;
    }
    for (QStringList& pass : passes)
        pass.sort();
    return passes;
}

QString e2eBinPath(const QString& name)
{
    QString dir = qEnvironmentVariable("VARNOKS_BIN_DIR");
    if (dir.isEmpty())
        dir = QCoreApplication::applicationDirPath();
    return QDir(dir).filePath(name);
}

// ----------------------------------------------------------------- Pilot

Pilot::Pilot()
{
    m_process.setProcessChannelMode(QProcess::MergedChannels);
    if (!m_dir.isValid())
        return;
    QDir root(m_dir.path());
    for (const char* sub : {"config", "state", "data", "cache", "runtime", "logs"})
        root.mkpath(QString::fromLatin1(sub));
    QFile::setPermissions(root.filePath(QStringLiteral("runtime")),
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
}

Pilot::~Pilot()
{
    if (m_process.state() != QProcess::NotRunning) {
        sendSignal(m_process, SIGTERM);
        if (!m_process.waitForFinished(5000)) {
            m_process.kill();
            m_process.waitForFinished(3000);
        }
    }
}

bool Pilot::writeFixture(double cpu, double gpu, double fan)
{
    const QByteArray text = QStringLiteral(
                                R"({"init": 0, "sensors": [
  {"name": "CPU [coretemp-isa-0000] DTS", "readings": [
    {"kind": 1, "slot": 0, "label": "CPU Package", "unit": "\u00b0C", "values": [%1]}]},
  {"name": "[dell_smm-virtual-0]", "readings": [
    {"kind": 3, "slot": 0, "label": "CPU Processor Fan", "unit": "RPM", "values": [%3]}]},
  {"name": "GPU [amdgpu-pci-0300]", "readings": [
    {"kind": 1, "slot": 0, "label": "GPU Temperature", "unit": "\u00b0C", "values": [%2]}]}]}
)")
                                .arg(cpu)
                                .arg(gpu)
                                .arg(fan)
                                .toUtf8();
    // Replaced in one step, so the library never reads half a file.
    QSaveFile file(fixturePath());
    return file.open(QIODevice::WriteOnly) && file.write(text) == text.size() && file.commit();
}

void Pilot::setSetting(const QString& key, const QVariant& value)
{
    QSettings settings(settingsPath(), QSettings::IniFormat);
    settings.setValue(key, value);
}

QProcessEnvironment Pilot::environment(const QString& hidDirectory, const QString& updateServer) const
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    const QString base = root();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    env.insert(QStringLiteral("LANG"), QStringLiteral("C.UTF-8"));
    env.insert(QStringLiteral("LC_ALL"), QStringLiteral("C.UTF-8"));
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), base + QStringLiteral("/config"));
    env.insert(QStringLiteral("XDG_STATE_HOME"), base + QStringLiteral("/state"));
    env.insert(QStringLiteral("XDG_DATA_HOME"), base + QStringLiteral("/data"));
    env.insert(QStringLiteral("XDG_CACHE_HOME"), base + QStringLiteral("/cache"));
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), base + QStringLiteral("/runtime"));
    env.insert(QStringLiteral("VARNOKS_LOG_DIR"), logDir());
    env.insert(QStringLiteral("VARNOKS_SENSOR_LIBRARY"),
               e2eBinPath(QStringLiteral("libvarnoks-sensors-sim.so")));
    env.insert(QStringLiteral("VARNOKS_SENSOR_FIXTURE"), fixturePath());
    // An empty folder of its own when the test has no simulator: the
    // program must never reach for real hardware here.
    env.insert(QStringLiteral("VARNOKS_HID_BACKEND"),
               QStringLiteral("virtual:") +
                   (hidDirectory.isEmpty() ? base + QStringLiteral("/nodevices") : hidDirectory));
    // Never the real update server: a closed loopback port when the test
    // gives none.
    env.insert(QStringLiteral("VARNOKS_UPDATE_SERVER"),
               updateServer.isEmpty() ? QStringLiteral("127.0.0.1:9") : updateServer);
    return env;
}

bool Pilot::start(const QString& hidDirectory, const QString& updateServer)
{
    QDir(root()).mkpath(QStringLiteral("nodevices"));
    if (!QFileInfo::exists(fixturePath()) && !writeFixture(61.7, 45.2, 1480))
        return false;
    m_process.setProcessEnvironment(environment(hidDirectory, updateServer));
    m_process.start(e2eBinPath(QStringLiteral("varnoks-pilot")), QStringList());
    return m_process.waitForStarted(5000);
}

int Pilot::runAnother(const QString& hidDirectory, int timeoutMs)
{
    QProcess other;
    other.setProcessChannelMode(QProcess::MergedChannels);
    other.setProcessEnvironment(m_process.processEnvironment().isEmpty()
                                    ? environment(hidDirectory, QString())
                                    : m_process.processEnvironment());
    other.start(e2eBinPath(QStringLiteral("varnoks-pilot")), QStringList());
    if (!other.waitForStarted(5000))
        return -1;
    if (!other.waitForFinished(timeoutMs)) {
        other.kill();
        other.waitForFinished(3000);
        return -1;
    }
    return other.exitStatus() == QProcess::NormalExit ? other.exitCode() : -1;
}

qint64 Pilot::terminate(int timeoutMs)
{
    if (m_process.state() == QProcess::NotRunning)
        return -1;
    const qint64 started = e2eNow();
    sendSignal(m_process, SIGTERM);
    if (!m_process.waitForFinished(timeoutMs)) {
        m_process.kill();
        m_process.waitForFinished(3000);
        return -1;
    }
    return e2eNow() - started;
}

QString Pilot::output()
{
    m_output.append(m_process.readAll());
    return QString::fromUtf8(m_output);
}

QString Pilot::readLog() const
{
    QFile file(logDir() + QStringLiteral("/Log_") +
               QDate::currentDate().toString(QStringLiteral("yyyy-MM-dd")) + QStringLiteral(".txt"));
    if (!file.open(QIODevice::ReadOnly))
        return QString();
    return QString::fromUtf8(file.readAll());
}
