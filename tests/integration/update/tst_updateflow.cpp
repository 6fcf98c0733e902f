#include "app/common.h"
#include "app/commontools.h"
#include "logcapture.h"
#include "scriptedftpserver.h"
#include "testenv.h"
#include "update/cupgradedialog.h"
#include "update/ftpmanager.h"
#include "updatetestsupport.h"

#include <QApplication>
#include <QDateTime>
#include <QDirIterator>
#include <QHostAddress>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QtTest>

#include <unistd.h>

namespace {

const QString kInstaller = QStringLiteral("ZRN/V1.0.4.3/VarnoksPilotSetup_V1.0.4.3.exe");
// The Linux package of the same version, and its signature.
const QString kPackage =
    QStringLiteral("ZRN/V1.0.4.3/") + CUpgradeDialog::installerFileName(QStringLiteral("V1.0.4.3"));
const QString kSignature = kPackage + QStringLiteral(".minisig");
const QString kMismatchText = QStringLiteral("新版本程序安装包未安装：签名不匹配");
const QString kFailureText = QStringLiteral("Program download update failed, please try again later.");
const QString kUnreachableText = QStringLiteral("程序升级服务器连接失败，请检查网络是否正常！");

// A small installer: writes its own path into $VARNOKS_TEST_MARKER and ends.
// The comment lines pad it so that the transfer takes several reads.
QByteArray installerScript(int padLines = 4000)
{
    QByteArray script = "#!/bin/sh\necho \"$0\" > \"$VARNOKS_TEST_MARKER\"\nexit 0\n";
    for (int i = 0; i < padLines; ++i)
        script += "# padding line of the test installer, " + QByteArray::number(i) + "\n";
    return script;
}

// The publisher's key, made once for the whole run.
MinisignKey* g_publisher = nullptr;

// The version folder as published for both systems: the setup program and
// the Debian package (with the same content here) with its signature.
QList<QPair<QString, QByteArray>> publishedTree(const QByteArray& installer = installerScript())
{
    return {{"ZRN/V1.0.4.2/", {}},
            {kInstaller, installer},
            {kPackage, installer},
            {kSignature, g_publisher->sign(installer)},
            {"ZRN/v9.0/", {}},
            {"ZRN/Beta/", {}},
            {"ZRN/V9.9.9", "a file, not a version"},
            {"ZRN/V9..9/", {}},
            {"ZRN/V9.0 x/", {}}};
}

// Download folders the dialog made under the test's temporary folder.
QStringList downloadFolders(const QString& tmp)
{
    return QDir(tmp).entryList({QStringLiteral("VarnoksPilot-*")}, QDir::Dirs | QDir::NoDotAndDotDot);
}

bool ipv6LoopbackUsable()
{
    QTcpServer server;
    return server.listen(QHostAddress::LocalHostIPv6);
}

} // namespace

class TestUpdateFlow : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    // Checker
    void newestVersionIsChosenFromTheListing();
    void proftpdInBothListStylesServesTheNewestInstaller_data();
    void proftpdInBothListStylesServesTheNewestInstaller();
    void nothingNewerGivesAnEmptyResult_data();
    void nothingNewerGivesAnEmptyResult();
    void userCheckWhileStartupCommandsWaitDoesNothing();
    void userCheckProbesBeforeListing_data();
    void userCheckProbesBeforeListing();
    void tricklingServerCannotKeepACheckAlive_data();
    void tricklingServerCannotKeepACheckAlive();
    void downloadDeliversTheWholeFileWithProgress();
    void missingInstallerFailsWithTheFailureText();
    void stoppedDownloadReportsAtOnceWithoutText();
    void destroyingTheCheckerDuringADownloadReportsNothing();
    void hostileDataConnectionRepliesNeverReachAnotherHost_data();
    void hostileDataConnectionRepliesNeverReachAnotherHost();

    // Dialog
    void automaticCheckRemindsLaterWithoutABox();
    void userCheckWhileTheStartupCheckIsPendingChangesNothing_data();
    void userCheckWhileTheStartupCheckIsPendingChangesNothing();
    void userCheckWhenUpToDateSaysSo();
    void unreachableServerOnUserCheckGivesCriticalBox();
    void acceptedOfferShowsProgressAndCancelDeletesTheFile();
    void versionWithoutLinuxPackageSaysSoAndIsNotOfferedAgain();
    void proftpdServedPackageIsCheckedBeforeTheInstallQuestion_data();
    void proftpdServedPackageIsCheckedBeforeTheInstallQuestion();
    void installerThatIsNotWholeNeverStarts_data();
    void installerThatIsNotWholeNeverStarts();
    void stopInTheMiddleDeletesThePartialFileWithoutABox();
    void verifiedPackageIsHandedToTheDesktopInstaller_data();
    void verifiedPackageIsHandedToTheDesktopInstaller();

private:
    bool startServer(const QList<QPair<QString, QByteArray>>& tree, int throttle = 0);
    // Calls a user check until the fake ping has run (the start-up connect
    // and login must be done first, or the check is ignored).
    bool userCheck(CUpgradeDialog& dialog);
    QString runChild(int* exitCode, const PackageHandler& handler);
    // proftpd serving tree as the update server, or an error text.
    QString startProftpd(ProftpdProcess* pProftpd, const QList<QPair<QString, QByteArray>>& tree,
                         const QString& listStyle);

    QTemporaryDir m_keys;
    MinisignKey m_publisher;
    MinisignKey m_stranger;
    QScopedPointer<TestEnv> m_env;
    QScopedPointer<QTemporaryDir> m_work;
    QScopedPointer<UpdateServerProcess> m_server;
    QString m_tmp;
    QString m_pingUp;
    QString m_pingDown;
};

void TestUpdateFlow::initTestCase()
{
    QCoreApplication::setApplicationName(COMMON::APPLICATION_NAME);
    if (!UpdateServerProcess::available())
        QSKIP("pyftpdlib is not installed for /usr/bin/python3");
    if (MinisignKey::program().isEmpty())
        QSKIP("minisign is not installed (Debian package minisign)");
    QVERIFY(m_keys.isValid());
    QVERIFY(m_publisher.generate(m_keys.path(), QStringLiteral("publisher")));
    QVERIFY(m_stranger.generate(m_keys.path(), QStringLiteral("stranger")));
    g_publisher = &m_publisher;
}

void TestUpdateFlow::init()
{
    m_env.reset(new TestEnv);
    m_work.reset(new QTemporaryDir);
    QVERIFY(m_work->isValid());
    m_tmp = m_work->filePath(QStringLiteral("tmp"));
    QVERIFY(QDir().mkpath(m_tmp));
    qputenv("TMPDIR", QFile::encodeName(m_tmp));
    qputenv("VARNOKS_UPDATE_KEYS_DIR", QFile::encodeName(m_publisher.trustedDir()));
    m_pingUp = writeFakePing(m_work->path(), true);
    m_pingDown = writeFakePing(m_work->path(), false);
    m_server.reset(new UpdateServerProcess);
}

