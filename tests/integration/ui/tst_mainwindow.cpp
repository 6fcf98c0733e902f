#include "app/common.h"
#include "app/commontools.h"
#include "boxanswerer.h"
#include "device/circulardisplaytimer.h"
#include "devsimdriver.h"
#include "sensors/hardwareinfo.h"
#include "testenv.h"
#include "ui/caboutdlg.h"
#include "ui/mainwindow.h"

#include "ui/csettingdlg.h"
#include <QAbstractButton>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QSpinBox>
#include <QTableWidget>
#include <QTranslator>
#include <QtTest>

#include <functional>

namespace {

QStringList deviceMenuTexts(MainWindow& window)
{
    QStringList texts;
    for (QAction* action : window.trayMenu().actions()) {
        if (QMenu* sub = action->menu()) {
            for (QAction* entry : sub->actions())
                texts << entry->text();
        }
    }
    return texts;
}

QStringList tableColumn(MainWindow& window, int column)
{
    auto* table = window.findChild<QTableWidget*>("tableWidget_HIDDevicesTable");
    QStringList texts;
    for (int row = 0; table && row < table->rowCount(); ++row)
        texts << (table->item(row, column) ? table->item(row, column)->text() : QStringLiteral("<none>"));
    return texts;
}

QString field(MainWindow& window, const char* name)
{
    auto* edit = window.findChild<QLineEdit*>(name);
    return edit ? edit->text() : QStringLiteral("<missing>");
}

COMMON::HardwareInfo record(const QString& cpu, const QString& gpu, const QString& fan,
                            const QString& cpuUsage = {})
{
    COMMON::HardwareInfo info;
    info.strCPUTemperature = cpu;
    info.strGPUTemperature = gpu;
    info.strFanRpm = fan;
    info.strCPUUsageRate = cpuUsage;
    return info;
}

} // namespace

class TestMainWindow : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void readingsPanelShowsUnitsAndTranslations_data();
    void readingsPanelShowsUnitsAndTranslations();
    void titleCarriesTheVersion();
    void noDeviceAtStartLeavesTableEmptyAndRotationStopped();
    void devicesComingAndGoingUpdateTableTrayAndSending();
    void closingWithTrayVisibleOnlyHides();
    void quitConfirmationCancelKeepsRunning();
    void quitConfirmationOkHidesTrayAndCloses();
    void aboutDialogShowsFirstDeviceVersions();
    void trayActivationOpensSettings_data();
    void trayActivationOpensSettings();
    void settingsChangesReachRotationAndSender();
    void handEditedJunkSettingsReadAsDefaults();

private:
    QScopedPointer<TestEnv> m_env;
    QTemporaryDir m_fixtureDir;
};

void TestMainWindow::initTestCase()
{
    QCoreApplication::setApplicationName(COMMON::APPLICATION_NAME);
    // The reader is process-wide: give it a fixture source before first use.
    QFile fixture(m_fixtureDir.filePath("fixture.json"));
    QVERIFY(fixture.open(QIODevice::WriteOnly));
    fixture.write(R"({"init": 0, "sensors": [
        {"name": "CPU [coretemp-isa-0000] DTS", "readings": [
            {"kind": 1, "slot": 0, "label": "CPU Package", "unit": "C", "values": [52], "valid": true, "query": true},
            {"kind": 3, "slot": 0, "label": "CPU Fan", "unit": "RPM", "values": [1500], "valid": true, "query": true}]},
        {"name": "GPU [amdgpu-pci-0300]", "readings": [
            {"kind": 1, "slot": 0, "label": "GPU Temperature", "unit": "C", "values": [61], "valid": true, "query": true}]},
        {"name": "[kraken2-hid-3-1]", "readings": [
            {"kind": 1, "slot": 0, "label": "Coolant", "unit": "C", "values": [127], "id": "kraken2-hid-3-1:temp1"},
            {"kind": 3, "slot": 0, "label": "Fan", "unit": "RPM", "values": [2100], "id": "kraken2-hid-3-1:fan1"},
            {"kind": 3, "slot": 1, "label": "Pump", "unit": "RPM", "values": [65535], "id": "kraken2-hid-3-1:fan2"}]}]})");
    fixture.close();
    qputenv("VARNOKS_SENSOR_LIBRARY", QFile::encodeName(TestEnv::binPath("libvarnoks-sensors-sim.so")));
    qputenv("VARNOKS_SENSOR_FIXTURE", QFile::encodeName(fixture.fileName()));
}

void TestMainWindow::init()
{
    m_env.reset(new TestEnv);
}

void TestMainWindow::cleanup()
{
    m_env.reset();
}

