#pragma once

#include <QMenu>
#include <QStringList>

// Context menu of the tray icon: the online devices in a submenu, then
// settings, update check, about and quit. It only emits signals; its owner
// connects them and refreshes the device list.
class TrayIconMenu : public QMenu
{
    Q_OBJECT

public:
    explicit TrayIconMenu(QWidget* parent = nullptr);

    // 0 builds the full menu; any other value only the separator and quit.
    void initMenu(int nFlag);
    // Replaces the device submenu's entries; an empty list shows "无" (none).
    // Entries are informative only. Does nothing when the menu has no device
    // submenu.
    void setDeviceList(const QStringList& deviceList);

signals:
    void sigSetting();
    void sigCheckUpdate();
    void sigAbout();
    void sigClose();

private:
    QMenu* m_pDeviceMenu = nullptr;
};
