#pragma once

#include "device/backends/hidbackend.h"

// Devices served by varnoks-devsim: every socket in the directory is one HID
// interface (see virtualhidformat.h). A device may vanish at any moment;
// that gives errors on its handle, never a crash or a hang.
class VirtualHidBackend : public HidBackend
{
public:
    explicit VirtualHidBackend(const QString& directory);

    QVector<HidEnumEntry> enumerate() override;
    std::unique_ptr<HidDeviceHandle> open(const QString& path, HidOpenError* error) override;
    DeviceChangeMonitor* createMonitor(QObject* parent) override;
    QString name() const override { return QStringLiteral("virtual:") + m_strDirectory; }

    QString directory() const { return m_strDirectory; }

    // The entry for one socket of the directory, when it is a device of ours.
    static bool readEntry(const QString& directory, const QString& name, HidEnumEntry* entry);
    // Names of the device sockets in the directory, sorted.
    static QStringList deviceNames(const QString& directory);

private:
    QString m_strDirectory;
};
