#include "device/backends/devicechangemonitor.h"
#include "device/backends/directorydevicemonitor.h"
#include "device/backends/virtualhidbackend.h"
#include "device/hiddevicesmanager.h"
#include "device/sendhiddatathread.h"
#include "devsimdriver.h"
#include "logcapture.h"
#include "registryroute.h"
#include "testenv.h"

#include <QElapsedTimer>
#include <QSignalSpy>
#include <QtTest>

#include <atomic>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

// Registry, sender and arrival/removal source against simulated devices.
class TestDeviceLink : public QObject
{
    Q_OBJECT

private slots:
    void init() { m_env = std::make_unique<TestEnv>(); }
    void cleanup() { m_env.reset(); }

    void startupScanRecordsEachDeviceWithItsIdentity();
    void everyDeviceGetsOneReportPerPass();
    void wrongReportIdIsRejectedSilently();
    void deviceWithoutSerialIsSkippedAtStartButRecognisedOnArrival();
    void unplugAndReplugTravelThroughTheRegistry();
    void refusedReportIsLoggedWithVidPidAndPath();
    void misbehavingDeviceNeverHoldsBackAnother_data();
    void misbehavingDeviceNeverHoldsBackAnother();
    void pausedSenderSendsNothingUntilResumed();
    void nothingIsSentBeforeFirstPositiveReading();
    void vanishingDeviceGivesErrorsNotACrash();
    void missingDeviceDirectoryFailsNotification();
    void hostileEntriesInTheDeviceFolderAreSkippedWithoutBlocking();

private:
    static COMMON::HardwareInfo reading(const QString& cpu, const QString& gpu, const QString& fan);
    std::unique_ptr<SendHIDDataThread> makeSender(const HIDDeviceMap& devices, quint8 item = 1);

    std::unique_ptr<TestEnv> m_env;
};

COMMON::HardwareInfo TestDeviceLink::reading(const QString& cpu, const QString& gpu, const QString& fan)
{
    COMMON::HardwareInfo info;
    info.strCPUTemperature = cpu;
    info.strGPUTemperature = gpu;
    info.strFanRpm = fan;
    return info;
}

// A running sender with readings, the given devices, and a fixed item.
std::unique_ptr<SendHIDDataThread> TestDeviceLink::makeSender(const HIDDeviceMap& devices, quint8 item)
{
    auto sender = std::make_unique<SendHIDDataThread>(createHidBackend(), [item] { return item; });
    sender->onSetHardwareData(reading(QStringLiteral("45.7"), QStringLiteral("50"), QStringLiteral("1200")));
    sender->setDevices(devices);
    sender->start();
    return sender;
}

void TestDeviceLink::startupScanRecordsEachDeviceWithItsIdentity()
{
    DevsimDriver sim;
    QVERIFY(sim.start({QStringLiteral("a,sw=1.2,hw=0.7,uuid=0123456789abcdef000a10ff"),
                       QStringLiteral("b,sw=3.10"), QStringLiteral("other,vid=46d")}));
    sim.useAsBackend();

    HIDDevicesManager manager(createHidBackend());
    manager.scanDevices();
    QVERIFY(finishIdentification(manager));
    QCOMPARE(manager.devices().keys(), (QStringList{sim.devicePath("a"), sim.devicePath("b")}));
    const HIDDeviceInfo a = manager.devices().value(sim.devicePath("a"));
    QCOMPARE(a.strUUID, QStringLiteral("123456789ABCDEF0A10FF"));
    QCOMPARE(a.strVID, QStringLiteral("2E3C"));
    QCOMPARE(a.strPID, QStringLiteral("A12"));
    QCOMPARE(a.strSoftwareVersion, QStringLiteral("1.2"));
    QCOMPARE(a.strHardwareVersion, QStringLiteral("0.7"));
    QCOMPARE(a.strDevicePath, sim.devicePath("a"));
    QCOMPARE(manager.devices().value(sim.devicePath("b")).strSoftwareVersion, QStringLiteral("3.10"));
    // "other" comes last in the scan: once b's request is seen, it would be too.
    QVERIFY(sim.waitFor([&] { return sim.identifyCount(QStringLiteral("b")) == 1; }));
    QCOMPARE(sim.identifyCount(QStringLiteral("other")), 0);
}

