#include "ftpmanager.h"

#include "app/common.h"
#include "app/rslogger.h"
#include "update/ftp/qftp.h"
#include "update/ftp/qurlinfo.h"
#include "update/reachabilityprobe.h"

#include <QTimer>

#include <exception>

using varnoks::QFtp;

namespace {

const char* const kDownloadFailedText = "Program download update failed, please try again later.";

QNetworkReply::NetworkError networkErrorOf(QFtp::Error error)
{
    switch (error) {
    case QFtp::HostNotFound:
        return QNetworkReply::HostNotFoundError;
    case QFtp::ConnectionRefused:
        return QNetworkReply::ConnectionRefusedError;
    case QFtp::NotConnected:
        return QNetworkReply::RemoteHostClosedError;
    default:
        return QNetworkReply::ProtocolFailure;
    }
}

} // namespace

FtpManager::FtpManager(QObject* parent) : QObject(parent)
{
    m_server = UpdateLogic::updateServer();
    m_url.setScheme(QStringLiteral("ftp"));
    m_url.setHost(m_server.host, QUrl::DecodedMode);
    m_url.setPort(m_server.port);
    m_url.setUserName(COMMON::FTP_USER, QUrl::DecodedMode);
    m_url.setPassword(COMMON::FTP_PASSWORD, QUrl::DecodedMode);

    m_pProbe = new ReachabilityProbe(this);
    connect(m_pProbe, &ReachabilityProbe::finished, this, &FtpManager::onProbeFinished);

    createFtp();
}

FtpManager::~FtpManager()
{
    m_bCancelled = true;
    // A transfer in progress is dropped without a finish report.
    m_bReportPending = false;
    if (m_pTransfer) {
        m_pTransfer->disconnect(this);
        m_pTransfer->abort();
        m_pTransfer->deleteLater();
        m_pTransfer = nullptr;
    }
    m_file.close();
    destroyFtp();
}

void FtpManager::setPingProgram(const QString& strProgram)
{
    m_pProbe->setProgram(strProgram);
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
}

