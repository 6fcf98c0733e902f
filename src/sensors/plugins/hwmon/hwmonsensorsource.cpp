// The real sensor source on Linux. Every chip libsensors detects is one
// sensor, its temperature features are the kind-1 slots and its fans the
// kind-3 slots, in the order libsensors lists them. When libnvidia-ml.so.1
// can be opened, every NVIDIA GPU it knows is one more sensor with a single
// temperature. Names and labels are composed in hwmonlabels.cpp.
//
// refresh takes one snapshot of a sensor's values (one sysfs pass); read
// answers from it. Labels are read once, at initialise.
//
// A graphics card that is runtime-suspended is never woken: its
// power/runtime_status is checked before any of its hwmon files is read and
// before NVML is asked for its temperature. While it sleeps its readings are
// invalid with the ASLEEP state, so that the search may still choose it.

#include "hwmonlabels.h"
#include "sensors/varnokssensorabi.h"

#include <sensors/error.h>
#include <sensors/sensors.h>

#include <dirent.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

namespace {

constexpr int32_t kSensorsInitFailed = 2001;
constexpr size_t kMaxSensors = 4096;
// libsensors temperatures are degrees Celsius; the degree sign in Latin-1.
const char* const kCelsius = "\xb0"
                             "C";
const char* const kRpm = "RPM";

// ---- NVML, opened at run time; only the few calls we need. ----
using NvmlDevice = void*;
using NvmlReturn = int;
constexpr NvmlReturn kNvmlSuccess = 0;
constexpr int kNvmlTemperatureGpu = 0;

// Layout of NVML's PCI information record.
struct NvmlPciInfo
{
    char busIdLegacy[16];
    unsigned int domain;
    unsigned int bus;
    unsigned int device;
    unsigned int pciDeviceId;
    unsigned int pciSubSystemId;
    char busId[32];
};

struct Nvml
{
    void* pHandle = nullptr;
    NvmlReturn (*init)() = nullptr;
    NvmlReturn (*shutdown)() = nullptr;
    NvmlReturn (*deviceCount)(unsigned int*) = nullptr;
    NvmlReturn (*deviceByIndex)(unsigned int, NvmlDevice*) = nullptr;
    NvmlReturn (*deviceName)(NvmlDevice, char*, unsigned int) = nullptr;
    NvmlReturn (*temperature)(NvmlDevice, int, unsigned int*) = nullptr;
    NvmlReturn (*pciInfo)(NvmlDevice, NvmlPciInfo*) = nullptr;
};

struct Reading
{
    std::string label;    // Latin-1, composed
    std::string origin;   // "chip:feature"
    std::string identity; // the same, except for an NVIDIA GPU: "nvidia-<PCI address>:temp"
    std::string ownLabel; // as the machine names it
    std::string rule;     // why it is one of the three readings; empty otherwise
    const char* pszUnit = kCelsius;
    int nSubfeature = -1; // libsensors input subfeature
    double dValue = 0.0;
    bool bValid = false;
    bool bAsleep = false;
};

struct Sensor
{
    std::string name;
    const sensors_chip_name* pChip = nullptr; // null for an NVML GPU
    NvmlDevice nvmlDevice = nullptr;
    // power/runtime_status of the PCI device behind the chip; empty when
    // there is none or the device never sleeps.
    std::string runtimeStatusPath;
    std::vector<Reading> temperatures;
    std::vector<Reading> fans;
};

struct State
{
    std::mutex mutex;
    bool bInitialised = false;
    bool bSensorsLoaded = false;
    std::vector<Sensor> sensors;
    Nvml nvml;
    std::string diagnostics;
};

State& GlobalState()
{
    static State state;
    return state;
}

// Collects libsensors' configuration complaints instead of printing them.
std::string* g_pParseErrors = nullptr;

void CollectParseError(const char* pszError, const char* pszFile, int nLine)
{
    if (g_pParseErrors && g_pParseErrors->size() < 4096) {
        *g_pParseErrors += std::string(pszFile ? pszFile : "") + ":" + std::to_string(nLine) + ": " +
                           (pszError ? pszError : "error") + "\n";
    }
}

void CollectParseErrorNoFile(const char* pszError, int nLine)
{
    CollectParseError(pszError, nullptr, nLine);
}

void AddDiagnostic(State& state, const std::string& strLine)
{
    state.diagnostics += strLine;
    state.diagnostics += '\n';
}

// The folder of the PCI device behind a chip, "" when it is not on PCI.
std::string PciDeviceFolder(const sensors_chip_name* pChip)
{
    if (pChip->bus.type != SENSORS_BUS_TYPE_PCI || !pChip->path) {
        return std::string();
    }
    // The hwmon folder's device link; drivers of old kept their attributes
    // in the device folder itself.
    char resolved[PATH_MAX];
    if (realpath((std::string(pChip->path) + "/device").c_str(), resolved)) {
        return resolved;
    }
    if (realpath(pChip->path, resolved) && access((std::string(resolved) + "/vendor").c_str(), F_OK) == 0) {
        return resolved;
    }
    return std::string();
}

// The first line of a small sysfs file, "" when it cannot be read.
std::string ReadSmallFile(const std::string& strPath)
{
    const int fd = open(strPath.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return std::string();
    }
    char buffer[64] = {};
    const ssize_t nRead = read(fd, buffer, sizeof(buffer) - 1);
    close(fd);
    if (nRead <= 0) {
        return std::string();
    }
    std::string strText(buffer, static_cast<size_t>(nRead));
    return strText.substr(0, strText.find('\n'));
}

// Asleep, or on its way in or out of sleep. A read while it suspends waits
// for the suspend to end and then wakes the device again; a read while it
// resumes blocks the reading thread until the resume is done (hundreds of
// milliseconds for a graphics card), and its value comes one cycle later
// anyway.
bool IsSleepingStatus(const std::string& strStatus)
{
    return strStatus == "suspended" || strStatus == "suspending" || strStatus == "resuming";
}

// What the PCI device folder tells without waking the device: the files
// below are kept by the PCI core, not by the driver. Returns the path of
// its power/runtime_status for the refreshes to check, "" for a device
// without runtime power management, which never sleeps.
std::string ReadPciFacts(const std::string& strFolder, hwmonlabels::PciFacts& facts)
{
    if (strFolder.empty()) {
        return std::string();
    }
    facts.strAddress = strFolder.substr(strFolder.rfind('/') + 1);
    facts.nClass =
        static_cast<unsigned>(std::strtoul(ReadSmallFile(strFolder + "/class").c_str(), nullptr, 16) >> 8);
    const std::string strBootVga = ReadSmallFile(strFolder + "/boot_vga");
    facts.nBootVga = strBootVga.empty() ? -1 : (strBootVga == "1" ? 1 : 0);
    const std::string strStatusPath = strFolder + "/power/runtime_status";
    const std::string strStatus = ReadSmallFile(strStatusPath);
    facts.bSuspended = IsSleepingStatus(strStatus);
    return strStatus.empty() || strStatus == "unsupported" ? std::string() : strStatusPath;
}

// True while the device is runtime-suspended. Reading its sensors would wake
// it (a discrete GPU then burns watts for nothing), so we leave it asleep.
bool IsSuspended(const std::string& strStatusPath)
{
    if (strStatusPath.empty()) {
        return false;
    }
    return IsSleepingStatus(ReadSmallFile(strStatusPath));
}

std::string ChipText(const sensors_chip_name* pChip)
{
    char buffer[VARNOKS_SENSOR_NAME_SIZE];
    if (sensors_snprintf_chip_name(buffer, sizeof(buffer), pChip) < 0) {
        return pChip->prefix ? pChip->prefix : "unknown";
    }
    return buffer;
}

std::string FeatureLabel(const sensors_chip_name* pChip, const sensors_feature* pFeature)
{
    char* pszLabel = sensors_get_label(pChip, pFeature);
    std::string strLabel = pszLabel ? pszLabel : (pFeature->name ? pFeature->name : "");
    free(pszLabel);
    return strLabel;
}

bool IsRegularFile(const char* pszPath)
{
    struct stat info;
    return stat(pszPath, &info) == 0 && S_ISREG(info.st_mode);
}

// Loads libsensors with the user's configuration. Mistakes in it are
// reported and libsensors goes on with the rest; when it cannot start with
// the configuration at all, it starts without one, so that the drivers'
// own labels still give readings.
bool LoadSensorsConfiguration(State& state)
{
    std::string parseErrors;
    g_pParseErrors = &parseErrors;
    sensors_parse_error_wfn = &CollectParseError;
    sensors_parse_error = &CollectParseErrorNoFile;

    // VARNOKS_SENSORS_CONFIG names a configuration file to use instead of the
    // system's (/etc/sensors3.conf and /etc/sensors.d).
    const char* pszConfig = getenv("VARNOKS_SENSORS_CONFIG");
    int nResult = 0;
    if (pszConfig && *pszConfig) {
        // Only a regular file: the configuration scanner gives up the whole
        // process on a read error.
        FILE* pFile = IsRegularFile(pszConfig) ? fopen(pszConfig, "re") : nullptr;
        if (pFile) {
            nResult = sensors_init(pFile);
            fclose(pFile);
        } else {
            AddDiagnostic(state, std::string("Sensors configuration ") + pszConfig + " cannot be read");
            nResult = -SENSORS_ERR_ACCESS_R;
        }
    } else {
        nResult = sensors_init(nullptr);
    }
    const std::string strConfigName = pszConfig && *pszConfig ? pszConfig : "sensors configuration";
    size_t nStart = 0;
    while (nStart < parseErrors.size()) {
        const size_t nEnd = parseErrors.find('\n', nStart);
        std::string strLine = parseErrors.substr(nStart, nEnd - nStart);
        if (strLine.compare(0, 1, ":") == 0) {
            strLine = strConfigName + strLine; // the scanner did not know the file's name
        }
        AddDiagnostic(state, "Sensors configuration: " + strLine);
        nStart = nEnd == std::string::npos ? parseErrors.size() : nEnd + 1;
    }
    g_pParseErrors = nullptr;
    if (nResult != 0) {
        const std::string strReason = sensors_strerror(nResult);
        AddDiagnostic(state, "Sensors configuration unusable (" + strReason + "), reading without it");
        sensors_cleanup();
        FILE* pEmpty = fopen("/dev/null", "re");
        nResult = pEmpty ? sensors_init(pEmpty) : -SENSORS_ERR_KERNEL;
        if (pEmpty) {
            fclose(pEmpty);
        }
        if (nResult != 0) {
            AddDiagnostic(state, std::string("Sensors unavailable: ") + sensors_strerror(nResult));
            sensors_cleanup();
        }
    }
    return nResult == 0;
}

// Everything found before the choice, one entry per chip or NVIDIA GPU.
struct Found
{
    std::vector<hwmonlabels::ChipDescription> descriptions;
    std::vector<const sensors_chip_name*> chipNames; // null for an NVIDIA GPU
    std::vector<NvmlDevice> nvmlDevices;             // null for a libsensors chip
    std::vector<std::string> nameSuffixes;           // the GPU's model for NVIDIA
    std::vector<std::string> statusPaths;            // power/runtime_status, or ""
    std::vector<std::vector<int>> temperatureInputs; // libsensors subfeature numbers
    std::vector<std::vector<int>> fanInputs;

