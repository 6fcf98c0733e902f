// The FTP client against a real server (pyftpdlib) on loopback.
#include "ftprecorder.h"
#include "ftpserver.h"
#include "testenv.h"
#include "update/ftp/qftp.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QtTest>

using varnoks::QFtp;
using varnoks::QUrlInfo;

class TestFtpClientServer : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void listsDirectoryTreeWithSignalsInOrder_data();
    void listsDirectoryTreeWithSignalsInOrder();
    void wrongPasswordFailsLoginAndDropsList();
    void portWithoutServerGivesRefusedText();
    void missingDirectoryFailsListWithServerText();
    void getWritesFileToDeviceWithProgress();
    void getWithoutDeviceDeliversThroughReadyRead();
    void putStoresDataOnServer();
    void anonymousLoginUsesDefaults();
    void commandBeforeConnectFailsNotConnected();

private:
    void makeFile(const QString& relative, const QByteArray& content);
    QStringList runList(FtpServer& server, const QString& dir, FtpRecorder** out = nullptr);

    QTemporaryDir m_root;
    FtpServer m_server;
    TestEnv* m_env = nullptr;
};

void TestFtpClientServer::makeFile(const QString& relative, const QByteArray& content)
{
    const QString path = m_root.filePath(relative);
    QDir().mkpath(QFileInfo(path).path());
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(content);
}

void TestFtpClientServer::initTestCase()
{
    if (!FtpServer::available())
        QSKIP("pyftpdlib is not installed for /usr/bin/python3");
    m_env = new TestEnv;
    QVERIFY(m_root.isValid());
    makeFile(QStringLiteral("ZRN/V1.0.4.3/VarnoksPilotSetup_V1.0.4.3.exe"), QByteArray(3000, 'x'));
    makeFile(QStringLiteral("ZRN/V1.0.4.10/VarnoksPilotSetup_V1.0.4.10.exe"), QByteArray(10, 'y'));
    makeFile(QStringLiteral("ZRN/readme.txt"), "hello\n");
    makeFile(QStringLiteral("ZRN/name with blanks.txt"), "1234567");
    QVERIFY(QDir().mkpath(m_root.filePath(QStringLiteral("ZRN/Beta"))));
    QVERIFY(QDir().mkpath(m_root.filePath(QStringLiteral("upload"))));
    FtpServer::Options options;
    options.root = m_root.path();
    options.permissions = QStringLiteral("elradfmw");
    QVERIFY2(m_server.start(options), qPrintable(m_server.errorString()));
}

void TestFtpClientServer::cleanupTestCase()
{
    m_server.stop();
    delete m_env;
}

void TestFtpClientServer::listsDirectoryTreeWithSignalsInOrder_data()
{
    QTest::addColumn<QString>("host");
    QTest::addColumn<int>("mode");
    QTest::newRow("ipv4 passive") << QStringLiteral("127.0.0.1") << int(QFtp::Passive);
    QTest::newRow("ipv4 active") << QStringLiteral("127.0.0.1") << int(QFtp::Active);
    QTest::newRow("ipv6 passive") << QStringLiteral("::1") << int(QFtp::Passive);
    QTest::newRow("ipv6 active") << QStringLiteral("::1") << int(QFtp::Active);
}

