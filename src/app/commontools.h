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
