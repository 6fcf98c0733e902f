#include "app/rslogger.h"
#include "logcapture.h"
#include "testenv.h"

#include <QDate>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QThread>
#include <QtTest>

#include <csignal>
#include <sys/resource.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace {

QString todaysName()
{
    return QStringLiteral("Log_") + QDate::currentDate().toString("yyyy-MM-dd") + QStringLiteral(".txt");
}

void touch(const QString& path, const QByteArray& content = "old\n")
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(content);
}

QStringList entries(const QString& dir)
{
    return QDir(dir).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden, QDir::Name);
}

// Runs this executable as a child that writes lines through a fresh logger
// into the given folder; mode picks an extra trial (see main). The child's
// own output lands in output.
bool runChildLogger(const QString& logDir, const QString& message, const QString& mode = QString(),
                    QByteArray* output = nullptr)
{
    QProcess child;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("VARNOKS_LOG_DIR", logDir);
    env.insert("VARNOKS_LOGGER_CHILD", message);
    env.insert("VARNOKS_LOGGER_CHILD_MODE", mode);
    // The modes named after a log level run the child at that level.
    if (mode == QLatin1String("debug") || mode == QLatin1String("verbose"))
        env.insert("VARNOKS_LOG_LEVEL", mode);
    else
        env.remove("VARNOKS_LOG_LEVEL");
    child.setProcessEnvironment(env);
    child.setProcessChannelMode(QProcess::MergedChannels);
    if (mode == QLatin1String("readonly") && ::getuid() == 0) {
        // Root writes through file modes; a read-only mount of the folder,
        // private to the child, makes the file unwritable for it too.
        child.start(QStringLiteral("unshare"),
                    {QStringLiteral("-m"), QStringLiteral("sh"), QStringLiteral("-c"),
                     QStringLiteral("mount --bind -o ro \"$0\" \"$0\" && exec \"$1\""), logDir,
                     QCoreApplication::applicationFilePath()});
    } else {
        child.start(QCoreApplication::applicationFilePath(), QStringList());
    }
    const bool finished = child.waitForFinished(20000);
    if (!finished)
        child.kill(), child.waitForFinished(2000);
    if (output)
        *output = child.readAll();
    return finished && child.exitStatus() == QProcess::NormalExit && child.exitCode() == 0;
}

const QRegularExpression
    kLine(QStringLiteral("^\\[\\d{4}-\\d{2}-\\d{2} \\d{2}:\\d{2}:\\d{2}\\] \\[(.{8})\\] (.*)\\(\\): (.*)$"));

} // namespace

class TestRSLogger : public QObject
{
    Q_OBJECT

private slots:
    void levelNamesAreEightCharacters_data();
    void levelNamesAreEightCharacters();
    void pruningKeepsTheTwoNewestOlderDayFiles_data();
    void pruningKeepsTheTwoNewestOlderDayFiles();
    void logFolderBesideExecutableOnlyInBuildTree_data();
    void logFolderBesideExecutableOnlyInBuildTree();
    void unwritableFolderGivesEmptyPath();
    void newFileStartsWithHeaderAndLinesFollowTheFormat();
    void sameDayRestartAppendsWithoutHeader();
    void todaysFileOnlyWhenRegularOrNew_data();
    void todaysFileOnlyWhenRegularOrNew();
    void linesFromEightThreadsNeverInterleave();
};

void TestRSLogger::levelNamesAreEightCharacters_data()
{
    QTest::addColumn<int>("level");
    QTest::addColumn<QString>("name");
    QTest::newRow("info") << 1 << "Info    ";
    QTest::newRow("warning") << 2 << "Warnning";
    QTest::newRow("error") << 4 << "Error   ";
    QTest::newRow("critical") << 8 << "Critical";
    QTest::newRow("timer") << 16 << "Timer   ";
    QTest::newRow("debug") << 256 << "Debug   ";
    QTest::newRow("two bits") << 3 << "Unknown ";
    QTest::newRow("zero") << 0 << "Unknown ";
}

void TestRSLogger::levelNamesAreEightCharacters()
{
    QFETCH(int, level);
    QFETCH(QString, name);
    QCOMPARE(RSLogger::GetLevelName(level), name);
    QCOMPARE(RSLogger::GetLevelName(level).size(), 8);
}

