#include "reachabilityprobe.h"

#include "updatelogic.h"

#include <QProcess>

QStringList ReachabilityProbe::pingArguments(const QString& strHost)
{
    // "--" keeps a host name from ever being taken as an option.
    return {QStringLiteral("-c"), QStringLiteral("2"),  QStringLiteral("-W"),
            QStringLiteral("1"),  QStringLiteral("--"), strHost};
}

bool ReachabilityProbe::isReachable(const QString& strHost, const QString& strProgram, int nTimeoutMs)
{
    if (strHost.isEmpty())
        return false;
    QProcess process;
    process.start(strProgram, pingArguments(strHost), QIODevice::ReadWrite);
    if (!process.waitForStarted(nTimeoutMs))
        return false;
    process.closeWriteChannel();
    // Output is kept in QProcess's buffer; two echo replies are a few hundred
    // bytes, and anything longer is cut before it is searched.
    if (!process.waitForFinished(nTimeoutMs)) {
        process.kill();
        process.waitForFinished(1000);
        return false;
    }
    return UpdateLogic::pingOutputShowsReply(process.readAllStandardOutput().left(64 * 1024));
}
