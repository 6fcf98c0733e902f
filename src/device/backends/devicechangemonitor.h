#pragma once

#include "device/devicechangeevent.h"

#include <QObject>

// Source of device arrival and removal events, one signal per event, on the
// thread that owns it (the GUI thread). Made by the backend in use
// (HidBackend::createMonitor): a udev monitor for hidapi, a directory watcher
// for the virtual devices. HIDDevicesManager::registerNotify sets it up.
class DeviceChangeMonitor : public QObject
{
    Q_OBJECT
public:
    using QObject::QObject;

signals:
    void deviceChanged(const DeviceChangeEvent& event);
};
