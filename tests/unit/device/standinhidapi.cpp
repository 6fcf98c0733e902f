#include "standinhidapi.h"

#include <QMap>
#include <QMutex>

#include <hidapi/hidapi.h>

#include <cstring>
#include <string>

struct hid_device_
{
    QByteArray path;
};

namespace {

QMutex g_mutex;
QList<StandInHidapi::Device> g_devices;
QMap<QByteArray, QList<QByteArray>> g_written;
int g_open = 0;

StandInHidapi::Device* find(const QByteArray& path)
{
    for (StandInHidapi::Device& device : g_devices) {
        if (device.path == path)
            return &device;
    }
    return nullptr;
}

wchar_t* wideCopy(const QString& text)
{
    const std::wstring wide = text.toStdWString();
    auto* copy = new wchar_t[wide.size() + 1];
    std::wmemcpy(copy, wide.c_str(), wide.size() + 1);
    return copy;
}

} // namespace

namespace StandInHidapi {

void setDevices(const QList<Device>& devices)
{
    QMutexLocker locker(&g_mutex);
    g_devices = devices;
    g_written.clear();
}

QList<QByteArray> written(const QByteArray& path)
{
    QMutexLocker locker(&g_mutex);
    return g_written.value(path);
}

int openDevices()
{
    QMutexLocker locker(&g_mutex);
    return g_open;
}

} // namespace StandInHidapi

extern "C" {

int hid_init(void)
{
    return 0;
}

struct hid_device_info* hid_enumerate(unsigned short, unsigned short)
{
    QMutexLocker locker(&g_mutex);
    hid_device_info* head = nullptr;
    hid_device_info** tail = &head;
    for (const StandInHidapi::Device& device : qAsConst(g_devices)) {
        for (int usage = 0; usage < device.usages; ++usage) {
            auto* info = new hid_device_info{};
            info->path = strdup(device.path.constData());
            info->vendor_id = device.vendorId;
            info->product_id = device.productId;
            info->serial_number = wideCopy(device.serial);
            info->usage = static_cast<unsigned short>(usage + 1);
            *tail = info;
            tail = &info->next;
        }
    }
    return head;
}

void hid_free_enumeration(struct hid_device_info* devs)
{
    while (devs) {
        hid_device_info* next = devs->next;
        free(devs->path);
        delete[] devs->serial_number;
        delete devs;
        devs = next;
    }
}

hid_device* hid_open_path(const char* path)
{
    QMutexLocker locker(&g_mutex);
    if (!find(QByteArray(path)))
        return nullptr;
    ++g_open;
    return new hid_device_{QByteArray(path)};
}

int hid_write(hid_device* dev, const unsigned char* data, size_t length)
{
    QMutexLocker locker(&g_mutex);
    g_written[dev->path].append(QByteArray(reinterpret_cast<const char*>(data), int(length)));
    return int(length);
}

int hid_read_timeout(hid_device* dev, unsigned char* data, size_t length, int)
{
    QMutexLocker locker(&g_mutex);
    StandInHidapi::Device* device = find(dev->path);
    if (!device || device->readFails)
        return -1;
    if (device->replies.isEmpty())
        return 0;
    const QByteArray reply = device->replies.takeFirst().left(int(length));
    std::memcpy(data, reply.constData(), size_t(reply.size()));
    return reply.size();
}

const wchar_t* hid_error(hid_device*)
{
    // hidraw's text when no error was recorded: strerror(0).
    return L"Success";
}

void hid_close(hid_device* dev)
{
    QMutexLocker locker(&g_mutex);
    --g_open;
    delete dev;
}

} // extern "C"
