#include "app/common.h"
#include "app/commontools.h"
#include "autostart/hresult.h"
#include "autostart/xdgautostartentry.h"
#include "logcapture.h"
#include "testenv.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

#include <cerrno>
#include <csignal>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const QString INFO_TAG = QStringLiteral("[Info    ] ");
const QString ERROR_TAG = QStringLiteral("[Error   ] ");
const char* const CHILD_VARIABLE = "VARNOKS_LOGON_TASK_CHILD";

QString entryPath()
{
    return XdgAutostartEntry::entryFilePath(COMMON::TASK_NAME);
}

QByteArray readFile(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QByteArray();
    return file.readAll();
}

bool writeFile(const QString& path, const QByteArray& content)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    return file.write(content) == content.size();
}

QString keyValue(const QByteArray& content, const char* key)
{
    QByteArray value;
    if (!XdgAutostartEntry::readKey(content, key, &value))
        return QStringLiteral("<missing>");
    return QString::fromUtf8(value);
}

QString programOf(const QByteArray& content)
{
    QByteArray exec;
    QString program;
    if (!XdgAutostartEntry::readKey(content, "Exec", &exec) ||
        !XdgAutostartEntry::programOfExec(exec, &program))
        return QStringLiteral("<none>");
    return program;
}

// What the entry point does at every start.
void startUpStep()
{
    if (!CommonTools::IsTaskExists(COMMON::TASK_NAME))
        CommonTools::AddTaskToScheduler(COMMON::TASK_NAME, QCoreApplication::applicationFilePath());
}

// Exit code: 10 the entry was there, 11 it was added, 12 adding failed.
int childMain(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    if (CommonTools::IsTaskExists(COMMON::TASK_NAME))
        return 10;
    return CommonTools::AddTaskToScheduler(COMMON::TASK_NAME, QCoreApplication::applicationFilePath()) ? 11
                                                                                                       : 12;
}

} // namespace

class TestLogonTask : public QObject
{
    Q_OBJECT

private slots:
    void execValueIsQuotedAndEscaped_data();
    void execValueIsQuotedAndEscaped();
    void programPathRoundTripsThroughEntry_data();
    void programPathRoundTripsThroughEntry();
    void execValuesThatAreNotAPlainProgram_data();
    void execValuesThatAreNotAPlainProgram();
    void unwritablePathsAreRefused();

    void firstStartCreatesEntryAndSecondAddsNothing();
    void entryThatIsNotOursCountsAsAbsentAndIsReplaced_data();
    void entryThatIsNotOursCountsAsAbsentAndIsReplaced();
    void unreadableEntryIsReportedAndReplaced_data();
    void unreadableEntryIsReportedAndReplaced();
    void addingReplacesDisabledEntryWithEnabledOne();
    void switchingStateKeepsTheRestOfTheEntry();
    void enablingMissingEntryLogsFileNotFound();
    void switchingEntryWithoutGroupFails();
    void writeFailuresAreLoggedAndLeaveEntryIntact();
    void taskNameCannotLeaveTheFolder();
    void autostartFolderFollowsXdgConfigHome();
    void writtenEntryPassesDesktopFileValidate();
    void programInFolderWithAwkwardNameFindsItsEntry();

    void errnoMapsToWindowsCodes_data();
    void errnoMapsToWindowsCodes();
};

void TestLogonTask::execValueIsQuotedAndEscaped_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QByteArray>("exec");
    // Inside double quotes '"', '`', '$' and '\' take a backslash; the file's
    // own string escapes then double every backslash; '%' is doubled.
    QTest::newRow("plain") << "/usr/bin/varnoks-pilot" << QByteArray(R"("/usr/bin/varnoks-pilot")");
    QTest::newRow("blank") << "/opt/my app/run" << QByteArray(R"("/opt/my app/run")");
    QTest::newRow("double quote") << R"(/a/"b"/c)" << QByteArray(R"("/a/\\"b\\"/c")");
    QTest::newRow("dollar") << "/a/$HOME" << QByteArray(R"("/a/\\$HOME")");
    QTest::newRow("backtick") << "/a/`x`" << QByteArray(R"("/a/\\`x\\`")");
    QTest::newRow("backslash") << R"(/a\b)" << QByteArray(R"("/a\\\\b")");
    QTest::newRow("percent") << "/a/100%/%f" << QByteArray(R"("/a/100%%/%%f")");
    QTest::newRow("single quote") << "/a/it's" << QByteArray(R"("/a/it's")");
    QTest::newRow("tab and newline") << "/a/\tb\nc" << QByteArray(R"("/a/\tb\nc")");
}

