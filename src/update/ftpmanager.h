#pragma once

#include "update/updatelogic.h"

#include <QFile>
#include <QNetworkReply>
#include <QObject>
#include <QString>
#include <QUrl>

namespace varnoks {
class QFtp;
class QUrlInfo;
} // namespace varnoks

class ReachabilityProbe;

// Finds out whether the update server holds a newer version than the one
// running, and downloads a version's installer when asked.
//
// One FTP connection lists the update directory; it is opened (connect and
// login queued) as soon as the object exists. Each download runs on a
// connection of its own that lives for that transfer only. The transfer does
// not use QNetworkAccessManager: its ftp backend connects the data channel to
// whatever host a 227 reply names and crashes on a truncated 229 reply, and
// both replies come from the server.
class FtpManager : public QObject
{
    Q_OBJECT

public:
    explicit FtpManager(QObject* parent = nullptr);
    ~FtpManager() override;

    // bAuto: true for the check at start-up, false for one the user asked for
    // (which first probes the server with ping).
    void checkUpdate(bool bAuto);
    // The caller runs one download at a time.
    void startDownload(const QString& strRemotePath, const QString& strLocalPath);
    void stopDownload();

    bool isDownloading() const { return m_pTransfer != nullptr; }
    UpdateLogic::UpdateServer server() const { return m_server; }
    // Tests replace the probe's program.
    void setPingProgram(const QString& strProgram);

    // Downloads larger than this are cut off as failed: the size comes from
    // the server and the file goes to the user's disk.
    static constexpr qint64 MAX_DOWNLOAD_BYTES = qint64(1) << 30;

    static QString ftpStateName(int nState);
    static QString ftpCommandName(int nCommand);

signals:
    void error(QNetworkReply::NetworkError);
    void downloadProgress(qint64 bytesReceived, qint64 bytesTotal);
    void downloadFinished(bool bSuccess, QString strFilePath, QString strError);
    void signalNeedUpdate(QString strNewestVersion);
    void signalFtpConnected(bool, QString strErrorMsg);

public slots:
    void dlFinished();
    void onListInfo(const varnoks::QUrlInfo& urlInfo);
    void onCmdFinished(int commandId, bool bError);
    void onStateChanged(int nState);

private:
    void createFtp();
    void destroyFtp();
    void listUpdateDirectory();
    void onProbeFinished(bool bReachable);
    QString ftpStatusText() const;

    void onTransferCommandFinished(int commandId, bool bError);
    void onTransferProgress(qint64 bytesDone, qint64 bytesTotal);
    void onTransferReadyRead();
    void scheduleFailure();
    // Ends the current transfer: reports it unless bReport is false, and
    // discards its connection.
    void endTransfer(bool bSuccess, const QString& strError, bool bReport);

    UpdateLogic::UpdateServer m_server;
    QUrl m_url;
    QFile m_file;
    varnoks::QFtp* m_pFtp = nullptr;
    QString m_strNewestVersion;
    int m_nListId = 0; // id of the queued or running listing, 0 when none
    varnoks::QFtp* m_pTransfer = nullptr;
    int m_nGetId = 0;
    qint64 m_nBytesTotal = 0;
    qint64 m_nBytesDone = 0;
    QString m_strFailure; // why the transfer failed, for the run log
    QString m_strError;   // text of the pending finish report
    bool m_bFailureScheduled = false;
    bool m_bReportPending = false;
    bool m_bCancelled = false;
    bool m_bSuccess = false;
    ReachabilityProbe* m_pProbe = nullptr;
};
