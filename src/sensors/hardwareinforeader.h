#pragma once

#include "sensors/hardwareinfo.h"
#include "sensors/sensorsearch.h"

#include <QMutex>
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
        const char* pszName; // "CPU temperature", as the run log names it
    };

    // The three readings, in the order of their settings keys.
    enum Reading
    {
        CpuTemperature,
        GpuTemperature,
        CpuFan,
        ReadingCount,
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

    // The user's choice for one reading: SENSOR_CHOICE_AUTO or a reading's
    // identity. From the GUI thread (any thread before the search has
    // ended); takes effect at once when the reader is ready, otherwise right
    // after the search. A chosen reading the source does
    // not have falls back to the automatic one, and the run log says so
    // once; the choice is kept and applies again after the next search.
    void SetSensorChoice(Reading reading, const QString& strChoice);
    // True when the reading shown is the one the user chose. GUI thread.
    bool IsChosenByUser(Reading reading) const;
    // Every reading of that kind the user may choose, read now. GUI thread;
    // empty while the reader is not ready or when the source cannot name
    // its readings.
    QList<SensorCandidate> Candidates(int nKind) const;
    // The reading a settings key chooses, or ReadingCount for other keys.
    static Reading ReadingOfSettingKey(const QString& strKey);

signals:
    void signalsGetHardwareInfo(COMMON::HardwareInfo hardwareInfo);

public slots:
    void onReadHardwareInfo();
    // A changed setting, as the settings dialog announces it; only the
    // sensor choices concern the reader.
    void onSettingValueChanged(QString strSettingName, QString strSettingValue);

private:
    enum class ReadOutcome
    {
        Failed,
        Invalid,
        Asleep,      // invalid because its device sleeps
        Implausible, // a value no sensor can read: a placeholder, out of bounds
        Present,
    };
    // What the log last said about a reading; GUI thread only.
    struct LogState
    {
        bool bAsleep = false;
        bool bImplausible = false;
    };
    // Reads a located reading; a temperature comes in degrees Celsius.
    ReadOutcome ReadLocated(int nKind, const SensorLocator& locator, double& dValue) const;
    // Logs a failed or invalid reading, every cycle; a sleeping device's
    // reading only when it falls asleep and when it is back, an impossible
    // value only when it appears and when it is gone.
    static void LogOutcome(ReadOutcome outcome, double dValue, LogState& state, const ReadingTexts& texts);
    // Puts the user's choices over the search's; call with m_choiceMutex held.
    void ApplySensorChoicesLocked();
    void LogMissingReadings(const SensorSearchResult& result) const;
    void ShutDownLibrary();

    SourceOpener m_opener;
    std::atomic<bool> m_bReady{false};
    QTimer* m_pReadTimer = nullptr;
    COMMON::HardwareInfo m_lastInfo;
    // The readings shown; written by the initialising thread before m_bReady
    // is published, by the GUI thread after that.
    SensorLocator m_cpuTemperature;
    SensorLocator m_gpuTemperature;
    SensorLocator m_cpuFan;
    // What the search chose, the same way.
    SensorLocator m_automatic[ReadingCount];
    bool m_bChosen[ReadingCount] = {false, false, false};
    // Written by the initialising thread before m_bReady is published.
    SensorEntryPoints m_api;

    // The user's choices, and the one each last logged as absent.
    mutable QMutex m_choiceMutex;
    QString m_choices[ReadingCount];
    QString m_absentLogged[ReadingCount];

    // What the log last said about each reading; GUI thread only.
    LogState m_logStates[ReadingCount];

    // CPU temperature last shown, in single precision; GUI thread only.
    float m_fShownCpuTemperature = 0.0f;
    bool m_bHasShownCpuTemperature = false;
};
