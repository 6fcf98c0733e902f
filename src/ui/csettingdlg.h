#pragma once

#include <QDialog>
#include <QString>

#include <functional>

struct SensorCandidate;

namespace Ui {
class SettingDlg;
}

// The settings window. Every control writes its own setting the moment it
// changes and, for most of them, announces the change as (setting key, new
// value in decimal); there is no OK or Cancel button. Closing only hides it.
class CSettingDlg : public QDialog
{
    Q_OBJECT

public:
    explicit CSettingDlg(QWidget* parent = nullptr);
    ~CSettingDlg() override;

    // Where the sensor chooser takes the readings it offers; without one it
    // offers only the automatic choice (and a stored one).
    using CandidateSource = std::function<QList<SensorCandidate>(int nKind)>;
    void setSensorCandidateSource(CandidateSource source) { m_candidateSource = std::move(source); }

signals:
    void settingInfoChanged(QString strSettingName, QString strSettingValue);

private slots:
    // Connected by object name when the form is built.
    void on_cmb_language_activated(int index);
    void on_cmb_start_up_activated(int index);
    void on_cmb_temperature_unit_activated(int index);
    void on_spinBox_changeInterval_valueChanged(int nInterval);
    void on_spinBox_cpu_temp_alarm_valueChanged(int nTemperatureAlarm);
    void on_spinBox_gpu_temp_alarm_valueChanged(int nTemperatureAlarm);
    void on_spinBox_fanRpm_alarm_valueChanged(int nFanRpmAlarm);
    void on_checkBox_displayCPUTemp_stateChanged(int nValue);
    void on_checkBox_displayGPUTemp_stateChanged(int nValue);
    void on_checkBox_displayFanSpeed_stateChanged(int nValue);
    void on_btn_choose_sensors_clicked();
    // A choice the sensor chooser reports: stored and announced like the
    // other settings.
    void onSensorChoiceChanged(QString strKey, QString strChoice);

private:
    void LoadSettings();
    // Shows the unit sign of nUnit (0 Celsius, 1 Fahrenheit) in the two
    // threshold labels.
    void ShowUnitSign(int nUnit);
    void StoreAndAnnounce(const QString& strKey, int nValue);

    Ui::SettingDlg* m_pUi = nullptr;
    CandidateSource m_candidateSource;
};
