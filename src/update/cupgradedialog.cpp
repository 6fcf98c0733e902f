#include "cupgradedialog.h"

#include "app/common.h"
#include "app/commontools.h"
#include "app/rslogger.h"
#include "ui/messageboxshow.h"
#include "update/ftpmanager.h"
#include "update/packagesignature.h"

#include "ui_cupgradedialog.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMessageBox>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTimer>

#include <climits>

namespace {

int clampToInt(qint64 value)
{
    return static_cast<int>(qBound<qint64>(0, value, INT_MAX));
}

// The path as one word for a POSIX shell, quoted only where it needs it.
QString shellQuoted(const QString& strPath)
{
    static const QRegularExpression kPlain(QStringLiteral("^[A-Za-z0-9_./+:-]+$"));
    if (kPlain.match(strPath).hasMatch())
        return strPath;
    QString strQuoted = strPath;
    strQuoted.replace(QLatin1Char('\''), QStringLiteral("'\\''"));
    return QLatin1Char('\'') + strQuoted + QLatin1Char('\'');
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
#ifdef Q_OS_WIN
    return QStringLiteral("%1Setup_%2.exe").arg(COMMON::APPLICATION_NAME, strVersion);
#else
    // The package scripts/package builds: the version without its "V" and
    // the Debian architecture this program was built for.
    return QStringLiteral("varnoks-pilot_%1_%2.deb").arg(strVersion.mid(1), QStringLiteral(VARNOKS_DEB_ARCH));
#endif
}

bool CUpgradeDialog::installerIsSigned()
{
#ifdef Q_OS_WIN
    return false;
#else
    return true;
#endif
}

bool CUpgradeDialog::isVersionWithoutPackage(const QString& strVersion)
{
    return !strVersion.isEmpty() &&
           CommonTools::GetSettingValue(UpdateLogic::KEY_VERSION_WITHOUT_PACKAGE, QString()).toString() ==
               strVersion;
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
    // A version found without a package for this system is not offered
    // again by itself; a newer one, or a check the user asks for, offers
    // again (and finds out whether the package has arrived meanwhile).
    if (m_bAutoCheck && isVersionWithoutPackage(strNewestVersion)) {
        RSLogger::GetInstance()->WriteLog(
            LOG_INFO,
            QStringLiteral("%1: no Linux package for this version yet; not offered again.")
                .arg(strNewestVersion),
            "CUpgradeDialog::onExistNewVersionApp");
        strNewestVersion.clear();
    }
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

    m_pFtpManager->startDownload(installerRemotePath(strVersion), strLocalPath, installerIsSigned());
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

    if (!bSuccess && m_pFtpManager->downloadMissing() != FtpDownload::Missing::Nothing) {
        removeDownload(strFilePath);
        reportMissingFiles(strFilePath);
        close();
        return;
    }
    // Nothing is done with a package whose signature does not hold, not
    // even the question; it is gone before the user reads why.
    QString strRejected;
    if (bSuccess && installerIsSigned() && !verifyDownload(strFilePath, &strRejected)) {
        removeDownload(strFilePath);
        MessageBoxShow box(this, QMessageBox::Critical);
        box.showConfirm(tr("更新提示"), tr("新版本程序安装包未安装：") + strRejected);
        close();
        return;
    }

    if (bSuccess) {
        MessageBoxShow box(this, QMessageBox::Warning);
        const int nAnswer =
            box.showConfirmCancel(tr("更新提示"), tr("新版本程序安装包已下载完成，是否立即重启安装？"));
        if (nAnswer == QMessageBox::Ok) {
            resetUpgradeTime();
            // Whatever happens next, the package stays: with the installer
            // that opened it, or for the user to install by hand.
            if (m_pDownloadDir)
                m_pDownloadDir->setAutoRemove(false);
            if (handOverPackage(strFilePath)) {
                QCoreApplication::quit();
                return;
            }
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

void CUpgradeDialog::reportMissingFiles(const QString& strFilePath)
{
    const QString strVersion = getUpgradeVersion();
    if (m_pFtpManager->downloadMissing() == FtpDownload::Missing::Package) {
        RSLogger::GetInstance()->WriteLog(
            LOG_WARNING,
            QStringLiteral("%1: no Linux package for this version yet (%2 is not on the server).")
                .arg(strVersion, QFileInfo(strFilePath).fileName()),
            "CUpgradeDialog::downloadFinished");
        // No reminder, and not offered again by itself until the server
        // shows another version.
        resetUpgradeTime();
        m_pCheckTimer->stop();
        CommonTools::SetSettingValue(UpdateLogic::KEY_VERSION_WITHOUT_PACKAGE, strVersion);
        MessageBoxShow box(this, QMessageBox::Information);
        box.showConfirm(tr("更新提示"), tr("该版本暂无 Linux 安装包"));
        return;
    }
    RSLogger::GetInstance()->WriteLog(LOG_ERROR,
                                      QStringLiteral("%1.minisig is not on the server; %1 is not installed.")
                                          .arg(QFileInfo(strFilePath).fileName()),
                                      "CUpgradeDialog::downloadFinished");
    MessageBoxShow box(this, QMessageBox::Critical);
    box.showConfirm(tr("更新提示"), tr("新版本程序安装包未安装：") + tr("缺少签名"));
}

bool CUpgradeDialog::verifyDownload(const QString& strFilePath, QString* pReason)
{
    using namespace PackageSignature;
    const QString strKeysDir = trustedKeysDir();
    QStringList problems;
    const QList<PublicKey> keys = loadTrustedKeys(strKeysDir, &problems);
    for (const QString& strProblem : problems)
        RSLogger::GetInstance()->WriteLog(LOG_WARNING,
                                          QStringLiteral("Update key not used: %1").arg(strProblem),
                                          "CUpgradeDialog::verifyDownload");

    QFile signatureFile(strFilePath + QStringLiteral(".minisig"));
    QByteArray signature;
    if (signatureFile.open(QIODevice::ReadOnly))
        signature = signatureFile.read(MAX_SIGNATURE_FILE_BYTES + 1);
    const Verdict verdict = verifyFile(strFilePath, signature, keys);
    const QString strKey = verdict.keyId.isEmpty() ? QStringLiteral("unknown") : verdict.keyId;
    if (verdict.outcome == Outcome::Good) {
        RSLogger::GetInstance()->WriteLog(
            LOG_INFO, QStringLiteral("Signature of %1 holds (key %2).").arg(strFilePath, strKey),
            "CUpgradeDialog::verifyDownload");
        return true;
    }

    QString strReason;
    if (verdict.outcome == Outcome::NoTrustedKey)
        strReason = tr("此版本程序未带可信的签名公钥，不能安装更新");
    else if (verdict.outcome == Outcome::Unreadable)
        strReason = tr("安装包无法读取");
    else
        strReason = tr("签名不匹配");
    RSLogger::GetInstance()->WriteLog(
        LOG_ERROR,
        QStringLiteral(
            "Signature check of %1 failed, key %2: %3 (trusted keys: %4, %5 found). The file is removed.")
            .arg(strFilePath, strKey, verdict.detail, strKeysDir)
            .arg(keys.size()),
        "CUpgradeDialog::verifyDownload");
    *pReason = strReason;
    return false;
}

void CUpgradeDialog::ftpConnected(bool bConnected, QString strErrorMsg)
{
    if (bConnected)
        return;
    MessageBoxShow box(this, QMessageBox::Critical);
    box.showConfirm(tr("更新提示"), strErrorMsg);
}

bool CUpgradeDialog::handOverPackage(const QString& strFilePath)
{
    // The desktop's handler for Debian packages (a software centre, which
    // installs through PackageKit) is asked for through xdg-utils. xdg-open
    // only uses desktop handlers when there is a display; without one it
    // would try other programs, so it is not asked then.
    const QString strMimeType = QStringLiteral("application/vnd.debian.binary-package");
    QString strHandler;
    QProcess query;
    query.setProcessChannelMode(QProcess::SeparateChannels);
    query.start(QStringLiteral("xdg-mime"),
                {QStringLiteral("query"), QStringLiteral("default"), strMimeType});
    if (query.waitForFinished(10000) && query.exitStatus() == QProcess::NormalExit && query.exitCode() == 0)
        strHandler = QString::fromLocal8Bit(query.readAllStandardOutput().left(1024)).trimmed();
    else
        query.kill();
    const bool bDisplay =
        qEnvironmentVariableIsSet("DISPLAY") || qEnvironmentVariableIsSet("WAYLAND_DISPLAY");

    const QString strCommand = QStringLiteral("sudo apt install ") + shellQuoted(strFilePath);
    if (strHandler.isEmpty() || !bDisplay) {
        RSLogger::GetInstance()->WriteLog(
            LOG_WARNING,
            QStringLiteral("No handler for %1 (%2); the package stays at %3 for: %4")
                .arg(strMimeType,
                     bDisplay ? QStringLiteral("xdg-mime names none") : QStringLiteral("no display"),
                     strFilePath, strCommand),
            "CUpgradeDialog::handOverPackage");
        MessageBoxShow box(this, QMessageBox::Information);
        box.showConfirm(tr("更新提示"), tr("没有找到可以安装软件包的程序，请在终端中运行：") +
                                            QLatin1Char('\n') + strCommand);
        return false;
    }
    qint64 nPid = 0;
    if (!QProcess::startDetached(QStringLiteral("xdg-open"), {strFilePath}, QDir::homePath(), &nPid)) {
        RSLogger::GetInstance()->WriteLog(
            LOG_ERROR,
            QStringLiteral("Cannot run xdg-open for %1; the package stays for: %2")
                .arg(strFilePath, strCommand),
            "CUpgradeDialog::handOverPackage");
        MessageBoxShow box(this, QMessageBox::Critical);
        box.showConfirm(tr("更新提示"),
                        tr("新版本程序安装包无法启动，请手动运行：") + QLatin1Char('\n') + strCommand);
        return false;
    }
    RSLogger::GetInstance()->WriteLog(
        LOG_INFO, QStringLiteral("%1 handed to %2 (xdg-open, pid %3)").arg(strFilePath, strHandler).arg(nPid),
        "CUpgradeDialog::handOverPackage");
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
