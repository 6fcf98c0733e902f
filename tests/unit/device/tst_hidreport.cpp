#include "device/hidreport.h"
#include "sensors/hardwareinfo.h"

#include <QtTest>

#include <limits>

using namespace HidReport;
using COMMON::fanReadingToInt;
using COMMON::readingToInt;

class TestHidReport : public QObject
{
    Q_OBJECT

private slots:
    void dataReportBytes_data();
    void dataReportBytes();
    void dataReportTailIsZero();
    void wordsAreWrittenHighByteFirst_data();
    void wordsAreWrittenHighByteFirst();
    void identifyRequestIsReportTenCommandOne();
    void identifyReplyDecoding_data();
    void identifyReplyDecoding();
    void unpaddedHexIds_data();
    void unpaddedHexIds();
    void answerAcknowledgement_data();
    void answerAcknowledgement();
    void readingTexts_data();
    void readingTexts();
};

// Columns: the reading texts as the sensor reader hands them over, the
// temperature unit, the alarm thresholds, the item shown, and the first 13
// bytes of the report in hex.
void TestHidReport::dataReportBytes_data()
{
    QTest::addColumn<QString>("cpu");
    QTest::addColumn<QString>("gpu");
    QTest::addColumn<QString>("fan");
    QTest::addColumn<QString>("cpuUsage");
    QTest::addColumn<QString>("gpuUsage");
    QTest::addColumn<int>("unit");
    QTest::addColumn<int>("cpuAlarm");
    QTest::addColumn<int>("fanAlarm");
    QTest::addColumn<int>("item");
    QTest::addColumn<QByteArray>("head");

    //                                                               id it un al 00 cpu  cu gpu  gu fan
    QTest::newRow("45.7 in Celsius") << "45.7"
                                     << "50"
                                     << "1000"
                                     << ""
                                     << "" << 0 << 90 << 300 << 4
                                     << QByteArray::fromHex("20 04 00 00 00 002d 00 0032 00 03e8");
    QTest::newRow("45.7 in Fahrenheit")
        << "45.7"
        << "50"
        << "1000"
        << ""
        << "" << 1 << 90 << 300 << 4 << QByteArray::fromHex("20 04 01 04 00 0071 00 007a 00 03e8");
    QTest::newRow("any non-zero unit is Fahrenheit")
        << "0"
        << "0"
        << "1"
        << ""
        << "" << 7 << 90 << 300 << 1 << QByteArray::fromHex("20 01 01 00 00 0020 00 0020 00 0001");
    QTest::newRow("minus five") << "-5"
                                << "0"
                                << "1"
                                << ""
                                << "" << 0 << 90 << 300 << 1
                                << QByteArray::fromHex("20 01 00 00 00 00fb 00 0000 00 0001");
    QTest::newRow("fan 1200") << "40"
                              << "40"
                              << "1200"
                              << ""
                              << "" << 0 << 90 << 300 << 16
                              << QByteArray::fromHex("20 10 00 00 00 0028 00 0028 00 04b0");
    QTest::newRow("fan missing sent as 0, never alarms")
        << "40"
        << "40"
        << "--"
        << ""
        << "" << 0 << 90 << 300 << 16 << QByteArray::fromHex("20 10 00 00 00 0028 00 0028 00 0000");
    QTest::newRow("cpu at alarm") << "90"
                                  << "40"
                                  << "1200"
                                  << ""
                                  << "" << 0 << 90 << 300 << 1
                                  << QByteArray::fromHex("20 01 00 01 00 005a 00 0028 00 04b0");
    QTest::newRow("cpu below alarm") << "89.9"
                                     << "40"
                                     << "1200"
                                     << ""
                                     << "" << 0 << 90 << 300 << 1
                                     << QByteArray::fromHex("20 01 00 00 00 0059 00 0028 00 04b0");
    QTest::newRow("Fahrenheit compared in Fahrenheit")
        << "40"
        << "40"
        << "1200"
        << ""
        << "" << 1 << 90 << 300 << 1 << QByteArray::fromHex("20 01 01 01 00 0068 00 0068 00 04b0");
    QTest::newRow("hot cpu does not alarm the gpu item")
        << "95"
        << "40"
        << "1200"
        << ""
        << "" << 0 << 90 << 300 << 4 << QByteArray::fromHex("20 04 00 00 00 005f 00 0028 00 04b0");
    QTest::newRow("gpu at alarm") << "40"
                                  << "90"
                                  << "1200"
                                  << ""
                                  << "" << 0 << 90 << 300 << 4
                                  << QByteArray::fromHex("20 04 00 04 00 0028 00 005a 00 04b0");
    QTest::newRow("stopped fan alarms")
        << "40"
        << "40"
        << "0"
        << ""
        << "" << 0 << 90 << 300 << 16 << QByteArray::fromHex("20 10 00 10 00 0028 00 0028 00 0000");
    QTest::newRow("fan at threshold alarms")
        << "40"
        << "40"
        << "300"
        << ""
        << "" << 0 << 90 << 300 << 16 << QByteArray::fromHex("20 10 00 10 00 0028 00 0028 00 012c");
    QTest::newRow("fan just above threshold")
        << "40"
        << "40"
        << "301"
        << ""
        << "" << 0 << 90 << 300 << 16 << QByteArray::fromHex("20 10 00 00 00 0028 00 0028 00 012d");
    QTest::newRow("usage items and bytes")
        << "40"
        << "40"
        << "900"
        << "95"
        << "94" << 0 << 90 << 300 << 2 << QByteArray::fromHex("20 02 00 02 00 0028 5f 0028 5e 0384");
    QTest::newRow("gpu usage below alarm")
        << "40"
        << "40"
        << "900"
        << "95"
        << "94" << 0 << 90 << 300 << 8 << QByteArray::fromHex("20 08 00 00 00 0028 5f 0028 5e 0384");
    QTest::newRow("item 0 never alarms")
        << "99"
        << "99"
        << "0"
        << ""
        << "" << 0 << 90 << 300 << 0 << QByteArray::fromHex("20 00 00 00 00 0063 00 0063 00 0000");
    QTest::newRow("unknown item never alarms")
        << "99"
        << "99"
        << "0"
        << ""
        << "" << 0 << 90 << 300 << 32 << QByteArray::fromHex("20 20 00 00 00 0063 00 0063 00 0000");
    QTest::newRow("changed thresholds")
        << "70"
        << "40"
        << "600"
        << ""
        << "" << 0 << 70 << 600 << 1 << QByteArray::fromHex("20 01 00 01 00 0046 00 0028 00 0258");
}

