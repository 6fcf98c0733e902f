#include "app/common.h"
#include "app/commontools.h"
#include "autostart/xdgautostartentry.h"
#include "boxanswerer.h"
#include "logcapture.h"
#include "sensors/sensorsearch.h"
#include "testenv.h"
#include "ui/csettingdlg.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QSignalSpy>
#include <QSpinBox>
#include <QTranslator>
#include <QVBoxLayout>
#include <QtTest>

namespace {

QString nKindUnit(const char* id)
{
    return QString::fromLatin1(id).contains(QLatin1String(":fan")) ? QStringLiteral("RPM")
                                                                   : QStringLiteral("C");
}

const QString ABSENT = QStringLiteral("<absent>");

QString stored(const QString& key)
{
    return CommonTools::GetSettingValue(key, ABSENT).toString();
}

template <class T> T* child(QWidget* dialog, const char* name)
{
    T* widget = dialog->findChild<T*>(QString::fromLatin1(name));
    if (!widget)
        qWarning("no child %s", name);
    return widget;
}

// What the user does when choosing an item from the list: the selection
// changes and "activated" follows, also for the item already shown.
void pick(QComboBox* combo, int index)
{
    combo->setCurrentIndex(index);
    emit combo->activated(index);
}

// The (key=value) pairs announced so far, in order.
QStringList announced(const QSignalSpy& spy)
{
    QStringList pairs;
    for (const QList<QVariant>& args : spy)
        pairs << args.at(0).toString() + QLatin1Char('=') + args.at(1).toString();
    return pairs;
}

// Runs the action inside the application's event loop and reports whether
// it asked the application to quit.
bool actionQuitsApplication(const std::function<void()>& action)
{
    return runInApplicationLoop(action) != 42;
}

QString entryFlag(const char* key)
{
    QFile file(XdgAutostartEntry::entryFilePath(COMMON::TASK_NAME));
    if (!file.open(QIODevice::ReadOnly))
        return ABSENT;
    QByteArray value;
    if (!XdgAutostartEntry::readKey(file.readAll(), key, &value))
        return ABSENT;
    return QString::fromUtf8(value);
}

// As the entry point does before any window is built.
void createLogonEntry()
{
    if (!CommonTools::IsTaskExists(COMMON::TASK_NAME))
        CommonTools::AddTaskToScheduler(COMMON::TASK_NAME, QCoreApplication::applicationFilePath());
}

} // namespace

class TestCSettingDlg : public QObject
{
    Q_OBJECT

private slots:
    void formHasTheNamedControlsAndFixedSize();
    void everyTextOfTheFormIsInTheCatalogues();
    void firstStartWithEmptyStoreShowsDefaults();
    void loadingShowsStoredValuesAndStoresNormalisedOnes_data();
    void loadingShowsStoredValuesAndStoresNormalisedOnes();
    void plainControlsStoreAndAnnounce_data();
    void plainControlsStoreAndAnnounce();
    void intervalAcceptsSixtyAndRefusesSixtyOne();
    void unitSwitchConvertsBothThresholdsBeforeAnnouncingUnit_data();
    void unitSwitchConvertsBothThresholdsBeforeAnnouncingUnit();
    void unitSwitchClampsAtRangeAndComesBackOneDegreeLower();
    void pickingUnitInEffectConvertsNothing();
    void startUpChoiceSwitchesLogonEntryWithoutAnnouncing();
    void languageChoiceAskedFirst_data();
    void languageChoiceAskedFirst();
    void closingOnlyHidesDialog();
    void englishCatalogueTranslatesFormAndQuestion();
    void styleSheetGivesGreyBackgroundAndRedGroups();
    void sensorChooserStoresAnnouncesAndShowsTheChoice_data();
    void sensorChooserStoresAnnouncesAndShowsTheChoice();
};

