// A sensor source that serves readings from a JSON fixture named by
// VARNOKS_SENSOR_FIXTURE:
//
//   {"init": 0, "sensors": [{"name": "...", "readings": [{"kind": 1, "slot": 0,
//     "label": "...", "unit": "C", "values": [40, 60], "valid": true, "query": true}]}]}
//
// "init" is what initialise returns. Each refresh of a sensor moves its
// readings on to the next of their "values" and then stays on the last one.
// "valid": false gives a record whose valid field is zero; "query": false
// makes the query fail. "id" gives the reading a stable identity
// ("chip:feature") for the user's choice of a reading; readings without one
// cannot be chosen. Slots that are not listed are absent. The fixture is
// read again, and the values start over, when the file changes.

#include "sensors/varnokssensorabi.h"

#include <QByteArray>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>

#include <sys/stat.h>

#include <array>
#include <cmath>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

namespace {

// Error codes of initialise when the fixture itself is the problem.
constexpr int32_t kNoFixture = 1001;
constexpr int32_t kUnreadableFixture = 1002;
constexpr int32_t kMalformedFixture = 1003;

// Bounds on what a fixture may ask for.
constexpr qint64 kMaxFixtureBytes = 16 * 1024 * 1024;
constexpr int kMaxSensors = 4096;
constexpr int kMaxValues = 1 << 20;

struct Reading
{
    QByteArray id;
    QByteArray label;
    QByteArray unit;
    std::vector<double> values;
    bool bValid = true;
    bool bQuery = true;
};

struct Sensor
{
    QByteArray name;
    std::vector<Reading> readings;
    // Index into readings per kind and slot, -1 when the slot is absent.
    std::array<int16_t, VARNOKS_READING_SLOTS> temperatureSlots;
    std::array<int16_t, VARNOKS_READING_SLOTS> fanSlots;
    int nRefreshes = 0;
};

struct FileStamp
{
    dev_t device = 0;
    ino_t inode = 0;
    off_t size = -1;
    struct timespec modified = {0, 0};