void TestUpdateFlow::cleanup()
{
    m_server.reset();
    qunsetenv("VARNOKS_UPDATE_SERVER");
    qunsetenv("TMPDIR");
    qunsetenv("VARNOKS_UPDATE_KEYS_DIR");
    m_work.reset();
    m_env.reset();
}

bool TestUpdateFlow::startServer(const QList<QPair<QString, QByteArray>>& tree, int throttle)
{
    const QString root = m_work->filePath(QStringLiteral("root"));
    if (!QDir().mkpath(root + QStringLiteral("/ZRN")) || !makeTree(root, tree))
        return false;
    if (!m_server->startFolder(root, throttle))
        return false;
    qputenv("VARNOKS_UPDATE_SERVER", m_server->address().toUtf8());
    return true;
}

bool TestUpdateFlow::userCheck(CUpgradeDialog& dialog)
{
    QElapsedTimer timer;
    timer.start();
    const QString ranUp = m_pingUp + QStringLiteral(".ran");
    const QString ranDown = m_pingDown + QStringLiteral(".ran");
    QFile::remove(ranUp);
    QFile::remove(ranDown);
    while (timer.elapsed() < 10000) {
        dialog.checkUpdate(false);
        QTest::qWait(100);
        if (QFile::exists(ranUp) || QFile::exists(ranDown))
            return true;
    }
    return false;
}

void TestUpdateFlow::newestVersionIsChosenFromTheListing()
{
    QVERIFY(startServer({{"ZRN/V1.0.4.9/", {}},
                         {"ZRN/V1.0.4.10/", {}},
                         {"ZRN/V1.0.4.3-beta/", {}},
                         {"ZRN/v9.9/", {}},
                         {"ZRN/Beta/", {}},
                         {"ZRN/V9.9.9", "file"},
                         {"ZRN/V9..9/", {}},
                         {"ZRN/V9.0 x/", {}},
                         {"ZRN/V9.0%x/", {}}}));
    FtpManager manager;
    QSignalSpy spy(&manager, &FtpManager::signalNeedUpdate);
    manager.checkUpdate(true);
    QVERIFY(spy.wait(15000));
    QCOMPARE(spy.at(0).at(0).toString(), QStringLiteral("V1.0.4.10"));
    QTest::qWait(100);
    QCOMPARE(spy.count(), 1);
}

void TestUpdateFlow::proftpdInBothListStylesServesTheNewestInstaller_data()
{
    QTest::addColumn<QString>("listStyle");
    QTest::newRow("Unix list style") << "Unix";
    QTest::newRow("Windows list style") << "Windows";
}

QString TestUpdateFlow::startProftpd(ProftpdProcess* pProftpd, const QList<QPair<QString, QByteArray>>& tree,
                                     const QString& listStyle)
{
    if (ProftpdProcess::program().isEmpty())
        return QStringLiteral("SKIP proftpd is not installed (Debian package proftpd-core)");
    const QString root = m_work->filePath(QStringLiteral("ftproot"));
    if (!QDir().mkpath(root + QStringLiteral("/ZRN")) || !makeTree(root, tree))
        return QStringLiteral("cannot write the served tree");
    // Started as root, proftpd serves as nobody, who must reach the folder
    // whatever the umask.
    const QFileDevice::Permissions readable =
        QFile::ReadOther | QFile::ReadGroup | QFile::ReadOwner | QFile::WriteOwner;
    const QFileDevice::Permissions traversable =
        readable | QFile::ExeOther | QFile::ExeGroup | QFile::ExeOwner;
    QDirIterator it(root, QDir::AllEntries | QDir::NoDotAndDotDot, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        QFile::setPermissions(path, it.fileInfo().isDir() ? traversable : readable);
    }
    for (QString dir = root; dir.startsWith(m_work->path()); dir = QFileInfo(dir).path())
        QFile::setPermissions(dir, QFile::permissions(dir) | traversable);
    const QString conf = m_work->filePath(QStringLiteral("proftpd"));
    QDir().mkpath(conf);
    if (!pProftpd->start(root, conf, COMMON::FTP_USER, COMMON::FTP_PASSWORD, listStyle)) {
        if (geteuid() != 0 && pProftpd->errorString().contains(QLatin1String("unshare")))
            return QStringLiteral(
                "SKIP proftpd needs root or a user namespace to change its root, and neither is available");
        return pProftpd->errorString();
    }
    qputenv("VARNOKS_UPDATE_SERVER", pProftpd->address().toUtf8());
    return QString();
}

void TestUpdateFlow::proftpdInBothListStylesServesTheNewestInstaller()
{
    // A server nobody on the project wrote, with decoys beside the proper
    // version folders.
    QFETCH(QString, listStyle);
    const QByteArray installer = installerScript(20000);
    const QByteArray signature = m_publisher.sign(installer);
    const QString newest =
        QStringLiteral("ZRN/V1.0.4.10/") + CUpgradeDialog::installerFileName(QStringLiteral("V1.0.4.10"));
    ProftpdProcess proftpd;
    const QString error = startProftpd(&proftpd,
                                       {{"ZRN/V1.0.4.3/VarnoksPilotSetup_V1.0.4.3.exe", "older"},
                                        {"ZRN/V1.0.4.9/", {}},
                                        {newest, installer},
                                        {newest + QStringLiteral(".minisig"), signature},
                                        {"ZRN/V9.9.9", "a file named like a version"},
                                        {"ZRN/v2.0/", {}},
                                        {"ZRN/Beta/", {}}},
                                       listStyle);
    if (error.startsWith(QLatin1String("SKIP ")))
        QSKIP(qPrintable(error.mid(5)));
    QVERIFY2(error.isEmpty(), qPrintable(error));

    FtpManager manager;
    QSignalSpy need(&manager, &FtpManager::signalNeedUpdate);
    QVERIFY(manager.checkUpdate(true));
    QVERIFY(need.wait(15000));
    QCOMPARE(need.at(0).at(0).toString(), QStringLiteral("V1.0.4.10"));

    // The folder's listing in this style names both files.
    QSignalSpy finished(&manager, &FtpManager::downloadFinished);
    const QString local = m_tmp + QStringLiteral("/package.deb");
    manager.startDownload(CUpgradeDialog::installerRemotePath(QStringLiteral("V1.0.4.10")), local, true);
    QVERIFY(finished.wait(20000));
    QVERIFY2(finished.at(0).at(0).toBool(), qPrintable(manager.downloadFailure()));
    QFile file(local);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), installer);
    QFile signatureFile(local + QStringLiteral(".minisig"));
    QVERIFY(signatureFile.open(QIODevice::ReadOnly));
    QCOMPARE(signatureFile.readAll(), signature);
}

