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

// Setting keys. They also travel as the name of a changed setting.
inline const QString KEY_LANGUAGE = QStringLiteral("language");
inline const QString KEY_STARTUP = QStringLiteral("startup");
inline const QString KEY_TEMPERATURE_UNIT = QStringLiteral("temperature unit");
inline const QString KEY_CHANGE_INTERVAL = QStringLiteral("change interval");
inline const QString KEY_CPU_TEMP_ALARM = QStringLiteral("CPU temperature alarm");
inline const QString KEY_GPU_TEMP_ALARM = QStringLiteral("GPU temperature alarm");
inline const QString KEY_USAGE_RATE_ALARM = QStringLiteral("usage rate alarm");
inline const QString KEY_FAN_RPM_ALARM = QStringLiteral("fan rpm alarm");
inline const QString KEY_DISPLAY_CPU_TEMP = QStringLiteral("display cpu temperature");
inline const QString KEY_DISPLAY_GPU_TEMP = QStringLiteral("display gpu temperature");
inline const QString KEY_DISPLAY_FAN_RPM = QStringLiteral("display fan rpm");
inline const QString KEY_NEXT_UPGRADE_TIME = QStringLiteral("next upgrade time");
inline const QString KEY_UPGRADE_VERSION = QStringLiteral("upgrade version");

// Organisation of the settings store.
inline const QString SETTINGS_ORGANIZATION = QStringLiteral("KR_alvo");

} // namespace COMMON
