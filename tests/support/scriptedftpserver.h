#pragma once

#include <QByteArray>
#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#include <functional>

// A loopback FTP server that plays what a test tells it: it records every
// line the client sends and answers through a handler, optionally one byte
// per write, so replies reach the client cut at every position. It serves one
// client at a time and one passive data connection.
class ScriptedFtpServer : public QObject
{
    Q_OBJECT

public:
    // Called for each line from the client (without CR LF). Return true when
    // handled; otherwise the standard answer below is given.
    using Handler = std::function<bool(const QByteArray& line)>;

    explicit ScriptedFtpServer(const QHostAddress& address = QHostAddress::LocalHost);

    bool isListening() const { return m_control.isListening(); }
    quint16 port() const { return m_control.serverPort(); }
    QString host() const { return m_address.toString(); }

    void setHandler(Handler handler) { m_handler = std::move(handler); }
    // Greeting sent on connect (empty: none).
    void setGreeting(const QByteArray& greeting) { m_greeting = greeting; }
    // Send every later write one byte at a time.
    void setSplit(bool split) { m_split = split; }
    // Listing served by the standard LIST answer.
    void setListing(const QByteArray& listing) { m_listing = listing; }
    void setFile(const QByteArray& content) { m_file = content; }

    // Control channel.
    void send(const QByteArray& bytes);
    void closeControl();
    QList<QByteArray> received() const { return m_received; }
    bool receivedCommand(const QByteArray& verb) const;

    // Data channel: listens on the server address and returns the port. The
    // accepted connection gets `onConnect` run on it.
    quint16 openPassive();
    QByteArray pasvReply(quint16 port) const;
    // Runs when the data connection is up (now, if it is).
    void whenDataConnected(std::function<void(QTcpSocket*)> action);
    int dataConnections() const { return m_nDataConnections; }
    // Writes to the data connection, optionally closing it afterwards.
    void sendData(const QByteArray& bytes, bool close);
    void closeData();
    // Ends the data connection with a reset (RST) instead of a normal close.
    void resetData();
    // Sends `reply` on the control channel once the data connection closes.
    void sendWhenDataCloses(const QByteArray& reply);
    QByteArray dataReceived() const { return m_dataReceived; }

    // The standard answers: login, TYPE, PASV/EPSV, LIST, RETR, SIZE, QUIT.
    void standardAnswer(const QByteArray& line);

private slots:
    void onNewConnection();
    void onReadyRead();
    void onDataConnection();
    void pump();

private:
    struct Chunk
    {
        QPointer<QTcpSocket> socket;
        QByteArray bytes;
        bool closeAfter = false;
        bool reset = false;
    };
    void queueWrite(QTcpSocket* socket, const QByteArray& bytes, bool closeAfter);

    QHostAddress m_address;
    QTcpServer m_control;
    QTcpServer m_dataServer;
    QPointer<QTcpSocket> m_client;
    QPointer<QTcpSocket> m_data;
    QByteArray m_buffer;
    QByteArray m_greeting = "220 scripted server ready\r\n";
    QByteArray m_listing;
    QByteArray m_file;
    QByteArray m_dataReceived;
    QList<QByteArray> m_received;
    Handler m_handler;
    bool m_split = false;
    int m_nDataConnections = 0;
    QList<std::function<void(QTcpSocket*)>> m_dataActions;
    QList<Chunk> m_queue;
    QTimer m_pump;
};
