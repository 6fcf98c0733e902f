#include "device/backends/hidapibackend.h"

#include "device/backends/udevdevicemonitor.h"

#include <QFile>
#include <QMutex>
#include <QMutexLocker>
#include <QSet>

#include <cerrno>
#include <cstring>
#include <cwchar>
#include <unistd.h>

namespace {

QMutex& hidapiMutex()
{
    // Never destroyed: a worker given up at shutdown may still close its
    // device after static destruction began.
    static QMutex* mutex = new QMutex;
    return *mutex;
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

    QString errorText() const override { return hidErrorText(hid_error(m_pDevice)); }

private:
    hid_device* m_pDevice;
};

} // namespace

bool hidEntryFromInfo(const hid_device_info& info, HidEnumEntry* entry)
{
    if (!info.path || !*info.path)
        return false;
    // A node name longer than any path is not one hidraw gives.
    const size_t length = strnlen(info.path, 4097);
    if (length > 4096)
        return false;
    HidEnumEntry result;
    result.path = QFile::decodeName(QByteArray(info.path, int(length)));
    result.vendorId = info.vendor_id;
    result.productId = info.product_id;
    // hidraw reports a device without a serial number as an empty string,
    // never as null.
    result.serial = fromWide(info.serial_number);
    result.hasSerial = !result.serial.isEmpty();
    *entry = result;
    return true;
}

QVector<HidEnumEntry> hidEntriesFromList(const hid_device_info* list)
{
    QVector<HidEnumEntry> entries;
    QSet<QString> seen;
    // Bounded against a corrupt (cyclic) list.
    int count = 0;
    for (const hid_device_info* it = list; it && count < 4096; it = it->next, ++count) {
        HidEnumEntry entry;
        // One entry per usage of an interface: the path is what counts.
        if (!hidEntryFromInfo(*it, &entry) || seen.contains(entry.path))
            continue;
        seen.insert(entry.path);
        entries.append(entry);
    }
    return entries;
}

QString hidErrorText(const wchar_t* text)
{
    // With nothing recorded hidapi hands back strerror(0).
    const QString message = fromWide(text);
    return message == QLatin1String("Success") ? QString() : message;
}

HidapiBackend::HidapiBackend()
{
    QMutexLocker locker(&hidapiMutex());
    hid_init();
}

QVector<HidEnumEntry> HidapiBackend::enumerate()
{
    QMutexLocker locker(&hidapiMutex());
    hid_device_info* list = hid_enumerate(0, 0);
    const QVector<HidEnumEntry> entries = hidEntriesFromList(list);
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
