// The tray icon's menu: its entries in order, their icons and signals, and the
// device submenu as devices come and go.
#include "ui/trayiconmenu.h"

#include <QSignalSpy>
#include <QTest>
#include <QTranslator>

namespace {

// Text of each entry, "-" for a separator, ">" before a submenu's title.
QStringList layout(const QMenu& menu)
{
    QStringList entries;
    for (QAction* action : menu.actions()) {
        if (action->isSeparator())
            entries << QStringLiteral("-");
        else if (action->menu())
            entries << QStringLiteral(">") + action->text();
        else
            entries << action->text();
    }
    return entries;
}

QMenu* deviceMenu(const QMenu& menu)
{
    for (QAction* action : menu.actions())
        if (action->menu())
            return action->menu();
    return nullptr;
}

bool showsImage(const QIcon& icon, const QString& path)
{
    const QImage expected = QImage(path).convertToFormat(QImage::Format_ARGB32_Premultiplied);
    const QImage shown =
        icon.pixmap(expected.size()).toImage().convertToFormat(QImage::Format_ARGB32_Premultiplied);
    return !expected.isNull() && shown == expected;
}

const char* const kSignals[] = {"sigSetting", "sigCheckUpdate", "sigAbout", "sigClose"};

} // namespace

class TestTrayIconMenu : public QObject
{
    Q_OBJECT

private slots:
    void fullMenuListsItsEntriesInOrder();
    void entriesCarryTheirIcons_data();
    void entriesCarryTheirIcons();
    void otherFlagBuildsOnlyQuit();
    void buildingAgainDoesNotDuplicateEntries();
    void eachEntryEmitsOnlyItsSignal_data();
    void eachEntryEmitsOnlyItsSignal();
    void deviceListFollowsTheDevices_data();
    void deviceListFollowsTheDevices();
    void deviceEntriesEmitNothing();
    void deviceListWithoutSubmenuIsIgnored();
    void entriesFollowTheInstalledLanguage_data();
    void entriesFollowTheInstalledLanguage();
};

void TestTrayIconMenu::fullMenuListsItsEntriesInOrder()
{
    TrayIconMenu menu;
    QCOMPARE(menu.objectName(), QStringLiteral("TrayIconMenu"));
    QVERIFY(menu.actions().isEmpty());
    menu.initMenu(0);
    QCOMPARE(layout(menu), (QStringList{">设备列表", "-", "设置", "检查更新", "关于", "-", "退出"}));
    QMenu* devices = deviceMenu(menu);
    QVERIFY(devices);
    QCOMPARE(devices->parent(), &menu);
    QCOMPARE(layout(*devices), QStringList{"无"});
    QVERIFY(devices->actions().first()->icon().isNull());
}

void TestTrayIconMenu::entriesCarryTheirIcons_data()
{
    QTest::addColumn<int>("position");
    QTest::addColumn<QString>("image");
    QTest::newRow("devices") << 0 << ":/Resource/devicelist.png";
    QTest::newRow("settings") << 2 << ":/Resource/setting.png";
    QTest::newRow("update") << 3 << ":/Resource/upgrade.png";
    QTest::newRow("about") << 4 << ":/Resource/about.png";
    QTest::newRow("quit") << 6 << ":/Resource/quit.png";
}

void TestTrayIconMenu::entriesCarryTheirIcons()
{
    QFETCH(int, position);
    QFETCH(QString, image);
    TrayIconMenu menu;
    menu.initMenu(0);
    QVERIFY(showsImage(menu.actions().at(position)->icon(), image));
}

void TestTrayIconMenu::otherFlagBuildsOnlyQuit()
{
    for (int flag : {1, -1, 7}) {
        TrayIconMenu menu;
        menu.initMenu(flag);
        QCOMPARE(layout(menu), (QStringList{"-", "退出"}));
        QVERIFY(!deviceMenu(menu));
    }
}

void TestTrayIconMenu::buildingAgainDoesNotDuplicateEntries()
{
    TrayIconMenu menu;
    menu.initMenu(0);
    menu.setDeviceList({QStringLiteral("ZRN(01)")});
    menu.initMenu(0);
    QCOMPARE(layout(menu), (QStringList{">设备列表", "-", "设置", "检查更新", "关于", "-", "退出"}));
    QCOMPARE(menu.findChildren<QMenu*>().size(), 1);
    QCOMPARE(layout(*deviceMenu(menu)), QStringList{"无"});
}

void TestTrayIconMenu::eachEntryEmitsOnlyItsSignal_data()
{
    QTest::addColumn<int>("position");
    QTest::addColumn<QString>("signal");
    QTest::newRow("settings") << 2 << "sigSetting";
    QTest::newRow("update") << 3 << "sigCheckUpdate";
    QTest::newRow("about") << 4 << "sigAbout";
    QTest::newRow("quit") << 6 << "sigClose";
}

