// The program's life as a process: first start, a second start, and the
// end by SIGTERM, judged by the files it leaves and its exit.

#include "app/common.h"
#include "e2eprocesses.h"
#include "ftpserver.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSettings>
#include <QTest>

namespace {

const QString kAutostartReady = QStringLiteral("CommonTools::SetTaskEnabledState()");

// Every line of a run log after its four-line header is one entry, or the
// continuation of an entry whose message has a line feed.
void verifyRunLog(const QString& log)
{
    QVERIFY2(log.endsWith(QLatin1Char('\n')), "the last line is complete");
    const QStringList lines = log.split(QLatin1Char('\n'), Qt::KeepEmptyParts);
    QVERIFY(lines.size() > 5);
    QVERIFY(lines.at(0).startsWith(QLatin1String("****")));
    QVERIFY(lines.at(1).contains(QLatin1String("Running Log Information")));
    QVERIFY(lines.at(2).contains(
        QRegularExpression(QStringLiteral("BuildTime:\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d"))));
    QVERIFY(lines.at(3).startsWith(QLatin1String("****")));
    static const QRegularExpression entry(QStringLiteral(
        "^\\[\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d\\] \\[[A-Za-z ]{8}\\] \\w+::\\w+\\(\\): .*$"));
    static const QRegularExpression continuation(QStringLiteral("^ VID: "));
    for (int i = 4; i < lines.size() - 1; ++i) {
        const QString& line = lines.at(i);
        QVERIFY2(entry.match(line).hasMatch() || continuation.match(line).hasMatch(), qPrintable(line));
    }
}

} // namespace

class TestE2eLifecycle : public QObject
{
    Q_OBJECT

private slots:
    void firstStartWritesAutostartEntrySettingsAndRunLog();
    void secondStartExitsZeroAndLeavesFirstRunning();
    void sigtermEndsWithinTwoSecondsWhateverTheDevicesDoAndLeavesNothingBehind_data();
    void sigtermEndsWithinTwoSecondsWhateverTheDevicesDoAndLeavesNothingBehind();
    void manySilentInterfacesBlockNeitherASecondStartNorTheExit();
    void automaticUpdateCheckSetsReminderThenOffersWhenDue();
};

void TestE2eLifecycle::firstStartWritesAutostartEntrySettingsAndRunLog()
{
    Pilot pilot;
    QVERIFY(pilot.isValid());
    QVERIFY(pilot.start(QString()));
    QVERIFY2(e2eWaitFor([&] { return pilot.readLog().contains(kAutostartReady); }, 15000),
             qPrintable(pilot.output()));
    // The sensor search runs on a pool thread; give it a few read cycles.
    QTest::qWait(1200);

    const QString program = QFileInfo(e2eBinPath(QStringLiteral("varnoks-pilot"))).absoluteFilePath();
    QFile entry(pilot.autostartPath());
    QVERIFY2(entry.open(QIODevice::ReadOnly), qPrintable(pilot.autostartPath()));
    const QString text = QString::fromUtf8(entry.readAll());
    QVERIFY(text.startsWith(QLatin1String("[Desktop Entry]\n")));
    QVERIFY2(text.contains(QStringLiteral("\nExec=\"%1\"\n").arg(program)), qPrintable(text));
    QVERIFY(text.contains(QLatin1String("\nType=Application\n")));
    QVERIFY(text.contains(QLatin1String("\nX-GNOME-Autostart-Delay=6\n")));
    QVERIFY(text.contains(QLatin1String("\nX-GNOME-Autostart-enabled=true\n")));
    QVERIFY(!text.contains(QLatin1String("Hidden=true")));

    {
        QSettings settings(pilot.settingsPath(), QSettings::IniFormat);
        QCOMPARE(settings.status(), QSettings::NoError);
        // The settings dialog stores the start-up choice once it is built: 0 is "yes".
        QCOMPARE(settings.value(QStringLiteral("startup")).toString(), QStringLiteral("0"));
    }

    const QString log = pilot.readLog();
    QVERIFY2(log.contains(QLatin1String("Task successfully added")), qPrintable(log));
    QVERIFY2(!log.contains(QLatin1String("CANNOT LOAD")) && !log.contains(QLatin1String("INIT FAILED")),
             qPrintable(log));
    QVERIFY(pilot.isRunning());

    QVERIFY(pilot.terminate(2000) >= 0);
    QCOMPARE(pilot.exitStatus(), QProcess::NormalExit);
    QCOMPARE(pilot.exitCode(), 0);
    verifyRunLog(pilot.readLog());
}