void TestMainWindow::readingsPanelShowsUnitsAndTranslations_data()
{
    // unit: the stored text; fahrenheit: the unit it stands for.
    QTest::addColumn<QString>("unit");
    QTest::addColumn<bool>("fahrenheit");
    QTest::addColumn<QString>("catalogue");
    QTest::addColumn<QString>("cpu");
    QTest::addColumn<QString>("gpu");
    QTest::addColumn<QString>("fan");
    QTest::addColumn<QString>("cpuField");
    QTest::addColumn<QString>("gpuField");
    QTest::addColumn<QString>("fanField");

    QTest::newRow("celsius keeps the texts") << "0" << false << ":/eg_EN.qm"
                                             << "45.7"
                                             << "--"
                                             << "1200"
                                             << "45.7℃"
                                             << "--℃"
                                             << "1200RPM";
    QTest::newRow("fahrenheit of 45 and 48.8") << "1" << true << ":/eg_EN.qm"
                                               << "45"
                                               << "48.8"
                                               << "--"
                                               << "113℉"
                                               << "118℉"
                                               << "--RPM";
    QTest::newRow("fahrenheit of no reading") << "1" << true << ":/eg_EN.qm"
                                              << "--"
                                              << "0"
                                              << "0"
                                              << "--℉"
                                              << "32℉"
                                              << "0RPM";
    QTest::newRow("traditional chinese fan unit") << "0" << false << ":/zh_TW.qm"
                                                  << "40"
                                                  << "50"
                                                  << "1200"
                                                  << "40℃"
                                                  << "50℃"
                                                  << "1200轉/分";
    // Product decision: both Chinese catalogues give the fan unit in their
    // own script, so Simplified Chinese shows 转/分 (as Traditional shows
    // 轉/分) and never the English RPM.
    QTest::newRow("simplified chinese fan unit") << "0" << false << ":/zh_CN.qm"
                                                 << "40"
                                                 << "50"
                                                 << "1200"
                                                 << "40℃"
                                                 << "50℃"
                                                 << "1200转/分";
    QTest::newRow("unit 3 is fahrenheit") << "3" << true << ":/eg_EN.qm"
                                          << "45"
                                          << "45"
                                          << "0"
                                          << "113℉"
                                          << "113℉"
                                          << "0RPM";
    QTest::newRow("unit junk is celsius") << "hot" << false << ":/eg_EN.qm"
                                          << "45"
                                          << "45"
                                          << "0"
                                          << "45℃"
                                          << "45℃"
                                          << "0RPM";
}

void TestMainWindow::readingsPanelShowsUnitsAndTranslations()
{
    QFETCH(QString, unit);
    QFETCH(bool, fahrenheit);
    QFETCH(QString, catalogue);
    QFETCH(QString, cpu);
    QFETCH(QString, gpu);
    QFETCH(QString, fan);
    QFETCH(QString, cpuField);
    QFETCH(QString, gpuField);
    QFETCH(QString, fanField);

    QTranslator translator;
    QVERIFY(translator.load(catalogue));
    QCoreApplication::installTranslator(&translator);
    CommonTools::SetSettingValue(COMMON::KEY_TEMPERATURE_UNIT, unit);
    {
        MainWindow window;
        window.onReadHardwareInfo(record(cpu, gpu, fan));
        QCOMPARE(field(window, "lineEdit_CPUTemperature"), cpuField);
        QCOMPARE(field(window, "lineEdit_GPUTemperature"), gpuField);
        QCOMPARE(field(window, "lineEdit_FanRpm"), fanField);
        // Usage is not measured: the unit sign stands alone.
        QCOMPARE(field(window, "lineEdit_CPUUsageRate"), QStringLiteral("%"));
        QCOMPARE(field(window, "lineEdit_GPUUsageRate"), QStringLiteral("%"));

        // A unit change shows at the next record.
        window.onSettingInfoChanged(COMMON::KEY_TEMPERATURE_UNIT, fahrenheit ? "0" : "1");
        window.onReadHardwareInfo(record("45", "45", fan));
        QCOMPARE(field(window, "lineEdit_CPUTemperature"),
                 fahrenheit ? QStringLiteral("45℃") : QStringLiteral("113℉"));
    }
    QCoreApplication::removeTranslator(&translator);
}

void TestMainWindow::titleCarriesTheVersion()
{
    QTranslator translator;
    QVERIFY(translator.load(":/zh_CN.qm"));
    QCoreApplication::installTranslator(&translator);
    {
        MainWindow window;
        QCOMPARE(window.windowTitle(), QStringLiteral("设备监测软件（V1.0.4.2）"));
        QCOMPARE(window.objectName(), QStringLiteral("MainWindow"));
        QCOMPARE(window.minimumSize(), QSize(960, 580));
    }
    QCoreApplication::removeTranslator(&translator);
}

