#pragma once

#include <QString>
#include <QtGlobal>

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
