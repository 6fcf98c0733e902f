#pragma once

#include <QByteArray>
#include <QString>
#include <QtGlobal>

// How varnoks-devsim lays out its virtual devices in a directory:
//   <dir>/<NAME>          a SOCK_SEQPACKET socket; one message is one report,
//                         report id first, as on hidraw
//   <dir>/.<NAME>.info    what enumeration reports: "vid=2e3c\npid=a12\n"
//                         and, when the device has one, "serial=TEXT\n"
// The info file is in place before the socket appears and goes after it.
namespace VirtualHid {

struct DeviceIdentity
{
    quint16 vendorId = 0;
    quint16 productId = 0;
    bool hasSerial = false;
    QString serial;
};

// The info file is read with this bound; anything larger is not ours.
constexpr int MAX_INFO_SIZE = 4096;
constexpr int MAX_SERIAL_LENGTH = 126; // a USB string descriptor's limit
// A socket path must fit sockaddr_un::sun_path (108 bytes with its NUL).
constexpr int MAX_SOCKET_PATH = 107;

// Device names: letters, digits, '_', '-' and '.', not starting with '.',
// at most 64 characters, so a name can never leave the directory.
bool isValidDeviceName(const QString& name);

QString infoFileName(const QString& name);
QByteArray formatInfo(const DeviceIdentity& identity);
// False for anything malformed: unknown keys, bad numbers, control
// characters, missing vid or pid, or more than MAX_INFO_SIZE bytes.
bool parseInfo(const QByteArray& data, DeviceIdentity* identity);

} // namespace VirtualHid