void TestUpdateFlow::proftpdServedPackageIsCheckedBeforeTheInstallQuestion_data()
{
    QTest::addColumn<QString>("change"); // what differs from a proper publication
    QTest::addColumn<int>("icon");       // of the box after the offer
    QTest::addColumn<QString>("text");   // of that box; empty: the install question
    const int critical = QMessageBox::Critical;
    QTest::newRow("good signature") << "" << int(QMessageBox::Warning) << "";
    QTest::newRow("legacy Ed signature") << "legacy" << int(QMessageBox::Warning) << "";
    QTest::newRow("broken key file beside the trusted key")
        << "broken-key" << int(QMessageBox::Warning) << "";
    QTest::newRow("tampered byte") << "tamper" << critical << kMismatchText;
    QTest::newRow("signature of another file") << "other-file" << critical << kMismatchText;
    QTest::newRow("another key") << "other-key" << critical << kMismatchText;
    QTest::newRow("trusted comment changed") << "comment" << critical << kMismatchText;
    QTest::newRow("truncated signature") << "short-signature" << critical << kMismatchText;
    QTest::newRow("missing .minisig")
        << "no-signature" << critical << QStringLiteral("新版本程序安装包未安装：缺少签名");
    QTest::newRow("no trusted key in this build")
        << "no-key" << critical
        << QStringLiteral("新版本程序安装包未安装：此版本程序未带可信的签名公钥，不能安装更新");
    QTest::newRow("no Linux package in the folder")
        << "no-package" << int(QMessageBox::Information) << QStringLiteral("该版本暂无 Linux 安装包");
}

void TestUpdateFlow::proftpdServedPackageIsCheckedBeforeTheInstallQuestion()
{
    QFETCH(QString, change);
    QFETCH(int, icon);
    QFETCH(QString, text);
    const QByteArray package = debianPackageBytes(20000);
    QByteArray served = package;
    QByteArray signature = m_publisher.sign(package, change == QLatin1String("legacy"));
    if (change == QLatin1String("tamper"))
        served[served.size() / 2] = char(served.at(served.size() / 2) ^ 0x01);
    else if (change == QLatin1String("other-file"))
        signature = m_publisher.sign(debianPackageBytes(20001));
    else if (change == QLatin1String("other-key"))
        signature = m_stranger.sign(package);
    else if (change == QLatin1String("comment"))
        signature.replace("trusted comment: ", "trusted comment: v2 ");
    else if (change == QLatin1String("short-signature"))
        signature.chop(20);
    else if (change == QLatin1String("no-key"))
        qputenv("VARNOKS_UPDATE_KEYS_DIR", QFile::encodeName(m_work->filePath(QStringLiteral("no-keys"))));
    if (change == QLatin1String("broken-key")) {
        const QString keys = m_work->filePath(QStringLiteral("keys"));
        QVERIFY(makeTree(keys, {{"a-broken.pub", "untrusted comment: x\nnot base64\n"}}));
        QVERIFY(QFile::copy(m_publisher.publicKeyPath(), keys + QStringLiteral("/publisher.pub")));
        qputenv("VARNOKS_UPDATE_KEYS_DIR", QFile::encodeName(keys));
    }
    QList<QPair<QString, QByteArray>> tree{{kInstaller, "the setup program"}};
    if (change != QLatin1String("no-package"))
        tree.append({kPackage, served});
    if (change != QLatin1String("no-package") && change != QLatin1String("no-signature"))
        tree.append({kSignature, signature});
    ProftpdProcess proftpd;
    const QString error = startProftpd(&proftpd, tree, QStringLiteral("Unix"));
    if (error.startsWith(QLatin1String("SKIP ")))
        QSKIP(qPrintable(error.mid(5)));
    QVERIFY2(error.isEmpty(), qPrintable(error));

    LogCapture log;
    CUpgradeDialog dialog;
    dialog.ftpManager()->setPingProgram(m_pingUp);
    BoxAnswerer answerer;
    answerer.push(QMessageBox::Ok);     // offer
    answerer.push(QMessageBox::Cancel); // install now?
    QStringList foldersAtSecondBox;
    answerer.setObserver([&](const BoxAnswerer::Seen&) {
        if (answerer.count() == 2)
            foldersAtSecondBox = downloadFolders(m_tmp);
    });
    QVERIFY(userCheck(dialog));
    QTRY_COMPARE_WITH_TIMEOUT(answerer.count(), 2, 20000);
    QCOMPARE(int(answerer.seen().at(1).icon), icon);
    QCOMPARE(answerer.seen().at(1).text,
             text.isEmpty() ? QStringLiteral("新版本程序安装包已下载完成，是否立即重启安装？") : text);
    QTRY_VERIFY(!dialog.isVisible());
    QTest::qWait(300);
    QCOMPARE(answerer.count(), 2);
    // A rejected package is gone before the user reads why.
    QCOMPARE(foldersAtSecondBox.size(), text.isEmpty() ? 1 : 0);
    QVERIFY(downloadFolders(m_tmp).isEmpty());
    if (icon == QMessageBox::Critical && change != QLatin1String("no-signature")) {
        // The run log names the key and the file.
        const QStringList lines = log.matching(QStringLiteral("Signature check of"));
        QCOMPARE(lines.size(), 1);
        QVERIFY2(lines.first().contains(CUpgradeDialog::installerFileName(QStringLiteral("V1.0.4.3"))),
                 qPrintable(lines.first()));
        const QString keyId = change == QLatin1String("other-key") ? m_stranger.keyId() : m_publisher.keyId();
        if (change != QLatin1String("short-signature"))
            QVERIFY2(lines.first().contains(QStringLiteral("key ") + keyId), qPrintable(lines.first()));
    }
    if (change == QLatin1String("no-package"))
        QCOMPARE(log.count(QStringLiteral("no Linux package for this version yet")), 1);
    if (change == QLatin1String("broken-key"))
        QCOMPARE(log.count(QStringLiteral("Update key not used: ") +
                           m_work->filePath(QStringLiteral("keys/a-broken.pub"))),
                 1);
}

void TestUpdateFlow::nothingNewerGivesAnEmptyResult_data()
{
    QTest::addColumn<QStringList>("dirs");
    QTest::newRow("running version and its long form") << QStringList{"V1.0.4.2", "V1.0.4.2.0"};
    QTest::newRow("older only") << QStringList{"V1.0.3.9", "V1.0.4"};
    QTest::newRow("empty update directory") << QStringList{};
    QTest::newRow("only a beta of the running version") << QStringList{"V1.0.4.2-beta"};
}

