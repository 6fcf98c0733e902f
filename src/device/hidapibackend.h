#pragma once

#include "device/hidbackend.h"

// Real devices through hidapi (hidraw). hidapi 0.13 keeps process-wide state
// in hid_init, hid_enumerate, hid_open_path and hid_close, so those calls are
// serialised across every thread by one lock; reads and writes on an open
// device touch only that device and run without it.
class HidapiBackend : public HidBackend
{
public:
    HidapiBackend();

    QVector<HidEnumEntry> enumerate() override;
    std::unique_ptr<HidDeviceHandle> open(const QString& path, HidOpenError* error) override;
    DeviceChangeMonitor* createMonitor(QObject* parent) override;
    QString name() const override { return QStringLiteral("hidapi"); }
};
