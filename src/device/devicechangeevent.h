#pragma once

#include "device/hiddeviceinfo.h"

#include <QMetaType>
#include <QString>
#include <QtGlobal>

// One event of the device route, with the path in the form the backend
// enumerates it (on Linux the hidraw devnode, /dev/hidraw3): an interface
// arrived or went (from the platform's monitor), or the identification
// exchange with an arrived interface ended (from the registry's workers).
struct DeviceChangeEvent
{
    enum Kind
    {
        Arrival,
        Removal,
        Identified,
    };
    Kind kind = Arrival;
    QString path;
    quint16 vendorId = 0; // arrival only
    quint16 productId = 0;
    QString serial; // arrival only, when the monitor knows it

    // Identified only: whether the interface answered as a display does,
    // what it told, and which exchange this is the end of.
    bool recognised = false;
    HIDDeviceInfo info;
    quint64 exchange = 0;
    // Not recognised, but only for want of an answer (the interface could
    // not be opened, the write or the read failed, no reply in time): the
    // same interface may well answer when asked again.
    bool answerMissing = false;
};
Q_DECLARE_METATYPE(DeviceChangeEvent)
