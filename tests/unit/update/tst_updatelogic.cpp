#include "app/common.h"
#include "update/packagesignature.h"
#include "update/reachabilityprobe.h"
#include "update/updatelogic.h"

#include <QElapsedTimer>
#include <QFile>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

Q_DECLARE_METATYPE(UpgradeAction)
Q_DECLARE_METATYPE(UpgradeTimeState)

using namespace UpdateLogic;

class TestUpdateLogic : public QObject
{
    Q_OBJECT

private slots:
    void decisionTableCoversEveryCombination_data();
    void decisionTableCoversEveryCombination();
    void storedReminderTimeIsClassified_data();
    void storedReminderTimeIsClassified();
    void reminderDelayStaysWithinThirteenDays_data();
    void reminderDelayStaysWithinThirteenDays();
    void drawnReminderIsRepeatableForTheSameMillisecond();
    void versionNamesFromListingsAreFiltered_data();
    void versionNamesFromListingsAreFiltered();
    void newestVersionIsChosenNumerically_data();
    void newestVersionIsChosenNumerically();
    void onlyVersionsAboveTheRunningOneCount_data();
    void onlyVersionsAboveTheRunningOneCount();
    void pingReplyMarkerIgnoresCase_data();
    void pingReplyMarkerIgnoresCase();
    void updateServerValueIsParsed_data();
    void updateServerValueIsParsed();
    void signatureAndKeyFilesAreReadStrictly_data();
    void signatureAndKeyFilesAreReadStrictly();
    void environmentOverridesTheDefaultServer();
    void probeReportsReachabilityFromPingOutput_data();
    void probeReportsReachabilityFromPingOutput();
    void probeGivesUpOnAHangingPing();
    void probeHostIsNeverTakenAsAnOption();
    void probeWithoutHostFailsWithoutRunningPing();
    void systemPingReachesLoopback();
};

void TestUpdateLogic::decisionTableCoversEveryCombination_data()
{
    QTest::addColumn<bool>("bAuto");
    QTest::addColumn<bool>("bHasNew");
    QTest::addColumn<UpgradeTimeState>("state");
    QTest::addColumn<UpgradeAction>("action");
    using A = UpgradeAction;
    QTest::newRow("user, none, not due") << false << false << NotDue << A::UpToDate;
    QTest::newRow("user, none, due") << false << false << Due << A::UpToDate;
    QTest::newRow("user, none, none pending") << false << false << NonePending << A::UpToDate;
    QTest::newRow("user, new, not due") << false << true << NotDue << A::OfferNow;
    QTest::newRow("user, new, due") << false << true << Due << A::OfferNow;
    QTest::newRow("user, new, none pending") << false << true << NonePending << A::OfferNow;
    QTest::newRow("auto, none, not due") << true << false << NotDue << A::ClearReminder;
    QTest::newRow("auto, none, due") << true << false << Due << A::ClearReminder;
    QTest::newRow("auto, none, none pending") << true << false << NonePending << A::Nothing;
    QTest::newRow("auto, new, not due") << true << true << NotDue << A::Wait;
    QTest::newRow("auto, new, due") << true << true << Due << A::OfferNow;
    QTest::newRow("auto, new, none pending") << true << true << NonePending << A::RemindLater;
}

void TestUpdateLogic::decisionTableCoversEveryCombination()
{
    QFETCH(bool, bAuto);
    QFETCH(bool, bHasNew);
    QFETCH(UpgradeTimeState, state);
    QFETCH(UpgradeAction, action);
    QCOMPARE(decideUpgradeAction(bAuto, bHasNew, state), action);
}

void TestUpdateLogic::storedReminderTimeIsClassified_data()
{
    QTest::addColumn<QString>("stored");
    QTest::addColumn<qint64>("now");
    QTest::addColumn<UpgradeTimeState>("state");
    const qint64 now = 1800000000;
    QTest::newRow("sentinel") << "998" << now << NonePending;
    QTest::newRow("sentinel even when now is earlier") << "998" << qint64(10) << NonePending;
    QTest::newRow("one second ahead") << QString::number(now + 1) << now << NotDue;
    QTest::newRow("exactly now is not yet due") << QString::number(now) << now << NotDue;
    QTest::newRow("one second past") << QString::number(now - 1) << now << Due;
    QTest::newRow("not a number counts as zero") << "soon" << now << Due;
    QTest::newRow("empty text") << "" << now << Due;
    QTest::newRow("beyond signed range wraps negative") << "18446744073709551615" << now << Due;
    QTest::newRow("999 is an ordinary time") << "999" << now << Due;
}

