#pragma once

#include <functional>
#include <memory>

// What a job running on a HidWorkerPool may ask of the pool.
class HidJobContext
{
public:
    // True once the pool shuts down: stop waiting for the device and return.
    bool cancelled() const;
    // Runs `action` unless the pool has given this job up, and tells which.
    // Anything beyond the device itself (the run log, results for the owner)
    // is touched only in here: a job that comes back from a write stuck in
    // the kernel after its owner went away must touch none of it.
    bool whileOwned(const std::function<void()>& action) const;
    // Sleeps up to `ms` milliseconds; false when cancelled meanwhile.
    bool sleep(int ms) const;

private:
    friend class HidWorkerPool;
    struct State;
    explicit HidJobContext(std::shared_ptr<State> state) : m_state(std::move(state)) {}
    std::shared_ptr<State> m_state;
};

// A bounded set of worker threads for device exchanges, so that one
// device's silence never holds back another's, while many devices never
// mean as many threads: a thread is started only when no idle one can take
// the job, at most `maxThreads` run, and a thread left idle for
// `idleExpiryMs` ends.
//
// The workers are detached threads that share the pool's state, so a
// worker blocked inside the kernel (a hidraw write to a stalled device
// waits for the USB time-out) never holds up shutdown: `shutdown` waits a
// short grace period and then gives such jobs up; they end by themselves
// later and, being given up, touch nothing but their own device.
class HidWorkerPool
{
public:
    using Job = std::function<void(const HidJobContext&)>;

    explicit HidWorkerPool(int maxThreads, int idleExpiryMs = 5000);
    // Shuts down with the default grace period.
    ~HidWorkerPool();
    HidWorkerPool(const HidWorkerPool&) = delete;
    HidWorkerPool& operator=(const HidWorkerPool&) = delete;

    // Queues a job; false once the pool is shut down. A job submitted
    // `behind` is taken only when no other job waits: for a device that let
    // its last exchange run into the time-out, so that with every thread
    // busy the devices that answer still go first.
    bool submit(Job job, bool behind = false);
    // Drops queued jobs, cancels running ones, waits up to `graceMs` for
    // them and gives up the rest. Idempotent.
    void shutdown(int graceMs = DEFAULT_GRACE_MS);

    // Worker threads alive now, and jobs queued or running.
    int threadCount() const;
    int pendingJobs() const;

    static constexpr int DEFAULT_GRACE_MS = 300;

private:
    static void workerLoop(std::shared_ptr<HidJobContext::State> state);

    std::shared_ptr<HidJobContext::State> m_state;
};
