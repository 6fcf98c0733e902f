#include "app/common.h"
#include "app/commontools.h"
#include "testenv.h"

#include <QFile>
#include <QtTest>

class TestCommonTools : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QCoreApplication::setApplicationName(COMMON::APPLICATION_NAME); }
    void init() { m_env.reset(new TestEnv); }
    void cleanup() { m_env.reset(); }

    void temperatureConversionsTruncateTowardZero_data();
    void temperatureConversionsTruncateTowardZero();
    void roundTripMayLoseADegree();
    void hostileValuesDoNotOverflow();
    void translationFileForLanguageIndex_data();
    void translationFileForLanguageIndex();
    void absentKeyGivesDefaultAsText();
    void writtenValueIsReadBackAsText();
    void everyReadSeesTheLastWrite();
    void storeLivesInTheUserConfigFolder();
    void integerSettingOutsideItsRuleReadsAsDefault_data();
    void integerSettingOutsideItsRuleReadsAsDefault();
    void corruptSettingsFileGivesDefaults();

private:
    QScopedPointer<TestEnv> m_env;
};

void TestCommonTools::temperatureConversionsTruncateTowardZero_data()
{
    QTest::addColumn<bool>("toFahrenheit");
    QTest::addColumn<int>("input");
    QTest::addColumn<int>("expected");
    QTest::newRow("90C") << true << 90 << 194;
    QTest::newRow("0C") << true << 0 << 32;
    QTest::newRow("-1C truncates -9/5 to -1") << true << -1 << 31;
    QTest::newRow("100C") << true << 100 << 212;
    QTest::newRow("105C") << true << 105 << 221;
    QTest::newRow("194F") << false << 194 << 90;
    QTest::newRow("0F truncates -160/9 to -17") << false << 0 << -17;
    QTest::newRow("212F") << false << 212 << 100;
    QTest::newRow("33F") << false << 33 << 0;
    QTest::newRow("220F") << false << 220 << 104;
}

void TestCommonTools::temperatureConversionsTruncateTowardZero()
{
    QFETCH(bool, toFahrenheit);
    QFETCH(int, input);
    QFETCH(int, expected);
    QCOMPARE(toFahrenheit ? CommonTools::CelsiusToFahrenheit(input) : CommonTools::FahrenheitToCelsius(input),
             expected);
}

void TestCommonTools::roundTripMayLoseADegree()
{
    QCOMPARE(CommonTools::FahrenheitToCelsius(CommonTools::CelsiusToFahrenheit(91)), 90);
    QCOMPARE(CommonTools::FahrenheitToCelsius(CommonTools::CelsiusToFahrenheit(90)), 90);
}

void TestCommonTools::hostileValuesDoNotOverflow()
{
    // Thresholds come from a file the user (or anything) may have edited.
    QCOMPARE(CommonTools::CelsiusToFahrenheit(std::numeric_limits<int>::max()),
             std::numeric_limits<int>::max());
    QCOMPARE(CommonTools::CelsiusToFahrenheit(std::numeric_limits<int>::min()),
             std::numeric_limits<int>::min());
    QCOMPARE(CommonTools::FahrenheitToCelsius(std::numeric_limits<int>::min()),
             int((qint64(std::numeric_limits<int>::min()) - 32) * 5 / 9));
}

void TestCommonTools::translationFileForLanguageIndex_data()
{
    QTest::addColumn<int>("index");
    QTest::addColumn<QString>("file");
    QTest::newRow("0") << 0 << ":/zh_CN.qm";
    QTest::newRow("1") << 1 << ":/zh_TW.qm";
    QTest::newRow("2") << 2 << ":/eg_EN.qm";
    QTest::newRow("3") << 3 << ":/zh_CN.qm";
    QTest::newRow("7") << 7 << ":/zh_CN.qm";
    QTest::newRow("-1") << -1 << ":/zh_CN.qm";
}

void TestCommonTools::translationFileForLanguageIndex()
{
    QFETCH(int, index);
    QFETCH(QString, file);
    QCOMPARE(CommonTools::GetTranslationFile(index), file);
}

void TestCommonTools::absentKeyGivesDefaultAsText()
{
    const QVariant value = CommonTools::GetSettingValue(COMMON::KEY_CHANGE_INTERVAL, 2);
    QCOMPARE(value.type(), QVariant::String);
    QCOMPARE(value.toString(), QStringLiteral("2"));
    QCOMPARE(value.toInt(), 2);
}

void TestCommonTools::writtenValueIsReadBackAsText()
{
    CommonTools::SetSettingValue(COMMON::KEY_DISPLAY_FAN_RPM, 0);
    const QVariant value = CommonTools::GetSettingValue(COMMON::KEY_DISPLAY_FAN_RPM, 1);
    QCOMPARE(value.type(), QVariant::String);
    QCOMPARE(value.toString(), QStringLiteral("0"));

    CommonTools::SetSettingValue(COMMON::KEY_NEXT_UPGRADE_TIME, qint64(4102444800LL));
    QCOMPARE(CommonTools::GetSettingValue(COMMON::KEY_NEXT_UPGRADE_TIME, 998).toULongLong(), 4102444800ULL);
}

void TestCommonTools::everyReadSeesTheLastWrite()
{
    for (int i = 1; i <= 5; ++i) {
        CommonTools::SetSettingValue(COMMON::KEY_CPU_TEMP_ALARM, 80 + i);
        QCOMPARE(CommonTools::GetSettingValue(COMMON::KEY_CPU_TEMP_ALARM, 90).toInt(), 80 + i);
    }
}

