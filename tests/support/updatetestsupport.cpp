#include "updatetestsupport.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>
#include <QTimer>

#include <grp.h>
#include <pwd.h>
#include <unistd.h>

namespace {

void stopServer(QProcess& process)
{
    if (process.state() == QProcess::NotRunning)
        return;
    process.terminate();
    if (!process.waitForFinished(5000)) {
        process.kill();
        process.waitForFinished(5000);
    }
}

} // namespace

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
    stopServer(m_process);
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

ProftpdProcess::~ProftpdProcess()
{
    stop();
}

QString ProftpdProcess::program()
{
    const QString path = QStringLiteral("/usr/sbin/proftpd");
    return QFileInfo(path).isExecutable() ? path : QString();
}

bool ProftpdProcess::fail(const QString& why)
{
    QFile log(m_strLog);
    QString tail;
    if (log.open(QIODevice::ReadOnly))
        tail = QString::fromUtf8(log.readAll()).right(2000);
    m_strError = why + QStringLiteral("\n") + tail + QString::fromUtf8(m_process.readAll()).right(2000);
    stop();
    return false;
}

bool ProftpdProcess::start(const QString& root, const QString& workDir, const QString& user,
                           const QString& password, const QString& listStyle)
{
    const bool asRoot = geteuid() == 0;
    // As root the sessions run as nobody; without root the user namespace's
    // root is our own account.
    uid_t uid = 0;
    gid_t gid = 0;
    QString runUser = QStringLiteral("root");
    QString runGroup = QStringLiteral("root");
    if (asRoot) {
        const passwd* nobody = getpwnam("nobody");
        if (!nobody)
            return fail(QStringLiteral("no user nobody"));
        const group* nogroup = getgrgid(nobody->pw_gid);
        uid = nobody->pw_uid;
        gid = nobody->pw_gid;
        runUser = QStringLiteral("nobody");
        runGroup = nogroup ? QString::fromLocal8Bit(nogroup->gr_name) : QString::number(gid);
    }
    QStringList command{program(), QStringLiteral("-n"), QStringLiteral("-c"),
                        workDir + QStringLiteral("/proftpd.conf")};
    if (!asRoot) {
        const QString unshare = QStandardPaths::findExecutable(QStringLiteral("unshare"));
        if (unshare.isEmpty())
            return fail(QStringLiteral("unshare is missing"));
        command.prepend(QStringLiteral("-Ur"));
        command.prepend(unshare);
    }

    // The password goes through crypt(3) as the user file wants it.
    QProcess crypt;
    crypt.start(QStringLiteral("/usr/bin/python3"),
                {QStringLiteral("-W"), QStringLiteral("ignore"), QStringLiteral("-c"),
                 QStringLiteral("import crypt,sys; print(crypt.crypt(sys.argv[1], '$6$varnokstest$'))"),
                 password});
    if (!crypt.waitForFinished(10000) || crypt.exitCode() != 0)
        return fail(QStringLiteral("cannot hash the password"));
    const QByteArray hash = crypt.readAllStandardOutput().trimmed();

    QTcpServer probe;
    if (!probe.listen(QHostAddress::LocalHost))
        return fail(QStringLiteral("no free port"));
    m_port = probe.serverPort();
    probe.close();

    m_strLog = workDir + QStringLiteral("/proftpd.log");
    const QString passwdPath = workDir + QStringLiteral("/passwd");
    const QString groupPath = workDir + QStringLiteral("/group");
    QFile passwdFile(passwdPath);
    QFile groupFile(groupPath);
    QFile conf(workDir + QStringLiteral("/proftpd.conf"));
    if (!passwdFile.open(QIODevice::WriteOnly) || !groupFile.open(QIODevice::WriteOnly) ||
        !conf.open(QIODevice::WriteOnly))
        return fail(QStringLiteral("cannot write into %1").arg(workDir));
    // proftpd refuses user files that others may read.
    passwdFile.setPermissions(QFile::ReadOwner | QFile::WriteOwner);
    groupFile.setPermissions(QFile::ReadOwner | QFile::WriteOwner);
    passwdFile.write(user.toUtf8() + ':' + hash + ':' + QByteArray::number(uid) + ':' +
                     QByteArray::number(gid) + "::" + QFile::encodeName(root) + ":/bin/false\n");
    groupFile.write(runGroup.toUtf8() + ":x:" + QByteArray::number(gid) + ":\n");
    const QString text = QStringLiteral("ServerType standalone\n"
                                        "ServerName \"varnoks test\"\n"
                                        "DefaultServer on\n"
                                        "Port %1\n"
                                        "DefaultAddress 127.0.0.1\n"
                                        "SocketBindTight on\n"
                                        "UseIPv6 off\n"
                                        "User %2\n"
                                        "Group %3\n"
                                        "PidFile %4/proftpd.pid\n"
                                        "ScoreboardFile %4/proftpd.scoreboard\n"
                                        "DelayTable none\n"
                                        "WtmpLog off\n"
                                        "SystemLog %5\n"
                                        "TransferLog none\n"
                                        "AuthOrder mod_auth_file.c\n"
                                        "AuthUserFile %6\n"
                                        "AuthGroupFile %7\n"
                                        "RequireValidShell off\n"
                                        "RootLogin %8\n"
                                        "DefaultRoot ~\n"
                                        "UseReverseDNS off\n"
                                        "MaxInstances 8\n"
                                        "ListStyle %9\n"
                                        "<IfModule mod_ident.c>\nIdentLookups off\n</IfModule>\n"
                                        "<IfModule mod_ctrls.c>\nControlsEngine off\n</IfModule>\n")
                             .arg(m_port)
                             .arg(runUser, runGroup, workDir, m_strLog, passwdPath, groupPath,
                                  asRoot ? QStringLiteral("off") : QStringLiteral("on"), listStyle);
    conf.write(text.toUtf8());
    passwdFile.close();
    groupFile.close();
    conf.close();

    m_process.setProcessChannelMode(QProcess::MergedChannels);
    m_process.start(command.takeFirst(), command);
    if (!m_process.waitForStarted(10000))
        return fail(QStringLiteral("cannot start %1").arg(program()));
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < 10000) {
        if (m_process.state() == QProcess::NotRunning)
            return fail(QStringLiteral("proftpd ended at start"));
        QTcpSocket socket;
        socket.connectToHost(QHostAddress::LocalHost, m_port);
        if (socket.waitForConnected(500) && socket.waitForReadyRead(2000) &&
            socket.readAll().startsWith("220"))
            return true;
        QThread::msleep(100);
    }
    return fail(QStringLiteral("proftpd does not answer on port %1").arg(m_port));
}