void TestCSettingDlg::formHasTheNamedControlsAndFixedSize()
{
    TestEnv env;
    LogCapture log;
    CSettingDlg dialog;
    QCOMPARE(dialog.objectName(), QStringLiteral("SettingDlg"));
    QCOMPARE(dialog.size(), QSize(425, 520));
    QCOMPARE(dialog.minimumSize(), QSize(425, 520));
    QCOMPARE(dialog.maximumSize(), QSize(425, 520));
    QVERIFY(!dialog.testAttribute(Qt::WA_QuitOnClose));
    QCOMPARE(dialog.windowFlags() & (Qt::WindowContextHelpButtonHint | Qt::WindowMinimizeButtonHint),
             Qt::WindowFlags());
    QVERIFY(dialog.windowFlags() & Qt::WindowCloseButtonHint);

    // The controls the dialog's slots, the style sheet and the catalogues
    // know by name.
    for (const char* name : {"cmb_language", "cmb_start_up", "cmb_temperature_unit"})
        QVERIFY2(child<QComboBox>(&dialog, name), name);
    for (const char* name :
         {"checkBox_displayCPUTemp", "checkBox_displayGPUTemp", "checkBox_displayFanSpeed"})
        QVERIFY2(child<QCheckBox>(&dialog, name), name);
    for (const char* name : {"groupBox_2", "groupBox_alarminfo", "groupBox_displayitem"})
        QVERIFY2(child<QGroupBox>(&dialog, name), name);
    QVERIFY(child<QPushButton>(&dialog, "btn_choose_sensors"));

    // Each spin box takes exactly what the settings table accepts for its
    // key: its bounds read back as themselves, one beyond as the default.
    const std::pair<const char*, QString> spins[] = {{"spinBox_changeInterval", COMMON::KEY_CHANGE_INTERVAL},
                                                     {"spinBox_cpu_temp_alarm", COMMON::KEY_CPU_TEMP_ALARM},
                                                     {"spinBox_gpu_temp_alarm", COMMON::KEY_GPU_TEMP_ALARM},
                                                     {"spinBox_fanRpm_alarm", COMMON::KEY_FAN_RPM_ALARM}};
    for (const auto& spin : spins) {
        auto* box = child<QSpinBox>(&dialog, spin.first);
        QVERIFY2(box, spin.first);
        const QString& key = spin.second;
        const int nDefault = CommonTools::SettingValueToInt(key, QStringLiteral("junk"));
        QCOMPARE(CommonTools::SettingValueToInt(key, QString::number(box->minimum())), box->minimum());
        QCOMPARE(CommonTools::SettingValueToInt(key, QString::number(box->maximum())), box->maximum());
        QCOMPARE(CommonTools::SettingValueToInt(key, QString::number(box->minimum() - 1)), nDefault);
        QCOMPARE(CommonTools::SettingValueToInt(key, QString::number(box->maximum() + 1)), nDefault);
        QVERIFY(nDefault >= box->minimum() && nDefault <= box->maximum());
        QCOMPARE(box->singleStep(), 1);
        QVERIFY(box->suffix().isEmpty());
    }
}

void TestCSettingDlg::everyTextOfTheFormIsInTheCatalogues()
{
    TestEnv env;
    LogCapture log;
    CSettingDlg dialog;
    // Every text the untranslated form shows, with the unit sign it starts
    // with; the language names are shown as they are in every language.
    QStringList texts{dialog.windowTitle()};
    for (QLabel* label : dialog.findChildren<QLabel*>())
        texts << label->text();
    for (QAbstractButton* button : dialog.findChildren<QAbstractButton*>())
        texts << button->text();
    for (QGroupBox* group : dialog.findChildren<QGroupBox*>())
        texts << group->title();
    for (QComboBox* combo : dialog.findChildren<QComboBox*>()) {
        if (combo->objectName() == QLatin1String("cmb_language"))
            continue;
        for (int i = 0; i < combo->count(); ++i)
            texts << combo->itemText(i);
    }
    texts.removeAll(QString());
    QVERIFY(texts.size() >= 10);
    for (const int language : {0, 1, 2}) {
        QTranslator catalogue;
        QVERIFY(catalogue.load(CommonTools::GetTranslationFile(language)));
        for (const QString& text : texts) {
            QVERIFY2(
                !catalogue.translate("SettingDlg", text.toUtf8().constData()).isEmpty(),
                qPrintable(
                    QStringLiteral("%1 lacks \"%2\"").arg(CommonTools::GetTranslationFile(language), text)));
        }
    }
}

void TestCSettingDlg::firstStartWithEmptyStoreShowsDefaults()
{
    TestEnv env;
    LogCapture log;
    createLogonEntry();
    log.clear();

    CSettingDlg dialog;
    QCOMPARE(child<QComboBox>(&dialog, "cmb_language")->currentText(), QStringLiteral("English"));
    QCOMPARE(child<QComboBox>(&dialog, "cmb_start_up")->currentIndex(), 0);
    QCOMPARE(child<QComboBox>(&dialog, "cmb_temperature_unit")->currentIndex(), 0);
    QCOMPARE(child<QSpinBox>(&dialog, "spinBox_changeInterval")->value(), 2);
    QCOMPARE(child<QSpinBox>(&dialog, "spinBox_cpu_temp_alarm")->value(), 90);
    QCOMPARE(child<QSpinBox>(&dialog, "spinBox_gpu_temp_alarm")->value(), 90);
    QCOMPARE(child<QSpinBox>(&dialog, "spinBox_fanRpm_alarm")->value(), 300);
    // Ticked, as the rotation shows all three readings when nothing is stored.
    for (const char* name :
         {"checkBox_displayCPUTemp", "checkBox_displayGPUTemp", "checkBox_displayFanSpeed"})
        QVERIFY(child<QCheckBox>(&dialog, name)->isChecked());

    QCOMPARE(stored(COMMON::KEY_STARTUP), QStringLiteral("0"));
    QCOMPARE(entryFlag("Hidden"), QStringLiteral("false"));
    QCOMPARE(entryFlag("X-GNOME-Autostart-enabled"), QStringLiteral("true"));
    QCOMPARE(log.count("CommonTools::SetTaskEnabledState(): Task [DeviceMonitorStartTask] enabled."), 1);
    // Nothing else was written: values equal to the form's run no slot.
    for (const QString& key :
         {COMMON::KEY_LANGUAGE, COMMON::KEY_TEMPERATURE_UNIT, COMMON::KEY_CHANGE_INTERVAL,
          COMMON::KEY_CPU_TEMP_ALARM, COMMON::KEY_DISPLAY_FAN_RPM})
        QCOMPARE(stored(key), ABSENT);
}

