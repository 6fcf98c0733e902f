#include "device/devicechangeevent.h"

#include <QByteArray>
#include <QStringList>

#include <cctype>

static quint16 tokenId(const QString& token)
{
    const int underscore = token.indexOf(QLatin1Char('_'));
    const QString digits = underscore < 0 ? token : token.mid(underscore + 1);
    bool ok = false;
    const uint value = digits.toUInt(&ok, 16);
    return (ok && value <= 0xFFFF) ? quint16(value) : 0;
}

ArrivalName parseArrivalName(const QString& interfaceName)
{
    ArrivalName result;
    result.path = interfaceName.toUpper();
    const QStringList parts = result.path.split(QLatin1Char('#'), Qt::KeepEmptyParts);
    if (parts.size() < 2)
        return result;
    const QStringList tokens = parts.at(1).split(QLatin1Char('&'), Qt::KeepEmptyParts);
    if (tokens.size() < 2)
        return result;
    result.vendorId = tokenId(tokens.at(0));
    result.productId = tokenId(tokens.at(1));
    result.valid = true;
    return result;
}

bool parseHidId(const QByteArray& hidId, quint16* vendorId, quint16* productId)
{
    if (hidId.size() > 32)
        return false;
    const QList<QByteArray> parts = hidId.split(':');
    if (parts.size() != 3)
        return false;
    uint values[3];
    for (int i = 0; i < 3; ++i) {
        const QByteArray& part = parts.at(i);
        if (part.isEmpty() || part.size() > 8)
            return false;
        for (char c : part) {
            if (!std::isxdigit(static_cast<unsigned char>(c)))
                return false;
        }
        bool ok = false;
        values[i] = part.toUInt(&ok, 16);
        if (!ok)
            return false;
    }
    if (values[1] > 0xFFFF || values[2] > 0xFFFF)
        return false;
    *vendorId = quint16(values[1]);
    *productId = quint16(values[2]);
    return true;
}
