#include "updatetestsupport.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>

UpdateServerProcess::~UpdateServerProcess()
{
    stop();
}

bool UpdateServerProcess::available()
{
    QProcess probe;
    probe.start(QStringLiteral("/usr/bin/python3"),
                {QStringLiteral("-c"), QStringLiteral("import pyftpdlib")});
    return probe.waitForFinished(10000) && probe.exitStatus() == QProcess::NormalExit &&
           probe.exitCode() == 0;
}

bool UpdateServerProcess::startFolder(const QString& root, int throttleBytesPerSecond)
{
    return start({QStringLiteral("--root"), root, QStringLiteral("--throttle"),
                  QString::number(throttleBytesPerSecond)});
}

bool UpdateServerProcess::startHostile(const QString& host, const QString& reply)
{
    m_host = host;
    return start({QStringLiteral("--host"), host, QStringLiteral("--reply"), reply});
}

bool UpdateServerProcess::start(const QStringList& arguments)
{
    const QString script = QDir(qEnvironmentVariable("VARNOKS_SOURCE_DIR"))
                               .filePath(QStringLiteral("tests/integration/update/update_server.py"));
    m_process.setProcessChannelMode(QProcess::SeparateChannels);
    m_process.start(QStringLiteral("/usr/bin/python3"), QStringList{script} + arguments);
    if (!m_process.waitForStarted(10000))
        return false;
    QElapsedTimer timer;
    timer.start();
    QByteArray seen;
    while (timer.elapsed() < 15000) {
        if (!m_process.canReadLine() && !m_process.waitForReadyRead(500)) {
            if (m_process.state() == QProcess::NotRunning)
                return false;
            continue;
        }
        seen = m_process.readLine().trimmed();
        if (seen.startsWith("PORT ")) {
            m_port = static_cast<quint16>(seen.mid(5).toUInt());
            return m_port != 0;
        }
    }
    return false;
}

void UpdateServerProcess::stop()
{
    if (m_process.state() == QProcess::NotRunning)
        return;
    m_process.terminate();
    if (!m_process.waitForFinished(5000)) {
        m_process.kill();
        m_process.waitForFinished(5000);
    }
}

QString UpdateServerProcess::address() const
{
    return (m_host.contains(QLatin1Char(':')) ? QStringLiteral("[%1]:%2") : QStringLiteral("%1:%2"))
        .arg(m_host)
        .arg(m_port);
}

QString UpdateServerProcess::output()
{
    m_output += QString::fromUtf8(m_process.readAllStandardOutput());
    return m_output;
}

bool makeTree(const QString& root, const QList<QPair<QString, QByteArray>>& entries)
{
    for (const auto& entry : entries) {
        const QString path = root + QLatin1Char('/') + entry.first;
        if (entry.first.endsWith(QLatin1Char('/'))) {
            if (!QDir().mkpath(path))
                return false;
            continue;
        }
        QDir().mkpath(QFileInfo(path).absolutePath());
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly) || file.write(entry.second) != entry.second.size())
            return false;
    }
    return true;
}

QString writeFakePing(const QString& dir, bool reachable)
{
    const QString path = dir + (reachable ? QStringLiteral("/ping-up") : QStringLiteral("/ping-down"));
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return QString();
    // Each run leaves <path>.ran behind, so a test can tell that it ran.
    file.write("#!/bin/sh\ntouch \"$0.ran\"\n");
    if (reachable)
        file.write("echo \"64 bytes from $6: icmp_seq=1 ttl=64 time=0.05 ms\"\n");
    else
        file.write("echo \"ping: $6: Name or service not known\" >&2\nexit 2\n");
    file.close();
    file.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    return path;
}
