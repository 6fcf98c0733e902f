// The FTP client against a scripted server: reply framing, the interpreter's
// state machine, the data connection, and servers that misbehave.
#include "ftprecorder.h"
#include "logcapture.h"
#include "scriptedftpserver.h"
#include "testenv.h"
#include "update/ftp/qftp.h"

#include <QBuffer>
#include <QtTest>

using varnoks::QFtp;
using varnoks::QUrlInfo;

namespace {

const QByteArray kListing = "drwxr-xr-x 2 owner group 4096 Jan 5 10:30 V1.0.4.3\r\n"
                            "drwxr-xr-x 2 owner group 4096 Jan 5 10:30 V1.0.4.10\r\n"
                            "-rw-r--r-- 1 owner group 12 Jan 5 10:30 notes.txt\r\n";

QStringList sorted(QStringList list)
{
    list.sort();
    return list;
}

bool ipv6Available()
{
    QTcpServer probe;
    return probe.listen(QHostAddress::LocalHostIPv6);
}

} // namespace

// A receiver that connects by signature text, with the parameter type
// spelled as a user of the client spells it.
class ListReceiver : public QObject
{
    Q_OBJECT

public:
    QStringList names;
    QList<QPair<int, bool>> finished;

public slots:
    void onListInfo(const QUrlInfo& info) { names << info.name(); }
    void onCmdFinished(int id, bool error) { finished << qMakePair(id, error); }
    void onStateChanged(int) {}
};

class TestQFtpScripted : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void repliesCutAtEveryByteAreRead_data();
    void repliesCutAtEveryByteAreRead();
    void userAnsweredWith230SkipsPassword();
    void pasvWithoutParenthesesConnects();
    void pasvNamingAnotherHostConnectsToControlPeer();
    void hostilePassiveReplyFailsList_data();
    void hostilePassiveReplyFailsList();
    void refusedEpsvIsRetriedAsPasv();
    void activeModeSendsPortOnIPv4();
    void refusedEprtFallsBackToPortAndFailsCleanly();
    void transferReplyBeforeDataCloseWaitsForEveryEntry_data();
    void transferReplyBeforeDataCloseWaitsForEveryEntry();
    void failedLoginDropsQueuedList();
    void abortEndsTransferAndConnectionStaysUsable();
    void clearPendingCommandsKeepsOnlyCurrent();
    void oversizedInputFailsCommand_data();
    void oversizedInputFailsCommand();
    void controlCharactersNeverReachTexts();
    void unsafeNamesAreNotListed();
    void silentServerTimesOut_data();
    void silentServerTimesOut();
    void refusingGreetingFailsConnect();
    void droppedControlConnectionFailsCommand();
    void refusedDataConnectionFailsList();
    void missingDirectoryOnDataConnectionFailsList();
    void closeWaitsForConnectionToEnd();
    void getReportsSuccessOnlyForAWholeFile_data();
    void getReportsSuccessOnlyForAWholeFile();
    void lineBreakInArgumentIsNotSent();
    void commandIdsAreUniqueAcrossClients();
    void malformedReplyStartIsSkipped();
    void signatureTextConnectionsReachReceiver();
    void abortWhileConnectingReportsFromEventLoop();
    void abortEndsPromptly_data();
    void abortEndsPromptly();
    void endOfListingSurvivesWhatHappensOnTheWay_data();
    void endOfListingSurvivesWhatHappensOnTheWay();
    void discardSequenceIsSafeInEveryPhase_data();
    void discardSequenceIsSafeInEveryPhase();
    void receiverMayDeleteTheClientWhenTheConnectionEnds_data();
    void receiverMayDeleteTheClientWhenTheConnectionEnds();

private:
    TestEnv* m_env = nullptr;
};

void TestQFtpScripted::init()
{
    m_env = new TestEnv;
}

void TestQFtpScripted::cleanup()
{
    delete m_env;
    m_env = nullptr;
}

void TestQFtpScripted::repliesCutAtEveryByteAreRead_data()
{
    QTest::addColumn<bool>("split");
    QTest::newRow("whole writes") << false;
    QTest::newRow("one byte per write") << true;
}

void TestQFtpScripted::repliesCutAtEveryByteAreRead()
{
    QFETCH(bool, split);
    ScriptedFtpServer server;
    QVERIFY(server.isListening());
    server.setSplit(split);
    server.setGreeting("220-Welcome\r\n220-second line\r\n220 ready\r\n");
    server.setListing(kListing);
    server.setHandler([&](const QByteArray& line) {
        if (line == "PASS secret") {
            server.send("230-Hello\r\n there\r\n230-more\r\n230 Logged in\r\n");
            return true;
        }
        if (line == "NOOP") {
            server.send("200-first\r\n220 is not the end\r\n 200 nor this\r\n200 last\r\n");
            return true;
        }
        return false;
    });

    QFtp ftp;
    FtpRecorder rec(&ftp);
    QList<QPair<int, QString>> raw;
    connect(&ftp, &QFtp::rawCommandReply, this,
            [&](int code, const QString& text) { raw << qMakePair(code, text); });
    ftp.connectToHost(server.host(), server.port());
    ftp.login(QStringLiteral("user"), QStringLiteral("secret"));
    ftp.list(QStringLiteral("/ZRN"));
    ftp.rawCommand(QStringLiteral("NOOP"));
    QVERIFY(rec.waitForDone());
    QCOMPARE(rec.events().last(), QStringLiteral("done ok"));
    QCOMPARE(ftp.state(), QFtp::LoggedIn);
    QCOMPARE(sorted(rec.names()), (QStringList{"V1.0.4.10", "V1.0.4.3", "notes.txt"}));
    QCOMPARE(raw.size(), 1);
    QCOMPARE(raw.first().first, 200);
    QCOMPARE(raw.first().second, QStringLiteral("first\r\n220 is not the end\r\n 200 nor this\r\nlast"));
    QCOMPARE(server.received(),
             (QList<QByteArray>{"USER user", "PASS secret", "TYPE A", "PASV", "LIST /ZRN", "NOOP"}));
}

void TestQFtpScripted::userAnsweredWith230SkipsPassword()
{
    ScriptedFtpServer server;
    server.setHandler([&](const QByteArray& line) {
        if (line.startsWith("USER ")) {
            server.send("230 No password needed\r\n");
            return true;
        }
        return false;
    });
    QFtp ftp;
    FtpRecorder rec(&ftp);
    ftp.connectToHost(server.host(), server.port());
    const int idLogin = ftp.login();
    QVERIFY(rec.waitForDone());
    QVERIFY(rec.events().contains(QStringLiteral("finished %1 ok").arg(idLogin)));
    QCOMPARE(server.received(), QList<QByteArray>{"USER anonymous"});
    QCOMPARE(ftp.state(), QFtp::LoggedIn);
}