void TestRSLogger::pruningKeepsTheTwoNewestOlderDayFiles_data()
{
    // "today" stands for today's file; a trailing "/" makes a folder.
    QTest::addColumn<QStringList>("present");
    QTest::addColumn<QStringList>("kept");
    QTest::newRow("five older files")
        << QStringList{"Log_2024-03-01.txt", "Log_2024-03-02.txt", "Log_2024-03-03.txt", "Log_2024-03-04.txt",
                       "Log_2024-03-05.txt"}
        << QStringList{"Log_2024-03-04.txt", "Log_2024-03-05.txt"};
    QTest::newRow("two older files") << QStringList{"Log_2024-03-01.txt", "Log_2024-03-02.txt"}
                                     << QStringList{"Log_2024-03-01.txt", "Log_2024-03-02.txt"};
    QTest::newRow("second start of the day")
        << QStringList{"Log_2024-03-01.txt", "Log_2024-03-02.txt", "Log_2024-03-03.txt", "today"}
        << QStringList{"Log_2024-03-02.txt", "Log_2024-03-03.txt", "today"};
    QTest::newRow("foreign entries stay")
        << QStringList{"Log_2024-03-01.txt",
                       "Log_2024-03-02.txt",
                       "Log_2024-03-03.txt",
                       "notes.txt",
                       ".hidden",
                       "sub/"}
        << QStringList{".hidden", "Log_2024-03-02.txt", "Log_2024-03-03.txt", "notes.txt", "sub"};
}

void TestRSLogger::pruningKeepsTheTwoNewestOlderDayFiles()
{
    QFETCH(QStringList, present);
    QFETCH(QStringList, kept);
    TestEnv env;
    const QString dir = env.logDir();
    for (QString name : present) {
        name.replace(QStringLiteral("today"), todaysName());
        if (name.endsWith(QLatin1Char('/')))
            QVERIFY(QDir(dir).mkdir(name));
        else
            touch(dir + QLatin1Char('/') + name);
    }
    QCOMPARE(RSLogger::GetLogFilePath(), dir + QLatin1Char('/') + todaysName());
    kept.replaceInStrings(QStringLiteral("today"), todaysName());
    kept.sort();
    QCOMPARE(entries(dir), kept);
}

void TestRSLogger::unwritableFolderGivesEmptyPath()
{
    TestEnv env;
    touch(env.path() + "/plainfile");
    qputenv("VARNOKS_LOG_DIR", QFile::encodeName(env.path() + "/plainfile/logs"));
    LogCapture capture;
    QCOMPARE(RSLogger::GetLogFilePath(), QString());
    QCOMPARE(capture.count(QStringLiteral("Create Log folder fail. [")), 1);
}

void TestRSLogger::newFileStartsWithHeaderAndLinesFollowTheFormat()
{
    TestEnv env;
    QVERIFY(runChildLogger(env.logDir(), "first"));
    QFile file(env.logDir() + QLatin1Char('/') + todaysName());
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QStringList lines = QString::fromUtf8(file.readAll()).split('\n');
    // Header, then the child's lines, then the empty text after the last "\n".
    QCOMPARE(lines.size(), 4 + 4 + 1);
    QCOMPARE(lines[0], QString(78, '*'));
    QCOMPARE(lines[1], QStringLiteral("* Device Monitor Application Running Log Information."));
    QVERIFY(QRegularExpression("^\\* BuildTime:\\d{4}-\\d{2}-\\d{2} \\d{2}:\\d{2}:\\d{2}$")
                .match(lines[2])
                .hasMatch());
    QCOMPARE(lines[3], QString(78, '*'));

    const QRegularExpressionMatch info = kLine.match(lines[4]);
    QVERIFY2(info.hasMatch(), qPrintable(lines[4]));
    QCOMPARE(info.captured(1), QStringLiteral("Info    "));
    QCOMPARE(info.captured(2), QStringLiteral("Child::Run"));
    QCOMPARE(info.captured(3), QStringLiteral("first"));

    // Level 3 is written under "Unknown "; a null function name leaves "(): ".
    QVERIFY(lines[5].endsWith(QStringLiteral("] [Unknown ] Child::Run(): two bits")));
    QVERIFY2(lines[6].endsWith(QStringLiteral("] [Error   ] (): no function")), qPrintable(lines[6]));
    QVERIFY2(lines[7].endsWith(QStringLiteral("] [Warnning] Child::Run(): 100% %1 %2 stays")),
             qPrintable(lines[7]));
    QCOMPARE(lines[8], QString());
}

void TestRSLogger::sameDayRestartAppendsWithoutHeader()
{
    TestEnv env;
    QVERIFY(runChildLogger(env.logDir(), "one"));
    QVERIFY(runChildLogger(env.logDir(), "two"));
    QFile file(env.logDir() + QLatin1Char('/') + todaysName());
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QString content = QString::fromUtf8(file.readAll());
    QCOMPARE(content.count(QStringLiteral("* Device Monitor Application Running Log Information.")), 1);
    QVERIFY(content.indexOf("): one") < content.indexOf("): two"));
    QVERIFY(content.indexOf("): two") > 0);
}

