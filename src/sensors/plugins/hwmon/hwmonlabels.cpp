#include "hwmonlabels.h"

#include <algorithm>
#include <cctype>

namespace hwmonlabels {

namespace {

std::string Lower(std::string strText)
{
    std::transform(strText.begin(), strText.end(), strText.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return strText;
}

bool EqualsNoCase(const std::string& a, const std::string& b)
{
    return Lower(a) == Lower(b);
}

bool IsOneOf(const std::string& strPrefix, std::initializer_list<const char*> names)
{
    for (const char* pszName : names) {
        if (strPrefix == pszName) {
            return true;
        }
    }
    return false;
}

// Position of the temperature that stands for the whole GPU: amdgpu's "edge"
// (not junction or memory), xe's "pkg", otherwise the first one.
size_t GpuMainTemperature(const std::vector<Feature>& features)
{
    for (size_t i = 0; i < features.size(); ++i) {
        if (EqualsNoCase(features[i].strLabel, "edge") || EqualsNoCase(features[i].strLabel, "pkg")) {
            return i;
        }
    }
    return 0;
}

bool HasLabel(const std::vector<Feature>& features, const char* pszLabel)
{
    return std::any_of(features.begin(), features.end(), [pszLabel](const Feature& feature) {
        return EqualsNoCase(feature.strLabel, pszLabel);
    });
}

} // namespace

bool ContainsNoCase(const std::string& strText, const std::string& strNeedle)
{
    return Lower(strText).find(Lower(strNeedle)) != std::string::npos;
}

ChipClass ClassifyChip(const std::string& strPrefix)
{
    if (IsOneOf(strPrefix, {"coretemp", "k10temp", "k8temp", "zenpower", "via_cputemp", "cpu_thermal"}) ||
        (ContainsNoCase(strPrefix, "cpu") && ContainsNoCase(strPrefix, "thermal"))) {
        return ChipClass::Cpu;
    }
    if (IsOneOf(strPrefix, {"amdgpu", "radeon", "nouveau", "i915", "xe"})) {
        return ChipClass::Gpu;
    }
    if (IsOneOf(strPrefix,
                {"thinkpad", "dell_smm", "asus", "hp", "ideapad", "acer", "system76_acpi", "steamdeck_hwmon",
                 "gpd_fan", "surface_fan", "msi_ec", "legion_hwmon", "lenovo_ec"})) {
        return ChipClass::Laptop;
    }
    return ChipClass::Other;
}

std::string SensorName(ChipClass chipClass, const std::string& strChip)
{
    switch (chipClass) {
    case ChipClass::Cpu:
        // The digital thermal sensor of the processor itself.
        return "CPU [" + strChip + "] DTS";
    case ChipClass::Gpu:
        return "GPU [" + strChip + "]";
    default:
        return "[" + strChip + "]";
    }
}

std::vector<std::string> TemperatureLabels(ChipClass chipClass, const std::string& strPrefix,
                                           const std::vector<Feature>& features)
{
    std::vector<std::string> labels;
    labels.reserve(features.size());
    if (chipClass == ChipClass::Cpu) {
        // On AMD parts that report both, Tctl is a control value with an
        // offset and Tdie the real die temperature: keep Tctl out of the
        // running then.
        const bool bAmdWithTdie =
            (strPrefix == "k10temp" || strPrefix == "zenpower") && HasLabel(features, "Tdie");
        for (const Feature& feature : features) {
            if (bAmdWithTdie && EqualsNoCase(feature.strLabel, "Tctl")) {
                labels.push_back("Tctl (control value)");
            } else if (ContainsNoCase(feature.strLabel, "Physical id")) {
                labels.push_back("CPU Package (" + feature.strLabel + ")");
            } else if (feature.strLabel == feature.strName) {
                labels.push_back("CPU Temperature (" + feature.strName + ")");
            } else if (ContainsNoCase(feature.strLabel, "CPU")) {
                labels.push_back(feature.strLabel);
            } else {
                labels.push_back("CPU " + feature.strLabel);
            }
        }
        return labels;
    }
    if (chipClass == ChipClass::Gpu) {
        // One reading per GPU carries "GPU Temperature"; the others must
        // neither carry it nor name the CPU.
        const size_t nMain = GpuMainTemperature(features);
        for (size_t i = 0; i < features.size(); ++i) {
            const Feature& feature = features[i];
            if (i == nMain) {
                labels.push_back("GPU Temperature");
                continue;
            }
            std::string strLabel = "GPU " + feature.strLabel;
            if (ContainsNoCase(strLabel, "CPU") || ContainsNoCase(strLabel, "GPU Temperature")) {
                strLabel = "GPU " + feature.strName;
            }
            labels.push_back(strLabel);
        }
        return labels;
    }
    for (const Feature& feature : features) {
        labels.push_back(feature.strLabel);
    }
    return labels;
}

bool NamesCpu(const std::string& strLabel)
{
    return ContainsNoCase(strLabel, "CPU") || ContainsNoCase(strLabel, "processor");
}

std::vector<std::string> FanLabels(ChipClass chipClass, const std::vector<Feature>& features,
                                   bool bSystemHasNamedCpuFan)
{
    std::vector<std::string> labels;
    labels.reserve(features.size());
    for (size_t i = 0; i < features.size(); ++i) {
        const Feature& feature = features[i];
        if (chipClass == ChipClass::Gpu) {
            // A graphics card's fan is never the CPU fan, whatever it is called.
            labels.push_back("GPU Fan " + std::to_string(i + 1));
        } else if (ContainsNoCase(feature.strLabel, "CPU")) {
            labels.push_back(feature.strLabel);
        } else if (ContainsNoCase(feature.strLabel, "processor")) {
            labels.push_back("CPU " + feature.strLabel);
        } else if (chipClass == ChipClass::Laptop && features.size() == 1 && !bSystemHasNamedCpuFan) {
            labels.push_back("CPU Fan (" + feature.strLabel + ")");
        } else {
            labels.push_back(feature.strLabel);
        }
    }
    return labels;
}

std::vector<ComposedSensor> ComposeSensors(const std::vector<ChipDescription>& chips)
{
    std::vector<size_t> order(chips.size());
    for (size_t i = 0; i < order.size(); ++i) {
        order[i] = i;
    }
    const auto rank = [&chips](size_t nIndex) {
        const ChipDescription& chip = chips[nIndex];
        if (ClassifyChip(chip.strPrefix) != ChipClass::Gpu) {
            return 0;
        }
        return chip.strPrefix == "i915" || chip.strPrefix == "xe" ? 1 : 2;
    };
    std::stable_sort(order.begin(), order.end(), [&rank](size_t a, size_t b) { return rank(a) < rank(b); });

    bool bNamedCpuFan = false;
    for (const ChipDescription& chip : chips) {
        if (ClassifyChip(chip.strPrefix) == ChipClass::Gpu) {
            continue;
        }
        for (const Feature& fan : chip.fans) {
            bNamedCpuFan = bNamedCpuFan || NamesCpu(fan.strLabel);
        }
    }

    std::vector<ComposedSensor> sensors;
    sensors.reserve(chips.size());
    for (const size_t nIndex : order) {
        const ChipDescription& chip = chips[nIndex];
        const ChipClass chipClass = ClassifyChip(chip.strPrefix);
        ComposedSensor sensor;
        sensor.nChip = nIndex;
        sensor.bGpu = chipClass == ChipClass::Gpu;
        sensor.strName = SensorName(chipClass, chip.strChip);
        sensor.temperatureLabels = TemperatureLabels(chipClass, chip.strPrefix, chip.temperatures);
        sensor.fanLabels = FanLabels(chipClass, chip.fans, bNamedCpuFan);
        sensors.push_back(std::move(sensor));
    }
    return sensors;
}

} // namespace hwmonlabels
