#pragma once

#include <QProcess>
#include <QString>
#include <QStringList>

// A real FTP server (pyftpdlib, run by Debian's /usr/bin/python3) on a free
// loopback port, serving one folder to one account. Start it, point a client
// at host():port(), and let the destructor stop it.
class FtpServer
{
public:
    struct Options
    {
        QString host = QStringLiteral("127.0.0.1"); // or "::1"
        QString root;                               // folder served
        QString user = QStringLiteral("tester");
        QString password = QStringLiteral("secret");
        bool anonymous = false;
        QString permissions = QStringLiteral("elr"); // pyftpdlib's letters
    };

    FtpServer() = default;
    ~FtpServer();
    FtpServer(const FtpServer&) = delete;
    FtpServer& operator=(const FtpServer&) = delete;

    // Starts the server and waits until it listens (at most timeoutMs).
    bool start(const Options& options, int timeoutMs = 15000);
    void stop();

    bool isRunning() const;
    QString host() const { return m_options.host; }
    quint16 port() const { return m_port; }
    QString user() const { return m_options.user; }
    QString password() const { return m_options.password; }
    QString errorString() const { return m_strError; }

    // True when pyftpdlib can be imported by /usr/bin/python3.
    static bool available();
    static QString scriptPath();

private:
    QProcess m_process;
    Options m_options;
    quint16 m_port = 0;
    QString m_strError;
};
