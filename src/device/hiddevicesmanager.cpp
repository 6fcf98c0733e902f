#include "device/hiddevicesmanager.h"

#include "app/common.h"
#include "app/rslogger.h"
#include "device/backends/devicechangemonitor.h"
#include "device/hidexchange.h"

#include <QTimer>

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
    if (m_mapDevices.contains(key))
        return false;
    const auto pending = m_identifying.constFind(key);
    if (pending != m_identifying.constEnd()) {
        if (!pending->waiting)
            return false;
        // Asked again at once rather than when the planned retry falls due.
        m_identifying.remove(key);
    }
    return startIdentification(usVendorId, usProductId, strPath, 0);
}

bool HIDDevicesManager::startIdentification(quint16 usVendorId, quint16 usProductId, const QString& strPath,
                                            int attempt)
{
    const QString key = hidDeviceKey(strPath);
    const quint64 exchange = m_nextExchange++;
    std::shared_ptr<HidBackend> backend = m_pBackend;
    HIDDevicesManager* owner = this;
    const bool queued = m_workers.submit([backend, usVendorId, usProductId, strPath, exchange, attempt,
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
            // A failure is logged once per arrival, not once per retry.
            writeLogLine(attempt == 0 ? outcome.log : HidLogLine(), outcome.permissionDenied, strPath);
            DeviceChangeEvent event;
            event.kind = DeviceChangeEvent::Identified;
            event.path = strPath;
            event.vendorId = usVendorId;
            event.productId = usProductId;
            event.recognised = outcome.recognised;
            event.answerMissing = outcome.answerMissing;
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
    Pending pending;
    pending.exchange = exchange;
    pending.attempt = attempt;
    m_identifying.insert(key, pending);
    return true;
}

void HIDDevicesManager::scheduleRetry(const DeviceChangeEvent& event, int attempt)
{
    const QString key = hidDeviceKey(event.path);
    Pending pending;
    pending.exchange = m_nextExchange++;
    pending.attempt = attempt;
    pending.waiting = true;
    m_identifying.insert(key, pending);
    const int delay = qMin(RETRY_FIRST_DELAY_MS << qMin(attempt - 1, 8), RETRY_MAX_DELAY_MS);
    const quint64 token = pending.exchange;
    const quint16 vid = event.vendorId;
    const quint16 pid = event.productId;
    const QString path = event.path;
    QTimer::singleShot(delay, this, [this, key, token, vid, pid, path, attempt] {
        const auto it = m_identifying.constFind(key);
        // Removed meanwhile, arrived afresh, or asked again already.
        if (it == m_identifying.constEnd() || !it->waiting || it->exchange != token)
            return;
        m_identifying.remove(key);
        startIdentification(vid, pid, path, attempt);
    });
}

bool HIDDevicesManager::handleDeviceChange(const DeviceChangeEvent& event)
{
    const QString key = hidDeviceKey(event.path);
    switch (event.kind) {
    case DeviceChangeEvent::Arrival:
        recognize(event.vendorId, event.productId, event.path);
        break;
    case DeviceChangeEvent::Removal: {
        m_mapDevices.remove(key);
        // An answer still to come, or a retry planned, is about an
        // interface that is gone.
        m_identifying.remove(key);
        break;
    }
    case DeviceChangeEvent::Identified: {
        const auto it = m_identifying.constFind(key);
        if (it == m_identifying.constEnd() || it->waiting || it->exchange != event.exchange ||
            event.exchange == 0)
            break;
        const int attempt = it->attempt;
        m_identifying.remove(key);
        if (event.recognised)
            m_mapDevices.insert(key, event.info);
        else if (event.answerMissing)
            scheduleRetry(event, attempt + 1);
        break;
    }
    }
    return false;
}
