#pragma once

#include "boxanswerer.h"

#include <QList>
#include <QObject>
#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

// One update server on loopback, run by update_server.py: a pyftpdlib
// server for a folder (optionally throttled) or a hostile one that answers
// the passive-mode request with a given reply.
class UpdateServerProcess
{
public:
    UpdateServerProcess() = default;
    ~UpdateServerProcess();
    UpdateServerProcess(const UpdateServerProcess&) = delete;
    UpdateServerProcess& operator=(const UpdateServerProcess&) = delete;

    bool startFolder(const QString& root, int throttleBytesPerSecond = 0);
    bool startHostile(const QString& host, const QString& reply);
    void stop();

    quint16 port() const { return m_port; }
    // VARNOKS_UPDATE_SERVER value for this server.
    QString address() const;
    // Everything the server printed after its port line.
    QString output();

    static bool available();

private:
    bool start(const QStringList& arguments);

    QProcess m_process;
    QString m_host = QStringLiteral("127.0.0.1");
    quint16 m_port = 0;
    QString m_output;
};

// proftpd (Debian's proftpd-core) on a free loopback port with a
// configuration file of its own: one user from a user file of its own, whose
// home is the served folder and becomes its root (DefaultRoot), no lookups
// of any kind. Started as root it serves as nobody; started as another user
// it runs in a user namespace of its own, where it may change root.
class ProftpdProcess
{
public:
    ProftpdProcess() = default;
    ~ProftpdProcess();
    ProftpdProcess(const ProftpdProcess&) = delete;
    ProftpdProcess& operator=(const ProftpdProcess&) = delete;

    // listStyle: "Unix" or "Windows". workDir holds the configuration, the
    // user file and the logs; root and its parents must stay traversable.
    bool start(const QString& root, const QString& workDir, const QString& user, const QString& password,
               const QString& listStyle);
    void stop();

    // VARNOKS_UPDATE_SERVER value for this server.
    QString address() const { return QStringLiteral("127.0.0.1:%1").arg(m_port); }
    // Why it did not start, with the end of its log.
    QString errorString() const { return m_strError; }

    // Empty when proftpd is not installed.
    static QString program();

private:
    bool fail(const QString& why);

    QProcess m_process;
    quint16 m_port = 0;
    QString m_strLog;
    QString m_strError;
};

// Creates the folders and files of an update directory under root; a path
// ending in '/' is a folder, anything else a file with the given content.
bool makeTree(const QString& root, const QList<QPair<QString, QByteArray>>& entries);

// A shell script that stands in for ping, answering as a reachable host
// does (reachable) or as an unreachable one; written into dir. Every run
// touches "<returned path>.ran".
QString writeFakePing(const QString& dir, bool reachable);

// A minisign key pair without password, made at test time by the real
// minisign tool (Debian package minisign), which also signs.
class MinisignKey
{
public:
    // Empty when minisign is not installed.
    static QString program();

    // Makes dir/name.pub and dir/name.key; the public key alone goes into
    // dir/name-trusted/ so that a test can trust it by folder.
    bool generate(const QString& dir, const QString& name);
    // Signature file text for the content ("ED", or legacy "Ed").
    QByteArray sign(const QByteArray& content, bool legacy = false) const;

    QString publicKeyPath() const { return m_strPublic; }
    QString trustedDir() const { return m_strTrustedDir; }
    // The id minisign prints, from the public key's comment.
    QString keyId() const { return m_strKeyId; }

private:
    QString m_strDir;
    QString m_strPublic;
    QString m_strSecret;
    QString m_strTrustedDir;
    QString m_strKeyId;
};

// A desktop handler for Debian packages in private XDG folders under root,
// found by xdg-mime and started by xdg-open the way a software centre is:
// its Exec is a script that writes the path it was given into recordPath().
// Without handler, the folders exist and name none.
class PackageHandler
{
public:
    bool install(const QString& root, bool withHandler);
    // XDG data folders (the system ones too, so that nothing installed on
    // the machine answers) and system configuration folders, a display name
    // for xdg-open, no desktop detected.
    void apply(QProcessEnvironment* pEnv) const;
    QString recordPath() const { return m_strRoot + QStringLiteral("/handed-over"); }

private:
    QString m_strRoot;
};

// Minimal bytes that file(1) and so xdg-mime take for a Debian package:
// the ar archive with "debian-binary" first, then padLines of filler.
QByteArray debianPackageBytes(int padLines = 4000);
