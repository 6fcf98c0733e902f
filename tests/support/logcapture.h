#pragma once

#include <QMutex>
#include <QStringList>
#include <QtGlobal>

// Collects every line the program sends to Qt's debug output while it lives
// (the run log echoes each of its lines there), from any thread.
class LogCapture
{
public:
    LogCapture();
    ~LogCapture();

    QStringList lines() const;
    // Lines containing the text.
    QStringList matching(const QString& text) const;
    int count(const QString& text) const { return matching(text).size(); }
    void clear();

private:
    static void handler(QtMsgType type, const QMessageLogContext& context, const QString& message);

    mutable QMutex m_mutex;
    QStringList m_lines;
    QtMessageHandler m_previous = nullptr;
};
