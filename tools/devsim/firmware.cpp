#include "firmware.h"

#include "device/backends/virtualhidformat.h"
#include "device/hidreport.h"

#include <QStringList>

namespace {

constexpr int MAX_SLOW_MS = 60000;

bool parseVersion(const QString& text, quint8 out[2])
{
    const QStringList parts = text.split(QLatin1Char('.'));
    if (parts.size() != 2)
        return false;
    for (int i = 0; i < 2; ++i) {
        bool ok = false;
        const uint v = parts.at(i).toUInt(&ok, 10);
        if (!ok || v > 255)
            return false;
        out[i] = quint8(v);
    }
    return true;
}

bool parseHexId(const QString& text, quint16* out)
{
    if (text.isEmpty() || text.size() > 4)
        return false;
    bool ok = false;
    const uint v = text.toUInt(&ok, 16);
    if (!ok)
        return false;
    *out = quint16(v);
    return true;
}

uint word(const QByteArray& report, int offset)
{
    return uint(quint8(report.at(offset))) << 8 | quint8(report.at(offset + 1));
}

// The identification reply as the device sends it, under `reportId`.
QByteArray identifyReply(const SimulatedDevice& device, quint8 reportId)
{
    QByteArray reply(HidReport::IDENTIFY_REPLY_SIZE, '\0');
    reply[0] = char(reportId);
    reply[2] = char(device.software[0]);
    reply[3] = char(device.software[1]);
    reply[4] = char(device.hardware[0]);
    reply[5] = char(device.hardware[1]);
    reply.replace(HidReport::UUID_OFFSET, HidReport::UUID_SIZE, device.uuid);
    return reply;
}

} // namespace

bool DeviceFault::parse(const QString& text, DeviceFault* fault)
{
    static const struct
    {
        const char* name;
        Kind kind;
    } named[] = {{"none", None},        {"refuse", Refuse}, {"silent", Silent},
                 {"wrong-id", WrongId}, {"short", Short},   {"drop", Drop},
                 {"mute", Mute},        {"stall", Stall},   {"flood", Flood}};
    DeviceFault result;
    for (const auto& entry : named) {
        if (text == QLatin1String(entry.name)) {
            result.kind = entry.kind;
            *fault = result;
            return true;
        }
    }
    if (text.startsWith(QLatin1String("slow:"))) {
        bool ok = false;
        const int ms = text.mid(5).toInt(&ok, 10);
        if (!ok || ms < 0 || ms > MAX_SLOW_MS)
            return false;
        result.kind = Slow;
        result.delayMs = ms;
    } else {
        return false;
    }
    *fault = result;
    return true;
}

bool SimulatedDevice::parse(const QString& spec, SimulatedDevice* device, QString* error)
{
    const QStringList parts = spec.split(QLatin1Char(','));
    SimulatedDevice result;
    result.name = parts.first();
    if (!VirtualHid::isValidDeviceName(result.name)) {
        *error = QStringLiteral(
                     "invalid device name \"%1\" (letters, digits, '_', '-', '.'; not starting with '.'; "
                     "at most 64)")
                     .arg(result.name);
        return false;
    }
    result.serial = QStringLiteral("SIM-") + result.name;
    result.uuid = QByteArray::fromHex("565000010203040506070809");
    for (int i = 1; i < parts.size(); ++i) {
        const QString& part = parts.at(i);
        const int eq = part.indexOf(QLatin1Char('='));
        const QString key = part.left(eq);
        const QString value = eq < 0 ? QString() : part.mid(eq + 1);
        bool ok = eq > 0;
        if (!ok) {
        } else if (key == QLatin1String("vid")) {
            ok = parseHexId(value, &result.vendorId);
        } else if (key == QLatin1String("pid")) {
            ok = parseHexId(value, &result.productId);
        } else if (key == QLatin1String("serial")) {
            if (value == QLatin1String("none")) {
                result.hasSerial = false;
                result.serial.clear();
            } else {
                result.hasSerial = true;
                result.serial = value;
                ok = value.size() <= VirtualHid::MAX_SERIAL_LENGTH;
                for (const QChar c : value)
                    ok = ok && c.isPrint();
            }
        } else if (key == QLatin1String("sw")) {
            ok = parseVersion(value, result.software);
        } else if (key == QLatin1String("hw")) {
            ok = parseVersion(value, result.hardware);
        } else if (key == QLatin1String("uuid")) {
            ok = value.size() == 24 &&
                 QByteArray::fromHex(value.toLatin1()).toHex() == value.toLatin1().toLower();
            if (ok)
                result.uuid = QByteArray::fromHex(value.toLatin1());
        } else if (key == QLatin1String("fault")) {
            ok = DeviceFault::parse(value, &result.fault);
        } else {
            ok = false;
        }
        if (!ok) {
            *error = QStringLiteral("bad option \"%1\" of device %2").arg(part, result.name);
            return false;
        }
    }
    *device = result;
    return true;
}

