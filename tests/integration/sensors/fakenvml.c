/* A stand-in for NVIDIA's management library, built as libnvidia-ml.so.1
 * for the tests. It serves the GPUs listed in the file VARNOKS_FAKE_NVML
 * names, one per line: "name|temperature|bus|asleep" (bus as 0000:01:00.0,
 * asleep 1 or 0), read again at every call so that a test can wake a GPU.
 * Every call is appended to the file VARNOKS_FAKE_NVML_LOG; a temperature
 * query on a sleeping GPU is logged with "WOKE", since the real driver
 * resumes the card to answer it. VARNOKS_FAKE_NVML_NO_PCI makes the PCI
 * information unavailable. */

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#define EXPORT __attribute__((visibility("default")))
#define MAX_GPUS 8

typedef struct
{
    char name[64];
    unsigned temperature;
    unsigned domain, bus, device;
    int asleep;
} Gpu;

typedef struct
{
    char busIdLegacy[16];
    unsigned int domain;
    unsigned int bus;
    unsigned int device;
    unsigned int pciDeviceId;
    unsigned int pciSubSystemId;
    char busId[32];
} PciInfo;

static void LogCall(const char* call, long index, const char* note)
{
    const char* path = getenv("VARNOKS_FAKE_NVML_LOG");
    FILE* file = path ? fopen(path, "a") : NULL;
    if (file) {
        fprintf(file, "%s %ld%s\n", call, index, note);
        fclose(file);
    }
}

static int LoadGpus(Gpu* gpus)
{
    const char* path = getenv("VARNOKS_FAKE_NVML");
    FILE* file = path ? fopen(path, "r") : NULL;
    int count = 0;
    char line[256];
    if (!file) {
        return -1;
    }
    while (count < MAX_GPUS && fgets(line, sizeof(line), file)) {
        Gpu* gpu = &gpus[count];
        memset(gpu, 0, sizeof(*gpu));
        if (sscanf(line, "%63[^|]|%u|%x:%x:%x.%*x|%d", gpu->name, &gpu->temperature, &gpu->domain, &gpu->bus,
                   &gpu->device, &gpu->asleep) == 6) {
            ++count;
        }
    }
    fclose(file);
    return count;
}

/* Devices are handed out as index + 1, so that no handle is null. */
static long IndexOf(void* device)
{
    return (long)(size_t)device - 1;
}

static int Find(void* device, Gpu* gpu)
{
    Gpu gpus[MAX_GPUS];
    const long index = IndexOf(device);
    if (index < 0 || index >= LoadGpus(gpus)) {
        return 0;
    }
    *gpu = gpus[index];
    return 1;
}

EXPORT int nvmlInit_v2(void)
{
    Gpu gpus[MAX_GPUS];
    LogCall("nvmlInit_v2", 0, "");
    return LoadGpus(gpus) < 0 ? 9 /* driver not loaded */ : 0;
}

EXPORT int nvmlShutdown(void)
{
    LogCall("nvmlShutdown", 0, "");
    return 0;
}

EXPORT int nvmlDeviceGetCount_v2(unsigned int* count)
{
    Gpu gpus[MAX_GPUS];
    const int loaded = LoadGpus(gpus);
    LogCall("nvmlDeviceGetCount_v2", 0, "");
    *count = loaded < 0 ? 0 : (unsigned)loaded;
    return 0;
}

EXPORT int nvmlDeviceGetHandleByIndex_v2(unsigned int index, void** device)
{
    LogCall("nvmlDeviceGetHandleByIndex_v2", (long)index, "");
    *device = (void*)(size_t)(index + 1);
    return 0;
}

EXPORT int nvmlDeviceGetName(void* device, char* name, unsigned int length)
{
    Gpu gpu;
    LogCall("nvmlDeviceGetName", IndexOf(device), "");
    if (!Find(device, &gpu) || length == 0) {
        return 2;
    }
    snprintf(name, length, "%s", gpu.name);
    return 0;
}

EXPORT int nvmlDeviceGetPciInfo_v3(void* device, PciInfo* pci)
{
    Gpu gpu;
    LogCall("nvmlDeviceGetPciInfo_v3", IndexOf(device), "");
    if (!Find(device, &gpu)) {
        return 2;
    }
    if (getenv("VARNOKS_FAKE_NVML_NO_PCI")) {
        return 3; /* not supported */
    }
    memset(pci, 0, sizeof(*pci));
    pci->domain = gpu.domain;
    pci->bus = gpu.bus;
    pci->device = gpu.device;
    snprintf(pci->busId, sizeof(pci->busId), "%08x:%02x:%02x.0", gpu.domain, gpu.bus, gpu.device);
    return 0;
}

EXPORT int nvmlDeviceGetTemperature(void* device, int sensor, unsigned int* temperature)
{
    Gpu gpu;
    if (!Find(device, &gpu) || sensor != 0) {
        LogCall("nvmlDeviceGetTemperature", IndexOf(device), " INVALID");
        return 2;
    }
    LogCall("nvmlDeviceGetTemperature", IndexOf(device), gpu.asleep ? " WOKE" : "");
    *temperature = gpu.temperature;
    return 0;
}
