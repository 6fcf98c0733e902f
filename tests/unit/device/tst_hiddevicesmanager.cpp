#include "device/backends/hidapibackend.h"
#include "device/hiddevicesmanager.h"
#include "device/hidreport.h"
#include "device/sendhiddatathread.h"
#include "fakehidbackend.h"
#include "logcapture.h"
#include "registryroute.h"
#include "standinhidapi.h"
#include "testenv.h"

#include <QSignalSpy>
#include <QtTest>

namespace {
const QByteArray UUID_BYTES = QByteArray::fromHex("0123456789abcdef000a10ff");

FakeHidBackend::Device supported(const QString& path, bool hasSerial = true)
{
    FakeHidBackend::Device device;
    device.entry.path = path;
    device.entry.vendorId = 0x2E3C;
    device.entry.productId = 0x0A12;
    device.entry.hasSerial = hasSerial;
    device.entry.serial = hasSerial ? QStringLiteral("S1") : QString();
    device.replies.append(identifyReply(0x11, 1, 2, 0, 7, UUID_BYTES));
    return device;
}

DeviceChangeEvent arrival(const QString& path, quint16 vid = 0x2E3C, quint16 pid = 0x0A12)
{
    DeviceChangeEvent event;
    event.kind = DeviceChangeEvent::Arrival;
    event.path = path;
    event.vendorId = vid;
    event.productId = pid;
    return event;
}

DeviceChangeEvent removal(const QString& path)
{
    DeviceChangeEvent event;
    event.kind = DeviceChangeEvent::Removal;
    event.path = path;
    return event;
}
} // namespace

class TestHIDDevicesManager : public QObject
{
    Q_OBJECT

private slots:
    void init() { m_env = std::make_unique<TestEnv>(); }
    void cleanup() { m_env.reset(); }

    void everyAnsweringInterfaceGetsItsOwnEntryInPathOrder();
    void unsupportedOrUnopenableInterfaceIsIgnoredSilently_data();
    void unsupportedOrUnopenableInterfaceIsIgnoredSilently();
    void permissionDeniedIsReportedOncePerPath();
    void failedExchangeIsLoggedAndNotRecorded_data();
    void failedExchangeIsLoggedAndNotRecorded();
    void scanSkipsInterfacesWithoutSerialButArrivalTriesThem();
    void knownOrPendingPathStartsNoSecondExchange();
    void answerOfAnInterfaceRemovedMeanwhileIsDropped();
    void removalDropsEntryAndReArrivalRestoresIt();
    void interfaceThatStaysPluggedIsRecordedAfterAnyChurn_data();
    void interfaceThatStaysPluggedIsRecordedAfterAnyChurn();
    void pathsKeepTheirCase();
    void failedMonitorSetupIsLogged();
    void realBackendOnHidrawIdentifiesEachPathOnceAndLogsNoSuccess();

private:
    std::unique_ptr<TestEnv> m_env;
};

void TestHIDDevicesManager::everyAnsweringInterfaceGetsItsOwnEntryInPathOrder()
{
    auto backend = std::make_shared<FakeHidBackend>();
    backend->addDevice(supported(QStringLiteral("/dev/hidraw7")));
    backend->addDevice(supported(QStringLiteral("/dev/hidraw10")));
    FakeHidBackend::Device echoingInterface = supported(QStringLiteral("/dev/hidraw8"));
    echoingInterface.replies = {identifyReply(0x10, 0, 0, 0, 0, QByteArray())};
    backend->addDevice(echoingInterface);

    HIDDevicesManager manager(backend);
    manager.scanDevices();
    QVERIFY(finishIdentification(manager));

    QCOMPARE(manager.devices().keys(), (QStringList{"/dev/hidraw10", "/dev/hidraw7"}));
    const HIDDeviceInfo info = manager.devices().value(QStringLiteral("/dev/hidraw7"));
    QCOMPARE(info.strUUID, QStringLiteral("123456789ABCDEF0A10FF"));
    QCOMPARE(info.strVID, QStringLiteral("2E3C"));
    QCOMPARE(info.strPID, QStringLiteral("A12"));
    QCOMPARE(info.strDevicePath, QStringLiteral("/dev/hidraw7"));
    QCOMPARE(info.strSoftwareVersion, QStringLiteral("1.2"));
    QCOMPARE(info.strHardwareVersion, QStringLiteral("0.7"));

    const QList<QByteArray> written = backend->written(QStringLiteral("/dev/hidraw7"));
    QCOMPARE(written.size(), 1);
    QCOMPARE(written.first().size(), 65);
    QCOMPARE(written.first().left(2).toHex(), QByteArray("1001"));
    QCOMPARE(backend->openHandles(), 0);
}