    void Add(hwmonlabels::ChipDescription description, const sensors_chip_name* pChip, NvmlDevice device,
             std::string strSuffix, std::string strStatusPath, std::vector<int> temperatures,
             std::vector<int> fans)
    {
        descriptions.push_back(std::move(description));
        chipNames.push_back(pChip);
        nvmlDevices.push_back(device);
        nameSuffixes.push_back(std::move(strSuffix));
        statusPaths.push_back(std::move(strStatusPath));
        temperatureInputs.push_back(std::move(temperatures));
        fanInputs.push_back(std::move(fans));
    }
};

void FindSensorsChips(Found& found)
{
    int nChip = 0;
    while (const sensors_chip_name* pChip = sensors_get_detected_chips(nullptr, &nChip)) {
        if (found.descriptions.size() >= kMaxSensors) {
            break;
        }
        hwmonlabels::ChipDescription description;
        description.strPrefix = pChip->prefix ? pChip->prefix : "";
        description.strChip = ChipText(pChip);
        // Whether the device sleeps is known before any of its files is read.
        const std::string strStatusPath = ReadPciFacts(PciDeviceFolder(pChip), description.pci);
        const bool bAsleep = description.pci.bSuspended;
        // Voltages only tell an APU from a card.
        const bool bGpu = hwmonlabels::ClassifyChip(description.strPrefix) == hwmonlabels::ChipClass::Gpu;
        std::vector<int> temperatures;
        std::vector<int> fans;
        int nFeature = 0;
        while (const sensors_feature* pFeature = sensors_get_features(pChip, &nFeature)) {
            const bool bTemperature = pFeature->type == SENSORS_FEATURE_TEMP;
            const bool bFan = pFeature->type == SENSORS_FEATURE_FAN;
            const bool bVoltage = pFeature->type == SENSORS_FEATURE_IN;
            if (!bTemperature && !bFan && !(bVoltage && bGpu)) {
                continue;
            }
            const std::string strName = pFeature->name ? pFeature->name : "";
            // A sleeping device's label files stay unread as well; its
            // features go by their names.
            hwmonlabels::Feature feature{strName, bAsleep ? strName : FeatureLabel(pChip, pFeature), true,
                                         0.0};
            if (bVoltage) {
                if (description.voltages.size() < VARNOKS_READING_SLOTS) {
                    description.voltages.push_back(feature);
                }
                continue;
            }
            const sensors_subfeature* pInput = sensors_get_subfeature(
                pChip, pFeature, bTemperature ? SENSORS_SUBFEATURE_TEMP_INPUT : SENSORS_SUBFEATURE_FAN_INPUT);
            if (!pInput || !(pInput->flags & SENSORS_MODE_R)) {
                continue;
            }
            std::vector<hwmonlabels::Feature>& list =
                bTemperature ? description.temperatures : description.fans;
            std::vector<int>& inputs = bTemperature ? temperatures : fans;
            if (list.size() >= VARNOKS_READING_SLOTS) {
                continue;
            }
            if (!bAsleep) {
                // Which readings answer decides between candidates.
                double dValue = 0.0;
                feature.bReadable =
                    sensors_get_value(pChip, pInput->number, &dValue) == 0 && std::isfinite(dValue);
                feature.dValue = feature.bReadable ? dValue : 0.0;
            }
            list.push_back(feature);
            inputs.push_back(pInput->number);
        }
        found.Add(std::move(description), pChip, nullptr, std::string(), strStatusPath,
                  std::move(temperatures), std::move(fans));
    }
}

template <typename Fn> bool ResolveNvml(void* pHandle, const char* pszName, Fn& function)
{
    function = reinterpret_cast<Fn>(dlsym(pHandle, pszName));
    return function != nullptr;
}

// The sysfs folder of an NVIDIA GPU by the PCI address NVML gives, "" when
// it gives none.
std::string NvidiaPciFolder(const Nvml& nvml, NvmlDevice device)
{
    NvmlPciInfo pci{};
    if (!nvml.pciInfo || nvml.pciInfo(device, &pci) != kNvmlSuccess) {
        return std::string();
    }
    pci.busId[sizeof(pci.busId) - 1] = '\0';
    unsigned int nDomain = pci.domain;
    unsigned int nBus = pci.bus;
    unsigned int nDevice = pci.device;
    unsigned int nFunction = 0;
    // "00000000:01:00.0"; older records fill only the numbers.
    if (pci.busId[0] && std::sscanf(pci.busId, "%x:%x:%x.%x", &nDomain, &nBus, &nDevice, &nFunction) != 4) {
        return std::string();
    }
    char folder[64];
    std::snprintf(folder, sizeof(folder), "/sys/bus/pci/devices/%04x:%02x:%02x.%x", nDomain & 0xffffu,
                  nBus & 0xffu, nDevice & 0x1fu, nFunction & 0x7u);
    return folder;
}

// NVIDIA display devices in sysfs, in address order.
std::vector<std::string> NvidiaDisplayFolders()
{
    std::vector<std::string> folders;
    const std::string strRoot = "/sys/bus/pci/devices";
    DIR* pDir = opendir(strRoot.c_str());
    if (!pDir) {
        return folders;
    }
    while (const dirent* pEntry = readdir(pDir)) {
        const std::string strFolder = strRoot + "/" + pEntry->d_name;
        if (pEntry->d_name[0] != '.' && ReadSmallFile(strFolder + "/vendor") == "0x10de" &&
            ReadSmallFile(strFolder + "/class").compare(0, 4, "0x03") == 0 && folders.size() < kMaxSensors) {
            folders.push_back(strFolder);
        }
    }
    closedir(pDir);
    std::sort(folders.begin(), folders.end());
    return folders;
}

void FindNvidiaGpus(State& state, Found& found)
{
    Nvml& nvml = state.nvml;
    nvml.pHandle = dlopen("libnvidia-ml.so.1", RTLD_NOW | RTLD_LOCAL);
    if (!nvml.pHandle) {
        return; // no NVIDIA driver: nothing to add, nothing to report
    }
    const bool bResolved = ResolveNvml(nvml.pHandle, "nvmlInit_v2", nvml.init) &&
                           ResolveNvml(nvml.pHandle, "nvmlShutdown", nvml.shutdown) &&
                           ResolveNvml(nvml.pHandle, "nvmlDeviceGetCount_v2", nvml.deviceCount) &&
                           ResolveNvml(nvml.pHandle, "nvmlDeviceGetHandleByIndex_v2", nvml.deviceByIndex) &&
                           ResolveNvml(nvml.pHandle, "nvmlDeviceGetTemperature", nvml.temperature);
    // Optional: the model's name, and the PCI address that tells whether the
    // GPU sleeps (without it the NVIDIA display devices are matched in order).
    ResolveNvml(nvml.pHandle, "nvmlDeviceGetName", nvml.deviceName);
    if (!ResolveNvml(nvml.pHandle, "nvmlDeviceGetPciInfo_v3", nvml.pciInfo)) {
        ResolveNvml(nvml.pHandle, "nvmlDeviceGetPciInfo_v2", nvml.pciInfo);
    }
    if (!bResolved || nvml.init() != kNvmlSuccess) {
        AddDiagnostic(state, "NVIDIA management library present but unusable; NVIDIA GPUs are not read");
        dlclose(nvml.pHandle);
        nvml = Nvml();
        return;
    }
    unsigned int nCount = 0;
    if (nvml.deviceCount(&nCount) != kNvmlSuccess) {
        nCount = 0;
    }
    // NVML numbers the GPUs in PCI address order; the folders are listed
    // only when NVML does not tell a GPU's address.
    std::vector<std::string> orderedFolders;
    bool bListedFolders = false;
    for (unsigned int i = 0; i < nCount && found.descriptions.size() < kMaxSensors; ++i) {
        NvmlDevice device = nullptr;
        if (nvml.deviceByIndex(i, &device) != kNvmlSuccess) {
            continue;
        }
        char name[96] = {};
        if (!nvml.deviceName || nvml.deviceName(device, name, sizeof(name) - 1) != kNvmlSuccess) {
            name[0] = '\0';
        }
        name[sizeof(name) - 1] = '\0';
        hwmonlabels::ChipDescription description;
        description.strPrefix = "nvidia";
        description.strChip = "nvidia-" + std::to_string(i);
        std::string strFolder = NvidiaPciFolder(nvml, device);
        if (strFolder.empty() && !bListedFolders) {
            orderedFolders = NvidiaDisplayFolders();
            bListedFolders = true;
        }
        if (strFolder.empty() && orderedFolders.size() == nCount) {
            strFolder = orderedFolders[i];
        }
        const std::string strStatusPath = ReadPciFacts(strFolder, description.pci);
        hwmonlabels::Feature feature{"temp", "GPU", true, 0.0};
        if (!description.pci.bSuspended) {
            // Asking a sleeping GPU for its temperature would wake it.
            unsigned int nDegrees = 0;
            feature.bReadable = nvml.temperature(device, kNvmlTemperatureGpu, &nDegrees) == kNvmlSuccess;
            feature.dValue = nDegrees;
        }
        description.temperatures.push_back(feature);
        found.Add(std::move(description), nullptr, device, name[0] ? std::string(" ") + name : std::string(),
                  strStatusPath, {-1}, {});
    }
}

void AddSensors(State& state, const Found& found)
{
    for (const hwmonlabels::ComposedSensor& composed : hwmonlabels::ComposeSensors(found.descriptions)) {
        const size_t nChip = composed.nChip;
        const hwmonlabels::ChipDescription& description = found.descriptions[nChip];
        Sensor sensor;
        sensor.pChip = found.chipNames[nChip];
        sensor.nvmlDevice = found.nvmlDevices[nChip];
        sensor.name = composed.strName + found.nameSuffixes[nChip];
        sensor.runtimeStatusPath = found.statusPaths[nChip];
        const auto readings = [&description](const std::vector<std::string>& labels,
                                             const std::vector<std::string>& rules,
                                             const std::vector<hwmonlabels::Feature>& features,
                                             const std::vector<int>& inputs, const char* pszUnit) {
            std::vector<Reading> list(labels.size());
            for (size_t i = 0; i < list.size(); ++i) {
                list[i].label = labels[i];
                list[i].origin = description.strChip + ":" + features[i].strName;
                // NVML numbers its GPUs afresh at every start; the PCI
                // address stays.
                list[i].identity = description.strPrefix == "nvidia" && !description.pci.strAddress.empty()
                                       ? "nvidia-" + description.pci.strAddress + ":" + features[i].strName
                                       : list[i].origin;
                list[i].ownLabel = features[i].strLabel;
                list[i].rule = rules[i];
                list[i].pszUnit = pszUnit;
                list[i].nSubfeature = inputs[i];
            }
            return list;
        };
        sensor.temperatures = readings(composed.temperatureLabels, composed.temperatureRules,
                                       description.temperatures, found.temperatureInputs[nChip], kCelsius);
        sensor.fans =
            readings(composed.fanLabels, composed.fanRules, description.fans, found.fanInputs[nChip], kRpm);
        state.sensors.push_back(std::move(sensor));
    }
}

void ReleaseAll(State& state)
{
    state.sensors.clear();
    if (state.bSensorsLoaded) {
        sensors_cleanup();
        state.bSensorsLoaded = false;
    }
    if (state.nvml.pHandle) {
        state.nvml.shutdown();
        dlclose(state.nvml.pHandle);
        state.nvml = Nvml();
    }
    state.bInitialised = false;
}

void TakeSnapshot(State& state, Sensor& sensor)
{
    const bool bAsleep = IsSuspended(sensor.runtimeStatusPath);
    for (std::vector<Reading>* pList : {&sensor.temperatures, &sensor.fans}) {
        for (Reading& reading : *pList) {
            reading.bValid = false;
            reading.bAsleep = bAsleep;
            if (bAsleep) {
                continue;
            }
            if (sensor.pChip) {
                double dValue = 0.0;
                if (sensors_get_value(sensor.pChip, reading.nSubfeature, &dValue) == 0) {
                    reading.dValue = dValue;
                    reading.bValid = true;
                }
            } else if (sensor.nvmlDevice && state.nvml.temperature) {
                unsigned int nDegrees = 0;
                if (state.nvml.temperature(sensor.nvmlDevice, kNvmlTemperatureGpu, &nDegrees) ==
                    kNvmlSuccess) {
                    reading.dValue = nDegrees;
                    reading.bValid = true;
                }
            }
        }
    }
}

void CopyText(char* pField, size_t nSize, const std::string& strText)
{
    const size_t nLength = std::min(strText.size(), nSize - 1);
    std::memcpy(pField, strText.data(), nLength);
    pField[nLength] = '\0';
}

// The reading of a kind, sensor and slot, or null; the caller holds the lock.
const Reading* FindReading(const State& state, int32_t nKind, int32_t nSensor, int32_t nSlot)
{
    if (!state.bInitialised || nSensor < 0 || static_cast<size_t>(nSensor) >= state.sensors.size() ||
        nSlot < 0) {
        return nullptr;
    }
    const Sensor& sensor = state.sensors[nSensor];
    const std::vector<Reading>* pList = nullptr;
    if (nKind == VARNOKS_READING_TEMPERATURE) {
        pList = &sensor.temperatures;
    } else if (nKind == VARNOKS_READING_FAN) {
        pList = &sensor.fans;
    }
    if (!pList || static_cast<size_t>(nSlot) >= pList->size()) {
        return nullptr;
    }
    return &(*pList)[nSlot];
}

} // namespace

