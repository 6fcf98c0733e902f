#include "mainwindow.h"

#include "app/common.h"
#include "app/commontools.h"
#include "app/rslogger.h"
#include "device/backends/devicechangemonitor.h"
#include "device/circulardisplaytimer.h"
#include "device/sendhiddatathread.h"
#include "sensors/hardwareinforeader.h"
#include "ui/caboutdlg.h"
#include "ui/csettingdlg.h"
#include "ui/messageboxshow.h"
#include "ui_mainwindow.h"
#include "update/cupgradedialog.h"

#include <QCloseEvent>
#include <QFile>
#include <QMessageBox>
#include <QTimer>

MainWindow::MainWindow(QWidget* parent)
    : QMainWindow(parent), ui(new Ui::MainWindow), m_pHidBackend(createHidBackend()),
      m_hidDevicesManager(m_pHidBackend)
{
    ui->setupUi(this);

    setMouseTracking(true);
    setMinimumSize(960, 580);
    setObjectName(QStringLiteral("MainWindow"));
    setWindowTitle(tr("设备监测软件") + QStringLiteral("（") + COMMON::SOFTWARE_VERSION +
                   QStringLiteral("）"));
    ui->tableWidget_HIDDevicesTable->setEditTriggers(QAbstractItemView::NoEditTriggers);

    m_nTemperatureUnit = CommonTools::GetSettingInt(COMMON::KEY_TEMPERATURE_UNIT);

    LoadAppStyleSheet();
    initTrayIcon();

    HardwareInfoReader* reader = HardwareInfoReader::GetInstance();
    connect(reader, SIGNAL(signalsGetHardwareInfo(COMMON::HardwareInfo)), this,
            SLOT(onReadHardwareInfo(COMMON::HardwareInfo)));
    reader->StartReading(500);

    CircularDisplayTimer::GetInstance()->start();

    m_pSendHIDDataThread = new SendHIDDataThread(m_pHidBackend, this);
    connect(reader, SIGNAL(signalsGetHardwareInfo(COMMON::HardwareInfo)), m_pSendHIDDataThread,
            SLOT(onSetHardwareData(COMMON::HardwareInfo)));
    m_pSendHIDDataThread->start(QThread::InheritPriority);
    m_pSendHIDDataThread->pauseSending();

    // The monitor is enabled before the scan, so nothing slips between them.
    // Identification runs off this thread; each result comes back through
    // onDeviceChange like an arrival does.
    if (DeviceChangeMonitor* monitor = m_hidDevicesManager.registerNotify(this))
        connect(monitor, &DeviceChangeMonitor::deviceChanged, this, &MainWindow::onDeviceChange);
    connect(&m_hidDevicesManager, &HIDDevicesManager::identificationFinished, this,
            &MainWindow::onDeviceChange);
    m_hidDevicesManager.scanDevices();
    refreshDevices();

    m_pUpgradeDialog = new CUpgradeDialog(this);
    m_pUpgradeDialog->checkUpdate(true);

    m_pSettingDlg = new CSettingDlg(this);
    connect(m_pSettingDlg, SIGNAL(settingInfoChanged(QString, QString)), this,
            SLOT(onSettingInfoChanged(QString, QString)));
    connect(m_pSettingDlg, SIGNAL(settingInfoChanged(QString, QString)), m_pSendHIDDataThread,
            SLOT(onSettingValueChanged(QString, QString)));
    // The user's choice of sensors reaches the reader by the same route.
    connect(m_pSettingDlg, SIGNAL(settingInfoChanged(QString, QString)), reader,
            SLOT(onSettingValueChanged(QString, QString)));
    m_pSettingDlg->setSensorCandidateSource([reader](int nKind) { return reader->Candidates(nKind); });
}

MainWindow::~MainWindow()
{
    delete m_pUpgradeDialog;
    m_pUpgradeDialog = nullptr;
    delete m_pSettingDlg;
    m_pSettingDlg = nullptr;
    delete ui;
    ui = nullptr;
    // The registry and the tray menu go with the members; the tray icon, the
    // about dialog and the report sender (which stops and joins its thread)
    // go with the children.
}

void MainWindow::LoadAppStyleSheet()
{
    QFile file(QStringLiteral(":/Resource/QssConfig/Application.qss"));
    if (file.open(QIODevice::ReadOnly)) {
        setStyleSheet(QString::fromUtf8(file.readAll()));
        file.close();
    } else {
        RSLogger::GetInstance()->WriteLog(
            LOG_ERROR,
            QStringLiteral(
                "Load application stylesheet file failed.  (:/Resource/QssConfig/Application.qss)"),
            "MainWindow::LoadAppStyleSheet");
    }
}

