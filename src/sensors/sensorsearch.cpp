#include "sensors/sensorsearch.h"

#include <cstring>

namespace {

struct KeywordWeight
{
    const char* pszKeyword;
    int nWeight;
};

// Keywords of a CPU temperature label and their weights; a label scores the
// highest weight among the keywords it contains.
constexpr KeywordWeight kCpuTemperatureKeywords[] = {
    {"CPU", 0},  {"Core", 1}, {"Cores", 2},    {"verage", 3},
    {"Tdie", 4}, {"Die", 8},  {"Package", 10}, {"Tctl", 11},
};

bool ContainsNoCase(const QString& strText, const char* pszNeedle)
{
    return strText.contains(QLatin1String(pszNeedle), Qt::CaseInsensitive);
}

QString DecodeField(const char* pField, size_t nSize)
{
    return QString::fromLatin1(pField, static_cast<int>(strnlen(pField, nSize)));
}

} // namespace

SensorReadingQuery QuerySensorReading(const SensorEntryPoints& api, int nKind, int nSensor, int nSlot)
{
    SensorReadingQuery query;
    VarnoksSensorReading record;
    std::memset(&record, 0, sizeof(record));
    if (api.read(nKind, nSensor, nSlot, &record) == 0) {
        return query;
    }
    query.bQueried = true;
    query.bValid = record.valid != 0;
    query.dValue = record.value;
    query.strUnit = DecodeField(record.unit, sizeof(record.unit));
    query.strLabel = DecodeField(record.label, sizeof(record.label));
    return query;
}

QString QuerySensorName(const SensorEntryPoints& api, int nSensor)
{
    char buffer[VARNOKS_SENSOR_NAME_SIZE];
    std::memset(buffer, 0, sizeof(buffer));
    api.name(nSensor, buffer, VARNOKS_SENSOR_NAME_SIZE);
    return DecodeField(buffer, sizeof(buffer));
}

int CpuTemperatureScore(const QString& strLabel, const QString& strSensorName)
{
    if (!ContainsNoCase(strLabel, "CPU")) {
        return -1;
    }
    int nScore = -1;
    for (const KeywordWeight& keyword : kCpuTemperatureKeywords) {
        if (keyword.nWeight > nScore && ContainsNoCase(strLabel, keyword.pszKeyword)) {
            nScore = keyword.nWeight;
        }
    }
    if (ContainsNoCase(strSensorName, "CPU")) {
        if (ContainsNoCase(strSensorName, "DTS")) {
            nScore += 300;
        } else if (ContainsNoCase(strSensorName, "Enhanced")) {
            nScore += 200;
        } else {
            nScore += 100;
        }
    }
    return nScore;
}

bool IsGpuTemperatureLabel(const QString& strLabel)
{
    return !ContainsNoCase(strLabel, "CPU") && ContainsNoCase(strLabel, "GPU Temperature");
}

bool IsCpuFanReading(const QString& strLabel, const QString& strUnit)
{
    return ContainsNoCase(strLabel, "CPU") && ContainsNoCase(strUnit, "RPM");
}

SensorSearchResult SearchSensorReadings(const SensorEntryPoints& api)
{
    SensorSearchResult result;
    // A source that claims more sensors than any machine has is cut short,
    // so that the search always ends.
    const int nCount = qMin(api.count(), kMaxSearchedSensors);
    for (int nSensor = 0; nSensor < nCount; ++nSensor) {
        api.refresh(nSensor);
        const QString strName = QuerySensorName(api, nSensor);
        for (int nSlot = 0; nSlot < VARNOKS_READING_SLOTS; ++nSlot) {
            const SensorReadingQuery temperature =
                QuerySensorReading(api, VARNOKS_READING_TEMPERATURE, nSensor, nSlot);
            if (temperature.IsPresent()) {
                const int nScore = CpuTemperatureScore(temperature.strLabel, strName);
                if (nScore >= 0) {
                    // Strictly greater: among equal scores the first found stays.
                    if (nScore > result.cpuTemperature.nScore) {
                        result.cpuTemperature = {nSensor, nSlot, nScore};
                    }
                } else if (IsGpuTemperatureLabel(temperature.strLabel)) {
                    result.gpuTemperature = {nSensor, nSlot, -1}; // the last match wins
                }
            }
            const SensorReadingQuery fan = QuerySensorReading(api, VARNOKS_READING_FAN, nSensor, nSlot);
            if (fan.IsPresent() && IsCpuFanReading(fan.strLabel, fan.strUnit)) {
                result.cpuFan = {nSensor, nSlot, -1}; // the last match wins
            }
        }
    }
    return result;
}
