#pragma once

#include "qurlinfo.h"

#include <QByteArray>
#include <QHostAddress>
#include <QObject>
#include <QPointer>
#include <QTcpServer>

class QIODevice;
class QSocketNotifier;
class QTcpSocket;

namespace varnoks {

class QFtpPI;

// The data transfer process: owns the data connection, passive (we connect)
// or active (the server connects to our listener), and turns what arrives
// into listing entries or download bytes according to the running command.
class QFtpDTP : public QObject
{
    Q_OBJECT

public:
    enum ConnectState
    {
        CsConnected,
        CsClosed,
        CsConnectionRefused
    };

    explicit QFtpDTP(QFtpPI* pi, QObject* parent = nullptr);
    ~QFtpDTP() override;

    // Upload source (one of them) and download sink.
    void setData(const QByteArray& data);
    void setDevice(QIODevice* device);
    // The size the server announced with SIZE; until then the total is
    // unknown.
    void setBytesTotal(qint64 bytes);
    bool isSizeKnown() const { return m_bSizeKnown; }
    // The running command sends data (STOR) rather than reading it.
    void setUpload(bool upload) { m_bUpload = upload; }
    qint64 bytesTotal() const { return m_nBytesTotal; }
    qint64 bytesDone() const { return m_nBytesDone; }
    // Drops the transfer's source, sink, buffers, counters and error.
    void clearTransfer();

    // Passive mode.
    void connectToHost(const QHostAddress& host, quint16 port);
    // Active mode: listens on the address and returns the port, or -1.
    int setupListener(const QHostAddress& address);
    // Starts sending the upload once the data connection is there.
    void startUpload();

    // True when there is no data connection or it is closed.
    bool isUnconnected() const;
    // Drops the data connection without telling the interpreter.
    void abortConnection();

    bool hasError() const { return !m_strError.isEmpty(); }
    QString errorMessage() const { return m_strError; }
    void clearError() { m_strError.clear(); }

    qint64 bytesAvailable() const { return m_readBuffer.size(); }
    qint64 read(char* data, qint64 maxlen);
    QByteArray readAll();

signals:
    void listInfo(const QUrlInfo&);
    void readyRead();
    void dataTransferProgress(qint64, qint64);
    void connectState(int state);
    // Bytes moved on the data connection; keeps the silence timer quiet.
    void activity();

private slots:
    void socketConnected();
    void socketReadyRead();
    void socketError();
    void socketStateChanged();
    void socketBytesWritten(qint64 bytes);
    void listenerNewConnection();

private:
    void attachSocket(QTcpSocket* socket);
    // For a listing or a download: takes the connected socket's descriptor
    // over from Qt, which reads a reset connection as a normal end of
    // stream; a cut-off file must not pass for a whole one.
    bool takeOverForReading();
    void readDescriptor();
    void descriptorClosed(const QString& error);
    void deliver(const QByteArray& bytes);
    void releaseSocket();
    // Lets go of the socket object alone (not of a descriptor taken over):
    // no more signals from it, and it goes when the event loop gets to it.
    void letSocketGo();
    void dropConnection();
    void readAvailable();
    void handleListingBytes(const QByteArray& bytes, bool final);
    void handleDownloadBytes(const QByteArray& bytes);
    void writeUploadChunk();
    void setError(const QString& text);

    QFtpPI* m_pPI;
    QTcpSocket* m_pSocket = nullptr;
    // The data connection of a listing or a download, read by us.
    int m_nFd = -1;
    QByteArray m_early; // what Qt had read before we took over
    QSocketNotifier* m_pReadNotifier = nullptr;
    QTcpServer m_listener;
    bool m_bConnected = false;

    QByteArray m_uploadData;
    QPointer<QIODevice> m_pDevice;
    bool m_bUploadFromDevice = false;
    bool m_bUploadPending = false;
    bool m_bUploadDone = false;
    bool m_bSizeKnown = false;
    bool m_bUpload = false;
    qint64 m_nBytesTotal = 0;
    qint64 m_nBytesDone = 0;
    qint64 m_nUploadOffset = 0;

    QByteArray m_lineBuffer;
    QByteArray m_readBuffer;
    QString m_strError;
};

} // namespace varnoks
