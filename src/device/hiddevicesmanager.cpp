#include "device/hiddevicesmanager.h"

#include "app/common.h"
#include "app/rslogger.h"
#include "device/devicechangemonitor.h"
#include "device/hidreport.h"

HIDDevicesManager::HIDDevicesManager() : m_pBackend(createHidBackend()) {}

HIDDevicesManager::HIDDevicesManager(std::shared_ptr<HidBackend> backend) : m_pBackend(std::move(backend)) {}

DeviceChangeMonitor* HIDDevicesManager::registerNotify(QObject* pWindow)
{
    DeviceChangeMonitor* monitor = m_pBackend ? m_pBackend->createMonitor(pWindow) : nullptr;
    if (!monitor) {
        RSLogger::GetInstance()->WriteLog(LOG_ERROR, QStringLiteral("Register device notification failed. "),
                                          "HIDDevicesManager::registerNotify");
    }
    return monitor;
}

void HIDDevicesManager::scanDevices()
{
    if (!m_pBackend)
        return;
    const QVector<HidEnumEntry> entries = m_pBackend->enumerate();
    for (const HidEnumEntry& entry : entries) {
        if (entry.hasSerial)
            recognize(entry.vendorId, entry.productId, entry.path);
    }
}

bool HIDDevicesManager::recognize(quint16 usVendorId, quint16 usProductId, const QString& strPath)
{
    // Parsed each time, as the constants are the one place the ids live.
    const quint16 supportedVid = quint16(COMMON::DEVICE_VID.toUInt(nullptr, 16));
    const quint16 supportedPid = quint16(COMMON::DEVICE_PID.toUInt(nullptr, 16));
    if (usVendorId != supportedVid || usProductId != supportedPid || !m_pBackend)
        return false;

    HidOpenError openError = HidOpenError::None;
    std::unique_ptr<HidDeviceHandle> device = m_pBackend->open(strPath, &openError);
    if (!device) {
        // Other open failures stay silent: another program may hold the
        // device, or it went away again.
        if (openError == HidOpenError::PermissionDenied)
            warnPermissionDeniedOnce(strPath, "HIDDevicesManager::recognize");
        return false;
    }

    if (device->write(HidReport::identifyRequest()) < 0) {
        RSLogger::GetInstance()->WriteLog(
            LOG_WARNING,
            QStringLiteral("Invalid HID device\uFF01Write data to device fail: %1, device path: %2!")
                .arg(device->errorText(), strPath),
            "HIDDevicesManager::recognize");
        return false;
    }

    QByteArray reply;
    const int n = device->read(&reply, HidReport::IDENTIFY_REPLY_SIZE, HidReport::READ_TIMEOUT_MS);
    QString readError;
    if (n < 0)
        readError = device->errorText();
    else if (n == 0)
        readError = QStringLiteral("no reply within %1 ms").arg(HidReport::READ_TIMEOUT_MS);

    HIDDeviceInfo info;
    HidReport::ReplyStatus status = HidReport::ReplyStatus::WrongReportId;
    if (readError.isNull()) {
        status = HidReport::decodeIdentifyReply(reply, usVendorId, usProductId, strPath, &info);
        if (status == HidReport::ReplyStatus::TooShort)
            readError = QStringLiteral("reply of %1 bytes is too short").arg(n);
    }
    if (!readError.isNull()) {
        RSLogger::GetInstance()->WriteLog(
            LOG_WARNING,
            QStringLiteral("Read HID device data fail: %1, device path: %2!").arg(readError, strPath),
            "HIDDevicesManager::recognize");
        return false;
    }
    if (status != HidReport::ReplyStatus::Accepted)
        return false;

    // The sender opens the device by this path later: as enumerated on
    // Linux, where paths are case-sensitive.
    info.strDevicePath = hidDeviceKey(strPath);
    m_mapDevices.insert(hidDeviceKey(strPath), info);
    return true;
}

bool HIDDevicesManager::handleDeviceChange(const DeviceChangeEvent& event)
{
    switch (event.kind) {
    case DeviceChangeEvent::Arrival:
        recognize(event.vendorId, event.productId, event.path);
        break;
    case DeviceChangeEvent::Removal:
        m_mapDevices.remove(hidDeviceKey(event.path));
        break;
    }
    return false;
}