void ProftpdProcess::stop()
{
    stopServer(m_process);
}

QString MinisignKey::program()
{
    return QStandardPaths::findExecutable(QStringLiteral("minisign"));
}

bool MinisignKey::generate(const QString& dir, const QString& name)
{
    m_strDir = dir;
    m_strPublic = dir + QLatin1Char('/') + name + QStringLiteral(".pub");
    m_strSecret = dir + QLatin1Char('/') + name + QStringLiteral(".key");
    m_strTrustedDir = dir + QLatin1Char('/') + name + QStringLiteral("-trusted");
    QProcess process;
    process.setStandardInputFile(QProcess::nullDevice());
    process.start(program(), {QStringLiteral("-G"), QStringLiteral("-W"), QStringLiteral("-p"), m_strPublic,
                              QStringLiteral("-s"), m_strSecret});
    if (!process.waitForFinished(20000) || process.exitCode() != 0)
        return false;
    QFile pub(m_strPublic);
    if (!pub.open(QIODevice::ReadOnly))
        return false;
    const QByteArray comment = pub.readLine().trimmed();
    m_strKeyId = QString::fromLatin1(comment.mid(comment.lastIndexOf(' ') + 1));
    return QDir().mkpath(m_strTrustedDir) &&
           QFile::copy(m_strPublic, m_strTrustedDir + QLatin1Char('/') + name + QStringLiteral(".pub"));
}