void TestUpdateFlow::nothingNewerGivesAnEmptyResult()
{
    QFETCH(QStringList, dirs);
    QList<QPair<QString, QByteArray>> tree;
    for (const QString& dir : dirs)
        tree.append({QStringLiteral("ZRN/") + dir + QLatin1Char('/'), {}});
    QVERIFY(startServer(tree));
    FtpManager manager;
    QSignalSpy spy(&manager, &FtpManager::signalNeedUpdate);
    manager.checkUpdate(true);
    QVERIFY(spy.wait(15000));
    QCOMPARE(spy.at(0).at(0).toString(), QString());
}

void TestUpdateFlow::userCheckWhileStartupCommandsWaitDoesNothing()
{
    QVERIFY(startServer(publishedTree()));
    FtpManager manager;
    manager.setPingProgram(m_pingUp);
    QSignalSpy need(&manager, &FtpManager::signalNeedUpdate);
    QSignalSpy connected(&manager, &FtpManager::signalFtpConnected);
    manager.checkUpdate(true);
    manager.checkUpdate(false); // the start-up listing waits behind connect and login
    manager.checkUpdate(true);
    QVERIFY(need.wait(15000));
    QTest::qWait(500);
    QCOMPARE(need.count(), 1);
    QCOMPARE(need.at(0).at(0).toString(), QStringLiteral("V1.0.4.3"));
    QVERIFY(!QFile::exists(m_pingUp + QStringLiteral(".ran")));
    QCOMPARE(connected.count(), 0);
}

void TestUpdateFlow::userCheckProbesBeforeListing_data()
{
    QTest::addColumn<bool>("reachable");
    QTest::newRow("reachable lists") << true;
    QTest::newRow("unreachable stops with a message") << false;
}

void TestUpdateFlow::userCheckProbesBeforeListing()
{
    QFETCH(bool, reachable);
    QVERIFY(startServer(publishedTree()));
    FtpManager manager;
    const QString ping = reachable ? m_pingUp : m_pingDown;
    manager.setPingProgram(ping);
    QSignalSpy need(&manager, &FtpManager::signalNeedUpdate);
    QSignalSpy connected(&manager, &FtpManager::signalFtpConnected);
    QTRY_VERIFY_WITH_TIMEOUT((manager.checkUpdate(false), QFile::exists(ping + QStringLiteral(".ran"))),
                             10000);
    if (reachable) {
        QTRY_COMPARE_WITH_TIMEOUT(need.count(), 1, 15000);
        QCOMPARE(need.at(0).at(0).toString(), QStringLiteral("V1.0.4.3"));
        QCOMPARE(connected.count(), 0);
    } else {
        QTRY_COMPARE_WITH_TIMEOUT(connected.count(), 1, 15000);
        QCOMPARE(connected.at(0).at(0).toBool(), false);
        QCOMPARE(connected.at(0).at(1).toString(), kUnreachableText);
        QTest::qWait(300);
        QCOMPARE(need.count(), 0);
    }
}

void TestUpdateFlow::tricklingServerCannotKeepACheckAlive_data()
{
    QTest::addColumn<bool>("inGreeting"); // trickles the greeting, or the listing
    QTest::newRow("greeting") << true;
    QTest::newRow("listing") << false;
}

void TestUpdateFlow::tricklingServerCannotKeepACheckAlive()
{
    // One byte every 100 ms keeps the client's 30 s silence time-out from
    // ever firing; only the listing's own deadline ends the check.
    QFETCH(bool, inGreeting);
    ScriptedFtpServer server;
    bool listing = false;
    if (inGreeting)
        server.setGreeting("2");
    server.setHandler([&](const QByteArray& line) {
        if (line != "LIST /ZRN")
            return false;
        server.send("150 Here comes the listing\r\n");
        listing = true;
        return true;
    });
    QTimer trickle;
    connect(&trickle, &QTimer::timeout, &server, [&] {
        if (inGreeting)
            server.send("2");
        else if (listing)
            server.sendData("d", false);
    });
    trickle.start(100);
    qputenv("VARNOKS_UPDATE_SERVER", "127.0.0.1:" + QByteArray::number(server.port()));
    LogCapture log;
    FtpManager manager;
    manager.setListingDeadline(1500);
    QSignalSpy need(&manager, &FtpManager::signalNeedUpdate);
    QVERIFY(manager.checkUpdate(true));
    QVERIFY(!manager.checkUpdate(true)); // one check at a time
    QTRY_VERIFY_WITH_TIMEOUT(!manager.isChecking(), 10000);
    QCOMPARE(need.count(), 0);
    QCOMPARE(log.count(QStringLiteral("listing took longer than 1 s")), 1);
    QVERIFY(inGreeting || listing);
    // The next check starts afresh.
    QVERIFY(manager.checkUpdate(true));
}

void TestUpdateFlow::downloadDeliversTheWholeFileWithProgress()
{
    const QByteArray content = installerScript(20000);
    QVERIFY(startServer(publishedTree(content)));
    FtpManager manager;
    QSignalSpy progress(&manager, &FtpManager::downloadProgress);
    QSignalSpy finished(&manager, &FtpManager::downloadFinished);
    const QString local = m_tmp + QStringLiteral("/setup.exe");
    manager.startDownload(QStringLiteral("/") + kInstaller, local);
    QVERIFY(finished.wait(20000));
    QCOMPARE(finished.count(), 1);
    QCOMPARE(finished.at(0).at(0).toBool(), true);
    QCOMPARE(finished.at(0).at(1).toString(), local);
    QCOMPARE(finished.at(0).at(2).toString(), QString());
    QVERIFY(!progress.isEmpty());
    QCOMPARE(progress.last().at(0).toLongLong(), qint64(content.size()));
    QCOMPARE(progress.last().at(1).toLongLong(), qint64(content.size()));
    QFile file(local);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), content);
}

void TestUpdateFlow::missingInstallerFailsWithTheFailureText()
{
    QVERIFY(startServer({{"ZRN/V1.0.4.3/", {}}}));
    FtpManager manager;
    QSignalSpy finished(&manager, &FtpManager::downloadFinished);
    manager.startDownload(QStringLiteral("/") + kInstaller, m_tmp + QStringLiteral("/setup.exe"));
    QVERIFY(finished.wait(20000));
    QCOMPARE(finished.at(0).at(0).toBool(), false);
    QCOMPARE(finished.at(0).at(2).toString(), kFailureText);

    // So does a local file that cannot be written, reported from the event
    // loop like any other end.
    manager.startDownload(QStringLiteral("/") + kInstaller, m_tmp + QStringLiteral("/missing/setup.exe"));
    QCOMPARE(finished.count(), 1);
    QVERIFY(finished.wait(5000));
    QCOMPARE(finished.at(1).at(0).toBool(), false);
    QCOMPARE(finished.at(1).at(2).toString(), kFailureText);
    QVERIFY2(manager.downloadFailure().startsWith(QLatin1String("cannot write ")),
             qPrintable(manager.downloadFailure()));
}