void TestUpdateLogic::storedReminderTimeIsClassified()
{
    QFETCH(QString, stored);
    QFETCH(qint64, now);
    QFETCH(UpgradeTimeState, state);
    QCOMPARE(classifyUpgradeTime(stored, now), state);
}

void TestUpdateLogic::reminderDelayStaysWithinThirteenDays_data()
{
    QTest::addColumn<int>("draw1");
    QTest::addColumn<int>("draw2");
    QTest::addColumn<qint64>("minutes");
    QTest::newRow("zero draws") << 0 << 0 << qint64(0);
    QTest::newRow("largest remainders") << 77 << 191 << qint64(19903);
    QTest::newRow("draws wrap at 78 and 192") << 78 << 192 << qint64(0);
    QTest::newRow("high part only") << 1 << 0 << qint64(256);
    QTest::newRow("RAND_MAX") << RAND_MAX << RAND_MAX << qint64((RAND_MAX % 78) * 256 + RAND_MAX % 192);
}

void TestUpdateLogic::reminderDelayStaysWithinThirteenDays()
{
    QFETCH(int, draw1);
    QFETCH(int, draw2);
    QFETCH(qint64, minutes);
    QCOMPARE(reminderDelayMinutes(draw1, draw2), minutes);
}

void TestUpdateLogic::drawnReminderIsRepeatableForTheSameMillisecond()
{
    // The generator is seeded from the clock, so the same millisecond gives
    // the same reminder, and every reminder lies in the allowed window.
    const qint64 nowMs = 1800000000123;
    const qint64 first = drawReminderTime(nowMs);
    QCOMPARE(drawReminderTime(nowMs), first);
    QSet<qint64> seen;
    for (qint64 ms = nowMs; ms < nowMs + 200; ++ms) {
        const qint64 t = drawReminderTime(ms);
        QVERIFY(t >= ms / 1000);
        QVERIFY(t <= ms / 1000 + 19903 * 60);
        QCOMPARE((t - ms / 1000) % 60, qint64(0));
        seen.insert(t);
    }
    QVERIFY2(seen.size() > 50, "reminders should spread over the window");
}

void TestUpdateLogic::versionNamesFromListingsAreFiltered_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("usable");
    QTest::newRow("plain") << "V1.0.4.3" << true;
    QTest::newRow("single number") << "V2" << true;
    QTest::newRow("beta suffix") << "V1.0.4.3-beta" << true;
    QTest::newRow("underscore and dot suffix") << "V1.0.4.3_rc.1" << true;
    QTest::newRow("lower-case v") << "v1.0.4.3" << false;
    QTest::newRow("no number") << "Vbeta" << false;
    QTest::newRow("bare V") << "V" << false;
    QTest::newRow("dot right after V") << "V.1" << false;
    QTest::newRow("slash") << "V1.0/evil" << false;
    QTest::newRow("parent path") << "V1/../../etc" << false;
    QTest::newRow("double dot suffix") << "V1.0..x" << false;
    QTest::newRow("backslash") << "V1.0\\x" << false;
    QTest::newRow("blank") << "V1.0 x" << false;
    QTest::newRow("newline") << "V1.0\nx" << false;
    QTest::newRow("trailing newline") << "V1.0\n" << false;
    QTest::newRow("nul") << QString::fromLatin1("V1.0\0x", 6) << false;
    QTest::newRow("non-ASCII digit") << QString::fromUtf8("V1.\xd9\xa3") << false;
    QTest::newRow("64 characters") << "V1." + QString(61, QLatin1Char('1')) << true;
    QTest::newRow("65 characters") << "V1." + QString(62, QLatin1Char('1')) << false;
    QTest::newRow("empty") << "" << false;
}