void TestDeviceLink::everyDeviceGetsOneReportPerPass()
{
    DevsimDriver sim;
    QVERIFY(sim.start({QStringLiteral("c"), QStringLiteral("a"), QStringLiteral("b")}));
    sim.useAsBackend();
    HIDDevicesManager manager(createHidBackend());
    manager.scanDevices();
    QVERIFY(finishIdentification(manager));
    QCOMPARE(manager.devices().size(), 3);
    sim.clearLines();

    auto sender = makeSender(manager.devices(), 16);
    QVERIFY(sim.waitForReports(QString(), 6));
    // The devices are served side by side, so within a pass any order is
    // fine; but no device gets a second report before the others had theirs.
    const QList<DevsimDriver::Report> reports = sim.reports();
    for (int pass = 0; pass < 2; ++pass) {
        QStringList served;
        for (int i = 0; i < 3; ++i)
            served.append(reports.at(pass * 3 + i).device);
        served.sort();
        QCOMPARE(served, (QStringList{"a", "b", "c"}));
    }
    const DevsimDriver::Report& first = reports.first();
    QCOMPARE(first.item, 16);
    QCOMPARE(first.cpu, 45);
    QCOMPARE(first.gpu, 50);
    QCOMPARE(first.fan, 1200);
    QCOMPARE(first.alarm, 0);
    QVERIFY(!first.fahrenheit);
}

void TestDeviceLink::wrongReportIdIsRejectedSilently()
{
    DevsimDriver sim;
    QVERIFY(sim.start({QStringLiteral("a,fault=wrong-id"), QStringLiteral("b")}));
    sim.useAsBackend();
    LogCapture log;
    HIDDevicesManager manager(createHidBackend());
    manager.scanDevices();
    QVERIFY(finishIdentification(manager));
    QCOMPARE(manager.devices().keys(), QStringList{sim.devicePath("b")});
    QVERIFY(sim.waitFor([&] { return sim.identifyCount(QStringLiteral("a")) == 1; }));
    QCOMPARE(log.count(QStringLiteral("HIDDevicesManager")), 0);
}

void TestDeviceLink::deviceWithoutSerialIsSkippedAtStartButRecognisedOnArrival()
{
    DevsimDriver sim;
    // hidraw reports a missing serial number as an empty string: same as none.
    QVERIFY(sim.start({QStringLiteral("n,serial=none"), QStringLiteral("e,serial="), QStringLiteral("z")}));
    sim.useAsBackend();
    QObject window;
    HIDDevicesManager manager(createHidBackend());
    DeviceChangeMonitor* monitor = manager.registerNotify(&window);
    QVERIFY(monitor);
    const auto route = [&manager](const DeviceChangeEvent& event) { manager.handleDeviceChange(event); };
    QObject::connect(monitor, &DeviceChangeMonitor::deviceChanged, &window, route);
    QObject::connect(&manager, &HIDDevicesManager::identificationFinished, &window, route);
    manager.scanDevices();
    QVERIFY(finishIdentification(manager));
    QCOMPARE(manager.devices().keys(), QStringList{sim.devicePath("z")});
    // Every identification the scan started has ended: none went to e or n.
    QVERIFY(sim.waitFor([&] { return sim.identifyCount(QStringLiteral("z")) == 1; }));
    QCOMPARE(sim.identifyCount(QStringLiteral("n")), 0);
    QCOMPARE(sim.identifyCount(QStringLiteral("e")), 0);

    QVERIFY(sim.unplug(QStringLiteral("n")));
    QVERIFY(sim.plug(QStringLiteral("n")));
    QTRY_COMPARE(manager.devices().keys(), (QStringList{sim.devicePath("n"), sim.devicePath("z")}));
    QVERIFY(sim.waitFor([&] { return sim.identifyCount(QStringLiteral("n")) == 1; }));
}

