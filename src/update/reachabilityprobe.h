#pragma once

#include <QObject>
#include <QString>
#include <QStringList>

class QProcess;
class QTimer;

// Asks the system's ping whether a host answers, without blocking the
// caller. Linux ping takes -c for the number of echo requests and -W for the
// wait for each reply in seconds, and prints "ttl=" on every reply line.
class ReachabilityProbe : public QObject
{
    Q_OBJECT

public:
    // Longest wait for ping to finish, in milliseconds.
    static constexpr int DEFAULT_TIMEOUT_MS = 30000;

    explicit ReachabilityProbe(QObject* parent = nullptr);
    ~ReachabilityProbe() override;

    // Arguments for two echo requests with a one-second reply wait.
    static QStringList pingArguments(const QString& strHost);

    // The program run by start(); "ping" unless a test replaces it.
    void setProgram(const QString& strProgram) { m_strProgram = strProgram; }
    void setTimeout(int nTimeoutMs) { m_nTimeoutMs = nTimeoutMs; }

    // Starts ping for strHost; finished() follows exactly once, also when
    // the program cannot be started (false) or does not end within the
    // time-out (killed, false). Ignored while a probe runs.
    void start(const QString& strHost);
    bool isRunning() const { return m_pProcess != nullptr; }

signals:
    void finished(bool bReachable);

private:
    void finish(bool bReachable);

    QString m_strProgram = QStringLiteral("ping");
    int m_nTimeoutMs = DEFAULT_TIMEOUT_MS;
    QProcess* m_pProcess = nullptr;
    QTimer* m_pTimer = nullptr;
};