QString reportLine(const QByteArray& message, DisplayState* state)
{
    // Decoded as the firmware reads it: unsigned bytes, 16-bit fields high
    // byte first. A message of another size is cut or padded to 64 bytes.
    QByteArray report = message.left(HidReport::DATA_REPORT_SIZE);
    report.append(QByteArray(HidReport::DATA_REPORT_SIZE - report.size(), '\0'));
    DisplayState s;
    s.item = quint8(report.at(1));
    s.fahrenheit = report.at(2) != 0;
    s.alarm = quint8(report.at(3));
    s.cpu = int(word(report, 5));
    s.cpuUsage = quint8(report.at(7));
    s.gpu = int(word(report, 8));
    s.gpuUsage = quint8(report.at(10));
    s.fan = int(word(report, 11));
    if (state)
        *state = s;
    return QStringLiteral(
               "report item=%1 unit=%2 alarm=%3 cpu=%4 cpu_usage=%5 gpu=%6 gpu_usage=%7 fan=%8 raw=%9")
        .arg(s.item)
        .arg(s.fahrenheit ? QLatin1Char('F') : QLatin1Char('C'))
        .arg(s.alarm)
        .arg(s.cpu)
        .arg(s.cpuUsage)
        .arg(s.gpu)
        .arg(s.gpuUsage)
        .arg(s.fan)
        .arg(QString::fromLatin1(report.toHex()));
}

FirmwareAnswer firmwareAnswer(const SimulatedDevice& device, const QByteArray& message,
                              FirmwareRequest* request)
{
    *request = FirmwareRequest();
    FirmwareAnswer answer;
    if (message.isEmpty())
        return answer;
    const quint8 reportId = quint8(message.at(0));
    if (reportId == HidReport::IDENTIFY_REQUEST_ID) {
        request->line = QStringLiteral("identify");
        answer.reply =
            identifyReply(device, device.fault.kind == DeviceFault::WrongId ? HidReport::IDENTIFY_REQUEST_ID
                                                                            : HidReport::IDENTIFY_REPLY_ID);
    } else if (reportId == HidReport::DATA_REPORT_ID) {
        if (message.size() != HidReport::DATA_REPORT_SIZE)
            request->warning = QStringLiteral("data report of %1 bytes").arg(message.size());
        request->isData = true;
        request->line = reportLine(message, &request->state);
        answer.reply = QByteArray(HidReport::ANSWER_SIZE, '\0');
        answer.reply[0] = char(0x21);
        answer.reply[1] = char(request->state.item);
        answer.reply[2] = char(device.fault.kind == DeviceFault::Refuse ? 0 : 1);
    } else {
        request->warning = QStringLiteral("unknown report 0x%1 of %2 bytes")
                               .arg(uint(reportId), 2, 16, QLatin1Char('0'))
                               .arg(message.size());
        return answer;
    }

    answer.kind = FirmwareAnswer::Reply;
    switch (device.fault.kind) {
    case DeviceFault::Silent:
        answer.kind = FirmwareAnswer::Nothing;
        break;
    case DeviceFault::Mute:
        if (reportId != HidReport::IDENTIFY_REQUEST_ID)
            answer.kind = FirmwareAnswer::Nothing;
        break;
    case DeviceFault::Drop:
        answer.kind = FirmwareAnswer::Hangup;
        break;
    case DeviceFault::Short:
        answer.reply.truncate(2);
        break;
    case DeviceFault::Slow:
        answer.delayMs = device.fault.delayMs;
        break;
    default:
        break;
    }
    if (answer.kind != FirmwareAnswer::Reply)
        answer.reply.clear();
    return answer;
}

QByteArray floodReport(const SimulatedDevice& device, quint32 n)
{
    // Whatever a confused firmware might send: junk ids, stray requests,
    // and replies of the right kind nobody asked for, with a running
    // number in them.
    QByteArray report(HidReport::IDENTIFY_REPLY_SIZE, '\0');
    switch (n % 4) {
    case 0:
        report[0] = char(0x00);
        break;
    case 1:
        report = identifyReply(device, HidReport::IDENTIFY_REPLY_ID);
        break;
    case 2:
        report[0] = char(0x21);
        report[2] = char(1);
        break;
    default:
        report[0] = char(0x7F);
        break;
    }
    report[1] = char(n & 0xFF);
    return report;
}