void TestHIDDevicesManager::unsupportedOrUnopenableInterfaceIsIgnoredSilently_data()
{
    QTest::addColumn<uint>("vendor");
    QTest::addColumn<uint>("product");
    QTest::addColumn<bool>("opens");
    QTest::addColumn<bool>("triedToOpen");
    QTest::newRow("other vendor") << 0x046Du << 0x0A12u << true << false;
    QTest::newRow("other product") << 0x2E3Cu << 0x0A15u << true << false;
    QTest::newRow("cannot be opened") << 0x2E3Cu << 0x0A12u << false << true;
}

void TestHIDDevicesManager::unsupportedOrUnopenableInterfaceIsIgnoredSilently()
{
    QFETCH(uint, vendor);
    QFETCH(uint, product);
    QFETCH(bool, opens);
    QFETCH(bool, triedToOpen);

    auto backend = std::make_shared<FakeHidBackend>();
    FakeHidBackend::Device device = supported(QStringLiteral("/dev/hidraw1"));
    device.entry.vendorId = quint16(vendor);
    device.entry.productId = quint16(product);
    if (!opens)
        device.openError = HidOpenError::Other;
    backend->addDevice(device);

    LogCapture log;
    HIDDevicesManager manager(backend);
    manager.scanDevices();
    QVERIFY(finishIdentification(manager));
    QVERIFY(!manager.handleDeviceChange(arrival(device.entry.path, quint16(vendor), quint16(product))));
    QVERIFY(finishIdentification(manager));

    QVERIFY(manager.devices().isEmpty());
    QCOMPARE(log.count(QStringLiteral("HIDDevicesManager")), 0);
    QCOMPARE(!backend->opened().isEmpty(), triedToOpen);
}

void TestHIDDevicesManager::permissionDeniedIsReportedOncePerPath()
{
    auto backend = std::make_shared<FakeHidBackend>();
    for (const char* path : {"/dev/hidraw-denied-1", "/dev/hidraw-denied-2"}) {
        FakeHidBackend::Device device = supported(QString::fromLatin1(path));
        device.openError = HidOpenError::PermissionDenied;
        backend->addDevice(device);
    }

    LogCapture log;
    HIDDevicesManager manager(backend);
    for (int i = 0; i < 3; ++i) {
        manager.scanDevices();
        QVERIFY(finishIdentification(manager));
    }

    QVERIFY(manager.devices().isEmpty());
    // The two interfaces are identified side by side, so their lines may
    // come in either order.
    const QStringList warnings = log.matching(QStringLiteral("70-varnoks-pilot.rules"));
    QCOMPARE(warnings.size(), 2);
    QCOMPARE(warnings.filter(QStringLiteral("/dev/hidraw-denied-1")).size(), 1);
    QCOMPARE(warnings.filter(QStringLiteral("/dev/hidraw-denied-2")).size(), 1);
    for (const QString& warning : warnings)
        QVERIFY(warning.contains(QStringLiteral("[Warnning] HIDDevicesManager::recognize():")));
}

