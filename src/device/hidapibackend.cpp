#include "device/hidapibackend.h"

#include "device/udevdevicemonitor.h"

#include <QFile>
#include <QMutex>
#include <QMutexLocker>

#include <hidapi/hidapi.h>

#include <cerrno>
#include <cwchar>
#include <unistd.h>

namespace {

QMutex& hidapiMutex()
{
    static QMutex mutex;
    return mutex;
}

QString fromWide(const wchar_t* text)
{
    if (!text)
        return QString();
    // Bounded: a descriptor string is at most 126 UTF-16 units.
    const size_t length = wcsnlen(text, 256);
    return QString::fromWCharArray(text, int(length));
}

class HidapiDevice : public HidDeviceHandle
{
public:
    explicit HidapiDevice(hid_device* device) : m_pDevice(device) {}
    ~HidapiDevice() override
    {
        QMutexLocker locker(&hidapiMutex());
        hid_close(m_pDevice);
    }

    int write(const QByteArray& report) override
    {
        return hid_write(m_pDevice, reinterpret_cast<const unsigned char*>(report.constData()),
                         size_t(report.size()));
    }

    int read(QByteArray* report, int maxSize, int timeoutMs) override
    {
        report->fill('\0', maxSize);
        const int n = hid_read_timeout(m_pDevice, reinterpret_cast<unsigned char*>(report->data()),
                                       size_t(maxSize), timeoutMs);
        report->resize(qBound(0, n, maxSize));
        return n;
    }

    QString errorText() const override { return fromWide(hid_error(m_pDevice)); }

private:
    hid_device* m_pDevice;
};

} // namespace

HidapiBackend::HidapiBackend()
{
    QMutexLocker locker(&hidapiMutex());
    hid_init();
}

QVector<HidEnumEntry> HidapiBackend::enumerate()
{
    QVector<HidEnumEntry> entries;
    QMutexLocker locker(&hidapiMutex());
    hid_device_info* list = hid_enumerate(0, 0);
    for (hid_device_info* it = list; it; it = it->next) {
        if (!it->path)
            continue;
        HidEnumEntry entry;
        entry.path = QFile::decodeName(it->path);
        entry.vendorId = it->vendor_id;
        entry.productId = it->product_id;
        entry.hasSerial = it->serial_number != nullptr;
        entry.serial = fromWide(it->serial_number);
        entries.append(entry);
    }
    hid_free_enumeration(list);
    return entries;
}

std::unique_ptr<HidDeviceHandle> HidapiBackend::open(const QString& path, HidOpenError* error)
{
    const QByteArray nativePath = QFile::encodeName(path);
    hid_device* device = nullptr;
    {
        QMutexLocker locker(&hidapiMutex());
        device = hid_open_path(nativePath.constData());
    }
    if (device) {
        if (error)
            *error = HidOpenError::None;
        return std::make_unique<HidapiDevice>(device);
    }
    if (error) {
        // hidapi does not hand back errno; ask the node itself.
        const bool denied = ::access(nativePath.constData(), R_OK | W_OK) != 0 && errno == EACCES;
        *error = denied ? HidOpenError::PermissionDenied : HidOpenError::Other;
    }
    return nullptr;
}

DeviceChangeMonitor* HidapiBackend::createMonitor(QObject* parent)
{
    return UdevDeviceMonitor::create(parent);
}
