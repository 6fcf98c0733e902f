#include "app/common.h"
#include "device/sendhiddatathread.h"
#include "fakehidbackend.h"
#include "logcapture.h"
#include "testenv.h"

#include <QtTest>

#include <atomic>

namespace {
HIDDeviceInfo deviceInfo(const QString& path)
{
    HIDDeviceInfo info;
    info.strVID = QStringLiteral("2E3C");
    info.strPID = QStringLiteral("A12");
    info.strDevicePath = path;
    return info;
}

FakeHidBackend::Device fakeDevice(const QString& path)
{
    FakeHidBackend::Device device;
    device.entry.path = path;
    return device;
}

QByteArray acceptingAnswer()
{
    QByteArray answer(64, '\0');
    answer[0] = 0x21;
    answer[2] = 1;
    return answer;
}

COMMON::HardwareInfo reading(const QString& cpu, const QString& gpu, const QString& fan)
{
    COMMON::HardwareInfo info;
    info.strCPUTemperature = cpu;
    info.strGPUTemperature = gpu;
    info.strFanRpm = fan;
    return info;
}
} // namespace

class TestSendHIDDataThread : public QObject
{
    Q_OBJECT

private slots:
    void init() { m_env = std::make_unique<TestEnv>(); }
    void cleanup() { m_env.reset(); }

    void failuresAreLoggedPerDevice_data();
    void failuresAreLoggedPerDevice();
    void failingDeviceDoesNotStopThePass();
    void itemIsReadAfreshForEveryDevice();
    void cancelledPassStopsBeforeNextDevice();
    void settingChangesReachTheNextReport_data();
    void settingChangesReachTheNextReport();
    void deviceThatTimedOutQueuesBehindWhenEveryWorkerIsStuck();

private:
    std::unique_ptr<TestEnv> m_env;
};

void TestSendHIDDataThread::failuresAreLoggedPerDevice_data()
{
    QTest::addColumn<int>("openError");
    QTest::addColumn<bool>("writeFails");
    QTest::addColumn<bool>("readFails");
    QTest::addColumn<QByteArrayList>("answers");
    QTest::addColumn<QString>("message"); // empty: nothing logged
    QTest::addColumn<int>("acknowledged");

    const QString tail = QStringLiteral("\n VID: 2E3C, PID: A12, Device Path: /dev/hidraw5!");
    QTest::newRow("accepted") << int(HidOpenError::None) << false << false
                              << QByteArrayList{acceptingAnswer()} << QString() << 1;
    QTest::newRow("cannot open") << int(HidOpenError::Other) << false << false << QByteArrayList{}
                                 << QStringLiteral(
                                        "[Error   ] SendHIDDataThread::sendDataToHIDDevice(): === Open HID "
                                        "device fail, path: /dev/hidraw5 ===")
                                 << 0;
    QTest::newRow("write fails silently")
        << int(HidOpenError::None) << true << false << QByteArrayList{} << QString() << 0;
    QTest::newRow("read fails") << int(HidOpenError::None) << false << true << QByteArrayList{}
                                << QStringLiteral(
                                       "SendHIDDataThread::sendDataToHIDDevice(): >>> Send data to HID "
                                       "device fail. [fake read error]! <<<") +
                                       tail
                                << 0;
    QTest::newRow("no answer in time")
        << int(HidOpenError::None) << false << false << QByteArrayList{}
        << QStringLiteral(">>> Send data to HID device fail. [no answer within 1000 "
                          "ms]! <<<") +
               tail
        << 0;
    QTest::newRow("refused") << int(HidOpenError::None) << false << false
                             << QByteArrayList{QByteArray(64, '\0')}
                             << QStringLiteral(
                                    "[Error   ] SendHIDDataThread::sendDataToHIDDevice(): >>> Send data to "
                                    "HID device fail! reply error.<<<") +
                                    tail
                             << 0;
    QTest::newRow("short answer counts as refused")
        << int(HidOpenError::None) << false << false << QByteArrayList{QByteArray::fromHex("2101")}
        << QStringLiteral(">>> Send data to HID device fail! reply error.<<<") + tail << 0;
}

void TestSendHIDDataThread::failuresAreLoggedPerDevice()
{
    QFETCH(int, openError);
    QFETCH(bool, writeFails);
    QFETCH(bool, readFails);
    QFETCH(QByteArrayList, answers);
    QFETCH(QString, message);
    QFETCH(int, acknowledged);

    const QString path = QStringLiteral("/dev/hidraw5");
    FakeHidBackend backend;
    FakeHidBackend::Device device = fakeDevice(path);
    device.openError = HidOpenError(openError);
    device.writeFails = writeFails;
    device.readFails = readFails;
    device.replies = answers;
    backend.addDevice(device);

    LogCapture log;
    HIDDeviceMap devices;
    devices.insert(path, deviceInfo(path));
    const SendPassResult result =
        sendReportsOnce(backend, HidReport::ReportInputs(), devices, [] { return 1; });
    QCOMPARE(result.nAcknowledged, acknowledged);
    QCOMPARE(backend.openHandles(), 0);
    if (message.isEmpty()) {
        QCOMPARE(log.count(QStringLiteral("SendHIDDataThread")), 0);
    } else {
        QCOMPARE(log.count(QStringLiteral("SendHIDDataThread")), 1);
        QCOMPARE(log.count(message), 1);
    }
}

