#pragma once

#include "qurlinfo.h"

#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>

#include <memory>

class QIODevice;

namespace varnoks {

class QFtpPI;

// An event-driven FTP client (RFC 959, with EPSV/EPRT of RFC 2428 on IPv6).
// Operations queue commands and return their ids; the commands run one after
// the other from the event loop and report through the signals. A failing
// command drops every command queued behind it.
//
// The class lives in our namespace: Qt's network library carries private
// classes of the same names, and two definitions at global scope would collide.
class QFtp : public QObject
{
    Q_OBJECT

public:
    explicit QFtp(QObject* parent = nullptr);
    ~QFtp() override;

    enum State
    {
        Unconnected,
        HostLookup,
        Connecting,
        Connected,
        LoggedIn,
        Closing
    };
    Q_ENUM(State)

    enum Error
    {
        NoError,
        UnknownError,
        HostNotFound,
        ConnectionRefused,
        NotConnected
    };
    Q_ENUM(Error)

    enum Command
    {
        None,
        SetTransferMode,
        SetProxy,
        ConnectToHost,
        Login,
        Close,
        List,
        Cd,
        Get,
        Put,
        Remove,
        Mkdir,
        Rmdir,
        Rename,
        RawCommand
    };
    Q_ENUM(Command)

    enum TransferMode
    {
        Active,
        Passive
    };
    enum TransferType
    {
        Binary,
        Ascii
    };

    int setProxy(const QString& host, quint16 port);
    int connectToHost(const QString& host, quint16 port = 21);
    // A null user logs in as "anonymous", a null password is "anonymous@".
    int login(const QString& user = QString(), const QString& password = QString());
    int close();
    int setTransferMode(TransferMode mode);
    int list(const QString& dir = QString());
    int cd(const QString& dir);
    // Downloads into `dev` when given; otherwise the data is announced by
    // readyRead() and taken with read()/readAll().
    int get(const QString& file, QIODevice* dev = nullptr, TransferType type = Binary);
    int put(const QByteArray& data, const QString& file, TransferType type = Binary);
    int put(QIODevice* dev, const QString& file, TransferType type = Binary);
    int remove(const QString& file);
    int mkdir(const QString& dir);
    int rmdir(const QString& dir);
    int rename(const QString& oldname, const QString& newname);
    int rawCommand(const QString& command);

    qint64 bytesAvailable() const;
    qint64 read(char* data, qint64 maxlen);
    QByteArray readAll();

    int currentId() const;
    QIODevice* currentDevice() const;
    Command currentCommand() const;
    // True when commands wait behind the current one.
    bool hasPendingCommands() const;
    // Drops every queued command except the current one.
    void clearPendingCommands();

    State state() const;
    Error error() const;
    QString errorString() const;

    // How long the server may stay silent (no control reply, no data) while
    // a command waits on it, in milliseconds; 0 waits without bound. The
    // default is 30 s. A silent server fails the command with the time-out
    // text and the connection is dropped.
    void setTransferTimeout(int msecs);
    int transferTimeout() const;

public slots:
    void abort();

signals:
    void stateChanged(int);
    void listInfo(const QUrlInfo&);
    void readyRead();
    void dataTransferProgress(qint64, qint64);
    void rawCommandReply(int, const QString&);
    void commandStarted(int);
    void commandFinished(int, bool);
    void done(bool);

private slots:
    void _q_startNextCommand();
    void _q_piFinished(const QString& text);
    void _q_piError(int errorCode, const QString& text);
    void _q_piConnectState(int state);
    void _q_piFtpReply(int code, const QString& text);

private:
    struct Command_;
    int addCommand(Command command, const QStringList& lines);
    int addCommand(std::unique_ptr<Command_> command);
    void finishCurrent(bool failed);

    QFtpPI* m_pPI = nullptr;
    QList<Command_*> m_queue;
    int m_nStartedId = 0;
    int m_nState = Unconnected;
    Error m_error = NoError;
    QString m_strError;
    bool m_bCloseWaiting = false;
    TransferMode m_transferMode = Passive;
};

} // namespace varnoks
