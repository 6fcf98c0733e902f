#pragma once

#include "device/devicechangeevent.h"
#include "device/hidbackend.h"
#include "device/hiddeviceinfo.h"

#include <QString>
#include <QtGlobal>

#include <memory>

class DeviceChangeMonitor;
class QObject;

// The recognised device interfaces: found by a full enumeration at start-up
// and by arrival and removal events afterwards. A supported interface counts
// once it answers the identification request. Every operation runs on the
// GUI thread; the identification exchange waits at most
// HidReport::READ_TIMEOUT_MS for the reply.
//
// How the main window drives it:
//   DeviceChangeMonitor* monitor = m_hidManager.registerNotify(this);  // before the scan
//   if (monitor)
//       connect(monitor, &DeviceChangeMonitor::deviceChanged, this, [this](const DeviceChangeEvent& e) {
//           const int before = m_hidManager.devices().size();
//           m_hidManager.handleDeviceChange(e);
//           if (m_hidManager.devices().size() != before)
//               refreshDevices();
//       });
//   m_hidManager.scanDevices();
//   refreshDevices();
// An arrival that overwrites an existing entry changes no count and so
// refreshes nothing.
class HIDDevicesManager
{
public:
    // Uses the backend chosen by VARNOKS_HID_BACKEND.
    HIDDevicesManager();
    explicit HIDDevicesManager(std::shared_ptr<HidBackend> backend);

    // Sets up the arrival and removal source, owned by `pWindow`. Call it
    // before scanDevices so that nothing slips between the two. On failure
    // logs "Register device notification failed. " and returns nullptr; the
    // program runs on with what the scan finds.
    DeviceChangeMonitor* registerNotify(QObject* pWindow);

    // Start-up enumeration: every interface with a serial-number string is
    // passed to recognize.
    void scanDevices();

    // Identification exchange with one interface; true when it was recorded.
    bool recognize(quint16 usVendorId, quint16 usProductId, const QString& strPath);

    // Arrival: recognize the interface. Removal: drop the entry with that
    // path, if any. Returns false: the event is never consumed.
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
    std::shared_ptr<HidBackend> backend() const
    {
        return m_pBackend;
    }

private:
    HIDDeviceMap m_mapDevices;
    std::shared_ptr<HidBackend> m_pBackend;
};
