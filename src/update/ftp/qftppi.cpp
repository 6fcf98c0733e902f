#include "qftppi.h"

#include "app/rslogger.h"
#include "qftp.h"
#include "qftpdtp.h"

#include <QCoreApplication>
#include <QHostAddress>
#include <QPointer>
#include <QSignalBlocker>

namespace varnoks {

namespace {

// Bytes taken from the control socket per read; the reader never holds much
// more than one chunk beyond the reply it is working on.
constexpr qint64 kReadChunk = 16 * 1024;

QString ftpTr(const char* text)
{
    return QCoreApplication::translate("QFtp", text);
}

// An IPv4 address carried in an IPv6 socket address counts as IPv4.
QHostAddress plainAddress(const QHostAddress& address)
{
    bool isV4 = false;
    const quint32 v4 = address.toIPv4Address(&isV4);
    return isV4 ? QHostAddress(v4) : address;
}

} // namespace

// Marks a call that comes from one of the control socket's signals. The
// socket goes on working after its signal returns, so a receiver that
// deletes the client from inside such a call must not take the socket with
// it (see the destructor).
class QFtpPI::SocketCall
{
public:
    explicit SocketCall(QFtpPI* pi) : m_pi(pi) { ++pi->m_nSocketCalls; }
    ~SocketCall()
    {
        if (m_pi)
            --m_pi->m_nSocketCalls;
    }
    SocketCall(const SocketCall&) = delete;
    SocketCall& operator=(const SocketCall&) = delete;

private:
    QPointer<QFtpPI> m_pi;
};

QFtpPI::QFtpPI(QObject* parent)
    : QObject(parent), m_pSocket(new QTcpSocket(this)), m_pDTP(new QFtpDTP(this, this))
{
    m_pSocket->setObjectName(QStringLiteral("QFtpPI_socket"));
    // While a transfer reply waits for the data connection to close, unread
    // control bytes stay in the kernel instead of piling up here.
    m_pSocket->setReadBufferSize(256 * 1024);
    m_timer.setSingleShot(true);
    connect(m_pSocket, &QTcpSocket::stateChanged, this, &QFtpPI::socketStateChanged);
    connect(m_pSocket, &QTcpSocket::errorOccurred, this, &QFtpPI::socketError);
    connect(m_pSocket, &QTcpSocket::readyRead, this, &QFtpPI::readyRead);
    connect(m_pDTP, &QFtpDTP::connectState, this, &QFtpPI::dtpConnectState);
    connect(m_pDTP, &QFtpDTP::activity, this, &QFtpPI::noteActivity);
    connect(&m_timer, &QTimer::timeout, this, &QFtpPI::timedOut);
}

QFtpPI::~QFtpPI()
{
    // No reports from a dying interpreter.
    m_pSocket->disconnect(this);
    m_pDTP->disconnect(this);
    m_pSocket->abort();
    if (m_nSocketCalls > 0) {
        // Deleted from inside one of the socket's signals, which still uses
        // the socket when it returns.
        m_pSocket->setParent(nullptr);
        m_pSocket->deleteLater();
    }
}

void QFtpPI::log(int level, const QString& message, const char* function) const
{
    RSLogger::GetInstance()->WriteLog(level, message, function);
}

bool QFtpPI::isConnected() const
{
    return m_pSocket->state() == QAbstractSocket::ConnectedState;
}

bool QFtpPI::isRunning(const char* command) const
{
    return m_strCurrentCmd.startsWith(QLatin1String(command));
}

QString QFtpPI::takeDataError()
{
    const QString text = m_pDTP->errorMessage();
    m_pDTP->clearError();
    return text;
}

bool QFtpPI::isBusy() const
{
    return m_bCommandActive || m_bConnecting;
}

void QFtpPI::setTransferTimeout(int msecs)
{
    m_nTimeout = qMax(0, msecs);
    if (m_nTimeout == 0)
        m_timer.stop();
    else if (m_timer.isActive())
        m_timer.start(m_nTimeout);
}

void QFtpPI::noteActivity()
{
    if (m_nTimeout > 0 && isBusy())
        m_timer.start(m_nTimeout);
}

void QFtpPI::connectToHost(const QString& host, quint16 port)
{
    if (m_pSocket->state() != QAbstractSocket::UnconnectedState) {
        m_bCommandActive = false;
        m_bConnecting = false;
        m_pSocket->abort();
    }
    m_pDTP->abortConnection();
    m_pDTP->clearTransfer();
    m_reader.clear();
    m_nDiscardedSeen = 0;
    m_lines.clear();
    m_strCurrentCmd.clear();
    m_strLastReply.clear();
    m_abortState = AbortNone;
    m_bWaitForDtpToConnect = false;
    m_bWaitForDtpToClose = false;
    m_bWasConnected = false;
    m_state = Begin;
    m_strHost = host;
    m_bConnecting = true;
    ++m_nSerial;
    noteActivity();
    m_pSocket->connectToHost(host, port);
}

bool QFtpPI::sendCommands(const QStringList& lines)
{
    if (!isConnected() || m_state != Idle || m_bCommandActive)
        return false;
    m_pDTP->clearError();
    m_lines = lines;
    m_bCommandActive = true;
    ++m_nSerial;
    noteActivity();
    startNextCommand();
    return true;
}

void QFtpPI::clearPendingCommands()
{
    m_lines.clear();
    m_bCommandActive = false;
    m_bWaitForDtpToConnect = false;
    if (!m_bConnecting)
        m_timer.stop();
}

void QFtpPI::abort()
{
    // The report comes from the event loop, never from inside abort(): a
    // caller that aborts on its way out has disconnected by then.
    const int serial = m_nSerial;
    auto reportLater = [this, serial](const QString& text) {
        QTimer::singleShot(0, this, [this, serial, text] {
            if (serial == m_nSerial)
                failCommand(QFtp::UnknownError, text);
        });
    };
    if (m_bConnecting) {
        // Still looking up, connecting or waiting for the greeting: give the
        // attempt up.
        if (dropConnections())
            reportLater(QStringLiteral("Connection closed"));
        return;
    }
    if (!m_bCommandActive || !isConnected())
        return;
    // Nothing more of the running command goes out after ABOR.
    m_lines.clear();
    if (m_state != Waiting && !m_bWaitForDtpToClose) {
        // No reply outstanding (between a passive reply and the data
        // connection): there is no transfer for ABOR to stop.
        m_bWaitForDtpToConnect = false;
        m_pDTP->abortConnection();
        reportLater(QStringLiteral("Aborted"));
        return;
    }
    m_bWaitForDtpToConnect = false;
    if (m_bWaitForDtpToClose) {
        // The transfer reply is already in and held until the data
        // connection ends; a peer that stopped reading or sending would keep
        // it held. There is nothing left for ABOR to stop.
        m_bWaitForDtpToClose = false;
        m_pDTP->abortConnection();
        m_pDTP->clearTransfer();
        reportLater(QStringLiteral("Aborted"));
        QTimer::singleShot(0, this, [this] { processIncoming(); });
        return;
    }
    if (m_abortState == AbortNone) {
        m_abortState = AbortStarted;
        writeLine(QStringLiteral("ABOR\r\n"));
    }
    if (isRunning("STOR ")) {
        m_pDTP->abortConnection();
        m_pDTP->clearTransfer();
    }
}

void QFtpPI::closeConnection()
{
    if (m_pSocket->state() == QAbstractSocket::UnconnectedState)
        return;
    m_pSocket->disconnectFromHost();
    // A peer that takes no more bytes would keep a graceful close pending.
    if (m_pSocket->state() != QAbstractSocket::UnconnectedState && m_nTimeout > 0) {
        QTimer::singleShot(m_nTimeout, this, [this] {
            if (m_pSocket->state() == QAbstractSocket::ClosingState)
                m_pSocket->abort();
        });
    }
}

void QFtpPI::emitConnectState(int state)
{
    if (state == m_nConnState)
        return;
    m_nConnState = state;
    emit connectState(state);
}

bool QFtpPI::dropConnections()
{
    QPointer<QFtpPI> self(this);
    m_bWasConnected = false;
    m_pDTP->abortConnection();
    {
        // The socket's own report of the close would end the command as a
        // lost connection; the caller says why it ends instead.
        const QSignalBlocker quiet(m_pSocket);
        m_pSocket->abort();
    }
    emitConnectState(QFtp::Unconnected);
    return !self.isNull();
}

void QFtpPI::socketStateChanged(QAbstractSocket::SocketState state)
{
    const SocketCall call(this);
    switch (state) {
    case QAbstractSocket::HostLookupState:
        emitConnectState(QFtp::HostLookup);
        break;
    case QAbstractSocket::ConnectingState:
        emitConnectState(QFtp::Connecting);
        break;
    case QAbstractSocket::ConnectedState:
        m_bWasConnected = true;
        emitConnectState(QFtp::Connected);
        break;
    case QAbstractSocket::ClosingState:
        emitConnectState(QFtp::Closing);
        break;
    case QAbstractSocket::UnconnectedState: {
        const bool wasConnected = m_bWasConnected;
        m_bWasConnected = false;
        m_pDTP->abortConnection();
        QPointer<QFtpPI> self(this);
        emitConnectState(QFtp::Unconnected);
        if (!self)
            return;
        if (!wasConnected)
            break; // a failed attempt is reported by socketError()
        if (m_bCommandActive && isRunning("QUIT")) {
            // The server ended the session as asked, with or without a reply.
            m_bCommandActive = false;
            m_lines.clear();
            m_strCurrentCmd.clear();
            m_state = Idle;
            m_timer.stop();
            emit finished(QStringLiteral("Connection closed"));
        } else if (isBusy()) {
            failCommand(QFtp::UnknownError, QStringLiteral("Connection closed"));
        }
        break;
    }
    default:
        break;
    }
}

void QFtpPI::socketError(QAbstractSocket::SocketError socketError)
{
    const SocketCall call(this);
    QString text;
    int code = QFtp::ConnectionRefused;
    switch (socketError) {
    case QAbstractSocket::HostNotFoundError:
        code = QFtp::HostNotFound;
        text = ftpTr("Host %1 not found").arg(m_strHost);
        break;
    case QAbstractSocket::ConnectionRefusedError:
        text = ftpTr("Connection refused to host %1").arg(m_strHost);
        break;
    case QAbstractSocket::SocketTimeoutError:
        text = ftpTr("Connection timed out to host %1").arg(m_strHost);
        break;
    case QAbstractSocket::RemoteHostClosedError:
        return; // handled when the socket becomes unconnected
    default:
        // Anything else that stops a connection attempt or a command must
        // not leave it waiting for ever.
        if (!isBusy())
            return;
        code = QFtp::UnknownError;
        text = m_pSocket->errorString();
        break;
    }
    log(LOG_WARNING, QStringLiteral("control connection to %1: %2").arg(m_strHost, m_pSocket->errorString()),
        "QFtpPI::socketError");
    if (dropConnections())
        failCommand(code, text);
}

void QFtpPI::failCommand(int code, const QString& text)
{
    if (!isBusy())
        return;
    m_bCommandActive = false;
    m_bConnecting = false;
    m_lines.clear();
    m_strCurrentCmd.clear();
    m_bWaitForDtpToConnect = false;
    m_bWaitForDtpToClose = false;
    m_timer.stop();
    if (m_state != Begin)
        m_state = Idle;
    emit error(code, text);
}

void QFtpPI::timedOut()
{
    if (!isBusy())
        return;
    log(LOG_WARNING,
        QStringLiteral("no answer from %1 within %2 ms while running \"%3\"")
            .arg(m_strHost)
            .arg(m_nTimeout)
            .arg(m_strCurrentCmd.trimmed().section(QLatin1Char(' '), 0, 0)),
        "QFtpPI::timedOut");
    if (dropConnections())
        failCommand(QFtp::ConnectionRefused, ftpTr("Connection timed out to host %1").arg(m_strHost));
}

void QFtpPI::readyRead()
{
    const SocketCall call(this);
    noteActivity();
    processIncoming();
}

void QFtpPI::processIncoming()
{
    QPointer<QFtpPI> self(this);
    while (self && !m_bWaitForDtpToClose) {
        const FtpReplyReader::Status status = m_reader.next();
        if (m_reader.discardedLines() != m_nDiscardedSeen) {
            m_nDiscardedSeen = m_reader.discardedLines();
            log(LOG_WARNING,
                QStringLiteral("skipped a control line from %1 that starts no reply").arg(m_strHost),
                "QFtpPI::processIncoming");
        }
        if (status == FtpReplyReader::ReplyReady) {
            handleReply(m_reader.code(), m_reader.text());
            continue;
        }
        if (status == FtpReplyReader::ProtocolError) {
            // The reply stream is lost; so is the connection.
            const QString text = m_reader.errorString();
            log(LOG_ERROR, QStringLiteral("%1 from %2").arg(text, m_strHost), "QFtpPI::processIncoming");
            if (dropConnections())
                failCommand(QFtp::UnknownError, text);
            return;
        }
        if (m_pSocket->bytesAvailable() <= 0)
            return;
        m_reader.append(m_pSocket->read(kReadChunk));
    }
}

void QFtpPI::handleReply(int code, const QString& text)
{
    // 1. Transfer replies: the final one waits for the data, and a download
    //    answered otherwise fails.
    if (holdTransferReply(code, text) || refuseDownloadReply(code, text))
        return;

    // 2. The replies to an aborted transfer and to ABOR itself.
    if (swallowAbortReply())
        return;

    m_strLastReply = text;

    // 3. State.
    if (!advanceState(code, text))
        return;

    // 4. The raw reply.
    QPointer<QFtpPI> self(this);
    emit rawFtpReply(code, text);
    if (!self)
        return;

    // 5. Replies that carry something.
    if (!handleSpecialReply(code, text) || !self)
        return;

    // 6. What the new state means.
    if (m_state == Success || m_state == Idle)
        stepSucceeded();
    else if (m_state == Failure)
        stepFailed(text);
}

bool QFtpPI::holdTransferReply(int code, const QString& text)
{
    // A transfer reply is acted on only after every byte of the data
    // connection has been taken, so a listing or a file is complete before
    // the command is reported finished. 250 ends a download as 226 does.
    const bool transferDone = code == 226 || (code == 250 && isRunning("RETR"));
    if (!transferDone || m_pDTP->isUnconnected())
        return false;
    m_bWaitForDtpToClose = true;
    m_nKeptCode = code;
    m_strKeptText = text;
    return true;
}

bool QFtpPI::refuseDownloadReply(int code, const QString& text)
{
    // A download is whole only when its data connection ended normally and
    // the server's final word is 226 or 250. A RETR answered with anything
    // else of the 1yz/2yz kind (a "200 OK" while the data still flows, say)
    // is not a transfer we can vouch for.
    if (!isRunning("RETR") || m_state != Waiting || m_abortState != AbortNone)
        return false;
    const int first = code / 100;
    const bool strange =
        (first == 1 && code != 125 && code != 150) || (first == 2 && code != 226 && code != 250);
    if (!strange)
        return false;
    log(LOG_WARNING, QStringLiteral("%1 answered RETR with %2 %3").arg(m_strHost).arg(code).arg(text),
        "QFtpPI::refuseDownloadReply");
    m_pDTP->abortConnection();
    failCommand(QFtp::UnknownError, QStringLiteral("Unexpected reply to RETR: %1 %2").arg(code).arg(text));
    return true;
}

bool QFtpPI::swallowAbortReply()
{
    // The reply that ends the aborted transfer counts as the command's; the
    // one to ABOR after it is nobody's.
    if (m_abortState == AbortStarted) {
        m_abortState = WaitForAbortToFinish;
    } else if (m_abortState == WaitForAbortToFinish) {
        m_abortState = AbortNone;
        return true;
    }
    return false;
}

bool QFtpPI::advanceState(int code, const QString& text)
{
    switch (m_state) {
    case Begin:
        handleGreeting(code, text);
        return false;
    case Waiting:
        m_state = stateAfter(code);
        return true;
    default:
        // A reply nobody asked for.
        emit rawFtpReply(code, text);
        return false;
    }
}

QFtpPI::State QFtpPI::stateAfter(int code)
{
    if (code / 100 > 5 || code == 202)
        return Failure;
    switch (code / 100) {
    case 1:
        return Waiting;
    case 2:
        return Success;
    case 3:
        return Idle;
    default:
        return Failure;
    }
}

void QFtpPI::handleGreeting(int code, const QString& text)
{
    const int first = code / 100;
    if (first == 1)
        return;
    if (first == 2) {
        m_state = Idle;
        m_bConnecting = false;
        m_timer.stop();
        QPointer<QFtpPI> self(this);
        emit rawFtpReply(code, text);
        if (self)
            emit finished(ftpTr("Connected to host %1").arg(m_strHost));
        return;
    }
    // A greeting that refuses service (421 and the like): the server is
    // about to hang up, so do not wait for it.
    if (m_bConnecting && dropConnections())
        failCommand(QFtp::UnknownError, text);
}

void QFtpPI::stepSucceeded()
{
    m_state = Idle;
    if (m_pDTP->hasError()) {
        // The server is content, but the data connection broke.
        QPointer<QFtpPI> self(this);
        emit error(QFtp::UnknownError, takeDataError());
        if (!self)
            return;
    }
    startNextCommand();
}

void QFtpPI::stepFailed(const QString& text)
{
    m_state = Idle;
    if (isRunning("EPSV")) {
        m_bExtended = false;
        m_lines.prepend(QStringLiteral("PASV\r\n"));
    } else if (isRunning("EPRT")) {
        m_bExtended = false;
        m_lines.prepend(QStringLiteral("PORT\r\n"));
    } else {
        // A broken data connection says more than the server's 4yz.
        const QString reason = m_pDTP->hasError() ? takeDataError() : text;
        QPointer<QFtpPI> self(this);
        emit error(QFtp::UnknownError, reason);
        if (!self)
            return;
    }
    // A command started from the error report is already under way.
    if (m_state == Idle)
        startNextCommand();
}

bool QFtpPI::handleSpecialReply(int code, const QString& text)
{
    if (code == 227 && isRunning("PASV")) {
        quint32 ipv4 = 0;
        quint16 port = 0;
        if (!FtpPassiveReply::parsePasv(text, &ipv4, &port)) {
            failCommand(QFtp::UnknownError, QStringLiteral("Malformed passive mode reply: %1").arg(text));
            return false;
        }
        const QHostAddress named(ipv4);
        QHostAddress host = plainAddress(m_pSocket->peerAddress());
        if (named != host) {
            // Never connect where the server points us but to the server
            // itself: a data connection elsewhere is a bounce attack or a
            // server behind NAT naming its private address.
            log(LOG_WARNING,
                QStringLiteral("passive reply names %1, connecting to the control peer %2 instead")
                    .arg(named.toString(), host.toString()),
                "QFtpPI::handleSpecialReply");
        }
        m_bWaitForDtpToConnect = true;
        m_pDTP->connectToHost(host, port);
        return true;
    }
    if (code == 229 && isRunning("EPSV")) {
        quint16 port = 0;
        if (!FtpPassiveReply::parseEpsv(text, &port)) {
            failCommand(QFtp::UnknownError,
                        QStringLiteral("Malformed extended passive mode reply: %1").arg(text));
            return false;
        }
        m_bWaitForDtpToConnect = true;
        m_pDTP->connectToHost(m_pSocket->peerAddress(), port);
        return true;
    }
    if (code == 230) {
        if (isRunning("USER ") && !m_lines.isEmpty() && m_lines.first().startsWith(QLatin1String("PASS "))) {
            m_lines.removeFirst();
        }
        emitConnectState(QFtp::LoggedIn);
        return true;
    }
    if (code == 213 && isRunning("SIZE ")) {
        bool ok = false;
        const qint64 size = text.simplified().toLongLong(&ok);
        if (ok && size >= 0)
            m_pDTP->setBytesTotal(size);
        return true;
    }
    if (code / 100 == 1 && isRunning("STOR ")) {
        m_pDTP->startUpload();
        return true;
    }
    return true;
}

bool QFtpPI::controlIsIPv6() const
{
    return plainAddress(m_pSocket->localAddress()).protocol() == QAbstractSocket::IPv6Protocol;
}

void QFtpPI::startNextCommand()
{
    if (m_bWaitForDtpToConnect || m_state == Waiting)
        return;
    if (m_lines.isEmpty()) {
        m_strCurrentCmd.clear();
        if (m_bCommandActive) {
            m_bCommandActive = false;
            m_timer.stop();
            emit finished(m_strLastReply);
        }
        return;
    }

    QString line = m_lines.first();
    const bool ipv6 = controlIsIPv6();
    if (line.startsWith(QLatin1String("PORT"))) {
        const QHostAddress local = plainAddress(m_pSocket->localAddress());
        if (ipv6 && !m_bExtended) {
            failCommand(
                QFtp::UnknownError,
                QStringLiteral("Active mode needs EPRT on an IPv6 connection and the server refused it"));
            return;
        }
        const int port = m_pDTP->setupListener(local);
        if (port <= 0) {
            failCommand(QFtp::UnknownError, QStringLiteral("Cannot listen for the data connection"));
            return;
        }
        if (ipv6) {
            line = QStringLiteral("EPRT |2|%1|%2|").arg(local.toString()).arg(port);
        } else {
            const quint32 ip = local.toIPv4Address();
            line = QStringLiteral("PORT %1,%2,%3,%4,%5,%6")
                       .arg((ip >> 24) & 0xff)
                       .arg((ip >> 16) & 0xff)
                       .arg((ip >> 8) & 0xff)
                       .arg(ip & 0xff)
                       .arg((port >> 8) & 0xff)
                       .arg(port & 0xff);
        }
        line += QStringLiteral("\r\n");
    } else if (line.startsWith(QLatin1String("PASV")) && ipv6 && m_bExtended) {
        line = QStringLiteral("EPSV\r\n");
    }

    m_lines.removeFirst();
    m_strCurrentCmd = line;
    m_state = Waiting;
    writeLine(line);
}

void QFtpPI::writeLine(const QString& line)
{
    m_pSocket->write(line.toUtf8());
    noteActivity();
}

void QFtpPI::dtpConnectState(int state)
{
    QPointer<QFtpPI> self(this);
    switch (state) {
    case QFtpDTP::CsConnected:
        noteActivity();
        if (m_bWaitForDtpToConnect) {
            m_bWaitForDtpToConnect = false;
            startNextCommand();
        }
        break;
    case QFtpDTP::CsConnectionRefused:
        m_bWaitForDtpToConnect = false;
        failCommand(QFtp::ConnectionRefused, ftpTr("Connection refused for data connection"));
        break;
    case QFtpDTP::CsClosed:
        if (m_bWaitForDtpToClose) {
            m_bWaitForDtpToClose = false;
            handleReply(m_nKeptCode, m_strKeptText);
            if (!self)
                return;
            processIncoming();
        }
        break;
    default:
        break;
    }
}

} // namespace varnoks
