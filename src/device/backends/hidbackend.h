#pragma once

#include <QByteArray>
#include <QMutex>
#include <QSet>
#include <QString>
#include <QVector>
#include <QtGlobal>

#include <memory>

class DeviceChangeMonitor;
class QObject;

// One HID interface as the enumeration reports it.
struct HidEnumEntry
{
    QString path; // exactly as enumerated; used as is to open the device
    quint16 vendorId = 0;
    quint16 productId = 0;
    bool hasSerial = false; // false when the interface reports no (or an empty) serial-number string
    QString serial;
};

// One open device. Destroying the handle closes the device.
class HidDeviceHandle
{
public:
    virtual ~HidDeviceHandle() = default;
    // Writes one report, report id first. Returns the bytes written or -1.
    virtual int write(const QByteArray& report) = 0;
    // Reads one report into `report` (at most maxSize bytes), waiting at most
    // timeoutMs. Returns the bytes read, 0 when nothing came in time, -1 on error.
    virtual int read(QByteArray* report, int maxSize, int timeoutMs) = 0;
    // Text of the last failure of this device; empty if none.
    virtual QString errorText() const = 0;
};

enum class HidOpenError
{
    None,
    PermissionDenied, // the device node exists but we may not open it
    Other,
};

// The HID operations the device link needs. `HidapiBackend` talks to real
// devices through hidapi on hidraw; `VirtualHidBackend` to devices served by
// varnoks-devsim over Unix sockets. Every call may come from any thread.
class HidBackend
{
public:
    virtual ~HidBackend() = default;

    virtual QVector<HidEnumEntry> enumerate() = 0;
    // nullptr on failure; `error` (optional) tells why.
    virtual std::unique_ptr<HidDeviceHandle> open(const QString& path, HidOpenError* error) = 0;
    // The arrival and removal source that matches this backend, owned by
    // `parent`; nullptr when it cannot be set up.
    virtual DeviceChangeMonitor* createMonitor(QObject* parent) = 0;
    virtual QString name() const = 0;

    // Each device path has one owner at a time: hidraw hands every input
    // report to every open handle of a node, so two exchanges in flight on
    // one path could read each other's answers. Whoever talks to a device
    // claims its path first; false while somebody else holds it.
    bool claimPath(const QString& path);
    void releasePath(const QString& path);

private:
    QMutex m_claimMutex;
    QSet<QString> m_claimedPaths;
};

// Holds the claim on one path for as long as it lives.
class HidPathClaim
{
public:
    HidPathClaim() = default;
    // Tries to claim; see isHeld().
    HidPathClaim(std::shared_ptr<HidBackend> backend, const QString& path);
    ~HidPathClaim() { release(); }
    HidPathClaim(const HidPathClaim&) = delete;
    HidPathClaim& operator=(const HidPathClaim&) = delete;

    bool isHeld() const { return m_pBackend != nullptr; }
    void release();

private:
    std::shared_ptr<HidBackend> m_pBackend;
    QString m_strPath;
};

// The backend chosen by VARNOKS_HID_BACKEND: unset, empty or "hidapi" gives
// hidapi; "virtual:<dir>" the socket devices in <dir>. Read at every call, so
// each registry or sender picks up the environment at its construction.
std::shared_ptr<HidBackend> createHidBackend();

// A device key of the registry: the path as enumerated. Windows paths are
// case-insensitive and arrive in mixed case, so only there they are folded.
QString hidDeviceKey(const QString& path);

// Logs, once per path for the life of the process, that a supported device
// could not be opened for lack of permission, naming the udev rule that
// grants it. Returns true when this call wrote the line.
bool warnPermissionDeniedOnce(const QString& path, const char* source);
