#include "sensors/hardwareinforeader.h"

#include "app/common.h"
#include "app/commontools.h"
#include "app/rslogger.h"

#include <QMutex>
#include <QMutexLocker>
#include <QThreadPool>
#include <QTimer>

#include <cmath>
#include <memory>

namespace {

const char* const kInitSource = "HardwareInfoReader::InitHWi32Dll";
const char* const kReadSource = "HardwareInfoReader::ReadHWInfoByHWi32Dll";

// Initialise argument the reader always passes.
constexpr int32_t kInitialiseFlags = 64;

// Largest step of the shown CPU temperature per read cycle, in degrees.
constexpr float kCpuTemperatureStep = 8.8f;

QMutex g_creationMutex;
std::atomic<HardwareInfoReader*> g_pInstance{nullptr};

// Owns the single reader and deletes it when the process ends.
std::unique_ptr<HardwareInfoReader>& InstanceOwner()
{
    static std::unique_ptr<HardwareInfoReader> owner;
    return owner;
}

QString FormatValue(double dValue)
{
    return QString::number(dValue, 'g', 6);
}

void Log(const QString& strMessage, const char* pszSource, int nLevel = LOG_ERROR)
{
    RSLogger::GetInstance()->WriteLog(nLevel, strMessage, pszSource);
}

const HardwareInfoReader::ReadingTexts kCpuTemperatureTexts = {
    "Get cpu temp from hwi32 error!", "Get cpu temp from hwi32 invalid!",
    "Get cpu temp from hwi32 valid again, its device woke up.", "CPU temperature"};
const HardwareInfoReader::ReadingTexts kCpuFanTexts = {
    "Get cpu fan speed from hwi32 error!", "Get cpu fan speed from hwi32 invalid!",
    "Get cpu fan speed from hwi32 valid again, its device woke up.", "CPU fan"};
const HardwareInfoReader::ReadingTexts kGpuTemperatureTexts = {
    "Get gpu temp from hwi32 error!", "Get gpu temp from hwi32 invalid!",
    "Get gpu temp from hwi32 valid again, its device woke up.", "GPU temperature"};

const HardwareInfoReader::ReadingTexts* const kTexts[HardwareInfoReader::ReadingCount] = {
    &kCpuTemperatureTexts, &kGpuTemperatureTexts, &kCpuFanTexts};
const int kKinds[HardwareInfoReader::ReadingCount] = {VARNOKS_READING_TEMPERATURE,
                                                      VARNOKS_READING_TEMPERATURE, VARNOKS_READING_FAN};

} // namespace

HardwareInfoReader* HardwareInfoReader::GetInstance()
{
    HardwareInfoReader* pReader = g_pInstance.load(std::memory_order_acquire);
    if (pReader) {
        return pReader;
    }
    QMutexLocker locker(&g_creationMutex);
    pReader = g_pInstance.load(std::memory_order_acquire);
    if (!pReader) {
        // The file is chosen here, on the GUI thread: the application's
        // folder is not safe to ask for from the pool thread.
        const QString strLibrary = SensorLibraryLoader::LibraryToLoad();
        pReader = new HardwareInfoReader(
            [strLibrary](QString* pError) { return SensorLibraryLoader::Load(strLibrary, pError); });
        // The stored choices apply from the first search on.
        for (int nReading = 0; nReading < ReadingCount; ++nReading) {
            pReader->SetSensorChoice(Reading(nReading),
                                     CommonTools::GetSensorChoice(COMMON::SENSOR_CHOICE_KEYS[nReading]));
        }
        // Nobody waits for this task; the ready flag tells when it is done.
        QThreadPool::globalInstance()->start([pReader]() { pReader->InitHWi32Dll(); });
        InstanceOwner().reset(pReader);
        g_pInstance.store(pReader, std::memory_order_release);
    }
    return pReader;
}

void HardwareInfoReader::ReleaseHWi32Dll()
{
    HardwareInfoReader* pReader = g_pInstance.load(std::memory_order_acquire);
    if (pReader) {
        pReader->ShutDownLibrary();
    }
}

HardwareInfoReader::HardwareInfoReader(SourceOpener opener, QObject* parent)
    : QObject(parent), m_opener(std::move(opener))
{
    for (QString& strChoice : m_choices) {
        strChoice = COMMON::SENSOR_CHOICE_AUTO;
    }
    m_pReadTimer = new QTimer(this);
    connect(m_pReadTimer, SIGNAL(timeout()), this, SLOT(onReadHardwareInfo()));
}

