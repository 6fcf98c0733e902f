#include "socketsimulator.h"

#include "device/backends/virtualhidformat.h"

#include <QDir>
#include <QFile>
#include <QSaveFile>
#include <QSocketNotifier>
#include <QTimer>

#include <cerrno>
#include <cstring>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

// Largest message we take from a client; a report is 64 or 65 bytes.
constexpr int MAX_MESSAGE = 1024;
constexpr int MAX_CONNECTIONS = 64;
// Unasked reports sent in one go before the event loop gets its turn again.
constexpr int FLOOD_BURST = 32;

bool isSocketFile(const QByteArray& path, bool* exists)
{
    struct stat st;
    if (::lstat(path.constData(), &st) != 0) {
        *exists = false;
        return false;
    }
    *exists = true;
    return S_ISSOCK(st.st_mode);
}

} // namespace

SocketSimulator::SocketSimulator(const QString& directory, const QList<SimulatedDevice>& devices,
                                 QObject* parent)
    : DeviceSimulator(devices, parent), m_strDirectory(QDir(directory).absolutePath())
{
}

SocketSimulator::~SocketSimulator()
{
    shutdown();
}

QString SocketSimulator::socketPath(const QString& name) const
{
    return m_strDirectory + QLatin1Char('/') + name;
}

bool SocketSimulator::start()
{
    if (!QDir().mkpath(m_strDirectory)) {
        printErr(QStringLiteral("cannot create directory %1").arg(m_strDirectory));
        return false;
    }
    return DeviceSimulator::start();
}

bool SocketSimulator::plug(const QString& name)
{
    Served& served = m_served[name];
    if (served.listenFd >= 0)
        return true;
    const SimulatedDevice& simulated = device(name);
    const QByteArray finalPath = QFile::encodeName(socketPath(name));
    const QByteArray bindPath = QFile::encodeName(m_strDirectory + QStringLiteral("/.") + name + ".bind");
    sockaddr_un address{};
    if (finalPath.size() > VirtualHid::MAX_SOCKET_PATH || bindPath.size() >= int(sizeof(address.sun_path))) {
        printErr(QStringLiteral("socket path too long: %1").arg(QString::fromLocal8Bit(bindPath)));
        return false;
    }
    bool exists = false;
    if (isSocketFile(finalPath, &exists)) {
        ::unlink(finalPath.constData()); // left behind by a simulator that was killed
    } else if (exists) {
        printErr(QStringLiteral("%1 exists and is not a socket").arg(QString::fromLocal8Bit(finalPath)));
        return false;
    }

    // The info file first, so that whoever sees the socket can read it.
    VirtualHid::DeviceIdentity identity;
    identity.vendorId = simulated.vendorId;
    identity.productId = simulated.productId;
    identity.hasSerial = simulated.hasSerial;
    identity.serial = simulated.serial;
    QSaveFile info(m_strDirectory + QLatin1Char('/') + VirtualHid::infoFileName(name));
    if (!info.open(QIODevice::WriteOnly) || info.write(VirtualHid::formatInfo(identity)) < 0 ||
        !info.commit()) {
        printErr(QStringLiteral("cannot write the info file of %1").arg(name));
        return false;
    }

    const int fd = ::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) {
        printErr(QStringLiteral("socket: %1").arg(QString::fromLocal8Bit(std::strerror(errno))));
        return false;
    }
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, bindPath.constData(), size_t(bindPath.size()));
    ::unlink(bindPath.constData());
    // Bound and listening under a hidden name, then renamed into place: a
    // client never finds a socket that refuses connections.
    if (::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) != 0 ||
        ::listen(fd, 16) != 0 || ::rename(bindPath.constData(), finalPath.constData()) != 0) {
        printErr(
            QStringLiteral("cannot serve %1: %2").arg(name, QString::fromLocal8Bit(std::strerror(errno))));
        ::close(fd);
        ::unlink(bindPath.constData());
        return false;
    }
    served.listenFd = fd;
    served.listenNotifier = new QSocketNotifier(fd, QSocketNotifier::Read, this);
    connect(served.listenNotifier, &QSocketNotifier::activated, this,
            [this, name] { acceptConnections(name); });
    emit plugChanged(name, true);
    return true;
}

void SocketSimulator::unplug(const QString& name)
{
    auto it = m_served.find(name);
    if (it == m_served.end() || it->listenFd < 0)
        return;
    Served& served = it.value();
    ::unlink(QFile::encodeName(socketPath(name)).constData());
    delete served.listenNotifier;
    served.listenNotifier = nullptr;
    ::close(served.listenFd);
    served.listenFd = -1;
    const QList<quint64> ids = served.connections.keys();
    for (quint64 id : ids)
        closeConnection(served, id);
    QFile::remove(m_strDirectory + QLatin1Char('/') + VirtualHid::infoFileName(name));
    emit plugChanged(name, false);
}

