#include "ftpserver.h"

#include <QElapsedTimer>
#include <QFileInfo>

namespace {
// Debian's interpreter: the one on PATH may be another without pyftpdlib.
const char* const kPython = "/usr/bin/python3";
} // namespace

FtpServer::~FtpServer()
{
    stop();
}

QString FtpServer::scriptPath()
{
    return QStringLiteral(VARNOKS_FTPSERVER_SCRIPT);
}

bool FtpServer::available()
{
    if (!QFileInfo::exists(QString::fromLatin1(kPython)))
        return false;
    QProcess probe;
    probe.start(QString::fromLatin1(kPython), {QStringLiteral("-c"), QStringLiteral("import pyftpdlib")});
    return probe.waitForFinished(10000) && probe.exitStatus() == QProcess::NormalExit &&
           probe.exitCode() == 0;
}

bool FtpServer::start(const Options& options, int timeoutMs)
{
    stop();
    m_options = options;
    m_strError.clear();
    QStringList args{scriptPath(), QStringLiteral("--host"), options.host,       QStringLiteral("--root"),
                     options.root, QStringLiteral("--perm"), options.permissions};
    if (!options.user.isEmpty())
        args << QStringLiteral("--user") << options.user << QStringLiteral("--password") << options.password;
    if (options.anonymous)
        args << QStringLiteral("--anonymous");
    m_process.setProcessChannelMode(QProcess::SeparateChannels);
    m_process.start(QString::fromLatin1(kPython), args);
    if (!m_process.waitForStarted(timeoutMs)) {
        m_strError = m_process.errorString();
        return false;
    }
    QElapsedTimer timer;
    timer.start();
    QByteArray output;
    while (timer.elapsed() < timeoutMs) {
        if (m_process.state() != QProcess::Running) {
            m_strError =
                QStringLiteral("server exited: ") + QString::fromLocal8Bit(m_process.readAllStandardError());
            return false;
        }
        if (m_process.canReadLine()) {
            output = m_process.readLine().trimmed();
            if (output.startsWith("PORT ")) {
                bool ok = false;
                const uint port = output.mid(5).toUInt(&ok);
                if (ok && port > 0 && port < 65536) {
                    m_port = quint16(port);
                    return true;
                }
            }
            m_strError = QStringLiteral("unexpected output: ") + QString::fromLocal8Bit(output);
            stop();
            return false;
        }
        m_process.waitForReadyRead(100);
    }
    m_strError = QStringLiteral("server did not start listening in time");
    stop();
    return false;
}

void FtpServer::stop()
{
    if (m_process.state() != QProcess::NotRunning) {
        m_process.terminate();
        if (!m_process.waitForFinished(5000)) {
            m_process.kill();
            m_process.waitForFinished(5000);
        }
    }
    m_port = 0;
}

bool FtpServer::isRunning() const
{
    return m_process.state() == QProcess::Running && m_port != 0;
}
