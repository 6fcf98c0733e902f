#pragma once

#include <QApplication>
#include <QTimer>
#include <QWidget>

#include <functional>

// Answers the next modal window: polls from the event loop until a modal
// widget is active, then hands it to the answer. Schedule before the call
// that runs the modal loop.
inline void answerNextModal(std::function<void(QWidget*)> answer, int attempts = 500)
{
    QTimer::singleShot(10, qApp, [answer, attempts]() {
        if (QWidget* modal = QApplication::activeModalWidget()) {
            answer(modal);
            return;
        }
        if (attempts > 0)
            answerNextModal(answer, attempts - 1);
    });
}

// Runs the body inside the application's own event loop, the only place
// where the last window closing can end the program, and returns exec()'s
// result: 42 when the loop ran on to the end, anything else when something
// asked the application to quit.
inline int runInApplicationLoop(std::function<void()> body)
{
    QTimer::singleShot(0, qApp, [body]() {
        body();
        QTimer::singleShot(100, qApp, []() { QCoreApplication::exit(42); });
    });
    return QApplication::exec();
}
