#include "fakesensorsource.h"
#include "hwmonlabels.h"

#include "sensors/sensorsearch.h"

#include <QtTest>

namespace {

// Parses "chip: t=Label,Label; f=Label; v=Label || chip2: ..." into chip
// descriptions; a reading answered 40 at start unless its label ends in
// "=value", or "=x" for no answer. A label "-" stands for a feature without a
// label (its name).
std::vector<hwmonlabels::ChipDescription> ParseMachine(const QString& strMachine)
{
    std::vector<hwmonlabels::ChipDescription> chips;
    for (const QString& strChip : strMachine.split(QStringLiteral("||"), Qt::SkipEmptyParts)) {
        const int nColon = strChip.indexOf(QLatin1Char(':'));
        hwmonlabels::ChipDescription chip;
        chip.strChip = strChip.left(nColon).trimmed().toStdString();
        chip.strPrefix = chip.strChip.substr(0, chip.strChip.find('-'));
        for (const QString& strPart : strChip.mid(nColon + 1).split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
            const QString strTrimmed = strPart.trimmed();
            const bool bFan = strTrimmed.startsWith(QLatin1String("f="));
            const bool bVoltage = strTrimmed.startsWith(QLatin1String("v="));
            std::vector<hwmonlabels::Feature>& list =
                bFan ? chip.fans : (bVoltage ? chip.voltages : chip.temperatures);
            const QStringList labels = strTrimmed.mid(2).split(QLatin1Char(','));
            for (int i = 0; i < labels.size(); ++i) {
                const std::string strName =
                    (bFan ? "fan" : (bVoltage ? "in" : "temp")) + std::to_string(i + 1);
                const QString strLabel = labels[i].section(QLatin1Char('='), 0, 0).trimmed();
                const double dValue = labels[i].contains(QLatin1Char('='))
                                          ? labels[i].section(QLatin1Char('='), 1).toDouble()
                                          : 40;
                const bool bReadable = !labels[i].endsWith(QLatin1String("=x"));
                list.push_back({strName, strLabel == QLatin1String("-") ? strName : strLabel.toStdString(),
                                bReadable, dValue});
            }
        }
        chips.push_back(chip);
    }
    return chips;
}

// Offers the composed sensors through the fake source, as the plugin would.
void Offer(const std::vector<hwmonlabels::ComposedSensor>& composed)
{
    QVector<FakeSensor> sensors;
    for (const hwmonlabels::ComposedSensor& sensor : composed) {
        FakeSensor fake;
        fake.name = QByteArray::fromStdString(sensor.strName);
        for (size_t i = 0; i < sensor.temperatureLabels.size(); ++i) {
            fake.readings.append({VARNOKS_READING_TEMPERATURE, int(i),
                                  QByteArray::fromStdString(sensor.temperatureLabels[i]),
                                  "\xb0"
                                  "C",
                                  45.0, true, true});
        }
        for (size_t i = 0; i < sensor.fanLabels.size(); ++i) {
            fake.readings.append({VARNOKS_READING_FAN, int(i), QByteArray::fromStdString(sensor.fanLabels[i]),
                                  "RPM", 900.0, true, true});
        }
        sensors.append(fake);
    }
    FakeSensorSource::Instance().Reset(sensors);
}

// "sensor name / label" of a chosen temperature or fan, "none" when not found.
QString Describe(const SensorLocator& locator, int nKind)
{
    if (!locator.IsFound()) {
        return QStringLiteral("none");
    }
    const SensorEntryPoints api = FakeSensorSource::Instance().EntryPoints();
    return QuerySensorName(api, locator.nSensor) + QStringLiteral(" / ") +
           QuerySensorReading(api, nKind, locator.nSensor, locator.nSlot).strLabel;
}

} // namespace

class TestHwmonLabels : public QObject
{
    Q_OBJECT

private slots:
    void searchPicksTheRightReadingsOnCommonHardware_data();
    void searchPicksTheRightReadingsOnCommonHardware();
    void eachGpuCarriesOneGpuTemperatureAndNoCpuLabel_data();
    void eachGpuCarriesOneGpuTemperatureAndNoCpuLabel();
};

