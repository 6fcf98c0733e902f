#include "qftp.h"

#include "qftpdtp.h"
#include "qftppi.h"

#include <QCoreApplication>
#include <QIODevice>
#include <QTimer>

#include <atomic>

namespace varnoks {

namespace {

// Command ids are unique across every client of the process.
std::atomic<int> g_nextCommandId{1};

const char* errorPattern(QFtp::Command command)
{
    switch (command) {
    case QFtp::ConnectToHost:
        return "Connecting to host failed:\n%1";
    case QFtp::Login:
        return "Login failed:\n%1";
    case QFtp::List:
        return "Listing directory failed:\n%1";
    case QFtp::Cd:
        return "Changing directory failed:\n%1";
    case QFtp::Get:
        return "Downloading file failed:\n%1";
    case QFtp::Put:
        return "Uploading file failed:\n%1";
    case QFtp::Remove:
        return "Removing file failed:\n%1";
    case QFtp::Mkdir:
        return "Creating directory failed:\n%1";
    case QFtp::Rmdir:
        return "Removing directory failed:\n%1";
    default:
        return nullptr;
    }
}

// A line break inside an argument would smuggle a second command to the
// server; only the final CR LF of each protocol line may be there.
bool linesAreClean(const QStringList& lines)
{
    for (const QString& line : lines) {
        const QStringRef body = line.leftRef(line.size() - 2);
        if (!line.endsWith(QLatin1String("\r\n")) || body.contains(QLatin1Char('\r')) ||
            body.contains(QLatin1Char('\n')) || body.contains(QChar(0)))
            return false;
    }
    return true;
}

} // namespace

struct QFtp::Command_
{
    int id = 0;
    QFtp::Command command = QFtp::None;
    QStringList lines;
    // Connect to host.
    QString host;
    quint16 port = 0;
    // Set transfer mode.
    QFtp::TransferMode mode = QFtp::Passive;
    // Upload source or download sink.
    QByteArray data;
    QPointer<QIODevice> device;
    bool hasData = false;
};

QFtp::QFtp(QObject* parent)
    : QObject(parent), m_pPI(new QFtpPI(this)),
      m_strError(QCoreApplication::translate("QFtp", "Unknown error"))
{
    connect(m_pPI, &QFtpPI::connectState, this, &QFtp::_q_piConnectState);
    connect(m_pPI, &QFtpPI::finished, this, &QFtp::_q_piFinished);
    connect(m_pPI, &QFtpPI::error, this, &QFtp::_q_piError);
    connect(m_pPI, &QFtpPI::rawFtpReply, this, &QFtp::_q_piFtpReply);
    QFtpDTP* dtp = m_pPI->dtp();
    connect(dtp, &QFtpDTP::listInfo, this, &QFtp::listInfo);
    connect(dtp, &QFtpDTP::readyRead, this, &QFtp::readyRead);
    connect(dtp, &QFtpDTP::dataTransferProgress, this, &QFtp::dataTransferProgress);
}

QFtp::~QFtp()
{
    // The interpreter is a child; silence it before it goes.
    m_pPI->disconnect(this);
    m_pPI->dtp()->disconnect(this);
    qDeleteAll(m_queue);
    m_queue.clear();
}

int QFtp::addCommand(Command command, const QStringList& lines)
{
    auto c = std::make_unique<Command_>();
    c->command = command;
    c->lines = lines;
    return addCommand(std::move(c));
}

int QFtp::addCommand(std::unique_ptr<Command_> command)
{
    command->id = g_nextCommandId.fetch_add(1, std::memory_order_relaxed);
    const int id = command->id;
    m_queue.append(command.release());
    if (m_queue.size() == 1) {
        // Never start inside the call that queues: the caller connects its
        // slots and queues the rest first.
        QTimer::singleShot(0, this, SLOT(_q_startNextCommand()));
    }
    return id;
}

int QFtp::setProxy(const QString& host, quint16 port)
{
    auto c = std::make_unique<Command_>();
    c->command = SetProxy;
    c->host = host;
    c->port = port;
    return addCommand(std::move(c));
}

int QFtp::connectToHost(const QString& host, quint16 port)
{
    auto c = std::make_unique<Command_>();
    c->command = ConnectToHost;
    c->host = host;
    c->port = port;
    return addCommand(std::move(c));
}

int QFtp::login(const QString& user, const QString& password)
{
    const QString u = user.isNull() ? QStringLiteral("anonymous") : user;
    const QString p = password.isNull() ? QStringLiteral("anonymous@") : password;
    return addCommand(Login, {QStringLiteral("USER ") + u + QStringLiteral("\r\n"),
                              QStringLiteral("PASS ") + p + QStringLiteral("\r\n")});
}

int QFtp::close()
{
    return addCommand(Close, {QStringLiteral("QUIT\r\n")});
}

int QFtp::setTransferMode(TransferMode mode)
{
    auto c = std::make_unique<Command_>();
    c->command = SetTransferMode;
    c->mode = mode;
    return addCommand(std::move(c));
}

int QFtp::list(const QString& dir)
{
    // "PASV" becomes "PORT" when the command starts in active mode.
    return addCommand(List, {QStringLiteral("TYPE A\r\n"), QStringLiteral("PASV\r\n"),
                             dir.isEmpty() ? QStringLiteral("LIST\r\n")
                                           : QStringLiteral("LIST ") + dir + QStringLiteral("\r\n")});
}

int QFtp::cd(const QString& dir)
{
    return addCommand(Cd, {QStringLiteral("CWD ") + dir + QStringLiteral("\r\n")});
}

int QFtp::get(const QString& file, QIODevice* dev, TransferType type)
{
    auto c = std::make_unique<Command_>();
    c->command = Get;
    c->lines =
        QStringList{type == Binary ? QStringLiteral("TYPE I\r\n") : QStringLiteral("TYPE A\r\n"),
                    QStringLiteral("SIZE ") + file + QStringLiteral("\r\n"), QStringLiteral("PASV\r\n"),
                    QStringLiteral("RETR ") + file + QStringLiteral("\r\n")};
    c->device = dev;
    return addCommand(std::move(c));
}

int QFtp::put(const QByteArray& data, const QString& file, TransferType type)
{
    auto c = std::make_unique<Command_>();
    c->command = Put;
    c->lines =
        QStringList{type == Binary ? QStringLiteral("TYPE I\r\n") : QStringLiteral("TYPE A\r\n"),
                    QStringLiteral("PASV\r\n"), QStringLiteral("STOR ") + file + QStringLiteral("\r\n")};
    c->data = data;
    c->hasData = true;
    return addCommand(std::move(c));
}

int QFtp::put(QIODevice* dev, const QString& file, TransferType type)
{
    auto c = std::make_unique<Command_>();
    c->command = Put;
    c->lines =
        QStringList{type == Binary ? QStringLiteral("TYPE I\r\n") : QStringLiteral("TYPE A\r\n"),
                    QStringLiteral("PASV\r\n"), QStringLiteral("STOR ") + file + QStringLiteral("\r\n")};
    c->device = dev;
    return addCommand(std::move(c));
}

int QFtp::remove(const QString& file)
{
    return addCommand(Remove, {QStringLiteral("DELE ") + file + QStringLiteral("\r\n")});
}

int QFtp::mkdir(const QString& dir)
{
    return addCommand(Mkdir, {QStringLiteral("MKD ") + dir + QStringLiteral("\r\n")});
}

int QFtp::rmdir(const QString& dir)
{
    return addCommand(Rmdir, {QStringLiteral("RMD ") + dir + QStringLiteral("\r\n")});
}

int QFtp::rename(const QString& oldname, const QString& newname)
{
    return addCommand(Rename, {QStringLiteral("RNFR ") + oldname + QStringLiteral("\r\n"),
                               QStringLiteral("RNTO ") + newname + QStringLiteral("\r\n")});
}

int QFtp::rawCommand(const QString& command)
{
    return addCommand(RawCommand, {command.trimmed() + QStringLiteral("\r\n")});
}

qint64 QFtp::bytesAvailable() const
{
    return m_pPI->dtp()->bytesAvailable();
}

qint64 QFtp::read(char* data, qint64 maxlen)
{
    return m_pPI->dtp()->read(data, maxlen);
}

QByteArray QFtp::readAll()
{
    return m_pPI->dtp()->readAll();
}

int QFtp::currentId() const
{
    return m_queue.isEmpty() ? 0 : m_queue.first()->id;
}

QIODevice* QFtp::currentDevice() const
{
    return m_queue.isEmpty() ? nullptr : m_queue.first()->device.data();
}

QFtp::Command QFtp::currentCommand() const
{
    return m_queue.isEmpty() ? None : m_queue.first()->command;
}

bool QFtp::hasPendingCommands() const
{
    return m_queue.size() > 1;
}

void QFtp::clearPendingCommands()
{
    while (m_queue.size() > 1)
        delete m_queue.takeLast();
}

QFtp::State QFtp::state() const
{
    return State(m_nState);
}

QFtp::Error QFtp::error() const
{
    return m_error;
}

QString QFtp::errorString() const
{
    return m_strError;
}

void QFtp::setTransferTimeout(int msecs)
{
    m_pPI->setTransferTimeout(msecs);
}

int QFtp::transferTimeout() const
{
    return m_pPI->transferTimeout();
}

void QFtp::abort()
{
    if (m_queue.isEmpty())
        return;
    clearPendingCommands();
    m_pPI->abort();
}

void QFtp::_q_startNextCommand()
{
    if (m_queue.isEmpty())
        return;
    Command_* c = m_queue.first();
    if (c->id == m_nStartedId)
        return; // already running
    m_nStartedId = c->id;
    m_error = NoError;
    m_strError = QCoreApplication::translate("QFtp", "Unknown error");
    m_bCloseWaiting = false;

    QPointer<QFtp> self(this);
    emit commandStarted(c->id);
    if (!self || m_queue.isEmpty() || m_queue.first() != c)
        return;

    switch (c->command) {
    case SetTransferMode:
        m_transferMode = c->mode;
        _q_piFinished(QString());
        return;
    case SetProxy:
        _q_piError(UnknownError, QStringLiteral("FTP proxies are not supported"));
        return;
    case ConnectToHost:
        m_pPI->setExtendedCommands(true);
        m_pPI->connectToHost(c->host, c->port);
        return;
    default:
        break;
    }

    QStringList lines = c->lines;
    if (m_transferMode == Active)
        lines.replaceInStrings(QRegExp(QStringLiteral("^PASV\\r\\n$")), QStringLiteral("PORT\r\n"));
    if (!linesAreClean(lines)) {
        _q_piError(UnknownError, QStringLiteral("Line break in a command argument"));
        return;
    }
    QFtpDTP* dtp = m_pPI->dtp();
    dtp->clearTransfer();
    if (c->command == Put) {
        dtp->setUpload(true);
        if (c->hasData)
            dtp->setData(c->data);
        else if (c->device && (c->device->isOpen() || c->device->open(QIODevice::ReadOnly)))
            dtp->setDevice(c->device);
        else {
            _q_piError(UnknownError, QStringLiteral("The upload source cannot be read"));
            return;
        }
    } else if (c->command == Get && c->device) {
        dtp->setDevice(c->device);
        if (!c->device->isOpen() && !c->device->open(QIODevice::WriteOnly)) {
            _q_piError(UnknownError, QStringLiteral("The download target cannot be written"));
            return;
        }
    }
    if (!m_pPI->sendCommands(lines))
        _q_piError(NotConnected, QCoreApplication::translate("QFtp", "Not connected"));
}

void QFtp::finishCurrent(bool failed)
{
    if (m_queue.isEmpty())
        return;
    Command_* c = m_queue.first();
    const int id = c->id;
    QPointer<QFtp> self(this);
    emit commandFinished(id, failed);
    if (!self)
        return;
    // The slot may have cleared or changed the queue.
    const int index = m_queue.indexOf(c);
    if (index >= 0)
        delete m_queue.takeAt(index);
    if (m_queue.isEmpty())
        emit done(failed);
    else
        _q_startNextCommand();
}

void QFtp::_q_piFinished(const QString&)
{
    if (m_queue.isEmpty())
        return;
    const Command_* c = m_queue.first();
    const QFtpDTP* dtp = m_pPI->dtp();
    if (c->command == Get && dtp->isSizeKnown() && dtp->bytesDone() != dtp->bytesTotal() &&
        c->lines.value(0).startsWith(QLatin1String("TYPE I"))) {
        // In stream mode the end of the data connection is the end of the
        // file; the size the server announced is the only other witness.
        _q_piError(UnknownError,
                   QStringLiteral("Received %1 of %2 bytes").arg(dtp->bytesDone()).arg(dtp->bytesTotal()));
        return;
    }
    if (m_queue.first()->command == Close && m_nState != Unconnected) {
        // Done once the connection is gone, not when QUIT is answered.
        m_bCloseWaiting = true;
        m_pPI->closeConnection();
        return;
    }
    finishCurrent(false);
}

void QFtp::_q_piError(int errorCode, const QString& text)
{
    if (m_queue.isEmpty())
        return;
    Command_* c = m_queue.first();
    const QString running = m_pPI->currentCommand();
    // A server without SIZE still serves the file (of unknown size), one
    // without ALLO still stores it.
    if ((c->command == Get && running.startsWith(QLatin1String("SIZE "))) ||
        (c->command == Put && running.startsWith(QLatin1String("ALLO "))))
        return;

    m_error = Error(errorCode);
    const char* pattern = errorPattern(c->command);
    m_strError = pattern ? QString::fromLatin1(pattern).arg(text) : text;

    m_pPI->clearPendingCommands();
    m_pPI->dtp()->abortConnection();
    clearPendingCommands();
    finishCurrent(true);
}

void QFtp::_q_piConnectState(int state)
{
    m_nState = state;
    QPointer<QFtp> self(this);
    emit stateChanged(state);
    if (!self)
        return;
    if (m_bCloseWaiting && state == Unconnected && !m_queue.isEmpty() && m_queue.first()->command == Close) {
        m_bCloseWaiting = false;
        finishCurrent(false);
    }
}

void QFtp::_q_piFtpReply(int code, const QString& text)
{
    if (currentCommand() == RawCommand)
        emit rawCommandReply(code, text);
}

} // namespace varnoks