void TestSendHIDDataThread::failingDeviceDoesNotStopThePass()
{
    FakeHidBackend backend;
    FakeHidBackend::Device broken = fakeDevice(QStringLiteral("/dev/a"));
    broken.readFails = true;
    backend.addDevice(broken);
    FakeHidBackend::Device unopenable = fakeDevice(QStringLiteral("/dev/b"));
    unopenable.openError = HidOpenError::Other;
    backend.addDevice(unopenable);
    FakeHidBackend::Device good = fakeDevice(QStringLiteral("/dev/c"));
    good.replies = {acceptingAnswer()};
    backend.addDevice(good);

    HIDDeviceMap devices;
    for (const char* path : {"/dev/c", "/dev/b", "/dev/a"})
        devices.insert(QString::fromLatin1(path), deviceInfo(QString::fromLatin1(path)));
    const SendPassResult result =
        sendReportsOnce(backend, HidReport::ReportInputs(), devices, [] { return 4; });
    QCOMPARE(result.nOpened, 2);
    QCOMPARE(result.nAcknowledged, 1);
    QCOMPARE(backend.opened(), (QStringList{"/dev/a", "/dev/b", "/dev/c"}));
    QCOMPARE(backend.written(QStringLiteral("/dev/c")).size(), 1);
}

void TestSendHIDDataThread::itemIsReadAfreshForEveryDevice()
{
    FakeHidBackend backend;
    HIDDeviceMap devices;
    for (const char* path : {"/dev/a", "/dev/b", "/dev/c"}) {
        backend.addDevice(fakeDevice(QString::fromLatin1(path)));
        devices.insert(QString::fromLatin1(path), deviceInfo(QString::fromLatin1(path)));
    }
    quint8 next = 1;
    sendReportsOnce(backend, HidReport::ReportInputs(), devices, [&next] {
        const quint8 item = next;
        next = quint8(next << 2);
        return item;
    });
    QCOMPARE(int(backend.written(QStringLiteral("/dev/a")).first().at(1)), 1);
    QCOMPARE(int(backend.written(QStringLiteral("/dev/b")).first().at(1)), 4);
    QCOMPARE(int(backend.written(QStringLiteral("/dev/c")).first().at(1)), 16);
}

void TestSendHIDDataThread::cancelledPassStopsBeforeNextDevice()
{
    FakeHidBackend backend;
    HIDDeviceMap devices;
    for (const char* path : {"/dev/a", "/dev/b", "/dev/c"}) {
        backend.addDevice(fakeDevice(QString::fromLatin1(path)));
        devices.insert(QString::fromLatin1(path), deviceInfo(QString::fromLatin1(path)));
    }
    int served = 0;
    sendReportsOnce(
        backend, HidReport::ReportInputs(), devices,
        [&served] {
            ++served;
            return quint8(1);
        },
        [&served] { return served >= 2; });
    QCOMPARE(backend.opened(), (QStringList{"/dev/a", "/dev/b"}));
}

void TestSendHIDDataThread::settingChangesReachTheNextReport_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("value");
    QTest::addColumn<int>("item");
    QTest::addColumn<QByteArray>("head"); // bytes 0..12 of the report after the change

    // Readings: CPU 40, GPU 50, fan 250.
    QTest::newRow("unit to Fahrenheit") << COMMON::KEY_TEMPERATURE_UNIT << "1" << 1
                                        << QByteArray::fromHex("20 01 01 01 00 0068 00 007a 00 00fa");
    QTest::newRow("cpu alarm lowered") << COMMON::KEY_CPU_TEMP_ALARM << "40" << 1
                                       << QByteArray::fromHex("20 01 00 01 00 0028 00 0032 00 00fa");
    QTest::newRow("gpu alarm lowered") << COMMON::KEY_GPU_TEMP_ALARM << "50" << 4
                                       << QByteArray::fromHex("20 04 00 04 00 0028 00 0032 00 00fa");
    QTest::newRow("fan alarm lowered") << COMMON::KEY_FAN_RPM_ALARM << "249" << 16
                                       << QByteArray::fromHex("20 10 00 00 00 0028 00 0032 00 00fa");
    QTest::newRow("usage alarm to zero") << COMMON::KEY_USAGE_RATE_ALARM << "0" << 2
                                         << QByteArray::fromHex("20 02 00 02 00 0028 00 0032 00 00fa");
    // A hand-edited value that is no number, or out of range, reads as the
    // default (90), not as 0, which would put every CPU report in alarm.
    QTest::newRow("junk alarm is the default") << COMMON::KEY_CPU_TEMP_ALARM << "hot" << 1
                                               << QByteArray::fromHex("20 01 00 00 00 0028 00 0032 00 00fa");
    QTest::newRow("alarm beyond int range is the default")
        << COMMON::KEY_CPU_TEMP_ALARM << "4294967301" << 1
        << QByteArray::fromHex("20 01 00 00 00 0028 00 0032 00 00fa");
    QTest::newRow("key compared case-sensitively")
        << "Temperature Unit"
        << "1" << 1 << QByteArray::fromHex("20 01 00 00 00 0028 00 0032 00 00fa");
    QTest::newRow("unknown key") << "display fan rpm"
                                 << "0" << 16 << QByteArray::fromHex("20 10 00 10 00 0028 00 0032 00 00fa");
}