void TestMainWindow::noDeviceAtStartLeavesTableEmptyAndRotationStopped()
{
    DevsimDriver sim;
    QVERIFY(sim.start({}));
    sim.useAsBackend();
    MainWindow window;
    QCOMPARE(tableColumn(window, 0), QStringList());
    QCOMPARE(deviceMenuTexts(window), QStringList{QStringLiteral("无")});
    QVERIFY(!CircularDisplayTimer::GetInstance()->isActive());
}

void TestMainWindow::devicesComingAndGoingUpdateTableTrayAndSending()
{
    DevsimDriver sim;
    QVERIFY(sim.start({"b,sw=1.10,hw=2.3,uuid=0123456789ABCDEF000A10FF", "a"}));
    sim.useAsBackend();
    MainWindow window;

    // Rows in path order, texts as the identification reply gave them; the
    // replies come in after the window is up.
    QTRY_COMPARE_WITH_TIMEOUT(tableColumn(window, 5), (QStringList{sim.devicePath("a"), sim.devicePath("b")}),
                              5000);
    QCOMPARE(tableColumn(window, 1), (QStringList{"2E3C", "2E3C"}));
    QCOMPARE(tableColumn(window, 2), (QStringList{"A12", "A12"}));
    QCOMPARE(tableColumn(window, 3).value(1), QStringLiteral("1.10"));
    QCOMPARE(tableColumn(window, 4).value(1), QStringLiteral("2.3"));
    QCOMPARE(tableColumn(window, 0).value(1), QStringLiteral("123456789ABCDEF0A10FF"));
    QCOMPARE(deviceMenuTexts(window).size(), 2);
    QCOMPARE(deviceMenuTexts(window).value(1), QStringLiteral("ZRN(123456789ABCDEF0A10FF)"));
    QVERIFY(CircularDisplayTimer::GetInstance()->isActive());

    // The fixture's readings reach both devices.
    QVERIFY(sim.waitForReports("a", 2, 8000));
    QVERIFY(sim.waitForReports("b", 2, 8000));
    const DevsimDriver::Report last = sim.reports("a").last();
    QCOMPARE(last.cpu, 52);
    QCOMPARE(last.gpu, 61);
    QCOMPARE(last.fan, 1500);

    // The last device leaving pauses the sender and stops the rotation.
    QVERIFY(sim.unplug("a"));
    QTRY_COMPARE_WITH_TIMEOUT(tableColumn(window, 5), QStringList{sim.devicePath("b")}, 5000);
    QVERIFY(sim.unplug("b"));
    QTRY_COMPARE_WITH_TIMEOUT(tableColumn(window, 5), QStringList(), 5000);
    QCOMPARE(deviceMenuTexts(window), QStringList{QStringLiteral("无")});
    QVERIFY(!CircularDisplayTimer::GetInstance()->isActive());
    QTest::qWait(700);
    sim.clearLines();
    QTest::qWait(1500);
    QCOMPARE(sim.reports().size(), 0);

    // The next arrival resumes both.
    QVERIFY(sim.plug("a"));
    QTRY_COMPARE_WITH_TIMEOUT(tableColumn(window, 5), QStringList{sim.devicePath("a")}, 5000);
    QVERIFY(CircularDisplayTimer::GetInstance()->isActive());
    QVERIFY(sim.waitForReports("a", 2, 5000));
}

void TestMainWindow::closingWithTrayVisibleOnlyHides()
{
    MainWindow window;
    window.show();
    QVERIFY(window.trayIcon()->isVisible());
    QVERIFY(!window.close());
    QVERIFY(!window.isVisible());
    QVERIFY(window.trayIcon()->isVisible());
}

void TestMainWindow::quitConfirmationCancelKeepsRunning()
{
    MainWindow window;
    window.show();
    BoxAnswerer answerer;
    answerer.push(QMessageBox::Cancel);
    window.onQuitApplication();
    QCOMPARE(answerer.count(), 1);
    QVERIFY(window.trayIcon()->isVisible());
    QVERIFY(window.isVisible());
}

void TestMainWindow::quitConfirmationOkHidesTrayAndCloses()
{
    MainWindow window;
    window.show();
    BoxAnswerer answerer;
    answerer.push(QMessageBox::Ok);
    window.onQuitApplication();
    QCOMPARE(answerer.count(), 1);
    QCOMPARE(answerer.seen().at(0).text, QStringLiteral("您确认要退出程序？"));
    QVERIFY(!window.trayIcon()->isVisible());
    QVERIFY(!window.isVisible());
}