void TestHwmonLabels::searchPicksTheRightReadingsOnCommonHardware_data()
{
    QTest::addColumn<QString>("machine");
    QTest::addColumn<QString>("cpu");
    QTest::addColumn<QString>("gpu");
    QTest::addColumn<QString>("fan");

    QTest::newRow("intel desktop, board fans unlabelled")
        << "nct6798-isa-0290: t=SYSTIN,CPUTIN,AUXTIN0; f=-,- || "
           "coretemp-isa-0000: t=Package id 0,Core 0,Core 4"
        << "CPU [coretemp-isa-0000] DTS / CPU Package id 0"
        << "none"
        << "none";
    QTest::newRow("fan labelled in the sensors configuration")
        << "coretemp-isa-0000: t=Core 0,Package id 0 || nct6798-isa-0290: t=CPUTIN; f=Chassis,CPU Fan,Pump"
        << "CPU [coretemp-isa-0000] DTS / CPU Package id 0"
        << "none"
        << "[nct6798-isa-0290] / CPU Fan";
    QTest::newRow("older coretemp physical id") << "coretemp-isa-0000: t=Core 0,Physical id 0"
                                                << "CPU [coretemp-isa-0000] DTS / CPU Package (Physical id 0)"
                                                << "none"
                                                << "none";
    QTest::newRow("two sockets keep the first package")
        << "coretemp-isa-0000: t=Package id 0 || coretemp-isa-0001: t=Package id 1"
        << "CPU [coretemp-isa-0000] DTS / CPU Package id 0"
        << "none"
        << "none";
    QTest::newRow("amd tctl") << "k10temp-pci-00c3: t=Tctl,Tccd1,Tccd2"
                              << "CPU [k10temp-pci-00c3] DTS / CPU Tctl"
                              << "none"
                              << "none";
    QTest::newRow("amd with tdie prefers the die") << "k10temp-pci-00c3: t=Tctl,Tdie,Tccd1"
                                                   << "CPU [k10temp-pci-00c3] DTS / CPU Tdie"
                                                   << "none"
                                                   << "none";
    QTest::newRow("zenpower") << "zenpower-pci-00c3: t=Tdie,Tctl,Tccd1"
                              << "CPU [zenpower-pci-00c3] DTS / CPU Tdie"
                              << "none"
                              << "none";
    QTest::newRow("amd ccd only") << "k10temp-pci-00c3: t=Tccd1"
                                  << "CPU [k10temp-pci-00c3] DTS / CPU Tccd1"
                                  << "none"
                                  << "none";
    QTest::newRow("cpu chip without a value gives way to the board's reading")
        << "k10temp-pci-00c3: t=Tctl=x || nct6798-isa-0290: t=SYSTIN,CPUTIN"
        << "[nct6798-isa-0290] / CPUTIN"
        << "none"
        << "none";
    QTest::newRow("raspberry pi") << "cpu_thermal-virtual-0: t=-"
                                  << "CPU [cpu_thermal-virtual-0] DTS / CPU Temperature (temp1)"
                                  << "none"
                                  << "none";
    QTest::newRow("board only falls back to CPUTIN") << "it8728-isa-0a30: t=-,CPUTIN"
                                                     << "[it8728-isa-0a30] / CPUTIN"
                                                     << "none"
                                                     << "none";
    QTest::newRow("acpi thermal zone when nothing else names the cpu")
        << "BAT0-acpi-0: v=- || acpitz-acpi-0: t=-,-"
        << "[acpitz-acpi-0] / CPU Temperature (temp1)"
        << "none"
        << "none";
    QTest::newRow("the board's CPUTIN before the acpi thermal zone")
        << "acpitz-acpi-0: t=- || nct6798-isa-0290: t=SYSTIN,CPUTIN"
        << "[nct6798-isa-0290] / CPUTIN"
        << "none"
        << "none";
    QTest::newRow("a cpu label reading 0 gives way to the acpi thermal zone")
        << "nct6798-isa-0290: t=SYSTIN,PCH_CPU_TEMP=0 || acpitz-acpi-0: t=-=0,-=48"
        << "[acpitz-acpi-0] / CPU Temperature (temp2)"
        << "none"
        << "none";
    QTest::newRow("cpu chip over the acpi thermal zone")
        << "acpitz-acpi-0: t=- || coretemp-isa-0000: t=Package id 0"
        << "CPU [coretemp-isa-0000] DTS / CPU Package id 0"
        << "none"
        << "none";
    QTest::newRow("amdgpu edge, not junction or memory")
        << "amdgpu-pci-0300: t=junction,edge,mem; f=- || k10temp-pci-00c3: t=Tctl"
        << "CPU [k10temp-pci-00c3] DTS / CPU Tctl"
        << "GPU [amdgpu-pci-0300] / GPU Temperature"
        << "none";
    QTest::newRow("gpu fan labelled cpu is still no cpu fan") << "amdgpu-pci-0300: t=edge; f=CPU Fan"
                                                              << "none"
                                                              << "GPU [amdgpu-pci-0300] / GPU Temperature"
                                                              << "none";
    QTest::newRow("discrete gpu after the integrated one") << "nouveau-pci-0100: t=- || i915-pci-0010: t=-"
                                                           << "none"
                                                           << "GPU [nouveau-pci-0100] / GPU Temperature"
                                                           << "none";
    QTest::newRow("xe package") << "xe-pci-0300: t=vram,pkg"
                                << "none"
                                << "GPU [xe-pci-0300] / GPU Temperature"
                                << "none";
    QTest::newRow("dell laptop processor fan")
        << "dell_smm-virtual-0: t=CPU,Ambient; f=Processor Fan,Video Fan || coretemp-isa-0000: t=Package id 0"
        << "CPU [coretemp-isa-0000] DTS / CPU Package id 0"
        << "none"
        << "[dell_smm-virtual-0] / CPU Processor Fan";
    QTest::newRow("thinkpad with its only fan") << "thinkpad-isa-0000: t=CPU,GPU; f=-"
                                                << "[thinkpad-isa-0000] / CPU"
                                                << "none"
                                                << "[thinkpad-isa-0000] / CPU Fan (fan1)";
    QTest::newRow("laptop with two unlabelled fans") << "thinkpad-isa-0000: f=-,-"
                                                     << "none"
                                                     << "none"
                                                     << "none";
    QTest::newRow("a named cpu fan beats the laptop's only fan")
        << "nct6775-isa-0290: f=CPU_FAN || thinkpad-isa-0000: f=-"
        << "none"
        << "none"
        << "[nct6775-isa-0290] / CPU_FAN";
    QTest::newRow("board chip with one fan is not a laptop") << "nct6775-isa-0290: f=-"
                                                             << "none"
                                                             << "none"
                                                             << "none";
    QTest::newRow("plain cpu header over optional and pump headers, whatever their order")
        << "asusec-isa-0000: f=CPU_Opt=0,CPU Pump,CPU,CPU_FAN2=0 || nct6798-isa-0290: f=CPU OPT"
        << "none"
        << "none"
        << "[asusec-isa-0000] / CPU";
    QTest::newRow("an empty optional header is never the cpu fan") << "nct6798-isa-0290: f=CPU OPT=0,Chassis"
                                                                   << "none"
                                                                   << "none"
                                                                   << "none";
    QTest::newRow("a turning optional header when nothing better is labelled")
        << "nct6798-isa-0290: f=CPU OPT,Chassis"
        << "none"
        << "none"
        << "[nct6798-isa-0290] / CPU OPT";
    QTest::newRow("card over apu by kernel signals, the apu named first")
        << "amdgpu-pci-0300: t=edge; v=vddgfx,vddnb || amdgpu-pci-0c00: t=edge,junction,mem"
        << "none"
        << "GPU [amdgpu-pci-0c00] / GPU Temperature"
        << "none";
    QTest::newRow("embedded controller with one fan") << "cros_ec-isa-0000: t=cpu@4c; f=-"
                                                      << "[cros_ec-isa-0000] / cpu@4c"
                                                      << "none"
                                                      << "[cros_ec-isa-0000] / CPU Fan (fan1)";
    QTest::newRow("embedded controller with two unlabelled fans") << "cros_ec-isa-0000: f=-,-"
                                                                  << "none"
                                                                  << "none"
                                                                  << "none";
    QTest::newRow("the board's only fan on its own driver")
        << "gpio_fan-isa-0000: f=- || cpu_thermal-virtual-0: t=-"
        << "CPU [cpu_thermal-virtual-0] DTS / CPU Temperature (temp1)"
        << "none"
        << "[gpio_fan-isa-0000] / CPU Fan (fan1)";
    QTest::newRow("a fan driver beside another fan is no cpu fan")
        << "pwmfan-isa-0000: f=- || it8728-isa-0a30: f=-"
        << "none"
        << "none"
        << "none";
    QTest::newRow("the machine's only fan on acpi's fan device")
        << "acpi_fan-isa-0000: f=- || coretemp-isa-0000: t=Package id 0"
        << "CPU [coretemp-isa-0000] DTS / CPU Package id 0"
        << "none"
        << "[acpi_fan-isa-0000] / CPU Fan (fan1)";
    QTest::newRow("acpi's fan device beside a board's fans is no cpu fan")
        << "acpi_fan-isa-0000: f=- || nct6798-isa-0290: f=-,-"
        << "none"
        << "none"
        << "none";
    QTest::newRow("a laptop's embedded controller before acpi's fan device")
        << "acpi_fan-isa-0000: f=- || toshiba_acpi_sensors-acpi-0: f=-"
        << "none"
        << "none"
        << "[toshiba_acpi_sensors-acpi-0] / CPU Fan (fan1)";
    // A board controller's reading through AMD's interface counts like PECI.
    QTest::newRow("amd tsi on the board without k10temp")
        << "nct6687-isa-0a20: t=SYSTIN,AMD TSI Addr 98h,VRM MOS"
        << "[nct6687-isa-0a20] / CPU AMD TSI Addr 98h"
        << "none"
        << "none";
    QTest::newRow("k10temp over the board's tsi")
        << "nct6687-isa-0a20: t=AMD TSI Addr 98h || k10temp-pci-00c3: t=Tctl"
        << "CPU [k10temp-pci-00c3] DTS / CPU Tctl"
        << "none"
        << "none";
    QTest::newRow("sb-tsi after the board's cputin, as peci")
        << "nct6776-isa-0290: t=AMD SB-TSI,CPUTIN,TSI0_TEMP"
        << "[nct6776-isa-0290] / CPUTIN"
        << "none"
        << "none";
    QTest::newRow("tsi0 of a newer controller") << "nct6799-isa-0290: t=SYSTIN,TSI0_TEMP"
                                                << "[nct6799-isa-0290] / CPU TSI0_TEMP"
                                                << "none"
                                                << "none";
    QTest::newRow("tsi inside another word is not tsi") << "it8686-isa-0a40: t=PTSIN,VTSI"
                                                        << "none"
                                                        << "none"
                                                        << "none";
    // A liquid cooler's fan channel where the board names no CPU fan.
    QTest::newRow("cooler fan channel, the pump passed by")
        << "z53-hid-3-4: t=Coolant temp; f=Pump speed,Fan speed"
        << "none"
        << "none"
        << "[z53-hid-3-4] / CPU Fan (Fan speed)";
    QTest::newRow("a cooler's pump alone is no cpu fan")
        << "x53-hid-3-2: f=Pump speed || nct6798-isa-0290: f=-,-"
        << "none"
        << "none"
        << "none";
    QTest::newRow("a labelled board cpu fan over the cooler")
        << "kraken2-hid-3-1: f=Fan,Pump || nct6687-isa-0a20: f=CPU Fan"
        << "none"
        << "none"
        << "[nct6687-isa-0a20] / CPU Fan";
    QTest::newRow("a pump labelled as the cpu fan") << "kraken2-hid-3-1: f=Fan=0,CPU Pump"
                                                    << "none"
                                                    << "none"
                                                    << "[kraken2-hid-3-1] / CPU Pump";
    QTest::newRow("any hid chip with a pump is a cooler") << "aio-hid-3-9: f=Pump,Radiator fan"
                                                          << "none"
                                                          << "none"
                                                          << "[aio-hid-3-9] / CPU Fan (Radiator fan)";
    QTest::newRow("a hid chip without a pump is no cooler") << "fanhub-hid-3-9: f=Fan 1"
                                                            << "none"
                                                            << "none"
                                                            << "none";
    QTest::newRow("the pump block's own fan is no radiator fan")
        << "rog_ryujin-hid-3-1: f=Pump speed,Internal fan speed"
        << "none"
        << "none"
        << "none";
    QTest::newRow("a turning cooler fan before a stopped one")
        << "d5next-hid-3-1: f=Pump speed,Fan speed=0,Fan 2 speed"
        << "none"
        << "none"
        << "[d5next-hid-3-1] / CPU Fan (Fan 2 speed)";
    QTest::newRow("soc zone over cluster zones")
        << "bigcore0_thermal-virtual-0: t=- || soc_thermal-virtual-0: t=- || gpu_thermal-virtual-0: t=-"
        << "CPU [soc_thermal-virtual-0] DTS / CPU Temperature (temp1)"
        << "GPU [gpu_thermal-virtual-0] / GPU Temperature"
        << "none";
    QTest::newRow("big cluster over little without a soc zone")
        << "littlecore_thermal-virtual-0: t=- || center_thermal-virtual-0: t=- || "
           "bigcore1_thermal-virtual-0: t=- || "
           "bigcore0_thermal-virtual-0: t=-"
        << "CPU [bigcore0_thermal-virtual-0] DTS / CPU Temperature (temp1)"
        << "none"
        << "none";
}

