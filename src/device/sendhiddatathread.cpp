#include "device/sendhiddatathread.h"

#include "app/common.h"
#include "app/commontools.h"
#include "device/circulardisplaytimer.h"
#include "device/hidexchange.h"

#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QHash>
#include <QMutex>
#include <QMutexLocker>
#include <QSet>
#include <QTimer>
#include <QWaitCondition>

#include <thread>

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

namespace {

// Unasked reports read and dropped before a report at most.
constexpr int MAX_UNASKED_READS = 8;

// One report written whose answer is still to be read, or, between two
// reports of a device that answers, its open handle.
struct Exchange
{
    HIDDeviceInfo info;
    std::unique_ptr<HidDeviceHandle> handle;
    std::unique_ptr<HidPathClaim> claim;
    int periodsWaited = 0;
    quint64 trustEpoch = 0; // Shared::trustEpoch when it began
};

qint64 monotonicMs()
{
    static const QElapsedTimer clock = [] {
        QElapsedTimer started;
        started.start();
        return started;
    }();
    return clock.elapsed() + 1; // never 0, which means "no call"
}

} // namespace

// Everything the drivers, the workers and the GUI thread share. Drivers and
// workers hold it too, so it outlives a sender whose last driver is still
// stuck in a device.
struct SendHIDDataThread::Shared
{
    Shared(std::shared_ptr<HidBackend> b, std::function<quint8()> item)
        : backend(std::move(b)), currentItem(std::move(item)), workers(MAX_WORKERS)
    {
    }

    // Set at construction, read-only afterwards.
    const std::shared_ptr<HidBackend> backend;
    const std::function<quint8()> currentItem;

    QMutex mutex;               // guards everything below but `workers` and the owner part
    QWaitCondition wake;        // resume, shutdown, driver given up
    QWaitCondition driversDone; // a driver ended
    bool paused = false;
    bool stopping = false;
    bool dataReceived = false;
    HidReport::ReportInputs inputs; // readings and thresholds of the next pass
    HIDDeviceMap devices;
    quint64 generation = 0;   // of the driver that serves; older ones are given up
    int drivers = 0;          // driver threads alive
    qint64 callStartedMs = 0; // the serving driver's device call, 0: none
    QString callPath;
    QHash<QString, std::shared_ptr<Exchange>> inFlight;
    QSet<QString> answered; // paths whose last exchange got an answer
    // Moves on when a driver is given up: answers to reports written before
    // that restore no device's standing.
    quint64 trustEpoch = 0;
    QSet<QString> laggards; // paths whose last exchange ran into its time-out

    HidWorkerPool workers;

    // Taken around every step beyond the devices (the run log, the
    // rotation), and by the destructor to give up the drivers still stuck.
    QMutex ownerMutex;
    bool abandoned = false;

    bool serving(quint64 g) const { return !stopping && generation == g; }

    // Under `mutex`: the exchanges of devices no longer in the map, for the
    // caller to close outside the lock; also forgets their standing.
    QList<std::shared_ptr<Exchange>> takeGone()
    {
        QList<std::shared_ptr<Exchange>> gone;
        for (auto it = inFlight.begin(); it != inFlight.end();) {
            if (devices.contains(hidDeviceKey(it.key()))) {
                ++it;
            } else {
                gone.append(it.value());
                it = inFlight.erase(it);
            }
        }
        for (QSet<QString>* set : {&answered, &laggards})
            for (auto it = set->begin(); it != set->end();)
                it = devices.contains(hidDeviceKey(*it)) ? std::next(it) : set->erase(it);
        return gone;
    }

    // The item and the report, unless the sender is gone.
    bool encode(const HidReport::ReportInputs& in, QByteArray* report)
    {
        QMutexLocker owner(&ownerMutex);
        if (abandoned)
            return false;
        *report = HidReport::encodeDataReport(currentItem(), in);
        return true;
    }