void TestUpdateLogic::versionNamesFromListingsAreFiltered()
{
    QFETCH(QString, name);
    QFETCH(bool, usable);
    QCOMPARE(isUsableVersionName(name), usable);
}

void TestUpdateLogic::newestVersionIsChosenNumerically_data()
{
    QTest::addColumn<QStringList>("listing");
    QTest::addColumn<QString>("newest");
    QTest::newRow("numeric, not textual") << QStringList{"V1.0.4.9", "V1.0.4.10"} << "V1.0.4.10";
    QTest::newRow("order does not matter") << QStringList{"V1.0.4.10", "V1.0.4.9"} << "V1.0.4.10";
    QTest::newRow("suffix ignored, first of a tie stays")
        << QStringList{"V1.0.4.3-beta", "V1.0.4.3"} << "V1.0.4.3-beta";
    QTest::newRow("missing segments count as zero") << QStringList{"V1.0.4", "V1.0.4.0"} << "V1.0.4";
    QTest::newRow("hostile names skipped")
        << QStringList{"V9/../../x", "v9.0", "V1.0.4.5", "V99\n"} << "V1.0.4.5";
    QTest::newRow("nothing usable") << QStringList{"Beta", "readme.txt"} << "";
    QTest::newRow("empty listing") << QStringList{} << "";
}

void TestUpdateLogic::newestVersionIsChosenNumerically()
{
    QFETCH(QStringList, listing);
    QFETCH(QString, newest);
    QString best;
    for (const QString& name : listing)
        best = pickNewerVersionName(best, name);
    QCOMPARE(best, newest);
}

void TestUpdateLogic::onlyVersionsAboveTheRunningOneCount_data()
{
    QTest::addColumn<QString>("newest");
    QTest::addColumn<QString>("result");
    QTest::newRow("newer") << "V1.0.4.3"
                           << "V1.0.4.3";
    QTest::newRow("newer major") << "V2"
                                 << "V2";
    QTest::newRow("equal") << "V1.0.4.2"
                           << "";
    QTest::newRow("equal with trailing zero") << "V1.0.4.2.0"
                                              << "";
    QTest::newRow("older") << "V1.0.3.99"
                           << "";
    QTest::newRow("empty") << ""
                           << "";
}

void TestUpdateLogic::onlyVersionsAboveTheRunningOneCount()
{
    QFETCH(QString, newest);
    QFETCH(QString, result);
    QCOMPARE(newerThanRunning(newest, COMMON::SOFTWARE_VERSION), result);
}

void TestUpdateLogic::pingReplyMarkerIgnoresCase_data()
{
    QTest::addColumn<QByteArray>("output");
    QTest::addColumn<bool>("reply");
    QTest::newRow("linux reply") << QByteArray("64 bytes from 127.0.0.1: icmp_seq=1 ttl=64 time=0.04 ms\n")
                                 << true;
    QTest::newRow("upper case") << QByteArray("Reply from 10.0.0.1: bytes=32 time<1ms TTL=128\r\n") << true;
    QTest::newRow("no reply")
        << QByteArray("PING h (10.0.0.9) 56(84) bytes of data.\n\n2 packets transmitted, 0 received\n")
        << false;
    QTest::newRow("empty") << QByteArray() << false;
}

void TestUpdateLogic::pingReplyMarkerIgnoresCase()
{
    QFETCH(QByteArray, output);
    QFETCH(bool, reply);
    QCOMPARE(pingOutputShowsReply(output), reply);
}

namespace {

QByteArray b64(const QByteArray& bytes)
{
    return bytes.toBase64();
}

const QByteArray kKeyId = QByteArray::fromHex("0102030405060708");
const QByteArray kKeyLine = b64("Ed" + kKeyId + QByteArray(32, 'k'));
const QByteArray kSigLine = b64("ED" + kKeyId + QByteArray(64, 's'));
const QByteArray kGlobalLine = b64(QByteArray(64, 'g'));

QByteArray signatureFile(const QByteArray& sigLine = kSigLine,
                         const QByteArray& trusted = "trusted comment: t",
                         const QByteArray& globalLine = kGlobalLine)
{
    return "untrusted comment: u\n" + sigLine + "\n" + trusted + "\n" + globalLine + "\n";
}

} // namespace

