#include "device/backends/virtualhidbackend.h"

#include "device/backends/directorydevicemonitor.h"
#include "device/backends/virtualhidformat.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <linux/sockios.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

// A write ends when the device has taken the report, or fails after this
// long, as a hidraw write does at the USB time-out.
constexpr int WRITE_TIMEOUT_MS = 5000;

// Bytes we sent that the peer has not read yet.
int unreadBytes(int fd)
{
    int n = 0;
    return ::ioctl(fd, SIOCOUTQ, &n) == 0 ? n : -1;
}

class VirtualHidDevice : public HidDeviceHandle
{
public:
    explicit VirtualHidDevice(int fd) : m_fd(fd) {}
    ~VirtualHidDevice() override { ::close(m_fd); }

    int write(const QByteArray& report) override
    {
        if (report.isEmpty()) {
            m_strError = QStringLiteral("Empty report");
            return -1;
        }
        // The socket is non-blocking: a simulator that stops reading costs at
        // most one time-out, like a device whose endpoint stalls.
        // A later report on the same connection (the sender keeps the
        // handle of a device that answers): the device took the one before
        // long ago, unless it stalled meanwhile, and then this write waits
        // as a hidraw write does. So a device that reads costs no wait.
        if (m_bWritten && !waitUntilTaken())
            return -1;
        pollfd pfd{m_fd, POLLOUT, 0};
        int ready;
        do {
            ready = ::poll(&pfd, 1, WRITE_TIMEOUT_MS);
        } while (ready < 0 && errno == EINTR);
        if (ready <= 0) {
            m_strError =
                ready == 0 ? QStringLiteral("Write timed out") : QString::fromLocal8Bit(std::strerror(errno));
            return -1;
        }
        ssize_t n;
        do {
            // MSG_NOSIGNAL: a device that went away must not kill us with SIGPIPE.
            n = ::send(m_fd, report.constData(), size_t(report.size()), MSG_NOSIGNAL | MSG_DONTWAIT);
        } while (n < 0 && errno == EINTR);
        if (n < 0) {
            m_strError = QString::fromLocal8Bit(std::strerror(errno));
            return -1;
        }
        if (m_bWritten)
            return int(n);
        m_bWritten = true;
        // The first report on a connection: like hidraw, return once the
        // device took it; a device that stops reading holds the writer up to
        // the time-out. The checks thin out to one per 20 ms, so that many
        // stalled devices cost little.
        if (!waitUntilTaken())
            return -1;
        return int(n);
    }

    int read(QByteArray* report, int maxSize, int timeoutMs) override
    {
        report->clear();
        pollfd pfd{m_fd, POLLIN, 0};
        int ready;
        do {
            ready = ::poll(&pfd, 1, timeoutMs);
        } while (ready < 0 && errno == EINTR);
        if (ready < 0) {
            m_strError = QString::fromLocal8Bit(std::strerror(errno));
            return -1;
        }
        if (ready == 0)
            return 0;
        QByteArray buffer(maxSize, '\0');
        ssize_t n;
        do {
            // A longer message is cut to maxSize, as hidraw does.
            n = ::recv(m_fd, buffer.data(), size_t(maxSize), MSG_DONTWAIT);
        } while (n < 0 && errno == EINTR);
        if (n < 0) {
            if (errno == EAGAIN || errno == EWOULDBLOCK)
                return 0;
            m_strError = QString::fromLocal8Bit(std::strerror(errno));
            return -1;
        }
        if (n == 0) {
            // End of stream: the simulator closed the connection.
            m_strError = QStringLiteral("Device disconnected");
            return -1;
        }
        buffer.resize(int(n));
        *report = buffer;
        return int(n);
    }

    QString errorText() const override { return m_strError; }

private:
    // Waits until the device has read everything sent so far, at most the
    // write time-out; false (with the error text) when it did not.
    bool waitUntilTaken()
    {
        QElapsedTimer clock;
        clock.start();
        useconds_t pause = 100;
        for (;;) {
            const int unread = unreadBytes(m_fd);
            if (unread <= 0)
                return true;
            if (clock.elapsed() >= WRITE_TIMEOUT_MS) {
                m_strError = QStringLiteral("Write timed out");
                return false;
            }
            ::usleep(pause);
            pause = qMin<useconds_t>(pause * 2, 20000);
        }
    }