void TestQFtpScripted::pasvWithoutParenthesesConnects()
{
    ScriptedFtpServer server;
    server.setListing(kListing);
    server.setHandler([&](const QByteArray& line) {
        if (line == "PASV") {
            const quint16 port = server.openPassive();
            server.send("227 Entering Passive Mode 127,0,0,1," + QByteArray::number(port >> 8) + "," +
                        QByteArray::number(port & 0xff) + "\r\n");
            return true;
        }
        return false;
    });
    QFtp ftp;
    FtpRecorder rec(&ftp);
    ftp.connectToHost(server.host(), server.port());
    ftp.login(QStringLiteral("u"), QStringLiteral("p"));
    ftp.list();
    QVERIFY(rec.waitForDone());
    QCOMPARE(rec.events().last(), QStringLiteral("done ok"));
    QCOMPARE(rec.names().size(), 3);
    QCOMPARE(server.dataConnections(), 1);
}

void TestQFtpScripted::pasvNamingAnotherHostConnectsToControlPeer()
{
    LogCapture log;
    ScriptedFtpServer server;
    server.setListing(kListing);
    server.setHandler([&](const QByteArray& line) {
        if (line == "PASV") {
            const quint16 port = server.openPassive();
            server.send("227 Entering Passive Mode (10,255,255,1," + QByteArray::number(port >> 8) + "," +
                        QByteArray::number(port & 0xff) + ")\r\n");
            return true;
        }
        return false;
    });
    QFtp ftp;
    FtpRecorder rec(&ftp);
    ftp.connectToHost(server.host(), server.port());
    ftp.login(QStringLiteral("u"), QStringLiteral("p"));
    ftp.list();
    QVERIFY(rec.waitForDone());
    QCOMPARE(rec.events().last(), QStringLiteral("done ok"));
    QCOMPARE(server.dataConnections(), 1);
    QCOMPARE(rec.names().size(), 3);
    QCOMPARE(log.count(QStringLiteral("10.255.255.1")), 1);
}

void TestQFtpScripted::hostilePassiveReplyFailsList_data()
{
    QTest::addColumn<bool>("ipv6");
    QTest::addColumn<QByteArray>("reply");
    QTest::newRow("227 number above 255") << false << QByteArray("227 (300,0,0,1,4,1)\r\n");
    QTest::newRow("227 port byte above 255") << false << QByteArray("227 (127,0,0,1,4,256)\r\n");
    QTest::newRow("227 huge number") << false << QByteArray("227 (127,0,0,1,99999999999999999999,1)\r\n");
    QTest::newRow("227 port zero") << false << QByteArray("227 (127,0,0,1,0,0)\r\n");
    QTest::newRow("227 five numbers") << false << QByteArray("227 (127,0,0,1,4)\r\n");
    QTest::newRow("227 no numbers") << false << QByteArray("227 Entering Passive Mode\r\n");
    QTest::newRow("229 port zero") << true << QByteArray("229 (|||0|)\r\n");
    QTest::newRow("229 port above 65535") << true << QByteArray("229 (|||65536|)\r\n");
    QTest::newRow("229 three delimiters") << true << QByteArray("229 (||6446|)\r\n");
    QTest::newRow("229 unterminated") << true << QByteArray("229 (|||6446\r\n");
    QTest::newRow("229 no parenthesis") << true << QByteArray("229 Entering Extended Passive Mode\r\n");
    QTest::newRow("229 parenthesis last") << true << QByteArray("229 (\r\n");
    QTest::newRow("229 port not a number") << true << QByteArray("229 (|||64x|)\r\n");
}

void TestQFtpScripted::hostilePassiveReplyFailsList()
{
    QFETCH(bool, ipv6);
    QFETCH(QByteArray, reply);
    if (ipv6 && !ipv6Available())
        QSKIP("no IPv6 loopback here");
    ScriptedFtpServer server(ipv6 ? QHostAddress::LocalHostIPv6 : QHostAddress::LocalHost);
    server.setHandler([&](const QByteArray& line) {
        if (line == "PASV" || line == "EPSV") {
            server.openPassive();
            server.send(reply);
            return true;
        }
        return false;
    });
    QFtp ftp;
    FtpRecorder rec(&ftp);
    ftp.connectToHost(server.host(), server.port());
    ftp.login(QStringLiteral("u"), QStringLiteral("p"));
    const int idList = ftp.list();
    const int idClose = ftp.close();
    QVERIFY(rec.waitForDone());
    QVERIFY(rec.events().contains(QStringLiteral("finished %1 error").arg(idList)));
    QVERIFY(!rec.events().contains(QStringLiteral("started %1").arg(idClose)));
    QVERIFY2(ftp.errorString().startsWith(QLatin1String("Listing directory failed:\n")),
             qPrintable(ftp.errorString()));
    QCOMPARE(server.dataConnections(), 0);
    QVERIFY(!server.receivedCommand("LIST"));
    QVERIFY(server.receivedCommand(ipv6 ? "EPSV" : "PASV"));
}

void TestQFtpScripted::refusedEpsvIsRetriedAsPasv()
{
    if (!ipv6Available())
        QSKIP("no IPv6 loopback here");
    ScriptedFtpServer server(QHostAddress::LocalHostIPv6);
    server.setListing(kListing);
    server.setHandler([&](const QByteArray& line) {
        if (line == "EPSV") {
            server.send("500 EPSV not understood\r\n");
            return true;
        }
        return false;
    });
    QFtp ftp;
    FtpRecorder rec(&ftp);
    ftp.connectToHost(server.host(), server.port());
    ftp.login(QStringLiteral("u"), QStringLiteral("p"));
    ftp.list();
    ftp.list();
    QVERIFY(rec.waitForDone());
    QCOMPARE(rec.events().last(), QStringLiteral("done ok"));
    QCOMPARE(rec.names().size(), 6);
    // Once refused, the connection stays with PASV.
    QCOMPARE(server.received(), (QList<QByteArray>{"USER u", "PASS p", "TYPE A", "EPSV", "PASV", "LIST",
                                                   "TYPE A", "PASV", "LIST"}));
}

