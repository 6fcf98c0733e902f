#include "fakesensorsource.h"
#include "logcapture.h"
#include "testenv.h"

#include "app/rslogger.h"
#include "sensors/hardwareinforeader.h"

#include <QSignalSpy>
#include <QtTest>

#include <cmath>
#include <limits>

namespace {

const QString kCpuError = QStringLiteral("Get cpu temp from hwi32 error!");
const QString kCpuInvalid = QStringLiteral("Get cpu temp from hwi32 invalid!");
const QString kFanError = QStringLiteral("Get cpu fan speed from hwi32 error!");
const QString kFanInvalid = QStringLiteral("Get cpu fan speed from hwi32 invalid!");
const QString kGpuError = QStringLiteral("Get gpu temp from hwi32 error!");
const QString kGpuInvalid = QStringLiteral("Get gpu temp from hwi32 invalid!");

// A source with the three readings on three sensors: CPU temperature at
// (0, 0), fan at (1, 2), GPU temperature at (2, 5).
const char* const kThreeSensors = "CPU [coretemp-isa-0000] DTS|1,0,CPU Package id 0,\xb0"
                                  "C||[dell_smm-virtual-0]|3,2,Processor CPU Fan,RPM||"
                                  "GPU [amdgpu-pci-0300]|1,5,GPU Temperature,\xb0"
                                  "C";

HardwareInfoReader::SourceOpener FakeOpener()
{
    return [](QString*) { return FakeSensorSource::Instance().EntryPoints(); };
}

// Collects every snapshot the reader emits.
struct Snapshots
{
    explicit Snapshots(HardwareInfoReader& reader)
    {
        QObject::connect(&reader, &HardwareInfoReader::signalsGetHardwareInfo,
                         [this](const COMMON::HardwareInfo& info) { list.append(info); });
    }
    QList<COMMON::HardwareInfo> list;
};

QString Locate(const SensorLocator& locator)
{
    return locator.IsFound() ? QStringLiteral("%1/%2").arg(locator.nSensor).arg(locator.nSlot)
                             : QStringLiteral("none");
}

} // namespace

class TestHardwareInfoReader : public QObject
{
    Q_OBJECT

private slots:
    void cpuTemperatureScoreFollowsKeywordsAndSensorName_data();
    void cpuTemperatureScoreFollowsKeywordsAndSensorName();
    void searchChoosesTheThreeReadings_data();
    void searchChoosesTheThreeReadings();
    void searchQueriesEverySlotOfEverySensorOnce();
    void onlyFahrenheitReadingsAreConverted_data();
    void onlyFahrenheitReadingsAreConverted();
    void shownCpuTemperatureMovesAtMostOneStepPerCycle_data();
    void shownCpuTemperatureMovesAtMostOneStepPerCycle();
    void failedReadingsLogAndKeepDashes_data();
    void failedReadingsLogAndKeepDashes();
    void eachDistinctSensorIsRefreshedOncePerCycle_data();
    void eachDistinctSensorIsRefreshedOncePerCycle();
    void sourceWithoutSensorsEmitsDashes();
    void cycleBeforeReadyEmitsNothing();
    void missingEntryPointGivesCannotLoad_data();
    void missingEntryPointGivesCannotLoad();
    void initialiseErrorIsLoggedWithItsCode();
    void startReadingWhileRunningKeepsTheTimer();
    void gpuAndFanAreShownWithoutSmoothing();
};