void TestLogonTask::execValueIsQuotedAndEscaped()
{
    QFETCH(QString, path);
    QFETCH(QByteArray, exec);
    QCOMPARE(XdgAutostartEntry::execValueFor(path), exec);
}

void TestLogonTask::programPathRoundTripsThroughEntry_data()
{
    QTest::addColumn<QString>("path");
    QTest::newRow("plain") << "/usr/bin/varnoks-pilot";
    QTest::newRow("blanks and quotes") << R"(/home/u/My "Tools"/it's here/varnoks pilot)";
    QTest::newRow("shell characters") << "/tmp/$(rm -rf ~)/`id`/a;b|c&d<e>f*?#~";
    QTest::newRow("percent codes") << "/tmp/%u %F %%/%i%c%k";
    QTest::newRow("backslashes") << R"(/tmp/a\\b\"c\$d\)";
    QTest::newRow("non-ASCII") << QString::fromUtf8("/home/jürgen/程序/varnoks");
    QTest::newRow("leading and trailing blanks") << " /x/ y ";
}

// The entry is written by the same code the program uses and read back
// from the file, so a mismatch between writer and reader shows here.
void TestLogonTask::programPathRoundTripsThroughEntry()
{
    QFETCH(QString, path);
    TestEnv env;
    LogCapture log;
    QVERIFY(CommonTools::AddTaskToScheduler(COMMON::TASK_NAME, path));
    const QByteArray content = readFile(entryPath());
    QCOMPARE(programOf(content), path);
    QByteArray tryExec;
    QVERIFY(XdgAutostartEntry::readKey(content, "TryExec", &tryExec));
    QVERIFY(XdgAutostartEntry::unescapeString(tryExec, &tryExec));
    QCOMPARE(QString::fromUtf8(tryExec), path);
    // The path is not this program's, so the start-up check replaces it.
    QVERIFY(!CommonTools::IsTaskExists(COMMON::TASK_NAME));
}

void TestLogonTask::execValuesThatAreNotAPlainProgram_data()
{
    QTest::addColumn<QByteArray>("exec");
    QTest::addColumn<QString>("program");
    QTest::newRow("unquoted with argument") << QByteArray("/usr/bin/foo --tray") << "/usr/bin/foo";
    QTest::newRow("quoted with field code") << QByteArray(R"("/a b/c" %U)") << "/a b/c";
    QTest::newRow("leading blanks") << QByteArray("   /usr/bin/foo") << "/usr/bin/foo";
    QTest::newRow("escaped blank") << QByteArray(R"(\s"/x")") << "/x";
    QTest::newRow("unterminated quote") << QByteArray(R"("/a/b)") << QString();
    QTest::newRow("unknown string escape") << QByteArray(R"("/a/\"b")") << QString();
    QTest::newRow("trailing backslash") << QByteArray(R"("/a/b"\)") << QString();
    QTest::newRow("field code as program") << QByteArray("%f") << QString();
    QTest::newRow("field code in program") << QByteArray(R"("/a/%u")") << QString();
    QTest::newRow("empty") << QByteArray() << QString();
    QTest::newRow("blanks only") << QByteArray("  \t ") << QString();
    QTest::newRow("empty quotes") << QByteArray(R"("")") << QString();
}

void TestLogonTask::execValuesThatAreNotAPlainProgram()
{
    QFETCH(QByteArray, exec);
    QFETCH(QString, program);
    QString found;
    const bool ok = XdgAutostartEntry::programOfExec(exec, &found);
    QCOMPARE(ok, !program.isEmpty());
    if (ok)
        QCOMPARE(found, program);
}