void TestFtpClientServer::listsDirectoryTreeWithSignalsInOrder()
{
    QFETCH(QString, host);
    QFETCH(int, mode);

    FtpServer* server = &m_server;
    FtpServer v6;
    if (host != m_server.host()) {
        QTcpServer probe;
        if (!probe.listen(QHostAddress(host)))
            QSKIP("no IPv6 loopback here");
        FtpServer::Options options;
        options.host = host;
        options.root = m_root.path();
        QVERIFY2(v6.start(options), qPrintable(v6.errorString()));
        server = &v6;
    }

    QFtp ftp;
    FtpRecorder rec(&ftp);
    const int idConnect = ftp.connectToHost(server->host(), server->port());
    const int idLogin = ftp.login(server->user(), server->password());
    const int idMode = ftp.setTransferMode(QFtp::TransferMode(mode));
    const int idList = ftp.list(QStringLiteral("/ZRN"));
    const int idClose = ftp.close();
    QVERIFY(idConnect < idLogin && idLogin < idMode && idMode < idList && idList < idClose);
    // Nothing starts inside the queueing calls.
    QVERIFY(rec.events().isEmpty());
    QCOMPARE(ftp.currentCommand(), QFtp::ConnectToHost);
    QVERIFY(ftp.hasPendingCommands());

    QVERIFY(rec.waitForDone());
    QCOMPARE(rec.events(QStringLiteral("done")), QStringList{QStringLiteral("done ok")});
    QCOMPARE(
        rec.events(QStringLiteral("started")),
        (QStringList{QStringLiteral("started %1").arg(idConnect), QStringLiteral("started %1").arg(idLogin),
                     QStringLiteral("started %1").arg(idMode), QStringLiteral("started %1").arg(idList),
                     QStringLiteral("started %1").arg(idClose)}));
    QCOMPARE(rec.events(QStringLiteral("finished")).size(), 5);
    for (const QString& e : rec.events(QStringLiteral("finished")))
        QVERIFY2(e.endsWith(QLatin1String(" ok")), qPrintable(e));
    QCOMPARE(rec.events(QStringLiteral("state")),
             (QStringList{"state 1", "state 2", "state 3", "state 4", "state 5", "state 0"}));
    QCOMPARE(ftp.state(), QFtp::Unconnected);

    // Every entry arrives before the list command reports.
    QStringList names = rec.names();
    names.sort();
    QCOMPARE(names, (QStringList{"Beta", "V1.0.4.10", "V1.0.4.3", "name with blanks.txt", "readme.txt"}));
    const int listFinished = rec.indexOf(QStringLiteral("finished %1 ok").arg(idList));
    QVERIFY(rec.indexOf(QStringLiteral("started %1").arg(idList)) < rec.indexOf(QStringLiteral("list Beta")));
    for (const QString& e : rec.events(QStringLiteral("list")))
        QVERIFY(rec.indexOf(e) < listFinished);

    const QDateTime now = QDateTime::currentDateTime();
    for (const QUrlInfo& e : rec.entries()) {
        const bool dir = e.name() == QLatin1String("Beta") || e.name().startsWith(QLatin1Char('V'));
        QCOMPARE(e.isDir(), dir);
        QCOMPARE(e.isFile(), !dir);
        QVERIFY(e.lastModified().isValid());
        QVERIFY(qAbs(e.lastModified().secsTo(now)) < 3600 * 24);
        if (e.name() == QLatin1String("name with blanks.txt"))
            QCOMPARE(e.size(), qint64(7));
        if (e.name() == QLatin1String("readme.txt"))
            QCOMPARE(e.size(), qint64(6));
    }
}

void TestFtpClientServer::wrongPasswordFailsLoginAndDropsList()
{
    QFtp ftp;
    FtpRecorder rec(&ftp);
    ftp.connectToHost(m_server.host(), m_server.port());
    const int idLogin = ftp.login(m_server.user(), QStringLiteral("wrong"));
    const int idList = ftp.list(QStringLiteral("/ZRN"));
    QVERIFY(rec.waitForDone());
    QCOMPARE(rec.events().last(), QStringLiteral("done error"));
    QVERIFY(rec.events().contains(QStringLiteral("finished %1 error").arg(idLogin)));
    QVERIFY(!rec.events().contains(QStringLiteral("started %1").arg(idList)));
    QCOMPARE(ftp.error(), QFtp::UnknownError);
    QCOMPARE(ftp.errorString(), QStringLiteral("Login failed:\nAuthentication failed."));
    QCOMPARE(ftp.currentCommand(), QFtp::None);
    QVERIFY(rec.entries().isEmpty());
}

void TestFtpClientServer::portWithoutServerGivesRefusedText()
{
    QTcpServer probe;
    QVERIFY(probe.listen(QHostAddress::LocalHost));
    const quint16 port = probe.serverPort();
    probe.close();

    QFtp ftp;
    FtpRecorder rec(&ftp);
    const int idConnect = ftp.connectToHost(QStringLiteral("127.0.0.1"), port);
    ftp.login();
    QVERIFY(rec.waitForDone());
    QCOMPARE(rec.events(QStringLiteral("finished")),
             QStringList{QStringLiteral("finished %1 error").arg(idConnect)});
    QCOMPARE(ftp.error(), QFtp::ConnectionRefused);
    QCOMPARE(ftp.errorString(),
             QStringLiteral("Connecting to host failed:\nConnection refused to host 127.0.0.1"));
    QCOMPARE(ftp.state(), QFtp::Unconnected);
    // The state is Unconnected before the failure is reported.
    QVERIFY(rec.indexOf(QStringLiteral("state 0")) <
            rec.indexOf(QStringLiteral("finished %1 error").arg(idConnect)));
}

void TestFtpClientServer::missingDirectoryFailsListWithServerText()
{
    QFtp ftp;
    FtpRecorder rec(&ftp);
    ftp.connectToHost(m_server.host(), m_server.port());
    ftp.login(m_server.user(), m_server.password());
    const int idList = ftp.list(QStringLiteral("/nowhere"));
    const int idClose = ftp.close();
    QVERIFY(rec.waitForDone());
    QVERIFY(rec.events().contains(QStringLiteral("finished %1 error").arg(idList)));
    QVERIFY(!rec.events().contains(QStringLiteral("started %1").arg(idClose)));
    QVERIFY2(ftp.errorString().startsWith(QLatin1String("Listing directory failed:\n")),
             qPrintable(ftp.errorString()));
    QVERIFY2(ftp.errorString().contains(QLatin1String("No such file or directory")),
             qPrintable(ftp.errorString()));
}

