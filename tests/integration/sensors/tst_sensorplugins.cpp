#include "logcapture.h"
#include "testenv.h"

#include "app/common.h"
#include "sensors/hardwareinforeader.h"
#include "sensors/sensorlibrary.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QtTest>

namespace {

const QString kSimLibrary = QStringLiteral("libvarnoks-sensors-sim.so");
const QString kHwmonLibrary = QStringLiteral("libvarnoks-sensors-hwmon.so");

QString SimPath()
{
    return TestEnv::binPath(kSimLibrary);
}

bool WriteFile(const QString& strPath, const QByteArray& content)
{
    QFile file(strPath);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(content) == content.size();
}

// A fixture with a CPU package temperature, a CPU fan and a GPU temperature.
QByteArray ThreeReadings(const QByteArray& cpuValues, const QByteArray& extra = QByteArray())
{
    return R"({"init": 0, "sensors": [
        {"name": "CPU [coretemp-isa-0000] DTS", "readings": [
            {"kind": 1, "slot": 0, "label": "CPU Core 0", "unit": "\u00b0C", "values": [30]},
            {"kind": 1, "slot": 1, "label": "CPU Package", "unit": "\u00b0C", "values": )" +
           cpuValues + extra + R"(}]},
        {"name": "[dell_smm-virtual-0]", "readings": [
            {"kind": 3, "slot": 0, "label": "CPU Processor Fan", "unit": "RPM", "values": [1000, 1200, 1400]}]},
        {"name": "GPU [amdgpu-pci-0300]", "readings": [
            {"kind": 1, "slot": 0, "label": "GPU Temperature", "unit": "\u00b0C", "values": [35, 36]}]}]})";
}

struct Snapshots
{
    explicit Snapshots(HardwareInfoReader& reader)
    {
        QObject::connect(&reader, &HardwareInfoReader::signalsGetHardwareInfo,
                         [this](const COMMON::HardwareInfo& info) { list.append(info); });
    }
    QStringList Cpu() const
    {
        QStringList values;
        for (const COMMON::HardwareInfo& info : list) {
            values << info.strCPUTemperature;
        }
        return values;
    }
    QList<COMMON::HardwareInfo> list;
};

HardwareInfoReader::SourceOpener OpenLibrary(const QString& strPath)
{
    return [strPath](QString* pError) { return SensorLibraryLoader::Load(strPath, pError); };
}

using ProbeResult = TestEnv::ProgramRun;

ProbeResult RunProbe(const QStringList& arguments, const QString& strLibrary, const QString& strFixture)
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("VARNOKS_SENSOR_LIBRARY"), strLibrary);
    environment.insert(QStringLiteral("VARNOKS_SENSOR_FIXTURE"), strFixture);
    return TestEnv::runProgram(TestEnv::binPath(QStringLiteral("varnoks-sensors")), arguments, environment,
                               20000);
}

} // namespace

// Receives snapshots through the signature-text connection the main window uses.
class SnapshotReceiver : public QObject
{
    Q_OBJECT
public:
    QList<COMMON::HardwareInfo> received;
public slots:
    void onReadHardwareInfo(COMMON::HardwareInfo hardwareInfo) { received.append(hardwareInfo); }
};

class TestSensorPlugins : public QObject
{
    Q_OBJECT

private slots:
    void simReadingsAreSmoothedFromTheSecondValue();
    void simFixtureIsReadAgainWhenItChanges();
    void userChoiceTakesEffectAtOnceAndAnAbsentOneIsKept();
    void simRejectsBrokenFixtures_data();
    void simRejectsBrokenFixtures();
    void loaderNamesWhatIsMissing_data();
    void loaderNamesWhatIsMissing();
    void loaderPrefersTheEnvironmentThenTheProgramFolder();
    void hwmonInitialisesAndSearches();
    void hwmonReportsAndSurvivesBrokenConfigurations_data();
    void hwmonReportsAndSurvivesBrokenConfigurations();
    void probePrintsTheChosenReadings_data();
    void probePrintsTheChosenReadings();
    void probeListsPresentReadingsOnOneLineEach();
    void probeFailsWithTheProgramsOwnTexts_data();
    void probeFailsWithTheProgramsOwnTexts();
    // Uses the process-wide reader; keep it last.
    void singleReaderLoadsOnThePoolAndStopsAfterRelease();
};