QByteArray MinisignKey::sign(const QByteArray& content, bool legacy) const
{
    const QString file = m_strDir + QStringLiteral("/to-sign");
    const QString signature = file + QStringLiteral(".minisig");
    QFile::remove(signature);
    QFile out(file);
    if (!out.open(QIODevice::WriteOnly) || out.write(content) != content.size())
        return QByteArray();
    out.close();
    QStringList arguments{QStringLiteral("-S"), QStringLiteral("-s"), m_strSecret, QStringLiteral("-m"),
                          file};
    if (legacy)
        arguments << QStringLiteral("-l");
    QProcess process;
    process.setStandardInputFile(QProcess::nullDevice());
    process.start(program(), arguments);
    if (!process.waitForFinished(20000) || process.exitCode() != 0)
        return QByteArray();
    QFile in(signature);
    return in.open(QIODevice::ReadOnly) ? in.readAll() : QByteArray();
}

bool PackageHandler::install(const QString& root, bool withHandler)
{
    m_strRoot = root;
    const QString applications = root + QStringLiteral("/data/applications");
    if (!QDir().mkpath(applications) || !QDir().mkpath(root + QStringLiteral("/system")))
        return false;
    if (!withHandler)
        return true;
    const QString script = root + QStringLiteral("/installer.sh");
    QFile file(script);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    file.write("#!/bin/sh\nprintf '%s\\n' \"$@\" > \"" + QFile::encodeName(recordPath()) + ".tmp\"\n" +
               "mv \"" + QFile::encodeName(recordPath()) + ".tmp\" \"" + QFile::encodeName(recordPath()) +
               "\"\n");
    file.close();
    file.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    QFile desktop(applications + QStringLiteral("/varnoks-test-installer.desktop"));
    if (!desktop.open(QIODevice::WriteOnly))
        return false;
    desktop.write(
        "[Desktop Entry]\nType=Application\nName=Test package installer\nExec=" + QFile::encodeName(script) +
        " %f\nMimeType=application/vnd.debian.binary-package;\nNoDisplay=true\n");
    // The user's choice, where xdg-mime also looks for it beside the
    // user's applications (XDG_CONFIG_HOME stays the program's own).
    QFile list(applications + QStringLiteral("/mimeapps.list"));
    if (!list.open(QIODevice::WriteOnly))
        return false;
    list.write(
        "[Default Applications]\napplication/vnd.debian.binary-package=varnoks-test-installer.desktop\n");
    return true;
}

void PackageHandler::apply(QProcessEnvironment* pEnv) const
{
    pEnv->insert(QStringLiteral("XDG_DATA_HOME"), m_strRoot + QStringLiteral("/data"));
    pEnv->insert(QStringLiteral("XDG_DATA_DIRS"), m_strRoot + QStringLiteral("/system"));
    pEnv->insert(QStringLiteral("XDG_CONFIG_DIRS"), m_strRoot + QStringLiteral("/system"));
    // xdg-open uses desktop handlers only where it sees a display; with no
    // desktop detected it works through xdg-mime and the entry's Exec.
    pEnv->insert(QStringLiteral("DISPLAY"), QStringLiteral(":99"));
    pEnv->remove(QStringLiteral("XDG_CURRENT_DESKTOP"));
    pEnv->remove(QStringLiteral("DESKTOP_SESSION"));
    pEnv->remove(QStringLiteral("BROWSER"));
}

QByteArray debianPackageBytes(int padLines)
{
    QByteArray bytes = "!<arch>\ndebian-binary   1700000000  0     0     100644  4         `\n2.0\n";
    for (int i = 0; i < padLines; ++i)
        bytes += "filler line of the test package, " + QByteArray::number(i) + "\n";
    return bytes;
}
