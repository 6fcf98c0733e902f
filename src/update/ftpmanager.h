#pragma once

#include "update/ftpdownload.h"
#include "update/updatelogic.h"

#include <QObject>
#include <QString>

namespace varnoks {
class QFtp;
class QUrlInfo;
} // namespace varnoks

class QTimer;
class ReachabilityProbe;

// Finds out whether the update server holds a newer version than the one
// running, and downloads a version's installer when asked.
//
// One FTP connection lists the update directory; it is opened (connect and
// login queued) as soon as the object exists. Each download is an
// FtpDownload with a connection of its own. The transfer does not use
// QNetworkAccessManager: its ftp backend connects the data channel to
// whatever host a 227 reply names and crashes on a truncated 229 reply, and
// both replies come from the server.
class FtpManager : public QObject
{
    Q_OBJECT

public:
    explicit FtpManager(QObject* parent = nullptr);
    ~FtpManager() override;

    // bAuto: true for the check at start-up, false for one the user asked for
    // (which first probes the server with ping). Returns false when the
    // check is ignored because another one is still on its way.
    bool checkUpdate(bool bAuto);
    // The caller runs one download at a time. bWithSignature: see
    // FtpDownload::start.
    void startDownload(const QString& strRemotePath, const QString& strLocalPath,
                       bool bWithSignature = false);
    void stopDownload();

    bool isDownloading() const;
    // Why the last download failed, in a few words; empty when it did not.
    QString downloadFailure() const;
    // What the server's folder lacked, for the last download with signature.
    FtpDownload::Missing downloadMissing() const;
    bool isChecking() const;
    UpdateLogic::UpdateServer server() const { return m_server; }
    // Tests replace the probe's program and shorten the time limits.
    void setPingProgram(const QString& strProgram);
    void setListingDeadline(int nMsecs);
    void setDownloadStallTimeout(int nMsecs) { m_nStallTimeoutMs = nMsecs; }

    // A listing (with the connect and login before it) that has not ended
    // after this long is given up, however slowly the server still talks.
    static constexpr int LISTING_DEADLINE_MS = 60000;

    static QString ftpStateName(int nState);
    static QString ftpCommandName(int nCommand);

signals:
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
    void onListingDeadline();
    QString ftpStatusText() const;

    UpdateLogic::UpdateServer m_server;
    varnoks::QFtp* m_pFtp = nullptr;
    QString m_strNewestVersion;
    int m_nListId = 0; // id of the queued or running listing, 0 when none
    QTimer* m_pListDeadline = nullptr;
    FtpDownload* m_pDownload = nullptr;
    int m_nStallTimeoutMs = 0;
    bool m_bCancelled = false;
    ReachabilityProbe* m_pProbe = nullptr;
};
