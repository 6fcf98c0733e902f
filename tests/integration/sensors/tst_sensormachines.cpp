// The libsensors source on machines it cannot meet here: each machine's
// chips are built as a fake sysfs tree (tmpfs over /sys/class, /sys/devices
// and /sys/bus in a private mount namespace), and the real probe with the real
// plugin and libsensors runs on it, once with the hwmon entries numbered and
// created one way and once the other. NVIDIA GPUs come from a stand-in
// libnvidia-ml.so.1 that logs every call it gets.

#include "logcapture.h"
#include "testenv.h"

#include "sensors/hardwareinforeader.h"
#include "sensors/sensorlibrary.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QtTest>

#include <dlfcn.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const char* const kTrees[] = {"/sys/class", "/sys/devices", "/sys/bus"};
const char* const kReadings[] = {"cpu_temperature", "gpu_temperature", "cpu_fan"};

QString MachinesFolder()
{
    return TestEnv::sourcePath(QStringLiteral("tests/integration/sensors/machines"));
}

QJsonObject LoadMachine(const QString& strFile)
{
    QFile file(MachinesFolder() + QLatin1Char('/') + strFile);
    return file.open(QIODevice::ReadOnly) ? QJsonDocument::fromJson(file.readAll()).object() : QJsonObject();
}

bool WriteText(const QString& strPath, const QString& strText)
{
    QDir().mkpath(QFileInfo(strPath).path());
    QFile file(strPath);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(strText.toUtf8()) >= 0;
}

bool Link(const QString& strTarget, const QString& strLink)
{
    QDir().mkpath(QFileInfo(strLink).path());
    return QFile::link(strTarget, strLink);
}

timespec AccessTime(const QString& strPath)
{
    struct stat info = {};
    stat(QFile::encodeName(strPath).constData(), &info);
    return info.st_atim;
}

// The runtime_status texts of a device that must not be read: asleep, or on
// its way into or out of sleep.
QStringList SleepingStatuses()
{
    return {QStringLiteral("suspended"), QStringLiteral("suspending"), QStringLiteral("resuming")};
}

// Stores the machine's "settings" by hand in the program's settings file, as
// a user would edit it.
bool WriteSettings(const TestEnv& env, const QJsonObject& machine)
{
    const QJsonObject settings = machine.value(QLatin1String("settings")).toObject();
    QString strText = QStringLiteral("[General]\n");
    for (auto it = settings.begin(); it != settings.end(); ++it) {
        strText += it.key() + QLatin1Char('=') + it.value().toString() + QLatin1Char('\n');
    }
    return WriteText(env.configHome() + QStringLiteral("/KR_alvo/VarnoksPilot.conf"), strText);
}

// One machine's chips as sysfs would show them.
class FakeSysfs
{
public:
    // Fresh, empty trees. Files count every read in their access time, so
    // that a read of a sleeping card's files shows.
    static bool Remount(QString* pError)
    {
        for (const char* pszTree : kTrees) {
            umount2(pszTree, MNT_DETACH); // fails harmlessly the first time
            if (mount("tmpfs", pszTree, "tmpfs", MS_NOSUID | MS_NODEV | MS_STRICTATIME, "mode=0755") != 0) {
                *pError = QStringLiteral("mount tmpfs on %1: %2").arg(pszTree, qt_error_string(errno));
                return false;
            }
        }
        return true;
    }

