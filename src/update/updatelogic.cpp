#include "updatelogic.h"

#include "app/common.h"
#include "app/rslogger.h"

#include <QRegularExpression>
#include <QVersionNumber>

#include <cstdlib>

namespace UpdateLogic {

UpgradeAction decideUpgradeAction(bool bAuto, bool bHasNew, UpgradeTimeState state)
{
    using A = UpgradeAction;
    // Columns: NotDue, Due, NonePending.
    static const A kTable[12] = {// asked by the user, nothing newer
                                 A::UpToDate, A::UpToDate, A::UpToDate,
                                 // asked by the user, newer version
                                 A::OfferNow, A::OfferNow, A::OfferNow,
                                 // automatic, nothing newer
                                 A::ClearReminder, A::ClearReminder, A::Nothing,
                                 // automatic, newer version
                                 A::Wait, A::OfferNow, A::RemindLater};
    const int nState = static_cast<int>(state);
    if (nState < 0 || nState > 2)
        return A::Nothing;
    return kTable[(bAuto ? 6 : 0) + (bHasNew ? 3 : 0) + nState];
}

UpgradeTimeState classifyUpgradeTime(const QString& strStored, qint64 nNowSecs)
{
    const quint64 nStored = strStored.toULongLong(); // 0 when not a number
    if (nStored == UPGRADE_TIME_NONE)
        return NonePending;
    return nNowSecs > static_cast<qint64>(nStored) ? Due : NotDue;
}

qint64 reminderDelayMinutes(int nDraw1, int nDraw2)
{
    // rand() never returns a negative number; the absolute value only keeps
    // a caller's mistake from producing a time in the past.
    const qint64 r1 = qAbs(qint64(nDraw1)) % 78;
    const qint64 r2 = qAbs(qint64(nDraw2)) % 192;
    return r1 * 256 + r2;
}

qint64 drawReminderTime(qint64 nNowMsecs)
{
    std::srand(static_cast<unsigned>(quint64(nNowMsecs) & 0xFFFFFFFFu));
    const int nDraw1 = std::rand();
    const int nDraw2 = std::rand();
    return nNowMsecs / 1000 + reminderDelayMinutes(nDraw1, nDraw2) * 60;
}

bool isUsableVersionName(const QString& strName)
{
    static const QRegularExpression kPattern(
        QRegularExpression::anchoredPattern(QStringLiteral("V[0-9]+(\\.[0-9]+)*[A-Za-z0-9._-]*")));
    if (strName.isEmpty() || strName.size() > MAX_VERSION_NAME_LENGTH)
        return false;
    if (strName.contains(QLatin1String("..")))
        return false;
    return kPattern.match(strName).hasMatch();
}

int compareVersionNames(const QString& strLeft, const QString& strRight)
{
    // fromString takes the leading dotted run of numbers and ignores the rest.
    // QVersionNumber ranks 1.0.4.0 above 1.0.4; trailing zero segments are
    // dropped first so that both name the same version.
    return QVersionNumber::compare(QVersionNumber::fromString(strLeft.mid(1)).normalized(),
                                   QVersionNumber::fromString(strRight.mid(1)).normalized());
}

QString pickNewerVersionName(const QString& strBest, const QString& strCandidate)
{
    if (!isUsableVersionName(strCandidate))
        return strBest;
    if (strBest.isEmpty())
        return strCandidate;
    // On a tie the name seen first stays.
    return compareVersionNames(strCandidate, strBest) > 0 ? strCandidate : strBest;
}

QString newerThanRunning(const QString& strNewest, const QString& strRunning)
{
    if (strNewest.isEmpty())
        return QString();
    return compareVersionNames(strRunning, strNewest) >= 0 ? QString() : strNewest;
}

bool pingOutputShowsReply(const QByteArray& output)
{
    return QString::fromLocal8Bit(output).contains(QLatin1String("ttl="), Qt::CaseInsensitive);
}

bool parseUpdateServer(const QString& strValue, UpdateServer* pServer)
{
    // [v6-address]:port or host:port; the port is decimal digits only.
    static const QRegularExpression kBracketed(
        QRegularExpression::anchoredPattern(QStringLiteral("\\[([0-9A-Fa-f:.]+)\\]:([0-9]{1,5})")));
    static const QRegularExpression kPlain(
        QRegularExpression::anchoredPattern(QStringLiteral("([A-Za-z0-9._-]+):([0-9]{1,5})")));
    QRegularExpressionMatch match = kBracketed.match(strValue);
    if (!match.hasMatch())
        match = kPlain.match(strValue);
    if (!match.hasMatch())
        return false;
    const QString strHost = match.captured(1);
    const uint nPort = match.captured(2).toUInt();
    if (strHost.startsWith(QLatin1Char('-')) || strHost.size() > 253 || nPort < 1 || nPort > 65535)
        return false;
    if (pServer) {
        pServer->host = strHost;
        pServer->port = static_cast<quint16>(nPort);
    }
    return true;
}

UpdateServer updateServer()
{
    UpdateServer server;
    server.host = COMMON::FTP_HOST;
    server.port = FTP_PORT;
    const QString strValue = qEnvironmentVariable("VARNOKS_UPDATE_SERVER");
    if (!strValue.isEmpty() && !parseUpdateServer(strValue, &server)) {
        RSLogger::GetInstance()->WriteLog(
            LOG_WARNING,
            QStringLiteral("VARNOKS_UPDATE_SERVER is not host:port, using %1:%2.")
                .arg(server.host)
                .arg(server.port),
            "UpdateLogic::updateServer");
    }
    return server;
}

} // namespace UpdateLogic
