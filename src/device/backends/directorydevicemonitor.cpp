#include "device/backends/directorydevicemonitor.h"

#include "device/backends/virtualhidbackend.h"

#include <QDir>
#include <QFile>
#include <QFileSystemWatcher>

#include <sys/stat.h>

namespace {

// Empty when the file is gone; a new socket bound under the same name has a
// new inode or at least a new change time.
QByteArray socketIdentity(const QString& path)
{
    struct stat st;
    if (::lstat(QFile::encodeName(path).constData(), &st) != 0)
        return {};
    return QByteArray::number(quint64(st.st_dev)) + ':' + QByteArray::number(quint64(st.st_ino)) + ':' +
           QByteArray::number(qint64(st.st_ctim.tv_sec)) + '.' +
           QByteArray::number(qint64(st.st_ctim.tv_nsec));
}

} // namespace

DirectoryDeviceMonitor* DirectoryDeviceMonitor::create(const QString& directory, QObject* parent)
{
    if (!QFileInfo(directory).isDir())
        return nullptr;
    auto* monitor = new DirectoryDeviceMonitor(directory, parent);
    if (!monitor->m_pWatcher->directories().contains(monitor->m_strDirectory)) {
        delete monitor;
        return nullptr;
    }
    return monitor;
}

DirectoryDeviceMonitor::DirectoryDeviceMonitor(const QString& directory, QObject* parent)
    : DeviceChangeMonitor(parent), m_strDirectory(QDir::cleanPath(QDir(directory).absolutePath())),
      m_pWatcher(new QFileSystemWatcher(this))
{
    m_pWatcher->addPath(m_strDirectory);
    // What is there now is the start-up scan's business; only changes from
    // here on are events.
    const QStringList names = VirtualHidBackend::deviceNames(m_strDirectory);
    for (const QString& name : names) {
        const QString path = m_strDirectory + QLatin1Char('/') + name;
        m_present.insert(path, socketIdentity(path));
    }
    connect(m_pWatcher, &QFileSystemWatcher::directoryChanged, this, [this] { rescan(); });
}

void DirectoryDeviceMonitor::rescan()
{
    const QStringList names = VirtualHidBackend::deviceNames(m_strDirectory);
    QMap<QString, QByteArray> now;
    for (const QString& name : names) {
        const QString path = m_strDirectory + QLatin1Char('/') + name;
        now.insert(path, socketIdentity(path));
    }

    const QStringList known = m_present.keys();
    for (const QString& path : known) {
        if (!now.contains(path) || now.value(path) != m_present.value(path)) {
            m_present.remove(path);
            DeviceChangeEvent event;
            event.kind = DeviceChangeEvent::Removal;
            event.path = path;
            emit deviceChanged(event);
        }
    }
    for (const QString& name : names) {
        const QString path = m_strDirectory + QLatin1Char('/') + name;
        if (m_present.contains(path))
            continue;
        m_present.insert(path, now.value(path));
        DeviceChangeEvent event;
        event.kind = DeviceChangeEvent::Arrival;
        event.path = path;
        HidEnumEntry entry;
        if (VirtualHidBackend::readEntry(m_strDirectory, name, &entry)) {
            event.vendorId = entry.vendorId;
            event.productId = entry.productId;
        }
        emit deviceChanged(event);
    }
}