void TestCSettingDlg::loadingShowsStoredValuesAndStoresNormalisedOnes_data()
{
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("value");
    QTest::addColumn<QString>("control");
    QTest::addColumn<int>("shown");
    QTest::addColumn<QString>("storedAfter");
    // Check boxes are ticked for any non-zero value, which is stored again
    // as the box's own state, 2.
    QTest::newRow("fan rpm 1") << COMMON::KEY_DISPLAY_FAN_RPM << "1"
                               << "checkBox_displayFanSpeed" << 2 << "2";
    QTest::newRow("fan rpm 2 stays") << COMMON::KEY_DISPLAY_FAN_RPM << "2"
                                     << "checkBox_displayFanSpeed" << 2 << "2";
    QTest::newRow("cpu temperature -3") << COMMON::KEY_DISPLAY_CPU_TEMP << "-3"
                                        << "checkBox_displayCPUTemp" << 2 << "2";
    QTest::newRow("gpu temperature 0") << COMMON::KEY_DISPLAY_GPU_TEMP << "0"
                                       << "checkBox_displayGPUTemp" << 0 << "0";
    QTest::newRow("gpu temperature text") << COMMON::KEY_DISPLAY_GPU_TEMP << "yes"
                                          << "checkBox_displayGPUTemp" << 2 << "2";
    // Values the dialog could not have stored show the default.
    QTest::newRow("interval 7") << COMMON::KEY_CHANGE_INTERVAL << "7"
                                << "spinBox_changeInterval" << 7 << "7";
    QTest::newRow("interval 0") << COMMON::KEY_CHANGE_INTERVAL << "0"
                                << "spinBox_changeInterval" << 2 << "0";
    QTest::newRow("interval huge") << COMMON::KEY_CHANGE_INTERVAL << "99999999999"
                                   << "spinBox_changeInterval" << 2 << "99999999999";
    QTest::newRow("interval 2^32 + 5") << COMMON::KEY_CHANGE_INTERVAL << "4294967301"
                                       << "spinBox_changeInterval" << 2 << "4294967301";
    QTest::newRow("interval -2^32") << COMMON::KEY_CHANGE_INTERVAL << "-4294967296"
                                    << "spinBox_changeInterval" << 2 << "-4294967296";
    QTest::newRow("cpu alarm 500") << COMMON::KEY_CPU_TEMP_ALARM << "500"
                                   << "spinBox_cpu_temp_alarm" << 90 << "500";
    QTest::newRow("cpu alarm hot") << COMMON::KEY_CPU_TEMP_ALARM << "hot"
                                   << "spinBox_cpu_temp_alarm" << 90 << "hot";
    QTest::newRow("fan alarm 1200") << COMMON::KEY_FAN_RPM_ALARM << "1200"
                                    << "spinBox_fanRpm_alarm" << 1200 << "1200";
    // Selectors show the choice in effect; start-up is stored again.
    QTest::newRow("language 0") << COMMON::KEY_LANGUAGE << "0"
                                << "cmb_language" << 0 << "0";
    QTest::newRow("language 1") << COMMON::KEY_LANGUAGE << "1"
                                << "cmb_language" << 1 << "1";
    QTest::newRow("language 7 runs as 0") << COMMON::KEY_LANGUAGE << "7"
                                          << "cmb_language" << 0 << "7";
    QTest::newRow("startup 1") << COMMON::KEY_STARTUP << "1"
                               << "cmb_start_up" << 1 << "1";
    QTest::newRow("startup 4 means no") << COMMON::KEY_STARTUP << "4"
                                        << "cmb_start_up" << 1 << "1";
    QTest::newRow("unit 1") << COMMON::KEY_TEMPERATURE_UNIT << "1"
                            << "cmb_temperature_unit" << 1 << "1";
    QTest::newRow("unit 3 is Fahrenheit") << COMMON::KEY_TEMPERATURE_UNIT << "3"
                                          << "cmb_temperature_unit" << 1 << "3";
    QTest::newRow("unit junk is Celsius") << COMMON::KEY_TEMPERATURE_UNIT << "F"
                                          << "cmb_temperature_unit" << 0 << "F";
    QTest::newRow("language junk is English") << COMMON::KEY_LANGUAGE << "de"
                                              << "cmb_language" << 2 << "de";
}

void TestCSettingDlg::loadingShowsStoredValuesAndStoresNormalisedOnes()
{
    QFETCH(QString, key);
    QFETCH(QString, value);
    QFETCH(QString, control);
    QFETCH(int, shown);
    QFETCH(QString, storedAfter);
    TestEnv env;
    LogCapture log;
    createLogonEntry();
    CommonTools::SetSettingValue(key, value);

    CSettingDlg dialog;
    QWidget* widget = dialog.findChild<QWidget*>(control);
    QVERIFY(widget);
    if (auto* check = qobject_cast<QCheckBox*>(widget))
        QCOMPARE(int(check->checkState()), shown);
    else if (auto* spin = qobject_cast<QSpinBox*>(widget))
        QCOMPARE(spin->value(), shown);
    else if (auto* combo = qobject_cast<QComboBox*>(widget))
        QCOMPARE(combo->currentIndex(), shown);
    QCOMPARE(stored(key), storedAfter);
}