void TestDeviceLink::unplugAndReplugTravelThroughTheRegistry()
{
    DevsimDriver sim;
    QVERIFY(sim.start({QStringLiteral("a"), QStringLiteral("b")}));
    sim.useAsBackend();
    QObject window;
    HIDDevicesManager manager(createHidBackend());
    DeviceChangeMonitor* monitor = manager.registerNotify(&window);
    QVERIFY(monitor);
    QSignalSpy events(monitor, &DeviceChangeMonitor::deviceChanged);
    // The main window's route: count, hand over, count again, refresh on change.
    int refreshes = 0;
    const auto route = [&](const DeviceChangeEvent& event) {
        const int before = manager.devices().size();
        QVERIFY(!manager.handleDeviceChange(event));
        if (manager.devices().size() != before)
            ++refreshes;
    };
    QObject::connect(monitor, &DeviceChangeMonitor::deviceChanged, &window, route);
    QObject::connect(&manager, &HIDDevicesManager::identificationFinished, &window, route);
    manager.scanDevices();
    QTRY_COMPARE(manager.devices().size(), 2);
    refreshes = 0;
    QCOMPARE(manager.devices().size(), 2);

    QVERIFY(sim.unplug(QStringLiteral("a")));
    QTRY_COMPARE(manager.devices().keys(), QStringList{sim.devicePath("b")});
    QCOMPARE(events.size(), 1);
    DeviceChangeEvent event = events.at(0).at(0).value<DeviceChangeEvent>();
    QCOMPARE(event.kind, DeviceChangeEvent::Removal);
    QCOMPARE(event.path, sim.devicePath("a"));

    QVERIFY(sim.plug(QStringLiteral("a")));
    QTRY_COMPARE(manager.devices().size(), 2);
    event = events.last().at(0).value<DeviceChangeEvent>();
    QCOMPARE(event.kind, DeviceChangeEvent::Arrival);
    QCOMPARE(event.path, sim.devicePath("a"));
    QCOMPARE(event.vendorId, quint16(0x2E3C));
    QCOMPARE(event.productId, quint16(0x0A12));
    QCOMPARE(refreshes, 2);

    // Unplugged and plugged again before the folder is looked at: a new socket
    // under the old name still reads as a removal and an arrival.
    QObject::disconnect(monitor, nullptr, &window, nullptr);
    auto* folder = qobject_cast<DirectoryDeviceMonitor*>(monitor);
    QVERIFY(folder);
    const QByteArray hidden = QFile::encodeName(m_env->path() + QStringLiteral("/replug.sock"));
    const int fd = ::socket(AF_UNIX, SOCK_SEQPACKET, 0);
    QVERIFY(fd >= 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    qstrncpy(address.sun_path, hidden.constData(), sizeof(address.sun_path));
    QCOMPARE(::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof(address)), 0);
    QCOMPARE(::rename(hidden.constData(), QFile::encodeName(sim.devicePath("a")).constData()), 0);
    const int before = events.size();
    folder->rescan();
    ::close(fd);
    QCOMPARE(events.size(), before + 2);
    QCOMPARE(events.at(before).at(0).value<DeviceChangeEvent>().kind, DeviceChangeEvent::Removal);
    QCOMPARE(events.at(before + 1).at(0).value<DeviceChangeEvent>().kind, DeviceChangeEvent::Arrival);
    QCOMPARE(events.at(before + 1).at(0).value<DeviceChangeEvent>().path, sim.devicePath("a"));
}