void TestUpdateFlow::stoppedDownloadReportsAtOnceWithoutText()
{
    QVERIFY(startServer(publishedTree(installerScript(20000)), 40000));
    FtpManager manager;
    QSignalSpy progress(&manager, &FtpManager::downloadProgress);
    QSignalSpy finished(&manager, &FtpManager::downloadFinished);
    const QString local = m_tmp + QStringLiteral("/setup.exe");
    manager.startDownload(QStringLiteral("/") + kInstaller, local);
    QTRY_VERIFY_WITH_TIMEOUT(!progress.isEmpty() && progress.last().at(0).toLongLong() > 0, 15000);
    QVERIFY(manager.isDownloading());
    manager.stopDownload();
    QCOMPARE(finished.count(), 1); // before stopDownload returned
    QCOMPARE(finished.at(0).at(0).toBool(), false);
    QCOMPARE(finished.at(0).at(1).toString(), local);
    QCOMPARE(finished.at(0).at(2).toString(), QString());
    QTest::qWait(300);
    QCOMPARE(finished.count(), 1);

    // The stop is forgotten after its report: the next failure has its text.
    manager.startDownload(QStringLiteral("/ZRN/V1.0.4.3/missing.exe"), local);
    QVERIFY(finished.wait(20000));
    QCOMPARE(finished.at(1).at(2).toString(), kFailureText);
    QCOMPARE(manager.downloadFailure(),
             QStringLiteral("Downloading file failed: No such file or directory."));
}

void TestUpdateFlow::destroyingTheCheckerDuringADownloadReportsNothing()
{
    QVERIFY(startServer(publishedTree(installerScript(20000)), 40000));
    auto* manager = new FtpManager;
    QSignalSpy finished(manager, &FtpManager::downloadFinished);
    QSignalSpy progress(manager, &FtpManager::downloadProgress);
    manager->startDownload(QStringLiteral("/") + kInstaller, m_tmp + QStringLiteral("/setup.exe"));
    QTRY_VERIFY_WITH_TIMEOUT(!progress.isEmpty(), 15000);
    delete manager;
    QTest::qWait(300);
    QCOMPARE(finished.count(), 0);
}

void TestUpdateFlow::hostileDataConnectionRepliesNeverReachAnotherHost_data()
{
    QTest::addColumn<QString>("host");
    QTest::addColumn<QString>("reply");
    QTest::newRow("227 names another host") << "127.0.0.1"
                                            << "227 Entering Passive Mode (127,0,0,2,{decoy_hi},{decoy_lo})";
    QTest::newRow("227 without numbers") << "127.0.0.1"
                                         << "227 Entering Passive Mode";
    QTest::newRow("227 numbers out of range") << "127.0.0.1"
                                              << "227 Entering Passive Mode (999,0,0,1,999,999)";
    QTest::newRow("229 ends at the bracket") << "::1"
                                             << "229 Entering Extended Passive Mode (";
    QTest::newRow("229 too few fields") << "::1"
                                        << "229 (|||";
    QTest::newRow("229 port not a number") << "::1"
                                           << "229 (|||x|)";
    QTest::newRow("229 port too large") << "::1"
                                        << "229 (|||99999|)";
}

void TestUpdateFlow::hostileDataConnectionRepliesNeverReachAnotherHost()
{
    QFETCH(QString, host);
    QFETCH(QString, reply);
    if (host == QLatin1String("::1") && !ipv6LoopbackUsable())
        QSKIP("no IPv6 loopback here");
    QVERIFY(m_server->startHostile(host, reply));
    qputenv("VARNOKS_UPDATE_SERVER", m_server->address().toUtf8());
    FtpManager manager;
    QSignalSpy finished(&manager, &FtpManager::downloadFinished);
    manager.startDownload(QStringLiteral("/") + kInstaller, m_tmp + QStringLiteral("/setup.exe"));
    QVERIFY(finished.wait(45000));
    QCOMPARE(finished.at(0).at(0).toBool(), false);
    QCOMPARE(finished.at(0).at(2).toString(), kFailureText);
    QTest::qWait(200);
    QVERIFY2(!m_server->output().contains(QLatin1String("DECOY CONNECTED")), qPrintable(m_server->output()));
}

void TestUpdateFlow::automaticCheckRemindsLaterWithoutABox()
{
    QVERIFY(startServer(publishedTree()));
    const qint64 before = QDateTime::currentSecsSinceEpoch();
    CUpgradeDialog dialog;
    BoxAnswerer answerer;
    dialog.checkUpdate(true);
    QTRY_COMPARE_WITH_TIMEOUT(CUpgradeDialog::getUpgradeVersion(), QStringLiteral("V1.0.4.3"), 15000);
    QVERIFY(dialog.isReminderTimerActive());
    const qint64 at =
        CommonTools::GetSettingValue(COMMON::KEY_NEXT_UPGRADE_TIME, QStringLiteral("998")).toLongLong();
    QVERIFY(at >= before && at <= QDateTime::currentSecsSinceEpoch() + 19903 * 60);
    QTest::qWait(300);
    QCOMPARE(answerer.count(), 0);
    QVERIFY(!dialog.isVisible());
}

void TestUpdateFlow::userCheckWhileTheStartupCheckIsPendingChangesNothing_data()
{
    QTest::addColumn<bool>("reminderPending"); // a reminder that is not yet due
    QTest::newRow("no reminder: remind later, silently") << false;
    QTest::newRow("reminder not due: wait, keep it") << true;
}

void TestUpdateFlow::userCheckWhileTheStartupCheckIsPendingChangesNothing()
{
    // The user's check is ignored while the one at start-up runs; the
    // start-up result is then read as the automatic one it is.
    QFETCH(bool, reminderPending);
    QVERIFY(startServer(publishedTree()));
    const qint64 before = QDateTime::currentSecsSinceEpoch();
    const QString stored = reminderPending ? QString::number(before + 600) : QStringLiteral("998");
    CommonTools::SetSettingValue(COMMON::KEY_NEXT_UPGRADE_TIME, stored);
    CommonTools::SetSettingValue(COMMON::KEY_UPGRADE_VERSION, QStringLiteral("V1.0.4.1"));
    CUpgradeDialog dialog;
    dialog.ftpManager()->setPingProgram(m_pingUp);
    BoxAnswerer answerer;
    dialog.checkUpdate(true);
    dialog.checkUpdate(false);
    QTRY_VERIFY_WITH_TIMEOUT(dialog.isReminderTimerActive(), 15000);
    QTRY_VERIFY(!dialog.ftpManager()->isChecking());
    QTest::qWait(300);
    QCOMPARE(answerer.count(), 0);
    QVERIFY(!QFile::exists(m_pingUp + QStringLiteral(".ran")));
    const QString after = CommonTools::GetSettingValue(COMMON::KEY_NEXT_UPGRADE_TIME, QString()).toString();
    if (reminderPending) {
        QCOMPARE(after, stored);
        QCOMPARE(CUpgradeDialog::getUpgradeVersion(), QStringLiteral("V1.0.4.1"));
    } else {
        QVERIFY(after.toLongLong() >= before);
        QCOMPARE(CUpgradeDialog::getUpgradeVersion(), QStringLiteral("V1.0.4.3"));
    }
}

