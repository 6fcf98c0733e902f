#include "device/backends/udevdevicechange.h"

#include <QFile>
#include <QList>

#include <cctype>

namespace {

constexpr int MAX_FIELD = 1024;
constexpr int MAX_SERIAL = 126; // a USB string descriptor's limit

bool isHex(const QByteArray& text, int maxLength)
{
    if (text.isEmpty() || text.size() > maxLength)
        return false;
    for (char c : text) {
        if (!std::isxdigit(static_cast<unsigned char>(c)))
            return false;
    }
    return true;
}

// "/dev/" and a name of letters, digits and "_-.+/" without "..": only such
// a node is a path hidapi would give us.
bool isDeviceNode(const QByteArray& path)
{
    if (!path.startsWith("/dev/") || path.size() <= 5 || path.size() > 255 || path.contains("..") ||
        path.contains("//") || path.endsWith('/'))
        return false;
    for (char c : path) {
        const bool ok = std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '-' || c == '.' ||
                        c == '+' || c == '/';
        if (!ok)
            return false;
    }
    return true;
}

// The hid device's sysfs name, "0003:2E3C:0A12.0004", somewhere in DEVPATH.
bool idsFromDevPath(const QByteArray& devPath, quint16* vendorId, quint16* productId)
{
    const QList<QByteArray> parts = devPath.split('/');
    for (int i = parts.size() - 1; i >= 0; --i) {
        const QList<QByteArray> fields = parts.at(i).split(':');
        if (fields.size() != 3)
            continue;
        const int dot = fields.at(2).indexOf('.');
        const QByteArray product = dot < 0 ? QByteArray() : fields.at(2).left(dot);
        if (isHex(fields.at(0), 4) && isHex(fields.at(1), 4) && isHex(product, 4) &&
            isHex(fields.at(2).mid(dot + 1), 4)) {
            *vendorId = quint16(fields.at(1).toUInt(nullptr, 16));
            *productId = quint16(product.toUInt(nullptr, 16));
            return true;
        }
    }
    return false;
}

QString serialText(const QByteArray& uniq)
{
    const QString serial = QString::fromUtf8(uniq);
    if (serial.size() > MAX_SERIAL)
        return QString();
    for (const QChar c : serial) {
        if (!c.isPrint())
            return QString();
    }
    return serial;
}

} // namespace

bool parseHidId(const QByteArray& hidId, quint16* vendorId, quint16* productId)
{
    const QList<QByteArray> parts = hidId.split(':');
    if (hidId.size() > 32 || parts.size() != 3)
        return false;
    for (const QByteArray& part : parts) {
        if (!isHex(part, 8))
            return false;
    }
    const uint vendor = parts.at(1).toUInt(nullptr, 16);
    const uint product = parts.at(2).toUInt(nullptr, 16);
    if (vendor > 0xFFFF || product > 0xFFFF)
        return false;
    *vendorId = quint16(vendor);
    *productId = quint16(product);
    return true;
}

bool deviceChangeFromUdev(const UdevHidrawFields& fields, DeviceChangeEvent* event)
{
    if (fields.subsystem != "hidraw")
        return false;
    DeviceChangeEvent result;
    if (fields.action == "add")
        result.kind = DeviceChangeEvent::Arrival;
    else if (fields.action == "remove")
        result.kind = DeviceChangeEvent::Removal;
    else
        return false;
    if (fields.devName.size() > MAX_FIELD || fields.devPath.size() > MAX_FIELD)
        return false;

    const QByteArray node = fields.devName.startsWith('/') ? fields.devName : "/dev/" + fields.devName;
    if (!isDeviceNode(node))
        return false;
    // DEVPATH ends in the node's own name; one that names another node is
    // not about this one.
    if (!fields.devPath.isEmpty() &&
        fields.devPath.mid(fields.devPath.lastIndexOf('/') + 1) != node.mid(node.lastIndexOf('/') + 1))
        return false;
    result.path = QFile::decodeName(node);

    if (result.kind == DeviceChangeEvent::Arrival) {
        if (!parseHidId(fields.hidId, &result.vendorId, &result.productId) &&
            !idsFromDevPath(fields.devPath, &result.vendorId, &result.productId))
            result.vendorId = result.productId = 0;
        result.serial = serialText(fields.hidUniq);
    }
    *event = result;
    return true;
}