    // bReverse numbers the hwmon entries the other way round and creates them
    // in the other order, so that libsensors detects the chips reversed.
    bool Build(const QJsonObject& machine, bool bReverse)
    {
        const QJsonArray chips = machine.value(QLatin1String("chips")).toArray();
        bool bOk = true;
        for (int k = 0; k < chips.size(); ++k) {
            const int i = bReverse ? chips.size() - 1 - k : k;
            bOk = BuildChip(chips.at(i).toObject(), bReverse ? chips.size() - 1 - i : i) && bOk;
        }
        const QJsonArray extra = machine.value(QLatin1String("extra_pci")).toArray();
        const QJsonArray nvml = machine.value(QLatin1String("nvml")).toArray();
        bNvmlWithoutPci = machine.value(QLatin1String("nvml_without_pci")).toBool();
        for (int i = 0; i < nvml.size(); ++i) {
            const QJsonObject gpu = nvml.at(i).toObject();
            const QString strBus = gpu.value(QLatin1String("bus")).toString();
            const bool bAsleep = gpu.value(QLatin1String("suspended")).toBool();
            QJsonObject device{{"vendor", "0x10de"}, {"class", "0x030000"}};
            for (const QJsonValue& value : extra) {
                if (value.toObject().value(QLatin1String("dev")).toString() == strBus) {
                    device = value.toObject();
                }
            }
            device.insert(QStringLiteral("runtime_status"), bAsleep ? "suspended" : "active");
            bOk = !PciDevice(strBus, device).isEmpty() && bOk;
            nvmlConfig += QStringLiteral("%1|%2|%3|%4\n")
                              .arg(gpu.value(QLatin1String("name")).toString())
                              .arg(gpu.value(QLatin1String("temp")).toInt())
                              .arg(strBus)
                              .arg(bAsleep ? 1 : 0);
            if (bAsleep) {
                sleepingChips << QStringLiteral("nvidia-%1").arg(i);
            }
        }
        for (const QString& strFile : sleepingFiles) {
            const timespec atime = AccessTime(strFile);
            accessTimes << (qint64(atime.tv_sec) * 1000000000 + atime.tv_nsec);
        }
        return bOk;
    }

    // Files of sleeping devices that were read since Build.
    QStringList ReadSleepingFiles() const
    {
        QStringList read;
        for (int i = 0; i < sleepingFiles.size(); ++i) {
            const timespec atime = AccessTime(sleepingFiles[i]);
            if (qint64(atime.tv_sec) * 1000000000 + atime.tv_nsec != accessTimes[i]) {
                read << sleepingFiles[i];
            }
        }
        return read;
    }

    // The order of readdir() on /sys/class/hwmon, as chip names.
    static QStringList DetectionOrder()
    {
        QStringList names;
        const QDir hwmon(QStringLiteral("/sys/class/hwmon"));
        for (const QString& strEntry :
             hwmon.entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot, QDir::Unsorted)) {
            QFile file(hwmon.filePath(strEntry) + QStringLiteral("/name"));
            names << (file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()).trimmed()
                                                     : strEntry);
        }
        return names;
    }

    QString nvmlConfig;                // the stand-in's GPUs
    bool bNvmlWithoutPci = false;      // ... and it tells no PCI addresses
    QStringList sleepingChips;         // chip names of runtime-suspended devices
    QStringList sleepingFiles;         // their hwmon value and label files
    QList<qint64> accessTimes;         // of sleepingFiles right after Build
    QMap<QString, QString> pciFolders; // chip or bus -> PCI device folder

