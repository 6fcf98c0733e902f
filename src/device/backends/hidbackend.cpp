#include "device/backends/hidbackend.h"

#include "app/rslogger.h"

#include <QMutexLocker>

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

bool HidBackend::claimPath(const QString& path)
{
    QMutexLocker locker(&m_claimMutex);
    if (m_claimedPaths.contains(path))
        return false;
    m_claimedPaths.insert(path);
    return true;
}

void HidBackend::releasePath(const QString& path)
{
    QMutexLocker locker(&m_claimMutex);
    m_claimedPaths.remove(path);
}

HidPathClaim::HidPathClaim(std::shared_ptr<HidBackend> backend, const QString& path)
{
    if (backend && backend->claimPath(path)) {
        m_pBackend = std::move(backend);
        m_strPath = path;
    }
}

void HidPathClaim::release()
{
    if (m_pBackend) {
        m_pBackend->releasePath(m_strPath);
        m_pBackend.reset();
    }
}