void TestE2eLifecycle::secondStartExitsZeroAndLeavesFirstRunning()
{
    std::unique_ptr<DevsimDriver> sim;
    if (DevsimDriver::available()) {
        sim = std::make_unique<DevsimDriver>();
        QVERIFY(sim->start({QStringLiteral("a")}));
    }
    Pilot pilot;
    QVERIFY(pilot.start(sim ? sim->directory() : QString()));
    QVERIFY2(e2eWaitFor([&] { return pilot.readLog().contains(kAutostartReady); }, 15000),
             qPrintable(pilot.output()));

    // The later copy still makes sure the logon entry exists.
    QVERIFY(QFile::remove(pilot.autostartPath()));
    QCOMPARE(pilot.runAnother(sim ? sim->directory() : QString(), 10000), 0);
    QVERIFY(QFileInfo::exists(pilot.autostartPath()));

    QTest::qWait(300);
    QVERIFY(pilot.isRunning());
    if (sim) {
        const qint64 after = e2eNow();
        QVERIFY2(e2eWaitFor([&] { return sim->reportsSince(after, QStringLiteral("a")).size() >= 2; }, 5000),
                 "the first copy goes on serving the device");
        // One identification only: the later copy never reached the device.
        QCOMPARE(sim->identifiedAt(QStringLiteral("a"), sim->identifiedAt(QStringLiteral("a")) + 1),
                 qint64(-1));
    }
    // The later copy built no settings dialog of its own.
    QCOMPARE(pilot.readLog().count(kAutostartReady), 1);
}

void TestE2eLifecycle::sigtermEndsWithinTwoSecondsWhateverTheDevicesDoAndLeavesNothingBehind_data()
{
    QTest::addColumn<QString>("fault");
    QTest::newRow("silent device") << QStringLiteral("silent");
    // A write stuck until the device's time-out (5 s), as on a stalled
    // USB endpoint: the worker is given up, not waited for.
    QTest::newRow("write stuck in a stalled device") << QStringLiteral("stall");
}

void TestE2eLifecycle::sigtermEndsWithinTwoSecondsWhateverTheDevicesDoAndLeavesNothingBehind()
{
    QFETCH(QString, fault);
    if (!DevsimDriver::available())
        QSKIP("varnoks-devsim is not built");
    DevsimDriver sim;
    QVERIFY(sim.start({QStringLiteral("a"), QStringLiteral("b")}));
    Pilot pilot;
    QVERIFY(pilot.start(sim.directory()));
    QVERIFY2(e2eWaitFor([&] { return sim.reports(QStringLiteral("b")).size() >= 2; }, 15000),
             qPrintable(pilot.output()));

    // Let an exchange get stuck waiting for the silent device's answer, or
    // inside the write to the stalled one.
    sim.command(QStringLiteral("fault a ") + fault);
    const qint64 faulty = e2eNow();
    if (fault == QLatin1String("silent"))
        QVERIFY(e2eWaitFor([&] { return !sim.reportsSince(faulty, QStringLiteral("a")).isEmpty(); }, 3000));
    else
        QTest::qWait(700);
    QTest::qWait(100);

    const qint64 took = pilot.terminate(4000);
    QVERIFY2(took >= 0 && took <= 2000, qPrintable(QStringLiteral("ended after %1 ms").arg(took)));
    QCOMPARE(pilot.exitStatus(), QProcess::NormalExit);
    QCOMPARE(pilot.exitCode(), 0);
    const QString output = pilot.output();
    QVERIFY2(!output.contains(QLatin1String("Destroyed while thread")), qPrintable(output));

    // Nothing is served once it has gone.
    const qint64 gone = e2eNow();
    QTest::qWait(800);
    QCOMPARE(sim.reportsSince(gone).size(), 0);

    verifyRunLog(pilot.readLog());
    QSettings settings(pilot.settingsPath(), QSettings::IniFormat);
    QCOMPARE(settings.status(), QSettings::NoError);
    QCOMPARE(settings.value(QStringLiteral("startup")).toString(), QStringLiteral("0"));
    // No temporary or lock files next to the settings and the logon entry,
    // and the single-instance socket is gone.
    QCOMPARE(QDir(pilot.configHome() + QStringLiteral("/KR_alvo")).entryList(QDir::Files),
             QStringList{QStringLiteral("VarnoksPilot.conf")});
    QCOMPARE(QDir(pilot.configHome() + QStringLiteral("/autostart")).entryList(QDir::Files),
             QStringList{QStringLiteral("DeviceMonitorStartTask.desktop")});
    QCOMPARE(QDir(pilot.root() + QStringLiteral("/runtime"))
                 .entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::System),
             QStringList());
}