void TestRSLogger::logFolderBesideExecutableOnlyInBuildTree_data()
{
    // folder: below a temporary folder whose top holds CMakeCache.txt, or an
    // absolute path.
    QTest::addColumn<QString>("folder");
    QTest::addColumn<bool>("buildTree");
    QTest::newRow("bin of a build tree") << "bin" << true;
    QTest::newRow("top of a build tree") << "" << true;
    QTest::newRow("deeper than bin") << "bin/sub" << false;
    QTest::newRow("system program folder") << "/usr/bin" << false;
    QTest::newRow("optional software") << "/opt/varnoks/bin" << false;
    QTest::newRow("relative") << "relative/bin" << false;
}

void TestRSLogger::logFolderBesideExecutableOnlyInBuildTree()
{
    QFETCH(QString, folder);
    QFETCH(bool, buildTree);
    TestEnv env;
    QString path = folder;
    if (!folder.startsWith(QLatin1Char('/')) && !folder.startsWith(QLatin1String("relative"))) {
        touch(env.path() + QStringLiteral("/CMakeCache.txt"));
        path = env.path() + QLatin1Char('/') + folder;
        QVERIFY(QDir().mkpath(path));
    }
    QCOMPARE(RSLogger::IsBuildTreeFolder(path), buildTree);
    // A folder without the cache is no build tree.
    QFile::remove(env.path() + QStringLiteral("/CMakeCache.txt"));
    QVERIFY(!RSLogger::IsBuildTreeFolder(path));
}

void TestRSLogger::todaysFileOnlyWhenRegularOrNew_data()
{
    // kind of today's entry before the start; mode of the child; whether the
    // child's line lands in a file of that name.
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("mode");
    QTest::addColumn<bool>("written");
    const QString none;
    QTest::newRow("regular file") << "file" << none << true;
    // More than a pipe holds: a writer into the FIFO would block for good.
    QTest::newRow("fifo") << "fifo" << QStringLiteral("many") << false;
    QTest::newRow("symbolic link to a file") << "symlink" << none << false;
    QTest::newRow("folder") << "folder" << none << false;
    QTest::newRow("unwritable file") << "readonly" << QStringLiteral("readonly") << false;
    QTest::newRow("every write fails") << "file" << QStringLiteral("fsize") << false;
    QTest::newRow("log after the logger is gone") << "file" << QStringLiteral("afterexit") << true;
    // The child also writes a debug line, which only the debug level keeps.
    QTest::newRow("debug level") << "file" << QStringLiteral("debug") << true;
    QTest::newRow("unknown level") << "file" << QStringLiteral("verbose") << true;
}

void TestRSLogger::todaysFileOnlyWhenRegularOrNew()
{
    QFETCH(QString, kind);
    QFETCH(QString, mode);
    QFETCH(bool, written);
    TestEnv env;
    const QString path = env.logDir() + QLatin1Char('/') + todaysName();
    const QString target = env.path() + QStringLiteral("/elsewhere.txt");
    if (kind == QLatin1String("file") || kind == QLatin1String("readonly")) {
        touch(path, "earlier\n");
    } else if (kind == QLatin1String("fifo")) {
        QCOMPARE(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);
    } else if (kind == QLatin1String("symlink")) {
        touch(target, "earlier\n");
        QVERIFY(QFile::link(target, path));
    } else {
        QVERIFY(QDir().mkdir(path));
    }
    if (kind == QLatin1String("readonly")) {
        QVERIFY(QFile::setPermissions(path, QFile::ReadOwner));
        if (::getuid() == 0 && QStandardPaths::findExecutable(QStringLiteral("unshare")).isEmpty())
            QSKIP("root writes to read-only files, and unshare for a read-only mount is missing");
    }

    QByteArray output;
    // A FIFO nobody reads must not hold the child: it ends on its own.
    QVERIFY2(runChildLogger(env.logDir(), "child line", mode, &output), output.constData());
    QVERIFY2(output.contains("Child::Run(): child line"), output.constData());
    // Failures to write are not reported line by line.
    QVERIFY2(!output.contains("QIODevice") && !output.contains("QFileDevice"), output.constData());
    const bool debugLevel = mode == QLatin1String("debug");
    QCOMPARE(output.contains("Child::Run(): debug line"), debugLevel);
    if (mode == QLatin1String("verbose"))
        QVERIFY2(output.contains("VARNOKS_LOG_LEVEL: unknown level \"verbose\" ignored"), output.constData());

    const QFileInfo info(path);
    if (info.isFile() && !info.isSymLink()) {
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray content = file.readAll();
        QCOMPARE(content.startsWith("earlier\n"), true);
        QCOMPARE(content.contains("child line"), written);
        QCOMPARE(content.contains("] [Debug   ] Child::Run(): debug line\n"), written && debugLevel);
        // Levels outside every mask stay out at the debug level too.
        QVERIFY(!content.contains("never written"));
        // Nothing is written once the logger has shut down at exit.
        QVERIFY(!content.contains("after exit"));
    } else {
        QVERIFY(!written);
    }
    if (kind == QLatin1String("symlink")) {
        QFile file(target);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), QByteArray("earlier\n"));
    }
}