void MainWindow::initTrayIcon()
{
    m_pTrayIcon = new QSystemTrayIcon(this);
    m_trayIconMenu.initMenu(0);
    m_pTrayIcon->setContextMenu(&m_trayIconMenu);
    m_pTrayIcon->setIcon(QIcon(QStringLiteral(":/Resource/favicon.ico")));
    m_pTrayIcon->setToolTip(tr("设备检测软件 - 监测中"));
    m_pTrayIcon->setVisible(true);

    connect(m_pTrayIcon, SIGNAL(activated(QSystemTrayIcon::ActivationReason)), this,
            SLOT(onTrayIconActived(QSystemTrayIcon::ActivationReason)));
    connect(&m_trayIconMenu, SIGNAL(sigSetting()), this, SLOT(onSetting()));
    connect(&m_trayIconMenu, SIGNAL(sigCheckUpdate()), this, SLOT(onCheckUpdate()));
    connect(&m_trayIconMenu, SIGNAL(sigAbout()), this, SLOT(onAbout()));
    connect(&m_trayIconMenu, SIGNAL(sigClose()), this, SLOT(onQuitApplication()));

    // A session may start us before its panel is up, and some desktops have
    // no tray at all: wait for one rather than vanish. A later start of the
    // program still brings the settings forward meanwhile.
    if (!QSystemTrayIcon::isSystemTrayAvailable()) {
        RSLogger::GetInstance()->WriteLog(
            LOG_WARNING,
            QStringLiteral(
                "No system tray is available; waiting for one. Start the program again to open its "
                "settings."),
            "MainWindow::initTrayIcon");
        m_pTrayWaitTimer = new QTimer(this);
        m_pTrayWaitTimer->setInterval(2000);
        connect(m_pTrayWaitTimer, &QTimer::timeout, this, &MainWindow::onTrayAvailabilityCheck);
        m_pTrayWaitTimer->start();
    }
}

void MainWindow::onTrayAvailabilityCheck()
{
    if (!QSystemTrayIcon::isSystemTrayAvailable())
        return;
    m_pTrayWaitTimer->stop();
    if (m_pTrayIcon->isVisible()) {
        // Register again now that somebody listens.
        m_pTrayIcon->hide();
        m_pTrayIcon->show();
    }
    RSLogger::GetInstance()->WriteLog(LOG_INFO, QStringLiteral("System tray is available."),
                                      "MainWindow::onTrayAvailabilityCheck");
}

void MainWindow::onReadHardwareInfo(COMMON::HardwareInfo hardwareInfo)
{
    if (!CommonTools::IsFahrenheit(m_nTemperatureUnit)) {
        ui->lineEdit_CPUTemperature->setText(hardwareInfo.strCPUTemperature + QStringLiteral("℃"));
        ui->lineEdit_GPUTemperature->setText(hardwareInfo.strGPUTemperature + QStringLiteral("℃"));
    } else {
        // A text that is no number ("--": no reading) is shown as it is, as
        // in Celsius; converting its 0 would show a made-up 32℉. A number is
        // converted from the same whole degrees the report sender sends.
        const auto fahrenheit = [](const QString& text) {
            bool ok = false;
            text.toDouble(&ok);
            return (ok ? QString::number(CommonTools::CelsiusToFahrenheit(COMMON::readingToInt(text)))
                       : text) +
                   QStringLiteral("℉");
        };
        ui->lineEdit_CPUTemperature->setText(fahrenheit(hardwareInfo.strCPUTemperature));
        ui->lineEdit_GPUTemperature->setText(fahrenheit(hardwareInfo.strGPUTemperature));
    }
    ui->lineEdit_CPUUsageRate->setText(hardwareInfo.strCPUUsageRate + QStringLiteral("%"));
    ui->lineEdit_GPUUsageRate->setText(hardwareInfo.strGPUUsageRate + QStringLiteral("%"));
    ui->lineEdit_FanRpm->setText(hardwareInfo.strFanRpm + tr("RPM"));
}

void MainWindow::onQuitApplication()
{
    MessageBoxShow box(this, QMessageBox::Question);
    if (box.showConfirmCancel(tr("温馨提示"), tr("您确认要退出程序？")) == QMessageBox::Ok) {
        m_pTrayIcon->hide();
        close();
    }
}

void MainWindow::onTrayIconActived(QSystemTrayIcon::ActivationReason reason)
{
    // Trays that show the icon as a D-Bus status notifier item (Plasma,
    // GNOME's AppIndicator extension, Xfce, LXQt) deliver a click as Trigger
    // and never a double click; old XEmbed trays deliver the double click.
    // The middle click and the context request do nothing here.
    const bool bOpen = reason == QSystemTrayIcon::DoubleClick || reason == QSystemTrayIcon::Trigger;
    if (bOpen && m_pSettingDlg) {
        m_pSettingDlg->showNormal();
        m_pSettingDlg->activateWindow();
    }
}

void MainWindow::onCheckUpdate()
{
    if (m_pUpgradeDialog)
        m_pUpgradeDialog->checkUpdate(false);
}

