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

} // namespace

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
    return static_cast<int>(qBound<qint64>(std::numeric_limits<int>::min(), value,
                                           std::numeric_limits<int>::max()));
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
