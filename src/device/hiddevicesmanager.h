#pragma once

#include "device/backends/hidbackend.h"
#include "device/devicechangeevent.h"
#include "device/hiddeviceinfo.h"
#include "device/hidworkerpool.h"

#include <QHash>
#include <QObject>
#include <QString>
#include <QtGlobal>

#include <algorithm>
#include <memory>

class DeviceChangeMonitor;

// The recognised device interfaces: found by a full enumeration at start-up
// and by arrival and removal events afterwards. A supported interface counts
// once it answers the identification request.
//
// The identification exchange runs on worker threads, never on the GUI
// thread, several interfaces at once; its end comes back as an Identified
// event (identificationFinished), which the owner hands to
// handleDeviceChange like every other event of the route:
//   connect(monitor, &DeviceChangeMonitor::deviceChanged, this, &MainWindow::onDeviceChange);
//   connect(&registry, &HIDDevicesManager::identificationFinished, this, &MainWindow::onDeviceChange);
//   void MainWindow::onDeviceChange(const DeviceChangeEvent& e) {
//       const int before = registry.devices().size();
//       registry.handleDeviceChange(e);
//       if (registry.devices().size() != before)
//           refreshDevices();
//   }
// Every public operation runs on the GUI thread.
class HIDDevicesManager : public QObject
{
    Q_OBJECT
public:
    explicit HIDDevicesManager(std::shared_ptr<HidBackend> backend, QObject* parent = nullptr);
    // Gives up identifications still under way; never waits on a device
    // for more than a short grace period.
    ~HIDDevicesManager() override;

    // Sets up the arrival and removal source, owned by `pWindow`. Call it
    // before scanDevices so that nothing slips between the two. On failure
    // logs "Register device notification failed. " and returns nullptr; the
    // program runs on with what the scan finds.
    DeviceChangeMonitor* registerNotify(QObject* pWindow);

    // Start-up enumeration: every interface with a serial-number string is
    // passed to recognize, each path once.
    void scanDevices();

    // Starts the identification exchange with one interface. False when
    // none starts: ids other than the supported pair, or a path that is
    // already recorded or being identified.
    bool recognize(quint16 usVendorId, quint16 usProductId, const QString& strPath);

    // Arrival: recognize the interface. Removal: drop the entry with that
    // path, if any, and forget an identification under way or planned.
    // Identified: record the interface if it answered and is still wanted;
    // if it gave no answer at all, ask it again a little later (sooner
    // after a fresh arrival, at most every RETRY_MAX_DELAY_MS), for as long
    // as no removal comes: an interface that stays plugged is never lost to
    // one exchange that failed while it was busy or just being replugged.
    // Returns false: the event is never consumed.
    bool handleDeviceChange(const DeviceChangeEvent& event);

#ifdef Q_OS_WIN
    // The WM_DEVICECHANGE route: `pMessage` is the MSG* of nativeEvent.
    // Always false, so the message goes on to default processing.
    bool handleDeviceChange(void* pMessage);
#endif

    const HIDDeviceMap& devices() const
    {
        return m_mapDevices;
    }
    // Identifications started and not yet handled back (not counting
    // interfaces waiting to be asked again).
    int identifying() const
    {
        return m_identifying.size() - retriesWaiting();
    }
    // Interfaces waiting to be asked again after an exchange with no answer.
    int retriesWaiting() const
    {
        return static_cast<int>(std::count_if(m_identifying.cbegin(), m_identifying.cend(),
                                              [](const Pending& pending) { return pending.waiting; }));
    }

    // At most this many interfaces are identified at once: enough that an
    // interface that answers is not queued behind a crowd of silent ones,
    // each of which holds its worker until the answer time-out.
    static constexpr int MAX_WORKERS = 64;
    // An interface that gave no answer is asked again after 250 ms, then
    // after twice as long each time, at most after this long.
    static constexpr int RETRY_FIRST_DELAY_MS = 250;
    static constexpr int RETRY_MAX_DELAY_MS = 4000;

signals:
    // The end of an identification exchange, for handleDeviceChange.
    void identificationFinished(const DeviceChangeEvent& event);

private:
    // Submits one identification exchange; `attempt` counts the ones before
    // it that got no answer since the interface arrived.
    bool startIdentification(quint16 usVendorId, quint16 usProductId, const QString& strPath, int attempt);
    void scheduleRetry(const DeviceChangeEvent& event, int attempt);

    struct Pending
    {
        quint64 exchange = 0; // of the exchange under way, or of the planned retry
        int attempt = 0;
        bool waiting = false; // a retry is planned, no exchange runs
    };

    HIDDeviceMap m_mapDevices;
    std::shared_ptr<HidBackend> m_pBackend;
    QHash<QString, Pending> m_identifying; // key -> identification under way or planned
    quint64 m_nextExchange = 1;
    HidWorkerPool m_workers;
};