void TestSendHIDDataThread::settingChangesReachTheNextReport()
{
    QFETCH(QString, name);
    QFETCH(QString, value);
    QFETCH(int, item);
    QFETCH(QByteArray, head);

    const QString path = QStringLiteral("/dev/hidraw1");
    auto backend = std::make_shared<FakeHidBackend>();
    backend->addDevice(fakeDevice(path));
    HIDDeviceMap devices;
    devices.insert(path, deviceInfo(path));

    std::atomic<int> shown{item};
    SendHIDDataThread sender(backend, [&shown] { return quint8(shown.load()); });
    sender.onSettingValueChanged(name, value);
    sender.onSetHardwareData(reading("40.2", "50", "250"));
    sender.setDevices(devices);
    sender.start();
    QTRY_VERIFY_WITH_TIMEOUT(!backend->written(path).isEmpty(), 3000);
    QCOMPARE(backend->written(path).first().left(13).toHex(' '), head.toHex(' '));
}

void TestSendHIDDataThread::deviceThatTimedOutQueuesBehindWhenEveryWorkerIsStuck()
{
    // Every worker of the pool stuck in a write to a stalled device; "late"
    // never answers, so its exchanges run into the time-out; "flaky" answers
    // until its reads start failing, after late's next exchange is queued.
    // When one worker comes free, flaky (whose failure was no time-out) goes
    // first although it queued later.
    auto backend = std::make_shared<FakeHidBackend>();
    const QString late = QStringLiteral("/dev/a-late");
    const QString flaky = QStringLiteral("/dev/b-flaky");
    HIDDeviceMap devices;
    FakeHidBackend::Device device = fakeDevice(late);
    backend->addDevice(device);
    device = fakeDevice(flaky);
    device.dataAnswer = acceptingAnswer();
    backend->addDevice(device);
    QStringList stalled;
    for (int i = 0; i < SendHIDDataThread::MAX_WORKERS; ++i) {
        stalled.append(QStringLiteral("/dev/s%1").arg(i, 2, 10, QLatin1Char('0')));
        device = fakeDevice(stalled.last());
        device.writeBlocks = true;
        backend->addDevice(device);
    }
    for (const QString& path : QStringList{late, flaky} + stalled)
        devices.insert(path, deviceInfo(path));

    SendHIDDataThread sender(backend, [] { return quint8(1); });
    sender.onSetHardwareData(reading("40", "50", "1200"));
    sender.setDevices(devices);
    sender.start();
    // The pool is full once every stalled device is inside its write.
    QTRY_COMPARE_WITH_TIMEOUT(backend->openHandles(), SendHIDDataThread::MAX_WORKERS + 2, 3000);
    // late's first exchange times out after 1 s; its second one queues.
    QTRY_VERIFY_WITH_TIMEOUT(backend->written(flaky).size() >= 5, 5000);
    QCOMPARE(backend->written(late).size(), 1);
    backend->setReadFails(flaky, true);
    const int flakyBefore = backend->written(flaky).size();
    QTest::qWait(1200); // flaky's failure is seen and its next exchange queues
    QCOMPARE(backend->written(flaky).size(), flakyBefore);
    QCOMPARE(backend->written(late).size(), 1);

    backend->setWriteBlocks(stalled.first(), false);
    QTRY_VERIFY_WITH_TIMEOUT(backend->written(late).size() >= 2, 3000);
    const QStringList order = backend->writeOrder();
    QVERIFY(order.lastIndexOf(flaky) < order.lastIndexOf(late));
    // One worker went round: flaky's report came before late's.
    QCOMPARE(order.mid(order.size() - 2), (QStringList{flaky, late}));
    for (const QString& path : qAsConst(stalled))
        backend->setWriteBlocks(path, false);
}

QTEST_GUILESS_MAIN(TestSendHIDDataThread)
#include "tst_sendhiddatathread.moc"
