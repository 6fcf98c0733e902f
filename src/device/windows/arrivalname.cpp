#include "device/windows/arrivalname.h"

#include <QStringList>

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
