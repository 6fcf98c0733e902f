#pragma once

#include "update/updatelogic.h"

#include <QFile>
#include <QObject>
#include <QString>
#include <QTimer>

namespace varnoks {
class QFtp;
class QUrlInfo;
} // namespace varnoks

// One download of an installer from the update server, on an FTP connection
// of its own that lives for this transfer only. It owns the connection, the
// local file, the size cap and the account of why it failed.
//
// The file counts as complete only when the client reports the RETR done,
// which needs a data connection that ended normally, a final 226 or 250
// reply and, where the server answered SIZE, the announced byte count. In
// stream mode a server that answers no SIZE and closes the data connection
// early in the normal way cannot be told from one that sent a smaller file.
class FtpDownload : public QObject
{
    Q_OBJECT

public:
    FtpDownload(const UpdateLogic::UpdateServer& server, QObject* parent = nullptr);
    // Drops a transfer in progress without a report.
    ~FtpDownload() override;

    // Larger downloads are cut off as failed: the size comes from the server
    // and the file goes to the user's disk.
    static constexpr qint64 MAX_BYTES = qint64(1) << 30;
    // A download that receives nothing for this long is given up.
    static constexpr int STALL_TIMEOUT_MS = 30000;

    // Which file the server's folder lacks, for a download with signature.
    enum class Missing
    {
        Nothing,
        Package,
        Signature,
    };

    // With bWithSignature, the remote folder is listed first and must hold
    // the file and "<file>.minisig"; the signature is fetched into
    // "<local file>.minisig" (at most PackageSignature's size limit) before
    // the file itself.
    void start(const QString& strRemotePath, const QString& strLocalPath, bool bWithSignature = false);
    // The user's stop: finished() is emitted before this returns.
    void stop();
    // Drops the transfer without a report.
    void stopQuietly();
    void setStallTimeout(int nMsecs) { m_stall.setInterval(nMsecs); }

    bool isRunning() const { return m_pTransfer != nullptr; }
    bool succeeded() const { return m_bSuccess; }
    // Why it failed, for people; empty after success or a stop.
    QString failure() const { return m_strFailure; }
    QString filePath() const { return m_strLocalPath; }
    Missing missing() const { return m_missing; }

signals:
    void progress(qint64 bytesReceived, qint64 bytesTotal);
    // Emitted once, from the event loop, never from inside start().
    void finished();

private:
    void onCommandFinished(int nCommandId, bool bError);
    void onProgress(qint64 nBytesDone, qint64 nBytesTotal);
    void onReadyRead();
    void onListInfo(const varnoks::QUrlInfo& info);
    // The listing is in: both files there, or the download fails.
    void checkListing();
    // Switches from the signature file to the package file.
    void signatureDone();
    void onStalled();
    // Drops the connection now and reports the failure from the event loop:
    // callers are inside the client's notifications.
    void fail(const QString& strWhy);
    // The one way a transfer ends: the report goes out once control is back
    // in the event loop, unless something else ended it meanwhile.
    void finishLater(bool bSuccess);
    void finish(bool bSuccess, bool bReport);
    void dropTransfer(bool bAbort);

    UpdateLogic::UpdateServer m_server;
    varnoks::QFtp* m_pTransfer = nullptr;
    QFile m_file; // the file being written: the signature first, if any
    QString m_strLocalPath;
    QString m_strPackageName;
    QTimer m_stall;
    int m_nGetId = 0;
    int m_nListId = 0;
    int m_nSignatureGetId = 0;
    bool m_bSawPackage = false;
    bool m_bSawSignature = false;
    bool m_bInSignature = false;
    Missing m_missing = Missing::Nothing;
    // Counts transfers, so a deferred report cannot end a later one.
    int m_nSerial = 0;
    qint64 m_nBytesDone = 0;
    QString m_strFailure;
    bool m_bEnding = false;
    bool m_bSuccess = false;
    bool m_bStopped = false;
};
