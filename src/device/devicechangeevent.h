#pragma once

#include <QMetaType>
#include <QString>
#include <QtGlobal>

// One arrival or removal of a HID interface, with the path in the form the
// backend enumerates it (on Linux the hidraw devnode, /dev/hidraw3).
struct DeviceChangeEvent
{
    enum Kind
    {
        Arrival,
        Removal,
    };
    Kind kind = Arrival;
    QString path;
    quint16 vendorId = 0; // arrival only
    quint16 productId = 0;
};
Q_DECLARE_METATYPE(DeviceChangeEvent)

// A Windows device-interface name split into what the registry needs, e.g.
// \\?\HID#VID_2E3C&PID_0A12&MI_00#7&1a2b&0&0000#{4d1e55b2-...}.
struct ArrivalName
{
    bool valid = false; // false when the name lacks the "#" or "&" parts
    quint16 vendorId = 0;
    quint16 productId = 0;
    QString path; // the whole name in upper case
};

// Upper-cases the name, takes the second "#"-part, splits it at "&" into a
// vendor and a product token and parses the hex text after each token's first
// "_" (the whole token when there is none). Text that is not hex gives 0.
ArrivalName parseArrivalName(const QString& interfaceName);

// The HID_ID property of a udev "hid" device, "0003:00002E3C:00000A12":
// bus, vendor and product in hex. False when malformed.
bool parseHidId(const QByteArray& hidId, quint16* vendorId, quint16* productId);