void TestUpdateFlow::userCheckWhenUpToDateSaysSo()
{
    QVERIFY(startServer({{"ZRN/V1.0.4.2/", {}}}));
    CommonTools::SetSettingValue(COMMON::KEY_NEXT_UPGRADE_TIME, QDateTime::currentSecsSinceEpoch() + 600);
    CUpgradeDialog dialog;
    dialog.ftpManager()->setPingProgram(m_pingUp);
    BoxAnswerer answerer;
    QVERIFY(userCheck(dialog));
    QTRY_COMPARE_WITH_TIMEOUT(answerer.count(), 1, 15000);
    QCOMPARE(answerer.seen().at(0).icon, QMessageBox::Information);
    QCOMPARE(answerer.seen().at(0).text, QStringLiteral("当前软件已是最新版本！"));
    QCOMPARE(CommonTools::GetSettingValue(COMMON::KEY_NEXT_UPGRADE_TIME, QString()).toString(),
             QStringLiteral("998"));
}

void TestUpdateFlow::unreachableServerOnUserCheckGivesCriticalBox()
{
    // Nothing listens on the port and the probe answers as for an unknown
    // host; no lookup leaves the machine.
    QTcpServer closed;
    QVERIFY(closed.listen(QHostAddress::LocalHost));
    const quint16 port = closed.serverPort();
    closed.close();
    qputenv("VARNOKS_UPDATE_SERVER", "127.0.0.1:" + QByteArray::number(port));
    CUpgradeDialog dialog;
    dialog.ftpManager()->setPingProgram(m_pingDown);
    BoxAnswerer answerer;
    QVERIFY(userCheck(dialog));
    QTRY_COMPARE_WITH_TIMEOUT(answerer.count(), 1, 15000);
    QCOMPARE(answerer.seen().at(0).icon, QMessageBox::Critical);
    QCOMPARE(answerer.seen().at(0).title, QStringLiteral("更新提示"));
    QCOMPARE(answerer.seen().at(0).text, kUnreachableText);
}

void TestUpdateFlow::acceptedOfferShowsProgressAndCancelDeletesTheFile()
{
    const QByteArray content = installerScript(20000);
    QVERIFY(startServer(publishedTree(content)));
    CUpgradeDialog dialog;
    dialog.ftpManager()->setPingProgram(m_pingUp);
    auto* bar = dialog.findChild<QProgressBar*>(QStringLiteral("progressBar_upgrade"));
    QVERIFY(bar);
    BoxAnswerer answerer;
    answerer.push(QMessageBox::Ok);     // offer
    answerer.push(QMessageBox::Cancel); // install now?
    int valueAtInstallQuestion = -1;
    int maximumAtInstallQuestion = -1;
    bool visibleDuringDownload = false;
    QStringList foldersDuringDownload;
    answerer.setObserver([&](const BoxAnswerer::Seen& seen) {
        if (seen.icon == QMessageBox::Warning) {
            valueAtInstallQuestion = bar->value();
            maximumAtInstallQuestion = bar->maximum();
            visibleDuringDownload = dialog.isVisible();
            foldersDuringDownload = downloadFolders(m_tmp);
        }
    });
    QVERIFY(userCheck(dialog));
    QTRY_COMPARE_WITH_TIMEOUT(answerer.count(), 2, 20000);
    QCOMPARE(answerer.seen().at(0).icon, QMessageBox::Question);
    QCOMPARE(answerer.seen().at(0).text, QStringLiteral("检测到新版本：V1.0.4.3, 是否需要更新？"));
    QCOMPARE(answerer.seen().at(1).text, QStringLiteral("新版本程序安装包已下载完成，是否立即重启安装？"));
    QVERIFY(visibleDuringDownload);
    QCOMPARE(maximumAtInstallQuestion, content.size());
    QCOMPARE(valueAtInstallQuestion, content.size());
    QCOMPARE(foldersDuringDownload.size(), 1);
    QTRY_VERIFY(!dialog.isVisible());
    QVERIFY(downloadFolders(m_tmp).isEmpty()); // file and its folder are gone
    QVERIFY(!dialog.findChild<QPushButton*>(QStringLiteral("btn_cancel_upgrade"))->isEnabled());
}

void TestUpdateFlow::versionWithoutLinuxPackageSaysSoAndIsNotOfferedAgain()
{
    // A folder as published for Windows only.
    QVERIFY(startServer({{kInstaller, installerScript()}}));
    LogCapture log;
    {
        CUpgradeDialog dialog;
        dialog.ftpManager()->setPingProgram(m_pingUp);
        BoxAnswerer answerer;
        answerer.push(QMessageBox::Ok);
        QVERIFY(userCheck(dialog));
        QTRY_COMPARE_WITH_TIMEOUT(answerer.count(), 2, 20000);
        QCOMPARE(answerer.seen().at(1).icon, QMessageBox::Information);
        QCOMPARE(answerer.seen().at(1).text, QStringLiteral("该版本暂无 Linux 安装包"));
        QTRY_VERIFY(!dialog.isVisible());
        QVERIFY(downloadFolders(m_tmp).isEmpty());
        QCOMPARE(log.count(QStringLiteral("V1.0.4.3: no Linux package for this version yet")), 1);
        QVERIFY(!dialog.isReminderTimerActive());
    }
    QCOMPARE(CommonTools::GetSettingValue(COMMON::KEY_NEXT_UPGRADE_TIME, QString()).toString(),
             QStringLiteral("998"));

    // The next start's automatic check neither offers it nor sets a reminder.
    {
        CUpgradeDialog dialog;
        BoxAnswerer answerer;
        dialog.checkUpdate(true);
        QTRY_COMPARE_WITH_TIMEOUT(log.count(QStringLiteral("not offered again")), 1, 15000);
        QTest::qWait(300);
        QCOMPARE(answerer.count(), 0);
        QVERIFY(!dialog.isReminderTimerActive());
        QCOMPARE(CommonTools::GetSettingValue(COMMON::KEY_NEXT_UPGRADE_TIME, QString()).toString(),
                 QStringLiteral("998"));
    }

    // A newer version is another matter: the automatic check reminds of it.
    m_server->stop();
    QVERIFY(startServer({{"ZRN/V1.0.4.4/", {}}}));
    CUpgradeDialog dialog;
    dialog.checkUpdate(true);
    QTRY_COMPARE_WITH_TIMEOUT(CUpgradeDialog::getUpgradeVersion(), QStringLiteral("V1.0.4.4"), 15000);
    QVERIFY(dialog.isReminderTimerActive());
}