private:
    QString PciDevice(const QString& strDev, const QJsonObject& chip)
    {
        const QString strFolder = QStringLiteral("/sys/devices/pci0000:00/") + strDev;
        const auto text = [&chip](const char* pszKey, const char* pszDefault) {
            const QJsonValue value = chip.value(QLatin1String(pszKey));
            return value.isUndefined() ? QString::fromLatin1(pszDefault) : value.toVariant().toString();
        };
        const bool bOk =
            WriteText(strFolder + "/vendor", text("vendor", "0x1002") + '\n') &&
            WriteText(strFolder + "/class", text("class", "0x030000") + '\n') &&
            WriteText(strFolder + "/power/runtime_status", text("runtime_status", "active") + '\n') &&
            (!chip.contains(QLatin1String("boot_vga")) ||
             WriteText(strFolder + "/boot_vga", text("boot_vga", "0") + '\n')) &&
            Link(QStringLiteral("/sys/bus/pci"), strFolder + "/subsystem") &&
            (QFile::exists("/sys/bus/pci/devices/" + strDev) ||
             Link(strFolder, "/sys/bus/pci/devices/" + strDev));
        pciFolders.insert(strDev, strFolder);
        return bOk ? strFolder : QString();
    }

    bool BuildChip(const QJsonObject& chip, int nNumber)
    {
        const QString strBus = chip.value(QLatin1String("bus")).toString();
        const QString strDev = chip.value(QLatin1String("dev")).toString();
        const QString strName = chip.value(QLatin1String("name")).toString();
        const QString strHwmon = QStringLiteral("hwmon%1").arg(nNumber);
        const QMap<QString, QString> busFolders{{"isa", "/sys/devices/platform/"},
                                                {"acpi", "/sys/devices/LNXSYSTM:00/"},
                                                {"i2c", "/sys/devices/i2c-adapter/"},
                                                {"scsi", "/sys/devices/scsi/"},
                                                {"hid", "/sys/devices/usb1/1-1/1-1:1.0/"}};
        const QMap<QString, QString> subsystems{
            {"isa", "platform"}, {"acpi", "acpi"}, {"i2c", "i2c"}, {"scsi", "scsi"}, {"hid", "hid"}};
        QString strDevice;
        bool bOk = true;
        if (strBus == QLatin1String("pci")) {
            strDevice = PciDevice(strDev, chip);
            bOk = !strDevice.isEmpty();
        } else if (busFolders.contains(strBus)) {
            strDevice = busFolders.value(strBus) + strDev;
            bOk = Link("/sys/bus/" + subsystems.value(strBus), strDevice + "/subsystem");
        }
        const QString strFolder =
            (strDevice.isEmpty() ? QStringLiteral("/sys/devices/virtual") : strDevice) + "/hwmon/" + strHwmon;
        bOk = WriteText(strFolder + "/name", strName + '\n') && bOk;
        bOk = Link(strFolder, "/sys/class/hwmon/" + strHwmon) && bOk;
        if (!strDevice.isEmpty()) {
            bOk = Link(strDevice, strFolder + "/device") && bOk;
        }
        const bool bAsleep =
            SleepingStatuses().contains(chip.value(QLatin1String("runtime_status")).toString());
        if (bAsleep) {
            sleepingChips << chip.value(QLatin1String("chip")).toString();
        }
        pciFolders.insert(chip.value(QLatin1String("chip")).toString(), strDevice);
        // Kind, default attribute, scale from the layout's units to sysfs'.
        const struct
        {
            const char* pszKind;
            const char* pszAttribute;
            double dScale;
        } kinds[] = {{"temp", "input", 1000},
                     {"fan", "input", 1},
                     {"in", "input", 1000},
                     {"curr", "input", 1000},
                     {"power", "average", 1000000}};
        for (const auto& kind : kinds) {
            for (const QJsonValue& value : chip.value(QLatin1String(kind.pszKind)).toArray()) {
                const QJsonArray feature = value.toArray();
                const QString strFeature =
                    QLatin1String(kind.pszKind) + QString::number(feature.at(0).toInt());
                const QString strAttribute =
                    feature.size() > 3 ? feature.at(3).toString() : QLatin1String(kind.pszAttribute);
                // A reading the driver refuses is an empty file.
                const QString strValue =
                    feature.at(2).isNull()
                        ? QString()
                        : QString::number(qRound64(feature.at(2).toDouble() * kind.dScale)) + '\n';
                const QString strFile = strFolder + '/' + strFeature + '_' + strAttribute;
                bOk = WriteText(strFile, strValue) && bOk;
                if (bAsleep) {
                    sleepingFiles << strFile;
                }
                if (!feature.at(1).isNull()) {
                    bOk =
                        WriteText(strFolder + '/' + strFeature + "_label", feature.at(1).toString() + '\n') &&
                        bOk;
                    if (bAsleep) {
                        sleepingFiles << strFolder + '/' + strFeature + "_label";
                    }
                }
            }
        }
        return bOk;
    }
};

QString FakeNvmlFolder()
{
    return QStringLiteral(VARNOKS_FAKE_NVML_DIR);
}

struct ProbeRun : TestEnv::ProgramRun
{
    QString strNvmlLog;
};

ProbeRun RunProbe(const FakeSysfs& sysfs, const QString& strFolder)
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("VARNOKS_SENSOR_LIBRARY"),
                       TestEnv::binPath(QStringLiteral("libvarnoks-sensors-hwmon.so")));
    environment.remove(QStringLiteral("VARNOKS_SENSORS_CONFIG"));
    const QString strLog = strFolder + QStringLiteral("/nvml.log");
    if (!sysfs.nvmlConfig.isEmpty()) {
        WriteText(strFolder + QStringLiteral("/nvml.conf"), sysfs.nvmlConfig);
        environment.insert(QStringLiteral("LD_LIBRARY_PATH"), FakeNvmlFolder());
        environment.insert(QStringLiteral("VARNOKS_FAKE_NVML"), strFolder + QStringLiteral("/nvml.conf"));
        environment.insert(QStringLiteral("VARNOKS_FAKE_NVML_LOG"), strLog);
        if (sysfs.bNvmlWithoutPci) {
            environment.insert(QStringLiteral("VARNOKS_FAKE_NVML_NO_PCI"), QStringLiteral("1"));
        }
    }
    ProbeRun run;
    static_cast<TestEnv::ProgramRun&>(run) =
        TestEnv::runProgram(TestEnv::binPath(QStringLiteral("varnoks-sensors")), {QStringLiteral("--chosen")},
                            environment, 30000);
    if (run.nExitCode == -1) {
        return run;
    }
    QFile log(strLog);
    if (log.open(QIODevice::ReadOnly)) {
        run.strNvmlLog = QString::fromUtf8(log.readAll());
    }
    return run;
}

