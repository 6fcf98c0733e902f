#pragma once

#include "device/backends/hidbackend.h"
#include "device/hiddeviceinfo.h"
#include "device/hidreport.h"
#include "device/hidworkerpool.h"
#include "sensors/hardwareinfo.h"

#include <QMutex>
#include <QSet>
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

// One pass, device after device in map order, on the calling thread: open
// it, write the data report for the item `currentItem` gives at that
// moment, wait at most HidReport::READ_TIMEOUT_MS for the answer, check its
// ack byte and close it. Failures go to the run log; a failing device never
// stops the pass. The pass ends early when `cancelled` returns true
// (checked before each device). The sender itself serves the devices in
// parallel; this is the same exchange for tools and benchmarks.
SendPassResult sendReportsOnce(HidBackend& backend, const HidReport::ReportInputs& inputs,
                               const HIDDeviceMap& devices, const std::function<quint8()>& currentItem,
                               const std::function<bool()>& cancelled = {});

// Sends the latest readings to every recognised device every 500 ms. Its
// own thread keeps the pace and hands each device's exchange to a bounded
// pool of workers, so a silent, slow or stalled device never holds back
// another: a device whose last exchange has not ended yet (or whose path
// the registry is identifying) is left out of that pass, so each device
// gets at most one report per period, and a device stuck in an exchange
// takes one worker at most. A device whose last exchange ran into its
// time-out queues behind the others, so that even with every worker stuck
// the devices that answer go first. Fed from the GUI thread (readings,
// settings, device list) and paused while there is no device. Nothing is
// sent before the first reading whose CPU temperature + GPU temperature +
// fan speed is above 0.
class SendHIDDataThread : public QThread
{
    Q_OBJECT
public:
    // Item from the program's rotation.
    explicit SendHIDDataThread(std::shared_ptr<HidBackend> backend, QObject* parent = nullptr);
    // `currentItem` is called on the sender's thread, once per device.
    SendHIDDataThread(std::shared_ptr<HidBackend> backend, std::function<quint8()> currentItem,
                      QObject* parent = nullptr);
    // Stops and joins the thread without a last pass. Exchanges still under
    // way get a short grace period and are then given up, so a device
    // stuck in a write never holds up the exit.
    ~SendHIDDataThread() override;

    void setDevices(const HIDDeviceMap& mapDevices);
    void pauseSending();
    void resumeSending();

    // Worker threads alive now (for diagnostics and benchmarks).
    int workerThreads() const { return m_workers.threadCount(); }

    // At most this many devices are served at the same moment. Threads are
    // started only for exchanges that find no idle one, and end when idle,
    // so this is reached only with as many devices stuck at once.
    static constexpr int MAX_WORKERS = 64;

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
    HidReport::ReportInputs m_inputs; // readings and thresholds of the next pass
    HIDDeviceMap m_mapDevices;
    QMutex m_mutex;
    QWaitCondition m_waitCondition;

    // Paths whose last exchange ran into its time-out; shared with the
    // workers, which may outlive the sender.
    struct Laggards
    {
        QMutex mutex;
        QSet<QString> paths;
    };
    std::shared_ptr<Laggards> m_laggards = std::make_shared<Laggards>();

    // Set at construction, read-only afterwards.
    std::shared_ptr<HidBackend> m_pBackend;
    std::function<quint8()> m_currentItem;
    HidWorkerPool m_workers;
};
