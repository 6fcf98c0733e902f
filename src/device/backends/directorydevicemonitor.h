#pragma once

#include "device/backends/devicechangemonitor.h"

#include <QMap>

class QFileSystemWatcher;
struct HidEnumEntry;

// Arrival and removal of the virtual devices: watches the socket directory
// and reports sockets that appear (with the ids of their info file) and
// sockets that go.
class DirectoryDeviceMonitor : public DeviceChangeMonitor
{
    Q_OBJECT
public:
    // nullptr when the directory cannot be watched.
    static DirectoryDeviceMonitor* create(const QString& directory, QObject* parent);

    // Compares the directory with what was seen last and emits one event per
    // difference; called by the watcher, and by anyone who wants it now.
    void rescan();

private:
    DirectoryDeviceMonitor(const QString& directory, QObject* parent);

    QString m_strDirectory;
    QFileSystemWatcher* m_pWatcher;
    // path -> identity of the socket file seen there (inode and change
    // time), so that a device unplugged and plugged again between two scans
    // still reads as a removal and an arrival.
    QMap<QString, QByteArray> m_present;
};
