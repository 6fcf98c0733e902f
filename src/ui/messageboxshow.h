#pragma once

#include <QMessageBox>
#include <QObject>
#include <QPointer>

// The application's one modal question or notice box. Its button captions
// come from this class's own translation context, so every box shows the
// same words, and closing a box never ends the application (which lives in
// the tray with its main window hidden).
//
// Create on the stack for one question, then compare the result with
// QMessageBox::Ok (1024). Cancel, Escape and the title-bar close button of a
// two-button box give QMessageBox::Cancel.
class MessageBoxShow : public QObject
{
    Q_OBJECT

public:
    // parent: the widget on whose behalf the box is shown; it becomes the
    // box's parent widget (and so passes on its style sheet). It is not this
    // object's owner: this object lives on the caller's stack, and the parent
    // may be deleted while the box is open (the box then returns Cancel).
    MessageBoxShow(QObject* parent, QMessageBox::Icon icon);

    int showConfirmCancel(const QString& strTitle, const QString& strText);
    int showConfirm(const QString& strTitle, const QString& strText);
    // Closes the open box as Cancel would (as Ok for a box without Cancel),
    // for a question that something else has answered meanwhile.
    void dismiss();

private:
    int showBox(const QString& strTitle, const QString& strText, QMessageBox::StandardButtons buttons);

    QMessageBox::Icon m_icon;
    QPointer<QWidget> m_pParentWidget;
    QPointer<QMessageBox> m_pBox; // while a show call runs
};