void TestSensorPlugins::simReadingsAreSmoothedFromTheSecondValue()
{
    TestEnv env;
    const QString strFixture = env.path() + QStringLiteral("/fixture.json");
    // The search makes the first refresh and sees 10; cycles see 40, 60, ...
    QVERIFY(WriteFile(strFixture, ThreeReadings("[10, 40, 60, 60, 60]")));
    qputenv("VARNOKS_SENSOR_FIXTURE", QFile::encodeName(strFixture));

    HardwareInfoReader reader(OpenLibrary(SimPath()));
    Snapshots snapshots(reader);
    reader.InitHWi32Dll();
    QVERIFY(reader.IsReady());
    const SensorSearchResult locators = reader.Locators();
    QCOMPARE(locators.cpuTemperature.nSensor, 0);
    QCOMPARE(locators.cpuTemperature.nSlot, 1);
    QCOMPARE(locators.cpuTemperature.nScore, 310);
    for (int i = 0; i < 4; ++i) {
        reader.onReadHardwareInfo();
    }
    QCOMPARE(snapshots.Cpu(), QStringList({"40", "48.8", "57.6", "60"}));
    QCOMPARE(snapshots.list.first().strFanRpm, QStringLiteral("1200"));
    QCOMPARE(snapshots.list.last().strFanRpm, QStringLiteral("1400"));
    QCOMPARE(snapshots.list.first().strGPUTemperature, QStringLiteral("36"));
}

void TestSensorPlugins::userChoiceTakesEffectAtOnceAndAnAbsentOneIsKept()
{
    TestEnv env;
    LogCapture log;
    const QString strFixture = env.path() + QStringLiteral("/fixture.json");
    const QByteArray withFans = R"({"sensors": [
        {"name": "CPU [coretemp-isa-0000] DTS", "readings": [
            {"kind": 1, "slot": 0, "label": "CPU Package", "unit": "C", "values": [45, 45], "id": "coretemp-isa-0000:temp1"},
            {"kind": 3, "slot": 0, "label": "CPU Fan", "unit": "RPM", "values": [900, 900], "id": "b-isa-0290:fan1"}]},
        {"name": "[c-hid-3-1]", "readings": [
            {"kind": 3, "slot": 3, "label": "Fan speed", "unit": "RPM", "values": [1700, 1700], "id": "c-hid-3-1:fan2"}]}]})";
    QVERIFY(WriteFile(strFixture, withFans));
    qputenv("VARNOKS_SENSOR_FIXTURE", QFile::encodeName(strFixture));

    HardwareInfoReader reader(OpenLibrary(SimPath()));
    Snapshots snapshots(reader);
    // Chosen before the search, absent: the automatic fan, said once.
    reader.SetSensorChoice(HardwareInfoReader::CpuFan, QStringLiteral("c-hid-3-1:fan9"));
    reader.InitHWi32Dll();
    reader.onReadHardwareInfo();
    QCOMPARE(snapshots.list.last().strFanRpm, QStringLiteral("900"));
    QVERIFY(!reader.IsChosenByUser(HardwareInfoReader::CpuFan));
    QCOMPARE(log.count(QStringLiteral("The chosen CPU fan sensor c-hid-3-1:fan9 is not present")), 1);

    // The same choice announced again says nothing more; a present one
    // applies at the next cycle, through the settings route.
    reader.onSettingValueChanged(COMMON::KEY_CPU_FAN_SENSOR, QStringLiteral("c-hid-3-1:fan9"));
    reader.onSettingValueChanged(COMMON::KEY_CPU_FAN_SENSOR, QStringLiteral("c-hid-3-1:fan2"));
    reader.onReadHardwareInfo();
    QCOMPARE(snapshots.list.last().strFanRpm, QStringLiteral("1700"));
    QVERIFY(reader.IsChosenByUser(HardwareInfoReader::CpuFan));
    QCOMPARE(reader.Locators().cpuFan.nSensor, 1);
    QCOMPARE(reader.Locators().cpuFan.nSlot, 3);

    // The candidates carry their identities and the chooser's labels.
    const QList<SensorCandidate> fans = reader.Candidates(VARNOKS_READING_FAN);
    QCOMPARE(fans.size(), 2);
    QCOMPARE(fans.at(1).identity.strIdentity, QStringLiteral("c-hid-3-1:fan2"));
    QCOMPARE(fans.at(1).identity.Chip(), QStringLiteral("c-hid-3-1"));
    QCOMPARE(fans.at(1).query.dValue, 1700.0);

    // Junk and "auto" give the automatic fan back.
    reader.onSettingValueChanged(COMMON::KEY_CPU_FAN_SENSOR, QStringLiteral("c-hid-3-1:fan2;x"));
    reader.onReadHardwareInfo();
    QCOMPARE(snapshots.list.last().strFanRpm, QStringLiteral("900"));
    QVERIFY(!reader.IsChosenByUser(HardwareInfoReader::CpuFan));
    // Other settings leave the choice alone.
    reader.onSettingValueChanged(COMMON::KEY_CPU_FAN_SENSOR, QStringLiteral("c-hid-3-1:fan2"));
    reader.onSettingValueChanged(COMMON::KEY_FAN_RPM_ALARM, QStringLiteral("c-hid-3-1:fan9"));
    reader.onReadHardwareInfo();
    QCOMPARE(snapshots.list.last().strFanRpm, QStringLiteral("1700"));
    QCOMPARE(log.count(QStringLiteral("is not present")), 1);
    qunsetenv("VARNOKS_SENSOR_FIXTURE");
}