void TestHardwareInfoReader::cpuTemperatureScoreFollowsKeywordsAndSensorName_data()
{
    QTest::addColumn<QString>("label");
    QTest::addColumn<QString>("sensorName");
    QTest::addColumn<int>("score");

    QTest::newRow("no CPU in label") << "Package id 0"
                                     << "CPU [coretemp] DTS" << -1;
    QTest::newRow("GPU label") << "GPU Temperature"
                               << "CPU DTS" << -1;
    QTest::newRow("plain CPU") << "CPU"
                               << "board" << 0;
    QTest::newRow("core") << "CPU Core 0"
                          << "board" << 1;
    QTest::newRow("cores beats core") << "CPU Cores"
                                      << "board" << 2;
    QTest::newRow("average") << "CPU Core Average"
                             << "board" << 3;
    QTest::newRow("tdie scores as die") << "CPU Tdie"
                                        << "board" << 8;
    QTest::newRow("die") << "CPU Die (average)"
                         << "board" << 8;
    QTest::newRow("package") << "CPU Package"
                             << "board" << 10;
    QTest::newRow("maximum not sum") << "CPU Tctl/Tdie Core Package"
                                     << "board" << 11;
    QTest::newRow("lower case") << "cpu package"
                                << "board" << 10;
    QTest::newRow("DTS bonus") << "CPU Package"
                               << "CPU [coretemp] DTS" << 310;
    QTest::newRow("DTS before Enhanced") << "CPU Package"
                                         << "CPU Enhanced DTS" << 310;
    QTest::newRow("Enhanced bonus") << "CPU Package"
                                    << "cpu (enhanced)" << 210;
    QTest::newRow("CPU name bonus") << "CPU Package"
                                    << "Intel CPU" << 110;
    QTest::newRow("DTS without CPU adds nothing") << "CPU Package"
                                                  << "DTS Enhanced" << 10;
    QTest::newRow("motherboard input") << "CPUTIN"
                                       << "[nct6798-isa-0290]" << 0;
}

void TestHardwareInfoReader::cpuTemperatureScoreFollowsKeywordsAndSensorName()
{
    QFETCH(QString, label);
    QFETCH(QString, sensorName);
    QFETCH(int, score);
    QCOMPARE(CpuTemperatureScore(label, sensorName), score);
}

void TestHardwareInfoReader::searchChoosesTheThreeReadings_data()
{
    QTest::addColumn<QString>("sensors");
    QTest::addColumn<QString>("cpu");
    QTest::addColumn<int>("cpuScore");
    QTest::addColumn<QString>("gpu");
    QTest::addColumn<QString>("fan");

    QTest::newRow("nothing") << ""
                             << "none" << -1 << "none"
                             << "none";
    QTest::newRow("three sensors") << kThreeSensors << "0/0" << 310 << "2/5"
                                   << "1/2";
    QTest::newRow("equal scores keep the first sensor") << "CPU A|1,3,CPU Package,C||CPU B|1,0,CPU Package,C"
                                                        << "0/3" << 110 << "none"
                                                        << "none";
    QTest::newRow("equal scores keep the lower slot") << "CPU A|1,7,CPU Package,C|1,2,CPU Package,C"
                                                      << "0/2" << 110 << "none"
                                                      << "none";
    QTest::newRow("higher score on a later sensor wins")
        << "board|1,0,CPUTIN,C||CPU [coretemp] DTS|1,4,CPU Core 0,C|1,9,CPU Package id 0,C"
        << "1/9" << 310 << "none"
        << "none";
    QTest::newRow("last GPU temperature wins")
        << "g0|1,1,GPU Temperature,C||g1|1,0,GPU Temperature,C|1,8,GPU Temperature,C"
        << "none" << -1 << "1/8"
        << "none";
    QTest::newRow("CPU and GPU label is a CPU candidate only") << "x|1,0,CPU GPU Temperature,C"
                                                               << "0/0" << 0 << "none"
                                                               << "none";
    QTest::newRow("fan needs RPM") << "x|3,0,CPU Fan,%"
                                   << "none" << -1 << "none"
                                   << "none";
    QTest::newRow("fan needs CPU") << "x|3,0,System Fan,RPM"
                                   << "none" << -1 << "none"
                                   << "none";
    QTest::newRow("last fan wins") << "x|3,0,CPU Fan,RPM|3,4,CPU_OPT,rpm||y|3,1,CPU Fan,RPM"
                                   << "none" << -1 << "none"
                                   << "1/1";
    QTest::newRow("temperature labelled as fan is no fan") << "x|1,0,CPU Fan,RPM"
                                                           << "0/0" << 0 << "none"
                                                           << "none";
    QTest::newRow("invalid readings are skipped")
        << "x|1,0,CPU Package,C,invalid|1,1,CPU Core,C|1,2,GPU Temperature,C,invalid|3,0,CPU Fan,RPM,invalid"
        << "0/1" << 1 << "none"
        << "none";
    QTest::newRow("readings of a sleeping device are taken")
        << "x|1,0,CPU Core,C||gpu|1,0,GPU Temperature,C,asleep|3,0,CPU Fan,RPM,asleep"
        << "0/0" << 1 << "1/0"
        << "1/0";
    QTest::newRow("failed queries are skipped")
        << "x|1,0,CPU Package,C,fail|1,1,CPU Core,C|1,2,GPU Temperature,C,fail|3,0,CPU Fan,RPM,fail"
        << "0/1" << 1 << "none"
        << "none";
    QTest::newRow("last slot is searched") << "x|1,511,CPU,C|3,511,CPU,RPM"
                                           << "0/511" << 0 << "none"
                                           << "0/511";
    QTest::newRow("slots past the end are not") << "x|1,512,CPU,C"
                                                << "none" << -1 << "none"
                                                << "none";
}