void TestLogonTask::unwritablePathsAreRefused()
{
    TestEnv env;
    LogCapture log;
    const QString paths[] = {QString(), QStringLiteral("/a/\x01/b"), QStringLiteral("/a/\x7f")};
    for (const QString& path : paths) {
        QVERIFY(XdgAutostartEntry::execValueFor(path).isEmpty());
        QVERIFY(!CommonTools::AddTaskToScheduler(COMMON::TASK_NAME, path));
    }
    QCOMPARE(log.count(ERROR_TAG + "CommonTools::AddTaskToScheduler(): Failed to create Task Definition."),
             3);
    QVERIFY(!QFile::exists(entryPath()));
}

void TestLogonTask::firstStartCreatesEntryAndSecondAddsNothing()
{
    TestEnv env;
    LogCapture log;
    QVERIFY(!QFile::exists(entryPath()));

    startUpStep();
    QCOMPARE(log.count(INFO_TAG + "CommonTools::IsTaskExists(): Task does not exist: DeviceMonitorStartTask"),
             1);
    QCOMPARE(
        log.count(INFO_TAG + "CommonTools::AddTaskToScheduler(): Task successfully added to Task Scheduler."),
        1);
    const QByteArray content = readFile(entryPath());
    QCOMPARE(programOf(content), QCoreApplication::applicationFilePath());
    QCOMPARE(keyValue(content, "X-GNOME-Autostart-enabled"), QStringLiteral("true"));
    QCOMPARE(keyValue(content, "Hidden"), QStringLiteral("false"));
    QCOMPARE(keyValue(content, "X-GNOME-Autostart-Delay"), QStringLiteral("6"));
    // Nothing but the entry is left in the folder (no temporary files).
    QCOMPARE(QDir(XdgAutostartEntry::autostartFolder()).entryList(QDir::Files | QDir::Hidden),
             QStringList{"DeviceMonitorStartTask.desktop"});

    log.clear();
    const QDateTime written = QFileInfo(entryPath()).lastModified();
    QVERIFY(CommonTools::IsTaskExists(COMMON::TASK_NAME));
    startUpStep();
    QCOMPARE(log.count("CommonTools::"), 0);
    QCOMPARE(readFile(entryPath()), content);
    QCOMPARE(QFileInfo(entryPath()).lastModified(), written);
}

void TestLogonTask::entryThatIsNotOursCountsAsAbsentAndIsReplaced_data()
{
    QTest::addColumn<QByteArray>("content");
    const QByteArray header = "[Desktop Entry]\nType=Application\nName=X\n";
    QTest::newRow("other program") << header + "Exec=/usr/bin/other-program\n";
    QTest::newRow("own path plus suffix")
        << header + "Exec=\"" + QCoreApplication::applicationFilePath().toUtf8() + "x\"\n";
    QTest::newRow("own path in other case")
        << header + "Exec=\"" + QCoreApplication::applicationFilePath().toUpper().toUtf8() + "\"\n";
    QTest::newRow("no Exec") << header;
    QTest::newRow("Exec in another group")
        << "[Desktop Entry]\nName=X\n[Desktop Action a]\nExec=" +
               XdgAutostartEntry::execValueFor(QCoreApplication::applicationFilePath()) + "\n";
    QTest::newRow("no group")
        << "Exec=" + XdgAutostartEntry::execValueFor(QCoreApplication::applicationFilePath()) + "\n";
    QTest::newRow("empty file") << QByteArray();
    QTest::newRow("binary garbage") << QByteArray("\x00\xff\xfe[Desktop\x00Entry]\n\x01=\x02", 20);
}

void TestLogonTask::entryThatIsNotOursCountsAsAbsentAndIsReplaced()
{
    QFETCH(QByteArray, content);
    TestEnv env;
    LogCapture log;
    QVERIFY(writeFile(entryPath(), content));

    QVERIFY(!CommonTools::IsTaskExists(COMMON::TASK_NAME));
    // It exists, so it is not reported as missing; it just is not ours.
    QCOMPARE(log.count("Task does not exist"), 0);
    QCOMPARE(log.count(ERROR_TAG), 0);

    startUpStep();
    QCOMPARE(log.count("Task successfully added to Task Scheduler."), 1);
    QVERIFY(CommonTools::IsTaskExists(COMMON::TASK_NAME));
    QCOMPARE(programOf(readFile(entryPath())), QCoreApplication::applicationFilePath());
}