void TestSensorPlugins::simFixtureIsReadAgainWhenItChanges()
{
    TestEnv env;
    LogCapture log;
    const QString strFixture = env.path() + QStringLiteral("/fixture.json");
    QVERIFY(WriteFile(strFixture, ThreeReadings("[50]")));
    qputenv("VARNOKS_SENSOR_FIXTURE", QFile::encodeName(strFixture));

    HardwareInfoReader reader(OpenLibrary(SimPath()));
    Snapshots snapshots(reader);
    reader.InitHWi32Dll();
    reader.onReadHardwareInfo();

    // New values start over from their first one.
    QVERIFY(WriteFile(strFixture, ThreeReadings("[55.5, 57]")));
    reader.onReadHardwareInfo();
    reader.onReadHardwareInfo();
    // A change that does not parse keeps the last good readings.
    QVERIFY(WriteFile(strFixture, "{\"sensors\": [ half written"));
    reader.onReadHardwareInfo();
    // The reading turns invalid, then its query fails.
    QVERIFY(WriteFile(strFixture, ThreeReadings("[58]", ", \"valid\": false")));
    reader.onReadHardwareInfo();
    QVERIFY(WriteFile(strFixture, ThreeReadings("[58]", ", \"query\": false")));
    reader.onReadHardwareInfo();

    QCOMPARE(snapshots.Cpu(), QStringList({"50", "55.5", "57", "57", "--", "--"}));
    QCOMPARE(log.count(QStringLiteral("Get cpu temp from hwi32 invalid!")), 1);
    QCOMPARE(log.count(QStringLiteral("Get cpu temp from hwi32 error!")), 1);
}

