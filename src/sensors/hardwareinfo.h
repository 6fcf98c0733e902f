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

// A reading text ("45.7", "--", "") as a whole number, truncated toward
// zero; anything that is not a finite number gives 0.
int readingToInt(const QString& text);
// The fan reading: "--" (no reading) gives -1, otherwise as readingToInt.
int fanReadingToInt(const QString& text);

} // namespace COMMON