void TestFtpClientServer::getWritesFileToDeviceWithProgress()
{
    QByteArray content;
    for (int i = 0; i < 300000; ++i)
        content.append(char('a' + i % 26));
    makeFile(QStringLiteral("big.bin"), content);

    QFtp ftp;
    FtpRecorder rec(&ftp);
    QBuffer buffer;
    ftp.connectToHost(m_server.host(), m_server.port());
    ftp.login(m_server.user(), m_server.password());
    const int idGet = ftp.get(QStringLiteral("/big.bin"), &buffer);
    ftp.close();
    QVERIFY(rec.waitForDone());
    QCOMPARE(rec.events().last(), QStringLiteral("done ok"));
    QVERIFY(rec.events().contains(QStringLiteral("finished %1 ok").arg(idGet)));
    QCOMPARE(buffer.data(), content);
    QVERIFY(!rec.progress().isEmpty());
    QCOMPARE(rec.progress().last(), qMakePair(qint64(content.size()), qint64(content.size())));
    for (int i = 1; i < rec.progress().size(); ++i)
        QVERIFY(rec.progress().at(i).first > rec.progress().at(i - 1).first);
}

void TestFtpClientServer::getWithoutDeviceDeliversThroughReadyRead()
{
    QFtp ftp;
    FtpRecorder rec(&ftp);
    QByteArray received;
    connect(&ftp, &QFtp::readyRead, this, [&] { received += ftp.readAll(); });
    ftp.connectToHost(m_server.host(), m_server.port());
    ftp.login(m_server.user(), m_server.password());
    ftp.get(QStringLiteral("/ZRN/readme.txt"));
    const int idMissing = ftp.get(QStringLiteral("/ZRN/missing.txt"));
    QVERIFY(rec.waitForDone());
    QCOMPARE(received, QByteArray("hello\n"));
    QVERIFY(rec.events().contains(QStringLiteral("finished %1 error").arg(idMissing)));
    QVERIFY2(ftp.errorString().startsWith(QLatin1String("Downloading file failed:\n")),
             qPrintable(ftp.errorString()));
}

void TestFtpClientServer::putStoresDataOnServer()
{
    QFtp ftp;
    FtpRecorder rec(&ftp);
    const QByteArray data(200000, 'z');
    ftp.connectToHost(m_server.host(), m_server.port());
    ftp.login(m_server.user(), m_server.password());
    const int idPut = ftp.put(data, QStringLiteral("/upload/stored.bin"));
    ftp.close();
    QVERIFY(rec.waitForDone());
    QVERIFY2(rec.events().contains(QStringLiteral("finished %1 ok").arg(idPut)),
             qPrintable(ftp.errorString()));
    QFile f(m_root.filePath(QStringLiteral("upload/stored.bin")));
    QVERIFY(f.open(QIODevice::ReadOnly));
    QCOMPARE(f.readAll(), data);
}

void TestFtpClientServer::anonymousLoginUsesDefaults()
{
    FtpServer anon;
    FtpServer::Options options;
    options.root = m_root.path();
    options.user.clear();
    options.anonymous = true;
    QVERIFY2(anon.start(options), qPrintable(anon.errorString()));
    QFtp ftp;
    FtpRecorder rec(&ftp);
    ftp.connectToHost(anon.host(), anon.port());
    ftp.login();
    ftp.list();
    QVERIFY(rec.waitForDone());
    QCOMPARE(rec.events().last(), QStringLiteral("done ok"));
    QVERIFY(rec.names().contains(QStringLiteral("ZRN")));
    QCOMPARE(ftp.state(), QFtp::LoggedIn);
}

void TestFtpClientServer::commandBeforeConnectFailsNotConnected()
{
    QFtp ftp;
    FtpRecorder rec(&ftp);
    const int idList = ftp.list();
    ftp.close();
    QVERIFY(rec.waitForDone());
    QCOMPARE(rec.events(),
             (QStringList{QStringLiteral("started %1").arg(idList),
                          QStringLiteral("finished %1 error").arg(idList), QStringLiteral("done error")}));
    QCOMPARE(ftp.error(), QFtp::NotConnected);
    QCOMPARE(ftp.errorString(), QStringLiteral("Listing directory failed:\nNot connected"));
}

QTEST_MAIN(TestFtpClientServer)
#include "tst_ftpclient_server.moc"