HardwareInfoReader::~HardwareInfoReader()
{
    if (m_pReadTimer->isActive()) {
        m_pReadTimer->stop();
    }
    HardwareInfoReader* pSelf = this;
    g_pInstance.compare_exchange_strong(pSelf, nullptr);
}

void HardwareInfoReader::ShutDownLibrary()
{
    // Clearing the flag first keeps later read cycles away from a library
    // that has been shut down, and makes a second release do nothing.
    if (m_bReady.exchange(false, std::memory_order_acq_rel)) {
        m_api.shutdown();
    }
}

void HardwareInfoReader::StartReading(int nInterval)
{
    onReadHardwareInfo();
    if (!m_pReadTimer->isActive()) {
        m_pReadTimer->start(nInterval);
    }
}

void HardwareInfoReader::onReadHardwareInfo()
{
    COMMON::HardwareInfo info;
    if (!ReadHWInfoByHWi32Dll(info)) {
        return;
    }
    m_lastInfo.strCPUTemperature = info.strCPUTemperature;
    m_lastInfo.strCPUUsageRate = info.strCPUUsageRate;
    m_lastInfo.strGPUTemperature = info.strGPUTemperature;
    m_lastInfo.strGPUUsageRate = info.strGPUUsageRate;
    m_lastInfo.strFanRpm = info.strFanRpm;
    emit signalsGetHardwareInfo(m_lastInfo);
}

void HardwareInfoReader::InitHWi32Dll()
{
    QString strError;
    const SensorEntryPoints api = m_opener ? m_opener(&strError) : SensorEntryPoints();
    if (!api.IsComplete()) {
        if (!strError.isEmpty()) {
            Log(QStringLiteral("Sensor library: %1").arg(strError), kInitSource, LOG_WARNING);
        }
        Log(QStringLiteral("HWi32: CANNOT LOAD DLL!"), kInitSource);
        return;
    }
    m_api = api;
    const int32_t nResult = m_api.initialise(kInitialiseFlags);
    if (m_api.diagnostics) {
        // Whatever the source wants the user to know, e.g. a configuration
        // it could not use.
        const char* pszMessages = m_api.diagnostics();
        const QString strMessages = pszMessages ? QString::fromLatin1(pszMessages) : QString();
        for (const QString& strLine : strMessages.split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
            Log(strLine.left(1024), kInitSource, LOG_WARNING);
        }
    }
    if (nResult != 0) {
        Log(QStringLiteral("HWi32: INIT FAILED %1!").arg(nResult), kInitSource);
        return;
    }
    FindSensorReadings();
    // Under the lock, so that a choice made meanwhile is not lost.
    QMutexLocker locker(&m_choiceMutex);
    ApplySensorChoicesLocked();
    m_bReady.store(true, std::memory_order_release);
}

void HardwareInfoReader::FindSensorReadings()
{
    const SensorSearchResult result = SearchSensorReadings(m_api);
    m_automatic[CpuTemperature] = m_cpuTemperature = result.cpuTemperature;
    m_automatic[GpuTemperature] = m_gpuTemperature = result.gpuTemperature;
    m_automatic[CpuFan] = m_cpuFan = result.cpuFan;
    LogMissingReadings(result);
}

HardwareInfoReader::Reading HardwareInfoReader::ReadingOfSettingKey(const QString& strKey)
{
    for (int nReading = 0; nReading < ReadingCount; ++nReading) {
        if (strKey == COMMON::SENSOR_CHOICE_KEYS[nReading]) {
            return Reading(nReading);
        }
    }
    return ReadingCount;
}

void HardwareInfoReader::onSettingValueChanged(QString strSettingName, QString strSettingValue)
{
    const Reading reading = ReadingOfSettingKey(strSettingName);
    if (reading != ReadingCount) {
        SetSensorChoice(reading, CommonTools::SensorChoiceFromText(strSettingValue));
    }
}

void HardwareInfoReader::SetSensorChoice(Reading reading, const QString& strChoice)
{
    if (reading < 0 || reading >= ReadingCount) {
        return;
    }
    QMutexLocker locker(&m_choiceMutex);
    const QString strValid = CommonTools::SensorChoiceFromText(strChoice);
    if (m_choices[reading] == strValid) {
        return;
    }
    m_choices[reading] = strValid;
    if (IsReady()) {
        ApplySensorChoicesLocked();
    }
}

