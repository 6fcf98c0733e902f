#include "devsimwindow.h"

#include "device/hidreport.h"

#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

DevsimWindow::DevsimWindow(const QStringList& names, QWidget* parent) : QWidget(parent)
{
    setWindowTitle(QStringLiteral("varnoks-devsim"));
    auto* row = new QHBoxLayout(this);
    for (const QString& name : names) {
        auto* frame = new QFrame(this);
        frame->setFrameShape(QFrame::Box);
        frame->setMinimumWidth(160);
        auto* column = new QVBoxLayout(frame);
        auto* title = new QLabel(name, frame);
        Panel panel;
        panel.item = new QLabel(QStringLiteral("waiting"), frame);
        panel.value = new QLabel(QStringLiteral("--"), frame);
        QFont big = panel.value->font();
        big.setPointSize(big.pointSize() * 2);
        big.setBold(true);
        panel.value->setFont(big);
        column->addWidget(title);
        column->addWidget(panel.item);
        column->addWidget(panel.value);
        row->addWidget(frame);
        m_panels.insert(name, panel);
    }
}

void DevsimWindow::showState(const QString& name, const DisplayState& state)
{
    const auto it = m_panels.constFind(name);
    if (it == m_panels.constEnd())
        return;
    const QString degrees = state.fahrenheit ? QStringLiteral("\u2109") : QStringLiteral("\u2103");
    QString item;
    QString value;
    switch (state.item) {
    case HidReport::ITEM_CPU_TEMPERATURE:
        item = QStringLiteral("CPU temperature");
        value = QString::number(state.cpu) + degrees;
        break;
    case HidReport::ITEM_CPU_USAGE:
        item = QStringLiteral("CPU usage");
        value = QString::number(state.cpuUsage) + QLatin1Char('%');
        break;
    case HidReport::ITEM_GPU_TEMPERATURE:
        item = QStringLiteral("GPU temperature");
        value = QString::number(state.gpu) + degrees;
        break;
    case HidReport::ITEM_GPU_USAGE:
        item = QStringLiteral("GPU usage");
        value = QString::number(state.gpuUsage) + QLatin1Char('%');
        break;
    case HidReport::ITEM_FAN_RPM:
        item = QStringLiteral("Fan speed");
        value = QString::number(state.fan) + QStringLiteral(" RPM");
        break;
    default:
        item = QStringLiteral("item %1").arg(state.item);
        value = QStringLiteral("--");
        break;
    }
    it->item->setText(item);
    it->value->setText(value);
    it->value->setStyleSheet(state.alarm != 0 ? QStringLiteral("color: red;") : QString());
}

void DevsimWindow::showPlugged(const QString& name, bool plugged)
{
    const auto it = m_panels.constFind(name);
    if (it == m_panels.constEnd())
        return;
    it->item->setText(plugged ? QStringLiteral("waiting") : QStringLiteral("unplugged"));
    it->value->setText(QStringLiteral("--"));
    it->value->setStyleSheet(QString());
}