void TestHardwareInfoReader::searchChoosesTheThreeReadings()
{
    QFETCH(QString, sensors);
    QFETCH(QString, cpu);
    QFETCH(int, cpuScore);
    QFETCH(QString, gpu);
    QFETCH(QString, fan);

    FakeSensorSource::Instance().Reset(FakeSensorSource::Parse(sensors));
    HardwareInfoReader reader(FakeOpener());
    reader.InitHWi32Dll();
    QVERIFY(reader.IsReady());
    const SensorSearchResult result = reader.Locators();
    QCOMPARE(Locate(result.cpuTemperature), cpu);
    QCOMPARE(result.cpuTemperature.nScore, cpuScore);
    QCOMPARE(Locate(result.gpuTemperature), gpu);
    QCOMPARE(Locate(result.cpuFan), fan);
}

void TestHardwareInfoReader::searchQueriesEverySlotOfEverySensorOnce()
{
    FakeSensorSource& source = FakeSensorSource::Instance();
    source.Reset(FakeSensorSource::Parse(QString::fromLatin1(kThreeSensors)));
    SearchSensorReadings(source.EntryPoints());
    QCOMPARE(source.refreshCalls, QVector<int>({1, 1, 1}));
    QCOMPARE(source.nReadCalls, 3 * 512 * 2);

    // A negative count searches nothing.
    source.Reset(FakeSensorSource::Parse(QString::fromLatin1(kThreeSensors)));
    source.nCountOverride = 0;
    const SensorSearchResult none = SearchSensorReadings(source.EntryPoints());
    QVERIFY(!none.cpuTemperature.IsFound());
    QCOMPARE(source.nReadCalls, 0);
}

void TestHardwareInfoReader::onlyFahrenheitReadingsAreConverted_data()
{
    QTest::addColumn<QString>("unit");
    QTest::addColumn<double>("value");
    QTest::addColumn<double>("expected");

    QTest::newRow("F truncates first") << "F" << 212.7 << 100.0;
    QTest::newRow("lower-case f") << "f" << 100.0 << 37.0;
    QTest::newRow("degree F") << QString::fromUtf8("\u00b0F") << 212.0 << 100.0;
    QTest::newRow("degree f") << QString::fromUtf8("\u00b0f") << 32.9 << 0.0;
    QTest::newRow("below zero truncates toward zero") << "F" << -40.5 << -40.0;
    QTest::newRow("degree C passes") << QString::fromUtf8("\u00b0C") << 45.5 << 45.5;
    QTest::newRow("C passes") << "C" << 45.5 << 45.5;
    QTest::newRow("c passes") << "c" << 61.25 << 61.25;
    QTest::newRow("empty passes") << "" << 45.5 << 45.5;
    QTest::newRow("RPM passes") << "RPM" << 1250.0 << 1250.0;
    QTest::newRow("Fahrenheit word passes") << "Fahrenheit" << 100.0 << 100.0;
    QTest::newRow("huge F stays in range") << "F" << 1e300 << double((2147483647LL - 32) * 5 / 9);
}