    void log(const DataExchangeOutcome& outcome, const QString& path)
    {
        QMutexLocker owner(&ownerMutex);
        if (!abandoned)
            writeLogLine(outcome.log, outcome.permissionDenied, path);
    }

    // Records how an exchange ended. Under `mutex`.
    void noteEnd(const QString& path, const DataExchangeOutcome& outcome, bool gotAnswer)
    {
        if (gotAnswer)
            answered.insert(path);
        else
            answered.remove(path);
        if (outcome.timedOut)
            laggards.insert(path);
        else
            laggards.remove(path);
    }
};

SendHIDDataThread::SendHIDDataThread(std::shared_ptr<HidBackend> backend, QObject* parent)
    : SendHIDDataThread(std::move(backend), std::function<quint8()>(), parent)
{
}

SendHIDDataThread::SendHIDDataThread(std::shared_ptr<HidBackend> backend, std::function<quint8()> currentItem,
                                     QObject* parent)
    : QThread(parent), m_pWatchdog(new QTimer(this))
{
    if (!currentItem) {
        // Resolved here, on the GUI thread, so the rotation (and its timer)
        // is never created by another thread.
        CircularDisplayTimer* rotation = CircularDisplayTimer::GetInstance();
        currentItem = [rotation] { return rotation->currentDisplayItem(); };
    }
    m_shared = std::make_shared<Shared>(std::move(backend), std::move(currentItem));
    HidReport::ReportInputs& inputs = m_shared->inputs;
    inputs.temperatureUnit = CommonTools::GetSettingInt(COMMON::KEY_TEMPERATURE_UNIT);
    inputs.cpuTemperatureAlarm = CommonTools::GetSettingInt(COMMON::KEY_CPU_TEMP_ALARM);
    inputs.gpuTemperatureAlarm = CommonTools::GetSettingInt(COMMON::KEY_GPU_TEMP_ALARM);
    inputs.usageRateAlarm = CommonTools::GetSettingInt(COMMON::KEY_USAGE_RATE_ALARM);
    inputs.fanRpmAlarm = CommonTools::GetSettingInt(COMMON::KEY_FAN_RPM_ALARM);
    // The same period as the sensor reader's timer: Qt lets the two coarse
    // timers fire in one wake-up of the GUI thread.
    connect(m_pWatchdog, &QTimer::timeout, this, &SendHIDDataThread::checkDriver);
    m_pWatchdog->start(PASS_PERIOD_MS);
}

SendHIDDataThread::~SendHIDDataThread()
{
    m_pWatchdog->stop();
    Shared& shared = *m_shared;
    {
        QMutexLocker locker(&shared.mutex);
        shared.stopping = true;
        shared.wake.wakeAll();
    }
    // run() only waits for this, so it ends at once.
    wait();
    {
        // A driver inside a device call gets the same grace as the workers.
        QMutexLocker locker(&shared.mutex);
        QDeadlineTimer grace(HidWorkerPool::DEFAULT_GRACE_MS);
        while (shared.drivers > 0 && !grace.hasExpired())
            shared.driversDone.wait(&shared.mutex, grace);
    }
    shared.workers.shutdown();
    QMutexLocker owner(&shared.ownerMutex);
    shared.abandoned = true;
}

void SendHIDDataThread::setDevices(const HIDDeviceMap& mapDevices)
{
    QMutexLocker locker(&m_shared->mutex);
    m_shared->devices = mapDevices;
    // So that the exchanges of devices that went close now.
    m_shared->wake.wakeAll();
}

void SendHIDDataThread::pauseSending()
{
    QMutexLocker locker(&m_shared->mutex);
    m_shared->paused = true;
}

void SendHIDDataThread::resumeSending()
{
    QMutexLocker locker(&m_shared->mutex);
    m_shared->paused = false;
    m_shared->wake.wakeAll();
}

