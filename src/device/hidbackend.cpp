#include "device/hidbackend.h"

#include "app/rslogger.h"
#include "device/hidapibackend.h"
#include "device/virtualhidbackend.h"

#include <QDir>
#include <QMutex>
#include <QMutexLocker>
#include <QSet>

std::shared_ptr<HidBackend> createHidBackend()
{
    const QString choice = qEnvironmentVariable("VARNOKS_HID_BACKEND");
    const QString virtualPrefix = QStringLiteral("virtual:");
    if (choice.startsWith(virtualPrefix)) {
        const QString dir = choice.mid(virtualPrefix.size());
        if (!dir.isEmpty())
            return std::make_shared<VirtualHidBackend>(QDir(dir).absolutePath());
    }
    if (!choice.isEmpty() && choice != QLatin1String("hidapi")) {
        RSLogger::GetInstance()->WriteLog(
            LOG_WARNING,
            QStringLiteral("Unknown HID backend \"%1\" in VARNOKS_HID_BACKEND, using hidapi.").arg(choice),
            "HidBackend::createHidBackend");
    }
    return std::make_shared<HidapiBackend>();
}

QString hidDeviceKey(const QString& path)
{
#ifdef Q_OS_WIN
    return path.toUpper();
#else
    return path;
#endif
}

bool warnPermissionDeniedOnce(const QString& path, const char* source)
{
    static QMutex mutex;
    static QSet<QString> warned;
    {
        QMutexLocker locker(&mutex);
        if (warned.contains(path))
            return false;
        warned.insert(path);
    }
    RSLogger::GetInstance()->WriteLog(
        LOG_WARNING,
        QStringLiteral("No permission to open HID device %1. Install the udev rule 70-varnoks-pilot.rules "
                       "(cmake --install, or copy it to /etc/udev/rules.d/), run "
                       "\"udevadm control --reload-rules\" as root and replug the device.")
            .arg(path),
        source);
    return true;
}
