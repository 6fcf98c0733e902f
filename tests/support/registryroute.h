#pragma once

#include "device/hiddevicesmanager.h"

#include <QtTest>

// Hands the registry's identification results back to it, as the main
// window does, until no identification is left; false after the time-out.
inline bool finishIdentification(HIDDevicesManager& registry, int timeoutMs = 5000)
{
    const QMetaObject::Connection route =
        QObject::connect(&registry, &HIDDevicesManager::identificationFinished, &registry,
                         [&registry](const DeviceChangeEvent& event) { registry.handleDeviceChange(event); });
    const bool done = QTest::qWaitFor([&registry] { return registry.identifying() == 0; }, timeoutMs);
    QObject::disconnect(route);
    return done;
}
