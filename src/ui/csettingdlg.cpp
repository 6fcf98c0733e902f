#include "csettingdlg.h"

#include "app/common.h"
#include "app/commontools.h"
#include "ui/messageboxshow.h"
#include "ui/sensorchooserdlg.h"
#include "ui_csettingdlg.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QMessageBox>
#include <QTranslator>

namespace {

const QChar DEGREE_CELSIUS(0x2103);    // ℃
const QChar DEGREE_FAHRENHEIT(0x2109); // ℉

// The unit the thresholds are stored in, as the combo box shows it: 0 is
// Celsius, anything else Fahrenheit, as for every reader of the setting.
int UnitInEffect()
{
    return CommonTools::IsFahrenheit(CommonTools::GetSettingInt(COMMON::KEY_TEMPERATURE_UNIT))
               ? COMMON::TEMPERATURE_UNIT_FAHRENHEIT
               : COMMON::TEMPERATURE_UNIT_CELSIUS;
}

// The language the program runs in: indexes the start-up code does not know
// load the Simplified Chinese catalogue.
int LanguageInEffect()
{
    const int nLanguage = CommonTools::GetSettingInt(COMMON::KEY_LANGUAGE);
    return (nLanguage == 1 || nLanguage == 2) ? nLanguage : 0;
}

} // namespace

CSettingDlg::CSettingDlg(QWidget* parent) : QDialog(parent), m_pUi(new Ui::SettingDlg)
{
    // Builds the widgets, translates them, selects "No" in the start-up
    // selector and connects the on_* slots; loading comes after, so values
    // that differ from the form's run their slots (nobody listens yet).
    m_pUi->setupUi(this);
    setFixedSize(425, 520);
    setWindowFlags(Qt::Dialog | Qt::WindowCloseButtonHint);
    // The main window is hidden while the program runs; closing this must
    // not end the program.
    setAttribute(Qt::WA_QuitOnClose, false);
    LoadSettings();
}

CSettingDlg::~CSettingDlg()
{
    delete m_pUi;
}

void CSettingDlg::LoadSettings()
{
    m_pUi->cmb_language->setCurrentIndex(LanguageInEffect());

    // The logon entry follows the stored choice at every start.
    const int nStartUp = CommonTools::GetSettingInt(COMMON::KEY_STARTUP) == 0 ? 0 : 1;
    m_pUi->cmb_start_up->setCurrentIndex(nStartUp);
    CommonTools::SetSettingValue(COMMON::KEY_STARTUP, nStartUp);
    CommonTools::SetTaskEnabledState(COMMON::TASK_NAME, nStartUp == 0);

    const int nUnit = UnitInEffect();
    m_pUi->cmb_temperature_unit->setCurrentIndex(nUnit);
    if (nUnit == 1)
        ShowUnitSign(1);

    // Thresholds are stored in the selected unit; no conversion here. Values
    // the dialog could not have stored read as their defaults.
    m_pUi->spinBox_changeInterval->setValue(CommonTools::GetSettingInt(COMMON::KEY_CHANGE_INTERVAL));
    m_pUi->spinBox_cpu_temp_alarm->setValue(CommonTools::GetSettingInt(COMMON::KEY_CPU_TEMP_ALARM));
    m_pUi->spinBox_gpu_temp_alarm->setValue(CommonTools::GetSettingInt(COMMON::KEY_GPU_TEMP_ALARM));
    m_pUi->spinBox_fanRpm_alarm->setValue(CommonTools::GetSettingInt(COMMON::KEY_FAN_RPM_ALARM));

    // Ticked when nothing is stored, as the rotation shows all three then.
    // A stored value that ticks the box is stored again as the box's own
    // state, 2: a 1 (or anything else that reads as ticked) becomes 2.
    const std::pair<QCheckBox*, const QString*> flags[] = {
        {m_pUi->checkBox_displayCPUTemp, &COMMON::KEY_DISPLAY_CPU_TEMP},
        {m_pUi->checkBox_displayGPUTemp, &COMMON::KEY_DISPLAY_GPU_TEMP},
        {m_pUi->checkBox_displayFanSpeed, &COMMON::KEY_DISPLAY_FAN_RPM}};
    for (const auto& flag : flags) {
        const QString& strKey = *flag.second;
        const bool bTicked = CommonTools::GetSettingInt(strKey) != 0;
        flag.first->setChecked(bTicked);
        const QString strStored = CommonTools::GetSettingValue(strKey, QVariant()).toString();
        if (bTicked && !strStored.isNull() && strStored != QString::number(Qt::Checked))
            CommonTools::SetSettingValue(strKey, int(Qt::Checked));
    }
}

void CSettingDlg::ShowUnitSign(int nUnit)
{
    const QChar from = nUnit == 1 ? DEGREE_CELSIUS : DEGREE_FAHRENHEIT;
    const QChar to = nUnit == 1 ? DEGREE_FAHRENHEIT : DEGREE_CELSIUS;
    m_pUi->lbl_cpu_temp_alarm->setText(m_pUi->lbl_cpu_temp_alarm->text().replace(from, to));
    m_pUi->lbl_gpu_temp_alarm->setText(m_pUi->lbl_gpu_temp_alarm->text().replace(from, to));
}

