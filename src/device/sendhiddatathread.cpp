#include "device/sendhiddatathread.h"

#include "app/common.h"
#include "app/commontools.h"
#include "app/rslogger.h"
#include "device/circulardisplaytimer.h"

#include <QDeadlineTimer>
#include <QMutexLocker>

using HidReport::settingToInt;

namespace {
const char* const SEND_SOURCE = "SendHIDDataThread::sendDataToHIDDevice";

void logSendError(const QString& message)
{
    RSLogger::GetInstance()->WriteLog(LOG_ERROR, message, SEND_SOURCE);
}
} // namespace

SendPassResult sendReportsOnce(HidBackend& backend, const HidReport::ReportInputs& inputs,
                               const HIDDeviceMap& devices, const std::function<quint8()>& currentItem,
                               const std::function<bool()>& cancelled)
{
    SendPassResult result;
    for (auto it = devices.cbegin(); it != devices.cend(); ++it) {
        if (cancelled && cancelled())
            break;
        const HIDDeviceInfo& info = it.value();
        HidOpenError openError = HidOpenError::None;
        std::unique_ptr<HidDeviceHandle> device = backend.open(info.strDevicePath, &openError);
        if (!device) {
            logSendError(QStringLiteral("=== Open HID device fail, path: %1 ===").arg(info.strDevicePath));
            if (openError == HidOpenError::PermissionDenied)
                warnPermissionDeniedOnce(info.strDevicePath, SEND_SOURCE);
            continue;
        }
        ++result.nOpened;

        // Read afresh per device: the rotation may move during a pass.
        const quint8 item = currentItem ? currentItem() : 0;
        if (device->write(HidReport::encodeDataReport(item, inputs)) < 0)
            continue; // closed by the handle; tried again next pass

        QByteArray answer;
        const int n = device->read(&answer, HidReport::ANSWER_SIZE, HidReport::READ_TIMEOUT_MS);
        if (n <= 0) {
            const QString reason =
                n < 0 ? device->errorText()
                      : QStringLiteral("no answer within %1 ms").arg(HidReport::READ_TIMEOUT_MS);
            logSendError(QStringLiteral(">>> Send data to HID device fail. [%1]! <<<\n VID: %2, PID: %3, "
                                        "Device Path: %4!")
                             .arg(reason, info.strVID, info.strPID, info.strDevicePath));
        } else if (!HidReport::answerAccepted(answer)) {
            // An answer too short to carry the ack byte is a refusal too.
            logSendError(
                QStringLiteral(">>> Send data to HID device fail! reply error.<<<\n VID: %1, PID: %2, "
                               "Device Path: %3!")
                    .arg(info.strVID, info.strPID, info.strDevicePath));
        } else {
            ++result.nAcknowledged;
        }
    }
    return result;
}

SendHIDDataThread::SendHIDDataThread(QObject* parent)
    : SendHIDDataThread(createHidBackend(), std::function<quint8()>(), parent)
{
}

SendHIDDataThread::SendHIDDataThread(std::shared_ptr<HidBackend> backend, std::function<quint8()> currentItem,
                                     QObject* parent)
    : QThread(parent), m_pBackend(std::move(backend)), m_currentItem(std::move(currentItem))
{
    if (!m_currentItem) {
        // Resolved here, on the GUI thread, so the rotation (and its timer)
        // is never created by the worker thread.
        CircularDisplayTimer* rotation = CircularDisplayTimer::GetInstance();
        m_currentItem = [rotation] { return rotation->currentDisplayItem(); };
    }
    const auto read = [](const QString& key, int def) {
        return settingToInt(CommonTools::GetSettingValue(key, def).toString());
    };
    m_nTemperatureUnit = read(COMMON::KEY_TEMPERATURE_UNIT, 0);
    m_nCPUTemperatureAlarm = read(COMMON::KEY_CPU_TEMP_ALARM, 90);
    m_nGPUTemperatureAlarm = read(COMMON::KEY_GPU_TEMP_ALARM, 90);
    m_nUsageRateAlarm = read(COMMON::KEY_USAGE_RATE_ALARM, 95);
    m_nFanRpmAlarm = read(COMMON::KEY_FAN_RPM_ALARM, 300);
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
    wait();
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
    m_nCPUTemperature = HidReport::readingToInt(hardwareInfo.strCPUTemperature);
    m_nCPUUsage = HidReport::readingToInt(hardwareInfo.strCPUUsageRate);
    m_nGPUTemperature = HidReport::readingToInt(hardwareInfo.strGPUTemperature);
    m_nGPUUsage = HidReport::readingToInt(hardwareInfo.strGPUUsageRate);
    m_nFanRpm = HidReport::fanReadingToInt(hardwareInfo.strFanRpm);
    // 64-bit sum: readings are clamped ints and must not overflow here.
    if (!m_bDataReceived && qint64(m_nCPUTemperature) + m_nGPUTemperature + m_nFanRpm > 0)
        m_bDataReceived = true;
}

void SendHIDDataThread::onSettingValueChanged(QString strSettingName, QString strSettingValue)
{
    QMutexLocker locker(&m_mutex);
    const int value = settingToInt(strSettingValue);
    if (strSettingName == COMMON::KEY_TEMPERATURE_UNIT)
        m_nTemperatureUnit = value;
    else if (strSettingName == COMMON::KEY_CPU_TEMP_ALARM)
        m_nCPUTemperatureAlarm = value;
    else if (strSettingName == COMMON::KEY_GPU_TEMP_ALARM)
        m_nGPUTemperatureAlarm = value;
    else if (strSettingName == COMMON::KEY_USAGE_RATE_ALARM)
        m_nUsageRateAlarm = value;
    else if (strSettingName == COMMON::KEY_FAN_RPM_ALARM)
        m_nFanRpmAlarm = value;
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
        inputs.temperatureUnit = m_nTemperatureUnit;
        inputs.cpuTemperatureAlarm = m_nCPUTemperatureAlarm;
        inputs.gpuTemperatureAlarm = m_nGPUTemperatureAlarm;
        inputs.usageRateAlarm = m_nUsageRateAlarm;
        inputs.fanRpmAlarm = m_nFanRpmAlarm;
        inputs.cpuTemperature = m_nCPUTemperature;
        inputs.cpuUsage = m_nCPUUsage;
        inputs.gpuTemperature = m_nGPUTemperature;
        inputs.gpuUsage = m_nGPUUsage;
        inputs.fanRpm = m_nFanRpm;
        devices = m_mapDevices;
    }
    if (!dataReceived || devices.isEmpty() || !m_pBackend)
        return;
    sendReportsOnce(*m_pBackend, inputs, devices, m_currentItem,
                    [this] { return isInterruptionRequested(); });
}
