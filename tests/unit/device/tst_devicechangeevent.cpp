#include "device/backends/hidapibackend.h"
#include "device/backends/udevdevicechange.h"
#include "device/backends/virtualhidformat.h"
#include "device/windows/arrivalname.h"

#include <string>

#include <QtTest>

class TestDeviceChangeEvent : public QObject
{
    Q_OBJECT

private slots:
    void windowsArrivalNames_data();
    void windowsArrivalNames();
    void udevHidIds_data();
    void udevHidIds();
    void udevEvents_data();
    void udevEvents();
    void hidapiEntries_data();
    void hidapiEntries();
    void hidapiListNamesEachPathOnce();
    void hidapiErrorTexts_data();
    void hidapiErrorTexts();
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

void TestDeviceChangeEvent::udevEvents_data()
{
    QTest::addColumn<QByteArrayList>("fields"); // ACTION DEVNAME DEVPATH SUBSYSTEM HID_ID HID_UNIQ
    QTest::addColumn<bool>("ok");
    QTest::addColumn<int>("kind");
    QTest::addColumn<QString>("path");
    QTest::addColumn<uint>("vendor");
    QTest::addColumn<uint>("product");
    QTest::addColumn<QString>("serial");

    const QByteArray devPath =
        "/devices/pci0000:00/0000:00:14.0/usb1/1-2/1-2:1.0/0003:2E3C:0A12.0004/hidraw/hidraw3";
    const QByteArray hidId = "0003:00002E3C:00000A12";
    // Every event taken is about /dev/hidraw3.
    const auto taken = [](const char* name, const QByteArrayList& fields, DeviceChangeEvent::Kind kind,
                          uint vendor, uint product, const char* serial) {
        QTest::newRow(name) << fields << true << int(kind) << QStringLiteral("/dev/hidraw3") << vendor
                            << product << QString::fromUtf8(serial);
    };
    const auto refused = [](const char* name, const QByteArrayList& fields) {
        QTest::newRow(name) << fields << false << 0 << QString() << 0u << 0u << QString();
    };
    const auto arrival = DeviceChangeEvent::Arrival;
    taken("add", {"add", "/dev/hidraw3", devPath, "hidraw", hidId, "4A0031000851"}, arrival, 0x2E3C, 0x0A12,
          "4A0031000851");
    taken("add without serial", {"add", "/dev/hidraw3", devPath, "hidraw", hidId, ""}, arrival, 0x2E3C,
          0x0A12, "");
    taken("ids from DEVPATH when HID_ID is missing", {"add", "/dev/hidraw3", devPath, "hidraw", "", ""},
          arrival, 0x2E3C, 0x0A12, "");
    taken("kernel's own DEVNAME form", {"add", "hidraw3", devPath, "hidraw", hidId, ""}, arrival, 0x2E3C,
          0x0A12, "");
    taken("remove without parent", {"remove", "/dev/hidraw3", devPath, "hidraw", "", ""},
          DeviceChangeEvent::Removal, 0, 0, "");
    const QByteArray uhidPath = "/devices/virtual/misc/uhid/0003:2E3C:0A12.0001/hidraw/hidraw3";
    taken("uhid device, ids from its HID parent's name", {"add", "/dev/hidraw3", uhidPath, "hidraw", "", ""},
          arrival, 0x2E3C, 0x0A12, "");
    taken("uhid device removed, its parent gone", {"remove", "/dev/hidraw3", uhidPath, "hidraw", "", ""},
          DeviceChangeEvent::Removal, 0, 0, "");
    taken("unreadable ids stay 0",
          {"add", "/dev/hidraw3", "/devices/virtual/hidraw/hidraw3", "hidraw", "junk", ""}, arrival, 0, 0,
          "");
    taken("control characters drop the serial",
          {"add", "/dev/hidraw3", devPath, "hidraw", hidId, "a\x1b[2Jb"}, arrival, 0x2E3C, 0x0A12, "");
    refused("change is no arrival", {"change", "/dev/hidraw3", devPath, "hidraw", "", ""});
    refused("other subsystem", {"add", "/dev/input/event5", "/devices/x/input/event5", "input", "", ""});
    refused("DEVPATH of another node",
            {"add", "/dev/hidraw3", "/devices/x/hidraw/hidraw4", "hidraw", "", ""});
    refused("node outside /dev", {"add", "/tmp/hidraw3", "", "hidraw", "", ""});
    refused("climbing out of /dev", {"add", "/dev/../etc/passwd", "", "hidraw", "", ""});
    refused("no DEVNAME", {"add", "", devPath, "hidraw", "", ""});
}

void TestDeviceChangeEvent::udevEvents()
{
    QFETCH(QByteArrayList, fields);
    QFETCH(bool, ok);
    QFETCH(int, kind);
    QFETCH(QString, path);
    QFETCH(uint, vendor);
    QFETCH(uint, product);
    QFETCH(QString, serial);

    UdevHidrawFields in;
    in.action = fields.at(0);
    in.devName = fields.at(1);
    in.devPath = fields.at(2);
    in.subsystem = fields.at(3);
    in.hidId = fields.at(4);
    in.hidUniq = fields.at(5);
    DeviceChangeEvent event;
    QCOMPARE(deviceChangeFromUdev(in, &event), ok);
    if (!ok)
        return;
    QCOMPARE(int(event.kind), kind);
    QCOMPARE(event.path, path);
    QCOMPARE(uint(event.vendorId), vendor);
    QCOMPARE(uint(event.productId), product);
    QCOMPARE(event.serial, serial);
}

void TestDeviceChangeEvent::hidapiEntries_data()
{
    QTest::addColumn<QByteArray>("path"); // null: none
    QTest::addColumn<QString>("serial");  // null: none
    QTest::addColumn<bool>("ok");
    QTest::addColumn<bool>("hasSerial");
    QTest::newRow("with serial") << QByteArray("/dev/hidraw3") << "4A0031" << true << true;
    // hidraw gives an empty string for a device without a serial number
    QTest::newRow("empty serial is none") << QByteArray("/dev/hidraw3") << "" << true << false;
    QTest::newRow("null serial is none") << QByteArray("/dev/hidraw3") << QString() << true << false;
    QTest::newRow("no path") << QByteArray() << "4A0031" << false << false;
    QTest::newRow("empty path") << QByteArray("") << "4A0031" << false << false;
}

void TestDeviceChangeEvent::hidapiEntries()
{
    QFETCH(QByteArray, path);
    QFETCH(QString, serial);
    QFETCH(bool, ok);
    QFETCH(bool, hasSerial);

    const std::wstring wide = serial.toStdWString();
    hid_device_info info = {};
    info.path = path.isNull() ? nullptr : path.data();
    info.vendor_id = 0x2E3C;
    info.product_id = 0x0A12;
    info.serial_number = serial.isNull() ? nullptr : const_cast<wchar_t*>(wide.c_str());
    HidEnumEntry entry;
    QCOMPARE(hidEntryFromInfo(info, &entry), ok);
    if (!ok)
        return;
    QCOMPARE(entry.path, QString::fromLatin1(path));
    QCOMPARE(entry.vendorId, quint16(0x2E3C));
    QCOMPARE(entry.productId, quint16(0x0A12));
    QCOMPARE(entry.hasSerial, hasSerial);
    QCOMPARE(entry.serial, hasSerial ? serial : QString());
}

void TestDeviceChangeEvent::hidapiListNamesEachPathOnce()
{
    // One entry per usage: hidraw3 twice (two top-level collections).
    QByteArray paths[] = {"/dev/hidraw3", "/dev/hidraw1", "/dev/hidraw3"};
    hid_device_info infos[3] = {};
    for (int i = 0; i < 3; ++i) {
        infos[i].path = paths[i].data();
        infos[i].usage = quint16(i + 1);
        infos[i].next = i < 2 ? &infos[i + 1] : nullptr;
    }
    const QVector<HidEnumEntry> entries = hidEntriesFromList(infos);
    QCOMPARE(entries.size(), 2);
    QCOMPARE(entries.at(0).path, QStringLiteral("/dev/hidraw3"));
    QCOMPARE(entries.at(1).path, QStringLiteral("/dev/hidraw1"));
    QVERIFY(hidEntriesFromList(nullptr).isEmpty());
}

void TestDeviceChangeEvent::hidapiErrorTexts_data()
{
    QTest::addColumn<QString>("text"); // null: hid_error gave NULL
    QTest::addColumn<QString>("logged");
    QTest::newRow("nothing recorded") << "Success"
                                      << "";
    QTest::newRow("null") << QString() << "";
    QTest::newRow("real error") << "Broken pipe"
                                << "Broken pipe";
    QTest::newRow("success only as a whole") << "Success: partial"
                                             << "Success: partial";
}

void TestDeviceChangeEvent::hidapiErrorTexts()
{
    QFETCH(QString, text);
    QFETCH(QString, logged);
    const std::wstring wide = text.toStdWString();
    QCOMPARE(hidErrorText(text.isNull() ? nullptr : wide.c_str()), logged);
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
