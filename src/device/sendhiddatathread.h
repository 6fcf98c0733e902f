#pragma once

#include "device/backends/hidbackend.h"
#include "device/hiddeviceinfo.h"
#include "device/hidreport.h"
#include "device/hidworkerpool.h"
#include "sensors/hardwareinfo.h"

#include <QThread>

#include <functional>
#include <memory>

class QTimer;

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

// Sends the latest readings to every recognised device every 500 ms, at a
// flat pace. One driver thread serves all devices: each period it collects
// the answer to the report it wrote the period before (without waiting: it
// has long arrived from a device that answers) and writes the next one on
// the same handle, so a healthy device costs no thread of its own, no
// wake-up beyond the driver's one per period, and no open and close. A
// device that fails or does not answer in time has its handle closed and
// is opened afresh. A device has at most one exchange in flight: one
// still waiting for its answer (or whose path the registry is identifying)
// gets no new report; an answer missing after HidReport::READ_TIMEOUT_MS
// ends the exchange as timed out.
//
// Nothing here waits on a device. A device that has not answered its last
// exchange yet (a new one, or one that failed) is opened and written on a
// worker of a bounded pool, behind the others if its last exchange ran into
// the time-out, so a write stuck in the kernel holds that worker only. A
// device that answered before and gets stuck in the driver's own call is
// noticed on the GUI thread within a period or two: the driver is given up
// to that device and a new one serves the rest. Fed from the GUI thread
// (readings, settings, device list) and paused while there is no device.
// Nothing is sent before the first reading whose CPU temperature + GPU
// temperature + fan speed is above 0.
class SendHIDDataThread : public QThread
{
    Q_OBJECT
public:
    // Item from the program's rotation.
    explicit SendHIDDataThread(std::shared_ptr<HidBackend> backend, QObject* parent = nullptr);
    // `currentItem` is called on a driver or worker thread, once per report.
    SendHIDDataThread(std::shared_ptr<HidBackend> backend, std::function<quint8()> currentItem,
                      QObject* parent = nullptr);
    // Stops without a last pass. Drivers and workers still inside a device
    // call get a short grace period and are then given up, so a device stuck
    // in a write never holds up the exit.
    ~SendHIDDataThread() override;

    void setDevices(const HIDDeviceMap& mapDevices);
    void pauseSending();
    void resumeSending();

    // Threads serving devices now: the driver, drivers given up to a stuck
    // device and not back yet, and pool workers (for diagnostics and
    // benchmarks).
    int workerThreads() const;

    // At most this many devices are opened and written on workers at the
    // same moment. Workers end when idle, so this is reached only with as
    // many devices stuck at once.
    static constexpr int MAX_WORKERS = 64;
    // A driver inside one device call for longer than this is stuck.
    static constexpr int STUCK_AFTER_MS = 100;

public slots:
    void onSetHardwareData(COMMON::HardwareInfo hardwareInfo);
    void onSettingValueChanged(QString strSettingName, QString strSettingValue);

protected:
    // Starts the driver, then waits for the end; it does no I/O itself.
    void run() override;

private:
    struct Shared;
    // Under Shared::mutex: a new driver serves from now on.
    static void startDriver(const std::shared_ptr<Shared>& shared);
    static void driverLoop(std::shared_ptr<Shared> shared, quint64 generation);
    static void servePass(const std::shared_ptr<Shared>& shared, quint64 generation);
    void checkDriver();

    static constexpr int PASS_PERIOD_MS = 500;

    std::shared_ptr<Shared> m_shared;
    QTimer* m_pWatchdog;
};
