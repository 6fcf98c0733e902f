#include "qftpdtp.h"

#include "ftplistparser.h"
#include "ftpreplyreader.h"
#include "qftppi.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QIODevice>
#include <QSocketNotifier>
#include <QTcpSocket>

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace varnoks {

namespace {

// Upload chunk, and the most upload bytes queued in the socket at a time.
constexpr qint64 kUploadChunk = 64 * 1024;
// Bytes taken from the data connection per read, and reads per wake-up
// before the event loop gets its turn again.
constexpr int kReadChunk = 64 * 1024;
constexpr int kReadsPerWakeUp = 8;

} // namespace

QFtpDTP::QFtpDTP(QFtpPI* pi, QObject* parent) : QObject(parent), m_pPI(pi)
{
    m_listener.setObjectName(QStringLiteral("QFtpDTP active state server"));
    m_listener.setMaxPendingConnections(1);
    connect(&m_listener, &QTcpServer::newConnection, this, &QFtpDTP::listenerNewConnection);
}

QFtpDTP::~QFtpDTP()
{
    releaseSocket();
}

void QFtpDTP::setData(const QByteArray& data)
{
    m_uploadData = data;
    m_bUploadFromDevice = false;
    m_nBytesTotal = data.size();
}

void QFtpDTP::setDevice(QIODevice* device)
{
    m_pDevice = device;
    m_bUploadFromDevice = device != nullptr;
    if (device && !device->isSequential() && device->isReadable())
        m_nBytesTotal = device->size();
}

void QFtpDTP::setBytesTotal(qint64 bytes)
{
    m_nBytesTotal = bytes;
    m_bSizeKnown = true;
}

void QFtpDTP::clearTransfer()
{
    m_uploadData.clear();
    m_pDevice = nullptr;
    m_bUploadFromDevice = false;
    m_bUploadPending = false;
    m_bUploadDone = false;
    m_bSizeKnown = false;
    m_bUpload = false;
    m_nBytesTotal = 0;
    m_nBytesDone = 0;
    m_nUploadOffset = 0;
    m_lineBuffer.clear();
    m_readBuffer.clear();
    m_strError.clear();
}

void QFtpDTP::setError(const QString& text)
{
    if (m_strError.isEmpty())
        m_strError = text;
}

bool QFtpDTP::isUnconnected() const
{
    return m_nFd < 0 && (!m_pSocket || m_pSocket->state() == QAbstractSocket::UnconnectedState);
}

void QFtpDTP::attachSocket(QTcpSocket* socket)
{
    releaseSocket();
    m_pSocket = socket;
    m_bConnected = false;
    m_lineBuffer.clear();
    connect(socket, &QTcpSocket::connected, this, &QFtpDTP::socketConnected);
    connect(socket, &QTcpSocket::readyRead, this, &QFtpDTP::socketReadyRead);
    connect(socket, &QTcpSocket::errorOccurred, this, &QFtpDTP::socketError);
    connect(socket, &QTcpSocket::stateChanged, this, &QFtpDTP::socketStateChanged);
    connect(socket, &QTcpSocket::bytesWritten, this, &QFtpDTP::socketBytesWritten);
}

void QFtpDTP::releaseSocket()
{
    if (m_pReadNotifier) {
        m_pReadNotifier->setEnabled(false);
        m_pReadNotifier->deleteLater();
        m_pReadNotifier = nullptr;
    }
    if (m_nFd >= 0) {
        ::close(m_nFd);
        m_nFd = -1;
    }
    m_early.clear();
    if (m_pSocket)
        letSocketGo();
}

void QFtpDTP::letSocketGo()
{
    QTcpSocket* socket = m_pSocket;
    m_pSocket = nullptr;
    socket->disconnect(this);
    socket->abort();
    // Its signal may be under way.
    socket->deleteLater();
}

void QFtpDTP::connectToHost(const QHostAddress& host, quint16 port)
{
    m_listener.close();
    auto* socket = new QTcpSocket(this);
    socket->setObjectName(QStringLiteral("QFtpDTP Passive state socket"));
    attachSocket(socket);
    socket->connectToHost(host, port);
}

int QFtpDTP::setupListener(const QHostAddress& address)
{
    releaseSocket();
    m_listener.close();
    if (!m_listener.listen(address, 0))
        return -1;
    return m_listener.serverPort();
}

void QFtpDTP::listenerNewConnection()
{
    QTcpSocket* socket = m_listener.nextPendingConnection();
    if (!socket)
        return;
    // One data connection per command; nobody else gets in.
    m_listener.close();
    socket->setParent(this);
    socket->setObjectName(QStringLiteral("QFtpDTP Active state socket"));
    attachSocket(socket);
    m_bConnected = true;
    if (!m_bUpload && !takeOverForReading())
        return;
    QPointer<QFtpDTP> self(this);
    emit connectState(CsConnected);
    if (!self || !m_pSocket)
        return;
    if (m_bUploadPending)
        writeUploadChunk();
    if (m_pSocket == socket && socket->bytesAvailable() > 0)
        readAvailable();
    if (m_pSocket == socket && socket->state() == QAbstractSocket::UnconnectedState)
        socketStateChanged();
}

void QFtpDTP::dropConnection()
{
    // Our own decision to end the transfer: the interpreter learns of the
    // close like of any other, so a reply it keeps is acted on.
    const bool hadConnection = (m_pSocket || m_nFd >= 0) && m_bConnected;
    abortConnection();
    m_bConnected = false;
    if (hadConnection)
        emit connectState(CsClosed);
}

void QFtpDTP::abortConnection()
{
    m_listener.close();
    m_bUploadPending = false;
    releaseSocket();
}

void QFtpDTP::socketConnected()
{
    m_bConnected = true;
    if (!m_bUpload && !takeOverForReading())
        return;
    emit connectState(CsConnected);
}

bool QFtpDTP::takeOverForReading()
{
    QTcpSocket* socket = m_pSocket;
    const int fd = ::fcntl(int(socket->socketDescriptor()), F_DUPFD_CLOEXEC, 0);
    if (fd < 0) {
        setError(QStringLiteral("Cannot read the data connection: %1")
                     .arg(QString::fromLocal8Bit(strerror(errno))));
        releaseSocket();
        m_bConnected = false;
        emit connectState(CsConnectionRefused);
        return false;
    }
    // Whatever Qt read already comes first. Closing Qt's descriptor sends
    // nothing while our duplicate keeps the connection open.
    const QByteArray early = socket->readAll();
    letSocketGo();
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
    m_nFd = fd;
    m_pReadNotifier = new QSocketNotifier(fd, QSocketNotifier::Read, this);
    connect(m_pReadNotifier, &QSocketNotifier::activated, this, &QFtpDTP::readDescriptor);
    // Delivered ahead of the next read; the descriptor becomes readable
    // again at the latest when the peer closes.
    m_early = early;
    return true;
}

void QFtpDTP::readDescriptor()
{
    QPointer<QFtpDTP> self(this);
    if (!m_early.isEmpty()) {
        QByteArray early;
        early.swap(m_early);
        deliver(early);
    }
    for (int i = 0; i < kReadsPerWakeUp && self && m_nFd >= 0; ++i) {
        QByteArray bytes(kReadChunk, Qt::Uninitialized);
        const ssize_t n = ::recv(m_nFd, bytes.data(), size_t(bytes.size()), 0);
        if (n > 0) {
            bytes.resize(int(n));
            deliver(bytes);
            continue;
        }
        if (n == 0) {
            descriptorClosed(QString());
            return;
        }
        const int error = errno;
        if (error == EINTR)
            continue;
        if (error == EAGAIN || error == EWOULDBLOCK)
            return;
        // A reset (ECONNRESET) or another failure: the stream did not end,
        // it broke off.
        descriptorClosed(
            QStringLiteral("Data connection broken: %1").arg(QString::fromLocal8Bit(strerror(error))));
        return;
    }
}

void QFtpDTP::descriptorClosed(const QString& error)
{
    if (!error.isEmpty())
        setError(error);
    QPointer<QFtpDTP> self(this);
    if (m_pPI->currentCommand().startsWith(QLatin1String("LIST"))) {
        // A last listing line without a line end still counts.
        handleListingBytes(QByteArray(), true);
        if (!self)
            return;
    }
    if (m_nFd < 0)
        return; // already dropped while handling the bytes
    releaseSocket();
    m_bConnected = false;
    emit connectState(CsClosed);
}

void QFtpDTP::socketError()
{
    if (!m_pSocket)
        return;
    if (!m_bConnected) {
        // Passive connection attempt failed.
        releaseSocket();
        emit connectState(CsConnectionRefused);
        return;
    }
    if (m_pSocket->error() != QAbstractSocket::RemoteHostClosedError)
        setError(m_pSocket->errorString());
}

void QFtpDTP::socketStateChanged()
{
    if (!m_pSocket || !m_bConnected || m_pSocket->state() != QAbstractSocket::UnconnectedState)
        return;
    // Every byte that arrived before the close is delivered first. That may
    // drop the connection or reach a receiver that deletes the client.
    QPointer<QFtpDTP> self(this);
    readAvailable();
    if (!self || !m_pSocket)
        return;
    if (m_pPI->currentCommand().startsWith(QLatin1String("LIST"))) {
        handleListingBytes(QByteArray(), true);
        if (!self || !m_pSocket)
            return;
    }
    letSocketGo();
    m_bConnected = false;
    emit connectState(CsClosed);
}

void QFtpDTP::socketReadyRead()
{
    readAvailable();
}

void QFtpDTP::readAvailable()
{
    QPointer<QFtpDTP> self(this);
    while (self && m_pSocket && m_pSocket->bytesAvailable() > 0)
        deliver(m_pSocket->read(kReadChunk));
}

void QFtpDTP::deliver(const QByteArray& bytes)
{
    QPointer<QFtpDTP> self(this);
    emit activity();
    if (!self)
        return;
    const QString& command = m_pPI->currentCommand();
    if (command.startsWith(QLatin1String("LIST")))
        handleListingBytes(bytes, false);
    else if (command.startsWith(QLatin1String("RETR")))
        handleDownloadBytes(bytes);
    // Bytes for no transfer of ours are dropped.
}

void QFtpDTP::handleListingBytes(const QByteArray& bytes, bool final)
{
    m_lineBuffer.append(bytes);
    const QDateTime now = QDateTime::currentDateTime();
    QPointer<QFtpDTP> self(this);
    int pos = 0;
    for (;;) {
        int newline = m_lineBuffer.indexOf('\n', pos);
        if (newline < 0) {
            if (final && pos < m_lineBuffer.size())
                newline = m_lineBuffer.size();
            else
                break;
        }
        const QByteArray line = m_lineBuffer.mid(pos, newline + 1 - pos);
        pos = newline + 1;
        if (line.size() > FtpListParser::kMaxLineLength + 2) {
            setError(QStringLiteral("Listing line longer than %1 bytes").arg(FtpListParser::kMaxLineLength));
            m_lineBuffer.clear();
            dropConnection();
            return;
        }
        QUrlInfo info;
        if (FtpListParser::parseLine(line, QString(), now, &info)) {
            emit listInfo(info);
            if (!self)
                return;
        } else if (FtpListParser::isMissingDirectoryLine(line)) {
            QByteArray text = line;
            while (text.endsWith('\n') || text.endsWith('\r'))
                text.chop(1);
            setError(FtpReplyReader::cleanText(text));
        }
    }
    m_lineBuffer.remove(0, qMin(pos, m_lineBuffer.size()));
    if (m_lineBuffer.size() > FtpListParser::kMaxLineLength) {
        setError(QStringLiteral("Listing line longer than %1 bytes").arg(FtpListParser::kMaxLineLength));
        m_lineBuffer.clear();
        dropConnection();
    }
}

void QFtpDTP::handleDownloadBytes(const QByteArray& bytes)
{
    m_nBytesDone += bytes.size();
    if (m_pDevice) {
        if (m_pDevice->write(bytes) != bytes.size()) {
            setError(QStringLiteral("Writing the downloaded data failed: %1").arg(m_pDevice->errorString()));
            dropConnection();
            return;
        }
    } else {
        m_readBuffer.append(bytes);
    }
    QPointer<QFtpDTP> self(this);
    emit dataTransferProgress(m_nBytesDone, m_nBytesTotal);
    if (self && !m_pDevice)
        emit readyRead();
}

qint64 QFtpDTP::read(char* data, qint64 maxlen)
{
    const qint64 n = qMin<qint64>(maxlen, m_readBuffer.size());
    if (n <= 0)
        return 0;
    memcpy(data, m_readBuffer.constData(), size_t(n));
    m_readBuffer.remove(0, int(n));
    return n;
}

QByteArray QFtpDTP::readAll()
{
    QByteArray all;
    all.swap(m_readBuffer);
    return all;
}

void QFtpDTP::startUpload()
{
    m_bUploadPending = true;
    m_bUploadDone = false;
    if (m_pSocket && m_bConnected)
        writeUploadChunk();
}

void QFtpDTP::writeUploadChunk()
{
    if (!m_pSocket || !m_bConnected || !m_bUploadPending)
        return;
    while (m_pSocket->bytesToWrite() < kUploadChunk) {
        QByteArray chunk;
        if (m_bUploadFromDevice) {
            if (!m_pDevice) {
                setError(QStringLiteral("The upload source was deleted"));
                dropConnection();
                return;
            }
            chunk = m_pDevice->read(kUploadChunk);
            if (chunk.isEmpty() && !m_pDevice->atEnd() && m_pDevice->isSequential())
                return; // more arrives with the device's readyRead
        } else {
            chunk = m_uploadData.mid(int(m_nUploadOffset), int(kUploadChunk));
            m_nUploadOffset += chunk.size();
        }
        if (chunk.isEmpty()) {
            // All handed over: closing the connection ends the file (stream mode).
            m_bUploadPending = false;
            m_bUploadDone = true;
            m_pSocket->disconnectFromHost();
            return;
        }
        m_pSocket->write(chunk);
    }
}

void QFtpDTP::socketBytesWritten(qint64 bytes)
{
    m_nBytesDone += bytes;
    emit activity();
    QPointer<QFtpDTP> self(this);
    emit dataTransferProgress(m_nBytesDone, m_nBytesTotal);
    if (self)
        writeUploadChunk();
}

} // namespace varnoks