void TestCSettingDlg::plainControlsStoreAndAnnounce_data()
{
    QTest::addColumn<QString>("control");
    QTest::addColumn<int>("value");
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("text");
    QTest::newRow("interval") << "spinBox_changeInterval" << 5 << COMMON::KEY_CHANGE_INTERVAL << "5";
    QTest::newRow("cpu alarm") << "spinBox_cpu_temp_alarm" << 75 << COMMON::KEY_CPU_TEMP_ALARM << "75";
    QTest::newRow("gpu alarm") << "spinBox_gpu_temp_alarm" << 0 << COMMON::KEY_GPU_TEMP_ALARM << "0";
    QTest::newRow("fan alarm") << "spinBox_fanRpm_alarm" << 10000 << COMMON::KEY_FAN_RPM_ALARM << "10000";
    QTest::newRow("show cpu") << "checkBox_displayCPUTemp" << 1 << COMMON::KEY_DISPLAY_CPU_TEMP << "2";
    QTest::newRow("show gpu") << "checkBox_displayGPUTemp" << 1 << COMMON::KEY_DISPLAY_GPU_TEMP << "2";
    QTest::newRow("show fan") << "checkBox_displayFanSpeed" << 1 << COMMON::KEY_DISPLAY_FAN_RPM << "2";
}

void TestCSettingDlg::plainControlsStoreAndAnnounce()
{
    QFETCH(QString, control);
    QFETCH(int, value);
    QFETCH(QString, key);
    QFETCH(QString, text);
    TestEnv env;
    LogCapture log;
    CSettingDlg dialog;
    QSignalSpy spy(&dialog, SIGNAL(settingInfoChanged(QString, QString)));
    QWidget* widget = dialog.findChild<QWidget*>(control);
    if (auto* check = qobject_cast<QCheckBox*>(widget)) {
        // Ticked from the start: the first click clears it, the second ticks it again.
        QTest::mouseClick(check, Qt::LeftButton, {}, QPoint(10, check->height() / 2));
        QCOMPARE(stored(key), QStringLiteral("0"));
        QCOMPARE(announced(spy), QStringList{key + "=0"});
        QTest::mouseClick(check, Qt::LeftButton, {}, QPoint(10, check->height() / 2));
        QCOMPARE(stored(key), text);
        QCOMPARE(announced(spy), (QStringList{key + "=0", key + "=" + text}));
    } else {
        auto* spin = qobject_cast<QSpinBox*>(widget);
        QVERIFY(spin);
        spin->setValue(value);
        QCOMPARE(stored(key), text);
        QCOMPARE(announced(spy), QStringList{key + "=" + text});
    }
}

void TestCSettingDlg::intervalAcceptsSixtyAndRefusesSixtyOne()
{
    TestEnv env;
    LogCapture log;
    CSettingDlg dialog;
    QSignalSpy spy(&dialog, SIGNAL(settingInfoChanged(QString, QString)));
    auto* spin = child<QSpinBox>(&dialog, "spinBox_changeInterval");

    spin->setValue(60);
    QCOMPARE(stored(COMMON::KEY_CHANGE_INTERVAL), QStringLiteral("60"));
    QCOMPARE(announced(spy), QStringList{"change interval=60"});

    // Neither the arrow key nor a program value gets past 60.
    QTest::keyClick(spin, Qt::Key_Up);
    spin->setValue(61);
    QCOMPARE(spin->value(), 60);
    QCOMPARE(announced(spy), QStringList{"change interval=60"});
    // Typed digits that would make 61 are refused.
    spin->selectAll();
    QTest::keyClicks(spin, QStringLiteral("61"));
    QVERIFY(spin->value() <= 60);
    QVERIFY(!announced(spy).contains("change interval=61"));
    QVERIFY(stored(COMMON::KEY_CHANGE_INTERVAL) != QStringLiteral("61"));
}

void TestCSettingDlg::unitSwitchConvertsBothThresholdsBeforeAnnouncingUnit_data()
{
    QTest::addColumn<int>("fromUnit");
    QTest::addColumn<int>("cpu");
    QTest::addColumn<int>("gpu");
    QTest::addColumn<int>("cpuAfter");
    QTest::addColumn<int>("gpuAfter");
    QTest::newRow("90/100 to Fahrenheit") << 0 << 90 << 100 << 194 << 212;
    QTest::newRow("194/212 to Celsius") << 1 << 194 << 212 << 90 << 100;
    QTest::newRow("0/-1 to Fahrenheit") << 0 << 0 << 1 << 32 << 33;
    QTest::newRow("32/0 to Celsius") << 1 << 32 << 0 << 0 << 0;
}

