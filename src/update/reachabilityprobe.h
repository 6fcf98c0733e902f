#pragma once

#include <QString>
#include <QStringList>

// Asks the system's ping whether a host answers. Linux ping takes -c for the
// number of echo requests and -W for the wait for each reply in seconds, and
// prints "ttl=" on every reply line.
class ReachabilityProbe
{
public:
    // Longest wait for ping to finish, in milliseconds.
    static constexpr int DEFAULT_TIMEOUT_MS = 30000;

    // Arguments for two echo requests with a one-second reply wait.
    static QStringList pingArguments(const QString& strHost);

    // Runs strProgram with pingArguments(strHost) and blocks until it ends or
    // nTimeoutMs pass (the process is then killed). A program that cannot be
    // started, a time-out or output without a reply marker all mean
    // unreachable.
    static bool isReachable(const QString& strHost, const QString& strProgram = QStringLiteral("ping"),
                            int nTimeoutMs = DEFAULT_TIMEOUT_MS);
};
