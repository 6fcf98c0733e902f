#include "app/qsingleapplication.h"
#include "testenv.h"

#include <QElapsedTimer>
#include <QLocalSocket>
#include <QProcess>
#include <QTemporaryDir>
#include <QWidget>
#include <QtTest>

#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

const char* const kChildMode = "VARNOKS_SINGLE_CHILD";
enum ChildExit { LaterInstance = 10, FirstInstance = 20, FirstButNotListening = 30 };

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
    QCOMPARE(runChild(runtime.path(), "stale"), int(FirstInstance));
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
