#include "boxanswerer.h"

#include <QAbstractButton>
#include <QApplication>
#include <QTimer>

BoxAnswerer::BoxAnswerer(QObject* parent) : QObject(parent)
{
    m_pTimer = new QTimer(this);
    connect(m_pTimer, &QTimer::timeout, this, &BoxAnswerer::poll);
    m_pTimer->start(10);
}

void BoxAnswerer::push(QMessageBox::StandardButton answer)
{
    m_answers.append({pressing(answer), false});
}

void BoxAnswerer::push(Action action)
{
    m_answers.append({std::move(action), true});
}

BoxAnswerer::Action BoxAnswerer::pressing(QMessageBox::StandardButton answer)
{
    return [answer](QWidget* modal) {
        auto* box = qobject_cast<QMessageBox*>(modal);
        if (!box) {
            modal->close();
            return;
        }
        QAbstractButton* button = box->button(answer);
        if (!button)
            button = box->button(QMessageBox::Ok);
        if (button)
            button->click();
    };
}

void BoxAnswerer::poll()
{
    QWidget* modal = QApplication::activeModalWidget();
    if (!modal || modal == m_pLast || !modal->isVisible())
        return;
    auto* box = qobject_cast<QMessageBox*>(modal);
    if (!box && (m_answers.isEmpty() || !m_answers.first().anyWindow))
        return;
    m_pLast = modal;
    if (box) {
        Seen seen;
        seen.icon = box->icon();
        seen.title = box->windowTitle();
        seen.text = box->text();
        seen.hasCancel = box->button(QMessageBox::Cancel) != nullptr;
        for (QAbstractButton* button : box->buttons())
            seen.captions << button->text();
        seen.captions.sort();
        seen.parent = box->parentWidget();
        seen.flags = box->windowFlags();
        seen.quitOnClose = box->testAttribute(Qt::WA_QuitOnClose);
        m_seen.append(seen);
        if (m_observer)
            m_observer(seen);
    }
    const Action answer = m_answers.isEmpty() ? pressing(m_fallback) : m_answers.takeFirst().action;
    // Answered from the event loop, outside this poll: the answer may end
    // the modal loop, delete the window or open the next one.
    QPointer<QWidget> target = modal;
    QTimer::singleShot(0, this, [target, answer]() {
        if (target)
            answer(target);
    });
}

int runInApplicationLoop(std::function<void()> body)
{
    // The end timer dies with this call: a loop ended by the body leaves
    // nothing behind that could end a later loop.
    QTimer end;
    end.setSingleShot(true);
    QObject::connect(&end, &QTimer::timeout, []() { QCoreApplication::exit(42); });
    QTimer::singleShot(0, &end, [&end, body]() {
        body();
        end.start(100);
    });
    return QApplication::exec();
}