void MainWindow::onAbout()
{
    const HIDDeviceMap devices = m_hidDevicesManager.devices();
    const HIDDeviceInfo* first = devices.isEmpty() ? nullptr : &devices.first();
    if (m_pAboutDlg) {
        m_pAboutDlg->setDeviceVersions(first);
        m_pAboutDlg->showNormal();
        m_pAboutDlg->activateWindow();
    } else {
        m_pAboutDlg = new CAboutDlg(this);
        m_pAboutDlg->setDeviceVersions(first);
        m_pAboutDlg->exec();
    }
}

void MainWindow::onSetting()
{
    if (m_pSettingDlg) {
        m_pSettingDlg->showNormal();
        m_pSettingDlg->activateWindow();
    }
}

void MainWindow::onSettingInfoChanged(QString strSettingName, QString strSettingValue)
{
    const int nValue = CommonTools::SettingValueToInt(strSettingName, strSettingValue);
    CircularDisplayTimer* rotation = CircularDisplayTimer::GetInstance();
    if (strSettingName == COMMON::KEY_CHANGE_INTERVAL) {
        rotation->setChangeInterval(nValue);
    } else if (strSettingName == COMMON::KEY_TEMPERATURE_UNIT) {
        m_nTemperatureUnit = nValue;
    } else if (strSettingName == COMMON::KEY_DISPLAY_CPU_TEMP) {
        nValue != 0 ? rotation->addDisplayItem(HidReport::ITEM_CPU_TEMPERATURE)
                    : rotation->removeDisplayItem(HidReport::ITEM_CPU_TEMPERATURE);
    } else if (strSettingName == COMMON::KEY_DISPLAY_GPU_TEMP) {
        nValue != 0 ? rotation->addDisplayItem(HidReport::ITEM_GPU_TEMPERATURE)
                    : rotation->removeDisplayItem(HidReport::ITEM_GPU_TEMPERATURE);
    } else if (strSettingName == COMMON::KEY_DISPLAY_FAN_RPM) {
        nValue != 0 ? rotation->addDisplayItem(HidReport::ITEM_FAN_RPM)
                    : rotation->removeDisplayItem(HidReport::ITEM_FAN_RPM);
    }
}

void MainWindow::closeEvent(QCloseEvent* event)
{
    if (m_pTrayIcon && m_pTrayIcon->isVisible()) {
        hide();
        event->ignore();
    } else {
        event->accept();
    }
}

void MainWindow::onDeviceChange(const DeviceChangeEvent& event)
{
    const int nBefore = m_hidDevicesManager.devices().size();
    m_hidDevicesManager.handleDeviceChange(event);
    if (m_hidDevicesManager.devices().size() != nBefore)
        refreshDevices();
}

void MainWindow::refreshDevices()
{
    CircularDisplayTimer* rotation = CircularDisplayTimer::GetInstance();
    if (!m_hidDevicesManager.devices().isEmpty()) {
        if (!rotation->isActive())
            rotation->start();
        if (m_pSendHIDDataThread->isRunning())
            m_pSendHIDDataThread->resumeSending();
    } else {
        if (m_pSendHIDDataThread->isRunning())
            m_pSendHIDDataThread->pauseSending();
        if (rotation->isActive())
            rotation->stop();
    }
    m_pSendHIDDataThread->setDevices(m_hidDevicesManager.devices());
    updateDeviceTable();
}

void MainWindow::updateDeviceTable()
{
    QTableWidget* table = ui->tableWidget_HIDDevicesTable;
    table->clearContents();
    table->setRowCount(0);

    QStringList onlineDevices;
    QStringList logged;
    const HIDDeviceMap devices = m_hidDevicesManager.devices();
    int nRow = 0;
    for (const HIDDeviceInfo& info : devices) {
        table->insertRow(nRow);
        const QString cells[6] = {
            info.strUUID,      info.strVID, info.strPID, info.strSoftwareVersion, info.strHardwareVersion,
            info.strDevicePath};
        for (int column = 0; column < 6; ++column)
            table->setItem(nRow, column, new QTableWidgetItem(cells[column]));
        ++nRow;
        if (info.strVID == COMMON::DEVICE_VID && info.strPID == COMMON::DEVICE_PID) {
            onlineDevices.append(QStringLiteral("%1(%2)").arg(COMMON::MODEL_CODE, info.strUUID));
            logged.append(onlineDevices.last() + QStringLiteral(" at ") + info.strDevicePath);
        }
    }
    m_trayIconMenu.setDeviceList(onlineDevices);
    // Which displays the user sees, whenever that changes: the run log then
    // tells when a display came and went.
    if (logged != m_loggedDevices) {
        m_loggedDevices = logged;
        RSLogger::GetInstance()->WriteLog(
            LOG_INFO,
            QStringLiteral("Tray device list: %1")
                .arg(logged.isEmpty() ? QStringLiteral("none") : logged.join(QStringLiteral(", "))),
            "MainWindow::updateDeviceTable");
    }
}