void HardwareInfoReader::ApplySensorChoicesLocked()
{
    SensorLocator* const shown[ReadingCount] = {&m_cpuTemperature, &m_gpuTemperature, &m_cpuFan};
    for (int nReading = 0; nReading < ReadingCount; ++nReading) {
        const QString& strChoice = m_choices[nReading];
        SensorLocator locator = m_automatic[nReading];
        bool bChosen = false;
        if (strChoice != COMMON::SENSOR_CHOICE_AUTO) {
            const SensorLocator found = FindReadingByIdentity(m_api, kKinds[nReading], strChoice);
            if (found.IsFound()) {
                locator = found;
                bChosen = true;
                m_absentLogged[nReading].clear();
            } else if (m_absentLogged[nReading] != strChoice) {
                // Another machine, or a driver not loaded: the choice stays
                // stored and applies again once the reading is back.
                m_absentLogged[nReading] = strChoice;
                Log(QStringLiteral("The chosen %1 sensor %2 is not present; showing the automatic choice.")
                        .arg(QLatin1String(kTexts[nReading]->pszName), strChoice),
                    kInitSource, LOG_WARNING);
            }
        }
        if (shown[nReading]->nSensor != locator.nSensor || shown[nReading]->nSlot != locator.nSlot) {
            *shown[nReading] = locator;
            m_logStates[nReading] = LogState();
            if (nReading == CpuTemperature) {
                // Another sensor's first value is shown as read.
                m_bHasShownCpuTemperature = false;
            }
        }
        m_bChosen[nReading] = bChosen;
    }
}

bool HardwareInfoReader::IsChosenByUser(Reading reading) const
{
    return IsReady() && reading >= 0 && reading < ReadingCount && m_bChosen[reading];
}

QList<SensorCandidate> HardwareInfoReader::Candidates(int nKind) const
{
    if (!IsReady()) {
        return QList<SensorCandidate>();
    }
    return ListSensorCandidates(m_api, nKind);
}

void HardwareInfoReader::LogMissingReadings(const SensorSearchResult& result) const
{
    // Without these lines a user sees "--" and has no idea why.
    const struct
    {
        const char* pszName;
        SensorMissReason reason;
    } readings[] = {{"CPU temperature", result.CpuTemperatureMiss()},
                    {"GPU temperature", result.GpuTemperatureMiss()},
                    {"CPU fan", result.CpuFanMiss()}};
    for (const auto& reading : readings) {
        if (reading.reason != SensorMissReason::None) {
            Log(QStringLiteral("No %1 sensor found (%2): %3.")
                    .arg(QLatin1String(reading.pszName), SensorMissText(reading.reason),
                         QLatin1String(kSensorMissHint)),
                kInitSource, LOG_INFO);
        }
    }
}

SensorSearchResult HardwareInfoReader::Locators() const
{
    SensorSearchResult result;
    if (IsReady()) {
        result.cpuTemperature = m_cpuTemperature;
        result.gpuTemperature = m_gpuTemperature;
        result.cpuFan = m_cpuFan;
    }
    return result;
}

HardwareInfoReader::ReadOutcome HardwareInfoReader::ReadLocated(int nKind, const SensorLocator& locator,
                                                                double& dValue) const
{
    const SensorReadingQuery query = QuerySensorReading(m_api, nKind, locator.nSensor, locator.nSlot);
    if (!query.bQueried) {
        return ReadOutcome::Failed;
    }
    if (query.bAsleep) {
        return ReadOutcome::Asleep;
    }
    // A value that is no number cannot be shown; it counts as invalid.
    if (!query.bValid || !std::isfinite(query.dValue)) {
        return ReadOutcome::Invalid;
    }
    if (nKind == VARNOKS_READING_TEMPERATURE) {
        dValue = ConvertReadingUnit(query.strUnit, query.dValue);
        return COMMON::isPlausibleCelsius(dValue) ? ReadOutcome::Present : ReadOutcome::Implausible;
    }
    dValue = query.dValue;
    return COMMON::isPlausibleFanRpm(dValue) ? ReadOutcome::Present : ReadOutcome::Implausible;
}