void TestQFtpScripted::activeModeSendsPortOnIPv4()
{
    ScriptedFtpServer server;
    QTcpSocket* data = new QTcpSocket(&server);
    server.setHandler([&](const QByteArray& line) {
        if (line.startsWith("PORT ")) {
            const QList<QByteArray> n = line.mid(5).split(',');
            if (n.size() != 6) {
                server.send("501 bad\r\n");
                return true;
            }
            const QByteArray host = n[0] + '.' + n[1] + '.' + n[2] + '.' + n[3];
            data->connectToHost(QString::fromLatin1(host), quint16(n[4].toInt() * 256 + n[5].toInt()));
            server.send("200 PORT ok\r\n");
            return true;
        }
        if (line == "LIST") {
            server.send("150 listing\r\n");
            if (!data->waitForConnected(5000))
                return true;
            data->write(kListing);
            data->disconnectFromHost();
            server.send("226 done\r\n");
            return true;
        }
        return false;
    });
    QFtp ftp;
    FtpRecorder rec(&ftp);
    ftp.connectToHost(server.host(), server.port());
    ftp.login(QStringLiteral("u"), QStringLiteral("p"));
    ftp.setTransferMode(QFtp::Active);
    ftp.list();
    QVERIFY(rec.waitForDone());
    QCOMPARE(rec.events().last(), QStringLiteral("done ok"));
    QCOMPARE(rec.names().size(), 3);
    QVERIFY(server.received().at(3).startsWith("PORT 127,0,0,1,"));
}

void TestQFtpScripted::refusedEprtFallsBackToPortAndFailsCleanly()
{
    if (!ipv6Available())
        QSKIP("no IPv6 loopback here");
    ScriptedFtpServer server(QHostAddress::LocalHostIPv6);
    server.setHandler([&](const QByteArray& line) {
        if (line.startsWith("EPRT ")) {
            server.send("500 EPRT not understood\r\n");
            return true;
        }
        return false;
    });
    QFtp ftp;
    FtpRecorder rec(&ftp);
    ftp.connectToHost(server.host(), server.port());
    ftp.login(QStringLiteral("u"), QStringLiteral("p"));
    ftp.setTransferMode(QFtp::Active);
    const int idList = ftp.list();
    QVERIFY(rec.waitForDone(5000));
    QVERIFY(rec.events().contains(QStringLiteral("finished %1 error").arg(idList)));
    QVERIFY(server.received().at(3).startsWith("EPRT |2|::1|"));
    QVERIFY(!server.receivedCommand("PORT"));
    QVERIFY(!server.receivedCommand("LIST"));
}

void TestQFtpScripted::transferReplyBeforeDataCloseWaitsForEveryEntry_data()
{
    QTest::addColumn<bool>("split");
    QTest::addColumn<bool>("finalLineEnd");
    QTest::newRow("whole") << false << true;
    QTest::newRow("split") << true << true;
    QTest::newRow("last line without line end") << false << false;
}

void TestQFtpScripted::transferReplyBeforeDataCloseWaitsForEveryEntry()
{
    QFETCH(bool, split);
    QFETCH(bool, finalLineEnd);
    ScriptedFtpServer server;
    server.setSplit(split);
    QByteArray listing = kListing;
    if (!finalLineEnd)
        listing.chop(2);
    server.setHandler([&](const QByteArray& line) {
        if (line == "LIST") {
            // Both replies at once, the listing only later.
            server.send("150 here it comes\r\n226 all sent\r\n");
            QTimer::singleShot(200, &server, [&server, listing] { server.sendData(listing, true); });
            return true;
        }
        return false;
    });
    QFtp ftp;
    FtpRecorder rec(&ftp);
    ftp.connectToHost(server.host(), server.port());
    ftp.login(QStringLiteral("u"), QStringLiteral("p"));
    const int idList = ftp.list();
    const int idNoop = ftp.rawCommand(QStringLiteral("NOOP"));
    QVERIFY(rec.waitForDone());
    QCOMPARE(rec.events().last(), QStringLiteral("done ok"));
    QCOMPARE(rec.names().size(), 3);
    const int finished = rec.indexOf(QStringLiteral("finished %1 ok").arg(idList));
    QVERIFY(finished > 0);
    for (const QString& e : rec.events(QStringLiteral("list")))
        QVERIFY(rec.indexOf(e) < finished);
    QVERIFY(rec.events().contains(QStringLiteral("finished %1 ok").arg(idNoop)));
}

void TestQFtpScripted::failedLoginDropsQueuedList()
{
    ScriptedFtpServer server;
    server.setHandler([&](const QByteArray& line) {
        if (line.startsWith("PASS ")) {
            server.send("530 Login incorrect.\r\n");
            return true;
        }
        return false;
    });
    QFtp ftp;
    FtpRecorder rec(&ftp);
    const int idConnect = ftp.connectToHost(server.host(), server.port());
    const int idLogin = ftp.login(QStringLiteral("u"), QStringLiteral("bad"));
    const int idList = ftp.list();
    QVERIFY(rec.waitForDone());
    QCOMPARE(rec.events(QStringLiteral("finished")),
             (QStringList{QStringLiteral("finished %1 ok").arg(idConnect),
                          QStringLiteral("finished %1 error").arg(idLogin)}));
    QVERIFY(!rec.events().contains(QStringLiteral("started %1").arg(idList)));
    QCOMPARE(rec.events().last(), QStringLiteral("done error"));
    QCOMPARE(ftp.errorString(), QStringLiteral("Login failed:\nLogin incorrect."));
    QCOMPARE(ftp.error(), QFtp::UnknownError);
    QVERIFY(!server.receivedCommand("TYPE"));
}

void TestQFtpScripted::abortEndsTransferAndConnectionStaysUsable()
{
    ScriptedFtpServer server;
    server.setHandler([&](const QByteArray& line) {
        if (line == "LIST") {
            server.send("150 listing\r\n");
            server.sendData("drwxr-xr-x 2 o g 1 Jan 5 10:30 first\r\n", false);
            return true;
        }
        if (line == "ABOR") {
            server.closeData();
            server.send("426 Transfer aborted\r\n226 ABOR successful\r\n");
            return true;
        }
        return false;
    });
    QFtp ftp;
    FtpRecorder rec(&ftp);
    ftp.connectToHost(server.host(), server.port());
    ftp.login(QStringLiteral("u"), QStringLiteral("p"));
    const int idList = ftp.list();
    const int idClose = ftp.close();
    connect(&ftp, &QFtp::listInfo, &ftp, &QFtp::abort);
    QVERIFY(rec.waitForDone());
    QCOMPARE(rec.names(), QStringList{"first"});
    QVERIFY(rec.events().contains(QStringLiteral("finished %1 error").arg(idList)));
    QVERIFY(!rec.events().contains(QStringLiteral("started %1").arg(idClose)));
    QCOMPARE(ftp.errorString(), QStringLiteral("Listing directory failed:\nTransfer aborted"));

    // The reply to ABOR was taken as such: the next command gets its own.
    disconnect(&ftp, &QFtp::listInfo, &ftp, &QFtp::abort);
    const int idNoop = ftp.rawCommand(QStringLiteral("NOOP"));
    QVERIFY(rec.waitForDone());
    QTRY_VERIFY(rec.events().contains(QStringLiteral("finished %1 ok").arg(idNoop)));
}

