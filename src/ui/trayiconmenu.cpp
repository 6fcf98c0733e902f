#include "ui/trayiconmenu.h"

TrayIconMenu::TrayIconMenu(QWidget* parent) : QMenu(parent)
{
    setObjectName(QStringLiteral("TrayIconMenu"));
}

void TrayIconMenu::initMenu(int nFlag)
{
    // Building again starts from an empty menu instead of adding a second set.
    clear();
    delete m_pDeviceMenu;
    m_pDeviceMenu = nullptr;

    if (nFlag == 0) {
        m_pDeviceMenu = new QMenu(tr("设备列表"), this);
        m_pDeviceMenu->setIcon(QIcon(QStringLiteral(":/Resource/devicelist.png")));
        m_pDeviceMenu->addAction(tr("无"));
        addMenu(m_pDeviceMenu);
        addSeparator();
        addAction(QIcon(QStringLiteral(":/Resource/setting.png")), tr("设置"), this,
                  &TrayIconMenu::sigSetting);
        addAction(QIcon(QStringLiteral(":/Resource/upgrade.png")), tr("检查更新"), this,
                  &TrayIconMenu::sigCheckUpdate);
        addAction(QIcon(QStringLiteral(":/Resource/about.png")), tr("关于"), this, &TrayIconMenu::sigAbout);
    }
    addSeparator();
    addAction(QIcon(QStringLiteral(":/Resource/quit.png")), tr("退出"), this, &TrayIconMenu::sigClose);
}

void TrayIconMenu::setDeviceList(const QStringList& deviceList)
{
    if (!m_pDeviceMenu)
        return;
    m_pDeviceMenu->clear();
    if (deviceList.isEmpty()) {
        m_pDeviceMenu->addAction(tr("无"));
        return;
    }
    const QIcon online(QStringLiteral(":/Resource/online.png"));
    for (const QString& device : deviceList)
        m_pDeviceMenu->addAction(online, device);
}