void TestLogonTask::unreadableEntryIsReportedAndReplaced_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("code");
    QTest::newRow("fifo") << "fifo"
                          << "HRESULT: 0x8007000D";
    QTest::newRow("oversized") << "oversized"
                               << "HRESULT: 0x800700DF";
    QTest::newRow("dangling symlink") << "dangling"
                                      << "";
    QTest::newRow("symlink loop") << "loop"
                                  << "HRESULT: 0x80070781";
}

// Hostile or broken entries never hang or crash the start; the start-up
// step replaces them with a proper entry.
void TestLogonTask::unreadableEntryIsReportedAndReplaced()
{
    QFETCH(QString, kind);
    QFETCH(QString, code);
    TestEnv env;
    LogCapture log;
    const QString path = entryPath();
    QDir().mkpath(QFileInfo(path).absolutePath());
    const QByteArray native = QFile::encodeName(path);
    if (kind == "fifo") {
        QCOMPARE(::mkfifo(native.constData(), 0600), 0);
    } else if (kind == "oversized") {
        QVERIFY(writeFile(path, "[Desktop Entry]\nExec=" +
                                    XdgAutostartEntry::execValueFor(QCoreApplication::applicationFilePath()) +
                                    "\n#" + QByteArray(XdgAutostartEntry::MAX_ENTRY_SIZE, 'x') + "\n"));
    } else if (kind == "dangling") {
        QCOMPARE(::symlink("/nonexistent/target.desktop", native.constData()), 0);
    } else if (kind == "loop") {
        QCOMPARE(::symlink(native.constData(), native.constData()), 0);
    }

    QVERIFY(!CommonTools::IsTaskExists(COMMON::TASK_NAME));
    if (code.isEmpty()) {
        // A link to nothing is a missing entry.
        QCOMPARE(
            log.count(INFO_TAG + "CommonTools::IsTaskExists(): Task does not exist: DeviceMonitorStartTask"),
            1);
    } else {
        QCOMPARE(log.count(ERROR_TAG + "CommonTools::IsTaskExists(): Failed to query task. HRESULT: " + code),
                 1);
    }

    QVERIFY(CommonTools::AddTaskToScheduler(COMMON::TASK_NAME, QCoreApplication::applicationFilePath()));
    QVERIFY(QFileInfo(path).isFile() && !QFileInfo(path).isSymLink());
    QVERIFY(CommonTools::IsTaskExists(COMMON::TASK_NAME));
}

void TestLogonTask::addingReplacesDisabledEntryWithEnabledOne()
{
    TestEnv env;
    LogCapture log;
    const QString own = QCoreApplication::applicationFilePath();
    QVERIFY(CommonTools::AddTaskToScheduler(COMMON::TASK_NAME, "/old/place/varnoks-pilot"));
    CommonTools::SetTaskEnabledState(COMMON::TASK_NAME, false);
    QCOMPARE(keyValue(readFile(entryPath()), "Hidden"), QStringLiteral("true"));

    QVERIFY(CommonTools::AddTaskToScheduler(COMMON::TASK_NAME, own));
    const QByteArray content = readFile(entryPath());
    QCOMPARE(programOf(content), own);
    QCOMPARE(keyValue(content, "Hidden"), QStringLiteral("false"));
    QCOMPARE(keyValue(content, "X-GNOME-Autostart-enabled"), QStringLiteral("true"));
    QCOMPARE(content.count("Hidden"), 1);
}

