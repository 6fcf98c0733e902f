#pragma once

#include "boxanswerer.h"

#include <QList>
#include <QObject>
#include <QProcess>
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

// Creates the folders and files of an update directory under root; a path
// ending in '/' is a folder, anything else a file with the given content.
bool makeTree(const QString& root, const QList<QPair<QString, QByteArray>>& entries);

// A shell script that stands in for ping, answering as a reachable host
// does (reachable) or as an unreachable one; written into dir. Every run
// touches "<returned path>.ran".
QString writeFakePing(const QString& dir, bool reachable);
