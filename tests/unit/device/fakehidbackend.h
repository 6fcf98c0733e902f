#pragma once

#include "device/backends/hidbackend.h"

#include <QDeadlineTimer>
#include <QHash>
#include <QMap>
#include <QMutex>
#include <QStringList>
#include <QWaitCondition>

// In-process stand-in for a HID backend. Each device is scripted: how
// opening ends, what a write returns, and what reads return (replies are
// consumed in order; when none is left a read times out like a silent device
// would, without waiting). Safe to use from the sender's thread.
//
// For plug and unplug sequences a device can also answer every
// identification request by itself (`autoAnswer`), be unplugged (opens fail,
// open handles fail), be muted (no answer comes), and have its answers held
// back until released, so that an identification stays under way. The
// backend counts the handles open at once on each path.
class FakeHidBackend : public HidBackend
{
public:
    struct Device
    {
        HidEnumEntry entry;
        HidOpenError openError = HidOpenError::None;
        bool writeFails = false;
        bool readFails = false;
        QList<QByteArray> replies;
        QByteArray autoAnswer;    // queued for every identification request
        QByteArray dataAnswer;    // queued for every data report
        bool writeBlocks = false; // writes wait while set (a stalled endpoint)
        bool present = true;
        bool muted = false; // no autoAnswer while set
        bool held = false;  // reads wait (up to their time-out) while set
    };

    void addDevice(const Device& device)
    {
        QMutexLocker locker(&m_mutex);
        m_devices.insert(device.entry.path, device);
        m_order.append(device.entry.path);
    }
    void queueReply(const QString& path, const QByteArray& reply)
    {
        QMutexLocker locker(&m_mutex);
        m_devices[path].replies.append(reply);
    }
    void setPresent(const QString& path, bool present)
    {
        QMutexLocker locker(&m_mutex);
        m_devices[path].present = present;
        m_changed.wakeAll();
    }
    void setMuted(const QString& path, bool muted)
    {
        QMutexLocker locker(&m_mutex);
        m_devices[path].muted = muted;
    }
    void setHeld(const QString& path, bool held)
    {
        QMutexLocker locker(&m_mutex);
        m_devices[path].held = held;
        m_changed.wakeAll();
    }
    void setWriteBlocks(const QString& path, bool blocks)
    {
        QMutexLocker locker(&m_mutex);
        m_devices[path].writeBlocks = blocks;
        m_changed.wakeAll();
    }
    // The most handles ever open at the same time on the path.
    int maxOpenAtOnce(const QString& path) const
    {
        QMutexLocker locker(&m_mutex);
        return m_maxOpenPerPath.value(path);
    }
    QStringList opened() const
    {
        QMutexLocker locker(&m_mutex);
        return m_opened;
    }
    // Paths in the order their writes began, all devices together.
    QStringList writeOrder() const
    {
        QMutexLocker locker(&m_mutex);
        return m_writeOrder;
    }
    void setReadFails(const QString& path, bool fails)
    {
        QMutexLocker locker(&m_mutex);
        m_devices[path].readFails = fails;
    }
    QList<QByteArray> written(const QString& path) const
    {
        QMutexLocker locker(&m_mutex);
        return m_written.value(path);
    }
    int openHandles() const
    {
        QMutexLocker locker(&m_mutex);
        return m_openHandles;
    }

    QVector<HidEnumEntry> enumerate() override
    {
        QMutexLocker locker(&m_mutex);
        QVector<HidEnumEntry> entries;
        for (const QString& path : m_order)
            entries.append(m_devices.value(path).entry);
        return entries;
    }

    std::unique_ptr<HidDeviceHandle> open(const QString& path, HidOpenError* error) override
    {
        QMutexLocker locker(&m_mutex);
        m_opened.append(path);
        const auto it = m_devices.constFind(path);
        const HidOpenError result =
            it == m_devices.constEnd() || !it->present ? HidOpenError::Other : it->openError;
        if (error)
            *error = result;
        if (result != HidOpenError::None)
            return nullptr;
        ++m_openHandles;
        const int open = ++m_openPerPath[path];
        m_maxOpenPerPath[path] = qMax(m_maxOpenPerPath.value(path), open);
        return std::make_unique<Handle>(this, path);
    }

    DeviceChangeMonitor* createMonitor(QObject*) override { return nullptr; }
    QString name() const override { return QStringLiteral("fake"); }

private:
    class Handle : public HidDeviceHandle
    {
    public:
        Handle(FakeHidBackend* owner, const QString& path) : m_owner(owner), m_path(path) {}
        ~Handle() override
        {
            QMutexLocker locker(&m_owner->m_mutex);
            --m_owner->m_openHandles;
            --m_owner->m_openPerPath[m_path];
        }
        int write(const QByteArray& report) override
        {
            QMutexLocker locker(&m_owner->m_mutex);
            m_owner->m_writeOrder.append(m_path);
            while (m_owner->m_devices[m_path].writeBlocks && m_owner->m_devices[m_path].present)
                m_owner->m_changed.wait(&m_owner->m_mutex);
            m_owner->m_written[m_path].append(report);
            Device& device = m_owner->m_devices[m_path];
            if (device.writeFails || !device.present) {
                m_error = QStringLiteral("fake write error");
                return -1;
            }
            if (!device.autoAnswer.isEmpty() && !device.muted && report.startsWith('\x10'))
                device.replies.append(device.autoAnswer);
            if (!device.dataAnswer.isEmpty() && !device.muted && report.startsWith('\x20'))
                device.replies.append(device.dataAnswer);
            return report.size();
        }
        int read(QByteArray* report, int maxSize, int timeoutMs) override
        {
            QMutexLocker locker(&m_owner->m_mutex);
            QDeadlineTimer deadline(timeoutMs);
            while (m_owner->m_devices[m_path].held && m_owner->m_devices[m_path].present &&
                   !deadline.hasExpired())
                m_owner->m_changed.wait(&m_owner->m_mutex, deadline);
            Device& device = m_owner->m_devices[m_path];
            if (device.held)
                return 0;
            if (device.readFails || !device.present) {
                m_error = QStringLiteral("fake read error");
                return -1;
            }
            if (device.replies.isEmpty())
                return 0;
            *report = device.replies.takeFirst().left(maxSize);
            return report->size();
        }
        QString errorText() const override { return m_error; }

    private:
        FakeHidBackend* m_owner;
        QString m_path;
        QString m_error;
    };

    mutable QMutex m_mutex;
    QWaitCondition m_changed; // presence or hold changed
    QHash<QString, int> m_openPerPath;
    QHash<QString, int> m_maxOpenPerPath;
    QMap<QString, Device> m_devices;
    QStringList m_order;
    QStringList m_opened;
    QStringList m_writeOrder;
    QMap<QString, QList<QByteArray>> m_written;
    int m_openHandles = 0;
};

// An identification reply: report id, then versions and the UUID.
inline QByteArray identifyReply(quint8 reportId, quint8 swMajor, quint8 swMinor, quint8 hwMajor,
                                quint8 hwMinor, const QByteArray& uuid, int size = 65)
{
    QByteArray reply(size, '\0');
    reply[0] = char(reportId);
    if (size > 5) {
        reply[2] = char(swMajor);
        reply[3] = char(swMinor);
        reply[4] = char(hwMajor);
        reply[5] = char(hwMinor);
    }
    for (int i = 0; i < uuid.size() && 6 + i < size; ++i)
        reply[6 + i] = uuid.at(i);
    return reply;
}
