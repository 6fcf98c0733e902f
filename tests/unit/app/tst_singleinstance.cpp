#include "app/qsingleapplication.h"
#include "testenv.h"

#include <QElapsedTimer>
#include <QLocalSocket>
#include <QProcess>
#include <QTemporaryDir>
#include <QWidget>
#include <QtTest>

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

const char* const kChildMode = "VARNOKS_SINGLE_CHILD";
const char* const kBarrier = "VARNOKS_SINGLE_BARRIER";
enum ChildExit
{
    LaterInstance = 10,
    FirstInstance = 20,
    FirstButNotListening = 30
};

QString listenPath(const QString& runtimeDir)
{
    return runtimeDir + QStringLiteral("/BrindlexVarnoksPilot");
}

// Leaves a socket file behind with nobody listening, as a crashed instance would.
bool makeStaleSocket(const QString& path)
{
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    if (fd < 0)
        return false;
    sockaddr_un addr = {};
    addr.sun_family = AF_UNIX;
    const QByteArray encoded = QFile::encodeName(path);
    if (encoded.size() >= int(sizeof addr.sun_path))
        return false;
    memcpy(addr.sun_path, encoded.constData(), encoded.size());
    const bool bound = ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
    ::close(fd);
    return bound && QFile::exists(path);
}

// Tells the parent where this child is; a lost note only fails the test.
void say(const char* text)
{
    if (::write(STDOUT_FILENO, text, strlen(text)) < 0)
        return;
}

int runChild(const QString& runtimeDir, const QString& mode, qint64* elapsedMs = nullptr)
{
    QProcess child;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("XDG_RUNTIME_DIR", runtimeDir);
    env.insert(kChildMode, mode);
    child.setProcessEnvironment(env);
    QElapsedTimer timer;
    timer.start();
    child.start(QCoreApplication::applicationFilePath(), QStringList());
    if (!child.waitForFinished(20000))
        return -1;
    if (elapsedMs)
        *elapsedMs = timer.elapsed();
    return child.exitStatus() == QProcess::NormalExit ? child.exitCode() : -2;
}

} // namespace

class TestSingleInstance : public QObject
{
    Q_OBJECT

private slots:
    void firstInstanceListensOnPerUserName();
    void laterInstanceEndsAndFirstShowsRegisteredWindow();
    void pendingNotificationWithoutConnectionChangesNothing();
    void laterInstanceWithoutRegisteredWindowShowsNothing();
    void staleNameLeftByCrashedInstanceIsRecovered();
    void twoStartsAtOneMomentGiveOneFirstInstance();
    void programSecondStartExitsZeroAndSigtermEndsFirst();
};

void TestSingleInstance::firstInstanceListensOnPerUserName()
{
    auto* app = qobject_cast<QSingleApplication*>(qApp);
    QVERIFY(app);
    QVERIFY(!app->isRunning());
    QCOMPARE(QSingleApplication::localServerName("BrindlexVarnoksPilot"),
             listenPath(qEnvironmentVariable("XDG_RUNTIME_DIR")));
    QLocalSocket probe;
    probe.connectToServer(listenPath(qEnvironmentVariable("XDG_RUNTIME_DIR")));
    QVERIFY(probe.waitForConnected(1000));
}

void TestSingleInstance::laterInstanceEndsAndFirstShowsRegisteredWindow()
{
    auto* app = qobject_cast<QSingleApplication*>(qApp);
    QWidget window;
    window.setAttribute(Qt::WA_QuitOnClose, false);
    window.showMinimized();
    window.hide();
    app->setMainWindow(&window);
    QVERIFY(!window.isVisible());

    qint64 elapsed = 0;
    const int code = runChild(qEnvironmentVariable("XDG_RUNTIME_DIR"), "probe", &elapsed);
    QCOMPARE(code, int(LaterInstance));
    QTRY_VERIFY_WITH_TIMEOUT(window.isVisible(), 3000);
    QVERIFY(!window.isMinimized());
    app->setMainWindow(nullptr);
}

void TestSingleInstance::pendingNotificationWithoutConnectionChangesNothing()
{
    auto* app = qobject_cast<QSingleApplication*>(qApp);
    QWidget window;
    app->setMainWindow(&window);
    QVERIFY(QMetaObject::invokeMethod(app, "newLocalConnection", Qt::DirectConnection));
    QVERIFY(!window.isVisible());
    app->setMainWindow(nullptr);
}

void TestSingleInstance::laterInstanceWithoutRegisteredWindowShowsNothing()
{
    const int before = QApplication::topLevelWidgets().size();
    QCOMPARE(runChild(qEnvironmentVariable("XDG_RUNTIME_DIR"), "probe"), int(LaterInstance));
    QTest::qWait(200);
    for (QWidget* widget : QApplication::topLevelWidgets())
        QVERIFY(!widget->isVisible());
    QCOMPARE(QApplication::topLevelWidgets().size(), before);
}

void TestSingleInstance::staleNameLeftByCrashedInstanceIsRecovered()
{
    QTemporaryDir runtime;
    QVERIFY(makeStaleSocket(listenPath(runtime.path())));
    // A crashed copy leaves its lock file too, no longer locked.
    QFile lock(listenPath(runtime.path()) + QStringLiteral(".lock"));
    QVERIFY(lock.open(QIODevice::WriteOnly));
    lock.close();
    QCOMPARE(runChild(runtime.path(), "stale"), int(FirstInstance));
    QVERIFY(!lock.exists());
}