void CSettingDlg::StoreAndAnnounce(const QString& strKey, int nValue)
{
    CommonTools::SetSettingValue(strKey, nValue);
    emit settingInfoChanged(strKey, QString::number(nValue));
}

void CSettingDlg::on_cmb_language_activated(int index)
{
    MessageBoxShow box(this, QMessageBox::Question);
    const int nAnswer = box.showConfirmCancel(tr("温馨提示"), tr("更改语言需要重新启动才能生效。"));
    if (nAnswer != QMessageBox::Ok) {
        // Show the language in effect again; nothing is stored.
        m_pUi->cmb_language->setCurrentIndex(LanguageInEffect());
        return;
    }

    // The new language applies at the next start; the program ends here.
    QTranslator translator;
    translator.load(CommonTools::GetTranslationFile(index), QString(), QString(), QString());
    QCoreApplication::installTranslator(&translator);
    m_pUi->retranslateUi(this);
    if (UnitInEffect() == 1)
        ShowUnitSign(1);
    CommonTools::SetSettingValue(COMMON::KEY_LANGUAGE, index);
    QCoreApplication::quit();
}

void CSettingDlg::on_cmb_start_up_activated(int index)
{
    CommonTools::SetSettingValue(COMMON::KEY_STARTUP, index);
    CommonTools::SetTaskEnabledState(COMMON::TASK_NAME, index == 0);
}

void CSettingDlg::on_cmb_temperature_unit_activated(int index)
{
    const int nCpuAlarm = CommonTools::GetSettingInt(COMMON::KEY_CPU_TEMP_ALARM);
    const int nGpuAlarm = CommonTools::GetSettingInt(COMMON::KEY_GPU_TEMP_ALARM);
    if (index != UnitInEffect()) {
        // Setting a spin box runs its slot, which stores and announces the
        // converted threshold. The range stays 0 to 220 in both units, so a
        // value beyond it lands on the bound.
        if (index == 1) {
            m_pUi->spinBox_cpu_temp_alarm->setValue(CommonTools::CelsiusToFahrenheit(nCpuAlarm));
            m_pUi->spinBox_gpu_temp_alarm->setValue(CommonTools::CelsiusToFahrenheit(nGpuAlarm));
        } else {
            m_pUi->spinBox_cpu_temp_alarm->setValue(CommonTools::FahrenheitToCelsius(nCpuAlarm));
            m_pUi->spinBox_gpu_temp_alarm->setValue(CommonTools::FahrenheitToCelsius(nGpuAlarm));
        }
    }
    ShowUnitSign(index);
    // Receivers see the converted thresholds before the unit.
    StoreAndAnnounce(COMMON::KEY_TEMPERATURE_UNIT, index);
}

void CSettingDlg::on_spinBox_changeInterval_valueChanged(int nInterval)
{
    StoreAndAnnounce(COMMON::KEY_CHANGE_INTERVAL, nInterval);
}

void CSettingDlg::on_spinBox_cpu_temp_alarm_valueChanged(int nTemperatureAlarm)
{
    StoreAndAnnounce(COMMON::KEY_CPU_TEMP_ALARM, nTemperatureAlarm);
}

void CSettingDlg::on_spinBox_gpu_temp_alarm_valueChanged(int nTemperatureAlarm)
{
    StoreAndAnnounce(COMMON::KEY_GPU_TEMP_ALARM, nTemperatureAlarm);
}

void CSettingDlg::on_spinBox_fanRpm_alarm_valueChanged(int nFanRpmAlarm)
{
    StoreAndAnnounce(COMMON::KEY_FAN_RPM_ALARM, nFanRpmAlarm);
}

void CSettingDlg::on_checkBox_displayCPUTemp_stateChanged(int nValue)
{
    StoreAndAnnounce(COMMON::KEY_DISPLAY_CPU_TEMP, nValue);
}

void CSettingDlg::on_checkBox_displayGPUTemp_stateChanged(int nValue)
{
    StoreAndAnnounce(COMMON::KEY_DISPLAY_GPU_TEMP, nValue);
}

void CSettingDlg::on_checkBox_displayFanSpeed_stateChanged(int nValue)
{
    StoreAndAnnounce(COMMON::KEY_DISPLAY_FAN_RPM, nValue);
}

void CSettingDlg::on_btn_choose_sensors_clicked()
{
    QStringList choices;
    for (const QString& strKey : COMMON::SENSOR_CHOICE_KEYS)
        choices << CommonTools::GetSensorChoice(strKey);
    CSensorChooserDlg chooser(m_candidateSource, choices, this);
    connect(&chooser, &CSensorChooserDlg::sensorChoiceChanged, this, &CSettingDlg::onSensorChoiceChanged);
    chooser.exec();
}

void CSettingDlg::onSensorChoiceChanged(QString strKey, QString strChoice)
{
    const QString strValid = CommonTools::SensorChoiceFromText(strChoice);
    CommonTools::SetSettingValue(strKey, strValid);
    emit settingInfoChanged(strKey, strValid);
}
