#include "ftpdownload.h"

#include "app/common.h"
#include "app/rslogger.h"
#include "update/ftp/qftp.h"
#include "update/ftp/qurlinfo.h"
#include "update/packagesignature.h"

using varnoks::QFtp;

namespace {

// Server texts end up in the log and in a message box; keep them short.
constexpr int kMaxReasonLength = 300;

} // namespace

FtpDownload::FtpDownload(const UpdateLogic::UpdateServer& server, QObject* parent)
    : QObject(parent), m_server(server)
{
    m_stall.setSingleShot(true);
    m_stall.setInterval(STALL_TIMEOUT_MS);
    connect(&m_stall, &QTimer::timeout, this, &FtpDownload::onStalled);
}

FtpDownload::~FtpDownload()
{
    dropTransfer(true);
    m_file.close();
}

void FtpDownload::start(const QString& strRemotePath, const QString& strLocalPath, bool bWithSignature)
{
    dropTransfer(true);
    ++m_nSerial;
    m_bEnding = false;
    m_bSuccess = false;
    m_bStopped = false;
    m_nBytesDone = 0;
    m_strFailure.clear();
    m_strLocalPath = strLocalPath;
    m_nListId = 0;
    m_nSignatureGetId = 0;
    m_bSawPackage = false;
    m_bSawSignature = false;
    m_bInSignature = bWithSignature;
    m_missing = Missing::Nothing;

    const QString strSignaturePath = strLocalPath + QStringLiteral(".minisig");
    QFile::remove(strLocalPath);
    QFile::remove(strSignaturePath);
    m_file.close();
    m_file.setFileName(bWithSignature ? strSignaturePath : strLocalPath);

    // A file that cannot be written fails the download instead of reporting
    // a transfer that went nowhere as a success.
    if (!m_file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        fail(QStringLiteral("cannot write %1: %2").arg(m_file.fileName(), m_file.errorString()));
        return;
    }

    m_pTransfer = new QFtp(this);
    connect(m_pTransfer, &QFtp::commandFinished, this, &FtpDownload::onCommandFinished);
    connect(m_pTransfer, &QFtp::dataTransferProgress, this, &FtpDownload::onProgress);
    connect(m_pTransfer, &QFtp::readyRead, this, &FtpDownload::onReadyRead);
    connect(m_pTransfer, &QFtp::listInfo, this, &FtpDownload::onListInfo);
    m_stall.start();
    m_pTransfer->connectToHost(m_server.host, m_server.port);
    m_pTransfer->login(COMMON::FTP_USER, COMMON::FTP_PASSWORD);
    if (bWithSignature) {
        const int nSlash = strRemotePath.lastIndexOf(QLatin1Char('/'));
        m_strPackageName = strRemotePath.mid(nSlash + 1);
        m_nListId = m_pTransfer->list(nSlash > 0 ? strRemotePath.left(nSlash) : QStringLiteral("/"));
        m_nSignatureGetId = m_pTransfer->get(strRemotePath + QStringLiteral(".minisig"));
    }
    m_nGetId = m_pTransfer->get(strRemotePath);
    m_pTransfer->close();
}

void FtpDownload::onListInfo(const varnoks::QUrlInfo& info)
{
    if (!m_pTransfer || m_bEnding || !info.isFile())
        return;
    if (info.name() == m_strPackageName)
        m_bSawPackage = true;
    else if (info.name() == m_strPackageName + QStringLiteral(".minisig"))
        m_bSawSignature = true;
}

void FtpDownload::checkListing()
{
    if (!m_bSawPackage) {
        m_missing = Missing::Package;
        fail(QStringLiteral("the folder holds no %1").arg(m_strPackageName));
    } else if (!m_bSawSignature) {
        m_missing = Missing::Signature;
        fail(QStringLiteral("the folder holds no signature %1.minisig").arg(m_strPackageName));
    }
}

void FtpDownload::signatureDone()
{
    m_bInSignature = false;
    m_nBytesDone = 0;
    if (!m_file.flush()) {
        fail(QStringLiteral("writing %1 failed: %2").arg(m_file.fileName(), m_file.errorString()));
        return;
    }
    m_file.close();
    m_file.setFileName(m_strLocalPath);
    if (!m_file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        fail(QStringLiteral("cannot write %1: %2").arg(m_strLocalPath, m_file.errorString()));
        return;
    }
}

void FtpDownload::stop()
{
    if (!m_pTransfer && !m_bEnding)
        return;
    m_bStopped = true;
    m_strFailure.clear();
    finish(false, true);
}