void TestCSettingDlg::unitSwitchConvertsBothThresholdsBeforeAnnouncingUnit()
{
    QFETCH(int, fromUnit);
    QFETCH(int, cpu);
    QFETCH(int, gpu);
    QFETCH(int, cpuAfter);
    QFETCH(int, gpuAfter);
    const int toUnit = 1 - fromUnit;
    TestEnv env;
    LogCapture log;
    CommonTools::SetSettingValue(COMMON::KEY_TEMPERATURE_UNIT, fromUnit);
    CommonTools::SetSettingValue(COMMON::KEY_CPU_TEMP_ALARM, cpu);
    CommonTools::SetSettingValue(COMMON::KEY_GPU_TEMP_ALARM, gpu);
    CSettingDlg dialog;
    auto* cpuLabel = child<QLabel>(&dialog, "lbl_cpu_temp_alarm");
    auto* gpuLabel = child<QLabel>(&dialog, "lbl_gpu_temp_alarm");
    const QString celsius[2] = {QString::fromUtf8("CPU温度阈值(℃)"), QString::fromUtf8("GPU温度阈值(℃)")};
    const QString fahrenheit[2] = {QString::fromUtf8("CPU温度阈值(℉)"), QString::fromUtf8("GPU温度阈值(℉)")};
    QCOMPARE(cpuLabel->text(), fromUnit == 1 ? fahrenheit[0] : celsius[0]);
    QCOMPARE(gpuLabel->text(), fromUnit == 1 ? fahrenheit[1] : celsius[1]);

    QSignalSpy spy(&dialog, SIGNAL(settingInfoChanged(QString, QString)));
    pick(child<QComboBox>(&dialog, "cmb_temperature_unit"), toUnit);

    QCOMPARE(child<QSpinBox>(&dialog, "spinBox_cpu_temp_alarm")->value(), cpuAfter);
    QCOMPARE(child<QSpinBox>(&dialog, "spinBox_gpu_temp_alarm")->value(), gpuAfter);
    QCOMPARE(stored(COMMON::KEY_CPU_TEMP_ALARM), QString::number(cpuAfter));
    QCOMPARE(stored(COMMON::KEY_GPU_TEMP_ALARM), QString::number(gpuAfter));
    QCOMPARE(stored(COMMON::KEY_TEMPERATURE_UNIT), QString::number(toUnit));
    QStringList expected;
    if (cpuAfter != cpu)
        expected << "CPU temperature alarm=" + QString::number(cpuAfter);
    if (gpuAfter != gpu)
        expected << "GPU temperature alarm=" + QString::number(gpuAfter);
    expected << "temperature unit=" + QString::number(toUnit);
    QCOMPARE(announced(spy), expected);
    QCOMPARE(cpuLabel->text(), toUnit == 1 ? fahrenheit[0] : celsius[0]);
    QCOMPARE(gpuLabel->text(), toUnit == 1 ? fahrenheit[1] : celsius[1]);
}

void TestCSettingDlg::unitSwitchClampsAtRangeAndComesBackOneDegreeLower()
{
    TestEnv env;
    LogCapture log;
    CommonTools::SetSettingValue(COMMON::KEY_CPU_TEMP_ALARM, 105);
    CommonTools::SetSettingValue(COMMON::KEY_GPU_TEMP_ALARM, 90);
    CSettingDlg dialog;
    QSignalSpy spy(&dialog, SIGNAL(settingInfoChanged(QString, QString)));
    auto* unit = child<QComboBox>(&dialog, "cmb_temperature_unit");
    auto* cpu = child<QSpinBox>(&dialog, "spinBox_cpu_temp_alarm");

    // 105 °C is 221 °F, one above the range.
    pick(unit, 1);
    QCOMPARE(cpu->value(), 220);
    QCOMPARE(stored(COMMON::KEY_CPU_TEMP_ALARM), QStringLiteral("220"));
    QCOMPARE(announced(spy).first(), QStringLiteral("CPU temperature alarm=220"));

    pick(unit, 0);
    QCOMPARE(cpu->value(), 104);
    QCOMPARE(stored(COMMON::KEY_CPU_TEMP_ALARM), QStringLiteral("104"));
    QCOMPARE(child<QSpinBox>(&dialog, "spinBox_gpu_temp_alarm")->value(), 90);
    QCOMPARE(announced(spy),
             (QStringList{"CPU temperature alarm=220", "GPU temperature alarm=194", "temperature unit=1",
                          "CPU temperature alarm=104", "GPU temperature alarm=90", "temperature unit=0"}));
}

void TestCSettingDlg::pickingUnitInEffectConvertsNothing()
{
    // A unit of 3 is Fahrenheit already: picking Fahrenheit converts nothing.
    for (const int storedUnit : {0, 1, 3}) {
        const int unit = storedUnit == 0 ? 0 : 1;
        TestEnv env;
        LogCapture log;
        CommonTools::SetSettingValue(COMMON::KEY_TEMPERATURE_UNIT, storedUnit);
        CommonTools::SetSettingValue(COMMON::KEY_CPU_TEMP_ALARM, 95);
        CommonTools::SetSettingValue(COMMON::KEY_GPU_TEMP_ALARM, 100);
        CSettingDlg dialog;
        const QString cpuLabel = child<QLabel>(&dialog, "lbl_cpu_temp_alarm")->text();
        QSignalSpy spy(&dialog, SIGNAL(settingInfoChanged(QString, QString)));
        pick(child<QComboBox>(&dialog, "cmb_temperature_unit"), unit);
        QCOMPARE(child<QSpinBox>(&dialog, "spinBox_cpu_temp_alarm")->value(), 95);
        QCOMPARE(child<QSpinBox>(&dialog, "spinBox_gpu_temp_alarm")->value(), 100);
        QCOMPARE(stored(COMMON::KEY_CPU_TEMP_ALARM), QStringLiteral("95"));
        QCOMPARE(child<QLabel>(&dialog, "lbl_cpu_temp_alarm")->text(), cpuLabel);
        QCOMPARE(announced(spy), QStringList{"temperature unit=" + QString::number(unit)});
    }
}