int SendHIDDataThread::workerThreads() const
{
    int drivers = 0;
    {
        QMutexLocker locker(&m_shared->mutex);
        drivers = m_shared->drivers;
    }
    return drivers + m_shared->workers.threadCount();
}

void SendHIDDataThread::onSetHardwareData(COMMON::HardwareInfo hardwareInfo)
{
    QMutexLocker locker(&m_shared->mutex);
    HidReport::ReportInputs& inputs = m_shared->inputs;
    inputs.cpuTemperature = COMMON::readingToInt(hardwareInfo.strCPUTemperature);
    inputs.cpuUsage = COMMON::readingToInt(hardwareInfo.strCPUUsageRate);
    inputs.gpuTemperature = COMMON::readingToInt(hardwareInfo.strGPUTemperature);
    inputs.gpuUsage = COMMON::readingToInt(hardwareInfo.strGPUUsageRate);
    inputs.fanRpm = COMMON::fanReadingToInt(hardwareInfo.strFanRpm);
    // 64-bit sum: readings are clamped ints and must not overflow here.
    if (!m_shared->dataReceived && qint64(inputs.cpuTemperature) + inputs.gpuTemperature + inputs.fanRpm > 0)
        m_shared->dataReceived = true;
}

void SendHIDDataThread::onSettingValueChanged(QString strSettingName, QString strSettingValue)
{
    // Junk or an out-of-range value reads as the key's default, as at start.
    const int value = CommonTools::SettingValueToInt(strSettingName, strSettingValue);
    QMutexLocker locker(&m_shared->mutex);
    HidReport::ReportInputs& inputs = m_shared->inputs;
    if (strSettingName == COMMON::KEY_TEMPERATURE_UNIT)
        inputs.temperatureUnit = value;
    else if (strSettingName == COMMON::KEY_CPU_TEMP_ALARM)
        inputs.cpuTemperatureAlarm = value;
    else if (strSettingName == COMMON::KEY_GPU_TEMP_ALARM)
        inputs.gpuTemperatureAlarm = value;
    else if (strSettingName == COMMON::KEY_USAGE_RATE_ALARM)
        inputs.usageRateAlarm = value;
    else if (strSettingName == COMMON::KEY_FAN_RPM_ALARM)
        inputs.fanRpmAlarm = value;
}

void SendHIDDataThread::run()
{
    QMutexLocker locker(&m_shared->mutex);
    startDriver(m_shared);
    while (!m_shared->stopping)
        m_shared->wake.wait(&m_shared->mutex);
}

void SendHIDDataThread::startDriver(const std::shared_ptr<Shared>& shared)
{
    if (shared->stopping)
        return;
    const quint64 generation = ++shared->generation;
    shared->callStartedMs = 0;
    shared->wake.wakeAll(); // the driver given up, should it be waiting
    try {
        std::thread(driverLoop, shared, generation).detach();
        ++shared->drivers;
    } catch (const std::system_error&) {
        // Out of threads: counts as a call stuck since long ago, so the
        // next check tries again.
        shared->callStartedMs = 1;
    }
}

// On the GUI thread, once a period: a driver stuck in a device call is given
// up to it, and a new one serves the others.
void SendHIDDataThread::checkDriver()
{
    QMutexLocker locker(&m_shared->mutex);
    const qint64 started = m_shared->callStartedMs;
    if (m_shared->stopping || started == 0 || monotonicMs() - started < STUCK_AFTER_MS)
        return;
    // Asked last in the next passes. Until they answer again, every device
    // is opened and written on a worker: when one device is stuck, others
    // may be too (a hub that went away), and each must cost one worker, not
    // one period of the others' reports.
    m_shared->laggards.insert(m_shared->callPath);
    m_shared->answered.clear();
    ++m_shared->trustEpoch;
    startDriver(m_shared);
}

