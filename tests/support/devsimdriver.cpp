#include "devsimdriver.h"

#include "testenv.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTest>

DevsimDriver::DevsimDriver()
{
    connect(&m_process, &QProcess::readyReadStandardOutput, this, &DevsimDriver::collect);
    connect(&m_process, &QProcess::readyReadStandardError, this,
            [this] { m_stderr += m_process.readAllStandardError(); });
}

DevsimDriver::~DevsimDriver()
{
    stop(3000);
    if (m_process.state() != QProcess::NotRunning) {
        m_process.kill();
        m_process.waitForFinished(2000);
    }
    if (m_exported) {
        if (m_hadBackend)
            qputenv("VARNOKS_HID_BACKEND", m_savedBackend);
        else
            qunsetenv("VARNOKS_HID_BACKEND");
    }
}

bool DevsimDriver::start(const QStringList& devices, const QStringList& extraArguments, bool discardOutput)
{
    if (!m_dir.isValid())
        return false;
    if (discardOutput)
        m_process.setStandardOutputFile(QProcess::nullDevice());
    QStringList arguments{QStringLiteral("--dir"), directory()};
    arguments += extraArguments;
    arguments += devices;
    m_process.start(TestEnv::binPath(QStringLiteral("varnoks-devsim")), arguments);
    if (!m_process.waitForStarted(5000))
        return false;
    return waitFor([&] {
               if (m_process.state() == QProcess::NotRunning)
                   return true;
               for (const QString& spec : devices) {
                   if (!QFileInfo::exists(devicePath(spec.section(QLatin1Char(','), 0, 0))))
                       return false;
               }
               return true;
           }) &&
           m_process.state() == QProcess::Running;
}

bool DevsimDriver::stop(int timeoutMs)
{
    if (m_process.state() == QProcess::NotRunning)
        return m_process.exitStatus() == QProcess::NormalExit && m_process.exitCode() == 0;
    m_process.closeWriteChannel();
    if (!m_process.waitForFinished(timeoutMs))
        return false;
    collect();
    return m_process.exitStatus() == QProcess::NormalExit && m_process.exitCode() == 0;
}

bool DevsimDriver::terminate(int timeoutMs)
{
    if (m_process.state() == QProcess::NotRunning)
        return false;
    m_process.terminate();
    if (!m_process.waitForFinished(timeoutMs))
        return false;
    collect();
    return m_process.exitStatus() == QProcess::NormalExit && m_process.exitCode() == 0;
}

void DevsimDriver::useAsBackend()
{
    if (!m_exported) {
        m_hadBackend = qEnvironmentVariableIsSet("VARNOKS_HID_BACKEND");
        m_savedBackend = qgetenv("VARNOKS_HID_BACKEND");
        m_exported = true;
    }
    qputenv("VARNOKS_HID_BACKEND", backendSpec().toLocal8Bit());
}

void DevsimDriver::command(const QString& line)
{
    m_process.write(line.toUtf8() + '\n');
    m_process.waitForBytesWritten(1000);
}

bool DevsimDriver::unplug(const QString& name)
{
    command(QStringLiteral("unplug ") + name);
    return waitFor([&] { return !QFileInfo::exists(devicePath(name)); });
}

bool DevsimDriver::plug(const QString& name)
{
    command(QStringLiteral("plug ") + name);
    return waitFor([&] { return QFileInfo::exists(devicePath(name)); });
}

bool DevsimDriver::available()
{
    return QFileInfo(TestEnv::binPath(QStringLiteral("varnoks-devsim"))).isExecutable();
}

qint64 DevsimDriver::now()
{
    static QElapsedTimer clock;
    if (!clock.isValid())
        clock.start();
    return clock.elapsed();
}

void DevsimDriver::collect()
{
    const qint64 at = now();
    m_partial += m_process.readAllStandardOutput();
    int newline;
    while ((newline = m_partial.indexOf('\n')) >= 0) {
        m_lines.append(QString::fromUtf8(m_partial.left(newline)));
        m_lineTimes.append(at);
        m_partial.remove(0, newline + 1);
    }
}

QStringList DevsimDriver::lines()
{
    collect();
    return m_lines;
}

QString DevsimDriver::errorOutput()
{
    m_stderr += m_process.readAllStandardError();
    return QString::fromUtf8(m_stderr);
}

void DevsimDriver::clearLines()
{
    collect();
    m_lines.clear();
    m_lineTimes.clear();
}

QList<DevsimDriver::Report> DevsimDriver::reports(const QString& name)
{
    return reportsSince(0, name);
}

QList<DevsimDriver::Report> DevsimDriver::reportsSince(qint64 sinceMs, const QString& name)
{
    collect();
    QList<Report> result;
    for (int i = 0; i < m_lines.size(); ++i) {
        Report report;
        if (m_lineTimes.at(i) >= sinceMs && parseReport(m_lines.at(i), &report) &&
            (name.isEmpty() || report.device == name)) {
            report.atMs = m_lineTimes.at(i);
            result.append(report);
        }
    }
    return result;
}

int DevsimDriver::identifyCount(const QString& name)
{
    return lines().count(name + QStringLiteral(" identify"));
}

qint64 DevsimDriver::identifiedAt(const QString& name, qint64 sinceMs)
{
    collect();
    const QString line = name + QStringLiteral(" identify");
    for (int i = 0; i < m_lines.size(); ++i) {
        if (m_lineTimes.at(i) >= sinceMs && m_lines.at(i) == line)
            return m_lineTimes.at(i);
    }
    return -1;
}

bool DevsimDriver::waitFor(const std::function<bool()>& condition, int timeoutMs)
{
    QDeadlineTimer deadline(timeoutMs);
    for (;;) {
        collect();
        if (condition())
            return true;
        if (deadline.hasExpired())
            return false;
        QTest::qWait(10);
    }
}

bool DevsimDriver::waitForReports(const QString& name, int count, int timeoutMs)
{
    return waitFor([&] { return reports(name).size() >= count; }, timeoutMs);
}

bool DevsimDriver::parseReport(const QString& line, Report* report)
{
    static const QRegularExpression pattern(
        QStringLiteral("^(\\S+) report item=(\\d+) unit=([CF]) alarm=(\\d+) cpu=(\\d+) cpu_usage=(\\d+) "
                       "gpu=(\\d+) gpu_usage=(\\d+) "
                       "fan=(\\d+) raw=([0-9a-f]{128})$"));
    const QRegularExpressionMatch match = pattern.match(line);
    if (!match.hasMatch())
        return false;
    report->device = match.captured(1);
    report->item = match.captured(2).toInt();
    report->fahrenheit = match.captured(3) == QLatin1String("F");
    report->alarm = match.captured(4).toInt();
    report->cpu = match.captured(5).toInt();
    report->cpuUsage = match.captured(6).toInt();
    report->gpu = match.captured(7).toInt();
    report->gpuUsage = match.captured(8).toInt();
    report->fan = match.captured(9).toInt();
    report->raw = QByteArray::fromHex(match.captured(10).toLatin1());
    return true;
}