void TestHidReport::dataReportBytes()
{
    QFETCH(QString, cpu);
    QFETCH(QString, gpu);
    QFETCH(QString, fan);
    QFETCH(QString, cpuUsage);
    QFETCH(QString, gpuUsage);
    QFETCH(int, unit);
    QFETCH(int, cpuAlarm);
    QFETCH(int, fanAlarm);
    QFETCH(int, item);
    QFETCH(QByteArray, head);

    ReportInputs in;
    in.temperatureUnit = unit;
    in.cpuTemperatureAlarm = cpuAlarm;
    in.fanRpmAlarm = fanAlarm;
    in.cpuTemperature = readingToInt(cpu);
    in.gpuTemperature = readingToInt(gpu);
    in.fanRpm = fanReadingToInt(fan);
    in.cpuUsage = readingToInt(cpuUsage);
    in.gpuUsage = readingToInt(gpuUsage);

    const QByteArray report = encodeDataReport(quint8(item), in);
    QCOMPARE(report.size(), DATA_REPORT_SIZE);
    QCOMPARE(report.left(13).toHex(' '), head.toHex(' '));
    QCOMPARE(alarmFlag(quint8(item), in), quint8(head.at(3)));
}

void TestHidReport::dataReportTailIsZero()
{
    ReportInputs in;
    in.cpuTemperature = 65535;
    in.gpuTemperature = -1;
    in.fanRpm = 65535;
    in.cpuUsage = 255;
    in.gpuUsage = 255;
    const QByteArray report = encodeDataReport(0xFF, in);
    QCOMPARE(report.size(), 64);
    QCOMPARE(report.mid(13), QByteArray(51, '\0'));
    QCOMPARE(report.at(4), '\0');
}

