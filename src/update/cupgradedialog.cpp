#include "cupgradedialog.h"

#include "app/common.h"
#include "app/commontools.h"
#include "app/rslogger.h"
#include "ui/messageboxshow.h"
#include "update/ftpmanager.h"

#include "ui_cupgradedialog.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QMessageBox>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>

#include <climits>

namespace {

int clampToInt(qint64 value)
{
    return static_cast<int>(qBound<qint64>(0, value, INT_MAX));
}

} // namespace

CUpgradeDialog::CUpgradeDialog(QWidget* parent) : QDialog(parent), ui(new Ui::CUpgradeDialog)
{
    ui->setupUi(this);
    setAttribute(Qt::WA_QuitOnClose, false);
    setWindowFlags(Qt::Dialog | Qt::WindowCloseButtonHint);
    ui->progressBar_upgrade->setValue(0);

    m_pFtpManager = new FtpManager(this);
    connect(m_pFtpManager, SIGNAL(signalNeedUpdate(QString)), this, SLOT(onExistNewVersionApp(QString)));
    connect(m_pFtpManager, SIGNAL(downloadProgress(qint64, qint64)), this,
            SLOT(downloadProgress(qint64, qint64)));
    connect(m_pFtpManager, SIGNAL(downloadFinished(bool, QString, QString)), this,
            SLOT(downloadFinished(bool, QString, QString)));
    connect(m_pFtpManager, SIGNAL(signalFtpConnected(bool, QString)), this,
            SLOT(ftpConnected(bool, QString)));

    m_pCheckTimer = new QTimer(this);
    connect(m_pCheckTimer, SIGNAL(timeout()), this, SLOT(onCheckTime()));
}

CUpgradeDialog::~CUpgradeDialog()
{
    m_pCheckTimer->stop();
    delete m_pCheckTimer;
    m_pCheckTimer = nullptr;
    delete ui;
    ui = nullptr;
    delete m_pFtpManager;
    m_pFtpManager = nullptr;
}

void CUpgradeDialog::checkUpdate(bool bAuto)
{
    // An ignored check must not change how the pending one's result is read.
    if (m_pFtpManager->checkUpdate(bAuto))
        m_bAutoCheck = bAuto;
}

bool CUpgradeDialog::isReminderTimerActive() const
{
    return m_pCheckTimer->isActive();
}

UpgradeTimeState CUpgradeDialog::getUpgradeTimeState()
{
    const QString strStored =
        CommonTools::GetSettingValue(COMMON::KEY_NEXT_UPGRADE_TIME, UpdateLogic::UPGRADE_TIME_NONE)
            .toString();
    return UpdateLogic::classifyUpgradeTime(strStored, QDateTime::currentSecsSinceEpoch());
}

void CUpgradeDialog::resetUpgradeTime()
{
    CommonTools::SetSettingValue(COMMON::KEY_NEXT_UPGRADE_TIME, UpdateLogic::UPGRADE_TIME_NONE);
}

void CUpgradeDialog::scheduleUpgradeTime()
{
    CommonTools::SetSettingValue(COMMON::KEY_NEXT_UPGRADE_TIME,
                                 UpdateLogic::drawReminderTime(QDateTime::currentMSecsSinceEpoch()));
}

QString CUpgradeDialog::getUpgradeVersion()
{
    return CommonTools::GetSettingValue(COMMON::KEY_UPGRADE_VERSION, QString()).toString();
}

void CUpgradeDialog::setUpgradeVersion(const QString& strVersion)
{
    CommonTools::SetSettingValue(COMMON::KEY_UPGRADE_VERSION, strVersion);
}

QString CUpgradeDialog::installerFileName(const QString& strVersion)
{
    return QStringLiteral("%1Setup_%2.exe").arg(COMMON::APPLICATION_NAME, strVersion);
}

QString CUpgradeDialog::installerRemotePath(const QString& strVersion)
{
    return QStringLiteral("%1/%2/%3").arg(COMMON::FTP_UPDATE_DIR, strVersion, installerFileName(strVersion));
}

void CUpgradeDialog::on_btn_cancel_upgrade_clicked()
{
    confirmStopDownload();
    ui->progressBar_upgrade->setValue(0);
}

