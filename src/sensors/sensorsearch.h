#pragma once

#include "sensors/sensorlibrary.h"

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

// The three readings the program shows.
struct SensorSearchResult
{
    SensorLocator cpuTemperature;
    SensorLocator gpuTemperature;
    SensorLocator cpuFan;
};

// One queried reading, texts decoded from Latin-1.
struct SensorReadingQuery
{
    bool bQueried = false; // the source answered the query
    bool bValid = false;   // ... and marked the record valid
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

// Sensors beyond this index are not searched.
constexpr int kMaxSearchedSensors = 4096;

// The one-time search over every sensor and every slot of both kinds. The
// source must be initialised. Each sensor is refreshed once, before its
// readings are queried.
SensorSearchResult SearchSensorReadings(const SensorEntryPoints& api);
