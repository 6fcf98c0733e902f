#include "sensors/hardwareinfo.h"

#include <cmath>
#include <limits>

namespace COMMON {

bool isPlausibleCelsius(double dCelsius)
{
    if (!std::isfinite(dCelsius) || dCelsius < MIN_PLAUSIBLE_CELSIUS || dCelsius > MAX_PLAUSIBLE_CELSIUS)
        return false;
    for (const double dPlaceholder : FIRMWARE_PLACEHOLDER_CELSIUS) {
        if (dCelsius == dPlaceholder)
            return false;
    }
    return true;
}

bool isPlausibleFanRpm(double dRpm)
{
    return std::isfinite(dRpm) && dRpm >= 0.0 && dRpm <= MAX_PLAUSIBLE_FAN_RPM;
}

int readingToInt(const QString& text)
{
    bool ok = false;
    const double value = text.trimmed().toDouble(&ok);
    if (!ok || !std::isfinite(value))
        return 0;
    const double truncated = std::trunc(value);
    // Sensor texts are hostile like any input: clamp instead of overflowing.
    if (truncated >= double(std::numeric_limits<int>::max()))
        return std::numeric_limits<int>::max();
    if (truncated <= double(std::numeric_limits<int>::min()))
        return std::numeric_limits<int>::min();
    return int(truncated);
}

int fanReadingToInt(const QString& text)
{
    if (text == EMPTY_VALUE_TEXT)
        return -1;
    return readingToInt(text);
}

} // namespace COMMON