void TestHidReport::wordsAreWrittenHighByteFirst_data()
{
    QTest::addColumn<int>("value");
    QTest::addColumn<QByteArray>("bytes");
    QTest::newRow("0") << 0 << QByteArray::fromHex("0000");
    QTest::newRow("255") << 255 << QByteArray::fromHex("00ff");
    QTest::newRow("256") << 256 << QByteArray::fromHex("0100");
    QTest::newRow("65535") << 65535 << QByteArray::fromHex("ffff");
    QTest::newRow("-5 keeps the sign in the low byte only") << -5 << QByteArray::fromHex("00fb");
    QTest::newRow("-300") << -300 << QByteArray::fromHex("ffd4");
    QTest::newRow("70000 is cut to 8 bits per part") << 70000 << QByteArray::fromHex("1170");
    QTest::newRow("int min") << std::numeric_limits<int>::min() << QByteArray::fromHex("0000");
}

void TestHidReport::wordsAreWrittenHighByteFirst()
{
    QFETCH(int, value);
    QFETCH(QByteArray, bytes);
    QByteArray report(4, '\x55');
    putWord(report, 1, value);
    QCOMPARE(report.toHex(), (QByteArray("\x55", 1) + bytes + QByteArray("\x55", 1)).toHex());
}

void TestHidReport::identifyRequestIsReportTenCommandOne()
{
    const QByteArray request = identifyRequest();
    QCOMPARE(request.size(), 65);
    QCOMPARE(request.left(2).toHex(), QByteArray("1001"));
    QCOMPARE(request.mid(2), QByteArray(63, '\0'));
}

void TestHidReport::identifyReplyDecoding_data()
{
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("uuid");
    QTest::addColumn<QString>("software");
    QTest::addColumn<QString>("hardware");

    const QByteArray tail(47, '\x77'); // bytes the reply may carry but we do not read
    const int accepted = int(ReplyStatus::Accepted);
    QTest::newRow("versions and uuid")
        << QByteArray::fromHex("11 00 01 02 00 07 0123456789abcdef000a10ff") + tail << accepted
        << "123456789ABCDEF0A10FF"
        << "1.2"
        << "0.7";
    QTest::newRow("two-digit minor") << QByteArray::fromHex("11 ff 01 0a ff ff 000000000000000000000000") +
                                            tail
                                     << accepted << "000000000000"
                                     << "1.10"
                                     << "255.255";
    QTest::newRow("all ff uuid") << QByteArray::fromHex("11 00 00 00 00 00 ffffffffffffffffffffffff")
                                 << accepted << "FFFFFFFFFFFFFFFFFFFFFFFF"
                                 << "0.0"
                                 << "0.0";
    QTest::newRow("request id echoed")
        << QByteArray::fromHex("10 01 01 02 00 07 0123456789abcdef000a10ff") + tail
        << int(ReplyStatus::WrongReportId) << ""
        << ""
        << "";
    QTest::newRow("zero id") << QByteArray(65, '\0') << int(ReplyStatus::WrongReportId) << ""
                             << ""
                             << "";
    QTest::newRow("empty") << QByteArray() << int(ReplyStatus::WrongReportId) << ""
                           << ""
                           << "";
    QTest::newRow("cut inside the uuid")
        << QByteArray::fromHex("11 00 01 02 00 07 0123456789abcdef000a10") << int(ReplyStatus::TooShort) << ""
        << ""
        << "";
    QTest::newRow("two bytes") << QByteArray::fromHex("1100") << int(ReplyStatus::TooShort) << ""
                               << ""
                               << "";
}

