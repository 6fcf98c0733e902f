#include "ftpmanager.h"

#include "app/common.h"
#include "app/rslogger.h"
#include "update/ftp/qftp.h"
#include "update/ftp/qurlinfo.h"
#include "update/ftpdownload.h"
#include "update/reachabilityprobe.h"

#include <QTimer>

#include <exception>

using varnoks::QFtp;

namespace {

const char* const kDownloadFailedText = "Program download update failed, please try again later.";

} // namespace

FtpManager::FtpManager(QObject* parent) : QObject(parent)
{
    m_server = UpdateLogic::updateServer();

    m_pListDeadline = new QTimer(this);
    m_pListDeadline->setSingleShot(true);
    m_pListDeadline->setInterval(LISTING_DEADLINE_MS);
    connect(m_pListDeadline, &QTimer::timeout, this, &FtpManager::onListingDeadline);

    m_pProbe = new ReachabilityProbe(this);
    connect(m_pProbe, &ReachabilityProbe::finished, this, &FtpManager::onProbeFinished);

    createFtp();
}

FtpManager::~FtpManager()
{
    // A transfer in progress is dropped without a finish report.
    delete m_pDownload;
    m_pDownload = nullptr;
    destroyFtp();
}

void FtpManager::setPingProgram(const QString& strProgram)
{
    m_pProbe->setProgram(strProgram);
}

void FtpManager::setListingDeadline(int nMsecs)
{
    m_pListDeadline->setInterval(nMsecs);
}

bool FtpManager::isChecking() const
{
    return m_pProbe->isRunning() || m_nListId != 0;
}

void FtpManager::createFtp()
{
    if (m_pFtp)
        return;
    m_pFtp = new QFtp(this);
    m_pFtp->connectToHost(m_server.host, m_server.port);
    m_pFtp->login(COMMON::FTP_USER, COMMON::FTP_PASSWORD);
    // QUrlInfo lives in our own namespace, so the connections name the
    // member functions rather than signature texts.
    connect(m_pFtp, &QFtp::commandFinished, this, &FtpManager::onCmdFinished);
    connect(m_pFtp, &QFtp::listInfo, this, &FtpManager::onListInfo);
    connect(m_pFtp, &QFtp::stateChanged, this, &FtpManager::onStateChanged);
}

void FtpManager::destroyFtp()
{
    if (!m_pFtp)
        return;
    m_pFtp->close();
    m_pFtp->abort();
    m_pFtp->clearPendingCommands();
    disconnect(m_pFtp, &QFtp::commandFinished, this, &FtpManager::onCmdFinished);
    disconnect(m_pFtp, &QFtp::listInfo, this, &FtpManager::onListInfo);
    disconnect(m_pFtp, &QFtp::stateChanged, this, &FtpManager::onStateChanged);
    m_pFtp->deleteLater();
    m_pFtp = nullptr;
    m_nListId = 0;
    m_pListDeadline->stop();
}

bool FtpManager::checkUpdate(bool bAuto)
{
    // A check is already on its way: the probe runs, or a listing is queued
    // or running. The connect and login queued at construction do not count,
    // or the automatic check made right after construction would never run.
    if (isChecking())
        return false;

    if (!bAuto) {
        RSLogger::GetInstance()->WriteLog(LOG_DEBUG, QStringLiteral("Start ping ftp server..."),
                                          "FtpManager::checkUpdate");
        // The listing follows in onProbeFinished; ping runs as a child
        // process so that the window stays responsive while it waits.
        m_pProbe->start(m_server.host);
        return true;
    }
    if (!m_pFtp)
        createFtp();
    listUpdateDirectory();
    return true;
}

void FtpManager::onProbeFinished(bool bReachable)
{
    if (!bReachable) {
        emit signalFtpConnected(false, tr("程序升级服务器连接失败，请检查网络是否正常！"));
        return;
    }
    if (!m_pFtp || m_pFtp->state() != QFtp::LoggedIn) {
        destroyFtp();
        createFtp();
    }
    listUpdateDirectory();
}

void FtpManager::listUpdateDirectory()
{
    m_strNewestVersion.clear();
    m_nListId = m_pFtp->list(COMMON::FTP_UPDATE_DIR);
    m_pListDeadline->start();
}

void FtpManager::onListingDeadline()
{
    if (m_nListId == 0)
        return;
    // The client's silence time-out restarts with every byte; a server that
    // trickles its greeting or listing would keep the check alive for ever.
    RSLogger::GetInstance()->WriteLog(
        LOG_ERROR,
        QStringLiteral("FTP command Failed. (listing took longer than %1 s; %2)")
            .arg(m_pListDeadline->interval() / 1000)
            .arg(ftpStatusText()),
        "FtpManager::onCmdFinished");
    // The next check starts on a fresh connection.
    destroyFtp();
}

void FtpManager::onListInfo(const varnoks::QUrlInfo& urlInfo)
{
    // Files and names that are not plain version directories never count;
    // the kept name later becomes part of a path.
    if (!urlInfo.isDir())
        return;
    m_strNewestVersion = UpdateLogic::pickNewerVersionName(m_strNewestVersion, urlInfo.name());
}

