#include "device/backends/virtualhidbackend.h"
#include "device/hidreport.h"
#include "devsimdriver.h"
#include "testenv.h"

#include <QDir>
#include <QElapsedTimer>
#include <QtTest>

#include <fcntl.h>
#include <unistd.h>

// The simulator as the outside sees it: its report lines, its answers and
// faults through the virtual backend, its commands and its clean exit.
class TestDevsim : public QObject
{
    Q_OBJECT

private slots:
    void reportLinesDecodeTheReportBytes_data();
    void reportLinesDecodeTheReportBytes();
    void identityComesFromTheDeviceOptions();
    void enumerationReportsIdsAndSerial();
    void faultsShapeTheAnswers_data();
    void faultsShapeTheAnswers();
    void faultCommandChangesAndClearsTheFault();
    void sessionEndRemovesSockets_data();
    void sessionEndRemovesSockets();
    void badDeviceSpecIsRefused_data();
    void badDeviceSpecIsRefused();
    void uhidModeSaysWhyItCannotRun();
};

namespace {
QByteArray exchange(VirtualHidBackend& backend, const QString& path, const QByteArray& request, int* result,
                    int timeoutMs = 1000)
{
    std::unique_ptr<HidDeviceHandle> device = backend.open(path, nullptr);
    if (!device) {
        *result = -2;
        return QByteArray();
    }
    if (device->write(request) != request.size()) {
        *result = -3;
        return QByteArray();
    }
    QByteArray reply;
    *result = device->read(&reply, 65, timeoutMs);
    return reply;
}
} // namespace

void TestDevsim::reportLinesDecodeTheReportBytes_data()
{
    QTest::addColumn<int>("item");
    QTest::addColumn<int>("unit");
    QTest::addColumn<int>("cpu");
    QTest::addColumn<int>("gpu");
    QTest::addColumn<int>("fan");
    QTest::addColumn<int>("cpuUsage");
    QTest::addColumn<QString>("expected"); // the line after the device name, without raw=

    QTest::newRow("Celsius") << 4 << 0 << 45 << 50 << 1200 << 7
                             << "report item=4 unit=C alarm=0 cpu=45 cpu_usage=7 gpu=50 gpu_usage=0 fan=1200";
    QTest::newRow("Fahrenheit with alarm")
        << 1 << 1 << 45 << 50 << 1200 << 0
        << "report item=1 unit=F alarm=1 cpu=113 cpu_usage=0 gpu=122 gpu_usage=0 "
           "fan=1200";
    QTest::newRow("minus five read as unsigned bytes")
        << 16 << 0 << -5 << 0 << -1 << 0
        << "report item=16 unit=C alarm=0 cpu=251 cpu_usage=0 gpu=0 "
           "gpu_usage=0 fan=0";
    QTest::newRow("big values") << 0 << 0 << 65535 << 256 << 65535 << 255
                                << "report item=0 unit=C alarm=0 cpu=65535 cpu_usage=255 gpu=256 gpu_usage=0 "
                                   "fan=65535";
}

void TestDevsim::reportLinesDecodeTheReportBytes()
{
    QFETCH(int, item);
    QFETCH(int, unit);
    QFETCH(int, cpu);
    QFETCH(int, gpu);
    QFETCH(int, fan);
    QFETCH(int, cpuUsage);
    QFETCH(QString, expected);

    DevsimDriver sim;
    QVERIFY(sim.start({QStringLiteral("d1")}));
    VirtualHidBackend backend(sim.directory());
    HidReport::ReportInputs in;
    in.temperatureUnit = unit;
    in.cpuTemperature = cpu;
    in.gpuTemperature = gpu;
    in.fanRpm = fan;
    in.cpuUsage = cpuUsage;
    const QByteArray report = HidReport::encodeDataReport(quint8(item), in);
    int n = 0;
    const QByteArray answer = exchange(backend, sim.devicePath(QStringLiteral("d1")), report, &n);
    QCOMPARE(n, 64);
    QVERIFY(HidReport::answerAccepted(answer));

    QVERIFY(sim.waitForReports(QStringLiteral("d1"), 1));
    const QString line = sim.lines().last();
    QCOMPARE(line, QStringLiteral("d1 ") + expected + QStringLiteral(" raw=") +
                       QString::fromLatin1(report.toHex()));
}

void TestDevsim::identityComesFromTheDeviceOptions()
{
    DevsimDriver sim;
    QVERIFY(
        sim.start({QStringLiteral("d1,sw=1.2,hw=0.7,uuid=0123456789ABCDEF000A10FF"), QStringLiteral("d2")}));
    VirtualHidBackend backend(sim.directory());
    int n = 0;
    QByteArray reply =
        exchange(backend, sim.devicePath(QStringLiteral("d1")), HidReport::identifyRequest(), &n);
    QCOMPARE(n, 65);
    QCOMPARE(reply.left(18).toHex(), QByteArray("110001020007") + QByteArray("0123456789abcdef000a10ff"));
    reply = exchange(backend, sim.devicePath(QStringLiteral("d2")), HidReport::identifyRequest(), &n);
    QCOMPARE(reply.left(6).toHex(), QByteArray("110001000100")); // versions 1.0 and 1.0
    QVERIFY(sim.waitFor([&] { return sim.identifyCount(QStringLiteral("d1")) == 1; }));
    QCOMPARE(sim.identifyCount(QStringLiteral("d2")), 1);
}

