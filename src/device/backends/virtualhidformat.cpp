#include "device/backends/virtualhidformat.h"

#include <QList>

namespace VirtualHid {

bool isValidDeviceName(const QString& name)
{
    if (name.isEmpty() || name.size() > 64 || name.startsWith(QLatin1Char('.')))
        return false;
    for (const QChar c : name) {
        const ushort u = c.unicode();
        const bool ok = (u >= 'a' && u <= 'z') || (u >= 'A' && u <= 'Z') || (u >= '0' && u <= '9') ||
                        u == '_' || u == '-' || u == '.';
        if (!ok)
            return false;
    }
    return true;
}

QString infoFileName(const QString& name)
{
    return QLatin1Char('.') + name + QStringLiteral(".info");
}

QByteArray formatInfo(const DeviceIdentity& identity)
{
    QByteArray data;
    data += "vid=" + QByteArray::number(identity.vendorId, 16) + '\n';
    data += "pid=" + QByteArray::number(identity.productId, 16) + '\n';
    if (identity.hasSerial)
        data += "serial=" + identity.serial.toUtf8() + '\n';
    return data;
}

static bool parseId(const QByteArray& text, quint16* value)
{
    if (text.isEmpty() || text.size() > 4)
        return false;
    bool ok = false;
    const uint v = text.toUInt(&ok, 16);
    if (!ok || v > 0xFFFF)
        return false;
    *value = quint16(v);
    return true;
}

bool parseInfo(const QByteArray& data, DeviceIdentity* identity)
{
    if (data.size() > MAX_INFO_SIZE)
        return false;
    DeviceIdentity result;
    bool haveVid = false;
    bool havePid = false;
    const QList<QByteArray> lines = data.split('\n');
    for (const QByteArray& line : lines) {
        if (line.isEmpty())
            continue;
        const int eq = line.indexOf('=');
        if (eq <= 0)
            return false;
        const QByteArray key = line.left(eq);
        const QByteArray value = line.mid(eq + 1);
        if (key == "vid") {
            if (haveVid || !parseId(value, &result.vendorId))
                return false;
            haveVid = true;
        } else if (key == "pid") {
            if (havePid || !parseId(value, &result.productId))
                return false;
            havePid = true;
        } else if (key == "serial") {
            if (result.hasSerial)
                return false;
            const QString serial = QString::fromUtf8(value);
            if (serial.size() > MAX_SERIAL_LENGTH)
                return false;
            for (const QChar c : serial) {
                if (c.category() == QChar::Other_Control || c == QChar::ReplacementCharacter)
                    return false;
            }
            result.hasSerial = true;
            result.serial = serial;
        } else {
            return false;
        }
    }
    if (!haveVid || !havePid)
        return false;
    if (identity)
        *identity = result;
    return true;
}

} // namespace VirtualHid