void FtpManager::checkUpdate(bool bAuto)
{
    // A check is already on its way: the probe runs, or a listing is queued
    // or running. The connect and login queued at construction do not count,
    // or the automatic check made right after construction would never run.
    if (m_pProbe->isRunning() || m_nListId != 0)
        return;

    if (!bAuto) {
        RSLogger::GetInstance()->WriteLog(LOG_DEBUG, QStringLiteral("Start ping ftp server..."),
                                          "FtpManager::checkUpdate");
        // The listing follows in onProbeFinished; ping runs as a child
        // process so that the window stays responsive while it waits.
        m_pProbe->start(m_server.host);
        return;
    }
    if (!m_pFtp)
        createFtp();
    listUpdateDirectory();
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
    if (bError || commandId == m_nListId)
        m_nListId = 0;
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

void FtpManager::startDownload(const QString& strRemotePath, const QString& strLocalPath)
{
    if (m_pTransfer)
        endTransfer(false, QString(), false);
    m_bReportPending = false;
    m_bFailureScheduled = false;
    // A stop asked for while nothing ran must not hide this download's
    // failure text.
    m_bCancelled = false;
    m_bSuccess = false;
    m_nBytesDone = 0;
    m_nBytesTotal = 0;
    m_strFailure.clear();

    if (QFile::exists(strLocalPath))
        QFile::remove(strLocalPath);
    m_file.close();
    m_file.setFileName(strLocalPath);
    m_url.setPath(strRemotePath, QUrl::DecodedMode);

    m_pTransfer = new QFtp(this);
    connect(m_pTransfer, &QFtp::commandFinished, this, &FtpManager::onTransferCommandFinished);
    connect(m_pTransfer, &QFtp::dataTransferProgress, this, &FtpManager::onTransferProgress);
    connect(m_pTransfer, &QFtp::readyRead, this, &FtpManager::onTransferReadyRead);

    // A file that cannot be written fails the download instead of reporting
    // a transfer that went nowhere as a success.
    if (!m_file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        RSLogger::GetInstance()->WriteLog(
            LOG_ERROR,
            QStringLiteral("Cannot write the download to %1 (%2)").arg(strLocalPath, m_file.errorString()),
            "FtpManager::startDownload");
        QFtp* pTransfer = m_pTransfer;
        // Reported from the event loop, so that the caller's window is up.
        QTimer::singleShot(0, this, [this, pTransfer] {
            if (m_pTransfer == pTransfer)
                endTransfer(false, QString::fromLatin1(kDownloadFailedText), true);
        });
        return;
    }

    m_pTransfer->connectToHost(m_server.host, m_server.port);
    m_pTransfer->login(COMMON::FTP_USER, COMMON::FTP_PASSWORD);
    m_nGetId = m_pTransfer->get(m_url.path(QUrl::FullyDecoded));
    m_pTransfer->close();
}

void FtpManager::onTransferReadyRead()
{
    if (!m_pTransfer || m_bFailureScheduled)
        return;
    const QByteArray data = m_pTransfer->readAll();
    if (data.isEmpty())
        return;
    if (m_nBytesDone + data.size() > MAX_DOWNLOAD_BYTES) {
        m_strFailure = QStringLiteral("the file is larger than %1 bytes").arg(MAX_DOWNLOAD_BYTES);
        scheduleFailure();
        return;
    }
    if (m_file.write(data) != data.size()) {
        m_strFailure = QStringLiteral("writing %1 failed: %2").arg(m_file.fileName(), m_file.errorString());
        scheduleFailure();
        return;
    }
    m_nBytesDone += data.size();
}

void FtpManager::onTransferProgress(qint64 bytesDone, qint64 bytesTotal)
{
    if (!m_pTransfer)
        return;
    if (bytesTotal > MAX_DOWNLOAD_BYTES) {
        m_strFailure = QStringLiteral("the server announces %1 bytes").arg(bytesTotal);
        scheduleFailure();
        return;
    }
    m_nBytesTotal = bytesTotal;
    emit downloadProgress(bytesDone, bytesTotal);
}

void FtpManager::scheduleFailure()
{
    // Called from inside the client's notifications: the client is dropped
    // and the failure reported once control is back in the event loop.
    QFtp* pTransfer = m_pTransfer;
    if (!pTransfer || m_bFailureScheduled)
        return;
    m_bFailureScheduled = true;
    pTransfer->disconnect(this);
    QTimer::singleShot(0, this, [this, pTransfer] {
        if (m_pTransfer == pTransfer)
            endTransfer(false, QString::fromLatin1(kDownloadFailedText), true);
    });
}

void FtpManager::onTransferCommandFinished(int commandId, bool bError)
{
    if (!m_pTransfer)
        return;
    if (bError) {
        m_strFailure = m_pTransfer->errorString();
        emit error(networkErrorOf(m_pTransfer->error()));
        scheduleFailure();
        return;
    }
    if (commandId != m_nGetId)
        return;

    onTransferReadyRead(); // whatever is still buffered
    if (m_bFailureScheduled)
        return;
    m_pTransfer->disconnect(this);
    if (!m_file.flush()) {
        m_strFailure = QStringLiteral("writing %1 failed: %2").arg(m_file.fileName(), m_file.errorString());
    } else if (m_nBytesTotal > 0 && m_nBytesDone != m_nBytesTotal) {
        // The server announced the size with SIZE; a shorter or longer file
        // is not the installer it offered.
        m_strFailure = QStringLiteral("received %1 of %2 bytes").arg(m_nBytesDone).arg(m_nBytesTotal);
    }
    QFtp* pTransfer = m_pTransfer;
    const bool bOk = m_strFailure.isEmpty();
    QTimer::singleShot(0, this, [this, pTransfer, bOk] {
        if (m_pTransfer == pTransfer)
            endTransfer(bOk, bOk ? QString() : QString::fromLatin1(kDownloadFailedText), true);
    });
}

void FtpManager::endTransfer(bool bSuccess, const QString& strError, bool bReport)
{
    QFtp* pTransfer = m_pTransfer;
    m_pTransfer = nullptr;
    if (pTransfer) {
        pTransfer->disconnect(this);
        // After a complete transfer only the QUIT may still be under way;
        // otherwise the server is told to stop sending.
        if (!bSuccess)
            pTransfer->abort();
        pTransfer->deleteLater();
    }
    if (!bSuccess && !m_bCancelled && !m_strFailure.isEmpty())
        RSLogger::GetInstance()->WriteLog(
            LOG_ERROR, QStringLiteral("Download failed. (%1)").arg(m_strFailure), "FtpManager::dlFinished");
    m_bSuccess = bSuccess;
    m_strError = strError;
    m_bReportPending = bReport;
    if (bReport)
        dlFinished();
}

void FtpManager::dlFinished()
{
    if (!m_bReportPending)
        return;
    m_bReportPending = false;
    const QString strError = (m_bSuccess || m_bCancelled) ? QString() : m_strError;
    m_file.close();
    emit downloadFinished(m_bSuccess, m_file.fileName(), strError);
    m_bCancelled = false;
}

void FtpManager::stopDownload()
{
    m_bCancelled = true;
    if (!m_pTransfer)
        return;
    emit error(QNetworkReply::OperationCanceledError);
    // Reported before this returns: false, the file, no error text.
    endTransfer(false, QString(), true);
}