void TestSensorPlugins::simRejectsBrokenFixtures_data()
{
    QTest::addColumn<QByteArray>("content"); // "<missing>" for no file
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("reason");

    QTest::newRow("no file") << QByteArray("<missing>") << 1002 << "cannot read";
    QTest::newRow("not json") << QByteArray("init = 0") << 1003 << "not JSON";
    QTest::newRow("top level list") << QByteArray("[]") << 1003 << "object";
    QTest::newRow("init not a number") << QByteArray(R"({"init": "0"})") << 1003 << "\"init\"";
    QTest::newRow("init fraction") << QByteArray(R"({"init": 1.5})") << 1003 << "\"init\"";
    QTest::newRow("sensors not a list") << QByteArray(R"({"sensors": {}})") << 1003 << "\"sensors\"";
    QTest::newRow("slot past the end")
        << QByteArray(R"({"sensors": [{"name": "x", "readings": [{"kind": 1, "slot": 512}]}]})") << 1003
        << "slot";
    QTest::newRow("negative slot")
        << QByteArray(R"({"sensors": [{"name": "x", "readings": [{"kind": 1, "slot": -1}]}]})") << 1003
        << "slot";
    QTest::newRow("value not a number")
        << QByteArray(R"({"sensors": [{"readings": [{"kind": 1, "slot": 0, "values": ["40"]}]}]})") << 1003
        << "values";
    QTest::newRow("valid not a boolean")
        << QByteArray(R"({"sensors": [{"readings": [{"kind": 3, "slot": 0, "valid": 1}]}]})") << 1003
        << "valid";
    QTest::newRow("label not a text")
        << QByteArray(R"({"sensors": [{"readings": [{"kind": 1, "slot": 0, "label": 5}]}]})") << 1003
        << "label";
    QTest::newRow("id not a text")
        << QByteArray(R"({"sensors": [{"readings": [{"kind": 3, "slot": 0, "id": ["a:fan1"]}]}]})") << 1003
        << "\"id\"";
    QTest::newRow("init error from fixture") << QByteArray(R"({"init": -3, "sensors": []})") << -3 << "";
}

void TestSensorPlugins::simRejectsBrokenFixtures()
{
    QFETCH(QByteArray, content);
    QFETCH(int, code);
    QFETCH(QString, reason);

    TestEnv env;
    const QString strFixture = env.path() + QStringLiteral("/fixture.json");
    if (content != "<missing>") {
        QVERIFY(WriteFile(strFixture, content));
    }
    qputenv("VARNOKS_SENSOR_FIXTURE", QFile::encodeName(strFixture));
    QString strError;
    const SensorEntryPoints api = SensorLibraryLoader::Load(SimPath(), &strError);
    QVERIFY2(api.IsComplete(), qPrintable(strError));
    QVERIFY(api.diagnostics);
    QCOMPARE(api.initialise(64), code);
    QCOMPARE(api.count(), 0);
    const QString strDiagnostics = QString::fromLatin1(api.diagnostics());
    QVERIFY2(strDiagnostics.contains(reason), qPrintable(strDiagnostics));
    VarnoksSensorReading record{};
    QCOMPARE(api.read(VARNOKS_READING_TEMPERATURE, 0, 0, &record), 0);
}

void TestSensorPlugins::loaderNamesWhatIsMissing_data()
{
    QTest::addColumn<QString>("library");
    QTest::addColumn<bool>("complete");
    QTest::addColumn<QString>("error");

    QTest::newRow("sim plugin") << SimPath() << true << "";
    QTest::newRow("hwmon plugin") << TestEnv::binPath(kHwmonLibrary) << true << "";
    QTest::newRow("no such file") << "libvarnoks-sensors-none.so" << false << "libvarnoks-sensors-none";
    QTest::newRow("library without the entry points") << "libm.so.6" << false << "varnoks_sensor_initialise";
    QTest::newRow("not a library") << TestEnv::sourcePath(QStringLiteral("CMakeLists.txt")) << false
                                   << "CMakeLists.txt";
    QTest::newRow("empty name") << "" << false << "no sensor library";
}