void TestHwmonLabels::searchPicksTheRightReadingsOnCommonHardware()
{
    QFETCH(QString, machine);
    QFETCH(QString, cpu);
    QFETCH(QString, gpu);
    QFETCH(QString, fan);

    Offer(hwmonlabels::ComposeSensors(ParseMachine(machine)));
    const SensorSearchResult result = SearchSensorReadings(FakeSensorSource::Instance().EntryPoints());
    QCOMPARE(Describe(result.cpuTemperature, VARNOKS_READING_TEMPERATURE), cpu);
    QCOMPARE(Describe(result.gpuTemperature, VARNOKS_READING_TEMPERATURE), gpu);
    QCOMPARE(Describe(result.cpuFan, VARNOKS_READING_FAN), fan);
}

void TestHwmonLabels::eachGpuCarriesOneGpuTemperatureAndNoCpuLabel_data()
{
    QTest::addColumn<QString>("chip");
    QTest::addColumn<int>("mainSlot");

    QTest::newRow("amdgpu") << "amdgpu-pci-0300: t=edge,junction,mem; f=-" << 0;
    QTest::newRow("amdgpu edge later") << "amdgpu-pci-0300: t=mem,junction,edge" << 2;
    QTest::newRow("amdgpu edge refused, junction stands in") << "amdgpu-pci-0300: t=edge=x,mem,junction" << 2;
    QTest::newRow("amdgpu memory only when nothing else answers")
        << "amdgpu-pci-0300: t=edge=x,junction=x,mem" << 2;
    QTest::newRow("amdgpu nothing answers keeps the edge")
        << "amdgpu-pci-0300: t=junction=x,edge=x,mem=x" << 1;
    QTest::newRow("xe package before vram") << "xe-pci-0300: t=vram,pkg" << 1;
    QTest::newRow("radeon") << "radeon-pci-0100: t=-" << 0;
    QTest::newRow("driver label says Temperature") << "nouveau-pci-0100: t=-,Temperature,cpu" << 0;
    QTest::newRow("config labels cpu on a gpu")
        << "amdgpu-pci-0300: t=edge,CPU hot spot; f=CPU,Processor" << 0;
}

void TestHwmonLabels::eachGpuCarriesOneGpuTemperatureAndNoCpuLabel()
{
    QFETCH(QString, chip);
    QFETCH(int, mainSlot);

    const std::vector<hwmonlabels::ComposedSensor> composed = hwmonlabels::ComposeSensors(ParseMachine(chip));
    QCOMPARE(composed.size(), size_t(1));
    const hwmonlabels::ComposedSensor& sensor = composed.front();
    QVERIFY(sensor.bGpu);
    for (int i = 0; i < int(sensor.temperatureLabels.size()); ++i) {
        const QString strLabel = QString::fromStdString(sensor.temperatureLabels[i]);
        QVERIFY2(!strLabel.contains(QLatin1String("CPU"), Qt::CaseInsensitive), qPrintable(strLabel));
        QCOMPARE(strLabel.contains(QLatin1String("GPU Temperature"), Qt::CaseInsensitive), i == mainSlot);
    }
    for (const std::string& strFan : sensor.fanLabels) {
        QVERIFY2(!hwmonlabels::NamesCpu(strFan), strFan.c_str());
    }
}

QTEST_GUILESS_MAIN(TestHwmonLabels)
#include "tst_hwmonlabels.moc"