void CUpgradeDialog::onExistNewVersionApp(QString strNewestVersion)
{
    const UpgradeTimeState state = getUpgradeTimeState();
    const UpgradeAction action =
        UpdateLogic::decideUpgradeAction(m_bAutoCheck, !strNewestVersion.isEmpty(), state);
    // While an offer is on screen or its download runs, a result that would
    // open a second box is dropped; the others still keep the reminder right.
    if (m_bOffering && (action == UpgradeAction::OfferNow || action == UpgradeAction::UpToDate)) {
        RSLogger::GetInstance()->WriteLog(LOG_INFO,
                                          QStringLiteral("Check result not shown: an offer is under way."),
                                          "CUpgradeDialog::onExistNewVersionApp");
        return;
    }
    switch (action) {
    case UpgradeAction::OfferNow:
        scheduleUpgradeTime();
        setUpgradeVersion(strNewestVersion);
        offerNewVersion(getUpgradeVersion());
        break;
    case UpgradeAction::ClearReminder:
        resetUpgradeTime();
        m_pCheckTimer->stop();
        break;
    case UpgradeAction::Wait:
        m_pCheckTimer->start(UpdateLogic::CHECK_TIMER_INTERVAL_MS);
        break;
    case UpgradeAction::RemindLater:
        scheduleUpgradeTime();
        setUpgradeVersion(strNewestVersion);
        m_pCheckTimer->start(UpdateLogic::CHECK_TIMER_INTERVAL_MS);
        break;
    case UpgradeAction::UpToDate: {
        resetUpgradeTime();
        m_pCheckTimer->stop();
        MessageBoxShow box(this, QMessageBox::Information);
        box.showConfirm(tr("更新提示"), tr("当前软件已是最新版本！"));
        break;
    }
    case UpgradeAction::Nothing:
        break;
    }
}

void CUpgradeDialog::onCheckTime()
{
    if (m_bOffering)
        return;
    switch (getUpgradeTimeState()) {
    case NotDue:
        break;
    case Due:
        offerNewVersion(getUpgradeVersion());
        break;
    case NonePending:
        resetUpgradeTime();
        m_pCheckTimer->stop();
        break;
    }
}

void CUpgradeDialog::offerNewVersion(const QString& strVersion)
{
    m_pCheckTimer->stop();
    // The version is read back from the settings file and becomes part of a
    // path on the server and on disk.
    if (!UpdateLogic::isUsableVersionName(strVersion)) {
        RSLogger::GetInstance()->WriteLog(LOG_WARNING,
                                          QStringLiteral("Stored upgrade version is not a version name; "
                                                         "the reminder is cleared."),
                                          "CUpgradeDialog::offerNewVersion");
        resetUpgradeTime();
        return;
    }

    m_bOffering = true;
    {
        MessageBoxShow box(this, QMessageBox::Question);
        const int nAnswer =
            box.showConfirmCancel(tr("更新提示"), tr("检测到新版本：") + strVersion + tr(", 是否需要更新？"));
        if (nAnswer != QMessageBox::Ok) {
            m_bOffering = false;
            return;
        }
    }

    m_bCloseWithoutAsking = false;
    ui->btn_cancel_upgrade->setEnabled(true);
    ui->progressBar_upgrade->setMaximum(100);
    ui->progressBar_upgrade->setValue(0);

    const QString strFileName = installerFileName(strVersion);
    m_pDownloadDir.reset(
        new QTemporaryDir(QDir::tempPath() + QStringLiteral("/%1-XXXXXX").arg(COMMON::APPLICATION_NAME)));
    if (!m_pDownloadDir->isValid()) {
        RSLogger::GetInstance()->WriteLog(LOG_ERROR,
                                          QStringLiteral("Cannot create a download folder in %1 (%2)")
                                              .arg(QDir::tempPath(), m_pDownloadDir->errorString()),
                                          "CUpgradeDialog::offerNewVersion");
        m_pDownloadDir.reset();
        MessageBoxShow box(this, QMessageBox::Critical);
        box.showConfirm(tr("更新提示"),
                        QStringLiteral("Program download update failed, please try again later."));
        m_bOffering = false;
        return;
    }
    const QString strLocalPath = m_pDownloadDir->path() + QLatin1Char('/') + strFileName;

    m_pFtpManager->startDownload(installerRemotePath(strVersion), strLocalPath);
    exec();
    m_bOffering = false;
}

void CUpgradeDialog::downloadProgress(qint64 bytesReceived, qint64 bytesTotal)
{
    ui->progressBar_upgrade->setMaximum(clampToInt(bytesTotal));
    ui->progressBar_upgrade->setValue(clampToInt(bytesReceived));
}