void TestDevsim::enumerationReportsIdsAndSerial()
{
    DevsimDriver sim;
    QVERIFY(sim.start({QStringLiteral("b,serial=none"), QStringLiteral("a,serial=XY-12"),
                       QStringLiteral("c,vid=46d,pid=C52B")}));
    VirtualHidBackend backend(sim.directory());
    const QVector<HidEnumEntry> entries = backend.enumerate();
    QCOMPARE(entries.size(), 3);
    QCOMPARE(entries.at(0).path, sim.devicePath(QStringLiteral("a")));
    QVERIFY(entries.at(0).hasSerial);
    QCOMPARE(entries.at(0).serial, QStringLiteral("XY-12"));
    QCOMPARE(entries.at(0).vendorId, quint16(0x2E3C));
    QCOMPARE(entries.at(0).productId, quint16(0x0A12));
    QVERIFY(!entries.at(1).hasSerial);
    QCOMPARE(entries.at(2).vendorId, quint16(0x046D));
    QCOMPARE(entries.at(2).productId, quint16(0xC52B));
}

void TestDevsim::faultsShapeTheAnswers_data()
{
    QTest::addColumn<QString>("fault");
    QTest::addColumn<bool>("identify");     // the request sent: identification or data
    QTest::addColumn<int>("result");        // what the read returns
    QTest::addColumn<QByteArray>("prefix"); // leading answer bytes; data answers echo the item (1)

    QTest::newRow("refuse data") << "refuse" << false << 64 << QByteArray::fromHex("210100");
    QTest::newRow("refuse still identifies") << "refuse" << true << 65 << QByteArray::fromHex("11");
    QTest::newRow("silent") << "silent" << true << 0 << QByteArray();
    QTest::newRow("wrong id") << "wrong-id" << true << 65 << QByteArray::fromHex("10");
    QTest::newRow("wrong id acks data") << "wrong-id" << false << 64 << QByteArray::fromHex("210101");
    QTest::newRow("short") << "short" << false << 2 << QByteArray::fromHex("2101");
    QTest::newRow("drop") << "drop" << false << -1 << QByteArray();
    QTest::newRow("slow within time") << "slow:200" << false << 64 << QByteArray::fromHex("210101");
    QTest::newRow("slow past time-out") << "slow:1500" << false << 0 << QByteArray();
    QTest::newRow("mute still identifies") << "mute" << true << 65 << QByteArray::fromHex("11");
    QTest::newRow("mute data") << "mute" << false << 0 << QByteArray();
    // Nothing is read from a stalled device: the write itself fails at its
    // time-out, and the simulator prints nothing.
    QTest::newRow("stall") << "stall" << false << -3 << QByteArray();
    // Whatever comes first, of the unasked reports or the answer, is one
    // whole report; the rest keep coming without being asked for.
    QTest::newRow("flood") << "flood" << true << 65 << QByteArray();
}

void TestDevsim::faultsShapeTheAnswers()
{
    QFETCH(QString, fault);
    QFETCH(bool, identify);
    QFETCH(int, result);
    QFETCH(QByteArray, prefix);

    DevsimDriver sim;
    QVERIFY(sim.start({QStringLiteral("d,fault=") + fault}));
    VirtualHidBackend backend(sim.directory());
    const QByteArray request =
        identify ? HidReport::identifyRequest() : HidReport::encodeDataReport(1, HidReport::ReportInputs());
    int n = 0;
    const QByteArray reply = exchange(backend, sim.devicePath(QStringLiteral("d")), request, &n);
    QCOMPARE(n, result);
    QCOMPARE(reply.left(prefix.size()).toHex(), prefix.toHex());
    if (fault == QLatin1String("flood")) {
        std::unique_ptr<HidDeviceHandle> device = backend.open(sim.devicePath(QStringLiteral("d")), nullptr);
        QVERIFY(device);
        QSet<int> ids;
        QByteArray report;
        for (int i = 0; i < 40 && device->read(&report, 65, 1000) == 65; ++i)
            ids.insert(quint8(report.at(0)));
        QCOMPARE(ids, (QSet<int>{0x00, 0x11, 0x21, 0x7F}));
        sim.setFault(QStringLiteral("d"), QStringLiteral("none"));
        device.reset();
        // Healed, a new connection gets its answer and nothing else.
        QVERIFY(sim.waitFor([&] {
            device = backend.open(sim.devicePath(QStringLiteral("d")), nullptr);
            return device && device->read(&report, 65, 300) == 0;
        }));
    }
    // The request is printed whatever the fault does to the answer, once read.
    QVERIFY(sim.waitFor([&] { return sim.lines().size() == (fault == QLatin1String("stall") ? 0 : 1); }));
}

