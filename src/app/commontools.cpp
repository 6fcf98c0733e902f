#include "commontools.h"

#include "common.h"

#include <QCoreApplication>
#include <QSettings>

#include <limits>

namespace {

QString settingsApplicationName()
{
    const QString name = QCoreApplication::applicationName();
    // Without an application object (or before its name is set) the store
    // is still the program's own.
    return name.isEmpty() ? COMMON::APPLICATION_NAME : name;
}

struct IntSettingRule
{
    int nDefault;
    int nMin;
    int nMax;
};

constexpr int INT_LOWEST = std::numeric_limits<int>::min();
constexpr int INT_HIGHEST = std::numeric_limits<int>::max();

// Bounded keys hold what the settings dialog can store; the others have a
// rule for every integer (an unknown language loads Simplified Chinese, any
// non-zero unit is Fahrenheit, any non-zero display flag shows the reading).
IntSettingRule ruleOf(const QString& strKey)
{
    using namespace COMMON;
    static const struct
    {
        const QString& key;
        IntSettingRule rule;
    } rules[] = {
        {KEY_LANGUAGE, {DEFAULT_LANGUAGE, INT_LOWEST, INT_HIGHEST}},
        {KEY_STARTUP, {DEFAULT_STARTUP, INT_LOWEST, INT_HIGHEST}},
        {KEY_TEMPERATURE_UNIT, {DEFAULT_TEMPERATURE_UNIT, INT_LOWEST, INT_HIGHEST}},
        {KEY_CHANGE_INTERVAL, {DEFAULT_CHANGE_INTERVAL, MIN_CHANGE_INTERVAL, MAX_CHANGE_INTERVAL}},
        {KEY_CPU_TEMP_ALARM, {DEFAULT_CPU_TEMP_ALARM, MIN_TEMP_ALARM, MAX_TEMP_ALARM}},
        {KEY_GPU_TEMP_ALARM, {DEFAULT_GPU_TEMP_ALARM, MIN_TEMP_ALARM, MAX_TEMP_ALARM}},
        {KEY_USAGE_RATE_ALARM, {DEFAULT_USAGE_RATE_ALARM, MIN_USAGE_RATE_ALARM, MAX_USAGE_RATE_ALARM}},
        {KEY_FAN_RPM_ALARM, {DEFAULT_FAN_RPM_ALARM, MIN_FAN_RPM_ALARM, MAX_FAN_RPM_ALARM}},
        {KEY_DISPLAY_CPU_TEMP, {DEFAULT_DISPLAY_CPU_TEMP, INT_LOWEST, INT_HIGHEST}},
        {KEY_DISPLAY_GPU_TEMP, {DEFAULT_DISPLAY_GPU_TEMP, INT_LOWEST, INT_HIGHEST}},
        {KEY_DISPLAY_FAN_RPM, {DEFAULT_DISPLAY_FAN_RPM, INT_LOWEST, INT_HIGHEST}},
    };
    for (const auto& entry : rules) {
        if (entry.key == strKey)
            return entry.rule;
    }
    return {0, INT_LOWEST, INT_HIGHEST};
}

} // namespace

int CommonTools::GetSettingInt(const QString& strKey)
{
    const IntSettingRule rule = ruleOf(strKey);
    return SettingValueToInt(strKey, GetSettingValue(strKey, rule.nDefault).toString());
}

int CommonTools::SettingValueToInt(const QString& strKey, const QString& strValue)
{
    const IntSettingRule rule = ruleOf(strKey);
    bool ok = false;
    // Decimal only, blanks around it allowed; a number beyond int fails too.
    const int nValue = strValue.trimmed().toInt(&ok, 10);
    if (!ok || nValue < rule.nMin || nValue > rule.nMax)
        return rule.nDefault;
    return nValue;
}

QString CommonTools::GetSensorChoice(const QString& strKey)
{
    return SensorChoiceFromText(GetSettingValue(strKey, COMMON::SENSOR_CHOICE_AUTO).toString());
}

QString CommonTools::SensorChoiceFromText(const QString& strValue)
{
    // The value names a reading, never a path; it is matched as a whole
    // against what the sensor source reports, so a narrow alphabet suffices.
    const QString strChoice = strValue.trimmed();
    if (strChoice.isEmpty() || strChoice.size() > COMMON::MAX_SENSOR_CHOICE_LENGTH)
        return COMMON::SENSOR_CHOICE_AUTO;
    for (const QChar c : strChoice) {
        const ushort u = c.unicode();
        const bool bAllowed = (u >= 'a' && u <= 'z') || (u >= 'A' && u <= 'Z') || (u >= '0' && u <= '9') ||
                              u == '_' || u == '.' || u == ':' || u == '+' || u == '-';
        if (!bAllowed)
            return COMMON::SENSOR_CHOICE_AUTO;
    }
    // chip:feature, both parts present.
    const int nColon = strChoice.lastIndexOf(QLatin1Char(':'));
    if (nColon <= 0 || nColon == strChoice.size() - 1)
        return COMMON::SENSOR_CHOICE_AUTO;
    return strChoice;
}

bool CommonTools::IsFahrenheit(int nTemperatureUnit)
{
    return nTemperatureUnit != COMMON::TEMPERATURE_UNIT_CELSIUS;
}

QVariant CommonTools::GetSettingValue(const QString& strKey, const QVariant& defaultValue)
{
    QSettings settings(QSettings::NativeFormat, QSettings::UserScope, COMMON::SETTINGS_ORGANIZATION,
                       settingsApplicationName());
    settings.setIniCodec("UTF-8");
    return QVariant(settings.value(strKey, defaultValue).toString());
}

void CommonTools::SetSettingValue(const QString& strKey, const QVariant& value)
{
    QSettings settings(QSettings::NativeFormat, QSettings::UserScope, COMMON::SETTINGS_ORGANIZATION,
                       settingsApplicationName());
    settings.setIniCodec("UTF-8");
    settings.setValue(strKey, value);
    settings.sync();
}

QString CommonTools::SettingsFilePath()
{
    QSettings settings(QSettings::NativeFormat, QSettings::UserScope, COMMON::SETTINGS_ORGANIZATION,
                       settingsApplicationName());
    return settings.fileName();
}

// Values come from the settings file and from sensors, so they may be
// anything an int holds; the arithmetic is done wide and clamped back so that
// a hostile value cannot overflow.
static int clampToInt(qint64 value)
{
    return static_cast<int>(
        qBound<qint64>(std::numeric_limits<int>::min(), value, std::numeric_limits<int>::max()));
}

int CommonTools::CelsiusToFahrenheit(const int& nCelsius)
{
    return clampToInt((qint64(nCelsius) * 9) / 5 + 32);
}

int CommonTools::FahrenheitToCelsius(const int& nFahrenheit)
{
    return clampToInt(((qint64(nFahrenheit) - 32) * 5) / 9);
}

QString CommonTools::GetTranslationFile(int nLanguage)
{
    switch (nLanguage) {
    case 1:
        return QStringLiteral(":/zh_TW.qm");
    case 2:
        return QStringLiteral(":/eg_EN.qm");
    default:
        return QStringLiteral(":/zh_CN.qm");
    }
}
