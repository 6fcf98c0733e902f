// The running program seen from its devices: what each simulated display
// receives, in which order, how often, and what it is told to show.

#include "app/common.h"
#include "e2eprocesses.h"
#include "ftpserver.h"

#include <QTemporaryDir>
#include <QTest>

#include <algorithm>

namespace {

// The alarm flag a report must carry for the values it carries, with the
// default thresholds (90, 90, 300), which apply in the unit in use.
int expectedAlarm(const SeenReport& report)
{
    switch (report.item) {
    case 1:
        return report.cpu >= 90 ? 1 : 0;
    case 4:
        return report.gpu >= 90 ? 4 : 0;
    case 16:
        return report.fan <= 300 ? 16 : 0;
    default:
        return 0;
    }
}

QList<qint64> gapsOf(const QList<SeenReport>& reports)
{
    QList<qint64> gaps;
    for (int i = 1; i < reports.size(); ++i)
        gaps.append(reports.at(i).atMs - reports.at(i - 1).atMs);
    return gaps;
}

qint64 median(QList<qint64> values)
{
    if (values.isEmpty())
        return -1;
    std::sort(values.begin(), values.end());
    return values.at(values.size() / 2);
}

} // namespace

class TestE2eReports : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void bothDevicesIdentifiedThenServedOncePerPassEveryHalfSecond();
    void rotationFollowsConfiguredIntervalInFahrenheit();
    void fixtureCrossingThresholdsRaisesAlarms();
    void rotationStartsOnGpuThenFanThenCpu_data();
    void rotationStartsOnGpuThenFanThenCpu();

private:
    QTemporaryDir m_ftpRoot;
    FtpServer m_ftp;
    QString m_updateServer;
};

void TestE2eReports::initTestCase()
{
    // An update server on loopback with nothing newer than this version, so
    // the program's automatic check finds its peer and stays quiet.
    if (FtpServer::available()) {
        QVERIFY(QDir().mkpath(m_ftpRoot.path() + COMMON::FTP_UPDATE_DIR + QLatin1Char('/') +
                              COMMON::SOFTWARE_VERSION));
        FtpServer::Options options;
        options.root = m_ftpRoot.path();
        options.user = COMMON::FTP_USER;
        options.password = COMMON::FTP_PASSWORD;
        QVERIFY2(m_ftp.start(options), qPrintable(m_ftp.errorString()));
        m_updateServer = QStringLiteral("%1:%2").arg(m_ftp.host()).arg(m_ftp.port());
    }
}

void TestE2eReports::init()
{
    if (!DevsimDriver::available())
        QSKIP("varnoks-devsim is not built");
}