extern "C" {

int32_t varnoks_sensor_initialise(int32_t /*nFlags*/)
{
    State& state = GlobalState();
    std::lock_guard<std::mutex> lock(state.mutex);
    ReleaseAll(state);
    state.diagnostics.clear();
    state.bSensorsLoaded = LoadSensorsConfiguration(state);
    Found found;
    if (state.bSensorsLoaded) {
        FindSensorsChips(found);
    }
    FindNvidiaGpus(state, found);
    AddSensors(state, found);
    // Without libsensors and without NVML there is nothing to read at all.
    if (!state.bSensorsLoaded && !state.nvml.pHandle) {
        return kSensorsInitFailed;
    }
    state.bInitialised = true;
    return 0;
}

void varnoks_sensor_shutdown(void)
{
    State& state = GlobalState();
    std::lock_guard<std::mutex> lock(state.mutex);
    ReleaseAll(state);
}

int32_t varnoks_sensor_count(void)
{
    State& state = GlobalState();
    std::lock_guard<std::mutex> lock(state.mutex);
    return state.bInitialised ? static_cast<int32_t>(state.sensors.size()) : 0;
}

int32_t varnoks_sensor_refresh(int32_t nSensor)
{
    State& state = GlobalState();
    std::lock_guard<std::mutex> lock(state.mutex);
    if (!state.bInitialised || nSensor < 0 || static_cast<size_t>(nSensor) >= state.sensors.size()) {
        return 0;
    }
    TakeSnapshot(state, state.sensors[nSensor]);
    return 1;
}

int32_t varnoks_sensor_name(int32_t nSensor, char* pBuffer, int32_t nSize)
{
    if (!pBuffer || nSize <= 0) {
        return 0;
    }
    pBuffer[0] = '\0';
    State& state = GlobalState();
    std::lock_guard<std::mutex> lock(state.mutex);
    if (!state.bInitialised || nSensor < 0 || static_cast<size_t>(nSensor) >= state.sensors.size()) {
        return 0;
    }
    CopyText(pBuffer, static_cast<size_t>(nSize), state.sensors[nSensor].name);
    return 1;
}

int32_t varnoks_sensor_read(int32_t nKind, int32_t nSensor, int32_t nSlot, VarnoksSensorReading* pReading)
{
    if (!pReading) {
        return 0;
    }
    State& state = GlobalState();
    std::lock_guard<std::mutex> lock(state.mutex);
    const Reading* pFound = FindReading(state, nKind, nSensor, nSlot);
    if (!pFound) {
        return 0;
    }
    const Reading& reading = *pFound;
    pReading->valid = reading.bValid ? 1 : 0;
    pReading->state = reading.bAsleep ? VARNOKS_READING_ASLEEP : 0;
    pReading->value = reading.bValid ? reading.dValue : 0.0;
    CopyText(pReading->unit, sizeof(pReading->unit), reading.pszUnit);
    CopyText(pReading->label, sizeof(pReading->label), reading.label);
    return 1;
}

int32_t varnoks_sensor_explain(int32_t nKind, int32_t nSensor, int32_t nSlot, char* pOrigin,
                               int32_t nOriginSize, char* pRule, int32_t nRuleSize)
{
    if (!pOrigin || nOriginSize <= 0 || !pRule || nRuleSize <= 0) {
        return 0;
    }
    pOrigin[0] = '\0';
    pRule[0] = '\0';
    State& state = GlobalState();
    std::lock_guard<std::mutex> lock(state.mutex);
    const Reading* pReading = FindReading(state, nKind, nSensor, nSlot);
    if (!pReading) {
        return 0;
    }
    CopyText(pOrigin, static_cast<size_t>(nOriginSize), pReading->origin);
    CopyText(pRule, static_cast<size_t>(nRuleSize), pReading->rule);
    return 1;
}

int32_t varnoks_sensor_identity(int32_t nKind, int32_t nSensor, int32_t nSlot, char* pIdentity,
                                int32_t nIdentitySize, char* pLabel, int32_t nLabelSize)
{
    if (!pIdentity || nIdentitySize <= 0 || !pLabel || nLabelSize <= 0) {
        return 0;
    }
    pIdentity[0] = '\0';
    pLabel[0] = '\0';
    State& state = GlobalState();
    std::lock_guard<std::mutex> lock(state.mutex);
    const Reading* pReading = FindReading(state, nKind, nSensor, nSlot);
    if (!pReading) {
        return 0;
    }
    CopyText(pIdentity, static_cast<size_t>(nIdentitySize), pReading->identity);
    CopyText(pLabel, static_cast<size_t>(nLabelSize), pReading->ownLabel);
    return 1;
}

const char* varnoks_sensor_diagnostics(void)
{
    State& state = GlobalState();
    std::lock_guard<std::mutex> lock(state.mutex);
    return state.diagnostics.c_str();
}

} // extern "C"
