#pragma once

// How the libsensors source picks the CPU temperature, the GPU temperature
// and the CPU fan among the chips of a machine, and how it names and labels
// its readings so that the reader's search takes exactly those three. Pure
// functions over texts, so that they can be tested without hardware.
//
// The source decides, the search only confirms: the chosen CPU temperature is
// the only reading whose label contains "CPU", the chosen GPU reading the
// only one labelled "GPU Temperature", the chosen fan the only fan naming the
// CPU. Every other label has those words replaced, so neither the order in
// which chips are detected nor the search's tie rules can change the result.

#include <string>
#include <vector>

namespace hwmonlabels {

enum class ChipClass
{
    Cpu,      // the processor's own temperature sensor (coretemp, k10temp, ...)
    SocZone,  // an SoC or CPU cluster thermal zone of an ARM board
    Gpu,      // a graphics adapter, or an SoC's GPU zone
    Laptop,   // a notebook's or handheld's embedded controller
    BoardFan, // a fan's own driver (gpio_fan, pwmfan, ACPI's acpi_fan)
    Other,    // motherboard Super-I/O, drives, ACPI zones, ...
};

// By the chip's prefix as libsensors reports it ("coretemp", "amdgpu", ...).
ChipClass ClassifyChip(const std::string& strPrefix);

struct Feature
{
    std::string strName;   // "temp1", "fan2", "in1"
    std::string strLabel;  // from the configuration or the driver; the name when there is none
    bool bReadable = true; // answered at start, or its device sleeps
    double dValue = 0.0;   // the answer at start
};

// What the kernel tells about the PCI device behind a chip.
struct PciFacts
{
    std::string strAddress; // "0000:03:00.0"; empty when the chip is not on PCI
    unsigned nClass = 0;    // class code without the programming interface, 0x0300 for VGA
    int nBootVga = -1;      // the boot_vga file: 1, 0, or -1 when there is none
    bool bSuspended = false;
};

// One detected chip, as the source found it.
struct ChipDescription
{
    std::string strPrefix; // driver name, "coretemp"; "nvidia" for a GPU seen through NVML
    std::string strChip;   // full chip name, "coretemp-isa-0000", "nvidia-0"
    std::vector<Feature> temperatures;
    std::vector<Feature> fans;
    std::vector<Feature> voltages; // only their names and labels are used
    PciFacts pci;
};

// Where one of the three readings comes from and why.
struct Choice
{
    int nChip = -1;    // index into the descriptions; -1 when nothing qualifies
    int nFeature = -1; // index into the chip's temperatures or fans
    std::string strRule;

    bool IsMade() const { return nChip >= 0; }
};

struct Choices
{
    Choice cpuTemperature;
    Choice gpuTemperature;
    Choice cpuFan;
};

// The rules, in order; docs/linux.md lists them.
Choices ChooseReadings(const std::vector<ChipDescription>& chips);

// Whether a graphics chip is a discrete card, and the kernel's signal for it.
enum class GpuKind
{
    Zone, // an SoC's GPU thermal zone
    Integrated,
    Unknown,
    Discrete,
};
GpuKind ClassifyGpu(const ChipDescription& chip, std::string* pSignal = nullptr);

// Sensor name: "CPU [<chip>] DTS" for CPU chips and zones, "GPU [<chip>]" for
// GPUs and "[<chip>]" otherwise.
std::string SensorName(ChipClass chipClass, const std::string& strChip);

// One sensor as offered to the reader.
struct ComposedSensor
{
    size_t nChip = 0; // index into the descriptions
    bool bGpu = false;
    std::string strName;
    std::vector<std::string> temperatureLabels; // slot order
    std::vector<std::string> fanLabels;         // slot order
    std::vector<std::string> temperatureRules;  // the rule of a chosen reading, else empty
    std::vector<std::string> fanRules;
};

// Orders the chips by name, so that detection order never matters, and
// composes names and labels from ChooseReadings.
std::vector<ComposedSensor> ComposeSensors(const std::vector<ChipDescription>& chips);

// A label with "CPU" and "GPU Temperature" spelled so that the search passes
// it by.
std::string NeutralLabel(const std::string& strLabel);

// True for the hwmon chip of an all-in-one liquid cooler (USB HID bus).
bool IsLiquidCooler(const ChipDescription& chip);

// True when a label names the CPU or processor.
bool NamesCpu(const std::string& strLabel);

// Case-insensitive containment on ASCII letters.
bool ContainsNoCase(const std::string& strText, const std::string& strNeedle);

} // namespace hwmonlabels
