#include "device/hiddevicesmanager.h"

#include "app/common.h"
#include "app/rslogger.h"
#include "device/backends/devicechangemonitor.h"
#include "device/hidexchange.h"

namespace {
// How often an identification waiting for its path looks again.
constexpr int CLAIM_RETRY_MS = 20;
} // namespace

HIDDevicesManager::HIDDevicesManager(std::shared_ptr<HidBackend> backend, QObject* parent)
    : QObject(parent), m_pBackend(std::move(backend)), m_workers(MAX_WORKERS)
{
    qRegisterMetaType<DeviceChangeEvent>();
}

HIDDevicesManager::~HIDDevicesManager()
{
    m_workers.shutdown();
}

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
    // hidraw and the virtual folder announce a node once, but a replug, a
    // duplicated event or a path listed once per usage must not start a
    // second exchange with the same interface.
    const QString key = hidDeviceKey(strPath);
    if (m_mapDevices.contains(key) || m_identifying.contains(key))
        return false;

    const quint64 exchange = m_nextExchange++;
    std::shared_ptr<HidBackend> backend = m_pBackend;
    HIDDevicesManager* owner = this;
    const bool queued = m_workers.submit([backend, usVendorId, usProductId, strPath, exchange,
                                          owner](const HidJobContext& context) {
        // The path has one owner at a time: wait while the sender (or an
        // exchange with a replugged node of the same name) still holds it.
        std::unique_ptr<HidPathClaim> claim;
        for (;;) {
            claim = std::make_unique<HidPathClaim>(backend, strPath);
            if (claim->isHeld())
                break;
            if (!context.sleep(CLAIM_RETRY_MS))
                return;
        }
        const IdentifyOutcome outcome = identifyInterface(*backend, usVendorId, usProductId, strPath,
                                                          [&context] { return context.cancelled(); });
        claim.reset();
        if (outcome.cancelled)
            return;
        context.whileOwned([&] {
            writeLogLine(outcome.log, outcome.permissionDenied, strPath);
            DeviceChangeEvent event;
            event.kind = DeviceChangeEvent::Identified;
            event.path = strPath;
            event.vendorId = usVendorId;
            event.productId = usProductId;
            event.recognised = outcome.recognised;
            event.info = outcome.info;
            event.exchange = exchange;
            // The registry outlives every job it has not given up, so it is
            // alive here; the event reaches it on its own (the GUI) thread,
            // or never if it goes first.
            QMetaObject::invokeMethod(
                owner, [owner, event] { emit owner->identificationFinished(event); }, Qt::QueuedConnection);
        });
    });
    if (!queued)
        return false;
    m_identifying.insert(key, exchange);
    return true;
}

bool HIDDevicesManager::handleDeviceChange(const DeviceChangeEvent& event)
{
    const QString key = hidDeviceKey(event.path);
    switch (event.kind) {
    case DeviceChangeEvent::Arrival:
        recognize(event.vendorId, event.productId, event.path);
        break;
    case DeviceChangeEvent::Removal:
        m_mapDevices.remove(key);
        // An answer still to come is about an interface that is gone.
        m_identifying.remove(key);
        break;
    case DeviceChangeEvent::Identified:
        if (m_identifying.value(key) != event.exchange || event.exchange == 0)
            break;
        m_identifying.remove(key);
        if (event.recognised)
            m_mapDevices.insert(key, event.info);
        break;
    }
    return false;
}
