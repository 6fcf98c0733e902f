#pragma once

#include <QByteArray>
#include <QString>

// How a simulated device misbehaves.
struct DeviceFault
{
    enum Kind
    {
        None,
        Refuse,  // data answers carry ack byte 0
        Silent,  // no answer at all
        WrongId, // identification reply with report id 0x10
        Short,   // 2-byte answers
        Drop,    // connection closed after reading
        Slow,    // answers after `delayMs`
        Mute,    // answers the identification, then nothing else
        Stall,   // reads nothing: a writer waits as on a stalled endpoint
        Flood,   // sends input reports unasked, as fast as the reader takes them
    };
    Kind kind = None;
    int delayMs = 0;

    // "refuse", "silent", "wrong-id", "short", "drop", "slow:MS", "mute",
    // "stall", "flood", "none".
    static bool parse(const QString& text, DeviceFault* fault);
};

struct SimulatedDevice
{
    QString name;
    quint16 vendorId = 0x2E3C;
    quint16 productId = 0x0A12;
    bool hasSerial = true;
    QString serial;
    quint8 software[2] = {1, 0};
    quint8 hardware[2] = {1, 0};
    QByteArray uuid;
    DeviceFault fault;

    // NAME[,vid=HEX][,pid=HEX][,serial=TEXT|none][,sw=M.m][,hw=M.m][,uuid=24 HEX][,fault=KIND]
    static bool parse(const QString& spec, SimulatedDevice* device, QString* error);
};

// What the device shows, decoded from one data report.
struct DisplayState
{
    int item = 0;
    bool fahrenheit = false;
    int alarm = 0;
    int cpu = 0;
    int cpuUsage = 0;
    int gpu = 0;
    int gpuUsage = 0;
    int fan = 0;
};

// The report line printed for a data report (without the device name).
QString reportLine(const QByteArray& report, DisplayState* state);

// What the firmware does with one report written to it.
struct FirmwareAnswer
{
    enum Kind
    {
        Nothing, // no answer
        Reply,   // `reply`, after `delayMs`
        Hangup,  // the link to the device breaks (fault "drop")
    };
    Kind kind = Nothing;
    QByteArray reply;
    int delayMs = 0;
};

// What one request was, for the simulator's output.
struct FirmwareRequest
{
    QString line;    // "identify" or a report line; empty for a report the firmware does not know
    QString warning; // a request of the wrong size or kind
    bool isData = false;
    DisplayState state; // the display after a data report
};

// The display's firmware: how it answers what is written to it, whatever
// carries the bytes (a socket, or the kernel through uhid).
FirmwareAnswer firmwareAnswer(const SimulatedDevice& device, const QByteArray& report,
                              FirmwareRequest* request);

// The `n`th unasked report of a flooding device.
QByteArray floodReport(const SimulatedDevice& device, quint32 n);
