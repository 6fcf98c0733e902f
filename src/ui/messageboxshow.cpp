#include "ui/messageboxshow.h"

#include <QAbstractButton>
#include <QPointer>

MessageBoxShow::MessageBoxShow(QObject* parent, QMessageBox::Icon icon)
    : QObject(nullptr), m_icon(icon), m_pParentWidget(qobject_cast<QWidget*>(parent))
{
}

int MessageBoxShow::showConfirmCancel(const QString& strTitle, const QString& strText)
{
    return showBox(strTitle, strText, QMessageBox::Ok | QMessageBox::Cancel);
}

int MessageBoxShow::showConfirm(const QString& strTitle, const QString& strText)
{
    return showBox(strTitle, strText, QMessageBox::Ok);
}

void MessageBoxShow::dismiss()
{
    if (!m_pBox)
        return;
    QAbstractButton* button = m_pBox->button(QMessageBox::Cancel);
    if (!button)
        button = m_pBox->button(QMessageBox::Ok);
    button->click();
}

int MessageBoxShow::showBox(const QString& strTitle, const QString& strText,
                            QMessageBox::StandardButtons buttons)
{
    // On the heap and watched: the modal loop runs every kind of event, and
    // should the parent go away meanwhile it takes the box with it.
    QPointer<QMessageBox> box = new QMessageBox(m_icon, strTitle, strText, buttons, m_pParentWidget.data(),
                                                Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint);
    box->setAttribute(Qt::WA_QuitOnClose, false);
    box->button(QMessageBox::Ok)->setText(tr("确定"));
    if (buttons.testFlag(QMessageBox::Cancel))
        box->button(QMessageBox::Cancel)->setText(tr("取消"));

    m_pBox = box;
    const int result = box->exec();
    m_pBox = nullptr;
    if (!box)
        return QMessageBox::Cancel; // torn down with its parent: not a confirmation
    delete box;
    return result;
}