void TestUpdateFlow::installerThatIsNotWholeNeverStarts_data()
{
    QTest::addColumn<QByteArray>("script"); // how the server ends the RETR
    QTest::addColumn<QString>("why");       // shown in the box and logged
    QTest::newRow("early 2xx while data flows")
        << QByteArray("early-200") << "Unexpected reply to RETR: 200 OK";
    QTest::newRow("reset then 226") << QByteArray("reset-226")
                                    << "Data connection broken: Connection reset by peer";
    QTest::newRow("reset then control close") << QByteArray("reset-close") << "Connection closed";
    QTest::newRow("short then 226 with SIZE") << QByteArray("short-226") << "Received 16384 of 32768 bytes";
    QTest::newRow("no data for longer than allowed")
        << QByteArray("stall") << "no data from the server for 1 s";
    // Looks whole to FTP; only the signature tells.
    QTest::newRow("short then 226 without SIZE") << QByteArray("short-226-nosize") << "";
}

void TestUpdateFlow::installerThatIsNotWholeNeverStarts()
{
    // The whole path from an offer at start-up to the failure box, against
    // a server that hands over part of the installer and calls it done.
    QFETCH(QByteArray, script);
    QFETCH(QString, why);
    const QByteArray installer = installerScript(2000).left(32768);
    const QByteArray half = installer.left(installer.size() / 2);
    const QByteArray signature = m_publisher.sign(installer);
    const QByteArray packageName = QFileInfo(kPackage).fileName().toUtf8();
    ScriptedFtpServer server;
    QVERIFY(server.isListening());
    // One listing serves the update folder and the version folder alike.
    server.setListing("drwxr-xr-x 2 o g 0 Jan 5 10:30 V1.0.4.3\r\n"
                      "-rw-r--r-- 1 o g 32768 Jan 5 10:30 " +
                      packageName + "\r\n-rw-r--r-- 1 o g 300 Jan 5 10:30 " + packageName + ".minisig\r\n");
    server.setFile(installer);
    server.setHandler([&](const QByteArray& line) {
        if (line.startsWith("SIZE ") && (script != "short-226" || line.endsWith(".minisig"))) {
            server.send("550 SIZE not allowed\r\n");
            return true;
        }
        if (!line.startsWith("RETR "))
            return false;
        server.send("150 Opening data connection\r\n");
        if (line.endsWith(".minisig")) {
            server.sendData(signature, true);
            server.sendWhenDataCloses("226 Transfer complete\r\n");
            return true;
        }
        server.sendData(half, script.startsWith("short-226"));
        if (script == "early-200") {
            server.send("200 OK\r\n");
        } else if (script.startsWith("short-226")) {
            server.sendWhenDataCloses("226 Transfer complete\r\n");
        } else if (script.startsWith("reset-")) {
            server.resetData();
            if (script == "reset-226")
                server.send("226 Transfer complete\r\n");
            else
                server.closeControl();
        }
        return true; // "stall": half the file, then silence
    });
    qputenv("VARNOKS_UPDATE_SERVER", "127.0.0.1:" + QByteArray::number(server.port()));
    // A reminder that is due: the check at start-up offers at once.
    CommonTools::SetSettingValue(COMMON::KEY_NEXT_UPGRADE_TIME, 1000);
    LogCapture log;
    CUpgradeDialog dialog;
    dialog.ftpManager()->setDownloadStallTimeout(1000);
    BoxAnswerer answerer;
    answerer.setFallback(QMessageBox::Ok);
    QStringList foldersDuringDownload;
    answerer.setObserver([&](const BoxAnswerer::Seen& seen) {
        if (seen.icon == QMessageBox::Critical)
            foldersDuringDownload = downloadFolders(m_tmp);
    });
    dialog.checkUpdate(true);
    QTRY_COMPARE_WITH_TIMEOUT(answerer.count(), 2, 20000);
    QCOMPARE(answerer.seen().at(0).icon, QMessageBox::Question);
    QCOMPARE(answerer.seen().at(1).icon, QMessageBox::Critical);
    QTRY_VERIFY(!dialog.isVisible());
    QVERIFY(downloadFolders(m_tmp).isEmpty());
    if (why.isEmpty()) {
        // Taken as complete, then refused: removed before the box.
        QCOMPARE(answerer.seen().at(1).text, kMismatchText);
        QCOMPARE(foldersDuringDownload.size(), 0);
        QCOMPARE(log.count(QStringLiteral("FtpDownload::finish(): Download of")), 0);
        QCOMPARE(log.count(QStringLiteral("Signature check of")), 1);
    } else {
        QVERIFY2(answerer.seen().at(1).text.startsWith(kFailureText + QLatin1Char('\n')),
                 qPrintable(answerer.seen().at(1).text));
        QVERIFY2(answerer.seen().at(1).text.contains(why), qPrintable(answerer.seen().at(1).text));
        QCOMPARE(foldersDuringDownload.size(), 1);
        QCOMPARE(log.count(QStringLiteral("FtpDownload::finish(): Download of")), 1);
        QVERIFY(log.matching(QStringLiteral("FtpDownload::finish()")).first().contains(why));
    }
    QTest::qWait(300);
    QCOMPARE(answerer.count(), 2); // no install question, nothing started
}

void TestUpdateFlow::stopInTheMiddleDeletesThePartialFileWithoutABox()
{
    QVERIFY(startServer(publishedTree(installerScript(20000)), 40000));
    CUpgradeDialog dialog;
    dialog.ftpManager()->setPingProgram(m_pingUp);
    auto* bar = dialog.findChild<QProgressBar*>(QStringLiteral("progressBar_upgrade"));
    auto* cancel = dialog.findChild<QPushButton*>(QStringLiteral("btn_cancel_upgrade"));
    BoxAnswerer answerer;
    answerer.push(QMessageBox::Ok); // offer
    answerer.push(QMessageBox::Ok); // stop the download
    QStringList partial;
    // Press the window's cancel button once part of the file has arrived.
    QTimer presser;
    connect(&presser, &QTimer::timeout, this, [&] {
        if (dialog.isVisible() && bar->value() > 0 && cancel->isEnabled()) {
            presser.stop();
            partial = downloadFolders(m_tmp);
            cancel->click();
        }
    });
    presser.start(20);
    QVERIFY(userCheck(dialog));
    QTRY_COMPARE_WITH_TIMEOUT(answerer.count(), 2, 20000);
    QCOMPARE(answerer.seen().at(1).icon, QMessageBox::Warning);
    QCOMPARE(answerer.seen().at(1).text, QStringLiteral("是否确认停止下载更新？"));
    QTRY_VERIFY(!dialog.isVisible());
    QCOMPARE(partial.size(), 1);
    QTest::qWait(500);
    QCOMPARE(answerer.count(), 2); // no failure box after a stop
    QVERIFY(downloadFolders(m_tmp).isEmpty());
    QCOMPARE(bar->value(), 0);
}