void TestUpdateLogic::signatureAndKeyFilesAreReadStrictly_data()
{
    // Both files come from outside: the signature from the update server, the
    // keys from a folder an environment variable may name.
    QTest::addColumn<bool>("isKey");
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<bool>("valid");
    const QByteArray key = "untrusted comment: minisign public key\n" + kKeyLine + "\n";
    QTest::newRow("key") << true << key << true;
    QTest::newRow("key, CRLF, no final line break")
        << true << QByteArray("untrusted comment: k\r\n" + kKeyLine) << true;
    QTest::newRow("key without comment line") << true << QByteArray(kKeyLine + "\n") << false;
    QTest::newRow("key, comment without its prefix")
        << true << QByteArray("comment: k\n" + kKeyLine) << false;
    QTest::newRow("key, one byte short")
        << true << QByteArray("untrusted comment: k\n" + b64("Ed" + kKeyId + QByteArray(31, 'k'))) << false;
    QTest::newRow("key, one byte long")
        << true << QByteArray("untrusted comment: k\n" + b64("Ed" + kKeyId + QByteArray(33, 'k'))) << false;
    QTest::newRow("key of another algorithm")
        << true << QByteArray("untrusted comment: k\n" + b64("EC" + kKeyId + QByteArray(32, 'k'))) << false;
    QTest::newRow("key, blank inside the base64")
        << true << QByteArray("untrusted comment: k\n" + kKeyLine.left(10) + " " + kKeyLine.mid(10)) << false;
    QTest::newRow("key, base64 without padding")
        << true << QByteArray("untrusted comment: k\n" + kKeyLine.left(kKeyLine.indexOf('='))) << false;
    QTest::newRow("key, a third line") << true << QByteArray(key + "extra\n") << false;
    QTest::newRow("key, empty") << true << QByteArray() << false;
    QTest::newRow("key file too large")
        << true << QByteArray("untrusted comment: " + QByteArray(5000, 'x') + "\n" + kKeyLine) << false;

    QTest::newRow("prehashed signature") << false << signatureFile() << true;
    QTest::newRow("legacy signature")
        << false << signatureFile(b64("Ed" + kKeyId + QByteArray(64, 's'))) << true;
    QTest::newRow("empty trusted comment") << false << signatureFile(kSigLine, "trusted comment: ") << true;
    QTest::newRow("unknown algorithm")
        << false << signatureFile(b64("EX" + kKeyId + QByteArray(64, 's'))) << false;
    QTest::newRow("signature one byte short")
        << false << signatureFile(b64("ED" + kKeyId + QByteArray(63, 's'))) << false;
    QTest::newRow("trusted comment without its prefix")
        << false << signatureFile(kSigLine, "comment: t") << false;
    QTest::newRow("global signature one byte short")
        << false << signatureFile(kSigLine, "trusted comment: t", b64(QByteArray(63, 'g'))) << false;
    QTest::newRow("global signature missing")
        << false << QByteArray("untrusted comment: u\n" + kSigLine + "\ntrusted comment: t\n") << false;
    QTest::newRow("fifth line") << false << QByteArray(signatureFile() + "more\n") << false;
    QTest::newRow("NUL in the trusted comment")
        << false << signatureFile(kSigLine, QByteArray("trusted comment: a\0b", 20)) << false;
    QTest::newRow("carriage return inside a line")
        << false << signatureFile(kSigLine, "trusted comment: a\rb") << false;
    QTest::newRow("signature file too large")
        << false << signatureFile(kSigLine, "trusted comment: " + QByteArray(17000, 'c')) << false;
    QTest::newRow("a public key where the signature belongs") << false << key << false;
}

