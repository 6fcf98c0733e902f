#include "app/rslogger.h"
#include "logcapture.h"
#include "testenv.h"

#include <QDate>
#include <QProcess>
#include <QRegularExpression>
#include <QThread>
#include <QtTest>

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

// Runs this executable as a child that writes one line through a fresh
// logger into the given folder.
bool runChildLogger(const QString& logDir, const QString& message)
{
    QProcess child;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("VARNOKS_LOG_DIR", logDir);
    env.insert("VARNOKS_LOGGER_CHILD", message);
    child.setProcessEnvironment(env);
    child.start(QCoreApplication::applicationFilePath(), QStringList());
    return child.waitForFinished(20000) && child.exitStatus() == QProcess::NormalExit && child.exitCode() == 0;
}

const QRegularExpression kLine(QStringLiteral(
    "^\\[\\d{4}-\\d{2}-\\d{2} \\d{2}:\\d{2}:\\d{2}\\] \\[(.{8})\\] (.*)\\(\\): (.*)$"));

} // namespace

class TestRSLogger : public QObject
{
    Q_OBJECT

private slots:
    void levelNamesAreEightCharacters_data();
    void levelNamesAreEightCharacters();
    void pruningKeepsTheTwoNewestOlderFiles();
    void pruningLeavesTwoOlderFilesAlone();
    void pruningNeverTouchesForeignFiles();
    void unwritableFolderGivesEmptyPath();
    void newFileStartsWithHeaderAndLinesFollowTheFormat();
    void sameDayRestartAppendsWithoutHeader();
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

void TestRSLogger::pruningKeepsTheTwoNewestOlderFiles()
{
    TestEnv env;
    const QString dir = env.logDir();
    for (const char* day : {"2024-03-01", "2024-03-02", "2024-03-03", "2024-03-04", "2024-03-05"})
        touch(dir + QStringLiteral("/Log_%1.txt").arg(day));
    const QString path = RSLogger::GetLogFilePath();
    QCOMPARE(path, dir + QLatin1Char('/') + todaysName());
    QCOMPARE(entries(dir), (QStringList{"Log_2024-03-04.txt", "Log_2024-03-05.txt"}));
}

void TestRSLogger::pruningLeavesTwoOlderFilesAlone()
{
    TestEnv env;
    const QString dir = env.logDir();
    touch(dir + "/Log_2024-03-01.txt");
    touch(dir + "/Log_2024-03-02.txt");
    RSLogger::GetLogFilePath();
    QCOMPARE(entries(dir), (QStringList{"Log_2024-03-01.txt", "Log_2024-03-02.txt"}));
}

void TestRSLogger::pruningNeverTouchesForeignFiles()
{
    TestEnv env;
    const QString dir = env.logDir();
    for (const char* day : {"2024-03-01", "2024-03-02", "2024-03-03"})
        touch(dir + QStringLiteral("/Log_%1.txt").arg(day));
    touch(dir + "/notes.txt");
    touch(dir + "/.hidden");
    QDir(dir).mkdir("sub");
    RSLogger::GetLogFilePath();
    QCOMPARE(entries(dir), (QStringList{".hidden", "Log_2024-03-02.txt", "Log_2024-03-03.txt", "notes.txt", "sub"}));
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
    QVERIFY(QRegularExpression("^\\* BuildTime:\\d{4}-\\d{2}-\\d{2} \\d{2}:\\d{2}:\\d{2}$").match(lines[2]).hasMatch());
    QCOMPARE(lines[3], QString(78, '*'));

    const QRegularExpressionMatch info = kLine.match(lines[4]);
    QVERIFY2(info.hasMatch(), qPrintable(lines[4]));
    QCOMPARE(info.captured(1), QStringLiteral("Info    "));
    QCOMPARE(info.captured(2), QStringLiteral("Child::Run"));
    QCOMPARE(info.captured(3), QStringLiteral("first"));

    // Level 3 is written under "Unknown "; a null function name leaves "(): ".
    QVERIFY(lines[5].endsWith(QStringLiteral("] [Unknown ] Child::Run(): two bits")));
    QVERIFY2(lines[6].endsWith(QStringLiteral("] [Error   ] (): no function")), qPrintable(lines[6]));
    QVERIFY2(lines[7].endsWith(QStringLiteral("] [Warnning] Child::Run(): 100% %1 %2 stays")), qPrintable(lines[7]));
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
                logger->WriteLog(LOG_INFO, QStringLiteral("thread %1 line %2 end").arg(t).arg(i), "Test::Thread");
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
        const QRegularExpressionMatch m = QRegularExpression("\\(\\): thread (\\d) line (\\d+) end$").match(line);
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

int main(int argc, char** argv)
{
    const QByteArray childMessage = qgetenv("VARNOKS_LOGGER_CHILD");
    if (!childMessage.isEmpty()) {
        QCoreApplication app(argc, argv);
        RSLogger* logger = RSLogger::GetInstance();
        logger->WriteLog(LOG_INFO, QString::fromUtf8(childMessage), "Child::Run");
        logger->WriteLog(3, QStringLiteral("two bits"), "Child::Run");
        logger->WriteLog(LOG_DEBUG, QStringLiteral("never written"), "Child::Run");
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
