#pragma once

#include <QList>
#include <QMessageBox>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>

#include <functional>

class QTimer;

// Answers the application's modal windows as they appear, in order, and
// remembers what each message box said. Create it before the call that
// opens the first one; it answers for as long as it lives.
//
// Message boxes take the scripted answers (a button, or an action of the
// test's own); boxes beyond the script get the fallback button. Other modal
// windows (dialogs) are left alone unless the next scripted answer is an
// action, which is then handed the window; a scripted button waits for the
// next message box.
class BoxAnswerer : public QObject
{
    Q_OBJECT

public:
    struct Seen
    {
        QMessageBox::Icon icon = QMessageBox::NoIcon;
        QString title;
        QString text;
        bool hasCancel = false;
        QStringList captions; // button texts, sorted
        QWidget* parent = nullptr;
        Qt::WindowFlags flags;
        bool quitOnClose = true;
    };
    using Action = std::function<void(QWidget*)>;

    explicit BoxAnswerer(QObject* parent = nullptr);

    // Presses that button (or Ok where the box has no such button).
    void push(QMessageBox::StandardButton answer);
    // Does whatever the test needs with the next modal window.
    void push(Action action);
    void setFallback(QMessageBox::StandardButton answer) { m_fallback = answer; }
    // Runs for every message box before it is answered.
    void setObserver(std::function<void(const Seen&)> observer) { m_observer = std::move(observer); }

    const QList<Seen>& seen() const { return m_seen; }
    int count() const { return m_seen.size(); }

    static Action pressing(QMessageBox::StandardButton answer);

private:
    void poll();

    QTimer* m_pTimer = nullptr;
    struct Scripted
    {
        Action action;
        bool anyWindow; // false: message boxes only
    };
    QList<Scripted> m_answers;
    QMessageBox::StandardButton m_fallback = QMessageBox::Cancel;
    QList<Seen> m_seen;
    QPointer<QWidget> m_pLast;
    std::function<void(const Seen&)> m_observer;
};

// Runs the body inside the application's own event loop, the only place
// where the last window closing can end the program, and returns exec()'s
// result: 42 when the loop ran on to the end (100 ms after the body),
// anything else when something asked the application to quit.
int runInApplicationLoop(std::function<void()> body);