void TestMainWindow::aboutDialogShowsFirstDeviceVersions()
{
    DevsimDriver sim;
    QVERIFY(sim.start({"z,sw=3.4,hw=5.6", "m,sw=1.10,hw=0.7"}));
    sim.useAsBackend();
    MainWindow window;
    QTRY_COMPARE_WITH_TIMEOUT(tableColumn(window, 5).size(), 2, 5000);

    // First use is modal; it shows the lowest path's device.
    QString hardware, firmware;
    BoxAnswerer answerer;
    answerer.push([&](QWidget* modal) {
        hardware = modal->findChild<QLabel*>("lbl_hardware_vv")->text();
        firmware = modal->findChild<QLabel*>("lbl_firmware_vv")->text();
        modal->close();
    });
    window.onAbout();
    QCOMPARE(hardware, QStringLiteral("V1.10"));
    QCOMPARE(firmware, QStringLiteral("V0.7"));
    CAboutDlg* about = window.aboutDialog();
    QVERIFY(about);
    QCOMPARE(about->findChild<QLabel*>("lbl_software_vv")->text(), QStringLiteral("V1.0.4.2"));

    // Without devices the next opening is not modal and shows no versions.
    QVERIFY(sim.unplug("m"));
    QVERIFY(sim.unplug("z"));
    QTRY_COMPARE_WITH_TIMEOUT(tableColumn(window, 5), QStringList(), 5000);
    window.onAbout();
    QVERIFY(about->isVisible());
    QVERIFY(!about->isModal());
    QCOMPARE(about->findChild<QLabel*>("lbl_hardware_vv")->text(), QStringLiteral("--"));
    QCOMPARE(about->findChild<QLabel*>("lbl_firmware_vv")->text(), QStringLiteral("--"));
    QCOMPARE(window.aboutDialog(), about);
}

void TestMainWindow::trayActivationOpensSettings_data()
{
    QTest::addColumn<int>("reason");
    QTest::addColumn<bool>("opens");
    QTest::newRow("double click (XEmbed tray)") << int(QSystemTrayIcon::DoubleClick) << true;
    QTest::newRow("click (D-Bus tray)") << int(QSystemTrayIcon::Trigger) << true;
    QTest::newRow("middle click") << int(QSystemTrayIcon::MiddleClick) << false;
    QTest::newRow("context request") << int(QSystemTrayIcon::Context) << false;
    QTest::newRow("menu entry") << -1 << true;
}

void TestMainWindow::trayActivationOpensSettings()
{
    QFETCH(int, reason);
    QFETCH(bool, opens);
    MainWindow window;
    QWidget* settings = window.settingDialog();
    QVERIFY(settings);
    QVERIFY(!settings->isVisible());
    if (reason < 0)
        emit window.trayMenu().sigSetting();
    else
        window.onTrayIconActived(QSystemTrayIcon::ActivationReason(reason));
    QCOMPARE(settings->isVisible(), opens);
}