void TestSensorPlugins::loaderNamesWhatIsMissing()
{
    QFETCH(QString, library);
    QFETCH(bool, complete);
    QFETCH(QString, error);

    QString strError;
    const SensorEntryPoints api = SensorLibraryLoader::Load(library, &strError);
    QCOMPARE(api.IsComplete(), complete);
    QVERIFY2(strError.contains(error), qPrintable(strError));
}

void TestSensorPlugins::loaderPrefersTheEnvironmentThenTheProgramFolder()
{
    const QByteArray saved = qgetenv("VARNOKS_SENSOR_LIBRARY");
    qputenv("VARNOKS_SENSOR_LIBRARY", "/opt/elsewhere/libmine.so");
    QCOMPARE(SensorLibraryLoader::LibraryToLoad(), QStringLiteral("/opt/elsewhere/libmine.so"));
    qunsetenv("VARNOKS_SENSOR_LIBRARY");
    // The tests run from the folder that holds the plugins.
    QCOMPARE(SensorLibraryLoader::LibraryToLoad(), TestEnv::binPath(kHwmonLibrary));
    if (!saved.isNull()) {
        qputenv("VARNOKS_SENSOR_LIBRARY", saved);
    }
}

void TestSensorPlugins::hwmonInitialisesAndSearches()
{
    TestEnv env;
    HardwareInfoReader reader(OpenLibrary(TestEnv::binPath(kHwmonLibrary)));
    Snapshots snapshots(reader);
    reader.InitHWi32Dll();
    QVERIFY(reader.IsReady());
    reader.onReadHardwareInfo();
    QCOMPARE(snapshots.list.size(), 1);
    if (!QDir(QStringLiteral("/sys/class/hwmon")).exists() &&
        !QFile::exists(QStringLiteral("/dev/nvidiactl"))) {
        // A machine without sensors: nothing is found, nothing is read.
        const SensorSearchResult locators = reader.Locators();
        QVERIFY(!locators.cpuTemperature.IsFound());
        QVERIFY(!locators.gpuTemperature.IsFound());
        QVERIFY(!locators.cpuFan.IsFound());
        QCOMPARE(snapshots.list.first().strCPUTemperature, QStringLiteral("--"));
    }
}

void TestSensorPlugins::hwmonReportsAndSurvivesBrokenConfigurations_data()
{
    QTest::addColumn<QByteArray>("config"); // "<missing>": no such file, "<folder>": a folder
    QTest::addColumn<QStringList>("diagnostics");

    QTest::newRow("mistakes are reported by line") << QByteArray("chip \"coretemp-*\"\n  label temp1\n")
                                                   << QStringList{"sensors3.conf:", "syntax error"};
    QTest::newRow("bad chip name") << QByteArray("chip \"%%%\"\n")
                                   << QStringList{"sensors3.conf:1: Parse error in chip name"};
    QTest::newRow("unreadable file falls back to none")
        << QByteArray("<missing>") << QStringList{"cannot be read", "unusable", "reading without it"};
    QTest::newRow("a folder is not read")
        << QByteArray("<folder>") << QStringList{"cannot be read", "unusable"};
}

void TestSensorPlugins::hwmonReportsAndSurvivesBrokenConfigurations()
{
    QFETCH(QByteArray, config);
    QFETCH(QStringList, diagnostics);

    TestEnv env;
    const QString strConfig = env.path() + QStringLiteral("/sensors3.conf");
    if (config == "<folder>") {
        QVERIFY(QDir().mkpath(strConfig));
    } else if (config != "<missing>") {
        QVERIFY(WriteFile(strConfig, config));
    }
    qputenv("VARNOKS_SENSORS_CONFIG", QFile::encodeName(strConfig));
    const SensorEntryPoints api = SensorLibraryLoader::Load(TestEnv::binPath(kHwmonLibrary));
    QVERIFY(api.IsComplete());
    QVERIFY(api.diagnostics);
    const int nResult = api.initialise(64);
    const QString strDiagnostics = QString::fromLatin1(api.diagnostics());
    qunsetenv("VARNOKS_SENSORS_CONFIG");
    QCOMPARE(nResult, 0);
    for (const QString& strExpected : diagnostics) {
        QVERIFY2(strDiagnostics.contains(strExpected), qPrintable(strDiagnostics));
    }
    QVERIFY(api.count() >= 0);
    api.shutdown();
    QCOMPARE(api.count(), 0);
}