void TestE2eLifecycle::manySilentInterfacesBlockNeitherASecondStartNorTheExit()
{
    if (!DevsimDriver::available())
        QSKIP("varnoks-devsim is not built");
    // 50 interfaces that never answer the identification request: one after
    // another on the GUI thread that would be 50 s of a frozen program.
    QStringList devices;
    for (int i = 0; i < 50; ++i)
        devices.append(QStringLiteral("s%1,fault=silent").arg(i, 2, 10, QLatin1Char('0')));
    devices.append(QStringLiteral("well"));
    DevsimDriver sim;
    QVERIFY(sim.start(devices));
    Pilot pilot;
    QVERIFY(pilot.start(sim.directory()));
    QVERIFY2(e2eWaitFor([&] { return sim.identifiedAt(QStringLiteral("s07")) >= 0; }, 15000),
             qPrintable(pilot.output()));
    // The one that answers, last in the scan, is not queued behind the
    // silent ones' time-outs (in turn, eight at a time, that took 6 s).
    const qint64 asked = sim.identifiedAt(QStringLiteral("s00"));
    QVERIFY(e2eWaitFor([&] { return !sim.reports(QStringLiteral("well")).isEmpty(); }, 10000));
    const qint64 identified = sim.identifiedAt(QStringLiteral("well")) - asked;
    const qint64 served = sim.reports(QStringLiteral("well")).first().atMs - asked;
    qInfo("the answering interface was asked %lld ms and served %lld ms after the first silent one",
          identified, served);
    QVERIFY2(identified < 1000 && served < 4000, qPrintable(QString::number(served)));

    // The running copy answers a second start while the identifications go on.
    const qint64 before = e2eNow();
    QCOMPARE(pilot.runAnother(sim.directory(), 10000), 0);
    qInfo("second start ended after %lld ms", e2eNow() - before);

    const qint64 took = pilot.terminate(4000);
    qInfo("SIGTERM to exit: %lld ms", took);
    QVERIFY2(took >= 0 && took <= 2000, qPrintable(QStringLiteral("ended after %1 ms").arg(took)));
    QCOMPARE(pilot.exitCode(), 0);
}

void TestE2eLifecycle::automaticUpdateCheckSetsReminderThenOffersWhenDue()
{
    if (!FtpServer::available())
        QSKIP("pyftpdlib is not installed");
    QTemporaryDir serverRoot;
    const QString updateDir = serverRoot.path() + COMMON::FTP_UPDATE_DIR;
    QVERIFY(QDir().mkpath(updateDir + QStringLiteral("/V1.0.4.2")));
    QVERIFY(QDir().mkpath(updateDir + QStringLiteral("/V1.0.5.0")));
    // Neither a lower-case name nor a file counts as a published version.
    QVERIFY(QDir().mkpath(updateDir + QStringLiteral("/v2.0.0.0")));
    QFile notADirectory(updateDir + QStringLiteral("/V9.0.0.0"));
    QVERIFY(notADirectory.open(QIODevice::WriteOnly));
    notADirectory.close();
    FtpServer server;
    FtpServer::Options options;
    options.root = serverRoot.path();
    options.user = COMMON::FTP_USER;
    options.password = COMMON::FTP_PASSWORD;
    QVERIFY2(server.start(options), qPrintable(server.errorString()));
    const QString address = QStringLiteral("%1:%2").arg(server.host()).arg(server.port());

    Pilot pilot;
    const auto stored = [&](const QString& key) {
        QSettings settings(pilot.settingsPath(), QSettings::IniFormat);
        return settings.value(key).toString();
    };
    const qint64 now = QDateTime::currentSecsSinceEpoch();

    // First start, no reminder pending: the automatic check remembers the
    // newest version and sets a reminder for later instead of asking now.
    QVERIFY(pilot.start(QString(), address));
    QVERIFY2(
        e2eWaitFor([&] { return stored(COMMON::KEY_UPGRADE_VERSION) == QLatin1String("V1.0.5.0"); }, 15000),
        qPrintable(stored(COMMON::KEY_UPGRADE_VERSION) + QLatin1Char('\n') + pilot.readLog()));
    QVERIFY2(stored(COMMON::KEY_NEXT_UPGRADE_TIME).toLongLong() > now,
             qPrintable(stored(COMMON::KEY_NEXT_UPGRADE_TIME)));
    QVERIFY(!pilot.readLog().contains(QLatin1String("FTP command Failed")));
    QVERIFY(pilot.terminate(2000) >= 0);
    QCOMPARE(pilot.exitCode(), 0);

    // The reminder is due at the next start: the check offers the version
    // at once (a modal question) and moves the reminder on.
    pilot.setSetting(COMMON::KEY_NEXT_UPGRADE_TIME, 1000);
    QVERIFY(pilot.start(QString(), address));
    QVERIFY2(e2eWaitFor([&] { return stored(COMMON::KEY_NEXT_UPGRADE_TIME).toLongLong() > now; }, 15000),
             qPrintable(stored(COMMON::KEY_NEXT_UPGRADE_TIME) + QLatin1Char('\n') + pilot.readLog()));
    QCOMPARE(stored(COMMON::KEY_UPGRADE_VERSION), QStringLiteral("V1.0.5.0"));

    // SIGTERM ends the program with the question still open.
    QTest::qWait(300);
    QVERIFY(pilot.isRunning());
    const qint64 took = pilot.terminate(4000);
    QVERIFY2(took >= 0 && took <= 2000, qPrintable(QStringLiteral("ended after %1 ms").arg(took)));
    QCOMPARE(pilot.exitStatus(), QProcess::NormalExit);
    QCOMPARE(pilot.exitCode(), 0);
}

QTEST_GUILESS_MAIN(TestE2eLifecycle)
#include "tst_e2e_lifecycle.moc"