void TestQFtpScripted::clearPendingCommandsKeepsOnlyCurrent()
{
    ScriptedFtpServer server;
    QFtp ftp;
    FtpRecorder rec(&ftp);
    QVERIFY(!ftp.hasPendingCommands());
    QCOMPARE(ftp.currentCommand(), QFtp::None);
    ftp.connectToHost(server.host(), server.port());
    QVERIFY(!ftp.hasPendingCommands());
    const int idLogin = ftp.login(QStringLiteral("u"), QStringLiteral("p"));
    QVERIFY(ftp.hasPendingCommands());
    const int idList = ftp.list();
    ftp.close();
    connect(&ftp, &QFtp::commandStarted, this, [&](int id) {
        if (id == idLogin) {
            ftp.clearPendingCommands();
            QVERIFY(!ftp.hasPendingCommands());
            QCOMPARE(ftp.currentCommand(), QFtp::Login);
            QCOMPARE(ftp.currentId(), idLogin);
        }
    });
    QVERIFY(rec.waitForDone());
    QCOMPARE(rec.events().last(), QStringLiteral("done ok"));
    QVERIFY(!rec.events().contains(QStringLiteral("started %1").arg(idList)));
    QCOMPARE(server.received(), (QList<QByteArray>{"USER u", "PASS p"}));
    // An abort with nothing queued does nothing.
    ftp.abort();
    QTest::qWait(50);
    QCOMPARE(server.received().size(), 2);
}

void TestQFtpScripted::oversizedInputFailsCommand_data()
{
    QTest::addColumn<QByteArray>("reply");   // answer to NOOP
    QTest::addColumn<QByteArray>("listing"); // or the listing
    QTest::addColumn<QString>("error");
    QTest::newRow("reply line over 64 KiB") << (QByteArray("200 ") + QByteArray(70000, 'a') + "\r\n")
                                            << QByteArray() << "Reply line longer than 65536 bytes";
    QTest::newRow("reply line over 64 KiB without end")
        << (QByteArray("200 ") + QByteArray(70000, 'a')) << QByteArray()
        << "Reply line longer than 65536 bytes";
    QByteArray big = "200-start\r\n";
    for (int i = 0; i < 20; ++i)
        big += QByteArray(60000, 'b') + "\r\n";
    big += "200 end\r\n";
    QTest::newRow("reply over 1 MiB") << big << QByteArray() << "Reply longer than 1048576 bytes";
    QTest::newRow("listing line over 64 KiB")
        << QByteArray() << (QByteArray("-rw-r--r-- 1 o g 1 Jan 5 10:30 ") + QByteArray(70000, 'c') + "\r\n")
        << "Listing directory failed:\nListing line longer than 65536 bytes";
    QTest::newRow("listing line over 64 KiB without end")
        << QByteArray() << QByteArray(200000, 'd')
        << "Listing directory failed:\nListing line longer than 65536 bytes";
}

void TestQFtpScripted::oversizedInputFailsCommand()
{
    QFETCH(QByteArray, reply);
    QFETCH(QByteArray, listing);
    QFETCH(QString, error);
    ScriptedFtpServer server;
    server.setListing(listing);
    server.setHandler([&](const QByteArray& line) {
        if (line == "NOOP") {
            server.send(reply);
            return true;
        }
        return false;
    });
    QFtp ftp;
    ftp.setTransferTimeout(3000);
    FtpRecorder rec(&ftp);
    ftp.connectToHost(server.host(), server.port());
    ftp.login(QStringLiteral("u"), QStringLiteral("p"));
    const int id = reply.isEmpty() ? ftp.list() : ftp.rawCommand(QStringLiteral("NOOP"));
    QVERIFY(rec.waitForDone());
    QVERIFY(rec.events().contains(QStringLiteral("finished %1 error").arg(id)));
    QCOMPARE(ftp.errorString(), error);
    if (!reply.isEmpty())
        QCOMPARE(ftp.state(), QFtp::Unconnected);
}

void TestQFtpScripted::controlCharactersNeverReachTexts()
{
    ScriptedFtpServer server;
    server.setHandler([&](const QByteArray& line) {
        if (line.startsWith("PASS ")) {
            server.send(QByteArray("530 bad\0pass\x1b[2J\x7f\xc2\x85word\r\n", 26));
            return true;
        }
        return false;
    });
    QFtp ftp;
    FtpRecorder rec(&ftp);
    ftp.connectToHost(server.host(), server.port());
    ftp.login(QStringLiteral("u"), QStringLiteral("p"));
    QVERIFY(rec.waitForDone());
    const QString r(QChar::ReplacementCharacter);
    QCOMPARE(ftp.errorString(),
             QStringLiteral("Login failed:\nbad") + r + "pass" + r + "[2J" + r + r + "word");
}

void TestQFtpScripted::unsafeNamesAreNotListed()
{
    ScriptedFtpServer server;
    server.setListing(QByteArray("drwxr-xr-x 2 o g 1 Jan 5 10:30 ../../etc\r\n"
                                 "drwxr-xr-x 2 o g 1 Jan 5 10:30 V1.0.4.3/../../x\r\n"
                                 "drwxr-xr-x 2 o g 1 Jan 5 10:30 V1\0.0\r\n"
                                 "drwxr-xr-x 2 o g 1 Jan 5 10:30 V1.0.4.4\r\n",
                                 170));
    QFtp ftp;
    FtpRecorder rec(&ftp);
    ftp.connectToHost(server.host(), server.port());
    ftp.login(QStringLiteral("u"), QStringLiteral("p"));
    ftp.list();
    QVERIFY(rec.waitForDone());
    QCOMPARE(rec.events().last(), QStringLiteral("done ok"));
    QCOMPARE(rec.names(), QStringList{"V1.0.4.4"});
}

