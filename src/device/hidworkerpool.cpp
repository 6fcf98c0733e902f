#include "device/hidworkerpool.h"

#include <QtGlobal>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <system_error>
#include <thread>

struct HidJobContext::State
{
    explicit State(int max, int expiry) : maxThreads(max), idleExpiryMs(expiry) {}

    const int maxThreads;
    const int idleExpiryMs;

    std::mutex mutex;                    // guards everything below but `stopping`
    std::condition_variable wakeWorker;  // a job was queued, or shutdown
    std::condition_variable wakeSleeper; // shutdown, for jobs in sleep()
    std::condition_variable jobDone;
    std::deque<HidWorkerPool::Job> queue;
    std::deque<HidWorkerPool::Job> behindQueue; // taken when `queue` is empty
    int threads = 0;
    int waiting = 0; // idle workers waiting for a job
    int running = 0;
    std::atomic<bool> stopping{false};

    int queued() const { return int(queue.size() + behindQueue.size()); }

    // Taken around every step of a job beyond the device, and by shutdown to
    // give up the jobs still running.
    std::mutex ownerMutex;
    bool abandoned = false;
};

bool HidJobContext::cancelled() const
{
    return m_state->stopping.load();
}

bool HidJobContext::whileOwned(const std::function<void()>& action) const
{
    std::lock_guard<std::mutex> lock(m_state->ownerMutex);
    if (m_state->abandoned)
        return false;
    action();
    return true;
}

bool HidJobContext::sleep(int ms) const
{
    std::unique_lock<std::mutex> lock(m_state->mutex);
    m_state->wakeSleeper.wait_for(lock, std::chrono::milliseconds(ms),
                                  [this] { return m_state->stopping.load(); });
    return !m_state->stopping.load();
}

void HidWorkerPool::workerLoop(std::shared_ptr<HidJobContext::State> state)
{
    const HidJobContext context(state);
    std::unique_lock<std::mutex> lock(state->mutex);
    for (;;) {
        ++state->waiting;
        const bool woken =
            state->wakeWorker.wait_for(lock, std::chrono::milliseconds(state->idleExpiryMs),
                                       [&state] { return state->stopping.load() || state->queued() > 0; });
        --state->waiting;
        if (!woken || state->stopping.load())
            break;
        std::deque<HidWorkerPool::Job>& from = state->queue.empty() ? state->behindQueue : state->queue;
        HidWorkerPool::Job job = std::move(from.front());
        from.pop_front();
        ++state->running;
        lock.unlock();
        job(context);
        job = nullptr; // its captures go before the pool may count the job done
        lock.lock();
        --state->running;
        state->jobDone.notify_all();
    }
    --state->threads;
    state->jobDone.notify_all();
}

HidWorkerPool::HidWorkerPool(int maxThreads, int idleExpiryMs)
    : m_state(std::make_shared<HidJobContext::State>(qMax(1, maxThreads), qMax(1, idleExpiryMs)))
{
}

HidWorkerPool::~HidWorkerPool()
{
    shutdown();
}

bool HidWorkerPool::submit(Job job, bool behind)
{
    std::lock_guard<std::mutex> lock(m_state->mutex);
    if (m_state->stopping.load())
        return false;
    (behind ? m_state->behindQueue : m_state->queue).push_back(std::move(job));
    // A new thread only when no idle one is there to take the job.
    if (m_state->waiting < m_state->queued() && m_state->threads < m_state->maxThreads) {
        try {
            std::thread(workerLoop, m_state).detach();
            ++m_state->threads;
        } catch (const std::system_error&) {
            // Out of threads: the ones there take the job when they can.
        }
    }
    m_state->wakeWorker.notify_one();
    return true;
}

void HidWorkerPool::shutdown(int graceMs)
{
    {
        std::unique_lock<std::mutex> lock(m_state->mutex);
        if (!m_state->stopping.exchange(true)) {
            m_state->queue.clear();
            m_state->behindQueue.clear();
        }
        m_state->wakeWorker.notify_all();
        m_state->wakeSleeper.notify_all();
        m_state->jobDone.wait_for(lock, std::chrono::milliseconds(qMax(0, graceMs)),
                                  [this] { return m_state->running == 0; });
    }
    std::lock_guard<std::mutex> owner(m_state->ownerMutex);
    m_state->abandoned = true;
}

int HidWorkerPool::threadCount() const
{
    std::lock_guard<std::mutex> lock(m_state->mutex);
    return m_state->threads;
}

int HidWorkerPool::pendingJobs() const
{
    std::lock_guard<std::mutex> lock(m_state->mutex);
    return m_state->queued() + m_state->running;
}