    int m_fd;
    bool m_bWritten = false; // a report went out on this connection before
    QString m_strError;
};

bool isSocket(const QString& path)
{
    struct stat st;
    // lstat: a symbolic link in the directory is never followed out of it.
    if (::lstat(QFile::encodeName(path).constData(), &st) != 0)
        return false;
    return S_ISSOCK(st.st_mode);
}

} // namespace

VirtualHidBackend::VirtualHidBackend(const QString& directory)
    : m_strDirectory(QDir(directory).absolutePath())
{
}

QStringList VirtualHidBackend::deviceNames(const QString& directory)
{
    QStringList names;
    const QStringList all =
        QDir(directory).entryList(QDir::System | QDir::Files | QDir::NoDotAndDotDot, QDir::Name);
    for (const QString& name : all) {
        if (VirtualHid::isValidDeviceName(name) && isSocket(directory + QLatin1Char('/') + name))
            names.append(name);
    }
    return names;
}

bool VirtualHidBackend::readEntry(const QString& directory, const QString& name, HidEnumEntry* entry)
{
    if (!VirtualHid::isValidDeviceName(name))
        return false;
    // Anyone may put anything in the folder: a FIFO named like an info file
    // would block a plain open for good, a link could lead out of it.
    const QByteArray path = QFile::encodeName(directory + QLatin1Char('/') + VirtualHid::infoFileName(name));
    const int fd = ::open(path.constData(), O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return false;
    struct stat st;
    QByteArray data;
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
        data.resize(VirtualHid::MAX_INFO_SIZE + 1);
        ssize_t n;
        do {
            n = ::read(fd, data.data(), size_t(data.size()));
        } while (n < 0 && errno == EINTR);
        data.resize(n > 0 ? int(n) : 0);
    }
    ::close(fd);
    VirtualHid::DeviceIdentity identity;
    if (!VirtualHid::parseInfo(data, &identity))
        return false;
    entry->path = directory + QLatin1Char('/') + name;
    entry->vendorId = identity.vendorId;
    entry->productId = identity.productId;
    entry->hasSerial = identity.hasSerial && !identity.serial.isEmpty();
    entry->serial = identity.serial;
    return true;
}

QVector<HidEnumEntry> VirtualHidBackend::enumerate()
{
    QVector<HidEnumEntry> entries;
    const QStringList names = deviceNames(m_strDirectory);
    for (const QString& name : names) {
        HidEnumEntry entry;
        if (readEntry(m_strDirectory, name, &entry))
            entries.append(entry);
    }
    return entries;
}

std::unique_ptr<HidDeviceHandle> VirtualHidBackend::open(const QString& path, HidOpenError* error)
{
    if (error)
        *error = HidOpenError::Other;
    // Only sockets directly inside our directory are devices.
    const QString clean = QDir::cleanPath(path);
    const int slash = clean.lastIndexOf(QLatin1Char('/'));
    if (slash < 0 || clean.left(slash) != m_strDirectory ||
        !VirtualHid::isValidDeviceName(clean.mid(slash + 1)))
        return nullptr;
    const QByteArray native = QFile::encodeName(clean);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (native.size() >= int(sizeof(address.sun_path)))
        return nullptr;
    std::memcpy(address.sun_path, native.constData(), size_t(native.size()));

    // Non-blocking: a connect to a simulator whose backlog is full fails at
    // once (EAGAIN) instead of waiting for it.
    const int fd = ::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0)
        return nullptr;
    int rc;
    do {
        rc = ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof(address));
    } while (rc < 0 && errno == EINTR);
    if (rc < 0) {
        if (error && errno == EACCES)
            *error = HidOpenError::PermissionDenied;
        ::close(fd);
        return nullptr;
    }
    if (error)
        *error = HidOpenError::None;
    return std::make_unique<VirtualHidDevice>(fd);
}

DeviceChangeMonitor* VirtualHidBackend::createMonitor(QObject* parent)
{
    return DirectoryDeviceMonitor::create(m_strDirectory, parent);
}