void TestSensorPlugins::probePrintsTheChosenReadings_data()
{
    QTest::addColumn<QByteArray>("fixture");
    QTest::addColumn<QString>("expected");
    QTest::addColumn<QByteArray>("settings"); // the settings file's [General] lines

    QTest::newRow("three readings")
        << ThreeReadings("[45.5]")
        << "cpu_temperature sensor=0 slot=1 score=310 label=\"CPU Package\" value=45.5\n"
           "gpu_temperature sensor=2 slot=0 score=-1 label=\"GPU Temperature\" value=35\n"
           "cpu_fan sensor=1 slot=0 score=-1 label=\"CPU Processor Fan\" value=1000\n"
        << QByteArray();
    QTest::newRow("nothing found") << QByteArray(R"({"sensors": [{"name": "x"}]})")
                                   << "cpu_temperature none (no candidate)\ngpu_temperature none (no "
                                      "candidate)\ncpu_fan none (no candidate)\n"
                                   << QByteArray();
    QTest::newRow("only invalid readings")
        << QByteArray(R"({"sensors": [{"name": "n", "readings": [
               {"kind": 1, "slot": 0, "label": "CPU Package", "valid": false},
               {"kind": 1, "slot": 1, "label": "GPU Temperature", "query": false},
               {"kind": 3, "slot": 0, "label": "CPU Fan", "unit": "RPM", "valid": false}]}]})")
        << "cpu_temperature none (only invalid readings)\ngpu_temperature none (no candidate)\n"
           "cpu_fan none (only invalid readings)\n"
        << QByteArray();
    QTest::newRow("fahrenheit converted, label quoted")
        << QByteArray(R"({"sensors": [{"name": "n", "readings": [
               {"kind": 1, "slot": 7, "label": "CPU \"Tctl\"\nx", "unit": "F", "values": [212.7]},
               {"kind": 3, "slot": 2, "label": "CPU", "unit": "rpm", "values": [800], "valid": false},
               {"kind": 3, "slot": 3, "label": "CPU", "unit": "rpm", "values": [900]}]}]})")
        << "cpu_temperature sensor=0 slot=7 score=11 label=\"CPU \\\"Tctl\\\"\\x0ax\" value=100\n"
           "gpu_temperature none (no candidate)\n"
           "cpu_fan sensor=0 slot=3 score=-1 label=\"CPU\" value=900\n"
        << QByteArray();
    // The user's choice, by identity, over the search's; a choice the source
    // does not have leaves the automatic one.
    const QByteArray withIds = R"({"sensors": [
        {"name": "CPU [coretemp-isa-0000] DTS", "readings": [
            {"kind": 1, "slot": 0, "label": "CPU Package", "unit": "C", "values": [45.5], "id": "coretemp-isa-0000:temp1"}]},
        {"name": "[it8686-isa-0a40]", "readings": [
            {"kind": 1, "slot": 2, "label": "Proc Socket", "unit": "C", "values": [47], "id": "it8686-isa-0a40:temp3"},
            {"kind": 3, "slot": 0, "label": "Fan 1", "unit": "RPM", "values": [700], "id": "it8686-isa-0a40:fan1"},
            {"kind": 3, "slot": 1, "label": "Fan 2", "unit": "RPM", "values": [1500], "id": "it8686-isa-0a40:fan2"}]}]})";
    QTest::newRow("fan and temperature chosen by the user")
        << withIds
        << "cpu_temperature sensor=1 slot=2 score=-1 label=\"Proc Socket\" value=47 "
           "id=\"it8686-isa-0a40:temp3\" rule=\"chosen by the user\"\n"
           "gpu_temperature none (no candidate)\n"
           "cpu_fan sensor=1 slot=1 score=-1 label=\"Fan 2\" value=1500 id=\"it8686-isa-0a40:fan2\" "
           "rule=\"chosen by the user\"\n"
        << QByteArray("cpu fan sensor=it8686-isa-0a40:fan2\ncpu temperature sensor=it8686-isa-0a40:temp3\n");
    QTest::newRow("choices not present, or junk, leave the automatic ones")
        << withIds
        << "cpu_temperature sensor=0 slot=0 score=310 label=\"CPU Package\" value=45.5\n"
           "gpu_temperature none (no candidate)\n"
           "cpu_fan none (no candidate)\n"
        << QByteArray("cpu fan sensor=it8686-isa-0a40:fan7\ncpu temperature sensor=0\n"
                      "gpu temperature sensor=it8686-isa-0a40:fan2/../x\n");
    // Impossible values show as "--", with what was read.
    QTest::newRow("fan 65535 and -127 degrees")
        << ThreeReadings("[-127]").replace("[1000, 1200, 1400]", "[65535]")
        << "cpu_temperature sensor=0 slot=1 score=310 label=\"CPU Package\" value=--(impossible -127)\n"
           "gpu_temperature sensor=2 slot=0 score=-1 label=\"GPU Temperature\" value=35\n"
           "cpu_fan sensor=1 slot=0 score=-1 label=\"CPU Processor Fan\" value=--(impossible 65535)\n"
        << QByteArray();
}