// "chip:feature" of the reading a --chosen line names, or "none".
QString ChosenSource(const QString& strOut, const char* pszReading)
{
    const QRegularExpression line(QStringLiteral("^%1 (none|.* source=\"([^\"]*)\")").arg(pszReading),
                                  QRegularExpression::MultilineOption);
    const QRegularExpressionMatch match = line.match(strOut);
    if (!match.hasMatch()) {
        return QStringLiteral("<missing>");
    }
    return match.captured(2).isEmpty() ? QStringLiteral("none") : match.captured(2);
}

bool Accepts(const QJsonArray& accepted, const QString& strSource)
{
    for (const QJsonValue& value : accepted) {
        const QRegularExpression pattern(QRegularExpression::wildcardToRegularExpression(value.toString()));
        if (pattern.match(strSource).hasMatch()) {
            return true;
        }
    }
    return false;
}

} // namespace

class TestSensorMachines : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void probeChoosesTheExpectedReadings_data();
    void probeChoosesTheExpectedReadings();
    void sleepingGpuIsLeftAsleepAndShownWhenItWakes_data();
    void sleepingGpuIsLeftAsleepAndShownWhenItWakes();

private:
    QMap<QString, QStringList> m_forwardOrders;
};

void TestSensorMachines::initTestCase()
{
    // A private copy of the mount table; the trees vanish with the process.
    if (geteuid() != 0 || unshare(CLONE_NEWNS) != 0 ||
        mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
        QSKIP("fake sysfs trees need a private mount namespace (root or CAP_SYS_ADMIN, unshare -m); "
              "not permitted here");
    }
    QString strError;
    QVERIFY2(FakeSysfs::Remount(&strError), qPrintable(strError));
}

void TestSensorMachines::probeChoosesTheExpectedReadings_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<bool>("reverse");

    const QStringList files =
        QDir(MachinesFolder()).entryList({QStringLiteral("*.json")}, QDir::Files, QDir::Name);
    QVERIFY(files.size() >= 10);
    for (const QString& strFile : files) {
        QTest::addRow("%s forward", qPrintable(strFile)) << strFile << false;
        QTest::addRow("%s reverse", qPrintable(strFile)) << strFile << true;
    }
}