void TestQFtpScripted::silentServerTimesOut_data()
{
    QTest::addColumn<QByteArray>("silentAfter"); // the command left unanswered; empty: no greeting
    QTest::addColumn<int>("failingCommand");
    QTest::newRow("no greeting") << QByteArray() << int(QFtp::ConnectToHost);
    QTest::newRow("no answer to PASS") << QByteArray("PASS") << int(QFtp::Login);
    QTest::newRow("no answer to LIST") << QByteArray("LIST") << int(QFtp::List);
    QTest::newRow("listing never ends") << QByteArray("LIST-open") << int(QFtp::List);
}

void TestQFtpScripted::silentServerTimesOut()
{
    QFETCH(QByteArray, silentAfter);
    QFETCH(int, failingCommand);
    ScriptedFtpServer server;
    if (silentAfter.isEmpty())
        server.setGreeting(QByteArray());
    server.setHandler([&](const QByteArray& line) {
        if (silentAfter == "LIST-open" && line == "LIST") {
            server.send("150 listing\r\n");
            server.sendData("-rw-r--r-- 1 o g 1 Jan 5 10:30 a\r\n", false);
            return true;
        }
        return !silentAfter.isEmpty() && line.startsWith(silentAfter);
    });
    QFtp ftp;
    ftp.setTransferTimeout(300);
    FtpRecorder rec(&ftp);
    QList<int> ids;
    ids << ftp.connectToHost(server.host(), server.port());
    ids << ftp.login(QStringLiteral("u"), QStringLiteral("p"));
    ids << ftp.list();
    QElapsedTimer timer;
    timer.start();
    QVERIFY(rec.waitForDone(10000));
    QVERIFY(timer.elapsed() >= 250);
    const int failedId = ids.at(failingCommand == QFtp::ConnectToHost ? 0
                                : failingCommand == QFtp::Login       ? 1
                                                                      : 2);
    QCOMPARE(rec.events(QStringLiteral("finished")).last(),
             QStringLiteral("finished %1 error").arg(failedId));
    const QString timedOut = QStringLiteral("Connection timed out to host 127.0.0.1");
    QCOMPARE(ftp.errorString().section(QLatin1Char('\n'), -1), timedOut);
    QCOMPARE(ftp.error(), QFtp::ConnectionRefused);
    QCOMPARE(ftp.state(), QFtp::Unconnected);
}

void TestQFtpScripted::refusingGreetingFailsConnect()
{
    ScriptedFtpServer server;
    server.setGreeting("421 Too many users\r\n");
    QFtp ftp;
    FtpRecorder rec(&ftp);
    const int idConnect = ftp.connectToHost(server.host(), server.port());
    ftp.login();
    QVERIFY(rec.waitForDone(5000));
    QCOMPARE(rec.events(QStringLiteral("finished")),
             QStringList{QStringLiteral("finished %1 error").arg(idConnect)});
    QCOMPARE(ftp.errorString(), QStringLiteral("Connecting to host failed:\nToo many users"));
    QCOMPARE(ftp.state(), QFtp::Unconnected);
}

void TestQFtpScripted::droppedControlConnectionFailsCommand()
{
    ScriptedFtpServer server;
    server.setHandler([&](const QByteArray& line) {
        if (line == "TYPE A") {
            server.closeControl();
            return true;
        }
        return false;
    });
    QFtp ftp;
    FtpRecorder rec(&ftp);
    ftp.connectToHost(server.host(), server.port());
    ftp.login(QStringLiteral("u"), QStringLiteral("p"));
    const int idList = ftp.list();
    QVERIFY(rec.waitForDone(5000));
    QVERIFY(rec.events().contains(QStringLiteral("finished %1 error").arg(idList)));
    QCOMPARE(ftp.errorString(), QStringLiteral("Listing directory failed:\nConnection closed"));
    QCOMPARE(ftp.state(), QFtp::Unconnected);
}

void TestQFtpScripted::refusedDataConnectionFailsList()
{
    QTcpServer probe;
    QVERIFY(probe.listen(QHostAddress::LocalHost));
    const quint16 closedPort = probe.serverPort();
    probe.close();
    ScriptedFtpServer server;
    server.setHandler([&](const QByteArray& line) {
        if (line == "PASV") {
            server.send(server.pasvReply(closedPort));
            return true;
        }
        return false;
    });
    QFtp ftp;
    FtpRecorder rec(&ftp);
    ftp.connectToHost(server.host(), server.port());
    ftp.login(QStringLiteral("u"), QStringLiteral("p"));
    const int idList = ftp.list();
    QVERIFY(rec.waitForDone(5000));
    QVERIFY(rec.events().contains(QStringLiteral("finished %1 error").arg(idList)));
    QCOMPARE(ftp.errorString(),
             QStringLiteral("Listing directory failed:\nConnection refused for data connection"));
    QCOMPARE(ftp.error(), QFtp::ConnectionRefused);
    QVERIFY(!server.receivedCommand("LIST"));
}

void TestQFtpScripted::missingDirectoryOnDataConnectionFailsList()
{
    ScriptedFtpServer server;
    server.setListing("ls: /ZRN: No such file or directory\r\n");
    QFtp ftp;
    FtpRecorder rec(&ftp);
    ftp.connectToHost(server.host(), server.port());
    ftp.login(QStringLiteral("u"), QStringLiteral("p"));
    const int idList = ftp.list(QStringLiteral("/ZRN"));
    QVERIFY(rec.waitForDone());
    QVERIFY(rec.events().contains(QStringLiteral("finished %1 error").arg(idList)));
    QCOMPARE(ftp.errorString(),
             QStringLiteral("Listing directory failed:\nls: /ZRN: No such file or directory"));
    QVERIFY(rec.names().isEmpty());
}

void TestQFtpScripted::closeWaitsForConnectionToEnd()
{
    ScriptedFtpServer server;
    server.setHandler([&](const QByteArray& line) {
        if (line == "QUIT") {
            server.send("221 Goodbye\r\n"); // and keeps the connection open
            return true;
        }
        return false;
    });
    QFtp ftp;
    FtpRecorder rec(&ftp);
    ftp.connectToHost(server.host(), server.port());
    const int idClose = ftp.close();
    QVERIFY(rec.waitForDone(5000));
    QCOMPARE(rec.events().last(), QStringLiteral("done ok"));
    QVERIFY(rec.indexOf(QStringLiteral("state 0")) <
            rec.indexOf(QStringLiteral("finished %1 ok").arg(idClose)));
    QCOMPARE(ftp.state(), QFtp::Unconnected);
}