void CUpgradeDialog::downloadFinished(bool bSuccess, QString strFilePath, QString strError)
{
    ui->btn_cancel_upgrade->setEnabled(false);
    m_bCloseWithoutAsking = true;
    // The download ended while the user was asked whether to stop it: that
    // question has nothing left to stop, and the next box must not stack
    // on top of it.
    if (m_pStopBox)
        m_pStopBox->dismiss();

    if (bSuccess) {
        MessageBoxShow box(this, QMessageBox::Warning);
        const int nAnswer =
            box.showConfirmCancel(tr("更新提示"), tr("新版本程序安装包已下载完成，是否立即重启安装？"));
        if (nAnswer == QMessageBox::Ok) {
            resetUpgradeTime();
            if (startInstaller(strFilePath)) {
                // The installer now owns its folder.
                if (m_pDownloadDir)
                    m_pDownloadDir->setAutoRemove(false);
                QCoreApplication::quit();
                return;
            }
            // The program keeps running; the file stays where it is so that
            // the user can start it by hand.
            if (m_pDownloadDir)
                m_pDownloadDir->setAutoRemove(false);
            MessageBoxShow failBox(this, QMessageBox::Critical);
            failBox.showConfirm(tr("更新提示"), tr("新版本程序安装包无法启动，请手动运行：") +
                                                    QDir::toNativeSeparators(strFilePath));
            close();
            return;
        }
        removeDownload(strFilePath);
        close();
        return;
    }

    if (!strError.isEmpty()) {
        // The fixed text, then what went wrong, so that a missing file can
        // be told from a broken connection.
        QString strText = strError;
        const QString strWhy = m_pFtpManager->downloadFailure();
        if (!strWhy.isEmpty())
            strText += QStringLiteral("\n(%1)").arg(strWhy);
        MessageBoxShow box(this, QMessageBox::Critical);
        box.showConfirm(tr("更新提示"), strText);
    }
    removeDownload(strFilePath);
    close();
}

void CUpgradeDialog::ftpConnected(bool bConnected, QString strErrorMsg)
{
    if (bConnected)
        return;
    MessageBoxShow box(this, QMessageBox::Critical);
    box.showConfirm(tr("更新提示"), strErrorMsg);
}

bool CUpgradeDialog::startInstaller(const QString& strFilePath)
{
    // On Linux the installer is a program like any other: it needs its
    // execute bit, whatever its name ends with.
    QFile file(strFilePath);
    if (!file.setPermissions(file.permissions() | QFile::ReadOwner | QFile::ExeOwner)) {
        RSLogger::GetInstance()->WriteLog(
            LOG_ERROR, QStringLiteral("Cannot make %1 executable (%2)").arg(strFilePath, file.errorString()),
            "CUpgradeDialog::downloadFinished");
        return false;
    }
    const QString strProgram = QDir::toNativeSeparators(strFilePath);
    qint64 nPid = 0;
    if (!QProcess::startDetached(strProgram, QStringList(), QFileInfo(strFilePath).absolutePath(), &nPid)) {
        RSLogger::GetInstance()->WriteLog(LOG_ERROR,
                                          QStringLiteral("Cannot start the installer %1").arg(strProgram),
                                          "CUpgradeDialog::downloadFinished");
        return false;
    }
    RSLogger::GetInstance()->WriteLog(
        LOG_INFO, QStringLiteral("Installer %1 started (pid %2)").arg(strProgram).arg(nPid),
        "CUpgradeDialog::downloadFinished");
    return true;
}

void CUpgradeDialog::removeDownload(const QString& strFilePath)
{
    QFile::remove(strFilePath);
    // The private folder goes with its file.
    m_pDownloadDir.reset();
}

int CUpgradeDialog::confirmStopDownload()
{
    MessageBoxShow box(this, QMessageBox::Warning);
    m_pStopBox = &box;
    const int nAnswer = box.showConfirmCancel(tr("温馨提示"), tr("是否确认停止下载更新？"));
    m_pStopBox = nullptr;
    if (nAnswer == QMessageBox::Ok) {
        m_bCloseWithoutAsking = true;
        close();
        m_pFtpManager->stopDownload();
    }
    return nAnswer;
}

void CUpgradeDialog::reject()
{
    // Escape comes here without a close event; it asks like the title-bar
    // close button does.
    if (m_bCloseWithoutAsking)
        QDialog::reject();
    else
        close();
}

void CUpgradeDialog::closeEvent(QCloseEvent* event)
{
    // Only the visible download window has something to stop. A download
    // that ended while the question was open has already decided: closing
    // from inside this event is not possible, so the close goes ahead here.
    if (isVisible() && !m_bCloseWithoutAsking && confirmStopDownload() != QMessageBox::Ok &&
        !m_bCloseWithoutAsking) {
        event->ignore();
        return;
    }
    QDialog::closeEvent(event);
}