void TestDeviceLink::refusedReportIsLoggedWithVidPidAndPath()
{
    DevsimDriver sim;
    QVERIFY(sim.start({QStringLiteral("a,fault=refuse")}));
    sim.useAsBackend();
    HIDDevicesManager manager(createHidBackend());
    manager.scanDevices();
    QVERIFY(finishIdentification(manager));
    QCOMPARE(manager.devices().size(), 1);

    LogCapture log;
    const QString expected =
        QStringLiteral("[Error   ] SendHIDDataThread::sendDataToHIDDevice(): >>> Send data to HID "
                       "device fail! reply error.<<<\n VID: 2E3C, PID: A12, Device Path: %1!")
            .arg(sim.devicePath("a"));
    auto sender = makeSender(manager.devices());
    QTRY_VERIFY(log.count(expected) >= 2); // and it is tried again next pass
    QCOMPARE(manager.devices().size(), 1);
}

void TestDeviceLink::misbehavingDeviceNeverHoldsBackAnother_data()
{
    QTest::addColumn<QString>("fault");
    QTest::addColumn<QString>("logged");   // what the faulty device's exchanges log
    QTest::addColumn<int>("faulty");       // how many devices misbehave
    QTest::addColumn<bool>("fromStart");   // misbehaving at identification already
    QTest::addColumn<bool>("whileServed"); // starts misbehaving after it answered the sender
    const auto row = [](const char* name, const char* fault, const char* logged, int faulty, bool fromStart,
                        bool whileServed = false) {
        QTest::newRow(name) << QString::fromLatin1(fault) << QString::fromLatin1(logged) << faulty
                            << fromStart << whileServed;
    };
    row("silent", "silent", "[no answer within 1000 ms]", 1, false);
    row("slow", "slow:900", "", 1, false);
    row("refusing", "refuse", "reply error", 1, false);
    row("dropping", "drop", "[Device disconnected]", 1, false);
    // A write that never ends until the device's time-out, as a hidraw
    // write to a stalled endpoint.
    row("stalled write", "stall", "", 1, false);
    // Unasked reports of every kind, as fast as they are read: each
    // exchange still ends with the first report that comes.
    row("flooding", "flood", "", 1, false);
    row("flooding from the start", "flood", "", 1, true);
    row("silent from the start", "silent", "", 1, true);
    // More stuck devices than a fixed set of workers would have had.
    row("20 silent", "silent", "[no answer within 1000 ms]", 20, false);
    row("20 stalled writes", "stall", "", 20, false);
    // Devices that answered the sender before are written by the sender's
    // own thread: one that gets stuck there must not hold up the others.
    row("stalled write after answering", "stall", "", 1, false, true);
    row("silent after answering", "silent", "[no answer within 1000 ms]", 1, false, true);
    row("20 stalled writes after answering", "stall", "", 20, false, true);
}

void TestDeviceLink::misbehavingDeviceNeverHoldsBackAnother()
{
    QFETCH(QString, fault);
    QFETCH(QString, logged);
    QFETCH(int, faulty);
    QFETCH(bool, fromStart);
    QFETCH(bool, whileServed);
    QStringList names;
    for (int i = 0; i < faulty; ++i)
        names.append(faulty == 1 ? QStringLiteral("a")
                                 : QStringLiteral("a%1").arg(i, 2, 10, QLatin1Char('0')));
    QStringList devices;
    for (const QString& name : qAsConst(names))
        devices.append(fromStart ? name + QStringLiteral(",fault=") + fault : name);
    devices.append(QStringLiteral("b"));
    DevsimDriver sim;
    QVERIFY(sim.start(devices));
    sim.useAsBackend();
    HIDDevicesManager manager(createHidBackend());
    manager.scanDevices();
    QVERIFY(finishIdentification(manager));
    QVERIFY(manager.devices().contains(sim.devicePath(QStringLiteral("b"))));
    std::unique_ptr<SendHIDDataThread> sender;
    if (whileServed) {
        sender = makeSender(manager.devices());
        for (const QString& name : qAsConst(names))
            QVERIFY(sim.waitForReports(name, 3, 5000));
    }
    if (!fromStart) {
        QCOMPARE(manager.devices().size(), faulty + 1);
        for (const QString& name : qAsConst(names))
            sim.setFault(name, fault);
    }

    LogCapture log;
    if (!sender)
        sender = makeSender(manager.devices());
    sim.clearLines();
    QVERIFY(sim.waitForReports(QStringLiteral("b"), 1, 4000));
    // b keeps its pace while the others are stuck in their first exchange:
    // six reports come in well under the 5 s a stalled write lasts, where
    // serving the devices in turn would give b one report per time-out.
    sim.clearLines();
    QVERIFY(sim.waitForReports(QStringLiteral("b"), 6, 4500));
    for (const QString& name : qAsConst(names))
        QVERIFY(sim.reports(name).size() <= 6); // never more than one per period
    if (!logged.isEmpty())
        QTRY_VERIFY(log.count(logged) >= 1);
    // A device stuck in an exchange holds one worker, not one per pass: with
    // 20 stuck devices, a worker per pass would be at the pool's cap by now.
    QVERIFY2(sender->workerThreads() <= 2 * (faulty + 1),
             qPrintable(QString::number(sender->workerThreads())));

    // Shut down while the others' exchanges are under way (for "stall",
    // inside the write).
    QElapsedTimer shutdown;
    shutdown.start();
    sender.reset();
    QVERIFY2(shutdown.elapsed() < 2000, qPrintable(QString::number(shutdown.elapsed())));
}