void TestHIDDevicesManager::failedExchangeIsLoggedAndNotRecorded_data()
{
    QTest::addColumn<bool>("writeFails");
    QTest::addColumn<bool>("readFails");
    QTest::addColumn<QByteArrayList>("replies");
    QTest::addColumn<QString>("message"); // empty: nothing may be logged

    const QString path = QStringLiteral("/dev/hidraw4");
    QTest::newRow("write fails") << true << false << QByteArrayList{}
                                 << QStringLiteral(
                                        "[Warnning] HIDDevicesManager::recognize(): Invalid HID device\uFF01"
                                        "Write data to device fail: fake write error, device path: %1!")
                                        .arg(path);
    QTest::newRow("read fails") << false << true << QByteArrayList{}
                                << QStringLiteral(
                                       "HIDDevicesManager::recognize(): Read HID device data fail: fake "
                                       "read error, device path: %1!")
                                       .arg(path);
    QTest::newRow("no reply in time")
        << false << false << QByteArrayList{}
        << QStringLiteral("Read HID device data fail: no reply within 1000 ms, device "
                          "path: %1!")
               .arg(path);
    QTest::newRow("short reply") << false << false << QByteArrayList{QByteArray::fromHex("1100")}
                                 << QStringLiteral(
                                        "Read HID device data fail: reply of 2 bytes is too short, device "
                                        "path: %1!")
                                        .arg(path);
    QTest::newRow("request id echoed")
        << false << false << QByteArrayList{identifyReply(0x10, 1, 2, 0, 7, UUID_BYTES)} << QString();
    QTest::newRow("zero id") << false << false << QByteArrayList{QByteArray(65, '\0')} << QString();
}

void TestHIDDevicesManager::failedExchangeIsLoggedAndNotRecorded()
{
    QFETCH(bool, writeFails);
    QFETCH(bool, readFails);
    QFETCH(QByteArrayList, replies);
    QFETCH(QString, message);

    auto backend = std::make_shared<FakeHidBackend>();
    FakeHidBackend::Device device = supported(QStringLiteral("/dev/hidraw4"));
    device.writeFails = writeFails;
    device.readFails = readFails;
    device.replies = replies;
    backend->addDevice(device);

    LogCapture log;
    HIDDevicesManager manager(backend);
    QVERIFY(manager.recognize(0x2E3C, 0x0A12, device.entry.path));
    QVERIFY(finishIdentification(manager));
    QVERIFY(manager.devices().isEmpty());
    QCOMPARE(backend->openHandles(), 0);
    if (message.isEmpty()) {
        QCOMPARE(log.count(QStringLiteral("HIDDevicesManager")), 0);
    } else {
        QCOMPARE(log.count(message), 1);
        QCOMPARE(log.count(QStringLiteral("HIDDevicesManager")), 1);
    }
}

void TestHIDDevicesManager::scanSkipsInterfacesWithoutSerialButArrivalTriesThem()
{
    auto backend = std::make_shared<FakeHidBackend>();
    backend->addDevice(supported(QStringLiteral("/dev/hidraw1"), false));
    backend->addDevice(supported(QStringLiteral("/dev/hidraw2"), true));

    HIDDevicesManager manager(backend);
    manager.scanDevices();
    QVERIFY(finishIdentification(manager));
    QCOMPARE(manager.devices().keys(), QStringList{"/dev/hidraw2"});
    QVERIFY(!backend->opened().contains(QStringLiteral("/dev/hidraw1")));

    QVERIFY(!manager.handleDeviceChange(arrival(QStringLiteral("/dev/hidraw1"))));

    QVERIFY(finishIdentification(manager));
    QCOMPARE(manager.devices().keys(), (QStringList{"/dev/hidraw1", "/dev/hidraw2"}));
}