QString TestUpdateFlow::runChild(int* exitCode, const PackageHandler& handler)
{
    QProcess child;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("VARNOKS_UPDATE_CHILD"), m_pingUp);
    env.insert(QStringLiteral("VARNOKS_TEST_MARKER"), m_work->filePath(QStringLiteral("installer-ran")));
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    handler.apply(&env);
    child.setProcessEnvironment(env);
    child.setProcessChannelMode(QProcess::MergedChannels);
    child.start(QCoreApplication::applicationFilePath(), QStringList());
    if (!child.waitForFinished(60000)) {
        child.kill();
        child.waitForFinished(5000);
        *exitCode = -1;
    } else {
        *exitCode = child.exitStatus() == QProcess::NormalExit ? child.exitCode() : -2;
    }
    return QString::fromUtf8(child.readAll());
}

void TestUpdateFlow::verifiedPackageIsHandedToTheDesktopInstaller_data()
{
    QTest::addColumn<bool>("withHandler"); // a handler for Debian packages is registered
    QTest::newRow("desktop handler opens it, the program quits") << true;
    QTest::newRow("no handler: the apt command, the program stays") << false;
}

void TestUpdateFlow::verifiedPackageIsHandedToTheDesktopInstaller()
{
    // Through the real xdg-mime and xdg-open. The served folder also holds
    // the setup program, written as a script that would leave a marker.
    QFETCH(bool, withHandler);
    if (QStandardPaths::findExecutable(QStringLiteral("xdg-open")).isEmpty())
        QSKIP("xdg-utils is not installed");
    const QByteArray package = debianPackageBytes(4000);
    QVERIFY(startServer(
        {{kInstaller, installerScript()}, {kPackage, package}, {kSignature, m_publisher.sign(package)}}));
    PackageHandler handler;
    QVERIFY(handler.install(m_work->filePath(QStringLiteral("desktop")), withHandler));
    int exitCode = 0;
    const QString output = runChild(&exitCode, handler);
    const QString name = CUpgradeDialog::installerFileName(QStringLiteral("V1.0.4.3"));
    if (withHandler) {
        QVERIFY2(exitCode == 0, qPrintable(output));
        QVERIFY2(output.contains(QLatin1String("EVENT LOOP ENDED")), qPrintable(output));
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(handler.recordPath()), 10000);
        QFile record(handler.recordPath());
        QVERIFY(record.open(QIODevice::ReadOnly));
        const QString handed = QString::fromUtf8(record.readAll()).trimmed();
        // The verified package from a private folder, left for the installer.
        QVERIFY2(handed.startsWith(m_tmp + QStringLiteral("/VarnoksPilot-")), qPrintable(handed));
        QVERIFY2(handed.endsWith(QLatin1Char('/') + name), qPrintable(handed));
        QFile kept(handed);
        QVERIFY(kept.open(QIODevice::ReadOnly));
        QCOMPARE(kept.readAll(), package);
        QCOMPARE(QFileInfo(QFileInfo(handed).absolutePath()).permissions() &
                     (QFile::ReadGroup | QFile::WriteGroup | QFile::ReadOther | QFile::WriteOther),
                 QFileDevice::Permissions());
        QCOMPARE(CommonTools::GetSettingValue(COMMON::KEY_NEXT_UPGRADE_TIME, QString()).toString(),
                 QStringLiteral("998"));
    } else {
        // The child ends itself with 3 after the box; 0 would mean the
        // dialog quit the program.
        QVERIFY2(exitCode == 3, qPrintable(output));
        const QRegularExpression command(
            QStringLiteral("BOX 1 没有找到可以安装软件包的程序，请在终端中运行：\n"
                           "sudo apt install (\\S+)\n"));
        const QRegularExpressionMatch match = command.match(output);
        QVERIFY2(match.hasMatch(), qPrintable(output));
        const QString kept = match.captured(1);
        QVERIFY2(kept.startsWith(m_tmp + QStringLiteral("/VarnoksPilot-")) && kept.endsWith(name),
                 qPrintable(kept));
        QFile file(kept);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), package);
        QVERIFY(!QFile::exists(handler.recordPath()));
    }
    // Nothing downloaded is ever a program.
    QVERIFY(!QFile::exists(m_work->filePath(QStringLiteral("installer-ran"))));
    QDirIterator it(m_tmp, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        it.next();
        QVERIFY2(!(it.fileInfo().permissions() & (QFile::ExeOwner | QFile::ExeGroup | QFile::ExeOther)),
                 qPrintable(it.filePath()));
    }
}

// The child half of the hand-over test: a real event loop with the dialog,
// a user check, every box answered with Confirm. It reports the boxes it saw
// and whether the event loop ended on its own.
static int runUpdateChild(int argc, char** argv)
{
    QApplication app(argc, argv);
    QCoreApplication::setApplicationName(COMMON::APPLICATION_NAME);
    const QString ping = qEnvironmentVariable("VARNOKS_UPDATE_CHILD");
    QFile::remove(ping + QStringLiteral(".ran"));
    CUpgradeDialog dialog;
    dialog.ftpManager()->setPingProgram(ping);
    BoxAnswerer answerer;
    answerer.setFallback(QMessageBox::Ok);
    answerer.setObserver([&](const BoxAnswerer::Seen& seen) {
        QTextStream(stdout) << "BOX " << int(seen.icon) << ' ' << seen.text << Qt::endl;
        if (seen.icon == QMessageBox::Critical || seen.icon == QMessageBox::Information)
            QTimer::singleShot(1000, &app, [] { QCoreApplication::exit(3); });
    });
    QTimer checker;
    QObject::connect(&checker, &QTimer::timeout, &dialog, [&] {
        if (QFile::exists(ping + QStringLiteral(".ran")))
            checker.stop();
        else
            dialog.checkUpdate(false);
    });
    checker.start(100);
    QTimer::singleShot(45000, &app, [] { QCoreApplication::exit(4); });
    const int code = app.exec();
    if (code == 0)
        QTextStream(stdout) << "EVENT LOOP ENDED" << Qt::endl;
    return code;
}

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsSet("VARNOKS_UPDATE_CHILD"))
        return runUpdateChild(argc, argv);
    QApplication app(argc, argv);
    TestUpdateFlow test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "tst_updateflow.moc"
