#include "device/devicechangeevent.h"
#include "device/virtualhidformat.h"

#include <QtTest>

class TestDeviceChangeEvent : public QObject
{
    Q_OBJECT

private slots:
    void windowsArrivalNames_data();
    void windowsArrivalNames();
    void udevHidIds_data();
    void udevHidIds();
    void virtualDeviceInfoFiles_data();
    void virtualDeviceInfoFiles();
    void virtualDeviceInfoRoundTrips();
    void virtualDeviceNames_data();
    void virtualDeviceNames();
};

void TestDeviceChangeEvent::windowsArrivalNames_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("valid");
    QTest::addColumn<uint>("vendor");
    QTest::addColumn<uint>("product");

    QTest::newRow("supported interface")
        << "\\\\?\\hid#vid_2e3c&pid_0a12&mi_00#7&1a2b3c&0&0000#{4d1e55b2-f16f-11cf-88cb-"
           "001111000030}"
        << true << 0x2E3Cu << 0x0A12u;
    QTest::newRow("other vendor") << "\\\\?\\HID#VID_046D&PID_C52B&MI_01&Col01#8&2&0&0000#{4d1e55b2}" << true
                                  << 0x046Du << 0xC52Bu;
    QTest::newRow("token without underscore is parsed whole")
        << "\\\\?\\HID#2E3C&A12#x" << true << 0x2E3Cu << 0x0A12u;
    QTest::newRow("text after the first underscore only") << "x#VID_PID_12&PID_34#y" << true << 0u << 0x34u;
    QTest::newRow("not hex gives 0") << "x#VID_ZZZZ&PID_0A12#y" << true << 0u << 0x0A12u;
    QTest::newRow("too wide gives 0") << "x#VID_12345&PID_0A12#y" << true << 0u << 0x0A12u;
    QTest::newRow("empty second part") << "x##y" << false << 0u << 0u;
    QTest::newRow("no second part") << "\\\\?\\HID" << false << 0u << 0u;
    QTest::newRow("no product token") << "x#VID_2E3C#y" << false << 0u << 0u;
}

void TestDeviceChangeEvent::windowsArrivalNames()
{
    QFETCH(QString, name);
    QFETCH(bool, valid);
    QFETCH(uint, vendor);
    QFETCH(uint, product);

    const ArrivalName parsed = parseArrivalName(name);
    QCOMPARE(parsed.valid, valid);
    QCOMPARE(parsed.path, name.toUpper());
    if (!valid)
        return;
    QCOMPARE(uint(parsed.vendorId), vendor);
    QCOMPARE(uint(parsed.productId), product);
}

void TestDeviceChangeEvent::udevHidIds_data()
{
    QTest::addColumn<QByteArray>("hidId");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<uint>("vendor");
    QTest::addColumn<uint>("product");
    QTest::newRow("usb") << QByteArray("0003:00002E3C:00000A12") << true << 0x2E3Cu << 0x0A12u;
    QTest::newRow("bluetooth, lower case")
        << QByteArray("0005:0000046d:0000b023") << true << 0x046Du << 0xB023u;
    QTest::newRow("vendor beyond 16 bits") << QByteArray("0003:00012E3C:00000A12") << false << 0u << 0u;
    QTest::newRow("two fields") << QByteArray("0003:00002E3C") << false << 0u << 0u;
    QTest::newRow("sign is not a digit") << QByteArray("0003:+2E3C:00000A12") << false << 0u << 0u;
    QTest::newRow("empty field") << QByteArray("0003::00000A12") << false << 0u << 0u;
    QTest::newRow("overlong") << QByteArray(200, '0') << false << 0u << 0u;
}

void TestDeviceChangeEvent::udevHidIds()
{
    QFETCH(QByteArray, hidId);
    QFETCH(bool, ok);
    QFETCH(uint, vendor);
    QFETCH(uint, product);
    quint16 v = 0xFFFF;
    quint16 p = 0xFFFF;
    QCOMPARE(parseHidId(hidId, &v, &p), ok);
    if (ok) {
        QCOMPARE(uint(v), vendor);
        QCOMPARE(uint(p), product);
    }
}

void TestDeviceChangeEvent::virtualDeviceInfoFiles_data()
{
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<bool>("hasSerial");
    QTest::newRow("with serial") << QByteArray("vid=2e3c\npid=a12\nserial=SIM-1\n") << true << true;
    QTest::newRow("without serial") << QByteArray("vid=2e3c\npid=a12\n") << true << false;
    QTest::newRow("empty serial is still a serial") << QByteArray("vid=1\npid=2\nserial=\n") << true << true;
    QTest::newRow("missing pid") << QByteArray("vid=2e3c\n") << false << false;
    QTest::newRow("unknown key") << QByteArray("vid=1\npid=2\npath=/etc/passwd\n") << false << false;
    QTest::newRow("id too wide") << QByteArray("vid=12e3c\npid=a12\n") << false << false;
    QTest::newRow("repeated key") << QByteArray("vid=1\nvid=2\npid=2\n") << false << false;
    QTest::newRow("control character in serial")
        << QByteArray("vid=1\npid=2\nserial=a\tb\n") << false << false;
    QTest::newRow("oversized") << QByteArray("vid=1\npid=2\n") + QByteArray(5000, '\n') << false << false;
    QTest::newRow("line without key") << QByteArray("vid=1\npid=2\n=x\n") << false << false;
}

void TestDeviceChangeEvent::virtualDeviceInfoFiles()
{
    QFETCH(QByteArray, data);
    QFETCH(bool, ok);
    QFETCH(bool, hasSerial);
    VirtualHid::DeviceIdentity identity;
    QCOMPARE(VirtualHid::parseInfo(data, &identity), ok);
    if (ok)
        QCOMPARE(identity.hasSerial, hasSerial);
}

void TestDeviceChangeEvent::virtualDeviceInfoRoundTrips()
{
    VirtualHid::DeviceIdentity identity;
    identity.vendorId = 0x2E3C;
    identity.productId = 0x0A12;
    identity.hasSerial = true;
    identity.serial = QStringLiteral("Ünïcode-42");
    VirtualHid::DeviceIdentity back;
    QVERIFY(VirtualHid::parseInfo(VirtualHid::formatInfo(identity), &back));
    QCOMPARE(back.vendorId, identity.vendorId);
    QCOMPARE(back.productId, identity.productId);
    QCOMPARE(back.hasSerial, true);
    QCOMPARE(back.serial, identity.serial);
}

void TestDeviceChangeEvent::virtualDeviceNames_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("valid");
    QTest::newRow("plain") << "dev1" << true;
    QTest::newRow("dots and dashes") << "pilot-A.2_b" << true;
    QTest::newRow("hidden") << ".dev1" << false;
    QTest::newRow("parent") << ".." << false;
    QTest::newRow("slash") << "a/b" << false;
    QTest::newRow("comma") << "a,b" << false;
    QTest::newRow("empty") << "" << false;
    QTest::newRow("too long") << QString(65, QLatin1Char('a')) << false;
}

void TestDeviceChangeEvent::virtualDeviceNames()
{
    QFETCH(QString, name);
    QFETCH(bool, valid);
    QCOMPARE(VirtualHid::isValidDeviceName(name), valid);
}

QTEST_GUILESS_MAIN(TestDeviceChangeEvent)
#include "tst_devicechangeevent.moc"
