#include "qsingleapplication.h"

#include "common.h"

#include <QDebug>
#include <QDir>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QWidget>

#include <unistd.h>

namespace {

bool otherInstanceAnswers(const QString& name, int timeoutMs)
{
    QLocalSocket socket;
    socket.connectToServer(name, QIODevice::ReadWrite);
    return socket.waitForConnected(timeoutMs);
}

} // namespace

QSingleApplication::QSingleApplication(int& argc, char** argv) : QApplication(argc, argv)
{
    setOrganizationName(QStringLiteral("Brindlex"));
    setApplicationName(COMMON::APPLICATION_NAME);
    m_strServerName = organizationName() + applicationName();
    const QString listenName = localServerName(m_strServerName);

    if (otherInstanceAnswers(listenName, 500)) {
        qInfo().noquote() << QStringLiteral("%1 already running.").arg(m_strServerName);
        m_bRunning = true;
        return;
    }

    m_pLocalServer = new QLocalServer(this);
    m_pLocalServer->setSocketOptions(QLocalServer::UserAccessOption);
    connect(m_pLocalServer, SIGNAL(newConnection()), this, SLOT(newLocalConnection()));
    if (!m_pLocalServer->listen(listenName) &&
        m_pLocalServer->serverError() == QAbstractSocket::AddressInUseError) {
        // Either a name left behind by an instance that died, or another
        // instance that started at the same moment and won the race. Only
        // the first is ours to remove.
        if (otherInstanceAnswers(listenName, 500)) {
            qInfo().noquote() << QStringLiteral("%1 already running.").arg(m_strServerName);
            m_bRunning = true;
            delete m_pLocalServer;
            m_pLocalServer = nullptr;
            return;
        }
        QLocalServer::removeServer(listenName);
        m_pLocalServer->listen(listenName);
    }
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