void TestLogonTask::switchingStateKeepsTheRestOfTheEntry()
{
    TestEnv env;
    LogCapture log;
    const QByteArray exec = XdgAutostartEntry::execValueFor(QCoreApplication::applicationFilePath());
    // An entry a desktop's own autostart editor might have touched: comments,
    // blanks around '=', CRLF line ends, its own keys, a second group.
    const QByteArray original = "# kept comment\n[Desktop Entry]\r\nType=Application\nName = Mine\n"
                                "X-GNOME-Autostart-enabled = true\nExec=" +
                                exec + "\nX-Custom=1\n\n[Desktop Action other]\nName=Other\nHidden=false\n";
    QVERIFY(writeFile(entryPath(), original));

    CommonTools::SetTaskEnabledState(COMMON::TASK_NAME, false);
    QCOMPARE(
        log.count(INFO_TAG + "CommonTools::SetTaskEnabledState(): Task [DeviceMonitorStartTask] disabled."),
        1);
    QByteArray content = readFile(entryPath());
    QCOMPARE(keyValue(content, "Hidden"), QStringLiteral("true"));
    QCOMPARE(keyValue(content, "X-GNOME-Autostart-enabled"), QStringLiteral("false"));
    QCOMPARE(keyValue(content, "Name"), QStringLiteral("Mine"));
    QCOMPARE(keyValue(content, "X-Custom"), QStringLiteral("1"));
    QVERIFY(content.startsWith("# kept comment\n"));
    // The other group's keys are not ours to change.
    QVERIFY(content.endsWith("[Desktop Action other]\nName=Other\nHidden=false\n"));
    QCOMPARE(content.count("X-GNOME-Autostart-enabled"), 1);
    // Disabled is still our entry: the next start must not replace it.
    QVERIFY(CommonTools::IsTaskExists(COMMON::TASK_NAME));

    CommonTools::SetTaskEnabledState(COMMON::TASK_NAME, true);
    QCOMPARE(
        log.count(INFO_TAG + "CommonTools::SetTaskEnabledState(): Task [DeviceMonitorStartTask] enabled."),
        1);
    content = readFile(entryPath());
    QCOMPARE(keyValue(content, "Hidden"), QStringLiteral("false"));
    QCOMPARE(keyValue(content, "X-GNOME-Autostart-enabled"), QStringLiteral("true"));

    // Applying the state in effect again changes nothing on disk but still
    // reports it.
    const QDateTime written = QFileInfo(entryPath()).lastModified();
    CommonTools::SetTaskEnabledState(COMMON::TASK_NAME, true);
    QCOMPARE(log.count("Task [DeviceMonitorStartTask] enabled."), 2);
    QCOMPARE(readFile(entryPath()), content);
    QCOMPARE(QFileInfo(entryPath()).lastModified(), written);
}

void TestLogonTask::enablingMissingEntryLogsFileNotFound()
{
    TestEnv env;
    LogCapture log;
    for (const bool enabled : {true, false}) {
        CommonTools::SetTaskEnabledState(COMMON::TASK_NAME, enabled);
        QVERIFY(!QFile::exists(entryPath()));
    }
    QCOMPARE(log.count(ERROR_TAG + "CommonTools::SetTaskEnabledState(): Failed to get the specified task: "
                                   "DeviceMonitorStartTask. HRESULT: HRESULT: 0x80070002"),
             2);
    QCOMPARE(log.count("] enabled."), 0);
    QCOMPARE(log.count("] disabled."), 0);
}

void TestLogonTask::switchingEntryWithoutGroupFails()
{
    TestEnv env;
    LogCapture log;
    const QByteArray original = "Exec=/usr/bin/x\n";
    QVERIFY(writeFile(entryPath(), original));
    CommonTools::SetTaskEnabledState(COMMON::TASK_NAME, false);
    QCOMPARE(
        log.count(
            ERROR_TAG +
            "CommonTools::SetTaskEnabledState(): Failed to set task state. HRESULT: HRESULT: 0x8007000D"),
        1);
    QCOMPARE(readFile(entryPath()), original);
}

