#pragma once

#include "sensors/sensorlibrary.h"

#include <QByteArray>
#include <QString>
#include <QVector>

// An in-process sensor source behind the six entry points, for tests. Only
// one exists per process; the entry points are plain functions over it.
struct FakeReading
{
    int nKind = VARNOKS_READING_TEMPERATURE;
    int nSlot = 0;
    QByteArray label; // Latin-1
    QByteArray unit;  // Latin-1
    double dValue = 0.0;
    bool bValid = true;
    bool bQuery = true;
    bool bAsleep = false; // invalid because its device sleeps
};

struct FakeSensor
{
    QByteArray name;
    QVector<FakeReading> readings;
};

class FakeSensorSource
{
public:
    static FakeSensorSource& Instance();

    // Replaces every sensor and clears the call counters.
    void Reset(const QVector<FakeSensor>& sensors, int nInitResult = 0);
    // Parses sensors written as
    //   "name|kind,slot,label,unit[,invalid|fail|asleep]|...||next sensor|..."
    // where a reading's value is 0 until set.
    static QVector<FakeSensor> Parse(const QString& strDescription);

    SensorEntryPoints EntryPoints() const;
    // Entry points with one operation missing (0..5, in the ABI's order).
    SensorEntryPoints EntryPointsWithout(int nMissing) const;

    FakeReading* Find(int nSensor, int nKind, int nSlot);
    void Set(int nSensor, int nKind, int nSlot, double dValue, bool bValid = true, bool bQuery = true);

    QVector<FakeSensor> sensors;
    int nInitResult = 0;
    int nInitArgument = 0;
    int nShutdownCalls = 0;
    int nCountOverride = -1; // >= 0 replaces the number of sensors reported
    QVector<int> refreshCalls;
    int nReadCalls = 0;
};