void TestQFtpScripted::getReportsSuccessOnlyForAWholeFile_data()
{
    QTest::addColumn<QByteArray>("script"); // how the server ends the RETR
    QTest::addColumn<bool>("sizeAnswered");
    QTest::addColumn<bool>("whole");     // the get must succeed
    QTest::addColumn<QString>("reason"); // last line of the error text
    QTest::newRow("whole with SIZE") << QByteArray("whole") << true << true << QString();
    QTest::newRow("whole without SIZE") << QByteArray("whole") << false << true << QString();
    QTest::newRow("whole, final reply 250") << QByteArray("whole-250") << true << true << QString();
    QTest::newRow("226 before the data ends") << QByteArray("226-first") << true << true << QString();
    // 250 is the other final reply to RETR; it waits for the data as 226 does.
    QTest::newRow("250 while the data flows, with SIZE")
        << QByteArray("early-250") << true << true << QString();
    QTest::newRow("250 while the data flows, without SIZE")
        << QByteArray("early-250") << false << true << QString();
    QTest::newRow("250 before any data, without SIZE")
        << QByteArray("250-first") << false << true << QString();
    QTest::newRow("early 2xx while data flows")
        << QByteArray("early-200") << false << false << "Unexpected reply to RETR: 200 OK";
    QTest::newRow("other 1xx while data flows")
        << QByteArray("early-110") << false << false << "Unexpected reply to RETR: 110 MARK 5 = 5";
    QTest::newRow("reset then 226") << QByteArray("reset-226") << false << false
                                    << "Data connection broken: Connection reset by peer";
    QTest::newRow("reset then control close")
        << QByteArray("reset-close") << false << false << "Connection closed";
    QTest::newRow("short then 226 with SIZE")
        << QByteArray("short-226") << true << false << "Received 50000 of 100000 bytes";
    // In stream mode the end of the data connection is the end of the file:
    // without SIZE a server that stops early cannot be told from a smaller
    // file. The download above the client has to live with that.
    QTest::newRow("short then 226 without SIZE") << QByteArray("short-226") << false << true << QString();
}

void TestQFtpScripted::getReportsSuccessOnlyForAWholeFile()
{
    QFETCH(QByteArray, script);
    QFETCH(bool, sizeAnswered);
    QFETCH(bool, whole);
    QFETCH(QString, reason);
    ScriptedFtpServer server;
    const QByteArray content(100000, 'q');
    const QByteArray half = content.left(content.size() / 2);
    server.setFile(content);
    server.setHandler([&](const QByteArray& line) {
        if (line.startsWith("SIZE ") && !sizeAnswered) {
            server.send("550 SIZE not allowed\r\n");
            return true;
        }
        if (!line.startsWith("RETR "))
            return false;
        server.send("150 Opening data connection\r\n");
        if (script == "whole-250" || script == "short-226") {
            server.sendData(script == "short-226" ? half : content, true);
            server.sendWhenDataCloses(script == "whole-250" ? "250 Transfer complete\r\n"
                                                            : "226 Transfer complete\r\n");
        } else if (script.endsWith("-first")) {
            server.send(script.left(3) + " Transfer complete\r\n");
            QTimer::singleShot(200, &server, [&server, content] { server.sendData(content, true); });
        } else if (script.startsWith("early-")) {
            server.sendData(half, false);
            server.send(script == "early-200"   ? "200 OK\r\n"
                        : script == "early-250" ? "250 Transfer complete\r\n"
                                                : "110 MARK 5 = 5\r\n");
            QTimer::singleShot(200, &server, [&server, half] { server.sendData(half, true); });
        } else if (script.startsWith("reset-")) {
            server.sendData(half, false);
            server.resetData();
            if (script == "reset-226")
                server.send("226 Transfer complete\r\n");
            else
                server.closeControl();
        } else {
            return false; // the standard answer: the whole file, then 226
        }
        return true;
    });
    QFtp ftp;
    FtpRecorder rec(&ftp);
    QBuffer buffer;
    ftp.connectToHost(server.host(), server.port());
    ftp.login(QStringLiteral("u"), QStringLiteral("p"));
    const int idGet = ftp.get(QStringLiteral("setup.exe"), &buffer);
    QVERIFY(rec.waitForDone());
    QVERIFY(server.receivedCommand("RETR"));
    if (whole) {
        QVERIFY2(rec.events().contains(QStringLiteral("finished %1 ok").arg(idGet)),
                 qPrintable(ftp.errorString()));
        QCOMPARE(buffer.data(), script == "short-226" ? half : content);
        QCOMPARE(rec.progress().last().second, sizeAnswered ? qint64(content.size()) : qint64(0));
    } else {
        QVERIFY(rec.events().contains(QStringLiteral("finished %1 error").arg(idGet)));
        QVERIFY2(ftp.errorString().startsWith(QLatin1String("Downloading file failed:\n")),
                 qPrintable(ftp.errorString()));
        QCOMPARE(ftp.errorString().section(QLatin1Char('\n'), -1), reason);
    }
}

void TestQFtpScripted::lineBreakInArgumentIsNotSent()
{
    ScriptedFtpServer server;
    QFtp ftp;
    FtpRecorder rec(&ftp);
    ftp.connectToHost(server.host(), server.port());
    ftp.login(QStringLiteral("u"), QStringLiteral("p"));
    const int idList = ftp.list(QStringLiteral("/ZRN\r\nDELE important"));
    QVERIFY(rec.waitForDone());
    QVERIFY(rec.events().contains(QStringLiteral("finished %1 error").arg(idList)));
    QVERIFY(!server.receivedCommand("DELE"));
    QVERIFY(!server.receivedCommand("TYPE"));
}

void TestQFtpScripted::commandIdsAreUniqueAcrossClients()
{
    QFtp a;
    QFtp b;
    const int a1 = a.login();
    const int b1 = b.login();
    const int a2 = a.list();
    QVERIFY(a1 < b1);
    QVERIFY(b1 < a2);
    a.clearPendingCommands();
    b.clearPendingCommands();
}