void TestHardwareInfoReader::onlyFahrenheitReadingsAreConverted()
{
    QFETCH(QString, unit);
    QFETCH(double, value);
    QFETCH(double, expected);
    QCOMPARE(HardwareInfoReader::ConvertReadingUnit(unit, value), expected);
}

void TestHardwareInfoReader::shownCpuTemperatureMovesAtMostOneStepPerCycle_data()
{
    QTest::addColumn<QVariantList>("readings"); // a double, or "invalid"
    QTest::addColumn<QStringList>("shown");
    QTest::addColumn<QString>("unit");

    const QString celsius = QString::fromUtf8("\u00b0C");
    QTest::newRow("rising") << QVariantList{40, 60, 60, 60} << QStringList{"40", "48.8", "57.6", "60"}
                            << celsius;
    QTest::newRow("exact step taken whole") << QVariantList{70, 61.2} << QStringList{"70", "61.2"} << celsius;
    QTest::newRow("falling past step") << QVariantList{70, 61} << QStringList{"70", "61.2"} << celsius;
    QTest::newRow("first reading shown as read")
        << QVariantList{-20.5, -20} << QStringList{"-20.5", "-20"} << celsius;
    QTest::newRow("fractions") << QVariantList{45.25, 45.3125} << QStringList{"45.25", "45.3125"} << "C";
    QTest::newRow("invalid does not touch the state")
        << QVariantList{40, "invalid", 60, "fail", 60} << QStringList{"40", "--", "48.8", "--", "57.6"}
        << celsius;
    QTest::newRow("fahrenheit converted before smoothing")
        << QVariantList{212.7, 100} << QStringList{"100", "91.2"} << "F";
    QTest::newRow("not a number is invalid") << QVariantList{40, std::numeric_limits<double>::quiet_NaN(), 41}
                                             << QStringList{"40", "--", "41"} << celsius;
    // Impossible values are no readings: they leave the state alone.
    QTest::newRow("bounds are possible, beyond them not")
        << QVariantList{-40, -40.5, 150, 150.5} << QStringList{"-40", "--", "-31.2", "--"} << celsius;
    QTest::newRow("firmware placeholder between readings")
        << QVariantList{40, 127, 41, 111, -127} << QStringList{"40", "--", "41", "--", "--"} << celsius;
    QTest::newRow("placeholders count only exactly")
        << QVariantList{110.5, 111.5} << QStringList{"110.5", "111.5"} << celsius;
    QTest::newRow("fahrenheit bound after conversion")
        << QVariantList{302, 304} << QStringList{"150", "--"} << "F";
}

void TestHardwareInfoReader::shownCpuTemperatureMovesAtMostOneStepPerCycle()
{
    QFETCH(QVariantList, readings);
    QFETCH(QStringList, shown);
    QFETCH(QString, unit);

    FakeSensorSource& source = FakeSensorSource::Instance();
    source.Reset(FakeSensorSource::Parse(QStringLiteral("CPU DTS|1,0,CPU Package,%1").arg(unit)));
    HardwareInfoReader reader(FakeOpener());
    Snapshots snapshots(reader);
    reader.InitHWi32Dll();
    for (const QVariant& reading : readings) {
        if (reading.type() == QVariant::String) {
            const bool bFail = reading.toString() == QLatin1String("fail");
            source.Set(0, VARNOKS_READING_TEMPERATURE, 0, 0.0, false, !bFail);
        } else {
            source.Set(0, VARNOKS_READING_TEMPERATURE, 0, reading.toDouble());
        }
        reader.onReadHardwareInfo();
    }
    QStringList actual;
    for (const COMMON::HardwareInfo& info : snapshots.list) {
        actual << info.strCPUTemperature;
    }
    QCOMPARE(actual, shown);
}

