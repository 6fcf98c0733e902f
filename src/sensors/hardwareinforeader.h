#pragma once

#include "sensors/hardwareinfo.h"
#include "sensors/sensorsearch.h"

#include <QObject>

#include <atomic>
#include <functional>

class QTimer;

// The program's only source of sensor values. Once per process a pool thread
// loads and initialises the sensor library and searches it for the CPU
// temperature, the GPU temperature and the CPU fan; from then on a timer on
// the GUI thread reads those three and emits them as one snapshot.
class HardwareInfoReader : public QObject
{
    Q_OBJECT

public:
    // The run-log texts of one of the three readings.
    struct ReadingTexts
    {
        const char* pszError;
        const char* pszInvalid;
        const char* pszAwake;
    };

    // Opens the sensor source; an incomplete result means it could not load.
    using SourceOpener = std::function<SensorEntryPoints(QString* pError)>;

    // The single reader, created on first use; the first call must come from
    // the GUI thread, which owns the read timer.
    static HardwareInfoReader* GetInstance();
    // Shuts the library down if the single reader is ready. Called once after
    // the event loop has ended.
    static void ReleaseHWi32Dll();

    // A reader over the given source that does nothing until InitHWi32Dll is
    // called. GetInstance uses the library loader and runs InitHWi32Dll on the
    // global thread pool.
    explicit HardwareInfoReader(SourceOpener opener, QObject* parent = nullptr);
    ~HardwareInfoReader() override;

    // One read cycle now, then every nInterval ms unless the timer already runs.
    void StartReading(int nInterval);

    // Loads and initialises the library, searches it, then sets the ready flag.
    void InitHWi32Dll();
    void FindSensorReadings();
    // False without touching out while not ready; otherwise reads the three
    // located readings into out and returns true.
    bool ReadHWInfoByHWi32Dll(COMMON::HardwareInfo& out);
    // Degrees Celsius from a temperature reading with the given unit text.
    static double ConvertReadingUnit(const QString& strUnit, double dValue);

    bool IsReady() const { return m_bReady.load(std::memory_order_acquire); }
    SensorSearchResult Locators() const;

signals:
    void signalsGetHardwareInfo(COMMON::HardwareInfo hardwareInfo);

public slots:
    void onReadHardwareInfo();

private:
    enum class ReadOutcome
    {
        Failed,
        Invalid,
        Asleep, // invalid because its device sleeps
        Present,
    };
    ReadOutcome ReadLocated(int nKind, const SensorLocator& locator, double& dValue, QString& strUnit) const;
    // Logs a failed or invalid reading, every cycle; a sleeping device's
    // reading only when it falls asleep and when it is back.
    static void LogOutcome(ReadOutcome outcome, bool& bAsleep, const ReadingTexts& texts);
    void LogMissingReadings(const SensorSearchResult& result) const;
    void ShutDownLibrary();

    SourceOpener m_opener;
    std::atomic<bool> m_bReady{false};
    QTimer* m_pReadTimer = nullptr;
    COMMON::HardwareInfo m_lastInfo;
    SensorLocator m_cpuTemperature;
    SensorLocator m_gpuTemperature;
    SensorLocator m_cpuFan;
    // Written by the initialising thread before m_bReady is published.
    SensorEntryPoints m_api;

    // Whether each reading's device slept at the last cycle; GUI thread only.
    bool m_bCpuTemperatureAsleep = false;
    bool m_bCpuFanAsleep = false;
    bool m_bGpuTemperatureAsleep = false;

    // CPU temperature last shown, in single precision; GUI thread only.
    float m_fShownCpuTemperature = 0.0f;
    bool m_bHasShownCpuTemperature = false;
};
