#include "hwmonlabels.h"

#include <algorithm>
#include <cctype>
#include <tuple>

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

bool StartsWithNoCase(const std::string& strText, const std::string& strPrefix)
{
    return Lower(strText).compare(0, strPrefix.size(), Lower(strPrefix)) == 0;
}

bool IsOneOf(const std::string& strText, std::initializer_list<const char*> names)
{
    return std::any_of(names.begin(), names.end(),
                       [&strText](const char* pszName) { return strText == pszName; });
}

// A thermal zone's name in one spelling: lower case, '-' as '_' (kernels
// before 5.19 kept the zone's '-' in the hwmon name).
std::string ZoneName(const std::string& strPrefix)
{
    std::string strName = Lower(strPrefix);
    std::replace(strName.begin(), strName.end(), '-', '_');
    return strName;
}

// The zone's name without its "_thermal" (or "_therm") ending; "" when the
// chip is no thermal zone.
std::string ZoneStem(const std::string& strZone)
{
    for (const std::string strEnding : {"_thermal", "_therm"}) {
        if (strZone.size() > strEnding.size() &&
            strZone.compare(strZone.size() - strEnding.size(), strEnding.size(), strEnding) == 0) {
            return strZone.substr(0, strZone.size() - strEnding.size());
        }
    }
    return std::string();
}

bool IsThermalZone(const std::string& strZone)
{
    return !ZoneStem(strZone).empty();
}

// Package-wide zones of an SoC, the ones that stand for the whole chip: "soc",
// "soc0", "cpu" ("cpu0" and the like are single clusters or cores).
bool IsSocPackageZone(const std::string& strZone)
{
    const std::string strStem = ZoneStem(strZone);
    if (strStem == "cpu" || strStem == "soc_cpu" || strStem == "cpu_soc") {
        return true;
    }
    return strStem.compare(0, 3, "soc") == 0 &&
           std::all_of(strStem.begin() + 3, strStem.end(), [](char c) { return c >= '0' && c <= '9'; });
}

bool IsCpuClusterZone(const std::string& strZone)
{
    return IsThermalZone(strZone) &&
           (strZone.find("cpu") != std::string::npos || strZone.find("core") != std::string::npos ||
            strZone.find("cluster") != std::string::npos);
}

bool IsGpuZone(const std::string& strZone)
{
    return IsThermalZone(strZone) && strZone.compare(0, 3, "gpu") == 0;
}

bool HasFeature(const std::vector<Feature>& features, const char* pszNameOrLabel)
{
    return std::any_of(features.begin(), features.end(), [pszNameOrLabel](const Feature& feature) {
        return EqualsNoCase(feature.strLabel, pszNameOrLabel) || feature.strName == pszNameOrLabel;
    });
}

bool HasLabel(const std::vector<Feature>& features, const char* pszLabel)
{
    return std::any_of(features.begin(), features.end(), [pszLabel](const Feature& feature) {
        return EqualsNoCase(feature.strLabel, pszLabel);
    });
}

bool HasOwnLabel(const Feature& feature)
{
    return !feature.strLabel.empty() && feature.strLabel != feature.strName;
}

// Position of the temperature that stands for the whole GPU: amdgpu's "edge",
// xe's "pkg", otherwise the first one (amdgpu's temp1 is the edge, also when
// a sleeping card's labels were not read). One that answered at start comes
// first: where the driver refuses the edge, the junction (hot spot) stands
// in, and a memory temperature only when nothing else answers.
size_t GpuMainTemperature(const std::vector<Feature>& features)
{
    const auto rank = [](const Feature& feature) {
        int nRank = 1;
        if (EqualsNoCase(feature.strLabel, "edge") || EqualsNoCase(feature.strLabel, "pkg")) {
            nRank = 0;
        } else if (EqualsNoCase(feature.strLabel, "mem") || EqualsNoCase(feature.strLabel, "vram")) {
            nRank = 2;
        }
        return std::make_tuple(feature.bReadable ? 0 : 1, nRank);
    };
    size_t nBest = 0;
    for (size_t i = 1; i < features.size(); ++i) {
        if (rank(features[i]) < rank(features[nBest])) {
            nBest = i;
        }
    }
    return nBest;
}

