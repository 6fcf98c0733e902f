#include "device/udevdevicemonitor.h"

#include <QFile>
#include <QSocketNotifier>

#include <cstring>
#include <libudev.h>

UdevDeviceMonitor* UdevDeviceMonitor::create(QObject* parent)
{
    struct udev* context = udev_new();
    if (!context)
        return nullptr;
    struct udev_monitor* monitor = udev_monitor_new_from_netlink(context, "udev");
    if (!monitor || udev_monitor_filter_add_match_subsystem_devtype(monitor, "hidraw", nullptr) < 0 ||
        udev_monitor_enable_receiving(monitor) < 0 || udev_monitor_get_fd(monitor) < 0) {
        if (monitor)
            udev_monitor_unref(monitor);
        udev_unref(context);
        return nullptr;
    }
    return new UdevDeviceMonitor(context, monitor, parent);
}

UdevDeviceMonitor::UdevDeviceMonitor(struct udev* context, struct udev_monitor* monitor, QObject* parent)
    : DeviceChangeMonitor(parent), m_pUdev(context), m_pMonitor(monitor),
      m_pNotifier(new QSocketNotifier(udev_monitor_get_fd(monitor), QSocketNotifier::Read, this))
{
    connect(m_pNotifier, &QSocketNotifier::activated, this, [this] { onActivated(); });
}

UdevDeviceMonitor::~UdevDeviceMonitor()
{
    m_pNotifier->setEnabled(false);
    udev_monitor_unref(m_pMonitor);
    udev_unref(m_pUdev);
}

void UdevDeviceMonitor::onActivated()
{
    // The monitor's socket is non-blocking: drain what is there, but never
    // more than a burst's worth at a time so a flood cannot starve the GUI.
    for (int i = 0; i < 64; ++i) {
        struct udev_device* device = udev_monitor_receive_device(m_pMonitor);
        if (!device)
            return;
        const char* action = udev_device_get_action(device);
        const char* devnode = udev_device_get_devnode(device);
        // Only nodes under /dev are paths hidapi would give us.
        if (action && devnode && std::strncmp(devnode, "/dev/", 5) == 0 && std::strlen(devnode) < 256) {
            DeviceChangeEvent event;
            event.path = QFile::decodeName(devnode);
            if (std::strcmp(action, "add") == 0) {
                event.kind = DeviceChangeEvent::Arrival;
                struct udev_device* hid =
                    udev_device_get_parent_with_subsystem_devtype(device, "hid", nullptr);
                const char* hidId = hid ? udev_device_get_property_value(hid, "HID_ID") : nullptr;
                if (!hidId || !parseHidId(QByteArray(hidId), &event.vendorId, &event.productId))
                    event.vendorId = event.productId = 0;
                emit deviceChanged(event);
            } else if (std::strcmp(action, "remove") == 0) {
                event.kind = DeviceChangeEvent::Removal;
                emit deviceChanged(event);
            }
        }
        udev_device_unref(device);
    }
}
