#pragma once

#include "device/hiddevicesmanager.h"
#include "sensors/hardwareinfo.h"
#include "ui/trayiconmenu.h"

#include <QMainWindow>
#include <QSystemTrayIcon>

namespace Ui {
class MainWindow;
}

class CAboutDlg;
class CSettingDlg;
class CUpgradeDialog;
class SendHIDDataThread;
class QTimer;

// The hub of the running program: creates, wires and starts every
// long-lived object, keeps the (hidden) readings panel and device table
// current and routes device arrival and removal to the registry.
class MainWindow : public QMainWindow
{
    Q_OBJECT

public:
    explicit MainWindow(QWidget* parent = nullptr);
    ~MainWindow() override;

    CSettingDlg* settingDialog() const { return m_pSettingDlg; }
    CUpgradeDialog* upgradeDialog() const { return m_pUpgradeDialog; }
    CAboutDlg* aboutDialog() const { return m_pAboutDlg; }
    QSystemTrayIcon* trayIcon() const { return m_pTrayIcon; }
    TrayIconMenu& trayMenu() { return m_trayIconMenu; }
    SendHIDDataThread* reportSender() const { return m_pSendHIDDataThread; }
    const HIDDevicesManager& deviceRegistry() const { return m_hidDevicesManager; }

public slots:
    void onReadHardwareInfo(COMMON::HardwareInfo hardwareInfo);
    void onQuitApplication();
    void onTrayIconActived(QSystemTrayIcon::ActivationReason reason);
    void onCheckUpdate();
    void onAbout();
    void onSetting();
    void onSettingInfoChanged(QString strSettingName, QString strSettingValue);
    // Arrival and removal of a device interface, from the platform's monitor.
    void onDeviceChange(const DeviceChangeEvent& event);

protected:
    void closeEvent(QCloseEvent* event) override;

private slots:
    void onTrayAvailabilityCheck();

private:
    void LoadAppStyleSheet();
    void initTrayIcon();
    void refreshDevices();
    void updateDeviceTable();

    Ui::MainWindow* ui = nullptr;
    CSettingDlg* m_pSettingDlg = nullptr;
    CAboutDlg* m_pAboutDlg = nullptr;
    CUpgradeDialog* m_pUpgradeDialog = nullptr;
    TrayIconMenu m_trayIconMenu;
    // The tray list as last shown, each entry with its device path, for the
    // run log.
    QStringList m_loggedDevices;
    QSystemTrayIcon* m_pTrayIcon = nullptr;
    int m_nTemperatureUnit = 0;
    SendHIDDataThread* m_pSendHIDDataThread = nullptr;
    // The one HID backend, shared by the registry and the report sender.
    std::shared_ptr<HidBackend> m_pHidBackend;
    HIDDevicesManager m_hidDevicesManager;
    QTimer* m_pTrayWaitTimer = nullptr;
};