void TestSensorMachines::probeChoosesTheExpectedReadings()
{
    QFETCH(QString, file);
    QFETCH(bool, reverse);

    const QJsonObject machine = LoadMachine(file);
    QVERIFY2(!machine.isEmpty(), qPrintable(file));
    QString strError;
    QVERIFY2(FakeSysfs::Remount(&strError), qPrintable(strError));
    FakeSysfs sysfs;
    QVERIFY(sysfs.Build(machine, reverse));
    // Both runs really present the chips to libsensors in opposite orders.
    const QStringList order = FakeSysfs::DetectionOrder();
    if (!reverse) {
        m_forwardOrders.insert(file, order);
    } else if (m_forwardOrders.contains(file) && order.size() > 1) {
        QStringList reversed = m_forwardOrders.value(file);
        std::reverse(reversed.begin(), reversed.end());
        QCOMPARE(order, reversed);
    }

    TestEnv env;
    QVERIFY(WriteSettings(env, machine));
    const ProbeRun run = RunProbe(sysfs, env.path());
    const QString strRun = run.strOut + run.strErr;
    const bool bNoChip =
        machine.value(QLatin1String("chips")).toArray().isEmpty() && sysfs.nvmlConfig.isEmpty();
    QVERIFY2(run.nExitCode == (bNoChip ? 1 : 0), qPrintable(strRun));
    const QJsonObject expect = machine.value(QLatin1String("expect")).toObject();
    for (const char* pszReading : kReadings) {
        const QString strSource = ChosenSource(run.strOut, pszReading);
        QVERIFY2(Accepts(expect.value(QLatin1String(pszReading)).toArray(), strSource),
                 qPrintable(QStringLiteral("%1 chose %2\n%3").arg(pszReading, strSource, strRun)));
        // The rule, or the user's choice, and the value shown, where the
        // machine names them.
        const QString strRule =
            machine.value(QLatin1String("expect_rule")).toObject().value(pszReading).toString();
        if (!strRule.isEmpty()) {
            QVERIFY2(run.strOut.contains(QRegularExpression(
                         QStringLiteral("^%1 .* rule=\"%2\"$")
                             .arg(pszReading, QRegularExpression::escape(strRule).replace("\\\"", "\\\\\"")),
                         QRegularExpression::MultilineOption)),
                     qPrintable(strRun));
        } else {
            QVERIFY2(!run.strOut.contains(
                         QRegularExpression(QStringLiteral("^%1 .*chosen by the user").arg(pszReading),
                                            QRegularExpression::MultilineOption)),
                     qPrintable(strRun));
        }
        const QString strValue =
            machine.value(QLatin1String("expect_value")).toObject().value(pszReading).toString();
        if (!strValue.isEmpty()) {
            QVERIFY2(
                run.strOut.contains(QRegularExpression(
                    QStringLiteral("^%1 .* value=%2 ").arg(pszReading, QRegularExpression::escape(strValue)),
                    QRegularExpression::MultilineOption)),
                qPrintable(strRun));
        }
        // A chosen card that sleeps shows no value, and says why.
        if (sysfs.sleepingChips.contains(strSource.section(QLatin1Char(':'), 0, 0))) {
            const QRegularExpression asleep(QStringLiteral("^%1 .* value=--\\(asleep\\) ").arg(pszReading),
                                            QRegularExpression::MultilineOption);
            QVERIFY2(asleep.match(run.strOut).hasMatch(), qPrintable(strRun));
        }
    }
    for (const QJsonValue& text : machine.value(QLatin1String("expect_stderr")).toArray()) {
        QVERIFY2(run.strErr.contains(text.toString()), qPrintable(strRun));
    }
    for (const QJsonValue& text : machine.value(QLatin1String("expect_stderr_not")).toArray()) {
        QVERIFY2(!run.strErr.contains(text.toString()), qPrintable(strRun));
    }
    if (bNoChip) {
        QVERIFY2(run.strOut.contains(QStringLiteral("cpu_fan none (no chip)")), qPrintable(strRun));
        QVERIFY2(run.strErr.contains(QStringLiteral("sensors-detect")), qPrintable(strRun));
    }
    // Sleeping devices were neither read through sysfs nor asked through NVML.
    QCOMPARE(sysfs.ReadSleepingFiles(), QStringList());
    if (!sysfs.nvmlConfig.isEmpty()) {
        QVERIFY2(run.strNvmlLog.contains(QStringLiteral("nvmlDeviceGetCount_v2")),
                 qPrintable(run.strNvmlLog));
        QVERIFY2(!run.strNvmlLog.contains(QStringLiteral("WOKE")), qPrintable(run.strNvmlLog));
    }
}

void TestSensorMachines::sleepingGpuIsLeftAsleepAndShownWhenItWakes_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("device"); // the sleeping card's PCI device
    QTest::addColumn<QString>("awake");  // its temperature once awake
    QTest::addColumn<QString>("status"); // its runtime_status while it sleeps

    QTest::newRow("amdgpu card beside an APU") << "x3-hybrid-laptop-card-asleep.json"
                                               << "0000:03:00.0"
                                               << "45"
                                               << "suspended";
    QTest::newRow("radeon, the only card") << "x4-desktop-only-card-asleep.json"
                                           << "0000:01:00.0"
                                           << "50"
                                           << "suspended";
    QTest::newRow("nouveau beside an xe iGPU") << "x5-nouveau-asleep-intel-xe.json"
                                               << "0000:01:00.0"
                                               << "40"
                                               << "suspended";
    QTest::newRow("NVIDIA driver") << "x6-nvidia-asleep-amd-apu.json"
                                   << "0000:01:00.0"
                                   << "47"
                                   << "suspended";
    // A read while it suspends would wait for the suspend and wake it again;
    // one while it resumes would block the reading thread until it is up.
    QTest::newRow("amdgpu card suspending") << "x3-hybrid-laptop-card-asleep.json"
                                            << "0000:03:00.0"
                                            << "45"
                                            << "suspending";
    QTest::newRow("NVIDIA driver, card resuming") << "x6-nvidia-asleep-amd-apu.json"
                                                  << "0000:01:00.0"
                                                  << "47"
                                                  << "resuming";
}