void TestDevsim::faultCommandChangesAndClearsTheFault()
{
    DevsimDriver sim;
    QVERIFY(sim.start({QStringLiteral("d")}));
    VirtualHidBackend backend(sim.directory());
    const QByteArray report = HidReport::encodeDataReport(1, HidReport::ReportInputs());
    int n = 0;
    QVERIFY(HidReport::answerAccepted(exchange(backend, sim.devicePath(QStringLiteral("d")), report, &n)));

    sim.setFault(QStringLiteral("d"), QStringLiteral("refuse"));
    QVERIFY(sim.waitFor([&] {
        return !HidReport::answerAccepted(exchange(backend, sim.devicePath(QStringLiteral("d")), report, &n));
    }));
    sim.setFault(QStringLiteral("d"), QStringLiteral("none"));
    QVERIFY(sim.waitFor([&] {
        return HidReport::answerAccepted(exchange(backend, sim.devicePath(QStringLiteral("d")), report, &n));
    }));
    QVERIFY(sim.unplug(QStringLiteral("d")));
    QVERIFY(!backend.open(sim.devicePath(QStringLiteral("d")), nullptr));
    QVERIFY(sim.plug(QStringLiteral("d")));
    QVERIFY(HidReport::answerAccepted(exchange(backend, sim.devicePath(QStringLiteral("d")), report, &n)));
    QVERIFY(sim.errorOutput().isEmpty());
}

void TestDevsim::sessionEndRemovesSockets_data()
{
    QTest::addColumn<int>("how");
    QTest::newRow("end of input") << 0;
    QTest::newRow("SIGTERM") << 1;
    QTest::newRow("quit command") << 2;
}

void TestDevsim::sessionEndRemovesSockets()
{
    QFETCH(int, how);
    DevsimDriver sim;
    QVERIFY(sim.start({QStringLiteral("a"), QStringLiteral("b,serial=none")}));
    QCOMPARE(QDir(sim.directory())
                 .entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot)
                 .size(),
             4);
    if (how == 0) {
        QVERIFY(sim.stop());
    } else if (how == 1) {
        QVERIFY(sim.terminate());
    } else {
        sim.command(QStringLiteral("quit"));
        QVERIFY(sim.waitFor([&] { return !sim.isRunning(); }));
        QVERIFY(sim.stop());
    }
    QCOMPARE(QDir(sim.directory())
                 .entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot),
             QStringList());
}

void TestDevsim::badDeviceSpecIsRefused_data()
{
    QTest::addColumn<QString>("spec");
    QTest::newRow("vid not hex") << "a,vid=XYZ";
    QTest::newRow("pid too wide") << "a,pid=12345";
    QTest::newRow("version without minor") << "a,sw=1";
    QTest::newRow("version over 255") << "a,hw=1.256";
    QTest::newRow("uuid too short") << "a,uuid=0123";
    QTest::newRow("uuid not hex") << "a,uuid=0123456789abcdef000a10fg";
    QTest::newRow("unknown fault") << "a,fault=explode";
    QTest::newRow("unknown option") << "a,colour=red";
    QTest::newRow("name leaves the directory") << "../a";
    QTest::newRow("hidden name") << ".a";
}

void TestDevsim::badDeviceSpecIsRefused()
{
    QFETCH(QString, spec);
    QTemporaryDir dir;
    QProcess process;
    process.start(TestEnv::binPath(QStringLiteral("varnoks-devsim")),
                  {QStringLiteral("--dir"), dir.path() + QStringLiteral("/devs"), spec});
    QVERIFY(process.waitForFinished(5000));
    QCOMPARE(process.exitCode(), 2);
    QVERIFY(!process.readAllStandardError().isEmpty());
    QVERIFY(!QFileInfo::exists(dir.path() + QStringLiteral("/devs")));
}

void TestDevsim::uhidModeSaysWhyItCannotRun()
{
    const QString devsim = TestEnv::binPath(QStringLiteral("varnoks-devsim"));
    QTemporaryDir dir;
    QProcess both;
    both.start(devsim, {QStringLiteral("--uhid"), QStringLiteral("--dir"), dir.path(), QStringLiteral("a")});
    QVERIFY(both.waitForFinished(5000));
    QCOMPARE(both.exitCode(), 2);
    QVERIFY(both.readAllStandardError().contains("usage"));

    // Where HID devices can be made, the guest test on the real kernel
    // shows what this mode does.
    const int fd = ::open("/dev/uhid", O_RDWR | O_CLOEXEC);
    if (fd >= 0) {
        ::close(fd);
        QSKIP("/dev/uhid can be opened here; the failure cannot be shown");
    }
    QProcess process;
    process.start(devsim, {QStringLiteral("--uhid"), QStringLiteral("a")});
    QVERIFY(process.waitForFinished(5000));
    QCOMPARE(process.exitCode(), 1);
    const QByteArray error = process.readAllStandardError();
    QVERIFY2(error.startsWith("varnoks-devsim: cannot open /dev/uhid: "), error.constData());
}

QTEST_GUILESS_MAIN(TestDevsim)
#include "tst_devsim.moc"