void TestQFtpScripted::malformedReplyStartIsSkipped()
{
    ScriptedFtpServer server;
    server.setHandler([&](const QByteArray& line) {
        if (line.startsWith("PASS ")) {
            server.send("hello there\r\n99\r\n600 out of range\r\n230 Logged in\r\n");
            return true;
        }
        return false;
    });
    QFtp ftp;
    FtpRecorder rec(&ftp);
    ftp.connectToHost(server.host(), server.port());
    const int idLogin = ftp.login(QStringLiteral("u"), QStringLiteral("p"));
    QVERIFY(rec.waitForDone(5000));
    QVERIFY(rec.events().contains(QStringLiteral("finished %1 ok").arg(idLogin)));
    QCOMPARE(ftp.state(), QFtp::LoggedIn);
}

void TestQFtpScripted::signatureTextConnectionsReachReceiver()
{
    ScriptedFtpServer server;
    server.setListing(kListing);
    QFtp ftp;
    FtpRecorder rec(&ftp);
    ListReceiver receiver;
    QVERIFY(connect(&ftp, SIGNAL(commandFinished(int, bool)), &receiver, SLOT(onCmdFinished(int, bool))));
    QVERIFY(connect(&ftp, SIGNAL(listInfo(const QUrlInfo&)), &receiver, SLOT(onListInfo(const QUrlInfo&))));
    QVERIFY(connect(&ftp, SIGNAL(stateChanged(int)), &receiver, SLOT(onStateChanged(int))));
    ftp.connectToHost(server.host(), server.port());
    ftp.login(QStringLiteral("u"), QStringLiteral("p"));
    const int idList = ftp.list();
    QVERIFY(rec.waitForDone());
    QCOMPARE(sorted(receiver.names), (QStringList{"V1.0.4.10", "V1.0.4.3", "notes.txt"}));
    QCOMPARE(receiver.finished.size(), 3);
    QCOMPARE(receiver.finished.last(), qMakePair(idList, false));
}

void TestQFtpScripted::discardSequenceIsSafeInEveryPhase_data()
{
    QTest::addColumn<QString>("phase");
    QTest::newRow("queued, not started") << "queued";
    QTest::newRow("connecting") << "connecting";
    QTest::newRow("logged in and idle") << "idle";
    QTest::newRow("listing under way") << "listing";
    QTest::newRow("waiting for a silent server") << "silent";
}

void TestQFtpScripted::discardSequenceIsSafeInEveryPhase()
{
    // What the update checker does before it lets a client go: close, abort,
    // clearPendingCommands, deleteLater. Nothing may crash or report after.
    QFETCH(QString, phase);
    ScriptedFtpServer server;
    server.setHandler([&](const QByteArray& line) {
        if (line == "LIST") {
            server.send("150 listing\r\n");
            server.sendData("-rw-r--r-- 1 o g 1 Jan 5 10:30 a\r\n", false);
            return true;
        }
        if (phase == QLatin1String("silent") && line.startsWith("PASS "))
            return true;
        return false;
    });
    QPointer<QFtp> ftp = new QFtp;
    FtpRecorder rec(ftp);
    ftp->connectToHost(server.host(), server.port());
    ftp->login(QStringLiteral("u"), QStringLiteral("p"));
    if (phase == QLatin1String("connecting")) {
        QTRY_VERIFY(rec.events().contains(QStringLiteral("state 1")));
    } else if (phase == QLatin1String("idle")) {
        QVERIFY(rec.waitForDone());
    } else if (phase == QLatin1String("listing")) {
        ftp->list();
        QTRY_VERIFY(!rec.names().isEmpty());
    } else if (phase == QLatin1String("silent")) {
        QTRY_VERIFY(server.receivedCommand("PASS"));
    }
    const int eventsBefore = rec.events().size();
    ftp->close();
    ftp->abort();
    ftp->clearPendingCommands();
    QVERIFY(!ftp->hasPendingCommands());
    const int kept = ftp->currentId();
    ftp->deleteLater();
    QTRY_VERIFY(ftp.isNull());
    QTest::qWait(100);
    // At most the command that was current may still have started.
    for (const QString& e : rec.events().mid(eventsBefore)) {
        if (e.startsWith(QLatin1String("started")))
            QCOMPARE(e, QStringLiteral("started %1").arg(kept));
    }
}

void TestQFtpScripted::receiverMayDeleteTheClientWhenTheConnectionEnds_data()
{
    // How the control connection ends; a receiver of the state change to
    // Unconnected deletes the client right there.
    QTest::addColumn<QByteArray>("way");
    QTest::newRow("no answer within the time-out") << QByteArray("timeout");
    QTest::newRow("greeting refuses service") << QByteArray("refused-greeting");
    QTest::newRow("greeting line too long") << QByteArray("overlong-greeting");
    QTest::newRow("abort while waiting for the greeting") << QByteArray("abort");
    QTest::newRow("server hangs up") << QByteArray("hang-up");
    QTest::newRow("nobody listens") << QByteArray("refused");
}

void TestQFtpScripted::receiverMayDeleteTheClientWhenTheConnectionEnds()
{
    QFETCH(QByteArray, way);
    ScriptedFtpServer server;
    if (way == "refused-greeting")
        server.setGreeting("421 Too many users\r\n");
    else if (way == "overlong-greeting")
        server.setGreeting("220 " + QByteArray(70000, 'g') + "\r\n");
    else if (way == "abort")
        server.setGreeting(QByteArray());
    server.setHandler([&](const QByteArray& line) {
        if (!line.startsWith("PASS "))
            return false;
        if (way == "hang-up")
            server.closeControl();
        return way == "timeout" || way == "hang-up";
    });
    quint16 port = server.port();
    if (way == "refused") {
        QTcpServer probe;
        QVERIFY(probe.listen(QHostAddress::LocalHost));
        port = probe.serverPort();
        probe.close();
    }

    QPointer<QFtp> ftp = new QFtp;
    ftp->setTransferTimeout(300);
    FtpRecorder rec(ftp);
    connect(ftp, &QFtp::stateChanged, this, [&ftp](int state) {
        if (state == QFtp::Unconnected)
            delete ftp;
    });
    ftp->connectToHost(server.host(), port);
    ftp->login(QStringLiteral("u"), QStringLiteral("p"));
    ftp->list();
    if (way == "abort") {
        QTRY_VERIFY(rec.events().contains(QStringLiteral("state %1").arg(QFtp::Connected)));
        QVERIFY(ftp);
        ftp->abort();
        QVERIFY(ftp.isNull());
    }
    QTRY_VERIFY(ftp.isNull());
    QTest::qWait(400); // past the time-out: nothing may touch the deleted client
    QCOMPARE(rec.events().last(), QStringLiteral("state %1").arg(QFtp::Unconnected));
}