void HardwareInfoReader::LogOutcome(ReadOutcome outcome, double dValue, LogState& state,
                                    const ReadingTexts& texts)
{
    switch (outcome) {
    case ReadOutcome::Failed:
        Log(QLatin1String(texts.pszError), kReadSource);
        break;
    case ReadOutcome::Invalid:
        Log(QLatin1String(texts.pszInvalid), kReadSource);
        break;
    case ReadOutcome::Asleep:
        // A hybrid laptop's graphics card sleeps for hours: one line when it
        // falls asleep, not one every cycle.
        if (!state.bAsleep) {
            Log(QLatin1String(texts.pszInvalid), kReadSource);
        }
        break;
    case ReadOutcome::Implausible:
        // Firmware that reports a placeholder does so for good: one line.
        if (!state.bImplausible) {
            Log(QStringLiteral("%1 reads %2, which no sensor can measure; it is shown as %3 until it "
                               "reads a possible value.")
                    .arg(QLatin1String(texts.pszName), FormatValue(dValue), COMMON::EMPTY_VALUE_TEXT),
                kReadSource, LOG_WARNING);
        }
        break;
    case ReadOutcome::Present:
        if (state.bAsleep) {
            Log(QLatin1String(texts.pszAwake), kReadSource, LOG_INFO);
        }
        if (state.bImplausible) {
            Log(QStringLiteral("%1 reads possible values again.").arg(QLatin1String(texts.pszName)),
                kReadSource, LOG_INFO);
        }
        break;
    }
    state.bAsleep = outcome == ReadOutcome::Asleep;
    // A failed read in between does not end an impossible value's run.
    if (outcome == ReadOutcome::Implausible || outcome == ReadOutcome::Present) {
        state.bImplausible = outcome == ReadOutcome::Implausible;
    }
}

bool HardwareInfoReader::ReadHWInfoByHWi32Dll(COMMON::HardwareInfo& out)
{
    if (!IsReady()) {
        return false;
    }
    double dValue = 0.0;

    if (m_cpuTemperature.IsFound()) {
        m_api.refresh(m_cpuTemperature.nSensor);
        const ReadOutcome outcome = ReadLocated(VARNOKS_READING_TEMPERATURE, m_cpuTemperature, dValue);
        LogOutcome(outcome, dValue, m_logStates[CpuTemperature], kCpuTemperatureTexts);
        if (outcome == ReadOutcome::Present) {
            const double dCelsius = dValue;
            if (!m_bHasShownCpuTemperature) {
                // The first reading is shown as read.
                m_fShownCpuTemperature = static_cast<float>(dCelsius);
                m_bHasShownCpuTemperature = true;
            }
            // Move by at most one step per cycle toward the reading; a step of
            // exactly the limit (compared in double) is taken whole.
            const float fPrevious = m_fShownCpuTemperature;
            const double dDistance = std::fabs(dCelsius - static_cast<double>(fPrevious));
            float fShown;
            if (dDistance <= static_cast<double>(kCpuTemperatureStep)) {
                fShown = static_cast<float>(dCelsius);
            } else if (dCelsius > static_cast<double>(fPrevious)) {
                fShown = fPrevious + kCpuTemperatureStep;
            } else {
                fShown = fPrevious - kCpuTemperatureStep;
            }
            m_fShownCpuTemperature = fShown;
            out.strCPUTemperature = FormatValue(static_cast<double>(fShown));
        }
    }

    if (m_cpuFan.IsFound()) {
        if (m_cpuFan.nSensor != m_cpuTemperature.nSensor) {
            m_api.refresh(m_cpuFan.nSensor);
        }
        const ReadOutcome outcome = ReadLocated(VARNOKS_READING_FAN, m_cpuFan, dValue);
        LogOutcome(outcome, dValue, m_logStates[CpuFan], kCpuFanTexts);
        if (outcome == ReadOutcome::Present) {
            out.strFanRpm = FormatValue(dValue);
        }
    }

    if (m_gpuTemperature.IsFound()) {
        if (m_gpuTemperature.nSensor != m_cpuTemperature.nSensor &&
            m_gpuTemperature.nSensor != m_cpuFan.nSensor) {
            m_api.refresh(m_gpuTemperature.nSensor);
        }
        const ReadOutcome outcome = ReadLocated(VARNOKS_READING_TEMPERATURE, m_gpuTemperature, dValue);
        LogOutcome(outcome, dValue, m_logStates[GpuTemperature], kGpuTemperatureTexts);
        if (outcome == ReadOutcome::Present) {
            out.strGPUTemperature = FormatValue(dValue);
        }
    }
    return true;
}

double HardwareInfoReader::ConvertReadingUnit(const QString& strUnit, double dValue)
{
    // Only Fahrenheit readings are converted; every Celsius text, with or
    // without the degree sign, passes unchanged.
    const bool bFahrenheit = strUnit.compare(QLatin1String("F"), Qt::CaseInsensitive) == 0 ||
                             strUnit.compare(QString::fromUtf8("\u00b0F"), Qt::CaseInsensitive) == 0;
    if (!bFahrenheit || !std::isfinite(dValue)) {
        return dValue;
    }
    // Truncate toward zero to a whole number of degrees, within int range.
    const double dClamped = qBound(-2147483648.0, std::trunc(dValue), 2147483647.0);
    return CommonTools::FahrenheitToCelsius(static_cast<int>(dClamped));
}