void TestHidReport::identifyReplyDecoding()
{
    QFETCH(QByteArray, reply);
    QFETCH(int, status);
    QFETCH(QString, uuid);
    QFETCH(QString, software);
    QFETCH(QString, hardware);

    HIDDeviceInfo info;
    info.strUUID = QStringLiteral("untouched");
    const ReplyStatus result =
        decodeIdentifyReply(reply, 0x2E3C, 0x0A12, QStringLiteral("/dev/hidraw3"), &info);
    QCOMPARE(int(result), status);
    if (result != ReplyStatus::Accepted) {
        QCOMPARE(info.strUUID, QStringLiteral("untouched"));
        return;
    }
    QCOMPARE(info.strUUID, uuid);
    QCOMPARE(info.strSoftwareVersion, software);
    QCOMPARE(info.strHardwareVersion, hardware);
    QCOMPARE(info.strVID, QStringLiteral("2E3C"));
    QCOMPARE(info.strPID, QStringLiteral("A12"));
    QCOMPARE(info.strDevicePath, QStringLiteral("/dev/hidraw3"));
}

void TestHidReport::unpaddedHexIds_data()
{
    QTest::addColumn<uint>("value");
    QTest::addColumn<QString>("text");
    QTest::newRow("vendor") << 0x2E3Cu << "2E3C";
    QTest::newRow("product keeps no leading zero") << 0x0A12u << "A12";
    QTest::newRow("zero") << 0u << "0";
    QTest::newRow("one byte") << 0x0Au << "A";
}

void TestHidReport::unpaddedHexIds()
{
    QFETCH(uint, value);
    QFETCH(QString, text);
    QCOMPARE(hexText(value), text);
}

void TestHidReport::answerAcknowledgement_data()
{
    QTest::addColumn<QByteArray>("answer");
    QTest::addColumn<bool>("accepted");
    QTest::newRow("ack 1") << QByteArray::fromHex("210001") << true;
    QTest::newRow("ack ff in a full answer") << QByteArray::fromHex("2100ff") + QByteArray(61, '\0') << true;
    QTest::newRow("refused") << QByteArray(64, '\0') << false;
    QTest::newRow("two bytes cannot acknowledge") << QByteArray::fromHex("2101") << false;
    QTest::newRow("nothing") << QByteArray() << false;
}

void TestHidReport::answerAcknowledgement()
{
    QFETCH(QByteArray, answer);
    QFETCH(bool, accepted);
    QCOMPARE(answerAccepted(answer), accepted);
}

void TestHidReport::readingTexts_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("reading");
    QTest::addColumn<int>("fan");
    const int big = std::numeric_limits<int>::max();
    QTest::newRow("fraction truncates") << "45.7" << 45 << 45;
    QTest::newRow("negative truncates toward zero") << "-3.9" << -3 << -3;
    QTest::newRow("placeholder") << "--" << 0 << -1;
    QTest::newRow("not measured") << "" << 0 << 0;
    QTest::newRow("garbage") << "12abc" << 0 << 0;
    QTest::newRow("huge clamps") << "1e300" << big << big;
    QTest::newRow("nan") << "nan" << 0 << 0;
    QTest::newRow("infinity") << "inf" << 0 << 0;
    QTest::newRow("rpm") << "1250" << 1250 << 1250;
}

void TestHidReport::readingTexts()
{
    QFETCH(QString, text);
    QFETCH(int, reading);
    QFETCH(int, fan);
    QCOMPARE(readingToInt(text), reading);
    QCOMPARE(fanReadingToInt(text), fan);
}

QTEST_GUILESS_MAIN(TestHidReport)
#include "tst_hidreport.moc"