void TestDeviceLink::pausedSenderSendsNothingUntilResumed()
{
    DevsimDriver sim;
    QVERIFY(sim.start({QStringLiteral("a")}));
    sim.useAsBackend();
    HIDDevicesManager manager(createHidBackend());
    manager.scanDevices();
    QVERIFY(finishIdentification(manager));
    auto sender = makeSender(manager.devices());
    QVERIFY(sim.waitForReports(QStringLiteral("a"), 2));

    sender->pauseSending();
    QTest::qWait(700); // a pass already under way may finish
    sim.clearLines();
    QTest::qWait(1500);
    QCOMPARE(sim.reports().size(), 0);

    sender->resumeSending();
    QVERIFY(sim.waitForReports(QStringLiteral("a"), 2, 3000));
}

void TestDeviceLink::nothingIsSentBeforeFirstPositiveReading()
{
    DevsimDriver sim;
    QVERIFY(sim.start({QStringLiteral("a")}));
    sim.useAsBackend();
    HIDDevicesManager manager(createHidBackend());
    manager.scanDevices();
    QVERIFY(finishIdentification(manager));
    QCOMPARE(manager.devices().size(), 1);

    SendHIDDataThread sender(createHidBackend(), [] { return quint8(16); });
    sender.setDevices(manager.devices());
    sender.onSetHardwareData(reading(QStringLiteral("--"), QStringLiteral("--"), QStringLiteral("--")));
    sender.start();
    QTest::qWait(800);
    sender.onSetHardwareData(reading(QStringLiteral("0"), QStringLiteral("-3"), QStringLiteral("3")));
    QTest::qWait(800);
    QCOMPARE(sim.reports().size(), 0);

    sender.onSetHardwareData(reading(QStringLiteral("--"), QStringLiteral("--"), QStringLiteral("1")));
    QVERIFY(sim.waitForReports(QStringLiteral("a"), 1, 3000));
    // From now on every pass sends, whatever the readings say.
    sender.onSetHardwareData(reading(QStringLiteral("--"), QStringLiteral("--"), QStringLiteral("--")));
    QTest::qWait(600);
    sim.clearLines();
    QVERIFY(sim.waitForReports(QStringLiteral("a"), 1, 3000));
    const DevsimDriver::Report report = sim.reports().first();
    QCOMPARE(report.fan, 0);
    QCOMPARE(report.alarm, 0); // a missing fan reading never alarms
}

