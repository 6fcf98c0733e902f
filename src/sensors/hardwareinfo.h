#pragma once

#include "app/common.h"

#include <QString>

namespace COMMON {

// One snapshot of the readings, as texts. "--" means no reading in this
// snapshot; the empty text means the value is not measured at all.
struct HardwareInfo
{
    QString strCPUTemperature = EMPTY_VALUE_TEXT; // degrees Celsius
    QString strCPUUsageRate;                      // percent
    QString strGPUTemperature = EMPTY_VALUE_TEXT; // degrees Celsius
    QString strGPUUsageRate;                      // percent
    QString strFanRpm = EMPTY_VALUE_TEXT;         // revolutions per minute
};

// What a reading can be at all. A value outside these bounds, or one of the
// placeholders firmware reports instead of a reading, is no reading: it
// shows "--" and raises no alarm, as a failed read does.
constexpr double MIN_PLAUSIBLE_CELSIUS = -40.0;
constexpr double MAX_PLAUSIBLE_CELSIUS = 150.0;
// 65535 is the "no reading" value of 16-bit fan counters; no fan of a PC
// turns faster than 30,000 RPM.
constexpr double MAX_PLAUSIBLE_FAN_RPM = 30000.0;
// Whole degrees Celsius that firmware reports for a sensor that is not
// there: -127 and -128 (0x81/0x80, below the bounds anyway), 127 and 128
// (0x7f, and 0x80 read unsigned) from board controllers with an open
// thermistor input, and 111 from embedded controllers that fill an absent
// reading with it. Only exact values count.
constexpr double FIRMWARE_PLACEHOLDER_CELSIUS[] = {-128.0, -127.0, 111.0, 127.0, 128.0};

// True when a temperature in degrees Celsius can be a reading.
bool isPlausibleCelsius(double dCelsius);
// True when a fan speed in RPM can be a reading.
bool isPlausibleFanRpm(double dRpm);

// A reading text ("45.7", "--", "") as a whole number, truncated toward
// zero; anything that is not a finite number gives 0.
int readingToInt(const QString& text);
// The fan reading: "--" (no reading) gives -1, otherwise as readingToInt.
int fanReadingToInt(const QString& text);

} // namespace COMMON