void TestE2eReports::bothDevicesIdentifiedThenServedOncePerPassEveryHalfSecond()
{
    DevsimDriver sim;
    // Given out of path order: the program serves them sorted by path.
    QVERIFY(sim.start({QStringLiteral("beta"), QStringLiteral("alpha,sw=2.3,hw=0.7")}));
    Pilot pilot;
    QVERIFY(pilot.writeFixture(61.7, 45.2, 1480));
    QVERIFY(pilot.start(sim.directory(), m_updateServer));

    QVERIFY2(e2eWaitFor([&] { return sim.reports(QStringLiteral("beta")).size() >= 9; }, 15000),
             qPrintable(pilot.output()));

    for (const QString& name : {QStringLiteral("alpha"), QStringLiteral("beta")}) {
        const qint64 identified = sim.identifiedAt(name);
        QVERIFY2(identified >= 0, qPrintable(name));
        QVERIFY(sim.reports(name).first().atMs >= identified);
    }

    // Every pass serves each device once; passes follow each other. (The
    // first pass may come before one of the identifications ended.)
    const QList<QStringList> passes = e2ePasses(sim.reports());
    QVERIFY(passes.size() >= 8);
    for (int i = 1; i < passes.size(); ++i)
        QCOMPARE(passes.at(i), (QStringList{"alpha", "beta"}));

    for (const QString& name : {QStringLiteral("alpha"), QStringLiteral("beta")}) {
        const QList<SeenReport> reports = sim.reports(name);
        const QList<qint64> gaps = gapsOf(reports);
        const qint64 typical = median(gaps);
        QVERIFY2(typical >= 400 && typical <= 750,
                 qPrintable(QStringLiteral("median gap %1 ms").arg(typical)));
        const qint64 longest = *std::max_element(gaps.begin(), gaps.end());
        qInfo("%s: median gap %lld ms, longest %lld ms", qPrintable(name), typical, longest);
        QVERIFY2(longest < 2000, qPrintable(QStringLiteral("longest gap %1 ms").arg(longest)));
        for (const SeenReport& report : reports) {
            // The fixture's values, truncated to whole degrees; no usage is measured.
            QCOMPARE(report.cpu, 61);
            QCOMPARE(report.gpu, 45);
            QCOMPARE(report.fan, 1480);
            QCOMPARE(report.cpuUsage, 0);
            QCOMPARE(report.gpuUsage, 0);
            QVERIFY(!report.fahrenheit);
            QVERIFY2(report.item == 1 || report.item == 4 || report.item == 16,
                     qPrintable(QString::number(report.item)));
            QCOMPARE(report.alarm, 0);
        }
        // Both devices always show the same reading in one pass.
    }
    const QList<SeenReport> alpha = sim.reports(QStringLiteral("alpha"));
    const QList<SeenReport> beta = sim.reports(QStringLiteral("beta"));
    int sameItem = 0;
    for (int i = 0; i < qMin(alpha.size(), beta.size()); ++i)
        sameItem += alpha.at(i).item == beta.at(i).item ? 1 : 0;
    // A rotation step may fall between the two reports of one pass, rarely.
    QVERIFY(sameItem >= qMin(alpha.size(), beta.size()) - 2);
}

void TestE2eReports::rotationFollowsConfiguredIntervalInFahrenheit()
{
    DevsimDriver sim;
    QVERIFY(sim.start({QStringLiteral("one")}));
    Pilot pilot;
    QVERIFY(pilot.writeFixture(61.7, 45.2, 1480));
    pilot.setSetting(QStringLiteral("change interval"), 1);
    pilot.setSetting(QStringLiteral("temperature unit"), 1);
    QVERIFY(pilot.start(sim.directory(), m_updateServer));

    QVERIFY2(e2eWaitFor([&] { return sim.reports().size() >= 14; }, 15000), qPrintable(pilot.output()));
    const QList<SeenReport> reports = sim.reports();

    // Runs of one item, with the time each began.
    QList<QPair<int, qint64>> runs;
    for (const SeenReport& report : reports) {
        QVERIFY(report.fahrenheit);
        QCOMPARE(report.cpu, 141); // 61 * 9 / 5 + 32, truncated
        QCOMPARE(report.gpu, 113); // 45 * 9 / 5 + 32
        QCOMPARE(report.fan, 1480);
        // The thresholds are Fahrenheit now too: 141 and 113 are above 90.
        QCOMPARE(report.alarm, expectedAlarm(report));
        if (runs.isEmpty() || runs.last().first != report.item)
            runs.append(qMakePair(report.item, report.atMs));
    }
    QVERIFY2(runs.size() >= 5, qPrintable(QString::number(runs.size())));
    for (int i = 1; i < runs.size(); ++i) {
        const int previous = runs.at(i - 1).first;
        const int next = previous == 1 ? 4 : previous == 4 ? 16 : 1;
        QCOMPARE(runs.at(i).first, next);
    }
    // Whole runs (not the first, not the last) last about one second; the
    // default would be two.
    QList<qint64> lengths;
    for (int i = 2; i < runs.size(); ++i)
        lengths.append(runs.at(i).second - runs.at(i - 1).second);
    qint64 sum = 0;
    for (qint64 length : lengths)
        sum += length;
    const qint64 mean = sum / lengths.size();
    QVERIFY2(mean >= 700 && mean <= 1400, qPrintable(QStringLiteral("mean run %1 ms").arg(mean)));
}

