#include "device/sendhiddatathread.h"

#include "app/common.h"
#include "app/commontools.h"
#include "device/circulardisplaytimer.h"
#include "device/hidexchange.h"

#include <QDeadlineTimer>
#include <QMutexLocker>

SendPassResult sendReportsOnce(HidBackend& backend, const HidReport::ReportInputs& inputs,
                               const HIDDeviceMap& devices, const std::function<quint8()>& currentItem,
                               const std::function<bool()>& cancelled)
{
    SendPassResult result;
    for (auto it = devices.cbegin(); it != devices.cend(); ++it) {
        if (cancelled && cancelled())
            break;
        // Read afresh per device: the rotation may move during a pass.
        const quint8 item = currentItem ? currentItem() : 0;
        const DataExchangeOutcome outcome =
            exchangeDataReport(backend, it.value(), HidReport::encodeDataReport(item, inputs));
        writeLogLine(outcome.log, outcome.permissionDenied, it.value().strDevicePath);
        result.nOpened += outcome.opened ? 1 : 0;
        result.nAcknowledged += outcome.acknowledged ? 1 : 0;
    }
    return result;
}

SendHIDDataThread::SendHIDDataThread(std::shared_ptr<HidBackend> backend, QObject* parent)
    : SendHIDDataThread(std::move(backend), std::function<quint8()>(), parent)
{
}

SendHIDDataThread::SendHIDDataThread(std::shared_ptr<HidBackend> backend, std::function<quint8()> currentItem,
                                     QObject* parent)
    : QThread(parent), m_pBackend(std::move(backend)), m_currentItem(std::move(currentItem)),
      m_workers(MAX_WORKERS)
{
    if (!m_currentItem) {
        // Resolved here, on the GUI thread, so the rotation (and its timer)
        // is never created by the sender's thread.
        CircularDisplayTimer* rotation = CircularDisplayTimer::GetInstance();
        m_currentItem = [rotation] { return rotation->currentDisplayItem(); };
    }
    m_inputs.temperatureUnit = CommonTools::GetSettingInt(COMMON::KEY_TEMPERATURE_UNIT);
    m_inputs.cpuTemperatureAlarm = CommonTools::GetSettingInt(COMMON::KEY_CPU_TEMP_ALARM);
    m_inputs.gpuTemperatureAlarm = CommonTools::GetSettingInt(COMMON::KEY_GPU_TEMP_ALARM);
    m_inputs.usageRateAlarm = CommonTools::GetSettingInt(COMMON::KEY_USAGE_RATE_ALARM);
    m_inputs.fanRpmAlarm = CommonTools::GetSettingInt(COMMON::KEY_FAN_RPM_ALARM);
}

SendHIDDataThread::~SendHIDDataThread()
{
    {
        QMutexLocker locker(&m_mutex);
        m_bPaused = false;
        // Requested under the lock, before the wake-up, so a loop about to
        // wait cannot miss it.
        requestInterruption();
        m_waitCondition.wakeAll();
    }
    // The loop itself never waits on a device, so this ends at once.
    wait();
    m_workers.shutdown();
}

void SendHIDDataThread::setDevices(const HIDDeviceMap& mapDevices)
{
    QMutexLocker locker(&m_mutex);
    m_mapDevices = mapDevices;
}

void SendHIDDataThread::pauseSending()
{
    QMutexLocker locker(&m_mutex);
    m_bPaused = true;
}

void SendHIDDataThread::resumeSending()
{
    QMutexLocker locker(&m_mutex);
    m_bPaused = false;
    m_waitCondition.wakeAll();
}

void SendHIDDataThread::onSetHardwareData(COMMON::HardwareInfo hardwareInfo)
{
    QMutexLocker locker(&m_mutex);
    m_inputs.cpuTemperature = COMMON::readingToInt(hardwareInfo.strCPUTemperature);
    m_inputs.cpuUsage = COMMON::readingToInt(hardwareInfo.strCPUUsageRate);
    m_inputs.gpuTemperature = COMMON::readingToInt(hardwareInfo.strGPUTemperature);
    m_inputs.gpuUsage = COMMON::readingToInt(hardwareInfo.strGPUUsageRate);
    m_inputs.fanRpm = COMMON::fanReadingToInt(hardwareInfo.strFanRpm);
    // 64-bit sum: readings are clamped ints and must not overflow here.
    if (!m_bDataReceived && qint64(m_inputs.cpuTemperature) + m_inputs.gpuTemperature + m_inputs.fanRpm > 0)
        m_bDataReceived = true;
}