void SendHIDDataThread::driverLoop(std::shared_ptr<Shared> shared, quint64 generation)
{
    QDeadlineTimer next(0);
    bool wasPaused = true;
    for (;;) {
        QList<std::shared_ptr<Exchange>> gone;
        {
            QMutexLocker locker(&shared->mutex);
            if (!shared->serving(generation))
                break;
            // A device that went gives up its exchange at once, paused or
            // not: the registry may want its path for a replugged device.
            gone = shared->takeGone();
            if (gone.isEmpty()) {
                if (shared->paused) {
                    wasPaused = true;
                    shared->wake.wait(&shared->mutex);
                    continue;
                }
                // Back from a pause: a pass at once. Otherwise the flat
                // period, cut short only by shutdown, a pause or a change
                // of the devices.
                if (wasPaused)
                    next = QDeadlineTimer(0);
                wasPaused = false;
                if (!next.hasExpired()) {
                    shared->wake.wait(&shared->mutex, next);
                    continue;
                }
            }
        }
        if (!gone.isEmpty())
            continue; // closed here, outside the lock
        servePass(shared, generation);
        // The next period begins 500 ms after this one began; after a long
        // stall the pace starts again from now.
        next.setDeadline(next.deadline() + PASS_PERIOD_MS);
        if (next.hasExpired())
            next = QDeadlineTimer(PASS_PERIOD_MS);
    }
    QList<std::shared_ptr<Exchange>> closing;
    {
        QMutexLocker locker(&shared->mutex);
        // The last driver closes what is still open, on its own thread.
        if (shared->stopping && shared->drivers == 1) {
            closing = shared->inFlight.values();
            shared->inFlight.clear();
        }
    }
    closing.clear();
    QMutexLocker locker(&shared->mutex);
    --shared->drivers;
    shared->driversDone.wakeAll();
}