void TestCSettingDlg::startUpChoiceSwitchesLogonEntryWithoutAnnouncing()
{
    TestEnv env;
    LogCapture log;
    createLogonEntry();
    CSettingDlg dialog;
    QSignalSpy spy(&dialog, SIGNAL(settingInfoChanged(QString, QString)));
    auto* startUp = child<QComboBox>(&dialog, "cmb_start_up");
    log.clear();

    pick(startUp, 1);
    QCOMPARE(stored(COMMON::KEY_STARTUP), QStringLiteral("1"));
    QCOMPARE(entryFlag("Hidden"), QStringLiteral("true"));
    QCOMPARE(entryFlag("X-GNOME-Autostart-enabled"), QStringLiteral("false"));
    QCOMPARE(log.count("Task [DeviceMonitorStartTask] disabled."), 1);

    // The next start keeps it off, and does not replace the entry.
    {
        createLogonEntry();
        CSettingDlg next;
        QCOMPARE(child<QComboBox>(&next, "cmb_start_up")->currentIndex(), 1);
        QCOMPARE(entryFlag("Hidden"), QStringLiteral("true"));
    }

    pick(startUp, 0);
    QCOMPARE(stored(COMMON::KEY_STARTUP), QStringLiteral("0"));
    QCOMPARE(entryFlag("Hidden"), QStringLiteral("false"));
    QCOMPARE(log.count("Task [DeviceMonitorStartTask] enabled."), 1);
    QCOMPARE(spy.count(), 0);
}

void TestCSettingDlg::languageChoiceAskedFirst_data()
{
    QTest::addColumn<int>("storedBefore");
    QTest::addColumn<int>("picked");
    QTest::addColumn<int>("answer");
    QTest::addColumn<QString>("storedAfter");
    QTest::addColumn<bool>("quits");
    QTest::addColumn<QString>("languageLabel");
    const QString source = QString::fromUtf8("语言");
    QTest::newRow("cancel keeps English") << -1 << 0 << int(QMessageBox::Cancel) << ABSENT << false << source;
    QTest::newRow("cancel keeps Traditional") << 1 << 2 << int(QMessageBox::Cancel) << "1" << false << source;
    QTest::newRow("ok stores and quits") << -1 << 0 << int(QMessageBox::Ok) << "0" << true << source;
    QTest::newRow("ok on language in effect")
        << 1 << 1 << int(QMessageBox::Ok) << "1" << true << QString::fromUtf8("語言");
    // The form is shown in the new language before the program ends.
    QTest::newRow("ok to English") << 0 << 2 << int(QMessageBox::Ok) << "2" << true << "Language";
}

void TestCSettingDlg::languageChoiceAskedFirst()
{
    QFETCH(int, storedBefore);
    QFETCH(int, picked);
    QFETCH(int, answer);
    QFETCH(QString, storedAfter);
    QFETCH(bool, quits);
    QFETCH(QString, languageLabel);
    TestEnv env;
    LogCapture log;
    if (storedBefore >= 0)
        CommonTools::SetSettingValue(COMMON::KEY_LANGUAGE, storedBefore);
    const int inEffect = storedBefore >= 0 ? storedBefore : 2;
    CSettingDlg dialog;
    QSignalSpy spy(&dialog, SIGNAL(settingInfoChanged(QString, QString)));
    auto* language = child<QComboBox>(&dialog, "cmb_language");
    QCOMPARE(language->currentIndex(), inEffect);

    BoxAnswerer answerer;
    answerer.push(QMessageBox::StandardButton(answer));
    const bool quit = actionQuitsApplication([&]() { pick(language, picked); });

    QCOMPARE(answerer.count(), 1);
    QCOMPARE(answerer.seen().at(0).icon, QMessageBox::Question);
    QCOMPARE(answerer.seen().at(0).title, QString::fromUtf8("温馨提示"));
    QCOMPARE(answerer.seen().at(0).text, QString::fromUtf8("更改语言需要重新启动才能生效。"));
    QCOMPARE(quit, quits);
    QCOMPARE(stored(COMMON::KEY_LANGUAGE), storedAfter);
    QCOMPARE(language->currentIndex(), quits ? picked : inEffect);
    QCOMPARE(child<QLabel>(&dialog, "lbl_language")->text(), languageLabel);
    QCOMPARE(spy.count(), 0);
}

void TestCSettingDlg::closingOnlyHidesDialog()
{
    TestEnv env;
    LogCapture log;
    CSettingDlg dialog;
    auto* interval = child<QSpinBox>(&dialog, "spinBox_changeInterval");
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    interval->setValue(9);
    const bool quit = actionQuitsApplication([&]() { dialog.close(); });
    QVERIFY(!quit);
    QVERIFY(dialog.isHidden());
    dialog.show();
    QCOMPARE(interval->value(), 9);
}

