#include "logcapture.h"

#include <atomic>

namespace {
std::atomic<LogCapture*> g_current{nullptr};
}

LogCapture::LogCapture()
{
    g_current.store(this);
    m_previous = qInstallMessageHandler(&LogCapture::handler);
}

LogCapture::~LogCapture()
{
    qInstallMessageHandler(m_previous);
    g_current.store(nullptr);
}

void LogCapture::handler(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    LogCapture* self = g_current.load();
    if (!self)
        return;
    {
        QMutexLocker locker(&self->m_mutex);
        self->m_lines.append(message);
    }
    if (self->m_previous && qEnvironmentVariableIsSet("VARNOKS_TEST_ECHO"))
        self->m_previous(type, context, message);
}

QStringList LogCapture::lines() const
{
    QMutexLocker locker(&m_mutex);
    return m_lines;
}

QStringList LogCapture::matching(const QString& text) const
{
    QMutexLocker locker(&m_mutex);
    QStringList result;
    for (const QString& line : m_lines) {
        if (line.contains(text))
            result.append(line);
    }
    return result;
}

void LogCapture::clear()
{
    QMutexLocker locker(&m_mutex);
    m_lines.clear();
}