    bool operator==(const FileStamp& other) const
    {
        return device == other.device && inode == other.inode && size == other.size &&
               modified.tv_sec == other.modified.tv_sec && modified.tv_nsec == other.modified.tv_nsec;
    }
};

struct Fixture
{
    int32_t nInit = 0;
    std::vector<Sensor> sensors;
};

struct State
{
    std::mutex mutex;
    bool bInitialised = false;
    QString strPath;
    FileStamp stamp;
    Fixture fixture;
    std::string diagnostics;
};

State& GlobalState()
{
    static State state;
    return state;
}

bool StampOf(const QString& strPath, FileStamp& stamp)
{
    struct stat info;
    if (::stat(QFile::encodeName(strPath).constData(), &info) != 0) {
        return false;
    }
    stamp.device = info.st_dev;
    stamp.inode = info.st_ino;
    stamp.size = info.st_size;
    stamp.modified = info.st_mtim;
    return true;
}

// Latin-1 bytes of a text; characters outside Latin-1 become '?'.
QByteArray Latin1(const QString& strText, int nMaxBytes)
{
    return strText.toLatin1().left(nMaxBytes);
}

bool ReadBool(const QJsonObject& object, const char* pszKey, bool bDefault, bool& bOut)
{
    const QJsonValue value = object.value(QLatin1String(pszKey));
    if (value.isUndefined()) {
        bOut = bDefault;
        return true;
    }
    if (!value.isBool()) {
        return false;
    }
    bOut = value.toBool();
    return true;
}

bool ReadInt(const QJsonValue& value, int nMin, int nMax, int& nOut)
{
    if (!value.isDouble()) {
        return false;
    }
    const double dValue = value.toDouble();
    if (dValue != std::floor(dValue) || dValue < nMin || dValue > nMax) {
        return false;
    }
    nOut = static_cast<int>(dValue);
    return true;
}

bool ReadText(const QJsonObject& object, const char* pszKey, int nMaxBytes, QByteArray& out)
{
    const QJsonValue value = object.value(QLatin1String(pszKey));
    if (value.isUndefined()) {
        out.clear();
        return true;
    }
    if (!value.isString()) {
        return false;
    }
    out = Latin1(value.toString(), nMaxBytes);
    return true;
}

bool ParseReading(const QJsonObject& object, Sensor& sensor, QString& strError)
{
    int nKind = 0;
    int nSlot = 0;
    if (!ReadInt(object.value(QLatin1String("kind")), 0, 255, nKind)) {
        strError = QStringLiteral("\"kind\" must be a whole number");
        return false;
    }
    if (!ReadInt(object.value(QLatin1String("slot")), 0, VARNOKS_READING_SLOTS - 1, nSlot)) {
        strError =
            QStringLiteral("\"slot\" must be a whole number from 0 to %1").arg(VARNOKS_READING_SLOTS - 1);
        return false;
    }
    Reading reading;
    if (!ReadText(object, "label", VARNOKS_READING_LABEL_SIZE - 1, reading.label) ||
        !ReadText(object, "unit", VARNOKS_READING_UNIT_SIZE - 1, reading.unit) ||
        !ReadText(object, "id", VARNOKS_SENSOR_NAME_SIZE - 1, reading.id)) {
        strError = QStringLiteral("\"label\", \"unit\" and \"id\" must be texts");
        return false;
    }
    if (!ReadBool(object, "valid", true, reading.bValid) ||
        !ReadBool(object, "query", true, reading.bQuery)) {
        strError = QStringLiteral("\"valid\" and \"query\" must be true or false");
        return false;
    }
    const QJsonValue values = object.value(QLatin1String("values"));
    if (!values.isUndefined()) {
        if (!values.isArray() || values.toArray().size() > kMaxValues) {
            strError = QStringLiteral("\"values\" must be a list of numbers");
            return false;
        }
        for (const QJsonValue& value : values.toArray()) {
            if (!value.isDouble()) {
                strError = QStringLiteral("\"values\" must be a list of numbers");
                return false;
            }
            reading.values.push_back(value.toDouble());
        }
    }
    // Only the two kinds the reader queries have slots; others are accepted
    // and never answered.
    std::array<int16_t, VARNOKS_READING_SLOTS>* pSlots = nullptr;
    if (nKind == VARNOKS_READING_TEMPERATURE) {
        pSlots = &sensor.temperatureSlots;
    } else if (nKind == VARNOKS_READING_FAN) {
        pSlots = &sensor.fanSlots;
    } else {
        return true;
    }
    const int16_t nExisting = (*pSlots)[nSlot];
    if (nExisting >= 0) {
        sensor.readings[nExisting] = std::move(reading); // a later entry for a slot replaces the earlier
    } else {
        (*pSlots)[nSlot] = static_cast<int16_t>(sensor.readings.size());
        sensor.readings.push_back(std::move(reading));
    }
    return true;
}

bool ParseFixture(const QByteArray& content, Fixture& fixture, QString& strError)
{
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(content, &parseError);
    if (parseError.error != QJsonParseError::NoError) {
        strError =
            QStringLiteral("not JSON (%1 at byte %2)").arg(parseError.errorString()).arg(parseError.offset);
        return false;
    }
    if (!document.isObject()) {
        strError = QStringLiteral("the top level must be an object");
        return false;
    }
    const QJsonObject root = document.object();
    fixture.nInit = 0;
    const QJsonValue init = root.value(QLatin1String("init"));
    int nInit = 0;
    if (!init.isUndefined()) {
        if (!ReadInt(init, INT32_MIN, INT32_MAX, nInit)) {
            strError = QStringLiteral("\"init\" must be a whole number");
            return false;
        }
    }
    fixture.nInit = nInit;
    const QJsonValue sensors = root.value(QLatin1String("sensors"));
    if (sensors.isUndefined()) {
        return true;
    }
    if (!sensors.isArray() || sensors.toArray().size() > kMaxSensors) {
        strError = QStringLiteral("\"sensors\" must be a list of at most %1 sensors").arg(kMaxSensors);
        return false;
    }
    const QJsonArray sensorList = sensors.toArray();
    for (int i = 0; i < sensorList.size(); ++i) {
        if (!sensorList[i].isObject()) {
            strError = QStringLiteral("sensors[%1] must be an object").arg(i);
            return false;
        }
        const QJsonObject object = sensorList[i].toObject();
        Sensor sensor;
        sensor.temperatureSlots.fill(-1);
        sensor.fanSlots.fill(-1);
        if (!ReadText(object, "name", VARNOKS_SENSOR_NAME_SIZE - 1, sensor.name)) {
            strError = QStringLiteral("sensors[%1].name must be a text").arg(i);
            return false;
        }
        const QJsonValue readings = object.value(QLatin1String("readings"));
        if (!readings.isUndefined() && !readings.isArray()) {
            strError = QStringLiteral("sensors[%1].readings must be a list").arg(i);
            return false;
        }
        const QJsonArray readingList = readings.toArray();
        for (int j = 0; j < readingList.size(); ++j) {
            QString strReadingError;
            if (!readingList[j].isObject() ||
                !ParseReading(readingList[j].toObject(), sensor, strReadingError)) {
                strError = QStringLiteral("sensors[%1].readings[%2]: %3")
                               .arg(i)
                               .arg(j)
                               .arg(strReadingError.isEmpty() ? QStringLiteral("must be an object")
                                                              : strReadingError);
                return false;
            }
        }
        fixture.sensors.push_back(std::move(sensor));
    }
    return true;
}

// Reads and parses the fixture; 0 on success, else one of the error codes
// with the reason in strError.
int32_t LoadFixture(const QString& strPath, Fixture& fixture, FileStamp& stamp, QString& strError)
{
    if (strPath.isEmpty()) {
        strError = QStringLiteral("VARNOKS_SENSOR_FIXTURE is not set");
        return kNoFixture;
    }
    QFile file(strPath);
    FileStamp before;
    if (!StampOf(strPath, before) || !file.open(QIODevice::ReadOnly)) {
        strError = QStringLiteral("cannot read %1").arg(strPath);
        return kUnreadableFixture;
    }
    if (file.size() > kMaxFixtureBytes) {
        strError = QStringLiteral("%1 is larger than %2 bytes").arg(strPath).arg(kMaxFixtureBytes);
        return kUnreadableFixture;
    }
    const QByteArray content = file.read(kMaxFixtureBytes + 1);
    if (content.size() > kMaxFixtureBytes) {
        strError = QStringLiteral("%1 is larger than %2 bytes").arg(strPath).arg(kMaxFixtureBytes);
        return kUnreadableFixture;
    }
    Fixture parsed;
    QString strParseError;
    if (!ParseFixture(content, parsed, strParseError)) {
        strError = QStringLiteral("%1: %2").arg(strPath, strParseError);
        return kMalformedFixture;
    }
    fixture = std::move(parsed);
    stamp = before;
    return 0;
}

// Picks up a changed fixture. A change that does not parse keeps the old
// readings, so a half-written file does not blank the display.
void ReloadIfChanged(State& state)
{
    FileStamp now;
    if (!StampOf(state.strPath, now) || now == state.stamp) {
        return;
    }
    Fixture fixture;
    FileStamp stamp;
    QString strError;
    if (LoadFixture(state.strPath, fixture, stamp, strError) == 0) {
        state.fixture = std::move(fixture);
        state.stamp = stamp;
    }
}

void CopyText(char* pField, size_t nSize, const QByteArray& text)
{
    const size_t nLength = std::min(static_cast<size_t>(text.size()), nSize - 1);
    std::memcpy(pField, text.constData(), nLength);
    pField[nLength] = '\0';
}

// The fixture's reading of a kind, sensor and slot, or null; the caller
// holds the lock.
const Reading* FindReading(const State& state, int32_t nKind, int32_t nSensor, int32_t nSlot)
{
    if (!state.bInitialised || nSensor < 0 || static_cast<size_t>(nSensor) >= state.fixture.sensors.size() ||
        nSlot < 0 || nSlot >= VARNOKS_READING_SLOTS) {
        return nullptr;
    }
    const Sensor& sensor = state.fixture.sensors[nSensor];
    int nIndex = -1;
    if (nKind == VARNOKS_READING_TEMPERATURE) {
        nIndex = sensor.temperatureSlots[nSlot];
    } else if (nKind == VARNOKS_READING_FAN) {
        nIndex = sensor.fanSlots[nSlot];
    }
    return nIndex < 0 ? nullptr : &sensor.readings[nIndex];
}

} // namespace