void TestHIDDevicesManager::knownOrPendingPathStartsNoSecondExchange()
{
    auto backend = std::make_shared<FakeHidBackend>();
    FakeHidBackend::Device device = supported(QStringLiteral("/dev/hidraw1"));
    device.replies.append(identifyReply(0x11, 2, 0, 1, 1, QByteArray(12, '\x0A')));
    backend->addDevice(device);
    // hidapi lists an interface once per usage.
    backend->addDevice(device);

    HIDDevicesManager manager(backend);
    manager.scanDevices();
    QVERIFY(!manager.handleDeviceChange(arrival(QStringLiteral("/dev/hidraw1"))));
    QCOMPARE(manager.identifying(), 1);
    QVERIFY(finishIdentification(manager));
    QCOMPARE(manager.devices().size(), 1);
    QVERIFY(!manager.recognize(0x2E3C, 0x0A12, QStringLiteral("/dev/hidraw1")));
    manager.handleDeviceChange(arrival(QStringLiteral("/dev/hidraw1")));
    QCOMPARE(manager.identifying(), 0);
    QCOMPARE(backend->written(QStringLiteral("/dev/hidraw1")).size(), 1);
    QCOMPARE(manager.devices().first().strSoftwareVersion, QStringLiteral("1.2"));
}

void TestHIDDevicesManager::answerOfAnInterfaceRemovedMeanwhileIsDropped()
{
    auto backend = std::make_shared<FakeHidBackend>();
    backend->addDevice(supported(QStringLiteral("/dev/hidraw1")));
    HIDDevicesManager manager(backend);
    QSignalSpy finished(&manager, &HIDDevicesManager::identificationFinished);
    QVERIFY(manager.recognize(0x2E3C, 0x0A12, QStringLiteral("/dev/hidraw1")));
    manager.handleDeviceChange(removal(QStringLiteral("/dev/hidraw1")));
    QVERIFY(finished.wait(5000));
    const DeviceChangeEvent answer = finished.first().first().value<DeviceChangeEvent>();
    QCOMPARE(answer.kind, DeviceChangeEvent::Identified);
    QVERIFY(answer.recognised);
    manager.handleDeviceChange(answer);
    QVERIFY(manager.devices().isEmpty());
}

void TestHIDDevicesManager::removalDropsEntryAndReArrivalRestoresIt()
{
    auto backend = std::make_shared<FakeHidBackend>();
    backend->addDevice(supported(QStringLiteral("/dev/hidraw1")));
    HIDDevicesManager manager(backend);
    manager.scanDevices();
    QVERIFY(finishIdentification(manager));
    QCOMPARE(manager.devices().size(), 1);

    QVERIFY(!manager.handleDeviceChange(removal(QStringLiteral("/dev/hidraw9"))));
    QCOMPARE(manager.devices().size(), 1);
    QVERIFY(!manager.handleDeviceChange(removal(QStringLiteral("/dev/hidraw1"))));
    QVERIFY(manager.devices().isEmpty());

    backend->queueReply(QStringLiteral("/dev/hidraw1"), identifyReply(0x11, 1, 0, 1, 0, UUID_BYTES));
    manager.handleDeviceChange(arrival(QStringLiteral("/dev/hidraw1")));
    QVERIFY(finishIdentification(manager));
    QCOMPARE(manager.devices().keys(), QStringList{"/dev/hidraw1"});
}

void TestHIDDevicesManager::interfaceThatStaysPluggedIsRecordedAfterAnyChurn_data()
{
    // Steps on the interfaces a, b and c, all unplugged at first:
    //   +a / -a          plug / unplug, and the arrival / removal event
    //   again a          a second arrival event for a plugged interface
    //   mute a / unmute a   a gives no answer while muted
    //   hold a / release a  a's answers wait (an identification stays under way)
    //   ~N               N ms pass
    QTest::addColumn<QStringList>("steps");

    const auto row = [](const char* name, const char* steps) {
        QTest::newRow(name) << QString::fromLatin1(steps).split(QLatin1Char(' '));
    };
    row("removal and arrival before the answer is handed back", "+a -a +a");
    row("removal and arrival while the answer is held", "+a hold ~50 -a +a ~50 release");
    row("removal while the answer is held, for good", "+a hold ~50 -a release");
    row("duplicate arrivals while the answer is held", "+a hold again again ~30 release");
    row("no answer at arrival, answers later", "mute +a ~100 unmute");
    row("answer held past the time-out", "+a hold ~1200 release");
    row("no answer through several tries, then answers", "mute +a ~1500 unmute");
    row("unplugged while muted, back answering", "mute +a ~300 -a unmute ~20 +a");
    row("recorded, then out and in again at once", "+a ~200 -a +a");
    row("three flapping", "+a +b ~20 -a +c +a -b ~40 -c +b -a ~10 +c +a -b +b");
    row("three flapping with answers held",
        "+a +b +c hold ~30 -a -b +a ~20 +b release -c ~30 hold -a +c +a ~20 release -b +b");
    row("three flapping with one muted", "+a +b +c mute -a +a -c ~60 +c unmute -b ~30 +b");
}