void TestUpdateLogic::signatureAndKeyFilesAreReadStrictly()
{
    QFETCH(bool, isKey);
    QFETCH(QByteArray, text);
    QFETCH(bool, valid);
    QString why;
    if (isKey) {
        PackageSignature::PublicKey parsed;
        QCOMPARE(PackageSignature::parsePublicKey(text, &parsed, &why), valid);
        if (valid) {
            QCOMPARE(parsed.keyId, kKeyId);
            QCOMPARE(parsed.key, QByteArray(32, 'k'));
        }
    } else {
        PackageSignature::Signature parsed;
        QCOMPARE(PackageSignature::parseSignature(text, &parsed, &why), valid);
        if (valid) {
            QCOMPARE(parsed.keyId, kKeyId);
            QCOMPARE(parsed.signature, QByteArray(64, 's'));
            QCOMPARE(parsed.globalSignature, QByteArray(64, 'g'));
            QCOMPARE(parsed.prehashed, QTest::currentDataTag() != QByteArray("legacy signature"));
        }
    }
    QCOMPARE(why.isEmpty(), valid); // a refusal always says why
    // minisign prints the id as a little-endian number.
    QCOMPARE(PackageSignature::keyIdText(kKeyId), QStringLiteral("0807060504030201"));
}

void TestUpdateLogic::updateServerValueIsParsed_data()
{
    QTest::addColumn<QString>("value");
    QTest::addColumn<bool>("valid");
    QTest::addColumn<QString>("host");
    QTest::addColumn<int>("port");
    QTest::newRow("loopback") << "127.0.0.1:2121" << true << "127.0.0.1" << 2121;
    QTest::newRow("name") << "ftp.example.org:21" << true << "ftp.example.org" << 21;
    QTest::newRow("bracketed v6") << "[::1]:40000" << true << "::1" << 40000;
    QTest::newRow("highest port") << "h:65535" << true << "h" << 65535;
    QTest::newRow("port zero") << "h:0" << false << "" << 0;
    QTest::newRow("port too large") << "h:65536" << false << "" << 0;
    QTest::newRow("no port") << "h" << false << "" << 0;
    QTest::newRow("empty host") << ":21" << false << "" << 0;
    QTest::newRow("signed port") << "h:+21" << false << "" << 0;
    QTest::newRow("bare v6") << "::1:21" << false << "" << 0;
    QTest::newRow("option-like host") << "-f:21" << false << "" << 0;
    QTest::newRow("blank in host") << "a b:21" << false << "" << 0;
    QTest::newRow("path in host") << "a/b:21" << false << "" << 0;
    QTest::newRow("user info") << "u@h:21" << false << "" << 0;
    QTest::newRow("trailing newline") << "h:21\n" << false << "" << 0;
}

void TestUpdateLogic::updateServerValueIsParsed()
{
    QFETCH(QString, value);
    QFETCH(bool, valid);
    QFETCH(QString, host);
    QFETCH(int, port);
    UpdateServer server;
    server.host = QStringLiteral("unchanged");
    server.port = 7;
    QCOMPARE(parseUpdateServer(value, &server), valid);
    QCOMPARE(server.host, valid ? host : QStringLiteral("unchanged"));
    QCOMPARE(int(server.port), valid ? port : 7);
}

void TestUpdateLogic::environmentOverridesTheDefaultServer()
{
    const QByteArray saved = qgetenv("VARNOKS_UPDATE_SERVER");
    qunsetenv("VARNOKS_UPDATE_SERVER");
    QCOMPARE(updateServer().host, COMMON::FTP_HOST);
    QCOMPARE(int(updateServer().port), 8887);
    qputenv("VARNOKS_UPDATE_SERVER", "127.0.0.1:2999");
    QCOMPARE(updateServer().host, QStringLiteral("127.0.0.1"));
    QCOMPARE(int(updateServer().port), 2999);
    qputenv("VARNOKS_UPDATE_SERVER", "127.0.0.1:99999");
    QCOMPARE(updateServer().host, COMMON::FTP_HOST);
    QCOMPARE(int(updateServer().port), 8887);
    if (saved.isNull())
        qunsetenv("VARNOKS_UPDATE_SERVER");
    else
        qputenv("VARNOKS_UPDATE_SERVER", saved);
}