void TestSensorPlugins::probePrintsTheChosenReadings()
{
    QFETCH(QByteArray, fixture);
    QFETCH(QString, expected);
    QFETCH(QByteArray, settings);

    TestEnv env;
    const QString strFixture = env.path() + QStringLiteral("/fixture.json");
    QVERIFY(WriteFile(strFixture, fixture));
    // Stored by hand, as a user edits the file.
    QVERIFY(QDir().mkpath(env.configHome() + QStringLiteral("/KR_alvo")));
    QVERIFY(
        WriteFile(env.configHome() + QStringLiteral("/KR_alvo/VarnoksPilot.conf"), "[General]\n" + settings));
    const ProbeResult result = RunProbe({QStringLiteral("--chosen")}, SimPath(), strFixture);
    QCOMPARE(result.nExitCode, 0);
    QCOMPARE(result.strOut, expected);
    // Only a choice that names no reading the source has is reported.
    QCOMPARE(result.strErr.count(QStringLiteral("is not present")), settings.count("fan7"));
}

void TestSensorPlugins::probeListsPresentReadingsOnOneLineEach()
{
    TestEnv env;
    const QString strFixture = env.path() + QStringLiteral("/fixture.json");
    QVERIFY(WriteFile(strFixture, R"({"sensors": [{"name": "A\nB", "readings": [
        {"kind": 3, "slot": 4, "label": "Fan", "unit": "RPM", "values": [700], "id": "a-isa-0290:fan5"},
        {"kind": 1, "slot": 9, "label": "T", "unit": "\u00b0C", "values": [41.25]},
        {"kind": 1, "slot": 1, "label": "gone", "valid": false},
        {"kind": 2, "slot": 0, "label": "volts"}]}, {"name": "empty"}]})"));
    const ProbeResult result = RunProbe({}, SimPath(), strFixture);
    QCOMPARE(result.nExitCode, 0);
    // --list says so explicitly.
    const ProbeResult listed = RunProbe({QStringLiteral("--list")}, SimPath(), strFixture);
    QCOMPARE(listed.nExitCode, 0);
    QCOMPARE(listed.strOut, result.strOut);
    QCOMPARE(result.strOut, QString::fromUtf8("sensor 0 \"A\\x0aB\"\n"
                                              "  kind=1 slot=9 label=\"T\" unit=\"\u00b0C\" value=41.25\n"
                                              "  kind=3 slot=4 label=\"Fan\" unit=\"RPM\" value=700 "
                                              "id=\"a-isa-0290:fan5\" own_label=\"Fan\"\n"
                                              "sensor 1 \"empty\"\n"));
}

