#pragma once

#include "devicesimulator.h"

#include <QMap>
#include <QWidget>

class QLabel;

// One small panel per device showing what its display would show: the item,
// its value with unit, and the alarm in red.
class DevsimWindow : public QWidget
{
    Q_OBJECT
public:
    explicit DevsimWindow(const QStringList& names, QWidget* parent = nullptr);

    void showState(const QString& name, const DisplayState& state);
    void showPlugged(const QString& name, bool plugged);

private:
    struct Panel
    {
        QLabel* item = nullptr;
        QLabel* value = nullptr;
    };
    QMap<QString, Panel> m_panels;
};