void TestHardwareInfoReader::failedReadingsLogAndKeepDashes_data()
{
    QTest::addColumn<int>("failing"); // 0 CPU temperature, 1 fan, 2 GPU temperature
    QTest::addColumn<bool>("queryFails");
    QTest::addColumn<bool>("asleep");
    QTest::addColumn<QString>("message");
    QTest::addColumn<double>("impossible"); // a valid but impossible value; NaN: none
    const double none = std::numeric_limits<double>::quiet_NaN();

    QTest::newRow("cpu error") << 0 << true << false << kCpuError << none;
    QTest::newRow("cpu invalid") << 0 << false << false << kCpuInvalid << none;
    QTest::newRow("fan error") << 1 << true << false << kFanError << none;
    QTest::newRow("fan invalid") << 1 << false << false << kFanInvalid << none;
    QTest::newRow("gpu error") << 2 << true << false << kGpuError << none;
    QTest::newRow("gpu invalid") << 2 << false << false << kGpuInvalid << none;
    // A sleeping device: one line when it falls asleep, one when it is back.
    QTest::newRow("gpu asleep") << 2 << false << true << kGpuInvalid << none;
    QTest::newRow("fan asleep") << 1 << false << true << kFanInvalid << none;
    // An impossible value: shown as "--", one line when it appears, one when
    // a possible value is back.
    QTest::newRow("fan 65535, the no-reading value")
        << 1 << false << false << "CPU fan reads 65535" << 65535.0;
    QTest::newRow("fan faster than any fan") << 1 << false << false << "CPU fan reads 30000.5" << 30000.5;
    QTest::newRow("fan below zero") << 1 << false << false << "CPU fan reads -1" << -1.0;
    QTest::newRow("cpu -127 placeholder") << 0 << false << false << "CPU temperature reads -127" << -127.0;
    QTest::newRow("cpu below -40") << 0 << false << false << "CPU temperature reads -40.5" << -40.5;
    QTest::newRow("cpu 127 placeholder") << 0 << false << false << "CPU temperature reads 127" << 127.0;
    QTest::newRow("gpu 111 placeholder") << 2 << false << false << "GPU temperature reads 111" << 111.0;
    QTest::newRow("gpu above 150") << 2 << false << false << "GPU temperature reads 150.5" << 150.5;
}

