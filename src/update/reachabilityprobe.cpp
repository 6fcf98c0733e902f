#include "reachabilityprobe.h"

#include "updatelogic.h"

#include <QProcess>
#include <QTimer>

namespace {
// Two echo replies are a few hundred bytes; a program that prints more is
// not read beyond this.
constexpr qint64 MAX_OUTPUT_BYTES = 64 * 1024;
} // namespace

ReachabilityProbe::ReachabilityProbe(QObject* parent) : QObject(parent)
{
    m_pTimer = new QTimer(this);
    m_pTimer->setSingleShot(true);
    connect(m_pTimer, &QTimer::timeout, this, [this] { finish(false); });
}

ReachabilityProbe::~ReachabilityProbe()
{
    if (m_pProcess) {
        m_pProcess->disconnect(this);
        m_pProcess->kill();
        m_pProcess->waitForFinished(1000);
        delete m_pProcess;
    }
}

QStringList ReachabilityProbe::pingArguments(const QString& strHost)
{
    // "--" keeps a host name from ever being taken as an option.
    return {QStringLiteral("-c"), QStringLiteral("2"),  QStringLiteral("-W"),
            QStringLiteral("1"),  QStringLiteral("--"), strHost};
}

void ReachabilityProbe::start(const QString& strHost)
{
    if (m_pProcess)
        return;
    QProcess* pProcess = new QProcess(this);
    m_pProcess = pProcess;
    connect(pProcess, &QProcess::errorOccurred, this, [this](QProcess::ProcessError error) {
        if (error == QProcess::FailedToStart)
            finish(false);
    });
    connect(pProcess, QOverload<int, QProcess::ExitStatus>::of(&QProcess::finished), this, [this, pProcess] {
        finish(UpdateLogic::pingOutputShowsReply(pProcess->readAllStandardOutput().left(MAX_OUTPUT_BYTES)));
    });
    connect(pProcess, &QProcess::readyReadStandardOutput, this, [this, pProcess] {
        // Keep the buffer bounded for a program that never stops talking.
        if (pProcess->bytesAvailable() > MAX_OUTPUT_BYTES)
            finish(
                UpdateLogic::pingOutputShowsReply(pProcess->readAllStandardOutput().left(MAX_OUTPUT_BYTES)));
    });
    m_pTimer->start(m_nTimeoutMs);
    if (strHost.isEmpty()) {
        QTimer::singleShot(0, this, [this] { finish(false); });
        return;
    }
    pProcess->setStandardErrorFile(QProcess::nullDevice());
    // finish() may already have run (and scheduled pProcess for deletion)
    // when start() reports a failure at once; pProcess stays valid until the
    // event loop runs.
    pProcess->start(m_strProgram, pingArguments(strHost), QIODevice::ReadWrite);
    if (m_pProcess == pProcess)
        pProcess->closeWriteChannel();
}

void ReachabilityProbe::finish(bool bReachable)
{
    if (!m_pProcess)
        return;
    m_pTimer->stop();
    QProcess* pProcess = m_pProcess;
    m_pProcess = nullptr;
    pProcess->disconnect(this);
    if (pProcess->state() != QProcess::NotRunning) {
        pProcess->kill();
        pProcess->waitForFinished(1000);
    }
    pProcess->deleteLater();
    emit finished(bReachable);
}