// hold, release, mute and unmute act on every interface.
void TestHIDDevicesManager::interfaceThatStaysPluggedIsRecordedAfterAnyChurn()
{
    QFETCH(QStringList, steps);
    auto backend = std::make_shared<FakeHidBackend>();
    const QStringList names{"a", "b", "c"};
    const auto pathOf = [](const QString& name) { return QStringLiteral("/dev/hidraw-") + name; };
    for (const QString& name : names) {
        FakeHidBackend::Device device = supported(pathOf(name));
        device.replies.clear();
        device.autoAnswer = identifyReply(0x11, 1, 2, 0, 7, UUID_BYTES);
        device.dataAnswer = QByteArray::fromHex("210101");
        device.present = false;
        backend->addDevice(device);
    }
    HIDDevicesManager manager(backend);
    // The sender serves what the registry records, as in the program, so
    // that its exchanges and the identifications meet on the same paths.
    SendHIDDataThread sender(backend, [] { return quint8(1); });
    COMMON::HardwareInfo reading;
    reading.strCPUTemperature = QStringLiteral("50");
    sender.onSetHardwareData(reading);
    sender.start();
    // The main window's route.
    const auto route = [&manager, &sender](const DeviceChangeEvent& event) {
        const int before = manager.devices().size();
        manager.handleDeviceChange(event);
        if (manager.devices().size() != before)
            sender.setDevices(manager.devices());
    };
    connect(&manager, &HIDDevicesManager::identificationFinished, &manager, route);

    QSet<QString> plugged;
    for (const QString& step : qAsConst(steps)) {
        const QString name = step.mid(1);
        if (step.startsWith(QLatin1Char('+'))) {
            backend->setPresent(pathOf(name), true);
            plugged.insert(pathOf(name));
            route(arrival(pathOf(name)));
        } else if (step.startsWith(QLatin1Char('-'))) {
            backend->setPresent(pathOf(name), false);
            plugged.remove(pathOf(name));
            route(removal(pathOf(name)));
        } else if (step.startsWith(QLatin1Char('~'))) {
            QTest::qWait(name.toInt());
        } else if (step == QLatin1String("again")) {
            route(arrival(pathOf(QStringLiteral("a"))));
        } else {
            for (const QString& each : names) {
                if (step == QLatin1String("hold") || step == QLatin1String("release"))
                    backend->setHeld(pathOf(each), step == QLatin1String("hold"));
                else if (step == QLatin1String("mute") || step == QLatin1String("unmute"))
                    backend->setMuted(pathOf(each), step == QLatin1String("mute"));
                else
                    QFAIL(qPrintable(QStringLiteral("unknown step ") + step));
            }
        }
    }

    // Whatever came before: within 2 s every interface left plugged is
    // recorded, and only those.
    QStringList expected = plugged.values();
    std::sort(expected.begin(), expected.end());
    QTRY_COMPARE_WITH_TIMEOUT(manager.devices().keys(), expected, 2000);
    QTRY_COMPARE(manager.identifying(), 0);
    QCOMPARE(manager.retriesWaiting(), 0);
    // ... and served: each gets data reports again.
    for (const QString& path : qAsConst(expected)) {
        const int before = backend->written(path).size();
        QTRY_VERIFY_WITH_TIMEOUT(backend->written(path).size() >= before + 2, 2000);
    }
    // Never two exchanges on one path at once, identification or report:
    // hidraw would hand each answer to both.
    for (const QString& name : names)
        QVERIFY2(backend->maxOpenAtOnce(pathOf(name)) <= 1, qPrintable(name));
}

