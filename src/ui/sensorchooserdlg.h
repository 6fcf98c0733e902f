#pragma once

#include "sensors/sensorsearch.h"

#include <QDialog>
#include <QString>

#include <functional>

class QComboBox;

// Lets the user choose, for the CPU temperature, the GPU temperature and the
// CPU fan, "Automatic" or one of the readings the machine has. Each list
// shows every candidate with its chip, label and current value. OK reports
// every choice that changed; Cancel and closing change nothing.
class CSensorChooserDlg : public QDialog
{
    Q_OBJECT

public:
    // Every reading of one kind the user may choose.
    using CandidateSource = std::function<QList<SensorCandidate>(int nKind)>;

    // currentChoices: the stored choice of each reading, in the order of
    // COMMON::SENSOR_CHOICE_KEYS ("auto" or an identity).
    CSensorChooserDlg(const CandidateSource& source, const QStringList& currentChoices,
                      QWidget* parent = nullptr);

signals:
    // One choice the user changed: its settings key and the new value.
    void sensorChoiceChanged(QString strKey, QString strChoice);

private:
    void FillList(int nReading, const QList<SensorCandidate>& candidates, const QString& strCurrent);
    void ReportChanges();

    QComboBox* m_lists[3] = {nullptr, nullptr, nullptr};
    QStringList m_current;
};