extern "C" {

int32_t varnoks_sensor_initialise(int32_t /*nFlags*/)
{
    State& state = GlobalState();
    std::lock_guard<std::mutex> lock(state.mutex);
    state.bInitialised = false;
    state.fixture = Fixture();
    state.diagnostics.clear();
    state.strPath = qEnvironmentVariable("VARNOKS_SENSOR_FIXTURE");
    QString strError;
    const int32_t nResult = LoadFixture(state.strPath, state.fixture, state.stamp, strError);
    if (nResult != 0) {
        state.diagnostics = QStringLiteral("Sensor fixture: %1").arg(strError).toStdString();
        state.fixture = Fixture();
        return nResult;
    }
    if (state.fixture.nInit != 0) {
        const int32_t nInit = state.fixture.nInit;
        state.fixture = Fixture();
        return nInit;
    }
    state.bInitialised = true;
    return 0;
}

void varnoks_sensor_shutdown(void)
{
    State& state = GlobalState();
    std::lock_guard<std::mutex> lock(state.mutex);
    state.bInitialised = false;
    state.fixture = Fixture();
}

int32_t varnoks_sensor_count(void)
{
    State& state = GlobalState();
    std::lock_guard<std::mutex> lock(state.mutex);
    return state.bInitialised ? static_cast<int32_t>(state.fixture.sensors.size()) : 0;
}

int32_t varnoks_sensor_refresh(int32_t nSensor)
{
    State& state = GlobalState();
    std::lock_guard<std::mutex> lock(state.mutex);
    if (!state.bInitialised) {
        return 0;
    }
    ReloadIfChanged(state);
    if (nSensor < 0 || static_cast<size_t>(nSensor) >= state.fixture.sensors.size()) {
        return 0;
    }
    Sensor& sensor = state.fixture.sensors[nSensor];
    if (sensor.nRefreshes < INT32_MAX) {
        ++sensor.nRefreshes;
    }
    return 1;
}

int32_t varnoks_sensor_name(int32_t nSensor, char* pBuffer, int32_t nSize)
{
    if (!pBuffer || nSize <= 0) {
        return 0;
    }
    pBuffer[0] = '\0';
    State& state = GlobalState();
    std::lock_guard<std::mutex> lock(state.mutex);
    if (!state.bInitialised || nSensor < 0 || static_cast<size_t>(nSensor) >= state.fixture.sensors.size()) {
        return 0;
    }
    CopyText(pBuffer, static_cast<size_t>(nSize), state.fixture.sensors[nSensor].name);
    return 1;
}

int32_t varnoks_sensor_read(int32_t nKind, int32_t nSensor, int32_t nSlot, VarnoksSensorReading* pReading)
{
    if (!pReading) {
        return 0;
    }
    State& state = GlobalState();
    std::lock_guard<std::mutex> lock(state.mutex);
    const Reading* pFound = FindReading(state, nKind, nSensor, nSlot);
    if (!pFound || !pFound->bQuery) {
        return 0;
    }
    const Reading& reading = *pFound;
    const Sensor& sensor = state.fixture.sensors[nSensor];
    pReading->valid = reading.bValid ? 1 : 0;
    if (!reading.values.empty()) {
        // The first refresh shows the first value, each later one the next.
        const size_t nStep = sensor.nRefreshes > 0 ? static_cast<size_t>(sensor.nRefreshes - 1) : 0;
        pReading->value = reading.values[std::min(nStep, reading.values.size() - 1)];
    }
    CopyText(pReading->unit, sizeof(pReading->unit), reading.unit);
    CopyText(pReading->label, sizeof(pReading->label), reading.label);
    return 1;
}

int32_t varnoks_sensor_identity(int32_t nKind, int32_t nSensor, int32_t nSlot, char* pIdentity,
                                int32_t nIdentitySize, char* pLabel, int32_t nLabelSize)
{
    if (!pIdentity || nIdentitySize <= 0 || !pLabel || nLabelSize <= 0) {
        return 0;
    }
    pIdentity[0] = '\0';
    pLabel[0] = '\0';
    State& state = GlobalState();
    std::lock_guard<std::mutex> lock(state.mutex);
    const Reading* pReading = FindReading(state, nKind, nSensor, nSlot);
    if (!pReading || pReading->id.isEmpty()) {
        return 0;
    }
    CopyText(pIdentity, static_cast<size_t>(nIdentitySize), pReading->id);
    CopyText(pLabel, static_cast<size_t>(nLabelSize), pReading->label);
    return 1;
}

const char* varnoks_sensor_diagnostics(void)
{
    State& state = GlobalState();
    std::lock_guard<std::mutex> lock(state.mutex);
    return state.diagnostics.c_str();
}

} // extern "C"