void TestDeviceLink::vanishingDeviceGivesErrorsNotACrash()
{
    DevsimDriver sim;
    QVERIFY(sim.start({QStringLiteral("a"), QStringLiteral("b")}));
    sim.useAsBackend();
    HIDDevicesManager manager(createHidBackend());
    manager.scanDevices();
    QVERIFY(finishIdentification(manager));
    QCOMPARE(manager.devices().size(), 2);

    LogCapture log;
    auto sender = makeSender(manager.devices());
    QVERIFY(sim.waitForReports(QStringLiteral("a"), 1));
    sim.setFault(QStringLiteral("a"), QStringLiteral("drop"));
    QTRY_VERIFY(log.count(QStringLiteral("[Device disconnected]")) >= 1);

    QVERIFY(sim.unplug(QStringLiteral("a")));
    const QString openFail =
        QStringLiteral("=== Open HID device fail, path: %1 ===").arg(sim.devicePath("a"));
    QTRY_VERIFY(log.count(openFail) >= 1);
    sim.clearLines();
    QVERIFY(sim.waitForReports(QStringLiteral("b"), 2));

    sim.setFault(QStringLiteral("a"), QStringLiteral("none"));
    QVERIFY(sim.plug(QStringLiteral("a")));
    QVERIFY(sim.waitForReports(QStringLiteral("a"), 1, 3000));
}

void TestDeviceLink::missingDeviceDirectoryFailsNotification()
{
    qputenv("VARNOKS_HID_BACKEND", QByteArray("virtual:") + QFile::encodeName(m_env->path()) + "/absent");
    LogCapture log;
    HIDDevicesManager manager(createHidBackend());
    QObject window;
    QCOMPARE(manager.registerNotify(&window), nullptr);
    QCOMPARE(log.count(QStringLiteral(
                 "HIDDevicesManager::registerNotify(): Register device notification failed. ")),
             1);
    manager.scanDevices();
    QVERIFY(finishIdentification(manager));
    QVERIFY(manager.devices().isEmpty());
    qunsetenv("VARNOKS_HID_BACKEND");
}

void TestDeviceLink::hostileEntriesInTheDeviceFolderAreSkippedWithoutBlocking()
{
    DevsimDriver sim;
    QVERIFY(sim.start({QStringLiteral("good")}));
    const QByteArray dir = QFile::encodeName(sim.directory());
    // A socket whose info file is a FIFO: a plain open() of it would wait
    // for a writer for ever.
    const int fd = ::socket(AF_UNIX, SOCK_SEQPACKET, 0);
    QVERIFY(fd >= 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const QByteArray fifoSocket = dir + "/fifo-info";
    qstrncpy(address.sun_path, fifoSocket.constData(), sizeof(address.sun_path));
    QCOMPARE(::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof(address)), 0);
    QCOMPARE(::listen(fd, 4), 0);
    QCOMPARE(::mkfifo(dir + "/.fifo-info.info", 0600), 0);
    // A FIFO, a folder and a link named like devices, each with a good info file.
    QCOMPARE(::mkfifo(dir + "/fifo", 0600), 0);
    QVERIFY(QDir().mkdir(sim.directory() + QStringLiteral("/folder")));
    QCOMPARE(::symlink(dir + "/good", dir + "/link"), 0);
    for (const char* name : {"fifo", "folder", "link"}) {
        QFile info(sim.directory() + QStringLiteral("/.%1.info").arg(QLatin1String(name)));
        QVERIFY(info.open(QIODevice::WriteOnly));
        info.write("vid=2e3c\npid=a12\nserial=x\n");
    }

    VirtualHidBackend backend(sim.directory());
    const QVector<HidEnumEntry> entries = backend.enumerate();
    QCOMPARE(entries.size(), 1);
    QCOMPARE(entries.first().path, sim.devicePath(QStringLiteral("good")));
    HidOpenError error = HidOpenError::None;
    QVERIFY(!backend.open(sim.devicePath(QStringLiteral("fifo")), &error));
    ::close(fd);
}

QTEST_GUILESS_MAIN(TestDeviceLink)
#include "tst_devicelink.moc"
