#pragma once

#include "device/hidbackend.h"
#include "device/hiddeviceinfo.h"
#include "device/hidreport.h"
#include "sensors/hardwareinfo.h"

#include <QMutex>
#include <QThread>
#include <QWaitCondition>

#include <functional>
#include <memory>

// Counts of one pass over the devices.
struct SendPassResult
{
    int nOpened = 0;
    int nAcknowledged = 0;
};

// One pass: for each device in map order open it, write the data report for
// the item `currentItem` gives at that moment, wait at most
// HidReport::READ_TIMEOUT_MS for the answer, check its ack byte and close it.
// Failures go to the run log; a failing device never stops the pass. The pass
// ends early when `cancelled` returns true (checked before each device).
SendPassResult sendReportsOnce(HidBackend& backend, const HidReport::ReportInputs& inputs,
                               const HIDDeviceMap& devices, const std::function<quint8()>& currentItem,
                               const std::function<bool()>& cancelled = {});

// Sends the latest readings to every recognised device every 500 ms on its
// own thread. Fed from the GUI thread (readings, settings, device list) and
// paused while there is no device. Nothing is sent before the first reading
// whose CPU temperature + GPU temperature + fan speed is above 0.
class SendHIDDataThread : public QThread
{
    Q_OBJECT
public:
    // Backend from VARNOKS_HID_BACKEND, item from the program's rotation.
    explicit SendHIDDataThread(QObject* parent = nullptr);
    // `currentItem` is called on the worker thread, once per device.
    SendHIDDataThread(std::shared_ptr<HidBackend> backend, std::function<quint8()> currentItem,
                      QObject* parent = nullptr);
    // Stops and joins the thread; a silent device delays this by at most one
    // read time-out.
    ~SendHIDDataThread() override;

    void setDevices(const HIDDeviceMap& mapDevices);
    void pauseSending();
    void resumeSending();

public slots:
    void onSetHardwareData(COMMON::HardwareInfo hardwareInfo);
    void onSettingValueChanged(QString strSettingName, QString strSettingValue);

protected:
    void run() override;

private:
    void sendDataToHIDDevice();

    static constexpr int PASS_PERIOD_MS = 500;

    bool m_bPaused = false;
    bool m_bDataReceived = false;
    int m_nTemperatureUnit = 0;
    int m_nCPUTemperatureAlarm = 90;
    int m_nGPUTemperatureAlarm = 90;
    int m_nUsageRateAlarm = 95;
    int m_nFanRpmAlarm = 300;
    int m_nCPUTemperature = 0;
    int m_nCPUUsage = 0;
    int m_nGPUTemperature = 0;
    int m_nGPUUsage = 0;
    int m_nFanRpm = 0;
    HIDDeviceMap m_mapDevices;
    QMutex m_mutex;
    QWaitCondition m_waitCondition;

    // Set at construction, read-only afterwards.
    std::shared_ptr<HidBackend> m_pBackend;
    std::function<quint8()> m_currentItem;
};