void TestSingleInstance::twoStartsAtOneMomentGiveOneFirstInstance()
{
    QTemporaryDir runtime;
    QVERIFY(QFile::setPermissions(runtime.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
    QTemporaryDir work;
    const QString barrier = work.filePath("barrier");
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("XDG_RUNTIME_DIR", runtime.path());
    env.insert(kChildMode, "race");
    env.insert(kBarrier, barrier);

    for (int round = 0; round < 50; ++round) {
        // Both children wait for a shared lock on the barrier while this
        // holds it exclusively; releasing it wakes both at once, right
        // before the instance decision.
        const int gate = ::open(QFile::encodeName(barrier).constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
        QVERIFY(gate >= 0);
        QCOMPARE(::flock(gate, LOCK_EX), 0);
        QProcess children[2];
        for (QProcess& child : children) {
            child.setProcessEnvironment(env);
            child.start(QCoreApplication::applicationFilePath(), QStringList());
        }
        QByteArray output[2];
        for (int i = 0; i < 2; ++i) {
            QTRY_VERIFY_WITH_TIMEOUT((output[i] += children[i].readAllStandardOutput()).contains("ready"),
                                     15000);
        }
        QThread::msleep(20);
        ::close(gate);

        // One ends at once as a later instance with code 0; the other runs on.
        int later = -1;
        QElapsedTimer timer;
        timer.start();
        while (later < 0 && timer.elapsed() < 15000) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
            for (int i = 0; i < 2; ++i) {
                output[i] += children[i].readAllStandardOutput();
                if (children[i].state() == QProcess::NotRunning)
                    later = i;
            }
            QVERIFY2(!(output[0].contains("first") && output[1].contains("first")),
                     qPrintable(QStringLiteral("round %1: both copies became first instances").arg(round)));
        }
        QVERIFY2(later >= 0, qPrintable(QStringLiteral("round %1: neither copy ended").arg(round)));
        const int first = 1 - later;
        output[later] += children[later].readAllStandardOutput();
        QVERIFY2(output[later].contains("later"), output[later].constData());
        QCOMPARE(children[later].exitStatus(), QProcess::NormalExit);
        QCOMPARE(children[later].exitCode(), 0);
        QTRY_VERIFY_WITH_TIMEOUT((output[first] += children[first].readAllStandardOutput()).contains("first"),
                                 5000);
        QCOMPARE(children[first].state(), QProcess::Running);
        children[first].closeWriteChannel();
        QVERIFY(children[first].waitForFinished(10000));
        QCOMPARE(children[first].exitCode(), int(FirstInstance));
    }
}

void TestSingleInstance::programSecondStartExitsZeroAndSigtermEndsFirst()
{
    const QString program = TestEnv::binPath("varnoks-pilot");
    if (!QFile::exists(program))
        QSKIP("varnoks-pilot is not built");
    TestEnv env;
    QProcessEnvironment penv = QProcessEnvironment::systemEnvironment();
    penv.insert("QT_QPA_PLATFORM", "offscreen");
    penv.insert("VARNOKS_HID_BACKEND", "virtual:" + env.path() + "/devices");
    penv.insert("VARNOKS_SENSOR_LIBRARY", env.path() + "/no-such-library.so");
    QDir().mkpath(env.path() + "/devices");

    QProcess first;
    first.setProcessEnvironment(penv);
    first.start(program, QStringList());
    QVERIFY(first.waitForStarted(5000));
    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(listenPath(env.runtimeDir())), 15000);

    QProcess second;
    second.setProcessEnvironment(penv);
    QElapsedTimer timer;
    timer.start();
    second.start(program, QStringList());
    QVERIFY(second.waitForFinished(15000));
    QCOMPARE(second.exitStatus(), QProcess::NormalExit);
    QCOMPARE(second.exitCode(), 0);
    QCOMPARE(first.state(), QProcess::Running);

    timer.restart();
    ::kill(pid_t(first.processId()), SIGTERM);
    QVERIFY(first.waitForFinished(5000));
    QCOMPARE(first.exitStatus(), QProcess::NormalExit);
    QCOMPARE(first.exitCode(), 0);
    qInfo() << "first instance ended" << timer.elapsed() << "ms after SIGTERM";
    QVERIFY(!QFile::exists(listenPath(env.runtimeDir())));
}

int main(int argc, char** argv)
{
    const QByteArray mode = qgetenv(kChildMode);
    if (mode == "race") {
        qputenv("QT_QPA_PLATFORM", "offscreen");
        QSingleApplication app(argc, argv, [] {
            const int gate = ::open(qgetenv(kBarrier).constData(), O_RDONLY | O_CLOEXEC);
            say("ready\n");
            ::flock(gate, LOCK_SH);
            ::close(gate);
        });
        if (app.isRunning()) {
            say("later\n");
            return 0;
        }
        say("first\n");
        // Stays the first instance until the parent closes this input.
        char c;
        while (::read(STDIN_FILENO, &c, 1) > 0) {
        }
        return FirstInstance;
    }
    if (!mode.isEmpty()) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
        QSingleApplication app(argc, argv);
        if (app.isRunning())
            return LaterInstance;
        QLocalSocket probe;
        probe.connectToServer(listenPath(qEnvironmentVariable("XDG_RUNTIME_DIR")));
        return probe.waitForConnected(1000) ? FirstInstance : FirstButNotListening;
    }

    QTemporaryDir runtime;
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtime.path()));
    QSingleApplication app(argc, argv);
    TestSingleInstance test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_singleinstance.moc"