void TestHardwareInfoReader::failedReadingsLogAndKeepDashes()
{
    QFETCH(int, failing);
    QFETCH(bool, queryFails);
    QFETCH(bool, asleep);
    QFETCH(QString, message);
    QFETCH(double, impossible);
    const bool bImpossible = !std::isnan(impossible);

    TestEnv env;
    LogCapture log;
    FakeSensorSource& source = FakeSensorSource::Instance();
    source.Reset(FakeSensorSource::Parse(QString::fromLatin1(kThreeSensors)));
    source.Set(0, VARNOKS_READING_TEMPERATURE, 0, 51.5);
    source.Set(1, VARNOKS_READING_FAN, 2, 1250);
    source.Set(2, VARNOKS_READING_TEMPERATURE, 5, 38);
    HardwareInfoReader reader(FakeOpener());
    Snapshots snapshots(reader);
    reader.InitHWi32Dll();

    const int kinds[] = {VARNOKS_READING_TEMPERATURE, VARNOKS_READING_FAN, VARNOKS_READING_TEMPERATURE};
    const int slotIndex[] = {0, 2, 5};
    if (bImpossible) {
        source.Set(failing, kinds[failing], slotIndex[failing], impossible);
    } else {
        source.Set(failing, kinds[failing], slotIndex[failing], 99.0, false, !queryFails);
    }
    source.Find(failing, kinds[failing], slotIndex[failing])->bAsleep = asleep;
    reader.onReadHardwareInfo();
    reader.onReadHardwareInfo();

    QCOMPARE(snapshots.list.size(), 2);
    const COMMON::HardwareInfo& info = snapshots.list.last();
    QCOMPARE(info.strCPUTemperature, failing == 0 ? QStringLiteral("--") : QStringLiteral("51.5"));
    QCOMPARE(info.strFanRpm, failing == 1 ? QStringLiteral("--") : QStringLiteral("1250"));
    QCOMPARE(info.strGPUTemperature, failing == 2 ? QStringLiteral("--") : QStringLiteral("38"));
    QCOMPARE(info.strCPUUsageRate, QString());
    QCOMPARE(info.strGPUUsageRate, QString());

    // One line per cycle, at the error level, from the read operation; no
    // other reading complains. An impossible value: one warning.
    const QStringList lines = log.matching(bImpossible ? message : QStringLiteral("hwi32"));
    QCOMPARE(lines.size(), asleep || bImpossible ? 1 : 2);
    QCOMPARE(log.count(QStringLiteral("HardwareInfoReader::ReadHWInfoByHWi32Dll()")), lines.size());
    for (const QString& line : lines) {
        QVERIFY2(bImpossible ||
                     line.endsWith(QStringLiteral("HardwareInfoReader::ReadHWInfoByHWi32Dll(): ") + message),
                 qPrintable(line));
        QVERIFY2(line.contains(RSLogger::GetLevelName(bImpossible ? LOG_WARNING : LOG_ERROR)),
                 qPrintable(line));
    }
    if (asleep || bImpossible) {
        source.Set(failing, kinds[failing], slotIndex[failing], 42.0);
        source.Find(failing, kinds[failing], slotIndex[failing])->bAsleep = false;
        reader.onReadHardwareInfo();
        reader.onReadHardwareInfo();
        // The woken reading shows again, the others as before.
        const COMMON::HardwareInfo& awake = snapshots.list.last();
        QCOMPARE(awake.strCPUTemperature, failing == 0 ? QStringLiteral("42") : QStringLiteral("51.5"));
        QCOMPARE(awake.strFanRpm, failing == 1 ? QStringLiteral("42") : QStringLiteral("1250"));
        QCOMPARE(awake.strGPUTemperature, failing == 2 ? QStringLiteral("42") : QStringLiteral("38"));
        QCOMPARE(log.count(asleep ? QStringLiteral("valid again, its device woke up")
                                  : QStringLiteral("reads possible values again")),
                 1);
        QCOMPARE(log.count(QStringLiteral("HardwareInfoReader::ReadHWInfoByHWi32Dll()")), 2);
    }
}

void TestHardwareInfoReader::eachDistinctSensorIsRefreshedOncePerCycle_data()
{
    QTest::addColumn<QString>("sensors");
    QTest::addColumn<QVector<int>>("refreshesPerCycle");

    QTest::newRow("three sensors") << QString::fromLatin1(kThreeSensors) << QVector<int>{1, 1, 1};
    QTest::newRow("all on one sensor")
        << "CPU DTS|1,0,CPU Package,C|1,1,GPU Temperature,C|3,0,CPU Fan,RPM" << QVector<int>{1};
    QTest::newRow("fan shares the GPU sensor")
        << "CPU DTS|1,0,CPU Package,C||gpu|1,0,GPU Temperature,C|3,0,CPU Fan,RPM" << QVector<int>{1, 1};
    QTest::newRow("only the GPU") << "x||gpu|1,0,GPU Temperature,C" << QVector<int>{0, 1};
    QTest::newRow("nothing found") << "x|1,0,Board,C" << QVector<int>{0};
}

