#include "device/hidworkerpool.h"

#include <QtTest>

#include <atomic>
#include <memory>

// A job that blocks until released, ignoring cancellation, as a write stuck
// in the kernel does.
struct Gate
{
    std::atomic<bool> open{false};
    std::atomic<int> entered{0};
    std::atomic<int> left{0};
    std::atomic<int> ownedAfterwards{0};
    std::atomic<int> givenUp{0};
};

class TestHidWorkerPool : public QObject
{
    Q_OBJECT

private slots:
    void threadsStayBoundedAndEndWhenIdle();
    void shutdownGivesUpStuckJobsAndDropsQueuedOnes();
    void cancelledJobsWakeFromTheirSleep();
    void jobsQueuedBehindWaitForEveryOtherJob();
};

void TestHidWorkerPool::threadsStayBoundedAndEndWhenIdle()
{
    HidWorkerPool pool(4, 200);
    auto gate = std::make_shared<Gate>();
    for (int i = 0; i < 50; ++i) {
        QVERIFY(pool.submit([gate](const HidJobContext&) {
            ++gate->entered;
            while (!gate->open)
                QThread::msleep(2);
            ++gate->left;
        }));
    }
    QTRY_COMPARE(gate->entered.load(), 4);
    QCOMPARE(pool.threadCount(), 4);
    QCOMPARE(pool.pendingJobs(), 50);
    gate->open = true;
    QTRY_COMPARE(gate->left.load(), 50);
    QTRY_COMPARE(pool.threadCount(), 0); // idle workers end
    // A later job starts a worker again.
    std::atomic<bool> ran{false};
    QVERIFY(pool.submit([&ran](const HidJobContext&) { ran = true; }));
    QTRY_VERIFY(ran.load());
}

void TestHidWorkerPool::shutdownGivesUpStuckJobsAndDropsQueuedOnes()
{
    auto gate = std::make_shared<Gate>();
    auto pool = std::make_unique<HidWorkerPool>(1);
    QVERIFY(pool->submit([gate](const HidJobContext& context) {
        ++gate->entered;
        while (!gate->open)
            QThread::msleep(2);
        // Back from the device after the owner went: nothing else is touched.
        if (context.whileOwned([gate] { ++gate->ownedAfterwards; }))
            return;
        ++gate->givenUp;
        ++gate->left;
    }));
    auto queuedRan = std::make_shared<std::atomic<bool>>(false);
    QVERIFY(pool->submit([queuedRan](const HidJobContext&) { *queuedRan = true; }));
    QTRY_COMPARE(gate->entered.load(), 1);

    pool->shutdown(50);
    QCOMPARE(gate->left.load(), 0); // returned while the job is still stuck
    QVERIFY(!pool->submit([](const HidJobContext&) {}));
    pool.reset();

    gate->open = true;
    QTRY_COMPARE(gate->givenUp.load(), 1);
    QCOMPARE(gate->ownedAfterwards.load(), 0);
    QVERIFY(!queuedRan->load());
}

void TestHidWorkerPool::cancelledJobsWakeFromTheirSleep()
{
    HidWorkerPool pool(2);
    std::atomic<int> woken{0};
    std::atomic<bool> sleeping{false};
    QVERIFY(pool.submit([&](const HidJobContext& context) {
        sleeping = true;
        if (!context.sleep(60000) && context.cancelled())
            ++woken;
    }));
    QTRY_VERIFY(sleeping.load());
    // A job queued meanwhile still runs at once: queuing wakes an idle
    // worker, not the sleeper.
    std::atomic<bool> ran{false};
    QVERIFY(pool.submit([&ran](const HidJobContext&) { ran = true; }));
    QTRY_VERIFY_WITH_TIMEOUT(ran.load(), 1000);
    pool.shutdown(5000);
    QCOMPARE(woken.load(), 1);
}

void TestHidWorkerPool::jobsQueuedBehindWaitForEveryOtherJob()
{
    QMutex mutex; // outlive the pool, whose jobs use them
    QStringList order;
    HidWorkerPool pool(1);
    auto gate = std::make_shared<Gate>();
    QVERIFY(pool.submit([gate](const HidJobContext&) {
        ++gate->entered;
        while (!gate->open)
            QThread::msleep(2);
    }));
    QTRY_COMPARE(gate->entered.load(), 1);
    // With the only worker busy: two jobs of laggards, then two of devices
    // that answer, which go first although they came later.
    const auto job = [&mutex, &order](const QString& name) {
        return [&mutex, &order, name](const HidJobContext&) {
            QMutexLocker locker(&mutex);
            order.append(name);
        };
    };
    QVERIFY(pool.submit(job(QStringLiteral("late1")), true));
    QVERIFY(pool.submit(job(QStringLiteral("late2")), true));
    QVERIFY(pool.submit(job(QStringLiteral("prompt1"))));
    QVERIFY(pool.submit(job(QStringLiteral("prompt2"))));
    QCOMPARE(pool.pendingJobs(), 5);
    gate->open = true;
    QTRY_COMPARE(pool.pendingJobs(), 0);
    QMutexLocker locker(&mutex);
    QCOMPARE(order, (QStringList{"prompt1", "prompt2", "late1", "late2"}));
}

QTEST_GUILESS_MAIN(TestHidWorkerPool)
#include "tst_hidworkerpool.moc"