namespace {

// Writes an executable shell script standing in for ping.
QString writeScript(const QTemporaryDir& dir, const QString& name, const QByteArray& body)
{
    const QString path = dir.filePath(name);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return QString();
    file.write("#!/bin/sh\n" + body);
    file.close();
    file.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    return path;
}

} // namespace

void TestUpdateLogic::probeReportsReachabilityFromPingOutput_data()
{
    QTest::addColumn<QByteArray>("script");
    QTest::addColumn<bool>("reachable");
    QTest::newRow("reply") << QByteArray("echo '64 bytes from 127.0.0.1: icmp_seq=1 ttl=64 time=0.1 ms'\n")
                           << true;
    QTest::newRow("reply, failing exit code") << QByteArray("echo 'x TTL=5'\nexit 1\n") << true;
    QTest::newRow("no reply") << QByteArray("echo '2 packets transmitted, 0 received'\nexit 1\n") << false;
    QTest::newRow("marker only on stderr") << QByteArray("echo 'ttl=1' >&2\nexit 2\n") << false;
    QTest::newRow("missing program") << QByteArray() << false;
}

namespace {

// Runs one probe to its end; -1 when finished() never came or came twice.
int probe(const QString& program, const QString& host, int timeoutMs)
{
    ReachabilityProbe probe;
    probe.setProgram(program);
    probe.setTimeout(timeoutMs);
    QSignalSpy spy(&probe, &ReachabilityProbe::finished);
    probe.start(host);
    if (!spy.wait(timeoutMs + 5000))
        return -1;
    QTest::qWait(50);
    if (spy.count() != 1 || probe.isRunning())
        return -1;
    return spy.at(0).at(0).toBool() ? 1 : 0;
}

} // namespace

void TestUpdateLogic::probeReportsReachabilityFromPingOutput()
{
    QFETCH(QByteArray, script);
    QFETCH(bool, reachable);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString program =
        script.isEmpty() ? dir.filePath(QStringLiteral("no-such-ping")) : writeScript(dir, "ping", script);
    QVERIFY(!program.isEmpty());
    QCOMPARE(probe(program, QStringLiteral("127.0.0.1"), 10000), reachable ? 1 : 0);
}

void TestUpdateLogic::probeGivesUpOnAHangingPing()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString program = writeScript(dir, "ping", "echo 'ttl=1'\nexec sleep 30\n");
    QElapsedTimer timer;
    timer.start();
    QCOMPARE(probe(program, QStringLiteral("127.0.0.1"), 500), 0);
    QVERIFY2(timer.elapsed() < 5000, "the probe must not wait beyond its limit");
}

void TestUpdateLogic::probeHostIsNeverTakenAsAnOption()
{
    // The fake ping prints its arguments; the host must come after "--" and
    // the probe must ask for two requests with a one-second wait.
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString out = dir.filePath("args");
    const QString program = writeScript(dir, "ping", "printf '%s|' \"$@\" > '" + out.toUtf8() + "'\n");
    QCOMPARE(probe(program, QStringLiteral("-f"), 10000), 0);
    QFile file(out);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), QByteArray("-c|2|-W|1|--|-f|"));
}

void TestUpdateLogic::probeWithoutHostFailsWithoutRunningPing()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString marker = dir.filePath("ran");
    const QString program = writeScript(dir, "ping", "touch '" + marker.toUtf8() + "'\necho ttl=1\n");
    QCOMPARE(probe(program, QString(), 10000), 0);
    QVERIFY(!QFile::exists(marker));
}

void TestUpdateLogic::systemPingReachesLoopback()
{
    if (QStandardPaths::findExecutable(QStringLiteral("ping")).isEmpty())
        QSKIP("no ping on this machine");
    QCOMPARE(probe(QStringLiteral("ping"), QStringLiteral("127.0.0.1"), 30000), 1);
    QCOMPARE(probe(QStringLiteral("ping"), QStringLiteral("no-such-host.invalid"), 30000), 0);
}

QTEST_GUILESS_MAIN(TestUpdateLogic)
#include "tst_updatelogic.moc"
