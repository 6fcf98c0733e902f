#include "fakesensorsource.h"

#include <QStringList>

#include <cstring>

namespace {

int32_t FakeInitialise(int32_t nFlags)
{
    FakeSensorSource& source = FakeSensorSource::Instance();
    source.nInitArgument = nFlags;
    return source.nInitResult;
}

void FakeShutdown()
{
    ++FakeSensorSource::Instance().nShutdownCalls;
}

int32_t FakeCount()
{
    const FakeSensorSource& source = FakeSensorSource::Instance();
    return source.nCountOverride >= 0 ? source.nCountOverride : source.sensors.size();
}

int32_t FakeRefresh(int32_t nSensor)
{
    FakeSensorSource& source = FakeSensorSource::Instance();
    if (nSensor < 0 || nSensor >= source.refreshCalls.size()) {
        return 0;
    }
    ++source.refreshCalls[nSensor];
    return 1;
}

int32_t FakeName(int32_t nSensor, char* pBuffer, int32_t nSize)
{
    const FakeSensorSource& source = FakeSensorSource::Instance();
    if (nSensor < 0 || nSensor >= source.sensors.size() || nSize <= 0) {
        return 0;
    }
    const QByteArray& name = source.sensors[nSensor].name;
    const int nLength = qMin(name.size(), nSize - 1);
    std::memcpy(pBuffer, name.constData(), nLength);
    pBuffer[nLength] = '\0';
    return 1;
}

void CopyText(char* pField, size_t nSize, const QByteArray& text)
{
    const size_t nLength = qMin(static_cast<size_t>(text.size()), nSize - 1);
    std::memcpy(pField, text.constData(), nLength);
}

int32_t FakeRead(int32_t nKind, int32_t nSensor, int32_t nSlot, VarnoksSensorReading* pReading)
{
    FakeSensorSource& source = FakeSensorSource::Instance();
    ++source.nReadCalls;
    const FakeReading* pFound = source.Find(nSensor, nKind, nSlot);
    if (!pFound || !pFound->bQuery) {
        return 0;
    }
    pReading->valid = pFound->bValid && !pFound->bAsleep ? 1 : 0;
    pReading->state = pFound->bAsleep ? VARNOKS_READING_ASLEEP : 0;
    pReading->value = pFound->dValue;
    CopyText(pReading->unit, sizeof(pReading->unit), pFound->unit);
    CopyText(pReading->label, sizeof(pReading->label), pFound->label);
    return 1;
}

} // namespace

FakeSensorSource& FakeSensorSource::Instance()
{
    static FakeSensorSource source;
    return source;
}

void FakeSensorSource::Reset(const QVector<FakeSensor>& newSensors, int nNewInitResult)
{
    sensors = newSensors;
    nInitResult = nNewInitResult;
    nInitArgument = 0;
    nShutdownCalls = 0;
    nCountOverride = -1;
    refreshCalls = QVector<int>(sensors.size(), 0);
    nReadCalls = 0;
}

QVector<FakeSensor> FakeSensorSource::Parse(const QString& strDescription)
{
    QVector<FakeSensor> result;
    if (strDescription.isEmpty()) {
        return result;
    }
    for (const QString& strSensor : strDescription.split(QStringLiteral("||"))) {
        const QStringList parts = strSensor.split(QLatin1Char('|'));
        FakeSensor sensor;
        sensor.name = parts.first().toLatin1();
        for (int i = 1; i < parts.size(); ++i) {
            const QStringList fields = parts[i].split(QLatin1Char(','));
            if (fields.size() < 4) {
                qFatal("malformed fake reading: %s", qPrintable(parts[i]));
            }
            FakeReading reading;
            reading.nKind = fields[0].toInt();
            reading.nSlot = fields[1].toInt();
            reading.label = fields[2].toLatin1();
            reading.unit = fields[3].toLatin1();
            reading.bValid = !fields.contains(QStringLiteral("invalid"));
            reading.bQuery = !fields.contains(QStringLiteral("fail"));
            reading.bAsleep = fields.contains(QStringLiteral("asleep"));
            sensor.readings.append(reading);
        }
        result.append(sensor);
    }
    return result;
}

SensorEntryPoints FakeSensorSource::EntryPoints() const
{
    SensorEntryPoints api;
    api.initialise = &FakeInitialise;
    api.shutdown = &FakeShutdown;
    api.count = &FakeCount;
    api.refresh = &FakeRefresh;
    api.name = &FakeName;
    api.read = &FakeRead;
    return api;
}

SensorEntryPoints FakeSensorSource::EntryPointsWithout(int nMissing) const
{
    SensorEntryPoints api = EntryPoints();
    switch (nMissing) {
    case 0:
        api.initialise = nullptr;
        break;
    case 1:
        api.shutdown = nullptr;
        break;
    case 2:
        api.count = nullptr;
        break;
    case 3:
        api.refresh = nullptr;
        break;
    case 4:
        api.name = nullptr;
        break;
    default:
        api.read = nullptr;
        break;
    }
    return api;
}

FakeReading* FakeSensorSource::Find(int nSensor, int nKind, int nSlot)
{
    if (nSensor < 0 || nSensor >= sensors.size()) {
        return nullptr;
    }
    for (FakeReading& reading : sensors[nSensor].readings) {
        if (reading.nKind == nKind && reading.nSlot == nSlot) {
            return &reading;
        }
    }
    return nullptr;
}

void FakeSensorSource::Set(int nSensor, int nKind, int nSlot, double dValue, bool bValid, bool bQuery)
{
    FakeReading* pReading = Find(nSensor, nKind, nSlot);
    if (!pReading) {
        qFatal("fake source has no reading %d/%d/%d", nSensor, nKind, nSlot);
    }
    pReading->dValue = dValue;
    pReading->bValid = bValid;
    pReading->bQuery = bQuery;
}
