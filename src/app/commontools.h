#pragma once

#include <QString>
#include <QVariant>

// Static helpers shared by every module: the settings store, the two integer
// temperature conversions, the translation file of a language, and the
// logon-task operations (implemented per platform in src/autostart).
class CommonTools
{
public:
    CommonTools() = delete;

    // Returns the stored value's text, or the default's text when the key is
    // absent or the store cannot be read. Nothing is cached between calls.
    static QVariant GetSettingValue(const QString& strKey, const QVariant& defaultValue);
    static void SetSettingValue(const QString& strKey, const QVariant& value);
    // The one reader of an integer setting (the keys in common.h): the stored
    // text as a decimal integer. Text that is no integer, a number beyond the
    // key's range, or nothing stored, reads as the key's default. Keys it
    // does not know read with default 0 and the whole int range.
    static int GetSettingInt(const QString& strKey);
    // The same rule for a value that arrives as text, such as the value of a
    // changed setting.
    static int SettingValueToInt(const QString& strKey, const QString& strValue);
    // A sensor choice (the keys in common.h): "auto", or an identity of the
    // form chip:feature made of letters, digits and "_.:+-", at most
    // MAX_SENSOR_CHOICE_LENGTH long. Anything else, or nothing stored, reads
    // as "auto".
    static QString GetSensorChoice(const QString& strKey);
    static QString SensorChoiceFromText(const QString& strValue);
    // Temperature unit: 0 is Celsius, any other value Fahrenheit.
    static bool IsFahrenheit(int nTemperatureUnit);

    // Path of the file that holds the settings.
    static QString SettingsFilePath();

    // Integer arithmetic, truncating toward zero.
    static int CelsiusToFahrenheit(const int& nCelsius);
    static int FahrenheitToCelsius(const int& nFahrenheit);

    // 1 -> zh_TW, 2 -> English, every other index -> zh_CN.
    static QString GetTranslationFile(int nLanguage);

    // Logon task.
    static bool IsTaskExists(const QString& strTaskName);
    static bool AddTaskToScheduler(const QString& strTaskName, const QString& strProgramPath);
    static void SetTaskEnabledState(const QString& strTaskName, bool bEnabled);
};