void TestCommonTools::storeLivesInTheUserConfigFolder()
{
    CommonTools::SetSettingValue(COMMON::KEY_TEMPERATURE_UNIT, 1);
    const QString expected = m_env->configHome() + QStringLiteral("/KR_alvo/VarnoksPilot.conf");
    QCOMPARE(CommonTools::SettingsFilePath(), expected);
    QFile file(expected);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QVERIFY(file.readAll().contains("temperature%20unit=1"));
}

void TestCommonTools::integerSettingOutsideItsRuleReadsAsDefault_data()
{
    // stored: the file's text; a null string stores nothing.
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("stored");
    QTest::addColumn<int>("expected");
    using namespace COMMON;
    QTest::newRow("nothing stored: language") << KEY_LANGUAGE << QString() << 2;
    QTest::newRow("nothing stored: startup") << KEY_STARTUP << QString() << 0;
    QTest::newRow("nothing stored: unit") << KEY_TEMPERATURE_UNIT << QString() << 0;
    QTest::newRow("nothing stored: interval") << KEY_CHANGE_INTERVAL << QString() << 2;
    QTest::newRow("nothing stored: cpu alarm") << KEY_CPU_TEMP_ALARM << QString() << 90;
    QTest::newRow("nothing stored: gpu alarm") << KEY_GPU_TEMP_ALARM << QString() << 90;
    QTest::newRow("nothing stored: usage alarm") << KEY_USAGE_RATE_ALARM << QString() << 95;
    QTest::newRow("nothing stored: fan alarm") << KEY_FAN_RPM_ALARM << QString() << 300;
    QTest::newRow("nothing stored: show cpu") << KEY_DISPLAY_CPU_TEMP << QString() << 1;
    QTest::newRow("nothing stored: show gpu") << KEY_DISPLAY_GPU_TEMP << QString() << 1;
    QTest::newRow("nothing stored: show fan") << KEY_DISPLAY_FAN_RPM << QString() << 1;
    QTest::newRow("cpu alarm hot") << KEY_CPU_TEMP_ALARM << "hot" << 90;
    QTest::newRow("cpu alarm 2^32 + 5") << KEY_CPU_TEMP_ALARM << "4294967301" << 90;
    QTest::newRow("cpu alarm -1") << KEY_CPU_TEMP_ALARM << "-1" << 90;
    QTest::newRow("cpu alarm 221") << KEY_CPU_TEMP_ALARM << "221" << 90;
    QTest::newRow("cpu alarm 220") << KEY_CPU_TEMP_ALARM << "220" << 220;
    QTest::newRow("gpu alarm with blanks") << KEY_GPU_TEMP_ALARM << " 75 " << 75;
    QTest::newRow("gpu alarm 75.5") << KEY_GPU_TEMP_ALARM << "75.5" << 90;
    QTest::newRow("gpu alarm hexadecimal") << KEY_GPU_TEMP_ALARM << "0x50" << 90;
    QTest::newRow("gpu alarm empty") << KEY_GPU_TEMP_ALARM << "" << 90;
    QTest::newRow("usage alarm 101") << KEY_USAGE_RATE_ALARM << "101" << 95;
    QTest::newRow("usage alarm 0") << KEY_USAGE_RATE_ALARM << "0" << 0;
    QTest::newRow("fan alarm 10001") << KEY_FAN_RPM_ALARM << "10001" << 300;
    QTest::newRow("fan alarm lots") << KEY_FAN_RPM_ALARM << "lots" << 300;
    QTest::newRow("interval 0") << KEY_CHANGE_INTERVAL << "0" << 2;
    QTest::newRow("interval 61") << KEY_CHANGE_INTERVAL << "61" << 2;
    QTest::newRow("interval 60") << KEY_CHANGE_INTERVAL << "60" << 60;
    QTest::newRow("language 7 stays 7") << KEY_LANGUAGE << "7" << 7;
    QTest::newRow("language english text") << KEY_LANGUAGE << "english" << 2;
    QTest::newRow("unit 3 stays 3") << KEY_TEMPERATURE_UNIT << "3" << 3;
    QTest::newRow("unit huge") << KEY_TEMPERATURE_UNIT << "99999999999" << 0;
    QTest::newRow("show fan 0") << KEY_DISPLAY_FAN_RPM << "0" << 0;
    QTest::newRow("show fan 2") << KEY_DISPLAY_FAN_RPM << "2" << 2;
    QTest::newRow("show fan yes") << KEY_DISPLAY_FAN_RPM << "yes" << 1;
    QTest::newRow("unknown key") << "no such key"
                                 << "x" << 0;
}

void TestCommonTools::integerSettingOutsideItsRuleReadsAsDefault()
{
    QFETCH(QString, key);
    QFETCH(QString, stored);
    QFETCH(int, expected);
    if (!stored.isNull())
        CommonTools::SetSettingValue(key, stored);
    QCOMPARE(CommonTools::GetSettingInt(key), expected);
    // A changed setting's text follows the same rule.
    if (!stored.isNull())
        QCOMPARE(CommonTools::SettingValueToInt(key, stored), expected);
}

void TestCommonTools::corruptSettingsFileGivesDefaults()
{
    const QString path = CommonTools::SettingsFilePath();
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    static const char garbage[] = "\x00\xff[[[\n=\n\x01garbage";
    file.write(garbage, sizeof garbage - 1);
    file.close();
    QCOMPARE(CommonTools::GetSettingValue(COMMON::KEY_LANGUAGE, 2).toString(), QStringLiteral("2"));
    QCOMPARE(CommonTools::GetSettingInt(COMMON::KEY_CPU_TEMP_ALARM), COMMON::DEFAULT_CPU_TEMP_ALARM);
}

QTEST_GUILESS_MAIN(TestCommonTools)
#include "tst_commontools.moc"
