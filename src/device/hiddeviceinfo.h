#pragma once

#include <QMap>
#include <QString>

// One recognised device interface, as texts.
struct HIDDeviceInfo
{
    QString strUUID;            // 12 bytes, each in upper-case hex without leading zero
    QString strVID;             // upper-case hex without padding, "2E3C"
    QString strPID;             // upper-case hex without padding, "A12"
    QString strDevicePath;      // the interface path
    QString strSoftwareVersion; // "major.minor"
    QString strHardwareVersion; // "major.minor"
};

// Recognised devices by key (the interface path), iterated in ascending key
// order; handed on as a copy.
using HIDDeviceMap = QMap<QString, HIDDeviceInfo>;