void SendHIDDataThread::servePass(const std::shared_ptr<Shared>& shared, quint64 generation)
{
    HidReport::ReportInputs inputs;
    HIDDeviceMap devices;
    QList<HIDDeviceInfo> order;
    QList<std::shared_ptr<Exchange>> gone;
    {
        QMutexLocker locker(&shared->mutex);
        if (!shared->dataReceived)
            return;
        inputs = shared->inputs;
        devices = shared->devices;
        // A worker may have brought in the exchange of a device that went.
        gone = shared->takeGone();
        // Devices whose last exchange ran into its time-out come last.
        for (const HIDDeviceInfo& info : qAsConst(devices))
            if (!shared->laggards.contains(info.strDevicePath))
                order.append(info);
        for (const HIDDeviceInfo& info : qAsConst(devices))
            if (shared->laggards.contains(info.strDevicePath))
                order.append(info);
    }
    gone.clear();

    // Runs one device call, watched by checkDriver; false when this driver
    // was given up meanwhile.
    const auto watched = [&shared, generation](const QString& path, const std::function<void()>& call) {
        {
            QMutexLocker locker(&shared->mutex);
            if (!shared->serving(generation))
                return false;
            shared->callStartedMs = monotonicMs();
            shared->callPath = path;
        }
        call();
        QMutexLocker locker(&shared->mutex);
        if (shared->generation != generation)
            return false;
        shared->callStartedMs = 0;
        return true;
    };

    for (const HIDDeviceInfo& info : qAsConst(order)) {
        const QString path = info.strDevicePath;
        std::shared_ptr<Exchange> exchange;
        bool answeredBefore = false;
        bool lagging = false;
        quint64 epoch = 0;
        {
            QMutexLocker locker(&shared->mutex);
            if (!shared->serving(generation))
                return;
            exchange = shared->inFlight.take(path);
            answeredBefore = shared->answered.contains(path);
            lagging = shared->laggards.contains(path);
            epoch = shared->trustEpoch;
        }

        if (exchange) {
            // The answer to last period's report, if it came.
            QByteArray answer;
            int n = 0;
            if (!watched(path, [&] { n = exchange->handle->read(&answer, HidReport::ANSWER_SIZE, 0); }))
                return; // given up: the exchange closes with this driver's stack
            if (n == 0 && ++exchange->periodsWaited * PASS_PERIOD_MS < HidReport::READ_TIMEOUT_MS) {
                QMutexLocker locker(&shared->mutex);
                shared->inFlight.insert(path, exchange);
                continue; // still in flight: no new report this period
            }
            DataExchangeOutcome outcome;
            outcome.opened = true;
            endDataExchange(*exchange->handle, info, n, answer, &outcome);
            {
                QMutexLocker locker(&shared->mutex);
                answeredBefore = n > 0 && exchange->trustEpoch == shared->trustEpoch;
                shared->noteEnd(path, outcome, answeredBefore);
                lagging = outcome.timedOut;
                epoch = shared->trustEpoch;
            }
            // A device that answered keeps its handle for the next report;
            // any other is closed (and its path released) first, so that a
            // late answer never counts for the next report.
            if (!answeredBefore)
                exchange.reset();
            shared->log(outcome, path);
        }

        if (exchange) {
            // Reports nobody asked for are dropped first, so the next one
            // read answers the report written now. A device that floods
            // costs a few reads a period, no more.
            QByteArray report;
            if (!shared->encode(inputs, &report))
                return;
            int n = 0;
            bool written = false;
            const bool owned = watched(path, [&] {
                QByteArray unasked;
                for (int i = 0; i < MAX_UNASKED_READS &&
                                (n = exchange->handle->read(&unasked, HidReport::ANSWER_SIZE, 0)) > 0;
                     ++i) {
                }
                written = n >= 0 && exchange->handle->write(report) >= 0;
            });
            if (!owned)
                return;
            if (written) {
                exchange->periodsWaited = 0;
                QMutexLocker locker(&shared->mutex);
                shared->inFlight.insert(path, exchange);
                continue;
            }
            // Gone or broken since its last answer: opened afresh below.
            exchange.reset();
        }

        // The path has one owner at a time; the registry may be identifying it.
        auto claim = std::make_unique<HidPathClaim>(shared->backend, path);
        if (!claim->isHeld())
            continue;
        QByteArray report;
        if (!shared->encode(inputs, &report))
            return;
        auto next = std::make_shared<Exchange>();
        next->info = info;
        next->claim = std::move(claim);
        next->trustEpoch = epoch;

        if (answeredBefore) {
            // A device that answers: opened and written here, at once.
            DataExchangeOutcome outcome;
            if (!watched(path,
                         [&] { next->handle = beginDataExchange(*shared->backend, info, report, &outcome); }))
                return;
            if (next->handle) {
                QMutexLocker locker(&shared->mutex);
                shared->inFlight.insert(path, next);
            } else {
                {
                    QMutexLocker locker(&shared->mutex);
                    shared->noteEnd(path, outcome, false);
                }
                next.reset();
                shared->log(outcome, path);
            }
            continue;
        }

        // A new device, or one whose last exchange failed: it may be stuck,
        // so a worker takes the open and the write.
        std::weak_ptr<Shared> weak = shared;
        shared->workers.submit(
            [weak, next, report, info](const HidJobContext& context) {
                std::shared_ptr<Shared> owner = weak.lock();
                if (!owner || context.cancelled())
                    return;
                DataExchangeOutcome outcome;
                next->handle = beginDataExchange(*owner->backend, info, report, &outcome);
                const QString path = info.strDevicePath;
                {
                    QMutexLocker locker(&owner->mutex);
                    // A device that went meanwhile releases its path at once.
                    if (next->handle && !owner->stopping && owner->devices.contains(hidDeviceKey(path))) {
                        owner->inFlight.insert(path, next);
                        return;
                    }
                    if (!next->handle)
                        owner->noteEnd(path, outcome, false);
                }
                if (!next->handle && !context.cancelled())
                    context.whileOwned([&] { owner->log(outcome, path); });
            },
            lagging);
    }
}
