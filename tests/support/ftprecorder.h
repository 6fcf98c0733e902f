#pragma once

#include "update/ftp/qftp.h"

#include <QElapsedTimer>
#include <QList>
#include <QObject>
#include <QStringList>
#include <QTest>

// Records everything a varnoks::QFtp reports, in order, as short texts:
// "state 3", "started 7", "finished 7 ok|error", "list <name>", "done ok|error".
class FtpRecorder : public QObject
{
public:
    explicit FtpRecorder(varnoks::QFtp* ftp) : m_ftp(ftp)
    {
        connect(ftp, &varnoks::QFtp::stateChanged, this,
                [this](int s) { m_events << QStringLiteral("state %1").arg(s); });
        connect(ftp, &varnoks::QFtp::commandStarted, this,
                [this](int id) { m_events << QStringLiteral("started %1").arg(id); });
        connect(ftp, &varnoks::QFtp::commandFinished, this, [this](int id, bool failed) {
            m_events << QStringLiteral("finished %1 %2").arg(id).arg(failed ? "error" : "ok");
            m_errors << m_ftp->errorString();
        });
        connect(ftp, &varnoks::QFtp::listInfo, this, [this](const varnoks::QUrlInfo& i) {
            m_events << QStringLiteral("list ") + i.name();
            m_entries << i;
        });
        connect(ftp, &varnoks::QFtp::done, this, [this](bool failed) {
            m_events << QStringLiteral("done %1").arg(failed ? "error" : "ok");
            ++m_nDone;
        });
        connect(ftp, &varnoks::QFtp::dataTransferProgress, this,
                [this](qint64 done, qint64 total) { m_progress << qMakePair(done, total); });
    }

    // Runs the event loop until done() arrives (true) or the time is up.
    bool waitForDone(int timeoutMs = 20000)
    {
        QElapsedTimer timer;
        timer.start();
        while (m_nDone == 0 && timer.elapsed() < timeoutMs)
            QTest::qWait(10);
        return m_nDone > 0;
    }

    QStringList events() const { return m_events; }
    // Events of one kind ("state", "started", "finished", "list", "done").
    QStringList events(const QString& kind) const
    {
        QStringList out;
        for (const QString& e : m_events) {
            if (e.startsWith(kind + QLatin1Char(' ')))
                out << e;
        }
        return out;
    }
    QList<varnoks::QUrlInfo> entries() const { return m_entries; }
    QStringList names() const
    {
        QStringList out;
        for (const auto& e : m_entries)
            out << e.name();
        return out;
    }
    // errorString() as seen at each commandFinished.
    QStringList errors() const { return m_errors; }
    QList<QPair<qint64, qint64>> progress() const { return m_progress; }
    int doneCount() const { return m_nDone; }
    int indexOf(const QString& event) const { return m_events.indexOf(event); }

private:
    varnoks::QFtp* m_ftp;
    QStringList m_events;
    QStringList m_errors;
    QList<varnoks::QUrlInfo> m_entries;
    QList<QPair<qint64, qint64>> m_progress;
    int m_nDone = 0;
};
