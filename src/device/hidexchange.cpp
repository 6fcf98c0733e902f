#include "device/hidexchange.h"

#include "app/rslogger.h"
#include "device/hidreport.h"

#include <QElapsedTimer>

namespace {
const char* const RECOGNIZE_SOURCE = "HIDDevicesManager::recognize";
const char* const SEND_SOURCE = "SendHIDDataThread::sendDataToHIDDevice";
// A cancellation is noticed within this time while waiting for an answer.
constexpr int READ_SLICE_MS = 50;
} // namespace

int readReport(HidDeviceHandle& device, QByteArray* report, int maxSize, int timeoutMs,
               const CancelCheck& cancelled)
{
    QElapsedTimer clock;
    clock.start();
    for (;;) {
        const int left = timeoutMs - int(clock.elapsed());
        const int slice = cancelled ? qBound(0, left, READ_SLICE_MS) : qMax(0, left);
        const int n = device.read(report, maxSize, slice);
        if (n != 0 || left <= slice || (cancelled && cancelled()))
            return n;
    }
}

IdentifyOutcome identifyInterface(HidBackend& backend, quint16 vendorId, quint16 productId,
                                  const QString& path, const CancelCheck& cancelled)
{
    IdentifyOutcome outcome;
    outcome.log.level = LOG_WARNING;
    outcome.log.source = RECOGNIZE_SOURCE;
    HidOpenError openError = HidOpenError::None;
    std::unique_ptr<HidDeviceHandle> device = backend.open(path, &openError);
    if (!device) {
        // Other open failures stay silent: another program may hold the
        // device, or it went away again.
        outcome.permissionDenied = openError == HidOpenError::PermissionDenied;
        outcome.answerMissing = !outcome.permissionDenied;
        return outcome;
    }

    if (device->write(HidReport::identifyRequest()) < 0) {
        outcome.answerMissing = true;
        outcome.log.message =
            QStringLiteral("Invalid HID device\uFF01Write data to device fail: %1, device path: %2!")
                .arg(device->errorText(), path);
        return outcome;
    }

    QByteArray reply;
    const int n =
        readReport(*device, &reply, HidReport::IDENTIFY_REPLY_SIZE, HidReport::READ_TIMEOUT_MS, cancelled);
    if (n == 0 && cancelled && cancelled()) {
        outcome.cancelled = true;
        return outcome;
    }
    // The error text may well be empty: a failure is a failure all the same.
    bool failed = n <= 0;
    QString readError;
    if (n < 0)
        readError = device->errorText();
    else if (n == 0)
        readError = QStringLiteral("no reply within %1 ms").arg(HidReport::READ_TIMEOUT_MS);

    HidReport::ReplyStatus status = HidReport::ReplyStatus::WrongReportId;
    if (!failed) {
        status = HidReport::decodeIdentifyReply(reply, vendorId, productId, path, &outcome.info);
        if (status == HidReport::ReplyStatus::TooShort) {
            failed = true;
            readError = QStringLiteral("reply of %1 bytes is too short").arg(n);
        }
    }
    if (failed) {
        outcome.answerMissing = true;
        outcome.log.message =
            QStringLiteral("Read HID device data fail: %1, device path: %2!").arg(readError, path);
        return outcome;
    }
    if (status != HidReport::ReplyStatus::Accepted)
        return outcome;

    // The sender opens the device by this path later: as enumerated on
    // Linux, where paths are case-sensitive.
    outcome.info.strDevicePath = hidDeviceKey(path);
    outcome.recognised = true;
    return outcome;
}

std::unique_ptr<HidDeviceHandle> beginDataExchange(HidBackend& backend, const HIDDeviceInfo& info,
                                                   const QByteArray& report, DataExchangeOutcome* outcome)
{
    outcome->log.level = LOG_ERROR;
    outcome->log.source = SEND_SOURCE;
    HidOpenError openError = HidOpenError::None;
    std::unique_ptr<HidDeviceHandle> device = backend.open(info.strDevicePath, &openError);
    if (!device) {
        outcome->log.message =
            QStringLiteral("=== Open HID device fail, path: %1 ===").arg(info.strDevicePath);
        outcome->permissionDenied = openError == HidOpenError::PermissionDenied;
        return nullptr;
    }
    outcome->opened = true;

    if (device->write(report) < 0) {
        // Closed with the handle; tried again next pass, nothing logged.
        outcome->timedOut = true;
        return nullptr;
    }
    return device;
}

void endDataExchange(const HidDeviceHandle& device, const HIDDeviceInfo& info, int n,
                     const QByteArray& answer, DataExchangeOutcome* outcome)
{
    outcome->log.level = LOG_ERROR;
    outcome->log.source = SEND_SOURCE;
    if (n <= 0) {
        outcome->timedOut = n == 0;
        const QString reason = n < 0
                                   ? device.errorText()
                                   : QStringLiteral("no answer within %1 ms").arg(HidReport::READ_TIMEOUT_MS);
        outcome->log.message =
            QStringLiteral(">>> Send data to HID device fail. [%1]! <<<\n VID: %2, PID: %3, Device Path: %4!")
                .arg(reason, info.strVID, info.strPID, info.strDevicePath);
    } else if (!HidReport::answerAccepted(answer)) {
        // An answer too short to carry the ack byte is a refusal too.
        outcome->log.message =
            QStringLiteral(
                ">>> Send data to HID device fail! reply error.<<<\n VID: %1, PID: %2, Device Path: %3!")
                .arg(info.strVID, info.strPID, info.strDevicePath);
    } else {
        outcome->acknowledged = true;
    }
}

DataExchangeOutcome exchangeDataReport(HidBackend& backend, const HIDDeviceInfo& info,
                                       const QByteArray& report, const CancelCheck& cancelled)
{
    DataExchangeOutcome outcome;
    const std::unique_ptr<HidDeviceHandle> device = beginDataExchange(backend, info, report, &outcome);
    if (!device)
        return outcome;
    QByteArray answer;
    const int n = readReport(*device, &answer, HidReport::ANSWER_SIZE, HidReport::READ_TIMEOUT_MS, cancelled);
    if (n == 0 && cancelled && cancelled()) {
        outcome.cancelled = true;
        return outcome;
    }
    endDataExchange(*device, info, n, answer, &outcome);
    return outcome;
}

void writeLogLine(const HidLogLine& line, bool permissionDenied, const QString& path)
{
    if (!line.message.isEmpty())
        RSLogger::GetInstance()->WriteLog(line.level, line.message, line.source);
    if (permissionDenied)
        warnPermissionDeniedOnce(path, line.source ? line.source : RECOGNIZE_SOURCE);
}
