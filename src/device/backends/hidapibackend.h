#pragma once

#include "device/backends/hidbackend.h"

#include <hidapi/hidapi.h>

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

// One entry of hid_enumerate as a device entry; false for one without a
// path. An empty serial-number string counts as none.
bool hidEntryFromInfo(const hid_device_info& info, HidEnumEntry* entry);
// The whole list, each path once: hidapi lists an interface once per usage.
QVector<HidEnumEntry> hidEntriesFromList(const hid_device_info* list);
// hid_error's text for the run log: empty when nothing is recorded
// (hidapi then says "Success").
QString hidErrorText(const wchar_t* text);
