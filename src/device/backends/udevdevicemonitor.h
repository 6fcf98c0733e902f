#pragma once

#include "device/backends/devicechangemonitor.h"

struct udev;
struct udev_monitor;
class QSocketNotifier;

// Arrival and removal of hidraw nodes from udev's netlink source "udev", that
// is after the rules ran (so the node already has its permissions). Arrival
// carries the devnode and the ids from the parent hid device's HID_ID.
class UdevDeviceMonitor : public DeviceChangeMonitor
{
    Q_OBJECT
public:
    // nullptr when udev cannot give us a monitor.
    static UdevDeviceMonitor* create(QObject* parent);
    ~UdevDeviceMonitor() override;

private:
    UdevDeviceMonitor(struct udev* context, struct udev_monitor* monitor, QObject* parent);
    void onActivated();

    struct udev* m_pUdev;
    struct udev_monitor* m_pMonitor;
    QSocketNotifier* m_pNotifier;
};