void FtpDownload::stopQuietly()
{
    ++m_nSerial;
    m_bEnding = false;
    m_stall.stop();
    dropTransfer(true);
    m_file.close();
}

void FtpDownload::onReadyRead()
{
    if (!m_pTransfer || m_bEnding)
        return;
    const QByteArray data = m_pTransfer->readAll();
    if (data.isEmpty())
        return;
    const qint64 nLimit = m_bInSignature ? PackageSignature::MAX_SIGNATURE_FILE_BYTES : MAX_BYTES;
    if (m_nBytesDone + data.size() > nLimit) {
        fail(QStringLiteral("%1 is larger than %2 bytes").arg(m_file.fileName()).arg(nLimit));
        return;
    }
    if (m_file.write(data) != data.size()) {
        fail(QStringLiteral("writing %1 failed: %2").arg(m_file.fileName(), m_file.errorString()));
        return;
    }
    m_nBytesDone += data.size();
    // Only file bytes count as progress: a server that keeps the control
    // connection chatting does not keep the download alive.
    m_stall.start();
}

void FtpDownload::onProgress(qint64 nBytesDone, qint64 nBytesTotal)
{
    if (!m_pTransfer || m_bEnding)
        return;
    if (nBytesTotal > (m_bInSignature ? PackageSignature::MAX_SIGNATURE_FILE_BYTES : MAX_BYTES)) {
        fail(QStringLiteral("the server announces %1 bytes").arg(nBytesTotal));
        return;
    }
    // The progress bar shows the package, not its small signature.
    if (!m_bInSignature)
        emit progress(nBytesDone, nBytesTotal);
}

void FtpDownload::onStalled()
{
    if (m_pTransfer && !m_bEnding)
        fail(QStringLiteral("no data from the server for %1 s").arg(m_stall.interval() / 1000));
}

void FtpDownload::onCommandFinished(int nCommandId, bool bError)
{
    if (!m_pTransfer || m_bEnding)
        return;
    if (bError) {
        fail(m_pTransfer->errorString());
        return;
    }
    if (nCommandId != 0 && nCommandId == m_nListId) {
        checkListing();
        return;
    }
    if (nCommandId != 0 && nCommandId == m_nSignatureGetId) {
        onReadyRead();
        if (!m_bEnding)
            signatureDone();
        return;
    }
    if (nCommandId != m_nGetId)
        return;

    onReadyRead(); // whatever is still buffered
    if (m_bEnding)
        return;
    if (!m_file.flush()) {
        fail(QStringLiteral("writing %1 failed: %2").arg(m_file.fileName(), m_file.errorString()));
        return;
    }
    // The QUIT behind the RETR may still run; its outcome does not matter.
    m_pTransfer->disconnect(this);
    finishLater(true);
}

void FtpDownload::fail(const QString& strWhy)
{
    if (m_bEnding)
        return;
    QString why = strWhy;
    why.replace(QLatin1Char('\n'), QLatin1Char(' '));
    if (why.size() > kMaxReasonLength)
        why = why.left(kMaxReasonLength) + QStringLiteral("...");
    m_strFailure = why;
    dropTransfer(true);
    finishLater(false);
}

void FtpDownload::finishLater(bool bSuccess)
{
    m_bEnding = true;
    m_stall.stop();
    const int nSerial = m_nSerial;
    QTimer::singleShot(0, this, [this, nSerial, bSuccess] {
        if (nSerial == m_nSerial && m_bEnding)
            finish(bSuccess, true);
    });
}

void FtpDownload::finish(bool bSuccess, bool bReport)
{
    ++m_nSerial; // a deferred report of this transfer is void now
    m_bEnding = false;
    m_stall.stop();
    // After a complete transfer only the QUIT may still be under way;
    // otherwise the server is told to stop sending.
    dropTransfer(!bSuccess);
    m_file.close();
    m_bSuccess = bSuccess;
    if (!bSuccess && !m_bStopped)
        RSLogger::GetInstance()->WriteLog(LOG_ERROR,
                                          QStringLiteral("Download of %1 failed. (%2)")
                                              .arg(m_strLocalPath, m_strFailure.isEmpty()
                                                                       ? QStringLiteral("unknown reason")
                                                                       : m_strFailure),
                                          "FtpDownload::finish");
    if (bReport)
        emit finished();
}

void FtpDownload::dropTransfer(bool bAbort)
{
    QFtp* pTransfer = m_pTransfer;
    m_pTransfer = nullptr;
    if (!pTransfer)
        return;
    pTransfer->disconnect(this);
    if (bAbort)
        pTransfer->abort();
    pTransfer->deleteLater();
}
