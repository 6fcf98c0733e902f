#include "qsingleapplication.h"

#include "common.h"

#include <QDebug>
#include <QDir>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QWidget>

#include <QThread>

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

bool otherInstanceAnswers(const QString& name, int timeoutMs)
{
    QLocalSocket socket;
    socket.connectToServer(name, QIODevice::ReadWrite);
    return socket.waitForConnected(timeoutMs);
}

// Opens the lock file and tries to take it. Returns the descriptor when this
// process holds the lock, -1 with *pBusy set when another process does, and
// -1 with *pBusy clear when there is no usable lock file.
int takeInstanceLock(const QString& path, bool* pBusy)
{
    *pBusy = false;
    const QByteArray name = QFile::encodeName(path);
    // A holder removes the file as it ends; a lock taken on the removed file
    // is worth nothing, so open again (a few times at most).
    for (int attempt = 0; attempt < 5; ++attempt) {
        const int fd = ::open(name.constData(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
        if (fd < 0)
            return -1;
        struct stat st;
        // Somebody else's file (possible outside a private runtime folder)
        // is no lock of ours.
        if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != ::getuid()) {
            ::close(fd);
            return -1;
        }
        int rc;
        do {
            rc = ::flock(fd, LOCK_EX | LOCK_NB);
        } while (rc != 0 && errno == EINTR);
        if (rc != 0) {
            *pBusy = errno == EWOULDBLOCK;
            ::close(fd);
            return -1;
        }
        struct stat now;
        if (::lstat(name.constData(), &now) == 0 && now.st_dev == st.st_dev && now.st_ino == st.st_ino)
            return fd;
        ::close(fd);
    }
    return -1;
}

} // namespace

QSingleApplication::QSingleApplication(int& argc, char** argv) : QSingleApplication(argc, argv, {}) {}

QSingleApplication::QSingleApplication(int& argc, char** argv, const std::function<void()>& beforeDecision)
    : QApplication(argc, argv)
{
    setOrganizationName(QStringLiteral("Brindlex"));
    setApplicationName(COMMON::APPLICATION_NAME);
    m_strServerName = organizationName() + applicationName();
    decideInstance(beforeDecision);
}

QSingleApplication::~QSingleApplication()
{
    // The server goes first, so the next holder of the lock finds the name
    // free.
    delete m_pLocalServer;
    m_pLocalServer = nullptr;
    if (m_nLockFd >= 0) {
        // Removed while still held, so a starting copy never takes a lock on
        // a file about to vanish (it checks that it locked the file in place).
        ::unlink(QFile::encodeName(m_strLockPath).constData());
        ::close(m_nLockFd);
    }
}

void QSingleApplication::decideInstance(const std::function<void()>& beforeDecision)
{
    const QString listenName = localServerName(m_strServerName);
    if (beforeDecision)
        beforeDecision();

    const QString lockName = listenName + QStringLiteral(".lock");
    m_strLockPath = QDir::isAbsolutePath(lockName) ? lockName : QDir::temp().filePath(lockName);
    bool bBusy = false;
    // About two seconds for a holder that is still on its way to listening,
    // or on its way out.
    for (int attempt = 0; attempt < 40; ++attempt) {
        m_nLockFd = takeInstanceLock(m_strLockPath, &bBusy);
        if (m_nLockFd >= 0) {
            // Whatever holds the name now was left by an instance that died.
            listenAsFirst(listenName, true);
            return;
        }
        if (!bBusy)
            break;
        // The lock holder runs. Knock, so that it brings its window forward.
        if (otherInstanceAnswers(listenName, 500))
            break;
        QThread::msleep(50);
    }
    // Busy: the lock holder runs. Otherwise there is no lock file to be had,
    // and the socket alone decides.
    if (bBusy || otherInstanceAnswers(listenName, 500) || !listenAsFirst(listenName, false)) {
        qInfo().noquote() << QStringLiteral("%1 already running.").arg(m_strServerName);
        m_bRunning = true;
    }
}

// Listens on the name; false only when another instance turned out to own
// it. bNameIsOurs: this process holds the lock, so a name in the way is stale.
bool QSingleApplication::listenAsFirst(const QString& strListenName, bool bNameIsOurs)
{
    m_pLocalServer = new QLocalServer(this);
    // Inside the private (0700) runtime folder only the user can reach the
    // socket. In the shared temporary folder Qt restricts it; it binds a
    // temporary name and renames it over the final one, so there only the
    // lock keeps two instances from both listening.
    if (!QDir::isAbsolutePath(strListenName))
        m_pLocalServer->setSocketOptions(QLocalServer::UserAccessOption);
    connect(m_pLocalServer, SIGNAL(newConnection()), this, SLOT(newLocalConnection()));
    if (bNameIsOurs)
        QLocalServer::removeServer(strListenName);
    if (!m_pLocalServer->listen(strListenName) &&
        m_pLocalServer->serverError() == QAbstractSocket::AddressInUseError) {
        // Without the lock: either a name left behind by an instance that
        // died, or another instance that started at the same moment and won
        // the race. Only the first is ours to remove.
        if (otherInstanceAnswers(strListenName, 500)) {
            delete m_pLocalServer;
            m_pLocalServer = nullptr;
            return false;
        }
        QLocalServer::removeServer(strListenName);
        m_pLocalServer->listen(strListenName);
    }
    return true;
}

QString QSingleApplication::localServerName(const QString& strServerName)
{
    // A bare name would be shared by every user of the machine (it lands in
    // /tmp); one user could then keep another's copy from starting.
    const QString runtimeDir = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (!runtimeDir.isEmpty() && QDir::isAbsolutePath(runtimeDir) && QFileInfo(runtimeDir).isDir())
        return QDir(runtimeDir).filePath(strServerName);
    return QStringLiteral("%1-%2").arg(strServerName).arg(::getuid());
}

void QSingleApplication::newLocalConnection()
{
    QLocalSocket* socket = m_pLocalServer ? m_pLocalServer->nextPendingConnection() : nullptr;
    if (!socket)
        return;
    // The later instance sends nothing; this returns when it closes its side.
    socket->waitForReadyRead(1000);
    delete socket;

    if (m_pMainWindow) {
        m_pMainWindow->showNormal();
        m_pMainWindow->activateWindow();
        m_pMainWindow->raise();
    }
}
