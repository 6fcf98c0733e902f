#include "sensors/hardwareinfo.h"

#include <cmath>
#include <limits>

namespace COMMON {

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
