// Devices coming, going and misbehaving while the program runs.

#include "e2eprocesses.h"

#include <QTest>

#include <algorithm>

namespace {

qint64 longestGap(const QList<SeenReport>& reports)
{
    qint64 longest = 0;
    for (int i = 1; i < reports.size(); ++i)
        longest = qMax(longest, reports.at(i).atMs - reports.at(i - 1).atMs);
    return longest;
}

} // namespace

class TestE2eHotplug : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void pluggedDeviceServedWithinASecondAndUnplugStopsReports();
    void faultOnOneDeviceDoesNotHoldUpTheOther_data();
    void faultOnOneDeviceDoesNotHoldUpTheOther();
};

void TestE2eHotplug::init()
{
    if (!DevsimDriver::available())
        QSKIP("varnoks-devsim is not built");
}

void TestE2eHotplug::pluggedDeviceServedWithinASecondAndUnplugStopsReports()
{
    DevsimDriver sim;
    QVERIFY(sim.start({QStringLiteral("a"), QStringLiteral("b"), QStringLiteral("c")}));
    QVERIFY(sim.unplug(QStringLiteral("c")));
    Pilot pilot;
    QVERIFY(pilot.start(sim.directory()));
    QVERIFY2(e2eWaitFor([&] { return sim.reports(QStringLiteral("b")).size() >= 2; }, 15000),
             qPrintable(pilot.output()));
    QCOMPARE(sim.identifiedAt(QStringLiteral("c")), qint64(-1));

    // A third device arrives.
    const qint64 plugged = e2eNow();
    QVERIFY(sim.plug(QStringLiteral("c")));
    QVERIFY(e2eWaitFor([&] { return !sim.reportsSince(plugged, QStringLiteral("c")).isEmpty(); }, 5000));
    const qint64 served = sim.reportsSince(plugged, QStringLiteral("c")).first().atMs - plugged;
    QVERIFY2(sim.identifiedAt(QStringLiteral("c"), plugged) >= 0, "identified before served");
    // Noticing the socket, identifying it and the next pass of the sender.
    qInfo("third device served %lld ms after it was plugged", served);
    QVERIFY2(served <= 1000, qPrintable(QStringLiteral("first report after %1 ms").arg(served)));
    // It joins the passes: from its first report on, each pass serves all
    // three once.
    QVERIFY(e2eWaitFor([&] { return sim.reportsSince(plugged, QStringLiteral("c")).size() >= 3; }, 5000));
    const qint64 firstC = sim.reportsSince(plugged, QStringLiteral("c")).first().atMs;
    const QList<QStringList> passes = e2ePasses(sim.reportsSince(firstC - 100));
    QVERIFY(passes.size() >= 3);
    for (const QStringList& pass : passes)
        QCOMPARE(pass, (QStringList{"a", "b", "c"}));

    // All gone: the reports stop.
    for (const QString& name : {QStringLiteral("a"), QStringLiteral("b"), QStringLiteral("c")})
        QVERIFY(sim.unplug(name));
    // A pass already under way may still end; after that, silence.
    QTest::qWait(700);
    const qint64 quietFrom = e2eNow();
    QTest::qWait(2000);
    QCOMPARE(sim.reportsSince(quietFrom).size(), 0);
    QVERIFY(pilot.isRunning());

    // One comes back: reports resume, to it alone.
    const qint64 back = e2eNow();
    QVERIFY(sim.plug(QStringLiteral("b")));
    QVERIFY(e2eWaitFor([&] { return sim.reportsSince(back).size() >= 2; }, 5000));
    QVERIFY2(sim.reportsSince(back).first().atMs - back <= 1000,
             qPrintable(QString::number(sim.reportsSince(back).first().atMs - back)));
    for (const SeenReport& report : sim.reportsSince(back))
        QCOMPARE(report.device, QStringLiteral("b"));
}

void TestE2eHotplug::faultOnOneDeviceDoesNotHoldUpTheOther_data()
{
    QTest::addColumn<QString>("fault");
    QTest::addColumn<QString>("logged");
    QTest::newRow("refuse") << QStringLiteral("refuse") << QStringLiteral("reply error");
    QTest::newRow("silent") << QStringLiteral("silent") << QStringLiteral("no answer within");
    QTest::newRow("slow") << QStringLiteral("slow:900") << QString();
    QTest::newRow("drop") << QStringLiteral("drop") << QStringLiteral("Device disconnected");
    // Reads nothing: each write to it waits out the 5 s time-out.
    QTest::newRow("stalled write") << QStringLiteral("stall") << QString();
    // Sends unasked reports of mixed ids as fast as they are read.
    QTest::newRow("flood") << QStringLiteral("flood") << QString();
}

void TestE2eHotplug::faultOnOneDeviceDoesNotHoldUpTheOther()
{
    QFETCH(QString, fault);
    QFETCH(QString, logged);

    DevsimDriver sim;
    QVERIFY(sim.start({QStringLiteral("a"), QStringLiteral("b")}));
    Pilot pilot;
    QVERIFY(pilot.start(sim.directory()));
    QVERIFY2(e2eWaitFor([&] { return sim.reports(QStringLiteral("b")).size() >= 2; }, 15000),
             qPrintable(pilot.output()));

    const qint64 faulty = e2eNow();
    sim.command(QStringLiteral("fault a ") + fault);
    QTest::qWait(5000);
    const QList<SeenReport> healthy = sim.reportsSince(faulty, QStringLiteral("b"));
    // The faulty device's exchanges run beside the healthy one's: its pace
    // stays the 500 ms period (a pass that waited for the faulty device's
    // time-out would make it 1.5 s).
    QVERIFY2(healthy.size() >= 8, qPrintable(QString::number(healthy.size())));
    const qint64 longest = longestGap(healthy);
    qInfo("longest gap of the healthy device: %lld ms", longest);
    QVERIFY2(longest <= 500 + 400, qPrintable(QStringLiteral("longest gap %1 ms").arg(longest)));
    // The faulty device is still tried, once its last exchange has ended.
    if (fault != QLatin1String("stall"))
        QVERIFY(sim.reportsSince(faulty, QStringLiteral("a")).size() >= 2);
    const QString log = pilot.readLog();
    if (!logged.isEmpty()) {
        QVERIFY2(log.contains(logged), qPrintable(log.right(2000)));
        QVERIFY(log.contains(sim.devicePath(QStringLiteral("a"))));
    }
    QVERIFY(!log.contains(QStringLiteral("Device Path: ") + sim.devicePath(QStringLiteral("b"))));

    // Healed, it is served as before (a stalled write ends at its time-out).
    sim.command(QStringLiteral("fault a none"));
    QTest::qWait(fault == QLatin1String("stall") ? 5500 : 1500);
    const qint64 healed = e2eNow();
    QTest::qWait(2000);
    const QList<SeenReport> both = sim.reportsSince(healed);
    QVERIFY(both.size() >= 4);
    QVERIFY(longestGap(sim.reportsSince(healed, QStringLiteral("a"))) < 1000);
    QVERIFY(pilot.isRunning());
}

QTEST_GUILESS_MAIN(TestE2eHotplug)
#include "tst_e2e_hotplug.moc"