void TestQFtpScripted::abortWhileConnectingReportsFromEventLoop()
{
    ScriptedFtpServer server;
    QFtp ftp;
    FtpRecorder rec(&ftp);
    const int idConnect = ftp.connectToHost(server.host(), server.port());
    const int idLogin = ftp.login();
    bool reportedInside = false;
    connect(&ftp, &QFtp::stateChanged, this, [&](int state) {
        if (state != QFtp::HostLookup)
            return;
        const int before = rec.events(QStringLiteral("finished")).size();
        ftp.abort();
        reportedInside = rec.events(QStringLiteral("finished")).size() != before;
    });
    QVERIFY(rec.waitForDone(5000));
    QVERIFY(!reportedInside);
    QCOMPARE(rec.events(QStringLiteral("finished")),
             QStringList{QStringLiteral("finished %1 error").arg(idConnect)});
    QVERIFY(!rec.events().contains(QStringLiteral("started %1").arg(idLogin)));
    QCOMPARE(ftp.errorString(), QStringLiteral("Connecting to host failed:\nConnection closed"));
    QCOMPARE(ftp.state(), QFtp::Unconnected);
}

void TestQFtpScripted::abortEndsPromptly_data()
{
    QTest::addColumn<QByteArray>("phase");
    QTest::newRow("greeting awaited") << QByteArray("greeting");
    QTest::newRow("upload with its transfer reply held back") << QByteArray("upload");
}

void TestQFtpScripted::abortEndsPromptly()
{
    // The silence time-out stays at its 30 s: only abort() can end these
    // within the second allowed below.
    QFETCH(QByteArray, phase);
    ScriptedFtpServer server;
    if (phase == "greeting")
        server.setGreeting(QByteArray());
    bool dataUp = false;
    server.setHandler([&](const QByteArray& line) {
        if (!line.startsWith("STOR "))
            return false;
        // The server takes nothing and calls the upload done at once.
        server.whenDataConnected([&dataUp](QTcpSocket* socket) {
            QObject::disconnect(socket, &QTcpSocket::readyRead, nullptr, nullptr);
            socket->setReadBufferSize(1);
            dataUp = true;
        });
        server.send("150 Ok to send data\r\n226 Transfer complete\r\n");
        return true;
    });
    QFtp ftp;
    QCOMPARE(ftp.transferTimeout(), 30000);
    FtpRecorder rec(&ftp);
    int id = ftp.connectToHost(server.host(), server.port());
    if (phase == "greeting") {
        QTRY_COMPARE(ftp.state(), QFtp::Connected);
    } else {
        ftp.login(QStringLiteral("u"), QStringLiteral("p"));
        id = ftp.put(QByteArray(32 << 20, 'u'), QStringLiteral("big.bin"));
        QTRY_VERIFY(dataUp);
        QTest::qWait(300); // the 226 is in and held for the data connection
    }
    const int queuedBehind = ftp.close();
    ftp.abort();
    QTRY_VERIFY_WITH_TIMEOUT(rec.doneCount() > 0, 1000);
    QVERIFY(rec.events().contains(QStringLiteral("finished %1 error").arg(id)));
    QVERIFY(!rec.events().contains(QStringLiteral("started %1").arg(queuedBehind)));
    if (phase == "greeting")
        QCOMPARE(ftp.state(), QFtp::Unconnected);
    else
        QCOMPARE(ftp.errorString(), QStringLiteral("Uploading file failed:\nAborted"));
}

void TestQFtpScripted::endOfListingSurvivesWhatHappensOnTheWay_data()
{
    QTest::addColumn<QByteArray>("listing"); // sent, then the data connection closes
    QTest::addColumn<QString>("deleteOn");   // the receiver deletes the client on this entry
                                             // ("keep-open": the server answers 226 first and
                                             // never closes the data connection)
    QTest::addColumn<bool>("listFails");
    QTest::newRow("receiver deletes the client on the last entry")
        << QByteArray("drwxr-xr-x 2 o g 1 Jan 5 10:30 a\r\ndrwxr-xr-x 2 o g 1 Jan 5 10:30 last") << "last"
        << false;
    QTest::newRow("receiver deletes the client midway")
        << QByteArray("drwxr-xr-x 2 o g 1 Jan 5 10:30 a\r\ndrwxr-xr-x 2 o g 1 Jan 5 10:30 b\r\n") << "a"
        << false;
    QTest::newRow("overlong last line drops the connection")
        << (QByteArray("drwxr-xr-x 2 o g 1 Jan 5 10:30 a\r\n") + QByteArray(70000, 'z')) << QString() << true;
    // The server keeps the data connection open; only our own drop can
    // release the 226 that waits for it.
    QTest::newRow("overlong line while the transfer reply waits")
        << (QByteArray("drwxr-xr-x 2 o g 1 Jan 5 10:30 a\r\n") + QByteArray(70000, 'z')) << "keep-open"
        << true;
}

void TestQFtpScripted::endOfListingSurvivesWhatHappensOnTheWay()
{
    QFETCH(QByteArray, listing);
    QFETCH(QString, deleteOn);
    QFETCH(bool, listFails);
    ScriptedFtpServer server;
    server.setListing(listing);
    if (deleteOn == QLatin1String("keep-open")) {
        server.setHandler([&](const QByteArray& line) {
            if (line != "LIST")
                return false;
            server.send("150 Here comes the listing\r\n226 Transfer complete\r\n");
            server.sendData(listing, false);
            return true;
        });
    }
    QPointer<QFtp> ftp = new QFtp;
    FtpRecorder rec(ftp);
    connect(ftp, &QFtp::listInfo, this, [&](const QUrlInfo& info) {
        if (info.name() == deleteOn)
            delete ftp;
    });
    ftp->connectToHost(server.host(), server.port());
    ftp->login(QStringLiteral("u"), QStringLiteral("p"));
    const int idList = ftp->list();
    if (!deleteOn.isEmpty() && deleteOn != QLatin1String("keep-open")) {
        QTRY_VERIFY(ftp.isNull());
        QTest::qWait(200); // nothing may touch the deleted client now
        QCOMPARE(rec.names().last(), deleteOn);
        return;
    }
    QVERIFY(rec.waitForDone(10000));
    QCOMPARE(rec.events().contains(QStringLiteral("finished %1 error").arg(idList)), listFails);
    QCOMPARE(rec.names(), QStringList{"a"});
    delete ftp;
}

QTEST_MAIN(TestQFtpScripted)
#include "tst_qftpscripted.moc"