void TestSensorPlugins::probeFailsWithTheProgramsOwnTexts_data()
{
    QTest::addColumn<QString>("library");
    QTest::addColumn<QByteArray>("fixture");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("message");
    QTest::addColumn<QString>("out");

    QTest::newRow("missing library") << "libvarnoks-sensors-none.so" << QByteArray("{}") << 1
                                     << "HWi32: CANNOT LOAD DLL!"
                                     << "";
    QTest::newRow("initialise error")
        << SimPath() << QByteArray(R"({"init": -3})") << 2 << "HWi32: INIT FAILED -3!"
        << "";
    QTest::newRow("broken fixture") << SimPath() << QByteArray("{") << 2 << "HWi32: INIT FAILED 1003!"
                                    << "";
    QTest::newRow("no chip") << SimPath() << QByteArray(R"({"sensors": []})") << 1
                             << "varnoks-sensors: no sensor chip found. Load the sensor drivers with "
                                "sensors-detect from lm-sensors (as root), then run varnoks-sensors again."
                             << "cpu_temperature none (no chip)\ngpu_temperature none (no chip)\n"
                                "cpu_fan none (no chip)\n";
}

void TestSensorPlugins::probeFailsWithTheProgramsOwnTexts()
{
    QFETCH(QString, library);
    QFETCH(QByteArray, fixture);
    QFETCH(int, exitCode);
    QFETCH(QString, message);
    QFETCH(QString, out);

    TestEnv env;
    const QString strFixture = env.path() + QStringLiteral("/fixture.json");
    QVERIFY(WriteFile(strFixture, fixture));
    const ProbeResult result = RunProbe({QStringLiteral("--chosen")}, library, strFixture);
    QCOMPARE(result.nExitCode, exitCode);
    QCOMPARE(result.strOut, out);
    QVERIFY2(result.strErr.split(QLatin1Char('\n')).contains(message), qPrintable(result.strErr));
}

void TestSensorPlugins::singleReaderLoadsOnThePoolAndStopsAfterRelease()
{
    TestEnv env;
    const QString strFixture = env.path() + QStringLiteral("/fixture.json");
    QVERIFY(WriteFile(strFixture, ThreeReadings("[20, 21, 22, 23, 24, 25, 26, 27, 28]")));
    qputenv("VARNOKS_SENSOR_FIXTURE", QFile::encodeName(strFixture));
    qputenv("VARNOKS_SENSOR_LIBRARY", QFile::encodeName(SimPath()));

    HardwareInfoReader* pReader = HardwareInfoReader::GetInstance();
    QVERIFY(pReader);
    QCOMPARE(HardwareInfoReader::GetInstance(), pReader);
    SnapshotReceiver receiver;
    QVERIFY(QObject::connect(pReader, SIGNAL(signalsGetHardwareInfo(COMMON::HardwareInfo)), &receiver,
                             SLOT(onReadHardwareInfo(COMMON::HardwareInfo))));
    QTRY_VERIFY_WITH_TIMEOUT(pReader->IsReady(), 10000);
    pReader->StartReading(30);
    QTRY_VERIFY_WITH_TIMEOUT(receiver.received.size() >= 3, 5000);
    QCOMPARE(receiver.received.first().strCPUTemperature, QStringLiteral("21"));

    HardwareInfoReader::ReleaseHWi32Dll();
    QVERIFY(!pReader->IsReady());
    const int nAfterRelease = receiver.received.size();
    QTest::qWait(150);
    QCOMPARE(receiver.received.size(), nAfterRelease);
    HardwareInfoReader::ReleaseHWi32Dll(); // a second release does nothing
}

QTEST_GUILESS_MAIN(TestSensorPlugins)
#include "tst_sensorplugins.moc"