void TestCSettingDlg::englishCatalogueTranslatesFormAndQuestion()
{
    TestEnv env;
    LogCapture log;
    QTranslator english;
    QVERIFY(english.load(CommonTools::GetTranslationFile(2)));
    QCoreApplication::installTranslator(&english);
    {
        CSettingDlg dialog;
        QCOMPARE(dialog.windowTitle(), QStringLiteral("Varnoks Pilot"));
        QCOMPARE(child<QLabel>(&dialog, "lbl_start_up")->text(), QStringLiteral("Auto-Start On Boot"));
        QCOMPARE(child<QComboBox>(&dialog, "cmb_start_up")->itemText(0), QStringLiteral("Yes"));
        QCOMPARE(child<QComboBox>(&dialog, "cmb_language")->itemText(1), QString::fromUtf8("繁體中文"));
        QCOMPARE(child<QGroupBox>(&dialog, "groupBox_alarminfo")->title(),
                 QStringLiteral("Alert Threshold Settings"));

        // The English labels carry no unit sign; switching leaves them as
        // they are.
        pick(child<QComboBox>(&dialog, "cmb_temperature_unit"), 1);
        QCOMPARE(child<QLabel>(&dialog, "lbl_cpu_temp_alarm")->text(),
                 QStringLiteral("CPU Temperature Alert"));
        QCOMPARE(stored(COMMON::KEY_TEMPERATURE_UNIT), QStringLiteral("1"));

        BoxAnswerer answerer;
        answerer.push(QMessageBox::Cancel);
        pick(child<QComboBox>(&dialog, "cmb_language"), 0);
        QCOMPARE(answerer.count(), 1);
        QCOMPARE(answerer.seen().at(0).title, QStringLiteral("Tips"));
        QCOMPARE(answerer.seen().at(0).text,
                 QStringLiteral("Language changes will take effect after restarting the software."));
    }
    QCoreApplication::removeTranslator(&english);
}

// The main window carries the application's style sheet; its class rules
// for this dialog must reach it as a child.
void TestCSettingDlg::styleSheetGivesGreyBackgroundAndRedGroups()
{
    TestEnv env;
    LogCapture log;
    QFile sheet(QStringLiteral(":/Resource/QssConfig/Application.qss"));
    QVERIFY(sheet.open(QIODevice::ReadOnly));
    QWidget owner;
    owner.setStyleSheet(QString::fromUtf8(sheet.readAll()));
    CSettingDlg dialog(&owner);
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    const QImage image = dialog.grab().toImage();

    auto isRed = [](QRgb p) { return qRed(p) > 150 && qGreen(p) < 100 && qBlue(p) < 100; };
    // Background between the groups and the margins.
    QCOMPARE(QColor(image.pixel(3, image.height() - 3)), QColor(237, 237, 237));
    for (const char* name : {"groupBox_2", "groupBox_alarminfo", "groupBox_displayitem"}) {
        auto* group = child<QGroupBox>(&dialog, name);
        const QRect area = group->geometry();
        // The frame's left edge runs down the middle of the group.
        int redOnLeftEdge = 0;
        for (int x = area.left(); x < area.left() + 4; ++x)
            redOnLeftEdge += isRed(image.pixel(x, area.center().y())) ? 1 : 0;
        QVERIFY2(redOnLeftEdge >= 1, name);
        // The title sits above the frame's top line (margin-top 12px).
        int redInTitle = 0;
        for (int y = area.top(); y < area.top() + 10; ++y)
            for (int x = area.left() + 10; x < area.left() + 100; ++x)
                redInTitle += isRed(image.pixel(x, y)) ? 1 : 0;
        QVERIFY2(redInTitle >= 5, name);
        // Inside the group the background is grey as well.
        QCOMPARE(QColor(image.pixel(area.left() + 4, area.bottom() - 3)), QColor(237, 237, 237));
    }
}

// Two fans and a temperature, as a sensor source offers them.
QList<SensorCandidate> chooserCandidates(int nKind)
{
    const auto candidate = [](const char* id, const char* label, double value, bool valid) {
        SensorCandidate c;
        c.identity.strIdentity = QString::fromLatin1(id);
        c.identity.strLabel = QString::fromLatin1(label);
        c.query.bQueried = true;
        c.query.bValid = valid;
        c.query.dValue = value;
        c.query.strUnit = nKindUnit(id);
        return c;
    };
    if (nKind == VARNOKS_READING_FAN)
        return {candidate("nct6798-isa-0290:fan1", "", 0, true),
                candidate("nct6798-isa-0290:fan2", "fan2", 1180, true),
                candidate("z53-hid-3-4:fan2", "Fan speed", 65535, true)};
    return {candidate("k10temp-pci-00c3:temp1", "Tctl", 48.5, true),
            candidate("amdgpu-pci-0300:temp1", "edge", 0, false)};
}

