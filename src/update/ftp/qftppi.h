#pragma once

#include "ftpreplyreader.h"

#include <QObject>
#include <QStringList>
#include <QTcpSocket>
#include <QTimer>

namespace varnoks {

class QFtpDTP;

// The protocol interpreter: owns the control connection, sends the protocol
// lines of the running command one after the other, reads the replies and
// decides from them whether the command goes on, succeeded or failed.
class QFtpPI : public QObject
{
    Q_OBJECT

public:
    explicit QFtpPI(QObject* parent = nullptr);
    ~QFtpPI() override;

    void connectToHost(const QString& host, quint16 port);
    // Starts a command's lines; false when not connected or busy.
    bool sendCommands(const QStringList& lines);
    // Drops the remaining lines of the running command; it will not report.
    void clearPendingCommands();
    void abort();
    // Ends the control connection gracefully (after QUIT).
    void closeConnection();

    bool isConnected() const;
    QString currentCommand() const { return m_strCurrentCmd; }
    QFtpDTP* dtp() const { return m_pDTP; }
    void setExtendedCommands(bool on) { m_bExtended = on; }
    void setTransferTimeout(int msecs);
    int transferTimeout() const { return m_nTimeout; }

signals:
    void connectState(int state);
    void finished(const QString& text);
    void error(int code, const QString& text);
    void rawFtpReply(int code, const QString& text);

private slots:
    void socketStateChanged(QAbstractSocket::SocketState state);
    void socketError(QAbstractSocket::SocketError error);
    void readyRead();
    void dtpConnectState(int state);
    void noteActivity();
    void timedOut();

private:
    enum State
    {
        Begin,
        Idle,
        Waiting,
        Success,
        Failure
    };
    enum AbortState
    {
        AbortNone,
        AbortStarted,
        WaitForAbortToFinish
    };

    class SocketCall;

    void processIncoming();
    // Acts on one complete reply, in the steps below.
    void handleReply(int code, const QString& text);
    bool holdTransferReply(int code, const QString& text);
    bool refuseDownloadReply(int code, const QString& text);
    bool swallowAbortReply();
    bool advanceState(int code, const QString& text);
    void handleGreeting(int code, const QString& text);
    bool handleSpecialReply(int code, const QString& text);
    void stepSucceeded();
    void stepFailed(const QString& text);
    static State stateAfter(int code);

    void startNextCommand();
    void emitConnectState(int state);
    // Drops the control and the data connection without the report a lost
    // connection brings otherwise, and tells the state change. False when a
    // receiver of that deleted this object: the caller must return at once.
    bool dropConnections();
    // Ends the running command (or connection attempt) with an error that
    // leaves no way to go on.
    void failCommand(int code, const QString& text);
    bool isBusy() const;
    // Whether the line under way starts with this command word.
    bool isRunning(const char* command) const;
    QString takeDataError();
    bool controlIsIPv6() const;
    void writeLine(const QString& line);
    void log(int level, const QString& message, const char* function) const;

    // A child, but left to the event loop when this object is deleted from
    // inside one of its signals (see SocketCall).
    QTcpSocket* m_pSocket;
    int m_nSocketCalls = 0;
    QFtpDTP* m_pDTP;
    FtpReplyReader m_reader;
    QTimer m_timer;
    int m_nTimeout = 30000;

    QString m_strHost;
    QStringList m_lines;
    QString m_strCurrentCmd;
    QString m_strLastReply;
    State m_state = Begin;
    AbortState m_abortState = AbortNone;
    int m_nConnState = 0;
    int m_nDiscardedSeen = 0;
    // Counts commands and connection attempts, so a deferred report cannot
    // hit a later one.
    int m_nSerial = 0;
    bool m_bCommandActive = false;
    bool m_bConnecting = false;
    bool m_bWasConnected = false;
    bool m_bExtended = true;
    bool m_bWaitForDtpToConnect = false;
    bool m_bWaitForDtpToClose = false;
    int m_nKeptCode = 0;
    QString m_strKeptText;
};

} // namespace varnoks
