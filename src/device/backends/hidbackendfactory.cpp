#include "device/backends/hidbackend.h"

#include "app/rslogger.h"
#include "device/backends/hidapibackend.h"
#include "device/backends/virtualhidbackend.h"

#include <QDir>

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