void TestSensorMachines::sleepingGpuIsLeftAsleepAndShownWhenItWakes()
{
    QFETCH(QString, file);
    QFETCH(QString, device);
    QFETCH(QString, awake);
    QFETCH(QString, status);

    TestEnv env;
    LogCapture log;
    QString strError;
    QVERIFY2(FakeSysfs::Remount(&strError), qPrintable(strError));
    FakeSysfs sysfs;
    QVERIFY(sysfs.Build(LoadMachine(file), false));
    const QString strNvmlConfig = env.path() + QStringLiteral("/nvml.conf");
    const QString strNvmlLog = env.path() + QStringLiteral("/nvml.log");
    if (!sysfs.nvmlConfig.isEmpty()) {
        QVERIFY(WriteText(strNvmlConfig, sysfs.nvmlConfig));
        qputenv("VARNOKS_FAKE_NVML", QFile::encodeName(strNvmlConfig));
        qputenv("VARNOKS_FAKE_NVML_LOG", QFile::encodeName(strNvmlLog));
        // Loaded by its path first, the plugin's dlopen by name finds it.
        QVERIFY(dlopen(QFile::encodeName(FakeNvmlFolder() + "/libnvidia-ml.so.1").constData(), RTLD_NOW));
    }
    const auto setAsleep = [&](bool bAsleep) {
        QString strConfig = sysfs.nvmlConfig;
        if (!bAsleep) {
            strConfig.replace(QStringLiteral("|1\n"), QStringLiteral("|0\n"));
        }
        return WriteText(sysfs.pciFolders.value(device) + "/power/runtime_status",
                         bAsleep ? status + '\n' : QStringLiteral("active\n")) &&
               (sysfs.nvmlConfig.isEmpty() || WriteText(strNvmlConfig, strConfig));
    };
    QVERIFY(setAsleep(true));

    HardwareInfoReader reader([](QString* pError) {
        return SensorLibraryLoader::Load(TestEnv::binPath(QStringLiteral("libvarnoks-sensors-hwmon.so")),
                                         pError);
    });
    QStringList shown;
    connect(&reader, &HardwareInfoReader::signalsGetHardwareInfo,
            [&shown](const COMMON::HardwareInfo& info) { shown << info.strGPUTemperature; });
    reader.InitHWi32Dll();
    QVERIFY(reader.Locators().gpuTemperature.IsFound());
    const auto cycles = [&reader](int nCount) {
        for (int i = 0; i < nCount; ++i) {
            reader.onReadHardwareInfo();
        }
    };
    cycles(20);
    QCOMPARE(sysfs.ReadSleepingFiles(), QStringList());
    QVERIFY(setAsleep(false));
    cycles(3);
    QVERIFY(setAsleep(true));
    cycles(20);

    const auto repeated = [](const QString& strText, int nCount) {
        QStringList list;
        for (int i = 0; i < nCount; ++i) {
            list << strText;
        }
        return list;
    };
    QCOMPARE(shown, repeated("--", 20) + repeated(awake, 3) + repeated("--", 20));
    // One line as it falls asleep, one as it wakes, not one per cycle.
    QCOMPARE(log.count(QStringLiteral("Get gpu temp from hwi32 invalid!")), 2);
    QCOMPARE(log.count(QStringLiteral("Get gpu temp from hwi32 valid again")), 1);
    if (!sysfs.nvmlConfig.isEmpty()) {
        QFile nvmlLog(strNvmlLog);
        QVERIFY(nvmlLog.open(QIODevice::ReadOnly));
        const QString strCalls = QString::fromUtf8(nvmlLog.readAll());
        QCOMPARE(strCalls.count(QStringLiteral("nvmlDeviceGetTemperature 0\n")), 3);
        QVERIFY2(!strCalls.contains(QStringLiteral("WOKE")), qPrintable(strCalls));
        qunsetenv("VARNOKS_FAKE_NVML");
    }
}

QTEST_GUILESS_MAIN(TestSensorMachines)
#include "tst_sensormachines.moc"
