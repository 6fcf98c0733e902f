#include "app/common.h"
#include "app/commontools.h"
#include "device/circulardisplaytimer.h"
#include "testenv.h"

#include <QSettings>
#include <QTimer>
#include <QtTest>

#include <memory>

namespace {
// A rotation built from these display settings, in a clean settings store.
std::unique_ptr<CircularDisplayTimer> makeRotation(int cpu, int gpu, int fan,
                                                   const QVariant& interval = QVariant())
{
    CommonTools::SetSettingValue(COMMON::KEY_DISPLAY_CPU_TEMP, cpu);
    CommonTools::SetSettingValue(COMMON::KEY_DISPLAY_GPU_TEMP, gpu);
    CommonTools::SetSettingValue(COMMON::KEY_DISPLAY_FAN_RPM, fan);
    if (interval.isValid()) {
        CommonTools::SetSettingValue(COMMON::KEY_CHANGE_INTERVAL, interval);
    } else {
        // The store's location is fixed per process, so earlier cases' values linger.
        QSettings settings(CommonTools::SettingsFilePath(), QSettings::IniFormat);
        settings.remove(COMMON::KEY_CHANGE_INTERVAL);
    }
    return std::make_unique<CircularDisplayTimer>();
}

QTimer* timerOf(CircularDisplayTimer& rotation)
{
    return rotation.findChild<QTimer*>();
}
} // namespace

class TestCircularDisplayTimer : public QObject
{
    Q_OBJECT

private slots:
    void init() { m_env = std::make_unique<TestEnv>(); }
    void cleanup() { m_env.reset(); }

    void rotationVisitsEnabledItemsInCycleOrder_data();
    void rotationVisitsEnabledItemsInCycleOrder();
    void emptySetLeavesTimerRunningUntilFirstTimeout();
    void removingCurrentItemMovesToNextEnabled();
    void removingOtherItemStillMovesPosition();
    void removingLastItemStopsTimerAndShowsNothing();
    void addingItemStartsStoppedTimerWithoutMoving();
    void changeIntervalAppliesToRunningAndNextStart();
    void intervalSettingIsReadAndBounded_data();
    void intervalSettingIsReadAndBounded();
    void timerTimeoutAdvancesRotation();
    void instanceIsShared();

private:
    std::unique_ptr<TestEnv> m_env;
};

void TestCircularDisplayTimer::rotationVisitsEnabledItemsInCycleOrder_data()
{
    QTest::addColumn<int>("cpu");
    QTest::addColumn<int>("gpu");
    QTest::addColumn<int>("fan");
    QTest::addColumn<QList<int>>("codes"); // after start, then after each timeout

    QTest::newRow("defaults start on the gpu") << 1 << 1 << 1 << QList<int>{4, 16, 1, 4, 16, 1};
    QTest::newRow("cpu and fan") << 1 << 0 << 1 << QList<int>{16, 1, 16, 1};
    QTest::newRow("cpu and gpu") << 1 << 1 << 0 << QList<int>{4, 1, 4};
    QTest::newRow("fan alone runs around to itself") << 0 << 0 << 1 << QList<int>{16, 16, 16};
    QTest::newRow("cpu alone") << 1 << 0 << 0 << QList<int>{1, 1};
    QTest::newRow("any non-zero value enables") << 5 << 0 << -1 << QList<int>{16, 1, 16};
}

void TestCircularDisplayTimer::rotationVisitsEnabledItemsInCycleOrder()
{
    QFETCH(int, cpu);
    QFETCH(int, gpu);
    QFETCH(int, fan);
    QFETCH(QList<int>, codes);

    auto rotation = makeRotation(cpu, gpu, fan);
    QCOMPARE(rotation->currentDisplayItem(), quint8(cpu ? 1 : 0)); // position 0 before start
    rotation->start();
    QVERIFY(rotation->isActive());
    QList<int> seen{rotation->currentDisplayItem()};
    for (int i = 1; i < codes.size(); ++i) {
        rotation->onChangeData();
        seen.append(rotation->currentDisplayItem());
    }
    QCOMPARE(seen, codes);

    // Stopped when the last display goes and started for the next one: the
    // cycle begins afresh, wherever it stood.
    rotation->stop();
    rotation->start();
    QCOMPARE(int(rotation->currentDisplayItem()), codes.first());
    rotation->onChangeData();
    rotation->stop();
    rotation->start();
    QCOMPARE(int(rotation->currentDisplayItem()), codes.first());
}

void TestCircularDisplayTimer::emptySetLeavesTimerRunningUntilFirstTimeout()
{
    auto rotation = makeRotation(0, 0, 0);
    rotation->start();
    QVERIFY(rotation->isActive());
    QCOMPARE(rotation->currentDisplayItem(), quint8(0));
    rotation->onChangeData();
    QVERIFY(!rotation->isActive());
    QCOMPARE(rotation->position(), 0);
}

