#pragma once

#include "sensors/sensorlibrary.h"

#include <QList>
#include <QString>

// Where one reading sits in the sensor source. A negative sensor index means
// the reading was not found.
struct SensorLocator
{
    int nSensor = -1;
    int nSlot = -1;
    int nScore = -1; // ranks CPU temperature candidates; unused for the others

    bool IsFound() const { return nSensor >= 0; }
};

// Why a reading was not found.
enum class SensorMissReason
{
    None,        // it was found
    NoChip,      // the source offers no sensor at all
    NoCandidate, // no reading qualifies
    OnlyInvalid, // readings qualify by label but none had a value
};

// The three readings the program shows.
struct SensorSearchResult
{
    SensorLocator cpuTemperature;
    SensorLocator gpuTemperature;
    SensorLocator cpuFan;

    int nSensors = 0; // sensors searched
    // A reading qualified by label and unit but was not valid.
    bool bInvalidCpuTemperature = false;
    bool bInvalidGpuTemperature = false;
    bool bInvalidCpuFan = false;

    SensorMissReason CpuTemperatureMiss() const;
    SensorMissReason GpuTemperatureMiss() const;
    SensorMissReason CpuFanMiss() const;
};

// "no chip", "no candidate", "only invalid readings"; empty for None.
QString SensorMissText(SensorMissReason reason);

// Where to look when a reading is missing, as the run log says it.
extern const char* const kSensorMissHint;

// One queried reading, texts decoded from Latin-1.
struct SensorReadingQuery
{
    bool bQueried = false; // the source answered the query
    bool bValid = false;   // ... and marked the record valid
    bool bAsleep = false;  // ... or said its device sleeps
    double dValue = 0.0;
    QString strUnit;
    QString strLabel;

    bool IsPresent() const { return bQueried && bValid; }
};

// Clears a record, queries it and decodes it. Texts are cut at the end of
// their fields when the source left them unterminated.
SensorReadingQuery QuerySensorReading(const SensorEntryPoints& api, int nKind, int nSensor, int nSlot);

// The sensor's name, decoded from Latin-1; bounded by the 256-byte buffer.
QString QuerySensorName(const SensorEntryPoints& api, int nSensor);

// Score of a kind-1 reading as a CPU temperature: -1 when the label does not
// contain "CPU" (no candidate), else the highest keyword weight the label
// contains plus the bonus of the sensor's name. All tests ignore case.
int CpuTemperatureScore(const QString& strLabel, const QString& strSensorName);

// True when a kind-1 reading with this label is taken as the GPU temperature
// (and it is no CPU candidate).
bool IsGpuTemperatureLabel(const QString& strLabel);

// True when a kind-3 reading with this label and unit is taken as the CPU fan.
bool IsCpuFanReading(const QString& strLabel, const QString& strUnit);

// A reading's stable identity and its label as the machine names it, from
// the source's optional identity entry point; both empty when the source has
// none or does not know the reading.
struct SensorReadingIdentity
{
    QString strIdentity; // "chip:feature"
    QString strLabel;

    // The chip part of the identity, "" when there is none.
    QString Chip() const;
};
SensorReadingIdentity QueryReadingIdentity(const SensorEntryPoints& api, int nKind, int nSensor, int nSlot);

// One reading a user may choose: it has an identity.
struct SensorCandidate
{
    SensorLocator locator;
    SensorReadingIdentity identity;
    SensorReadingQuery query; // as the source answered after one refresh
};

// Every reading of one kind that has an identity, in the source's order. Each
// sensor is refreshed once first.
QList<SensorCandidate> ListSensorCandidates(const SensorEntryPoints& api, int nKind);

// Where the reading with this identity sits now; not found when the source
// has no such reading (or no identities at all).
SensorLocator FindReadingByIdentity(const SensorEntryPoints& api, int nKind, const QString& strIdentity);

// Sensors beyond this index are not searched.
constexpr int kMaxSearchedSensors = 4096;

// The one-time search over every sensor and every slot of both kinds. The
// source must be initialised. Each sensor is refreshed once, before its
// readings are queried. A reading counts when it is valid, or when the
// source says its device sleeps: such a reading is chosen by the same rules
// and shows once the device wakes.
SensorSearchResult SearchSensorReadings(const SensorEntryPoints& api);