void SendHIDDataThread::onSettingValueChanged(QString strSettingName, QString strSettingValue)
{
    // Junk or an out-of-range value reads as the key's default, as at start.
    const int value = CommonTools::SettingValueToInt(strSettingName, strSettingValue);
    QMutexLocker locker(&m_mutex);
    if (strSettingName == COMMON::KEY_TEMPERATURE_UNIT)
        m_inputs.temperatureUnit = value;
    else if (strSettingName == COMMON::KEY_CPU_TEMP_ALARM)
        m_inputs.cpuTemperatureAlarm = value;
    else if (strSettingName == COMMON::KEY_GPU_TEMP_ALARM)
        m_inputs.gpuTemperatureAlarm = value;
    else if (strSettingName == COMMON::KEY_USAGE_RATE_ALARM)
        m_inputs.usageRateAlarm = value;
    else if (strSettingName == COMMON::KEY_FAN_RPM_ALARM)
        m_inputs.fanRpmAlarm = value;
}

void SendHIDDataThread::run()
{
    while (!isInterruptionRequested()) {
        {
            QMutexLocker locker(&m_mutex);
            while (m_bPaused && !isInterruptionRequested())
                m_waitCondition.wait(&m_mutex);
        }
        // Woken for shutdown: no last pass over the devices.
        if (isInterruptionRequested())
            break;

        sendDataToHIDDevice();

        // The 500 ms sleep, cut short only by shutdown (a resume that wakes
        // the condition meanwhile does not shorten it).
        QDeadlineTimer deadline(PASS_PERIOD_MS);
        QMutexLocker locker(&m_mutex);
        while (!isInterruptionRequested() && !deadline.hasExpired())
            m_waitCondition.wait(&m_mutex, deadline);
    }
}

void SendHIDDataThread::sendDataToHIDDevice()
{
    HidReport::ReportInputs inputs;
    HIDDeviceMap devices;
    bool dataReceived = false;
    {
        QMutexLocker locker(&m_mutex);
        dataReceived = m_bDataReceived;
        inputs = m_inputs;
        devices = m_mapDevices;
    }
    if (!dataReceived || devices.isEmpty() || !m_pBackend)
        return;

    QSet<QString> lagging;
    {
        QMutexLocker locker(&m_laggards->mutex);
        // Forget devices that are gone, so the set stays as small as the map.
        for (auto it = m_laggards->paths.begin(); it != m_laggards->paths.end();)
            it = devices.contains(hidDeviceKey(*it)) ? std::next(it) : m_laggards->paths.erase(it);
        lagging = m_laggards->paths;
    }
    for (auto it = devices.cbegin(); it != devices.cend(); ++it) {
        if (isInterruptionRequested())
            break;
        const HIDDeviceInfo info = it.value();
        // Still busy with its last report, or being identified: this period
        // goes without, rather than two exchanges on one path. Such a device
        // takes no worker while it waits.
        auto claim = std::make_shared<HidPathClaim>(m_pBackend, info.strDevicePath);
        if (!claim->isHeld())
            continue;
        // Read afresh per device: the rotation may move during a pass.
        const QByteArray report = HidReport::encodeDataReport(m_currentItem(), inputs);
        std::shared_ptr<HidBackend> backend = m_pBackend;
        std::shared_ptr<Laggards> laggards = m_laggards;
        m_workers.submit(
            [backend, info, report, claim, laggards](const HidJobContext& context) {
                const DataExchangeOutcome outcome =
                    exchangeDataReport(*backend, info, report, [&context] { return context.cancelled(); });
                {
                    QMutexLocker locker(&laggards->mutex);
                    if (outcome.timedOut)
                        laggards->paths.insert(info.strDevicePath);
                    else
                        laggards->paths.remove(info.strDevicePath);
                }
                claim->release();
                if (!outcome.cancelled)
                    context.whileOwned(
                        [&] { writeLogLine(outcome.log, outcome.permissionDenied, info.strDevicePath); });
            },
            lagging.contains(info.strDevicePath));
    }
}
