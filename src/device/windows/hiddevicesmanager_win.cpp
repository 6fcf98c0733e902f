#include "device/hiddevicesmanager.h"
#include "device/windows/arrivalname.h"

#include <windows.h>

#include <dbt.h>

#include <cstddef>
#include <cwchar>

// Windows route of arrival and removal: WM_DEVICECHANGE of the main window.
bool HIDDevicesManager::handleDeviceChange(void* pMessage)
{
    const MSG* msg = static_cast<const MSG*>(pMessage);
    if (!msg || msg->message != WM_DEVICECHANGE)
        return false;
    if (msg->wParam != DBT_DEVICEARRIVAL && msg->wParam != DBT_DEVICEREMOVECOMPLETE)
        return false;
    const auto* header = reinterpret_cast<const DEV_BROADCAST_HDR*>(msg->lParam);
    if (!header || header->dbch_devicetype != DBT_DEVTYP_DEVICEINTERFACE)
        return false;
    const auto* broadcast = reinterpret_cast<const DEV_BROADCAST_DEVICEINTERFACE_W*>(header);
    // dbcc_name runs to the end of the structure the system handed us.
    const size_t nameOffset = offsetof(DEV_BROADCAST_DEVICEINTERFACE_W, dbcc_name);
    if (broadcast->dbcc_size <= nameOffset)
        return false;
    const size_t maxChars = (broadcast->dbcc_size - nameOffset) / sizeof(wchar_t);
    const QString name =
        QString::fromWCharArray(broadcast->dbcc_name, int(wcsnlen(broadcast->dbcc_name, maxChars)));

    DeviceChangeEvent event;
    if (msg->wParam == DBT_DEVICEARRIVAL) {
        const ArrivalName arrival = parseArrivalName(name);
        if (!arrival.valid)
            return false;
        event.kind = DeviceChangeEvent::Arrival;
        event.path = arrival.path;
        event.vendorId = arrival.vendorId;
        event.productId = arrival.productId;
    } else {
        event.kind = DeviceChangeEvent::Removal;
        event.path = name.toUpper();
    }
    handleDeviceChange(event);
    return false;
}