void TestCircularDisplayTimer::removingCurrentItemMovesToNextEnabled()
{
    auto rotation = makeRotation(1, 1, 1);
    rotation->start();
    QCOMPARE(rotation->currentDisplayItem(), quint8(4));
    rotation->removeDisplayItem(4);
    QCOMPARE(rotation->position(), 4);
    QCOMPARE(rotation->currentDisplayItem(), quint8(16));
    for (int i = 0; i < 8; ++i) {
        rotation->onChangeData();
        QVERIFY(rotation->currentDisplayItem() != 4);
        QVERIFY(rotation->currentDisplayItem() != 0);
    }
}

void TestCircularDisplayTimer::removingOtherItemStillMovesPosition()
{
    auto rotation = makeRotation(1, 1, 1);
    rotation->start(); // position 2
    rotation->removeDisplayItem(1);
    QCOMPARE(rotation->currentDisplayItem(), quint8(16));
    rotation->onChangeData();
    QCOMPARE(rotation->currentDisplayItem(), quint8(4));
}

void TestCircularDisplayTimer::removingLastItemStopsTimerAndShowsNothing()
{
    auto rotation = makeRotation(0, 1, 0);
    rotation->start();
    QCOMPARE(rotation->currentDisplayItem(), quint8(4));
    rotation->removeDisplayItem(4);
    QVERIFY(!rotation->isActive());
    QCOMPARE(rotation->currentDisplayItem(), quint8(0));
    QCOMPARE(rotation->enabledItems(), quint8(0));
}

void TestCircularDisplayTimer::addingItemStartsStoppedTimerWithoutMoving()
{
    auto rotation = makeRotation(0, 0, 1);
    rotation->start();
    QCOMPARE(rotation->position(), 4);
    rotation->removeDisplayItem(16);
    QVERIFY(!rotation->isActive());

    rotation->addDisplayItem(1);
    QVERIFY(rotation->isActive());
    QCOMPARE(rotation->position(), 4);
    QCOMPARE(rotation->currentDisplayItem(), quint8(0)); // position 4 is not enabled

    rotation->stop();
    rotation->addDisplayItem(16);
    QVERIFY(rotation->isActive());
    QCOMPARE(rotation->currentDisplayItem(), quint8(16)); // at once, no move
}

void TestCircularDisplayTimer::changeIntervalAppliesToRunningAndNextStart()
{
    auto rotation = makeRotation(1, 1, 1);
    rotation->start();
    QCOMPARE(timerOf(*rotation)->interval(), 2000);
    rotation->setChangeInterval(5);
    QVERIFY(rotation->isActive());
    QCOMPARE(timerOf(*rotation)->interval(), 5000);

    rotation->stop();
    rotation->setChangeInterval(3);
    QVERIFY(!rotation->isActive());
    rotation->start();
    QCOMPARE(timerOf(*rotation)->interval(), 3000);

    // Held to the settings' range of 1 to 60 s, whoever calls.
    rotation->setChangeInterval(3600);
    QCOMPARE(timerOf(*rotation)->interval(), 60000);
    rotation->setChangeInterval(0);
    QCOMPARE(timerOf(*rotation)->interval(), 1000);
}

void TestCircularDisplayTimer::intervalSettingIsReadAndBounded_data()
{
    QTest::addColumn<QVariant>("setting");
    QTest::addColumn<int>("interval");
    QTest::newRow("absent") << QVariant() << 2000;
    QTest::newRow("seven seconds") << QVariant(7) << 7000;
    // Outside 1..60 s, or no number: the default, as every setting reads.
    QTest::newRow("zero would spin") << QVariant(0) << 2000;
    QTest::newRow("not a number") << QVariant("soon") << 2000;
    QTest::newRow("overflowing") << QVariant(3000000) << 2000;
    QTest::newRow("longest") << QVariant(60) << 60000;
}

void TestCircularDisplayTimer::intervalSettingIsReadAndBounded()
{
    QFETCH(QVariant, setting);
    QFETCH(int, interval);
    auto rotation = makeRotation(1, 1, 1, setting);
    rotation->start();
    QCOMPARE(timerOf(*rotation)->interval(), interval);
}

void TestCircularDisplayTimer::timerTimeoutAdvancesRotation()
{
    auto rotation = makeRotation(1, 1, 1, 1);
    rotation->start();
    QCOMPARE(rotation->currentDisplayItem(), quint8(4));
    QTRY_COMPARE_WITH_TIMEOUT(rotation->currentDisplayItem(), quint8(16), 3000);
}

void TestCircularDisplayTimer::instanceIsShared()
{
    CircularDisplayTimer* first = CircularDisplayTimer::GetInstance();
    QVERIFY(first);
    QCOMPARE(CircularDisplayTimer::GetInstance(), first);
    QVERIFY(!first->parent());
}

QTEST_GUILESS_MAIN(TestCircularDisplayTimer)
#include "tst_circulardisplaytimer.moc"
