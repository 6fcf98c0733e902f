#pragma once

#include "device/devicechangeevent.h"

#include <QByteArray>

// The fields of one udev event of the hidraw subsystem that we look at, as
// udev hands them over (untrusted, not yet checked).
struct UdevHidrawFields
{
    QByteArray action;    // ACTION: "add", "remove", "change", "bind", ...
    QByteArray devName;   // DEVNAME: "/dev/hidraw3" (the kernel's own form is "hidraw3")
    QByteArray devPath;   // DEVPATH: "/devices/.../0003:2E3C:0A12.0004/hidraw/hidraw3"
    QByteArray subsystem; // SUBSYSTEM: "hidraw"
    QByteArray hidId;     // HID_ID of the parent hid device: "0003:00002E3C:00000A12"
    QByteArray hidUniq;   // HID_UNIQ of the parent: the serial number, often empty
};

// Turns a udev event into an arrival or removal with the path as hidapi
// enumerates it (/dev/hidrawN). False for anything else: other actions or
// subsystems, and malformed fields. An arrival takes its ids from HID_ID,
// or else from the hid device's name in DEVPATH; ids that cannot be read
// stay 0, which the registry turns away.
bool deviceChangeFromUdev(const UdevHidrawFields& fields, DeviceChangeEvent* event);

// HID_ID, "0003:00002E3C:00000A12": bus, vendor and product in hex. False
// when malformed.
bool parseHidId(const QByteArray& hidId, quint16* vendorId, quint16* productId);