void TestRSLogger::linesFromEightThreadsNeverInterleave()
{
    TestEnv env;
    LogCapture capture;
    RSLogger* logger = RSLogger::GetInstance();
    const int perThread = 300;
    QList<QThread*> threads;
    for (int t = 0; t < 8; ++t) {
        threads.append(QThread::create([logger, t, perThread] {
            for (int i = 0; i < perThread; ++i)
                logger->WriteLog(LOG_INFO, QStringLiteral("thread %1 line %2 end").arg(t).arg(i),
                                 "Test::Thread");
        }));
    }
    for (QThread* thread : threads)
        thread->start();
    for (QThread* thread : threads) {
        QVERIFY(thread->wait(30000));
        delete thread;
    }
    const QStringList lines = capture.matching(QStringLiteral("Test::Thread(): thread "));
    QCOMPARE(lines.size(), 8 * perThread);
    QVector<int> next(8, 0);
    for (const QString& line : lines) {
        const QRegularExpressionMatch m =
            QRegularExpression("\\(\\): thread (\\d) line (\\d+) end$").match(line);
        QVERIFY2(m.hasMatch(), qPrintable(line));
        const int t = m.captured(1).toInt();
        // Each thread's lines arrive whole and in the order it wrote them.
        QCOMPARE(m.captured(2).toInt(), next[t]);
        ++next[t];
    }

    // Debug lines and levels outside the mask are dropped entirely.
    capture.clear();
    logger->WriteLog(LOG_DEBUG, QStringLiteral("debug line"), "Test::Mask");
    logger->WriteLog(512, QStringLiteral("outside mask"), "Test::Mask");
    QCOMPARE(capture.count(QStringLiteral("Test::Mask")), 0);
}

// Logs from its destructor, which runs at exit after the logger has shut
// down (it was built before the logger).
struct LogsAtExit
{
    bool armed = false;
    ~LogsAtExit()
    {
        if (armed)
            RSLogger::GetInstance()->WriteLog(LOG_ERROR, QStringLiteral("after exit"), "Child::Exit");
    }
};
LogsAtExit g_logsAtExit;

int main(int argc, char** argv)
{
    const QByteArray childMessage = qgetenv("VARNOKS_LOGGER_CHILD");
    if (!childMessage.isEmpty()) {
        const QByteArray mode = qgetenv("VARNOKS_LOGGER_CHILD_MODE");
        if (mode == "fsize") {
            // No byte more may be written to any file: every write fails,
            // for root too.
            ::signal(SIGXFSZ, SIG_IGN);
            struct rlimit limit = {0, 0};
            ::setrlimit(RLIMIT_FSIZE, &limit);
        }
        g_logsAtExit.armed = mode == "afterexit";
        QCoreApplication app(argc, argv);
        RSLogger* logger = RSLogger::GetInstance();
        if (mode == "many") {
            const QString filler(200, QLatin1Char('x'));
            for (int i = 0; i < 1000; ++i)
                logger->WriteLog(LOG_INFO, filler, "Child::Fill");
        }
        if (mode == "afterexit") {
            // A thread goes on logging while the logger shuts down under it.
            std::atomic<bool> stop{false};
            std::thread thread([&stop] {
                while (!stop.load())
                    RSLogger::GetInstance()->WriteLog(LOG_INFO, QStringLiteral("from a thread"),
                                                      "Child::Thread");
            });
            logger->WriteLog(LOG_INFO, QString::fromUtf8(childMessage), "Child::Run");
            QThread::msleep(50);
            logger->Shutdown();
            logger->WriteLog(LOG_ERROR, QStringLiteral("after exit"), "Child::Run");
            stop.store(true);
            thread.join();
            return 0;
        }
        logger->WriteLog(LOG_INFO, QString::fromUtf8(childMessage), "Child::Run");
        logger->WriteLog(3, QStringLiteral("two bits"), "Child::Run");
        logger->WriteLog(LOG_DEBUG, QStringLiteral("debug line"), "Child::Run");
        logger->WriteLog(512, QStringLiteral("never written"), "Child::Run");
        logger->WriteLog(LOG_ERROR, QStringLiteral("no function"), nullptr);
        logger->WriteLog(LOG_WARNING, QStringLiteral("100% %1 %2 stays"), "Child::Run");
        return 0;
    }
    QCoreApplication app(argc, argv);
    TestRSLogger test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_rslogger.moc"