// Chips in name order; the detection order is an accident of the numbering.
std::vector<size_t> ByName(const std::vector<ChipDescription>& chips)
{
    std::vector<size_t> order(chips.size());
    for (size_t i = 0; i < order.size(); ++i) {
        order[i] = i;
    }
    std::stable_sort(order.begin(), order.end(),
                     [&chips](size_t a, size_t b) { return chips[a].strChip < chips[b].strChip; });
    return order;
}

// The first feature that matches and answered at start, or -1.
template <typename Match> int FirstMatching(const std::vector<Feature>& features, Match match)
{
    for (size_t i = 0; i < features.size(); ++i) {
        if (features[i].bReadable && match(features[i])) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

// The reading of a CPU chip that stands for the processor, and why.
int CpuChipTemperature(const ChipDescription& chip, std::string& strRule)
{
    const std::vector<Feature>& temps = chip.temperatures;
    if (temps.empty()) {
        return -1;
    }
    const auto labelled = [](const char* pszLabel) {
        return [pszLabel](const Feature& feature) { return EqualsNoCase(feature.strLabel, pszLabel); };
    };
    int nFeature = -1;
    if (chip.strPrefix == "k10temp" || chip.strPrefix == "zenpower") {
        // Tctl carries an offset on some models; Tdie, where there is one, is
        // the real die temperature.
        if ((nFeature = FirstMatching(temps, labelled("Tdie"))) >= 0) {
            strRule = HasLabel(temps, "Tctl") ? "Tdie preferred over Tctl" : "Tdie";
        } else if ((nFeature = FirstMatching(temps, labelled("Tctl"))) >= 0) {
            strRule = "Tctl (no Tdie)";
        } else if ((nFeature = FirstMatching(temps, [](const Feature& feature) {
                        return StartsWithNoCase(feature.strLabel, "Tccd");
                    })) >= 0) {
            strRule = "first CCD (no Tctl)";
        }
    } else if (chip.strPrefix == "coretemp") {
        if ((nFeature = FirstMatching(temps, [](const Feature& feature) {
                 return StartsWithNoCase(feature.strLabel, "Package id") ||
                        StartsWithNoCase(feature.strLabel, "Physical id");
             })) >= 0) {
            strRule = "package sensor preferred over cores";
        } else if ((nFeature = FirstMatching(temps, [](const Feature& feature) {
                        return StartsWithNoCase(feature.strLabel, "Core");
                    })) >= 0) {
            strRule = "first core (no package sensor)";
        }
    }
    if (nFeature < 0) {
        // None answered: the first one, so that the search can tell.
        nFeature = std::max(FirstMatching(temps, [](const Feature&) { return true; }), 0);
        strRule = "the processor's own sensor";
    }
    strRule += " (" + chip.strPrefix + ")";
    return nFeature;
}

// 1. The processor's own sensor chip.
Choice CpuChipChoice(const std::vector<ChipDescription>& chips, const std::vector<size_t>& order)
{
    Choice choice;
    for (const size_t nChip : order) {
        if (ClassifyChip(chips[nChip].strPrefix) != ChipClass::Cpu) {
            continue;
        }
        std::string strRule;
        const int nFeature = CpuChipTemperature(chips[nChip], strRule);
        if (nFeature >= 0 &&
            (!choice.IsMade() || (chips[nChip].temperatures[nFeature].bReadable &&
                                  !chips[choice.nChip].temperatures[choice.nFeature].bReadable))) {
            choice = {static_cast<int>(nChip), nFeature, strRule};
        }
    }
    return choice;
}

// 2. An SoC's zones: the package zone, else a CPU cluster, big cores before
//    little ones, then by name.
Choice SocZoneChoice(const std::vector<ChipDescription>& chips, const std::vector<size_t>& order)
{
    Choice choice;
    int nBestRank = 0;
    for (const size_t nChip : order) {
        const ChipDescription& chip = chips[nChip];
        if (ClassifyChip(chip.strPrefix) != ChipClass::SocZone || chip.temperatures.empty()) {
            continue;
        }
        const std::string strZone = ZoneName(chip.strPrefix);
        int nRank = 3;
        if (IsSocPackageZone(strZone)) {
            nRank = 1;
        } else if (strZone.find("little") != std::string::npos) {
            nRank = 4;
        } else if (strZone.find("big") != std::string::npos) {
            nRank = 2;
        }
        if (!chip.temperatures.front().bReadable) {
            nRank += 10;
        }
        if (!choice.IsMade() || nRank < nBestRank) {
            nBestRank = nRank;
            choice = {static_cast<int>(nChip), 0,
                      nRank % 10 == 1 ? "SoC zone (" + chip.strPrefix + ")"
                                      : "CPU cluster zone (" + chip.strPrefix + "), no SoC zone"};
        }
    }
    return choice;
}

// A board controller's reading of the processor through AMD's interface:
// "AMD TSI Addr 98h" (nct6683), "AMD SB-TSI" (nct6775), "TSI0_TEMP".
bool IsAmdTsiLabel(const std::string& strLabel)
{
    const std::string strLower = Lower(strLabel);
    if (strLower.find("amd tsi") != std::string::npos || strLower.find("sb-tsi") != std::string::npos ||
        strLower.find("sb_tsi") != std::string::npos) {
        return true;
    }
    return strLower.size() > 3 && strLower.compare(0, 3, "tsi") == 0 &&
           ((strLower[3] >= '0' && strLower[3] <= '9') || strLower[3] == '_' || strLower[3] == ' ');
}

// 3. A reading that another chip labels as the CPU's: a board's CPUTIN,
//    PECI or AMD TSI reading, an embedded controller's "CPU". Failing those, the ACPI thermal
//    zone: the firmware's own reading, on notebooks that of the processor it
//    throttles by (desktop firmware often reports a constant there, which is
//    why it comes last). Plausible values first.
Choice LabelledCpuChoice(const std::vector<ChipDescription>& chips, const std::vector<size_t>& order)
{
    Choice choice;
    std::tuple<int, int> best{99, 99};
    for (const size_t nChip : order) {
        const ChipDescription& chip = chips[nChip];
        const ChipClass chipClass = ClassifyChip(chip.strPrefix);
        if (chipClass == ChipClass::Gpu) {
            continue;
        }
        const bool bAcpiZone = chip.strPrefix == "acpitz";
        for (size_t i = 0; i < chip.temperatures.size(); ++i) {
            const Feature& feature = chip.temperatures[i];
            const std::string strLabel = Lower(feature.strLabel);
            const bool bTsi = IsAmdTsiLabel(feature.strLabel);
            const bool bLabelled =
                HasOwnLabel(feature) && (strLabel.find("cpu") != std::string::npos ||
                                         strLabel.find("peci") != std::string::npos || bTsi);
            if (!bLabelled && !bAcpiZone) {
                continue;
            }
            const bool bPlausible = feature.bReadable && feature.dValue > 0.0 && feature.dValue < 125.0;
            int nLabelRank = 2;
            if (!bLabelled) {
                nLabelRank = 3;
            } else if (IsOneOf(strLabel, {"cpu", "cpu temp", "cpu temperature", "cputin", "cpu_temp"})) {
                nLabelRank = 0;
            } else if (strLabel.find("peci") != std::string::npos || bTsi) {
                // Both are the processor's own reading, as the board
                // controller fetched it.
                nLabelRank = 1;
            }
            const std::tuple<int, int> rank{bPlausible ? 0 : (feature.bReadable ? 1 : 2), nLabelRank};
            if (rank < best) {
                best = rank;
                choice = {static_cast<int>(nChip), static_cast<int>(i),
                          bLabelled ? "no CPU sensor chip: \"" + feature.strLabel + "\" of " + chip.strChip
                                    : "no CPU sensor chip: ACPI thermal zone " + chip.strChip + " " +
                                          feature.strName};
            }
        }
    }
    return choice;
}

// The first rule that finds a reading that answered; failing that, the first
// that found one at all, so that the search can say it gave no value.
Choice ChooseCpuTemperature(const std::vector<ChipDescription>& chips, const std::vector<size_t>& order)
{
    Choice unreadable;
    for (const auto rule : {&CpuChipChoice, &SocZoneChoice, &LabelledCpuChoice}) {
        const Choice choice = rule(chips, order);
        if (choice.IsMade() && chips[choice.nChip].temperatures[choice.nFeature].bReadable) {
            return choice;
        }
        if (!unreadable.IsMade()) {
            unreadable = choice;
        }
    }
    return unreadable;
}

Choice ChooseGpuTemperature(const std::vector<ChipDescription>& chips, const std::vector<size_t>& order)
{
    struct Candidate
    {
        size_t nChip;
        int nFeature;
        GpuKind kind;
        std::string strSignal;
    };
    std::vector<Candidate> candidates;
    for (const size_t nChip : order) {
        const ChipDescription& chip = chips[nChip];
        if (ClassifyChip(chip.strPrefix) != ChipClass::Gpu || chip.temperatures.empty()) {
            continue;
        }
        Candidate candidate{nChip, static_cast<int>(GpuMainTemperature(chip.temperatures)), GpuKind::Unknown,
                            ""};
        candidate.kind = ClassifyGpu(chip, &candidate.strSignal);
        candidates.push_back(candidate);
    }
    if (candidates.empty()) {
        return Choice();
    }
    // A card that answers (or sleeps) before one that refuses; discrete
    // before integrated; the card the firmware showed its screen on; then
    // the PCI address. The chips are in name order already.
    const auto key = [&chips](const Candidate& candidate) {
        const ChipDescription& chip = chips[candidate.nChip];
        return std::make_tuple(chip.temperatures[candidate.nFeature].bReadable ? 0 : 1,
                               -static_cast<int>(candidate.kind), chip.pci.nBootVga == 1 ? 0 : 1,
                               chip.pci.strAddress);
    };
    std::stable_sort(candidates.begin(), candidates.end(),
                     [&key](const Candidate& a, const Candidate& b) { return key(a) < key(b); });
    const Candidate& best = candidates.front();
    std::string strRule;
    if (candidates.size() == 1) {
        strRule = "the only GPU";
    } else {
        const Candidate& next = candidates[1];
        const auto kindName = [](GpuKind kind) {
            switch (kind) {
            case GpuKind::Discrete:
                return "discrete ";
            case GpuKind::Integrated:
                return "integrated ";
            case GpuKind::Zone:
                return "SoC zone ";
            case GpuKind::Unknown:
                break;
            }
            return "";
        };
        if (best.kind != next.kind) {
            strRule = std::string(kindName(best.kind)) + "GPU preferred over " + kindName(next.kind) +
                      chips[next.nChip].strChip;
        } else {
            strRule = "first of " + std::to_string(candidates.size()) + " GPUs by boot_vga and PCI address";
        }
    }
    if (!best.strSignal.empty()) {
        strRule += " (" + best.strSignal + ")";
    }
    // Where the edge (xe: package) gave no value, say what stands in for it.
    const std::vector<Feature>& temps = chips[best.nChip].temperatures;
    const std::string& strMain = temps[best.nFeature].strLabel;
    const char* pszUsual = HasLabel(temps, "edge") ? "edge" : (HasLabel(temps, "pkg") ? "pkg" : nullptr);
    if (pszUsual && !EqualsNoCase(strMain, pszUsual)) {
        strRule += "; \"" + strMain + "\" as \"" + pszUsual + "\" gave no value";
    }
    return {static_cast<int>(best.nChip), best.nFeature, strRule};
}

// A second header of the CPU cooler: optional, pump, water, another number.
bool IsSecondaryCpuFanLabel(const std::string& strLabel)
{
    const std::string strLower = Lower(strLabel);
    for (const char* pszWord : {"opt", "pump", "aio", "water", "w_", "aux", "second", "2nd", "sys"}) {
        if (strLower.find(pszWord) != std::string::npos) {
            return true;
        }
    }
    // "CPU_FAN2", "CPU Fan 2"; a trailing 1 is the first header.
    const char cLast = strLower.empty() ? '\0' : strLower.back();
    return cLast >= '2' && cLast <= '9';
}

// The radiator fan channel of a liquid cooler: labelled as a fan, not as the
// pump (nor the pump block's own small fan); -1 when there is none. One
// that turned at start comes first.
int CoolerFanChannel(const ChipDescription& chip)
{
    int nBest = -1;
    for (size_t i = 0; i < chip.fans.size(); ++i) {
        const Feature& fan = chip.fans[i];
        if (!HasOwnLabel(fan) || !ContainsNoCase(fan.strLabel, "fan") ||
            ContainsNoCase(fan.strLabel, "pump") || ContainsNoCase(fan.strLabel, "internal")) {
            continue;
        }
        const bool bTurning = fan.bReadable && fan.dValue > 0.0;
        if (nBest < 0 || (bTurning && !(chip.fans[nBest].bReadable && chip.fans[nBest].dValue > 0.0))) {
            nBest = static_cast<int>(i);
        }
    }
    return nBest;
}

Choice ChooseCpuFan(const std::vector<ChipDescription>& chips, const std::vector<size_t>& order)
{
    Choice choice;
    // 1. Fans whose label names the CPU: the plain header before optional,
    //    secondary and pump headers, answering ones first.
    std::tuple<int, int> best{99, 99};
    std::vector<std::string> others;
    size_t nBoardFans = 0;
    int nOnlyChip = -1;
    for (const size_t nChip : order) {
        const ChipDescription& chip = chips[nChip];
        if (ClassifyChip(chip.strPrefix) == ChipClass::Gpu) {
            continue; // a graphics card's fan is never the CPU fan
        }
        if (!IsLiquidCooler(chip)) {
            nBoardFans += chip.fans.size();
            if (!chip.fans.empty()) {
                nOnlyChip = static_cast<int>(nChip);
            }
        }
        for (size_t i = 0; i < chip.fans.size(); ++i) {
            const Feature& fan = chip.fans[i];
            if (!HasOwnLabel(fan) || !NamesCpu(fan.strLabel)) {
                continue;
            }
            // An optional or pump header is taken only when nothing better is
            // labelled and it turned at start: an empty header reads 0 RPM
            // and would raise the stopped-fan alarm while the CPU fan turns.
            const bool bSecondary = IsSecondaryCpuFanLabel(fan.strLabel);
            if (bSecondary && !(fan.bReadable && fan.dValue > 0.0)) {
                others.push_back(fan.strLabel);
                continue;
            }
            const std::tuple<int, int> rank{fan.bReadable ? 0 : 1, bSecondary ? 1 : 0};
            if (rank < best) {
                if (choice.IsMade()) {
                    others.push_back(chips[choice.nChip].fans[choice.nFeature].strLabel);
                }
                best = rank;
                choice = {static_cast<int>(nChip), static_cast<int>(i), ""};
            } else {
                others.push_back(fan.strLabel);
            }
        }
    }
    if (choice.IsMade()) {
        const std::string& strLabel = chips[choice.nChip].fans[choice.nFeature].strLabel;
        choice.strRule = others.empty()
                             ? "fan labelled \"" + strLabel + "\""
                             : "CPU fan header \"" + strLabel + "\" preferred over " + others.front();
        return choice;
    }
    // 2. A laptop's embedded controller with a single fan: that fan cools
    //    the processor. With two or more unlabelled fans none is taken.
    for (const size_t nChip : order) {
        const ChipDescription& chip = chips[nChip];
        if (ClassifyChip(chip.strPrefix) != ChipClass::Laptop || chip.fans.empty()) {
            continue;
        }
        if (chip.fans.size() == 1) {
            return {static_cast<int>(nChip), 0,
                    "the only fan of the laptop's embedded controller (" + chip.strPrefix + ")"};
        }
        return choice;
    }
    // 3. With no CPU fan of the board's, a liquid cooler's radiator fans
    //    are what cools the processor. Its pump only where it is labelled
    //    as the CPU fan (rule 1).
    for (const size_t nChip : order) {
        const ChipDescription& chip = chips[nChip];
        if (!IsLiquidCooler(chip)) {
            continue;
        }
        const int nFan = CoolerFanChannel(chip);
        if (nFan >= 0) {
            return {static_cast<int>(nChip), nFan,
                    "no board CPU fan: the liquid cooler's fan channel \"" + chip.fans[nFan].strLabel +
                        "\" (" + chip.strPrefix + ")"};
        }
    }
    // 4. A machine whose only fan hangs on a fan driver of its own: an ARM
    //    board's gpio or pwm fan, or ACPI's fan device (a notebook whose
    //    embedded controller has no driver, a mini PC).
    if (nBoardFans == 1 && ClassifyChip(chips[nOnlyChip].strPrefix) == ChipClass::BoardFan) {
        const std::string& strPrefix = chips[nOnlyChip].strPrefix;
        return {nOnlyChip, 0,
                strPrefix == "acpi_fan" ? "the only fan, on ACPI's fan device (acpi_fan)"
                                        : "the board's only fan (" + strPrefix + ")"};
    }
    return choice;
}

std::string CpuTemperatureLabel(const Feature& feature)
{
    if (feature.strLabel == feature.strName) {
        return "CPU Temperature (" + feature.strName + ")";
    }
    if (ContainsNoCase(feature.strLabel, "Physical id")) {
        return "CPU Package (" + feature.strLabel + ")";
    }
    return ContainsNoCase(feature.strLabel, "CPU") ? feature.strLabel : "CPU " + feature.strLabel;
}

std::string CpuFanLabel(const Feature& feature)
{
    if (ContainsNoCase(feature.strLabel, "CPU")) {
        return feature.strLabel;
    }
    return NamesCpu(feature.strLabel) ? "CPU " + feature.strLabel : "CPU Fan (" + feature.strLabel + ")";
}

} // namespace

bool ContainsNoCase(const std::string& strText, const std::string& strNeedle)
{
    return Lower(strText).find(Lower(strNeedle)) != std::string::npos;
}

bool NamesCpu(const std::string& strLabel)
{
    return ContainsNoCase(strLabel, "CPU") || ContainsNoCase(strLabel, "processor");
}

bool IsLiquidCooler(const ChipDescription& chip)
{
    // The kernel's drivers of all-in-one liquid coolers, all on the USB HID
    // bus: NZXT Kraken (kraken2; x53, z53, kraken2023 of nzxt-kraken3),
    // Aquacomputer pumps, ASUS ROG Ryujin, Gigabyte Waterforce.
    if (IsOneOf(chip.strPrefix, {"kraken2", "kraken3", "x53", "z53", "kraken2023", "kraken2023elite",
                                 "d5next", "aquastreamult", "aquastreamxt", "rog_ryujin", "waterforce"})) {
        return true;
    }
    // Any other HID-bus chip that reports a pump is one as well.
    return chip.strChip.find("-hid-") != std::string::npos &&
           std::any_of(chip.fans.begin(), chip.fans.end(),
                       [](const Feature& fan) { return ContainsNoCase(fan.strLabel, "pump"); });
}

ChipClass ClassifyChip(const std::string& strPrefix)
{
    if (IsOneOf(strPrefix, {"coretemp", "k10temp", "k8temp", "zenpower", "via_cputemp"})) {
        return ChipClass::Cpu;
    }
    if (IsOneOf(strPrefix, {"amdgpu", "radeon", "nouveau", "i915", "xe", "nvidia"})) {
        return ChipClass::Gpu;
    }
    const std::string strZone = ZoneName(strPrefix);
    if (IsSocPackageZone(strZone) || IsCpuClusterZone(strZone)) {
        return ChipClass::SocZone;
    }
    if (IsGpuZone(strZone)) {
        return ChipClass::Gpu;
    }
    if (IsOneOf(strPrefix, {"thinkpad",
                            "dell_smm",
                            "asus",
                            "hp",
                            "ideapad",
                            "acer",
                            "system76_acpi",
                            "steamdeck_hwmon",
                            "jupiter", // the Steam Deck's EC on SteamOS 3 kernels before steamdeck_hwmon
                            "gpd_fan",
                            "surface_fan",
                            "msi_ec",
                            "legion_hwmon",
                            "lenovo_ec",
                            "cros_ec",
                            "framework_laptop",
                            "applesmc",
                            "oxpec",
                            "oxp_sensors",
                            "ayaneo_ec",
                            "tuxedo",
                            "clevo_xsm_wmi",
                            "huawei_wmi",
                            "toshiba_acpi_sensors",
                            "eeepc"})) {
        return ChipClass::Laptop;
    }
    // Vendor kernels keep a '-' in some of these names ("pwm-fan").
    if (IsOneOf(strZone, {"gpio_fan", "pwmfan", "pwm_fan", "acpi_fan"})) {
        return ChipClass::BoardFan;
    }
    return ChipClass::Other;
}

GpuKind ClassifyGpu(const ChipDescription& chip, std::string* pSignal)
{
    std::string strSignal;
    GpuKind kind = GpuKind::Unknown;
    const std::string& strPrefix = chip.strPrefix;
    if (ClassifyChip(strPrefix) == ChipClass::Gpu && chip.pci.strAddress.empty() &&
        IsGpuZone(ZoneName(strPrefix))) {
        kind = GpuKind::Zone;
        strSignal = "SoC GPU zone";
    } else if (strPrefix == "nvidia" || strPrefix == "nouveau") {
        kind = GpuKind::Discrete;
        strSignal = strPrefix == "nvidia" ? "NVIDIA driver" : "nouveau";
    } else if (strPrefix == "amdgpu" &&
               (HasFeature(chip.voltages, "vddnb") || HasFeature(chip.voltages, "in1"))) {
        // Only APUs report the northbridge voltage.
        kind = GpuKind::Integrated;
        strSignal = "vddnb";
    } else if (strPrefix == "amdgpu" &&
               (HasFeature(chip.temperatures, "junction") || HasFeature(chip.temperatures, "mem") ||
                HasFeature(chip.temperatures, "temp2") || HasFeature(chip.temperatures, "temp3"))) {
        // Junction and memory temperatures exist only on cards.
        kind = GpuKind::Discrete;
        strSignal = "junction/mem temperatures";
    } else if (strPrefix == "xe" && HasFeature(chip.temperatures, "vram")) {
        kind = GpuKind::Discrete;
        strSignal = "vram temperature";
    } else if (chip.pci.bSuspended) {
        // The integrated GPU drives the screen and does not sleep while it does.
        kind = GpuKind::Discrete;
        strSignal = "runtime-suspended";
    } else if (chip.pci.nClass == 0x0302 || chip.pci.nClass == 0x0380) {
        // A 3D or other display controller: the VGA role is another GPU's.
        kind = GpuKind::Discrete;
        strSignal = "PCI class 3D controller";
    } else if (chip.pci.strAddress.compare(0, 8, "0000:00:") == 0) {
        // Devices on the root bus are part of the processor or chipset.
        // (i915 and xe register hwmon for discrete cards only; an Intel
        // iGPU, at 00:02.0, has none.)
        kind = GpuKind::Integrated;
        strSignal = "on the root PCI bus";
    }
    if (pSignal) {
        *pSignal = strSignal;
    }
    return kind;
}

Choices ChooseReadings(const std::vector<ChipDescription>& chips)
{
    const std::vector<size_t> order = ByName(chips);
    Choices choices;
    choices.cpuTemperature = ChooseCpuTemperature(chips, order);
    choices.gpuTemperature = ChooseGpuTemperature(chips, order);
    choices.cpuFan = ChooseCpuFan(chips, order);
    return choices;
}

std::string SensorName(ChipClass chipClass, const std::string& strChip)
{
    switch (chipClass) {
    case ChipClass::Cpu:
    case ChipClass::SocZone:
        // The digital thermal sensor of the processor itself.
        return "CPU [" + strChip + "] DTS";
    case ChipClass::Gpu:
        return "GPU [" + strChip + "]";
    default:
        return "[" + strChip + "]";
    }
}

std::string NeutralLabel(const std::string& strLabel)
{
    std::string strOut = strLabel;
    for (size_t nAt = Lower(strOut).find("cpu"); nAt != std::string::npos;
         nAt = Lower(strOut).find("cpu", nAt)) {
        strOut.replace(nAt, 3, "Proc");
        nAt += 4;
    }
    const size_t nGpu = Lower(strOut).find("gpu temperature");
    if (nGpu != std::string::npos) {
        strOut.replace(nGpu + 4, 11, "temp");
    }
    return strOut;
}

std::vector<ComposedSensor> ComposeSensors(const std::vector<ChipDescription>& chips)
{
    const Choices choices = ChooseReadings(chips);
    std::vector<ComposedSensor> sensors;
    sensors.reserve(chips.size());
    for (const size_t nIndex : ByName(chips)) {
        const ChipDescription& chip = chips[nIndex];
        const ChipClass chipClass = ClassifyChip(chip.strPrefix);
        const bool bGpu = chipClass == ChipClass::Gpu;
        ComposedSensor sensor;
        sensor.nChip = nIndex;
        sensor.bGpu = bGpu;
        sensor.strName = SensorName(chipClass, chip.strChip);
        const auto chosen = [nIndex](const Choice& choice, size_t nFeature) {
            return choice.nChip == static_cast<int>(nIndex) && choice.nFeature == static_cast<int>(nFeature);
        };
        for (size_t i = 0; i < chip.temperatures.size(); ++i) {
            const Feature& feature = chip.temperatures[i];
            std::string strLabel;
            std::string strRule;
            if (chosen(choices.cpuTemperature, i)) {
                strLabel = CpuTemperatureLabel(feature);
                strRule = choices.cpuTemperature.strRule;
            } else if (chosen(choices.gpuTemperature, i)) {
                strLabel = "GPU Temperature";
                strRule = choices.gpuTemperature.strRule;
            } else {
                strLabel =
                    NeutralLabel(bGpu && !ContainsNoCase(feature.strLabel, "GPU") ? "GPU " + feature.strLabel
                                                                                  : feature.strLabel);
            }
            sensor.temperatureLabels.push_back(strLabel);
            sensor.temperatureRules.push_back(strRule);
        }
        for (size_t i = 0; i < chip.fans.size(); ++i) {
            const Feature& feature = chip.fans[i];
            if (chosen(choices.cpuFan, i)) {
                sensor.fanLabels.push_back(CpuFanLabel(feature));
                sensor.fanRules.push_back(choices.cpuFan.strRule);
            } else {
                sensor.fanLabels.push_back(bGpu ? "GPU Fan " + std::to_string(i + 1)
                                                : NeutralLabel(feature.strLabel));
                sensor.fanRules.push_back(std::string());
            }
        }
        sensors.push_back(std::move(sensor));
    }
    return sensors;
}

} // namespace hwmonlabels
