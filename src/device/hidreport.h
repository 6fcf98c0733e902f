#pragma once

#include "app/common.h"
#include "device/hiddeviceinfo.h"

#include <QByteArray>
#include <QString>
#include <QtGlobal>

// Wire format of the reports exchanged with the display device, as pure
// functions: no I/O, no settings read, no log. docs/protocol.md describes the
// same bytes for people who build or debug the firmware.
namespace HidReport {

// Identification: 0x10 0x01 out (65 bytes), reply with report id 0x11.
constexpr int IDENTIFY_REQUEST_SIZE = 65;
constexpr int IDENTIFY_REPLY_SIZE = 65;
constexpr quint8 IDENTIFY_REQUEST_ID = 0x10;
constexpr quint8 IDENTIFY_COMMAND = 0x01;
constexpr quint8 IDENTIFY_REPLY_ID = 0x11;
// Bytes 0..17 of the reply carry everything we use (id, two versions, UUID).
constexpr int IDENTIFY_REPLY_MIN_SIZE = 18;
constexpr int UUID_OFFSET = 6;
constexpr int UUID_SIZE = 12;

// Data report: 64 bytes out, report id 0x20; the answer's byte 2 is the ack.
constexpr int DATA_REPORT_SIZE = 64;
constexpr int ANSWER_SIZE = 64;
constexpr quint8 DATA_REPORT_ID = 0x20;
constexpr int ANSWER_ACK_OFFSET = 2;

// Display item codes: one bit per reading the device can show.
constexpr quint8 ITEM_CPU_TEMPERATURE = 1;
constexpr quint8 ITEM_CPU_USAGE = 2;
constexpr quint8 ITEM_GPU_TEMPERATURE = 4;
constexpr quint8 ITEM_GPU_USAGE = 8;
constexpr quint8 ITEM_FAN_RPM = 16;

// How long one read waits for the device before the exchange counts as failed.
constexpr int READ_TIMEOUT_MS = 1000;

QByteArray identifyRequest();

enum class ReplyStatus
{
    Accepted,
    WrongReportId, // rejected without a log line: not our device's answer
    TooShort,      // fewer bytes than the identity needs
};

// Decodes an identification reply into the device record. The ids and the
// path are the caller's; `out` is written only when the reply is accepted.
ReplyStatus decodeIdentifyReply(const QByteArray& reply, quint16 vendorId, quint16 productId,
                                const QString& devicePath, HIDDeviceInfo* out);

// Upper-case hexadecimal without leading zeros: 0x0A12 -> "A12", 0 -> "0".
QString hexText(uint value);
// Each byte in upper-case hex without a leading zero, concatenated.
QString uuidText(const QByteArray& bytes);

// Everything one data report is built from. Readings are whole degrees
// Celsius, percent and rpm; thresholds are in the unit in use.
// Thresholds start as the settings' defaults.
struct ReportInputs
{
    int temperatureUnit = COMMON::DEFAULT_TEMPERATURE_UNIT; // 0 Celsius, anything else Fahrenheit
    int cpuTemperatureAlarm = COMMON::DEFAULT_CPU_TEMP_ALARM;
    int gpuTemperatureAlarm = COMMON::DEFAULT_GPU_TEMP_ALARM;
    int usageRateAlarm = COMMON::DEFAULT_USAGE_RATE_ALARM;
    int fanRpmAlarm = COMMON::DEFAULT_FAN_RPM_ALARM;
    int cpuTemperature = 0;
    int cpuUsage = 0;
    int gpuTemperature = 0;
    int gpuUsage = 0;
    int fanRpm = 0; // -1: no reading
};

// Alarm flag for the item: the item's own code when its reading is in
// alarm, else 0. A fan that turns too slowly alarms; a missing fan reading never does.
quint8 alarmFlag(quint8 item, const ReportInputs& inputs);

// The 64-byte data report for the item now shown.
QByteArray encodeDataReport(quint8 item, const ReportInputs& inputs);

// Writes a 16-bit field high byte first: high = value / 256, low = value % 256
// (both truncating toward zero), each cut to its lowest 8 bits. -5 gives 00 FB.
void putWord(QByteArray& report, int offset, int value);

// True when the device acknowledged the data report (byte 2 not 0). An answer
// too short to carry the byte counts as refused.
bool answerAccepted(const QByteArray& answer);

} // namespace HidReport