void TestHardwareInfoReader::eachDistinctSensorIsRefreshedOncePerCycle()
{
    QFETCH(QString, sensors);
    QFETCH(QVector<int>, refreshesPerCycle);

    FakeSensorSource& source = FakeSensorSource::Instance();
    source.Reset(FakeSensorSource::Parse(sensors));
    HardwareInfoReader reader(FakeOpener());
    reader.InitHWi32Dll();
    source.refreshCalls.fill(0);
    source.nReadCalls = 0;
    reader.onReadHardwareInfo();
    QCOMPARE(source.refreshCalls, refreshesPerCycle);
    int nLocated = 0;
    const SensorSearchResult locators = reader.Locators();
    for (const SensorLocator& locator : {locators.cpuTemperature, locators.cpuFan, locators.gpuTemperature}) {
        nLocated += locator.IsFound() ? 1 : 0;
    }
    QCOMPARE(source.nReadCalls, nLocated);
}

void TestHardwareInfoReader::sourceWithoutSensorsEmitsDashes()
{
    TestEnv env;
    LogCapture log;
    FakeSensorSource::Instance().Reset({});
    HardwareInfoReader reader(FakeOpener());
    Snapshots snapshots(reader);
    reader.InitHWi32Dll();
    QVERIFY(reader.IsReady());
    // Each missing reading is named once at start, with where to look.
    const QStringList missing = log.matching(QStringLiteral("sensor found (no chip)"));
    QCOMPARE(missing.size(), 3);
    for (const QString& strLine : missing) {
        QVERIFY2(strLine.contains(RSLogger::GetLevelName(LOG_INFO)) && strLine.contains("varnoks-sensors") &&
                     strLine.contains("sensors-detect"),
                 qPrintable(strLine));
    }
    QCOMPARE(FakeSensorSource::Instance().nInitArgument, 64);
    reader.onReadHardwareInfo();
    QCOMPARE(snapshots.list.size(), 1);
    const COMMON::HardwareInfo& info = snapshots.list.first();
    QCOMPARE(QStringList({info.strCPUTemperature, info.strCPUUsageRate, info.strGPUTemperature,
                          info.strGPUUsageRate, info.strFanRpm}),
             QStringList({"--", "", "--", "", "--"}));
}

void TestHardwareInfoReader::cycleBeforeReadyEmitsNothing()
{
    FakeSensorSource::Instance().Reset(FakeSensorSource::Parse(QString::fromLatin1(kThreeSensors)));
    HardwareInfoReader reader(FakeOpener());
    Snapshots snapshots(reader);
    COMMON::HardwareInfo info;
    info.strCPUTemperature = QStringLiteral("untouched");
    QVERIFY(!reader.ReadHWInfoByHWi32Dll(info));
    QCOMPARE(info.strCPUTemperature, QStringLiteral("untouched"));
    reader.StartReading(10000);
    QCOMPARE(snapshots.list.size(), 0);
    QCOMPARE(FakeSensorSource::Instance().nReadCalls, 0);
    reader.InitHWi32Dll();
    reader.onReadHardwareInfo();
    QCOMPARE(snapshots.list.size(), 1);
}

void TestHardwareInfoReader::missingEntryPointGivesCannotLoad_data()
{
    QTest::addColumn<int>("missing"); // -1: the library did not load at all
    QTest::newRow("no library") << -1;
    for (int i = 0; i < 6; ++i) {
        QTest::newRow(qPrintable(QStringLiteral("entry %1").arg(i))) << i;
    }
}