void TestCSettingDlg::sensorChooserStoresAnnouncesAndShowsTheChoice_data()
{
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("storedBefore"); // ABSENT: nothing stored
    QTest::addColumn<int>("shownBefore");      // index selected when the chooser opens
    QTest::addColumn<QString>("picked");       // the item's value the user picks; "" picks nothing
    QTest::addColumn<bool>("ok");
    QTest::addColumn<QString>("storedAfter");

    const QString fan = COMMON::KEY_CPU_FAN_SENSOR;
    const QString cpu = COMMON::KEY_CPU_TEMPERATURE_SENSOR;
    QTest::newRow("fan chosen") << fan << ABSENT << 0 << "nct6798-isa-0290:fan2" << true
                                << "nct6798-isa-0290:fan2";
    QTest::newRow("cooler fan chosen over a choice")
        << fan << "nct6798-isa-0290:fan2" << 2 << "z53-hid-3-4:fan2" << true << "z53-hid-3-4:fan2";
    QTest::newRow("back to automatic") << cpu << "k10temp-pci-00c3:temp1" << 1 << "auto" << true << "auto";
    QTest::newRow("cancel keeps the store")
        << fan << ABSENT << 0 << "nct6798-isa-0290:fan1" << false << ABSENT;
    // A value the program could not have stored reads as automatic and
    // stays as it is until the user picks another.
    QTest::newRow("junk reads as automatic")
        << fan << "nct6798-isa-0290:fan2 /../../etc" << 0 << "" << true << "nct6798-isa-0290:fan2 /../../etc";
    QTest::newRow("far too long reads as automatic")
        << cpu << QString(300, QLatin1Char('a')) + ":temp1" << 0 << "" << true
        << QString(300, QLatin1Char('a')) + ":temp1";
    // Stored on another machine: shown last, kept.
    QTest::newRow("absent choice is kept")
        << fan << "it8686-isa-0a40:fan3" << 4 << "" << true << "it8686-isa-0a40:fan3";
}

void TestCSettingDlg::sensorChooserStoresAnnouncesAndShowsTheChoice()
{
    QFETCH(QString, key);
    QFETCH(QString, storedBefore);
    QFETCH(int, shownBefore);
    QFETCH(QString, picked);
    QFETCH(bool, ok);
    QFETCH(QString, storedAfter);
    TestEnv env;
    LogCapture log;
    if (storedBefore != ABSENT)
        CommonTools::SetSettingValue(key, storedBefore);
    const int reading = key == COMMON::KEY_CPU_FAN_SENSOR ? 2 : 0;
    CSettingDlg dialog;
    dialog.setSensorCandidateSource(&chooserCandidates);
    QSignalSpy spy(&dialog, SIGNAL(settingInfoChanged(QString, QString)));

    QStringList items;
    int shown = -1;
    BoxAnswerer answerer;
    answerer.push([&](QWidget* window) {
        auto* list = window->findChild<QComboBox*>(QStringLiteral("cmb_sensor_%1").arg(reading));
        if (!list)
            return;
        for (int i = 0; i < list->count(); ++i)
            items << list->itemText(i);
        shown = list->currentIndex();
        if (!picked.isEmpty())
            list->setCurrentIndex(list->findData(picked));
        window->findChild<QPushButton*>(ok ? "btn_ok" : "btn_cancel")->click();
    });
    QTest::mouseClick(child<QPushButton>(&dialog, "btn_choose_sensors"), Qt::LeftButton);

    // Automatic first, then every candidate with chip, label and value.
    QVERIFY2(items.size() >= 3, qPrintable(items.join('|')));
    QCOMPARE(items.first(), QString::fromUtf8("自动"));
    if (reading == 2) {
        QCOMPARE(items.mid(1, 3),
                 (QStringList{"nct6798-isa-0290  fan1  0 RPM", "nct6798-isa-0290  fan2  1180 RPM",
                              "z53-hid-3-4  fan2 \"Fan speed\"  --"}));
    } else {
        QCOMPARE(items.mid(1, 2), (QStringList{QString::fromUtf8("k10temp-pci-00c3  temp1 \"Tctl\"  48.5 ℃"),
                                               "amdgpu-pci-0300  temp1 \"edge\"  --"}));
    }
    QCOMPARE(shown, shownBefore);
    if (shownBefore == items.size() - 1 && items.size() == 5)
        QCOMPARE(items.last(), storedBefore + QString::fromUtf8("（当前不存在）"));
    QCOMPARE(stored(key), storedAfter);
    const bool changed = storedAfter != storedBefore;
    QCOMPARE(announced(spy), changed ? QStringList{key + "=" + storedAfter} : QStringList());
    QCOMPARE(CommonTools::GetSensorChoice(key),
             CommonTools::SensorChoiceFromText(storedAfter == ABSENT ? QString() : storedAfter));

    // The next time the chooser shows what is stored now.
    if (changed) {
        int shownAgain = -1;
        QString valueAgain;
        answerer.push([&](QWidget* window) {
            auto* list = window->findChild<QComboBox*>(QStringLiteral("cmb_sensor_%1").arg(reading));
            shownAgain = list->currentIndex();
            valueAgain = list->currentData().toString();
            window->findChild<QPushButton*>("btn_cancel")->click();
        });
        QTest::mouseClick(child<QPushButton>(&dialog, "btn_choose_sensors"), Qt::LeftButton);
        QCOMPARE(valueAgain, storedAfter);
        QVERIFY(shownAgain >= 0);
        QCOMPARE(spy.count(), 1);
    }
}

QTEST_MAIN(TestCSettingDlg)
#include "tst_csettingdlg.moc"