void TestTrayIconMenu::eachEntryEmitsOnlyItsSignal()
{
    QFETCH(int, position);
    QFETCH(QString, signal);
    TrayIconMenu menu;
    menu.initMenu(0);

    QList<QSharedPointer<QSignalSpy>> spies;
    for (const char* name : kSignals) {
        const QByteArray signature = QByteArray("2") + name + "()";
        spies << QSharedPointer<QSignalSpy>::create(&menu, signature.constData());
        QVERIFY(spies.last()->isValid());
    }
    menu.actions().at(position)->trigger();
    for (int i = 0; i < spies.size(); ++i)
        QCOMPARE(spies.at(i)->count(), QLatin1String(kSignals[i]) == signal ? 1 : 0);
}

void TestTrayIconMenu::deviceListFollowsTheDevices_data()
{
    QTest::addColumn<QList<QStringList>>("updates");
    QTest::addColumn<QStringList>("shown");
    QTest::newRow("none") << QList<QStringList>{{}} << QStringList{"无"};
    QTest::newRow("two in list order")
        << QList<QStringList>{{"ZRN(B2)", "ZRN(A1)"}} << QStringList{"ZRN(B2)", "ZRN(A1)"};
    QTest::newRow("last leaves") << QList<QStringList>{{"ZRN(A1)"}, {}} << QStringList{"无"};
    QTest::newRow("one replaced by another")
        << QList<QStringList>{{"ZRN(A1)", "ZRN(B2)"}, {"ZRN(C3)"}} << QStringList{"ZRN(C3)"};
}

void TestTrayIconMenu::deviceListFollowsTheDevices()
{
    QFETCH(QList<QStringList>, updates);
    QFETCH(QStringList, shown);
    TrayIconMenu menu;
    menu.initMenu(0);
    for (const QStringList& update : updates)
        menu.setDeviceList(update);

    QMenu* devices = deviceMenu(menu);
    QVERIFY(devices);
    QCOMPARE(layout(*devices), shown);
    const bool none = shown == QStringList{QStringLiteral("无")};
    for (QAction* action : devices->actions()) {
        if (none)
            QVERIFY(action->icon().isNull());
        else
            QVERIFY(showsImage(action->icon(), QStringLiteral(":/Resource/online.png")));
    }
    // The rest of the menu is untouched.
    QCOMPARE(layout(menu).size(), 7);
}

void TestTrayIconMenu::deviceEntriesEmitNothing()
{
    TrayIconMenu menu;
    menu.initMenu(0);
    menu.setDeviceList({QStringLiteral("ZRN(A1)")});
    QList<QSharedPointer<QSignalSpy>> spies;
    for (const char* name : kSignals)
        spies << QSharedPointer<QSignalSpy>::create(&menu, (QByteArray("2") + name + "()").constData());
    deviceMenu(menu)->actions().first()->trigger();
    for (const auto& spy : spies)
        QCOMPARE(spy->count(), 0);
}

void TestTrayIconMenu::deviceListWithoutSubmenuIsIgnored()
{
    TrayIconMenu unbuilt;
    unbuilt.setDeviceList({QStringLiteral("ZRN(A1)")});
    QVERIFY(unbuilt.actions().isEmpty());

    TrayIconMenu quitOnly;
    quitOnly.initMenu(1);
    quitOnly.setDeviceList({QStringLiteral("ZRN(A1)")});
    QCOMPARE(layout(quitOnly), (QStringList{"-", "退出"}));
}

void TestTrayIconMenu::entriesFollowTheInstalledLanguage_data()
{
    QTest::addColumn<QString>("catalogue");
    QTest::addColumn<QStringList>("entries");
    QTest::addColumn<QString>("none");
    QTest::newRow("zh_CN") << ":/zh_CN.qm"
                           << QStringList{">设备列表", "-", "设置", "检查更新", "关于", "-", "退出"} << "无";
    QTest::newRow("zh_TW") << ":/zh_TW.qm"
                           << QStringList{">裝置列表", "-", "設定", "檢查更新", "關於", "-", "結束"} << "無";
    QTest::newRow("eg_EN") << ":/eg_EN.qm"
                           << QStringList{">Devices", "-", "Settings", "Update", "About", "-", "Quit"}
                           << "None";
}

void TestTrayIconMenu::entriesFollowTheInstalledLanguage()
{
    QFETCH(QString, catalogue);
    QFETCH(QStringList, entries);
    QFETCH(QString, none);

    QTranslator translator;
    QVERIFY(translator.load(catalogue, QString(), QString(), QString()));
    QCoreApplication::installTranslator(&translator);
    TrayIconMenu menu;
    menu.initMenu(0);
    menu.setDeviceList({QStringLiteral("ZRN(A1)")});
    menu.setDeviceList({});
    QCoreApplication::removeTranslator(&translator);

    QCOMPARE(layout(menu), entries);
    QCOMPARE(layout(*deviceMenu(menu)), QStringList{none});
}

QTEST_MAIN(TestTrayIconMenu)
#include "tst_trayiconmenu.moc"
