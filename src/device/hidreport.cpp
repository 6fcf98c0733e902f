#include "device/hidreport.h"

#include "app/common.h"
#include "app/commontools.h"

#include <cmath>
#include <limits>

namespace HidReport {

QByteArray identifyRequest()
{
    QByteArray request(IDENTIFY_REQUEST_SIZE, '\0');
    request[0] = char(IDENTIFY_REQUEST_ID);
    request[1] = char(IDENTIFY_COMMAND);
    return request;
}

QString hexText(uint value)
{
    return QString::number(value, 16).toUpper();
}

QString uuidText(const QByteArray& bytes)
{
    QString text;
    text.reserve(bytes.size() * 2);
    for (char byte : bytes)
        text += hexText(quint8(byte));
    return text;
}

static QString versionText(quint8 major, quint8 minor)
{
    return QStringLiteral("%1.%2").arg(uint(major)).arg(uint(minor));
}

ReplyStatus decodeIdentifyReply(const QByteArray& reply, quint16 vendorId, quint16 productId,
                                const QString& devicePath, HIDDeviceInfo* out)
{
    if (reply.isEmpty() || quint8(reply.at(0)) != IDENTIFY_REPLY_ID)
        return ReplyStatus::WrongReportId;
    if (reply.size() < IDENTIFY_REPLY_MIN_SIZE)
        return ReplyStatus::TooShort;

    const auto byteAt = [&reply](int i) { return quint8(reply.at(i)); };
    HIDDeviceInfo info;
    info.strUUID = uuidText(reply.mid(UUID_OFFSET, UUID_SIZE));
    info.strVID = hexText(vendorId);
    info.strPID = hexText(productId);
    info.strDevicePath = devicePath;
    info.strSoftwareVersion = versionText(byteAt(2), byteAt(3));
    info.strHardwareVersion = versionText(byteAt(4), byteAt(5));
    if (out)
        *out = info;
    return ReplyStatus::Accepted;
}

quint8 alarmFlag(quint8 item, const ReportInputs& in)
{
    const bool fahrenheit = in.temperatureUnit != 0;
    switch (item) {
    case ITEM_CPU_TEMPERATURE: {
        const int t = fahrenheit ? CommonTools::CelsiusToFahrenheit(in.cpuTemperature) : in.cpuTemperature;
        return t >= in.cpuTemperatureAlarm ? item : 0;
    }
    case ITEM_CPU_USAGE:
        return in.cpuUsage >= in.usageRateAlarm ? item : 0;
    case ITEM_GPU_TEMPERATURE: {
        const int t = fahrenheit ? CommonTools::CelsiusToFahrenheit(in.gpuTemperature) : in.gpuTemperature;
        return t >= in.gpuTemperatureAlarm ? item : 0;
    }
    case ITEM_GPU_USAGE:
        return in.gpuUsage >= in.usageRateAlarm ? item : 0;
    case ITEM_FAN_RPM:
        return (in.fanRpm >= 0 && in.fanRpm <= in.fanRpmAlarm) ? item : 0;
    default:
        return 0;
    }
}

void putWord(QByteArray& report, int offset, int value)
{
    // C++ division truncates toward zero and the remainder keeps the sign of
    // the value; the casts keep the lowest 8 bits of each part.
    const int high = value / 256;
    const int low = value % 256;
    report[offset] = char(quint8(uint(high) & 0xFFu));
    report[offset + 1] = char(quint8(uint(low) & 0xFFu));
}

QByteArray encodeDataReport(quint8 item, const ReportInputs& in)
{
    const bool fahrenheit = in.temperatureUnit != 0;
    const int cpu = fahrenheit ? CommonTools::CelsiusToFahrenheit(in.cpuTemperature) : in.cpuTemperature;
    const int gpu = fahrenheit ? CommonTools::CelsiusToFahrenheit(in.gpuTemperature) : in.gpuTemperature;
    const int fan = in.fanRpm < 0 ? 0 : in.fanRpm;

    QByteArray report(DATA_REPORT_SIZE, '\0');
    report[0] = char(DATA_REPORT_ID);
    report[1] = char(item);
    report[2] = char(fahrenheit ? 1 : 0);
    report[3] = char(alarmFlag(item, in));
    putWord(report, 5, cpu);
    report[7] = char(quint8(uint(in.cpuUsage) & 0xFFu));
    putWord(report, 8, gpu);
    report[10] = char(quint8(uint(in.gpuUsage) & 0xFFu));
    putWord(report, 11, fan);
    return report;
}

bool answerAccepted(const QByteArray& answer)
{
    return answer.size() > ANSWER_ACK_OFFSET && answer.at(ANSWER_ACK_OFFSET) != 0;
}

} // namespace HidReport