void TestLogonTask::writeFailuresAreLoggedAndLeaveEntryIntact()
{
    TestEnv env;
    LogCapture log;
    QVERIFY(CommonTools::AddTaskToScheduler(COMMON::TASK_NAME, "/old/varnoks-pilot"));
    const QByteArray original = readFile(entryPath());
    const QString folder = XdgAutostartEntry::autostartFolder();

    // A file size limit makes every write of a whole entry fail with EFBIG,
    // for root as well.
    struct rlimit saved;
    QCOMPARE(::getrlimit(RLIMIT_FSIZE, &saved), 0);
    const sighandler_t oldHandler = ::signal(SIGXFSZ, SIG_IGN);
    struct rlimit small = saved;
    small.rlim_cur = 16;
    QCOMPARE(::setrlimit(RLIMIT_FSIZE, &small), 0);
    log.clear();
    CommonTools::SetTaskEnabledState(COMMON::TASK_NAME, false);
    const bool added = CommonTools::AddTaskToScheduler(COMMON::TASK_NAME, "/new/varnoks-pilot");
    ::setrlimit(RLIMIT_FSIZE, &saved);
    ::signal(SIGXFSZ, oldHandler);

    QVERIFY(!added);
    QCOMPARE(
        log.count(
            ERROR_TAG +
            "CommonTools::SetTaskEnabledState(): Failed to set task state. HRESULT: HRESULT: 0x800700DF"),
        1);
    QCOMPARE(log.count(ERROR_TAG + "CommonTools::AddTaskToScheduler(): Failed to register task."), 1);
    QCOMPARE(log.count("Task successfully added"), 0);
    QCOMPARE(log.count("] disabled."), 0);
    QCOMPARE(readFile(entryPath()), original);
    QCOMPARE(QDir(folder).entryList(QDir::Files | QDir::Hidden),
             QStringList{"DeviceMonitorStartTask.desktop"});

    if (::geteuid() != 0) {
        // A folder we may not write to.
        QVERIFY(QFile::setPermissions(folder, QFile::ReadOwner | QFile::ExeOwner));
        log.clear();
        CommonTools::SetTaskEnabledState(COMMON::TASK_NAME, false);
        QFile::setPermissions(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        QCOMPARE(log.count("Failed to set task state. HRESULT: HRESULT: 0x80070005"), 1);
        QCOMPARE(readFile(entryPath()), original);
    }

    // A folder that cannot be created: the autostart "folder" is a file.
    QVERIFY(QFile::remove(entryPath()));
    QVERIFY(QDir().rmdir(folder));
    QVERIFY(writeFile(folder, "not a folder"));
    log.clear();
    QVERIFY(!CommonTools::IsTaskExists(COMMON::TASK_NAME));
    QVERIFY(!CommonTools::AddTaskToScheduler(COMMON::TASK_NAME, "/new/varnoks-pilot"));
    QCOMPARE(log.count(ERROR_TAG +
                       "CommonTools::IsTaskExists(): Failed to query task. HRESULT: HRESULT: 0x80070003"),
             1);
    QCOMPARE(log.count(ERROR_TAG + "CommonTools::AddTaskToScheduler(): Failed to get Task Folder."), 1);
}

void TestLogonTask::taskNameCannotLeaveTheFolder()
{
    TestEnv env;
    LogCapture log;
    const QString names[] = {QStringLiteral("../escape"), QStringLiteral("a/b"), QStringLiteral(".hidden"),
                             QString(), QStringLiteral("line\nbreak")};
    for (const QString& name : names) {
        QVERIFY2(XdgAutostartEntry::entryFilePath(name).isEmpty(), qPrintable(name));
        QVERIFY(!CommonTools::IsTaskExists(name));
        QVERIFY(!CommonTools::AddTaskToScheduler(name, QCoreApplication::applicationFilePath()));
        CommonTools::SetTaskEnabledState(name, true);
    }
    QCOMPARE(log.count("Failed to query task. HRESULT: HRESULT: 0x80070057"), 5);
    QCOMPARE(log.count("Failed to get Task Folder."), 5);
    QCOMPARE(log.count("HRESULT: HRESULT: 0x80070057"), 10);
    // Nothing was written anywhere under the temporary tree.
    QDirIterator it(env.path(), QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString file = it.next();
        QVERIFY2(!file.endsWith(".desktop"), qPrintable(file));
    }
}

void TestLogonTask::autostartFolderFollowsXdgConfigHome()
{
    const QByteArray savedConfig = qgetenv("XDG_CONFIG_HOME");
    const QByteArray savedHome = qgetenv("HOME");
    qputenv("HOME", "/home/someone");
    qputenv("XDG_CONFIG_HOME", "/cfg/dir/");
    const QString set = XdgAutostartEntry::autostartFolder();
    qputenv("XDG_CONFIG_HOME", "relative/dir");
    const QString relative = XdgAutostartEntry::autostartFolder();
    qunsetenv("XDG_CONFIG_HOME");
    const QString unset = XdgAutostartEntry::autostartFolder();
    qputenv("XDG_CONFIG_HOME", savedConfig);
    qputenv("HOME", savedHome);

    QCOMPARE(set, QStringLiteral("/cfg/dir/autostart"));
    QCOMPARE(relative, QStringLiteral("/home/someone/.config/autostart"));
    QCOMPARE(unset, QStringLiteral("/home/someone/.config/autostart"));
}

void TestLogonTask::writtenEntryPassesDesktopFileValidate()
{
    const QString validator = QStandardPaths::findExecutable("desktop-file-validate");
    if (validator.isEmpty())
        QSKIP("desktop-file-validate is not installed");
    const QString paths[] = {QCoreApplication::applicationFilePath(),
                             QStringLiteral(R"(/opt/My "Tools"/it's/$x `y` 100% \z/varnoks pilot)"),
                             QStringLiteral("/a/\tb\nc")};
    for (const QString& path : paths) {
        for (const bool enabled : {true, false}) {
            TestEnv env;
            LogCapture log;
            QVERIFY(CommonTools::AddTaskToScheduler(COMMON::TASK_NAME, path));
            CommonTools::SetTaskEnabledState(COMMON::TASK_NAME, enabled);
            QProcess process;
            process.setProcessChannelMode(QProcess::MergedChannels);
            process.start(validator, {entryPath()});
            QVERIFY(process.waitForFinished(30000));
            const QString output = QString::fromUtf8(process.readAll());
            QVERIFY2(process.exitCode() == 0 && output.trimmed().isEmpty(),
                     qPrintable(path + ": " + output + QString::fromUtf8(readFile(entryPath()))));
        }
    }
}

// The real start-up path: a copy of this program in a folder whose name needs
// every kind of quoting finds the entry it wrote on its first start.
void TestLogonTask::programInFolderWithAwkwardNameFindsItsEntry()
{
    TestEnv env;
    const QString folder = env.path() + QStringLiteral(R"(/My "Apps" it's $HOME `id` 100% \x)");
    QVERIFY(QDir().mkpath(folder));
    const QString program = folder + QStringLiteral("/varnoks pilot%f");
    QVERIFY(QFile::copy(QCoreApplication::applicationFilePath(), program));
    QVERIFY(QFile::setPermissions(program, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));

    auto runChild = [&program]() {
        QProcess process;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(CHILD_VARIABLE, "1");
        process.setProcessEnvironment(environment);
        process.start(program, QStringList());
        if (!process.waitForFinished(30000))
            return -1;
        return process.exitCode();
    };
    QCOMPARE(runChild(), 11);
    QCOMPARE(programOf(readFile(entryPath())), program);
    QCOMPARE(runChild(), 10);

    // This copy, being elsewhere, does not count the entry as its own.
    QVERIFY(!CommonTools::IsTaskExists(COMMON::TASK_NAME));
}

void TestLogonTask::errnoMapsToWindowsCodes_data()
{
    QTest::addColumn<int>("error");
    QTest::addColumn<QString>("text");
    QTest::newRow("ENOENT") << ENOENT << "HRESULT: 0x80070002";
    QTest::newRow("ENOTDIR") << ENOTDIR << "HRESULT: 0x80070003";
    QTest::newRow("EACCES") << EACCES << "HRESULT: 0x80070005";
    QTest::newRow("EPERM") << EPERM << "HRESULT: 0x80070005";
    QTest::newRow("ENOSPC") << ENOSPC << "HRESULT: 0x80070070";
    QTest::newRow("EROFS") << EROFS << "HRESULT: 0x80070013";
    QTest::newRow("unknown") << EXDEV << "HRESULT: 0x80004005";
    QTest::newRow("none") << 0 << "HRESULT: 0x00000000";
}

void TestLogonTask::errnoMapsToWindowsCodes()
{
    QFETCH(int, error);
    QFETCH(QString, text);
    QCOMPARE(HResult::formB(HResult::fromErrno(error)), text);
}

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsSet(CHILD_VARIABLE))
        return childMain(argc, argv);
    QCoreApplication app(argc, argv);
    TestLogonTask test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_logontask.moc"