void FtpManager::onCmdFinished(int commandId, bool bError)
{
    // A failed command takes every command queued behind it along, the
    // listing included.
    if (bError || commandId == m_nListId) {
        m_nListId = 0;
        m_pListDeadline->stop();
    }
    if (bError) {
        RSLogger::GetInstance()->WriteLog(LOG_ERROR,
                                          QStringLiteral("FTP command Failed. (%1)").arg(ftpStatusText()),
                                          "FtpManager::onCmdFinished");
        return;
    }
    if (!m_pFtp || m_pFtp->currentCommand() != QFtp::List)
        return;
    m_strNewestVersion = UpdateLogic::newerThanRunning(m_strNewestVersion, COMMON::SOFTWARE_VERSION);
    // The result may open modal boxes and a download; it is delivered from
    // the event loop rather than from inside the client's notification.
    const QString strResult = m_strNewestVersion;
    QTimer::singleShot(0, this, [this, strResult] { emit signalNeedUpdate(strResult); });
}

void FtpManager::onStateChanged(int nState)
{
    Q_UNUSED(nState)
}

QString FtpManager::ftpStateName(int nState)
{
    static const QString kNames[] = {QStringLiteral("unconnected"), QStringLiteral("HostLookup"),
                                     QStringLiteral("Connecting"),  QStringLiteral("Connected"),
                                     QStringLiteral("LoggedIn"),    QStringLiteral("Closing")};
    static const QString kOther = QStringLiteral("error state");
    if (nState < 0 || nState > 5)
        return kOther;
    return kNames[nState];
}

QString FtpManager::ftpCommandName(int nCommand)
{
    static const QString kNames[] = {QStringLiteral("None"),
                                     QString(),
                                     QString(),
                                     QStringLiteral("ConnectToHost"),
                                     QStringLiteral("Login"),
                                     QStringLiteral("Close"),
                                     QStringLiteral("List"),
                                     QStringLiteral("Cd"),
                                     QStringLiteral("Get"),
                                     QStringLiteral("Put"),
                                     QStringLiteral("Remove"),
                                     QStringLiteral("Mkdir"),
                                     QStringLiteral("Rmdir"),
                                     QStringLiteral("Rename"),
                                     QStringLiteral("RawCommand")};
    static const QString kOther = QStringLiteral("Unknown Command");
    // Codes 1 and 2 (transfer mode, proxy) have no name of their own.
    if (nCommand < 0 || nCommand > 14 || kNames[nCommand].isNull())
        return kOther;
    return kNames[nCommand];
}

QString FtpManager::ftpStatusText() const
{
    if (!m_pFtp)
        return QStringLiteral("FTP current state: [[%1]] current command: [[%2]]")
            .arg(ftpStateName(QFtp::Unconnected), ftpCommandName(QFtp::None));
    try {
        const int nState = m_pFtp->state();
        if (nState != QFtp::Unconnected)
            return QStringLiteral("FTP current state: [[%1]] current command: [[%2]] error message: [[%3]]")
                .arg(ftpStateName(nState), ftpCommandName(m_pFtp->currentCommand()), m_pFtp->errorString());
        return QStringLiteral("FTP current state: [[%1]] current command: [[%2]]")
            .arg(ftpStateName(nState), ftpCommandName(m_pFtp->currentCommand()));
    } catch (const std::exception&) {
        return QStringLiteral("ftp crashed!");
    }
}

bool FtpManager::isDownloading() const
{
    return m_pDownload && m_pDownload->isRunning();
}

void FtpManager::startDownload(const QString& strRemotePath, const QString& strLocalPath, bool bWithSignature)
{
    // A stop asked for while nothing ran must not hide this download's
    // failure text.
    m_bCancelled = false;
    if (m_pDownload) {
        // A previous one ends without a report. It may be the sender whose
        // report led here, so it goes from the event loop.
        m_pDownload->disconnect(this);
        m_pDownload->stopQuietly();
        m_pDownload->deleteLater();
    }
    m_pDownload = new FtpDownload(m_server, this);
    if (m_nStallTimeoutMs > 0)
        m_pDownload->setStallTimeout(m_nStallTimeoutMs);
    connect(m_pDownload, &FtpDownload::progress, this, &FtpManager::downloadProgress);
    connect(m_pDownload, &FtpDownload::finished, this, &FtpManager::dlFinished);
    m_pDownload->start(strRemotePath, strLocalPath, bWithSignature);
}

void FtpManager::dlFinished()
{
    auto* pDownload = qobject_cast<FtpDownload*>(sender());
    if (!pDownload || pDownload != m_pDownload)
        return;
    const bool bSuccess = pDownload->succeeded();
    const QString strError =
        (bSuccess || m_bCancelled) ? QString() : QString::fromLatin1(kDownloadFailedText);
    emit downloadFinished(bSuccess, pDownload->filePath(), strError);
    m_bCancelled = false;
}

QString FtpManager::downloadFailure() const
{
    return m_pDownload ? m_pDownload->failure() : QString();
}

FtpDownload::Missing FtpManager::downloadMissing() const
{
    return m_pDownload ? m_pDownload->missing() : FtpDownload::Missing::Nothing;
}

void FtpManager::stopDownload()
{
    m_bCancelled = true;
    if (!m_pDownload || !m_pDownload->isRunning())
        return;
    // Reported before this returns: false, the file, no error text.
    m_pDownload->stop();
}
