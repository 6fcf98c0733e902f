#pragma once

#include <QString>

// Shared constants of the whole program. Every module includes this header so
// that each sees the same values.
namespace COMMON {

inline const QString SOFTWARE_VERSION = QStringLiteral("V1.0.4.2");
inline const QString EMPTY_VALUE_TEXT = QStringLiteral("--");
inline const QString APPLICATION_NAME = QStringLiteral("VarnoksPilot");

// USB ids of the supported display devices, hexadecimal text without padding.
inline const QString DEVICE_VID = QStringLiteral("2E3C");
inline const QString DEVICE_PID = QStringLiteral("A12");
inline const QString DEVICE_PID_2 = QStringLiteral("A15");
inline const QString MODEL_CODE = QStringLiteral("ZRN");
inline const QString MODEL_CODE_2 = QStringLiteral("QMD");

// Update server. The host lives under a reserved test domain until the
// real server has a name; VARNOKS_UPDATE_SERVER overrides it.
inline const QString FTP_HOST = QStringLiteral("updates.varnoks-pilot.example");
inline const QString FTP_USER = QStringLiteral("dlaccess42");
inline const QString FTP_PASSWORD = QStringLiteral("Kq#71Vx3");
inline const QString FTP_UPDATE_DIR = QStringLiteral("/ZRN");

inline const QString TASK_NAME = QStringLiteral("DeviceMonitorStartTask");

// Setting keys; each integer setting with the default every reader of it
// uses. The keys also travel as the name of a changed setting. Integer
// settings are read through CommonTools::GetSettingInt, which also knows the
// range of each key.
inline const QString KEY_LANGUAGE = QStringLiteral("language");
constexpr int DEFAULT_LANGUAGE = 2; // 0 Simplified Chinese, 1 Traditional Chinese, 2 English
inline const QString KEY_STARTUP = QStringLiteral("startup");
constexpr int DEFAULT_STARTUP = 0; // 0 start at logon, anything else not
inline const QString KEY_TEMPERATURE_UNIT = QStringLiteral("temperature unit");
constexpr int TEMPERATURE_UNIT_CELSIUS = 0;
constexpr int TEMPERATURE_UNIT_FAHRENHEIT = 1; // what the settings dialog stores
constexpr int DEFAULT_TEMPERATURE_UNIT = TEMPERATURE_UNIT_CELSIUS;
inline const QString KEY_CHANGE_INTERVAL = QStringLiteral("change interval");
constexpr int DEFAULT_CHANGE_INTERVAL = 2; // seconds
constexpr int MIN_CHANGE_INTERVAL = 1;
constexpr int MAX_CHANGE_INTERVAL = 60;
// Temperature thresholds are stored in the selected unit; the range is the
// same in both.
inline const QString KEY_CPU_TEMP_ALARM = QStringLiteral("CPU temperature alarm");
constexpr int DEFAULT_CPU_TEMP_ALARM = 90;
inline const QString KEY_GPU_TEMP_ALARM = QStringLiteral("GPU temperature alarm");
constexpr int DEFAULT_GPU_TEMP_ALARM = 90;
constexpr int MIN_TEMP_ALARM = 0;
constexpr int MAX_TEMP_ALARM = 220;
inline const QString KEY_USAGE_RATE_ALARM = QStringLiteral("usage rate alarm");
constexpr int DEFAULT_USAGE_RATE_ALARM = 95; // percent
constexpr int MIN_USAGE_RATE_ALARM = 0;
constexpr int MAX_USAGE_RATE_ALARM = 100;
inline const QString KEY_FAN_RPM_ALARM = QStringLiteral("fan rpm alarm");
constexpr int DEFAULT_FAN_RPM_ALARM = 300; // revolutions per minute
constexpr int MIN_FAN_RPM_ALARM = 0;
constexpr int MAX_FAN_RPM_ALARM = 10000;
// Whether a reading takes part in the display rotation: any non-zero value
// means shown. The settings dialog stores its check box state, 0 or 2.
inline const QString KEY_DISPLAY_CPU_TEMP = QStringLiteral("display cpu temperature");
constexpr int DEFAULT_DISPLAY_CPU_TEMP = 1;
inline const QString KEY_DISPLAY_GPU_TEMP = QStringLiteral("display gpu temperature");
constexpr int DEFAULT_DISPLAY_GPU_TEMP = 1;
inline const QString KEY_DISPLAY_FAN_RPM = QStringLiteral("display fan rpm");
constexpr int DEFAULT_DISPLAY_FAN_RPM = 1;
// Which reading is shown as the CPU temperature, the GPU temperature and the
// CPU fan: SENSOR_CHOICE_AUTO (also for an absent or malformed value) lets
// the program choose, anything else is a reading's stable identity,
// "chip:feature" as `sensors` names it. Read through
// CommonTools::GetSensorChoice.
inline const QString KEY_CPU_TEMPERATURE_SENSOR = QStringLiteral("cpu temperature sensor");
inline const QString KEY_GPU_TEMPERATURE_SENSOR = QStringLiteral("gpu temperature sensor");
inline const QString KEY_CPU_FAN_SENSOR = QStringLiteral("cpu fan sensor");
inline const QString SENSOR_CHOICE_AUTO = QStringLiteral("auto");
// The three keys in the order CPU temperature, GPU temperature, CPU fan.
inline const QString SENSOR_CHOICE_KEYS[3] = {KEY_CPU_TEMPERATURE_SENSOR, KEY_GPU_TEMPERATURE_SENSOR,
                                              KEY_CPU_FAN_SENSOR};
// Longest identity accepted; a sensor source's names fit in 255 bytes.
constexpr int MAX_SENSOR_CHOICE_LENGTH = 255;
// Seconds since the epoch, or UpdateLogic::UPGRADE_TIME_NONE when no
// reminder is pending; the update logic reads it, as a 64-bit number.
inline const QString KEY_NEXT_UPGRADE_TIME = QStringLiteral("next upgrade time");
inline const QString KEY_UPGRADE_VERSION = QStringLiteral("upgrade version");

// Organisation of the settings store.
inline const QString SETTINGS_ORGANIZATION = QStringLiteral("KR_alvo");

} // namespace COMMON