void TestMainWindow::settingsChangesReachRotationAndSender()
{
    DevsimDriver sim;
    QVERIFY(sim.start({"a"}));
    sim.useAsBackend();
    MainWindow window;
    CSettingDlg* settings = window.settingDialog();
    QVERIFY(sim.waitForReports("a", 1, 8000));

    // The interval reaches the rotation.
    settings->findChild<QSpinBox*>("spinBox_changeInterval")->setValue(5);
    QCOMPARE(CircularDisplayTimer::GetInstance()->interval(), 5000);
    settings->findChild<QSpinBox*>("spinBox_changeInterval")->setValue(1);
    QCOMPARE(CircularDisplayTimer::GetInstance()->interval(), 1000);

    // Reports made after a change has had a period to arrive.
    const auto nextReports = [&](int count) {
        QTest::qWait(600);
        sim.clearLines();
        return sim.waitForReports("a", count, 5000);
    };
    // Only the CPU temperature left in the rotation, with a threshold it crosses.
    for (const char* name :
         {"checkBox_displayCPUTemp", "checkBox_displayGPUTemp", "checkBox_displayFanSpeed"})
        settings->findChild<QCheckBox*>(name)->setChecked(true);
    settings->findChild<QCheckBox*>("checkBox_displayGPUTemp")->setChecked(false);
    settings->findChild<QCheckBox*>("checkBox_displayFanSpeed")->setChecked(false);
    settings->findChild<QSpinBox*>("spinBox_cpu_temp_alarm")->setValue(10);
    QVERIFY(nextReports(3));
    for (const DevsimDriver::Report& report : sim.reports("a")) {
        QCOMPARE(report.item, 1);
        QCOMPARE(report.alarm, 1);
        QCOMPARE(report.cpu, 52);
    }

    // Back above the reading: no alarm.
    settings->findChild<QSpinBox*>("spinBox_cpu_temp_alarm")->setValue(90);
    QVERIFY(nextReports(2));
    for (const DevsimDriver::Report& report : sim.reports("a"))
        QCOMPARE(report.alarm, 0);

    // Readings the user chooses in the sensor chooser reach the reports at
    // once: the cooler's fan, and a temperature whose 127 is a firmware
    // placeholder, shown as no reading and never alarmed on.
    const auto choose = [&](const QString& cpu, const QString& fan) {
        BoxAnswerer answerer;
        answerer.push([&](QWidget* chooser) {
            auto* cpuList = chooser->findChild<QComboBox*>(QStringLiteral("cmb_sensor_0"));
            auto* fanList = chooser->findChild<QComboBox*>(QStringLiteral("cmb_sensor_2"));
            cpuList->setCurrentIndex(cpuList->findData(cpu));
            fanList->setCurrentIndex(fanList->findData(fan));
            chooser->findChild<QPushButton*>(QStringLiteral("btn_ok"))->click();
        });
        QTest::mouseClick(settings->findChild<QPushButton*>("btn_choose_sensors"), Qt::LeftButton);
        QCOMPARE(answerer.count(), 0); // no message box on the way
    };
    choose(QStringLiteral("kraken2-hid-3-1:temp1"), QStringLiteral("kraken2-hid-3-1:fan1"));
    QCOMPARE(CommonTools::GetSettingValue(COMMON::KEY_CPU_FAN_SENSOR, QString()).toString(),
             QStringLiteral("kraken2-hid-3-1:fan1"));
    settings->findChild<QCheckBox*>("checkBox_displayFanSpeed")->setChecked(true);
    QVERIFY(nextReports(3));
    for (const DevsimDriver::Report& report : sim.reports("a")) {
        QCOMPARE(report.fan, 2100);
        QCOMPARE(report.cpu, 0);
        QCOMPARE(report.alarm, 0);
    }
    // The pump's 65535 is no reading either; back to automatic afterwards.
    choose(QStringLiteral("auto"), QStringLiteral("kraken2-hid-3-1:fan2"));
    QVERIFY(nextReports(3));
    for (const DevsimDriver::Report& report : sim.reports("a")) {
        QVERIFY(report.fan != 65535);
        QCOMPARE(report.cpu, 52);
        QCOMPARE(report.alarm, 0);
    }
    choose(QStringLiteral("auto"), QStringLiteral("auto"));
    QCOMPARE(CommonTools::GetSensorChoice(COMMON::KEY_CPU_FAN_SENSOR), COMMON::SENSOR_CHOICE_AUTO);
}

void TestMainWindow::handEditedJunkSettingsReadAsDefaults()
{
    // As a user's editor leaves the file: nothing here is a value the
    // program could have stored.
    const QString path = CommonTools::SettingsFilePath();
    QVERIFY(QDir().mkpath(QFileInfo(path).absolutePath()));
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("[General]\n"
               "CPU%20temperature%20alarm=hot\n"
               "GPU%20temperature%20alarm=4294967301\n"
               "fan%20rpm%20alarm=-5\n"
               "temperature%20unit=celsius\n"
               "change%20interval=0\n"
               "display%20cpu%20temperature=yes\n");
    file.close();

    DevsimDriver sim;
    QVERIFY(sim.start({"a"}));
    sim.useAsBackend();
    MainWindow window;
    CSettingDlg* settings = window.settingDialog();
    QCOMPARE(settings->findChild<QSpinBox*>("spinBox_cpu_temp_alarm")->value(), 90);
    QCOMPARE(settings->findChild<QSpinBox*>("spinBox_gpu_temp_alarm")->value(), 90);
    QCOMPARE(settings->findChild<QSpinBox*>("spinBox_fanRpm_alarm")->value(), 300);
    QVERIFY(settings->findChild<QCheckBox*>("checkBox_displayCPUTemp")->isChecked());
    QCOMPARE(settings->findChild<QSpinBox*>("spinBox_changeInterval")->value(), 2);

    // Readings of 52, 61 and 1500 rpm are far from the default thresholds.
    QVERIFY(sim.waitForReports("a", 6, 8000));
    for (const DevsimDriver::Report& report : sim.reports("a")) {
        QCOMPARE(report.alarm, 0);
        QVERIFY(!report.fahrenheit);
    }
}

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