void TestE2eReports::fixtureCrossingThresholdsRaisesAlarms()
{
    DevsimDriver sim;
    QVERIFY(sim.start({QStringLiteral("one")}));
    Pilot pilot;
    QVERIFY(pilot.writeFixture(61.7, 45.2, 1480));
    pilot.setSetting(QStringLiteral("change interval"), 1);
    QVERIFY(pilot.start(sim.directory(), m_updateServer));
    QVERIFY2(e2eWaitFor([&] { return sim.reports().size() >= 3; }, 15000), qPrintable(pilot.output()));

    const qint64 changed = e2eNow();
    QVERIFY(pilot.writeFixture(95.4, 92, 250));

    // The CPU temperature climbs by at most 8.8 degrees per read; every
    // item must be seen in alarm within a few rotations.
    const auto seenInAlarm = [&](int item) {
        for (const SeenReport& report : sim.reportsSince(changed))
            if (report.item == item && report.alarm == item)
                return true;
        return false;
    };
    QVERIFY2(e2eWaitFor([&] { return seenInAlarm(1) && seenInAlarm(4) && seenInAlarm(16); }, 15000),
             qPrintable(pilot.output()));

    bool climbed = false;
    for (const SeenReport& report : sim.reports()) {
        QCOMPARE(report.alarm, expectedAlarm(report));
        climbed = climbed || (report.cpu > 61 && report.cpu < 95);
    }
    QVERIFY(climbed);
    QCOMPARE(sim.reports().last().cpu, 95);
    QCOMPARE(sim.reports().last().gpu, 92);
    QCOMPARE(sim.reports().last().fan, 250);
}

void TestE2eReports::rotationStartsOnGpuThenFanThenCpu_data()
{
    QTest::addColumn<int>("plugAfterMs"); // -1: plugged before the start
    QTest::addColumn<bool>("replug");     // the display goes and comes back first

    QTest::newRow("display there at start") << -1 << false;
    QTest::newRow("display plugged after start") << 1500 << false;
    QTest::newRow("display plugged again after it went") << -1 << true;
}

// Default settings: whenever the first display appears, it shows the GPU
// temperature, then the fan, then the CPU temperature.
void TestE2eReports::rotationStartsOnGpuThenFanThenCpu()
{
    QFETCH(int, plugAfterMs);
    QFETCH(bool, replug);
    DevsimDriver sim;
    QVERIFY(sim.start({QStringLiteral("one")}));
    if (plugAfterMs >= 0)
        QVERIFY(sim.unplug(QStringLiteral("one")));
    Pilot pilot;
    QVERIFY(pilot.writeFixture(61.7, 45.2, 1480));
    QVERIFY(pilot.start(sim.directory(), m_updateServer));
    if (plugAfterMs >= 0) {
        QTest::qWait(plugAfterMs);
        QVERIFY(sim.plug(QStringLiteral("one")));
    }
    if (replug) {
        // Served for a while (the rotation moves on), then gone and back.
        QVERIFY2(e2eWaitFor([&] { return sim.reports().size() >= 5; }, 15000), qPrintable(pilot.output()));
        QVERIFY(sim.unplug(QStringLiteral("one")));
        QTest::qWait(1000);
        sim.clearLines();
        QVERIFY(sim.plug(QStringLiteral("one")));
    }

    QList<int> items;
    const auto distinctItems = [&] {
        items.clear();
        for (const SeenReport& report : sim.reports())
            if (items.isEmpty() || items.last() != report.item)
                items.append(report.item);
        return items.size() >= 3;
    };
    QVERIFY2(e2eWaitFor(distinctItems, 20000), qPrintable(pilot.output()));
    QCOMPARE(items.mid(0, 3), (QList<int>{4, 16, 1}));
}

QTEST_GUILESS_MAIN(TestE2eReports)
#include "tst_e2e_reports.moc"