void TestHardwareInfoReader::missingEntryPointGivesCannotLoad()
{
    QFETCH(int, missing);
    TestEnv env;
    LogCapture log;
    FakeSensorSource::Instance().Reset(FakeSensorSource::Parse(QString::fromLatin1(kThreeSensors)));
    HardwareInfoReader reader([missing](QString*) {
        return missing < 0 ? SensorEntryPoints() : FakeSensorSource::Instance().EntryPointsWithout(missing);
    });
    Snapshots snapshots(reader);
    reader.InitHWi32Dll();
    QVERIFY(!reader.IsReady());
    QCOMPARE(FakeSensorSource::Instance().nInitArgument, 0); // never initialised
    reader.onReadHardwareInfo();
    QCOMPARE(snapshots.list.size(), 0);
    const QStringList lines = log.matching(QStringLiteral("HWi32"));
    QCOMPARE(lines.size(), 1);
    QVERIFY2(
        lines.first().endsWith(QStringLiteral("HardwareInfoReader::InitHWi32Dll(): HWi32: CANNOT LOAD DLL!")),
        qPrintable(lines.first()));
    QVERIFY(lines.first().contains(RSLogger::GetLevelName(LOG_ERROR)));
}

void TestHardwareInfoReader::initialiseErrorIsLoggedWithItsCode()
{
    TestEnv env;
    LogCapture log;
    FakeSensorSource::Instance().Reset(FakeSensorSource::Parse(QString::fromLatin1(kThreeSensors)), -3);
    HardwareInfoReader reader(FakeOpener());
    Snapshots snapshots(reader);
    reader.InitHWi32Dll();
    QVERIFY(!reader.IsReady());
    QCOMPARE(FakeSensorSource::Instance().nReadCalls, 0); // no search after a failed start
    reader.StartReading(10000);
    QCOMPARE(snapshots.list.size(), 0);
    const QStringList lines = log.matching(QStringLiteral("HWi32"));
    QCOMPARE(lines.size(), 1);
    QVERIFY2(
        lines.first().endsWith(QStringLiteral("HardwareInfoReader::InitHWi32Dll(): HWi32: INIT FAILED -3!")),
        qPrintable(lines.first()));
}

void TestHardwareInfoReader::startReadingWhileRunningKeepsTheTimer()
{
    FakeSensorSource::Instance().Reset(FakeSensorSource::Parse(QString::fromLatin1(kThreeSensors)));
    HardwareInfoReader reader(FakeOpener());
    Snapshots snapshots(reader);
    reader.InitHWi32Dll();
    reader.StartReading(40);
    QCOMPARE(snapshots.list.size(), 1); // the first cycle runs at once
    QTRY_VERIFY_WITH_TIMEOUT(snapshots.list.size() >= 3, 2000);
    QTimer* pTimer = reader.findChild<QTimer*>();
    QVERIFY(pTimer);
    const int nBefore = snapshots.list.size();
    reader.StartReading(5000);
    QCOMPARE(snapshots.list.size(), nBefore + 1);
    QCOMPARE(pTimer->interval(), 40);
    QVERIFY(pTimer->isActive());
}

void TestHardwareInfoReader::gpuAndFanAreShownWithoutSmoothing()
{
    FakeSensorSource& source = FakeSensorSource::Instance();
    source.Reset(FakeSensorSource::Parse(QString::fromLatin1(kThreeSensors)));
    HardwareInfoReader reader(FakeOpener());
    Snapshots snapshots(reader);
    reader.InitHWi32Dll();
    // The highest possible values are shown as they are.
    const double fans[] = {800, 2450.5, 29999.95};
    const double gpus[] = {30, 85.125, 150};
    for (int i = 0; i < 3; ++i) {
        source.Set(1, VARNOKS_READING_FAN, 2, fans[i]);
        source.Set(2, VARNOKS_READING_TEMPERATURE, 5, gpus[i]);
        reader.onReadHardwareInfo();
    }
    QStringList shown;
    for (const COMMON::HardwareInfo& info : snapshots.list) {
        shown << info.strFanRpm + QLatin1Char('/') + info.strGPUTemperature;
    }
    QCOMPARE(shown, QStringList({"800/30", "2450.5/85.125", "30000/150"}));
}

QTEST_GUILESS_MAIN(TestHardwareInfoReader)
#include "tst_hardwareinforeader.moc"
