#pragma once

#include "device/backends/hidbackend.h"
#include "device/hiddeviceinfo.h"

#include <QByteArray>
#include <QString>

#include <functional>

// The two exchanges with a display device, each open - write - read -
// close on one path (the report sender splits the data exchange in two and
// may keep the handle for the next report). They touch nothing but the
// device: what is worth logging comes back in the outcome, for the caller
// to write while it still owns the job (see HidJobContext::whileOwned).

using CancelCheck = std::function<bool()>;

// One line for the run log; an empty message means nothing to log.
struct HidLogLine
{
    int level = 0;
    QString message;
    const char* source = nullptr;
};

// Reads one report, waiting at most timeoutMs in slices, so that a
// cancellation ends the wait early. Returns as HidDeviceHandle::read does;
// 0 also when cancelled.
int readReport(HidDeviceHandle& device, QByteArray* report, int maxSize, int timeoutMs,
               const CancelCheck& cancelled);

struct IdentifyOutcome
{
    bool recognised = false;
    // Not recognised for want of an answer, rather than for a wrong one or
    // a refused permission: worth asking again.
    bool answerMissing = false;
    HIDDeviceInfo info;
    HidLogLine log;
    bool permissionDenied = false;
    bool cancelled = false;
};

// The identification exchange: request 0x10 0x01 out, reply 0x11 in.
// The caller has checked the ids.
IdentifyOutcome identifyInterface(HidBackend& backend, quint16 vendorId, quint16 productId,
                                  const QString& path, const CancelCheck& cancelled = {});

struct DataExchangeOutcome
{
    bool opened = false;
    bool acknowledged = false;
    bool timedOut = false; // the write failed, or no answer came in time
    HidLogLine log;
    bool permissionDenied = false;
    bool cancelled = false;
};

// One data report to one device, and its answer checked.
DataExchangeOutcome exchangeDataReport(HidBackend& backend, const HIDDeviceInfo& device,
                                       const QByteArray& report, const CancelCheck& cancelled = {});

// The same exchange in two halves, for a caller that collects the answer
// later instead of waiting for it. The first opens the device and writes
// the report; it returns the open handle, or nullptr when the exchange
// already ended (the outcome says how).
std::unique_ptr<HidDeviceHandle> beginDataExchange(HidBackend& backend, const HIDDeviceInfo& device,
                                                   const QByteArray& report, DataExchangeOutcome* outcome);
// The second judges what a read gave: `n` as HidDeviceHandle::read returns
// it (0: no answer in time), `answer` the bytes read.
void endDataExchange(const HidDeviceHandle& handle, const HIDDeviceInfo& device, int n,
                     const QByteArray& answer, DataExchangeOutcome* outcome);

// Writes the outcome's line, and the permission hint once per path.
void writeLogLine(const HidLogLine& line, bool permissionDenied, const QString& path);
