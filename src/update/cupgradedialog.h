#pragma once

#include "update/updatelogic.h"

#include <QDialog>
#include <QString>

#include <memory>

class FtpManager;
class MessageBoxShow;
class QCloseEvent;
class QTemporaryDir;
class QTimer;

namespace Ui {
class CUpgradeDialog;
}

// The user-facing side of the online update: starts checks, decides from
// the result and the stored reminder whether to say the program is up to
// date, offer the new version or remind later, shows the download's progress
// and hands the downloaded, verified package to the system's installer.
//
// The window itself is visible only while a download runs; everything else
// is said with message boxes. The reminder lives in the settings "next
// upgrade time" (seconds since the epoch, or 998 for none) and "upgrade
// version".
class CUpgradeDialog : public QDialog
{
    Q_OBJECT

public:
    explicit CUpgradeDialog(QWidget* parent = nullptr);
    ~CUpgradeDialog() override;

    // bAuto: true for the check at start-up, false for one the user asked for.
    void checkUpdate(bool bAuto);

    FtpManager* ftpManager() const { return m_pFtpManager; }
    bool isReminderTimerActive() const;

    static UpgradeTimeState getUpgradeTimeState();
    static void resetUpgradeTime();
    static void scheduleUpgradeTime();
    static QString getUpgradeVersion();
    static void setUpgradeVersion(const QString& strVersion);

    // Name of a version's installer on the server and on disk: the Debian
    // package of this architecture on Linux, the setup program on Windows.
    static QString installerFileName(const QString& strVersion);
    static QString installerRemotePath(const QString& strVersion);
    // Whether the installer comes with a minisign signature that must hold
    // before anything is done with it (the Debian package does).
    static bool installerIsSigned();
    // True when strVersion was last found on the server without a package
    // for this system.
    static bool isVersionWithoutPackage(const QString& strVersion);

public slots:
    void reject() override;

private slots:
    void on_btn_cancel_upgrade_clicked();
    void onExistNewVersionApp(QString strNewestVersion);
    void downloadProgress(qint64 bytesReceived, qint64 bytesTotal);
    void downloadFinished(bool bSuccess, QString strFilePath, QString strError);
    void ftpConnected(bool bConnected, QString strErrorMsg);
    void onCheckTime();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void offerNewVersion(const QString& strVersion);
    int confirmStopDownload();
    void removeDownload(const QString& strFilePath);
    // Checks the downloaded package's signature; on failure logs why,
    // puts the reason for the user in *pReason and returns false.
    bool verifyDownload(const QString& strFilePath, QString* pReason);
    void reportMissingFiles(const QString& strFilePath);
    // Hands the verified package to the desktop's installer; returns true
    // when that started and the program may quit.
    bool handOverPackage(const QString& strFilePath);

    Ui::CUpgradeDialog* ui = nullptr;
    FtpManager* m_pFtpManager = nullptr;
    bool m_bAutoCheck = false;
    bool m_bCloseWithoutAsking = false;
    QTimer* m_pCheckTimer = nullptr;
    // An offer (its question, the download and the install question) is
    // under way; results that arrive meanwhile are not acted on.
    bool m_bOffering = false;
    // Private folder (mode 0700) of the current download. The shared
    // temporary folder is writable by everyone, and a file there under a
    // predictable name could be replaced before it is started.
    std::unique_ptr<QTemporaryDir> m_pDownloadDir;
    // The open "stop the download?" question, if any.
    MessageBoxShow* m_pStopBox = nullptr;
};