void SocketSimulator::acceptConnections(const QString& name)
{
    auto it = m_served.find(name);
    if (it == m_served.end() || it->listenFd < 0)
        return;
    for (;;) {
        const int fd = ::accept4(it->listenFd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0)
            return;
        if (it->connections.size() >= MAX_CONNECTIONS) {
            ::close(fd);
            continue;
        }
        const quint64 id = m_nextConnectionId++;
        Connection connection;
        connection.fd = fd;
        connection.notifier = new QSocketNotifier(fd, QSocketNotifier::Read, this);
        connect(connection.notifier, &QSocketNotifier::activated, this,
                [this, name, id] { readConnection(name, id); });
        connection.notifier->setEnabled(device(name).fault.kind != DeviceFault::Stall);
        it->connections.insert(id, connection);
        setUpFlood(name, id);
    }
}

void SocketSimulator::closeConnection(Served& served, quint64 id)
{
    const Connection connection = served.connections.take(id);
    for (QSocketNotifier* notifier : {connection.notifier, connection.floodNotifier}) {
        if (notifier) {
            notifier->setEnabled(false);
            notifier->deleteLater();
        }
    }
    if (connection.fd >= 0)
        ::close(connection.fd);
}

void SocketSimulator::readConnection(const QString& name, quint64 id)
{
    auto it = m_served.find(name);
    if (it == m_served.end() || !it->connections.contains(id))
        return;
    for (;;) {
        const int fd = it->connections.value(id).fd;
        QByteArray buffer(MAX_MESSAGE, '\0');
        const ssize_t n = ::recv(fd, buffer.data(), size_t(buffer.size()), 0);
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR))
            return;
        if (n <= 0) {
            closeConnection(it.value(), id);
            return;
        }
        buffer.resize(int(n));
        const FirmwareAnswer reply = receive(name, buffer);
        if (reply.kind == FirmwareAnswer::Hangup) {
            closeConnection(it.value(), id);
            return;
        }
        if (reply.kind == FirmwareAnswer::Reply) {
            if (reply.delayMs > 0) {
                const QByteArray bytes = reply.reply;
                QTimer::singleShot(reply.delayMs, this, [this, name, id, bytes] { answer(name, id, bytes); });
            } else {
                answer(name, id, reply.reply);
            }
        }
    }
}

void SocketSimulator::answer(const QString& name, quint64 id, const QByteArray& reply)
{
    auto it = m_served.find(name);
    if (it == m_served.end() || !it->connections.contains(id))
        return; // the client or the device went away meanwhile
    const int fd = it->connections.value(id).fd;
    ::send(fd, reply.constData(), size_t(reply.size()), MSG_NOSIGNAL | MSG_DONTWAIT);
}

void SocketSimulator::faultChanged(const QString& name)
{
    auto it = m_served.find(name);
    if (it == m_served.end())
        return;
    // A stalled device leaves what is written to it unread, so the writer's
    // report is never taken off its socket.
    const bool reading = device(name).fault.kind != DeviceFault::Stall;
    const QList<quint64> ids = it->connections.keys();
    for (quint64 id : ids) {
        if (QSocketNotifier* notifier = it->connections.value(id).notifier)
            notifier->setEnabled(reading);
        setUpFlood(name, id);
    }
}

void SocketSimulator::setUpFlood(const QString& name, quint64 id)
{
    Served& served = m_served[name];
    auto it = served.connections.find(id);
    if (it == served.connections.end())
        return;
    const bool flooding = device(name).fault.kind == DeviceFault::Flood;
    if (flooding && !it->floodNotifier) {
        it->floodNotifier = new QSocketNotifier(it->fd, QSocketNotifier::Write, this);
        connect(it->floodNotifier, &QSocketNotifier::activated, this, [this, name, id] { flood(name, id); });
    }
    if (it->floodNotifier)
        it->floodNotifier->setEnabled(flooding);
}

void SocketSimulator::flood(const QString& name, quint64 id)
{
    auto it = m_served.find(name);
    if (it == m_served.end() || !it->connections.contains(id))
        return;
    Connection& connection = it->connections[id];
    // The socket's buffer bounds how many wait unread; once it is full, the
    // next burst waits until the reader takes one.
    for (int i = 0; i < FLOOD_BURST; ++i) {
        const QByteArray report = floodReport(device(name), connection.flooded);
        const ssize_t sent =
            ::send(connection.fd, report.constData(), size_t(report.size()), MSG_NOSIGNAL | MSG_DONTWAIT);
        if (sent < 0) {
            if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)
                closeConnection(it.value(), id); // the reader went away
            return;
        }
        ++connection.flooded;
    }
}