void TestHIDDevicesManager::pathsKeepTheirCase()
{
    // Linux paths are case-sensitive: /run/Dev and /run/dev are two devices,
    // and the path opened later must be the one enumerated.
    auto backend = std::make_shared<FakeHidBackend>();
    backend->addDevice(supported(QStringLiteral("/run/Pilot")));
    backend->addDevice(supported(QStringLiteral("/run/pilot")));
    HIDDevicesManager manager(backend);
    manager.scanDevices();
    QVERIFY(finishIdentification(manager));
    QCOMPARE(manager.devices().keys(), (QStringList{"/run/Pilot", "/run/pilot"}));
    QCOMPARE(manager.devices().value(QStringLiteral("/run/Pilot")).strDevicePath,
             QStringLiteral("/run/Pilot"));

    manager.handleDeviceChange(removal(QStringLiteral("/RUN/PILOT")));
    QCOMPARE(manager.devices().size(), 2);
    manager.handleDeviceChange(removal(QStringLiteral("/run/pilot")));
    QCOMPARE(manager.devices().keys(), QStringList{"/run/Pilot"});
}

void TestHIDDevicesManager::failedMonitorSetupIsLogged()
{
    LogCapture log;
    HIDDevicesManager manager(std::make_shared<FakeHidBackend>());
    QObject window;
    QCOMPARE(manager.registerNotify(&window), nullptr);
    QCOMPARE(log.count(QStringLiteral(
                 "[Error   ] HIDDevicesManager::registerNotify(): Register device notification "
                 "failed. ")),
             1);
}

void TestHIDDevicesManager::realBackendOnHidrawIdentifiesEachPathOnceAndLogsNoSuccess()
{
    StandInHidapi::Device display;
    display.path = "/dev/hidraw3";
    display.serial = QStringLiteral("4A0031");
    display.usages = 2; // listed twice
    display.replies = {identifyReply(0x11, 1, 2, 0, 7, UUID_BYTES)};
    StandInHidapi::Device noSerial;
    noSerial.path = "/dev/hidraw4";
    noSerial.replies = display.replies;
    StandInHidapi::Device failing;
    failing.path = "/dev/hidraw5";
    failing.serial = QStringLiteral("X");
    failing.readFails = true;
    StandInHidapi::setDevices({display, noSerial, failing});

    LogCapture log;
    auto backend = std::make_shared<HidapiBackend>();
    HIDDevicesManager manager(backend);
    manager.scanDevices();
    QVERIFY(finishIdentification(manager));
    QCOMPARE(manager.devices().keys(), QStringList{"/dev/hidraw3"});
    QCOMPARE(StandInHidapi::written("/dev/hidraw3").size(), 1);
    QVERIFY(StandInHidapi::written("/dev/hidraw4").isEmpty()); // empty serial: not tried at start
    QCOMPARE(log.count(QStringLiteral("Read HID device data fail: , device path: /dev/hidraw5!")), 1);
    QCOMPARE(log.count(QStringLiteral("Success")), 0);

    // The sender's read failure names no "Success" either.
    HIDDeviceMap devices;
    HIDDeviceInfo info;
    info.strVID = QStringLiteral("2E3C");
    info.strPID = QStringLiteral("A12");
    info.strDevicePath = QStringLiteral("/dev/hidraw5");
    devices.insert(info.strDevicePath, info);
    sendReportsOnce(*backend, HidReport::ReportInputs(), devices, [] { return quint8(1); });
    QCOMPARE(log.count(QStringLiteral(">>> Send data to HID device fail. []! <<<")), 1);
    QCOMPARE(log.count(QStringLiteral("Success")), 0);
    QCOMPARE(StandInHidapi::openDevices(), 0);
}

QTEST_GUILESS_MAIN(TestHIDDevicesManager)
#include "tst_hiddevicesmanager.moc"
