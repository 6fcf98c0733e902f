#include "sensors/sensorsearch.h"

#include <cstring>

namespace {

struct KeywordWeight
{
    const char* pszKeyword; // lower case
    int nWeight;
};

// Keywords of a CPU temperature label and their weights, heaviest first: a
// label scores the weight of the first keyword it contains, which is the
// highest weight among all the keywords it contains.
constexpr KeywordWeight kCpuTemperatureKeywords[] = {
    {"tctl", 11},  {"package", 10}, {"die", 8},  {"tdie", 4},
    {"verage", 3}, {"cores", 2},    {"core", 1}, {"cpu", 0},
};

// A Latin-1 text folded to lower case. The keywords are ASCII, and no
// Latin-1 letter outside ASCII folds to an ASCII one, so folding only A-Z
// compares exactly as a case-insensitive Unicode comparison would.
class FoldedText
{
public:
    FoldedText(const char* pText, size_t nMax)
    {
        const size_t nLength = strnlen(pText, qMin(nMax, sizeof(m_text) - 1));
        for (size_t i = 0; i < nLength; ++i) {
            const char c = pText[i];
            m_text[i] = (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
        }
        m_text[nLength] = '\0';
    }
    explicit FoldedText(const QString& strText) : FoldedText(Latin1(strText).constData(), sizeof(m_text) - 1)
    {
    }

    bool Contains(const char* pszLowerNeedle) const { return std::strstr(m_text, pszLowerNeedle) != nullptr; }

private:
    static QByteArray Latin1(const QString& strText)
    {
        // Characters outside Latin-1 become '?', which no keyword contains.
        return strText.toLatin1();
    }

    // Large enough for the longest field searched (the unit).
    char m_text[VARNOKS_READING_UNIT_SIZE + 1];
};

int ScoreFolded(const FoldedText& label, const FoldedText& sensorName)
{
    if (!label.Contains("cpu")) {
        return -1;
    }
    int nScore = 0; // "cpu" itself weighs 0
    for (const KeywordWeight& keyword : kCpuTemperatureKeywords) {
        if (label.Contains(keyword.pszKeyword)) {
            nScore = keyword.nWeight;
            break;
        }
    }
    if (sensorName.Contains("cpu")) {
        if (sensorName.Contains("dts")) {
            nScore += 300;
        } else if (sensorName.Contains("enhanced")) {
            nScore += 200;
        } else {
            nScore += 100;
        }
    }
    return nScore;
}

bool IsGpuTemperatureFolded(const FoldedText& label)
{
    return !label.Contains("cpu") && label.Contains("gpu temperature");
}

bool IsCpuFanFolded(const FoldedText& label, const FoldedText& unit)
{
    return label.Contains("cpu") && unit.Contains("rpm");
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
    query.bAsleep = !query.bValid && record.state == VARNOKS_READING_ASLEEP;
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
    return ScoreFolded(FoldedText(strLabel), FoldedText(strSensorName));
}

bool IsGpuTemperatureLabel(const QString& strLabel)
{
    return IsGpuTemperatureFolded(FoldedText(strLabel));
}

bool IsCpuFanReading(const QString& strLabel, const QString& strUnit)
{
    return IsCpuFanFolded(FoldedText(strLabel), FoldedText(strUnit));
}

const char* const kSensorMissHint = "run varnoks-sensors to see every reading, or load the sensor drivers "
                                    "with sensors-detect from lm-sensors";

QString SensorMissText(SensorMissReason reason)
{
    switch (reason) {
    case SensorMissReason::NoChip:
        return QStringLiteral("no chip");
    case SensorMissReason::NoCandidate:
        return QStringLiteral("no candidate");
    case SensorMissReason::OnlyInvalid:
        return QStringLiteral("only invalid readings");
    case SensorMissReason::None:
        break;
    }
    return QString();
}

namespace {

SensorMissReason Miss(const SensorSearchResult& result, const SensorLocator& locator, bool bInvalidSeen)
{
    if (locator.IsFound()) {
        return SensorMissReason::None;
    }
    if (result.nSensors <= 0) {
        return SensorMissReason::NoChip;
    }
    return bInvalidSeen ? SensorMissReason::OnlyInvalid : SensorMissReason::NoCandidate;
}

// Valid, or asleep: the search takes both.
bool Counts(const VarnoksSensorReading& record)
{
    return record.valid != 0 || record.state == VARNOKS_READING_ASLEEP;
}

} // namespace

SensorMissReason SensorSearchResult::CpuTemperatureMiss() const
{
    return Miss(*this, cpuTemperature, bInvalidCpuTemperature);
}

SensorMissReason SensorSearchResult::GpuTemperatureMiss() const
{
    return Miss(*this, gpuTemperature, bInvalidGpuTemperature);
}

SensorMissReason SensorSearchResult::CpuFanMiss() const
{
    return Miss(*this, cpuFan, bInvalidCpuFan);
}

SensorSearchResult SearchSensorReadings(const SensorEntryPoints& api)
{
    SensorSearchResult result;
    // A source that claims more sensors than any machine has is cut short,
    // so that the search always ends.
    const int nCount = qMin(api.count(), kMaxSearchedSensors);
    result.nSensors = qMax(nCount, 0);
    VarnoksSensorReading record;
    for (int nSensor = 0; nSensor < nCount; ++nSensor) {
        api.refresh(nSensor);
        char name[VARNOKS_SENSOR_NAME_SIZE];
        std::memset(name, 0, sizeof(name));
        api.name(nSensor, name, VARNOKS_SENSOR_NAME_SIZE);
        const FoldedText sensorName(name, sizeof(name));
        for (int nSlot = 0; nSlot < VARNOKS_READING_SLOTS; ++nSlot) {
            std::memset(&record, 0, sizeof(record));
            if (api.read(VARNOKS_READING_TEMPERATURE, nSensor, nSlot, &record) != 0) {
                const FoldedText label(record.label, sizeof(record.label));
                const int nScore = ScoreFolded(label, sensorName);
                if (!Counts(record)) {
                    // Not taken; noted only to tell why nothing was found.
                    result.bInvalidCpuTemperature = result.bInvalidCpuTemperature || nScore >= 0;
                    result.bInvalidGpuTemperature =
                        result.bInvalidGpuTemperature || (nScore < 0 && IsGpuTemperatureFolded(label));
                } else if (nScore >= 0) {
                    // Strictly greater: among equal scores the first found stays.
                    if (nScore > result.cpuTemperature.nScore) {
                        result.cpuTemperature = {nSensor, nSlot, nScore};
                    }
                } else if (IsGpuTemperatureFolded(label)) {
                    result.gpuTemperature = {nSensor, nSlot, -1}; // the last match wins
                }
            }
            std::memset(&record, 0, sizeof(record));
            if (api.read(VARNOKS_READING_FAN, nSensor, nSlot, &record) != 0) {
                const FoldedText label(record.label, sizeof(record.label));
                // The unit is folded only for a label that names the CPU.
                if (label.Contains("cpu") &&
                    IsCpuFanFolded(label, FoldedText(record.unit, sizeof(record.unit)))) {
                    if (Counts(record)) {
                        result.cpuFan = {nSensor, nSlot, -1}; // the last match wins
                    } else {
                        result.bInvalidCpuFan = true;
                    }
                }
            }
        }
    }
    return result;
}

QString SensorReadingIdentity::Chip() const
{
    const int nColon = strIdentity.lastIndexOf(QLatin1Char(':'));
    return nColon > 0 ? strIdentity.left(nColon) : QString();
}

SensorReadingIdentity QueryReadingIdentity(const SensorEntryPoints& api, int nKind, int nSensor, int nSlot)
{
    SensorReadingIdentity identity;
    if (!api.identity) {
        return identity;
    }
    char text[VARNOKS_SENSOR_NAME_SIZE];
    char label[VARNOKS_READING_LABEL_SIZE];
    std::memset(text, 0, sizeof(text));
    std::memset(label, 0, sizeof(label));
    if (api.identity(nKind, nSensor, nSlot, text, sizeof(text), label, sizeof(label)) == 0) {
        return identity;
    }
    identity.strIdentity = DecodeField(text, sizeof(text));
    identity.strLabel = DecodeField(label, sizeof(label));
    return identity;
}

QList<SensorCandidate> ListSensorCandidates(const SensorEntryPoints& api, int nKind)
{
    QList<SensorCandidate> candidates;
    if (!api.identity) {
        return candidates;
    }
    const int nCount = qMin(api.count(), kMaxSearchedSensors);
    for (int nSensor = 0; nSensor < nCount; ++nSensor) {
        api.refresh(nSensor);
        for (int nSlot = 0; nSlot < VARNOKS_READING_SLOTS; ++nSlot) {
            SensorCandidate candidate;
            candidate.query = QuerySensorReading(api, nKind, nSensor, nSlot);
            if (!candidate.query.bQueried) {
                continue;
            }
            candidate.identity = QueryReadingIdentity(api, nKind, nSensor, nSlot);
            if (candidate.identity.strIdentity.isEmpty()) {
                continue;
            }
            candidate.locator = {nSensor, nSlot, -1};
            candidates.push_back(candidate);
        }
    }
    return candidates;
}

SensorLocator FindReadingByIdentity(const SensorEntryPoints& api, int nKind, const QString& strIdentity)
{
    if (!api.identity || strIdentity.isEmpty()) {
        return {};
    }
    const int nCount = qMin(api.count(), kMaxSearchedSensors);
    for (int nSensor = 0; nSensor < nCount; ++nSensor) {
        for (int nSlot = 0; nSlot < VARNOKS_READING_SLOTS; ++nSlot) {
            if (QueryReadingIdentity(api, nKind, nSensor, nSlot).strIdentity == strIdentity) {
                return {nSensor, nSlot, -1};
            }
        }
    }
    return {};
}
