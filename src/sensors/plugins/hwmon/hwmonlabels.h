#pragma once

// How the libsensors source names its sensors and labels its readings, so
// that the reader's search picks the CPU package temperature, one temperature
// per GPU and the CPU fan on common hardware. Pure functions over texts, so
// that they can be tested without hardware.

#include <string>
#include <vector>

namespace hwmonlabels {

enum class ChipClass
{
    Cpu,    // the processor's own temperature sensor
    Gpu,    // a graphics adapter
    Laptop, // a notebook's embedded controller
    Other,  // motherboard Super-I/O, drives, ACPI zones, ...
};

// By the chip's prefix as libsensors reports it ("coretemp", "amdgpu", ...).
ChipClass ClassifyChip(const std::string& strPrefix);

// Sensor name: "CPU [<chip>] DTS" for CPU chips, "GPU [<chip>]" for GPUs and
// "[<chip>]" otherwise.
std::string SensorName(ChipClass chipClass, const std::string& strChip);

struct Feature
{
    std::string strName;  // "temp1", "fan2"
    std::string strLabel; // from the configuration or the driver; the name when there is none
};

// Labels for a chip's temperature features, in their order.
std::vector<std::string> TemperatureLabels(ChipClass chipClass, const std::string& strPrefix,
                                           const std::vector<Feature>& features);

// True when a fan's label names the CPU or processor.
bool NamesCpu(const std::string& strLabel);

// Labels for a chip's fans. bSystemHasNamedCpuFan tells whether any non-GPU
// fan of the machine names the CPU; when none does, the only fan of a laptop
// chip is taken as the CPU fan.
std::vector<std::string> FanLabels(ChipClass chipClass, const std::vector<Feature>& features,
                                   bool bSystemHasNamedCpuFan);

// One detected chip, as the source found it.
struct ChipDescription
{
    std::string strPrefix; // driver name, "coretemp"
    std::string strChip;   // full chip name, "coretemp-isa-0000"
    std::vector<Feature> temperatures;
    std::vector<Feature> fans;
};

// One sensor as offered to the reader.
struct ComposedSensor
{
    size_t nChip = 0; // index into the descriptions
    bool bGpu = false;
    std::string strName;
    std::vector<std::string> temperatureLabels; // slot order
    std::vector<std::string> fanLabels;         // slot order
};

// Orders the chips (GPUs last, integrated before discrete, so the last GPU
// found is the discrete one) and composes names and labels.
std::vector<ComposedSensor> ComposeSensors(const std::vector<ChipDescription>& chips);

// Case-insensitive containment on ASCII letters.
bool ContainsNoCase(const std::string& strText, const std::string& strNeedle);

} // namespace hwmonlabels
