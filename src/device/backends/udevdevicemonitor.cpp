#include "device/backends/udevdevicemonitor.h"

#include "device/backends/udevdevicechange.h"

#include <QByteArray>
#include <QSocketNotifier>

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
        const auto text = [](const char* value) { return value ? QByteArray(value) : QByteArray(); };
        UdevHidrawFields fields;
        fields.action = text(udev_device_get_action(device));
        fields.devName = text(udev_device_get_devnode(device));
        fields.devPath = text(udev_device_get_devpath(device));
        fields.subsystem = text(udev_device_get_subsystem(device));
        // The parent may be gone already on removal; only arrivals need it.
        if (struct udev_device* hid = udev_device_get_parent_with_subsystem_devtype(device, "hid", nullptr)) {
            fields.hidId = text(udev_device_get_property_value(hid, "HID_ID"));
            fields.hidUniq = text(udev_device_get_property_value(hid, "HID_UNIQ"));
        }
        DeviceChangeEvent event;
        if (deviceChangeFromUdev(fields, &event))
            emit deviceChanged(event);
        udev_device_unref(device);
    }
}
