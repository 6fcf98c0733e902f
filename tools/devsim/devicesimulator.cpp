#include "devicesimulator.h"

#include "device/backends/virtualhidformat.h"
#include "device/hidreport.h"

#include <QDir>
#include <QFile>
#include <QSaveFile>
#include <QSocketNotifier>
#include <QTimer>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

// Largest message we take from a client; a report is 64 or 65 bytes.
constexpr int MAX_MESSAGE = 1024;
constexpr int MAX_SLOW_MS = 60000;
constexpr int MAX_CONNECTIONS = 64;
// Unasked reports sent in one go before the event loop gets its turn again.
constexpr int FLOOD_BURST = 32;

void printOut(const QString& line)
{
    const QByteArray bytes = line.toUtf8() + '\n';
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stdout);
    std::fflush(stdout);
}

void printErr(const QString& line)
{
    const QByteArray bytes = "varnoks-devsim: " + line.toUtf8() + '\n';
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stderr);
    std::fflush(stderr);
}

bool parseVersion(const QString& text, quint8 out[2])
{
    const QStringList parts = text.split(QLatin1Char('.'));
    if (parts.size() != 2)
        return false;
    for (int i = 0; i < 2; ++i) {
        bool ok = false;
        const uint v = parts.at(i).toUInt(&ok, 10);
        if (!ok || v > 255)
            return false;
        out[i] = quint8(v);
    }
    return true;
}

bool parseHexId(const QString& text, quint16* out)
{
    if (text.isEmpty() || text.size() > 4)
        return false;
    bool ok = false;
    const uint v = text.toUInt(&ok, 16);
    if (!ok)
        return false;
    *out = quint16(v);
    return true;
}

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

uint word(const QByteArray& report, int offset)
{
    return uint(quint8(report.at(offset))) << 8 | quint8(report.at(offset + 1));
}

// The identification reply as the device sends it, under `reportId`.
QByteArray identifyReply(const SimulatedDevice& device, quint8 reportId)
{
    QByteArray reply(HidReport::IDENTIFY_REPLY_SIZE, '\0');
    reply[0] = char(reportId);
    reply[2] = char(device.software[0]);
    reply[3] = char(device.software[1]);
    reply[4] = char(device.hardware[0]);
    reply[5] = char(device.hardware[1]);
    reply.replace(HidReport::UUID_OFFSET, HidReport::UUID_SIZE, device.uuid);
    return reply;
}

} // namespace

bool DeviceFault::parse(const QString& text, DeviceFault* fault)
{
    static const struct
    {
        const char* name;
        Kind kind;
    } named[] = {{"none", None},        {"refuse", Refuse}, {"silent", Silent},
                 {"wrong-id", WrongId}, {"short", Short},   {"drop", Drop},
                 {"mute", Mute},        {"stall", Stall},   {"flood", Flood}};
    DeviceFault result;
    for (const auto& entry : named) {
        if (text == QLatin1String(entry.name)) {
            result.kind = entry.kind;
            *fault = result;
            return true;
        }
    }
    if (text.startsWith(QLatin1String("slow:"))) {
        bool ok = false;
        const int ms = text.mid(5).toInt(&ok, 10);
        if (!ok || ms < 0 || ms > MAX_SLOW_MS)
            return false;
        result.kind = Slow;
        result.delayMs = ms;
    } else {
        return false;
    }
    *fault = result;
    return true;
}

bool SimulatedDevice::parse(const QString& spec, SimulatedDevice* device, QString* error)
{
    const QStringList parts = spec.split(QLatin1Char(','));
    SimulatedDevice result;
    result.name = parts.first();
    if (!VirtualHid::isValidDeviceName(result.name)) {
        *error = QStringLiteral(
                     "invalid device name \"%1\" (letters, digits, '_', '-', '.'; not starting with '.'; "
                     "at most 64)")
                     .arg(result.name);
        return false;
    }
    result.serial = QStringLiteral("SIM-") + result.name;
    result.uuid = QByteArray::fromHex("565000010203040506070809");
    for (int i = 1; i < parts.size(); ++i) {
        const QString& part = parts.at(i);
        const int eq = part.indexOf(QLatin1Char('='));
        const QString key = part.left(eq);
        const QString value = eq < 0 ? QString() : part.mid(eq + 1);
        bool ok = eq > 0;
        if (!ok) {
        } else if (key == QLatin1String("vid")) {
            ok = parseHexId(value, &result.vendorId);
        } else if (key == QLatin1String("pid")) {
            ok = parseHexId(value, &result.productId);
        } else if (key == QLatin1String("serial")) {
            if (value == QLatin1String("none")) {
                result.hasSerial = false;
                result.serial.clear();
            } else {
                result.hasSerial = true;
                result.serial = value;
                ok = value.size() <= VirtualHid::MAX_SERIAL_LENGTH;
                for (const QChar c : value)
                    ok = ok && c.isPrint();
            }
        } else if (key == QLatin1String("sw")) {
            ok = parseVersion(value, result.software);
        } else if (key == QLatin1String("hw")) {
            ok = parseVersion(value, result.hardware);
        } else if (key == QLatin1String("uuid")) {
            ok = value.size() == 24 &&
                 QByteArray::fromHex(value.toLatin1()).toHex() == value.toLatin1().toLower();
            if (ok)
                result.uuid = QByteArray::fromHex(value.toLatin1());
        } else if (key == QLatin1String("fault")) {
            ok = DeviceFault::parse(value, &result.fault);
        } else {
            ok = false;
        }
        if (!ok) {
            *error = QStringLiteral("bad option \"%1\" of device %2").arg(part, result.name);
            return false;
        }
    }
    *device = result;
    return true;
}

QString reportLine(const QByteArray& message, DisplayState* state)
{
    // Decoded as the firmware reads it: unsigned bytes, 16-bit fields high
    // byte first. A message of another size is cut or padded to 64 bytes.
    QByteArray report = message.left(HidReport::DATA_REPORT_SIZE);
    report.append(QByteArray(HidReport::DATA_REPORT_SIZE - report.size(), '\0'));
    DisplayState s;
    s.item = quint8(report.at(1));
    s.fahrenheit = report.at(2) != 0;
    s.alarm = quint8(report.at(3));
    s.cpu = int(word(report, 5));
    s.cpuUsage = quint8(report.at(7));
    s.gpu = int(word(report, 8));
    s.gpuUsage = quint8(report.at(10));
    s.fan = int(word(report, 11));
    if (state)
        *state = s;
    return QStringLiteral(
               "report item=%1 unit=%2 alarm=%3 cpu=%4 cpu_usage=%5 gpu=%6 gpu_usage=%7 fan=%8 raw=%9")
        .arg(s.item)
        .arg(s.fahrenheit ? QLatin1Char('F') : QLatin1Char('C'))
        .arg(s.alarm)
        .arg(s.cpu)
        .arg(s.cpuUsage)
        .arg(s.gpu)
        .arg(s.gpuUsage)
        .arg(s.fan)
        .arg(QString::fromLatin1(report.toHex()));
}

DeviceSimulator::DeviceSimulator(const QString& directory, const QList<SimulatedDevice>& devices,
                                 QObject* parent)
    : QObject(parent), m_strDirectory(QDir(directory).absolutePath())
{
    for (const SimulatedDevice& device : devices) {
        Served served;
        served.device = device;
        m_devices.insert(device.name, served);
    }
}

DeviceSimulator::~DeviceSimulator()
{
    shutdown();
}

QStringList DeviceSimulator::deviceNames() const
{
    return m_devices.keys();
}

QString DeviceSimulator::socketPath(const QString& name) const
{
    return m_strDirectory + QLatin1Char('/') + name;
}

bool DeviceSimulator::start()
{
    if (!QDir().mkpath(m_strDirectory)) {
        printErr(QStringLiteral("cannot create directory %1").arg(m_strDirectory));
        return false;
    }
    for (auto it = m_devices.begin(); it != m_devices.end(); ++it) {
        if (!plug(it.value()))
            return false;
    }
    return true;
}

void DeviceSimulator::shutdown()
{
    for (auto it = m_devices.begin(); it != m_devices.end(); ++it)
        unplug(it.value());
}

bool DeviceSimulator::plug(Served& served)
{
    if (served.listenFd >= 0)
        return true;
    const QString name = served.device.name;
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
    identity.vendorId = served.device.vendorId;
    identity.productId = served.device.productId;
    identity.hasSerial = served.device.hasSerial;
    identity.serial = served.device.serial;
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

void DeviceSimulator::unplug(Served& served)
{
    if (served.listenFd < 0)
        return;
    const QString name = served.device.name;
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

void DeviceSimulator::acceptConnections(const QString& name)
{
    auto it = m_devices.find(name);
    if (it == m_devices.end() || it->listenFd < 0)
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
        connection.notifier->setEnabled(it->device.fault.kind != DeviceFault::Stall);
        it->connections.insert(id, connection);
        setUpFlood(it.value(), id);
    }
}

void DeviceSimulator::closeConnection(Served& served, quint64 id)
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

void DeviceSimulator::readConnection(const QString& name, quint64 id)
{
    auto it = m_devices.find(name);
    if (it == m_devices.end() || !it->connections.contains(id))
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
        handleMessage(it.value(), id, buffer);
        // The message may have closed the connection (fault "drop").
        if (!it->connections.contains(id))
            return;
    }
}

void DeviceSimulator::handleMessage(Served& served, quint64 id, const QByteArray& message)
{
    const SimulatedDevice& device = served.device;
    const quint8 reportId = quint8(message.at(0));
    QByteArray reply;
    if (reportId == HidReport::IDENTIFY_REQUEST_ID) {
        printOut(device.name + QStringLiteral(" identify"));
        reply =
            identifyReply(device, device.fault.kind == DeviceFault::WrongId ? HidReport::IDENTIFY_REQUEST_ID
                                                                            : HidReport::IDENTIFY_REPLY_ID);
    } else if (reportId == HidReport::DATA_REPORT_ID) {
        if (message.size() != HidReport::DATA_REPORT_SIZE)
            printErr(QStringLiteral("%1: data report of %2 bytes").arg(device.name).arg(message.size()));
        DisplayState state;
        printOut(device.name + QLatin1Char(' ') + reportLine(message, &state));
        emit displayChanged(device.name, state);
        reply = QByteArray(HidReport::ANSWER_SIZE, '\0');
        reply[0] = char(0x21);
        reply[1] = char(state.item);
        reply[2] = char(device.fault.kind == DeviceFault::Refuse ? 0 : 1);
    } else {
        printErr(QStringLiteral("%1: unknown report 0x%2 of %3 bytes")
                     .arg(device.name)
                     .arg(uint(reportId), 2, 16, QLatin1Char('0'))
                     .arg(message.size()));
        return;
    }

    switch (device.fault.kind) {
    case DeviceFault::Silent:
        return;
    case DeviceFault::Mute:
        if (reportId != HidReport::IDENTIFY_REQUEST_ID)
            return;
        break;
    case DeviceFault::Drop:
        closeConnection(served, id);
        return;
    case DeviceFault::Short:
        reply.truncate(2);
        break;
    case DeviceFault::Slow: {
        const QString name = device.name;
        QTimer::singleShot(device.fault.delayMs, this, [this, name, id, reply] { answer(name, id, reply); });
        return;
    }
    default:
        break;
    }
    answer(device.name, id, reply);
}

void DeviceSimulator::answer(const QString& name, quint64 id, const QByteArray& reply)
{
    auto it = m_devices.find(name);
    if (it == m_devices.end() || !it->connections.contains(id))
        return; // the client or the device went away meanwhile
    const int fd = it->connections.value(id).fd;
    ::send(fd, reply.constData(), size_t(reply.size()), MSG_NOSIGNAL | MSG_DONTWAIT);
}

void DeviceSimulator::applyFault(Served& served)
{
    // A stalled device leaves what is written to it unread, so the writer's
    // report is never taken off its socket.
    const bool reading = served.device.fault.kind != DeviceFault::Stall;
    const QList<quint64> ids = served.connections.keys();
    for (quint64 id : ids) {
        if (QSocketNotifier* notifier = served.connections.value(id).notifier)
            notifier->setEnabled(reading);
        setUpFlood(served, id);
    }
}

void DeviceSimulator::setUpFlood(Served& served, quint64 id)
{
    auto it = served.connections.find(id);
    if (it == served.connections.end())
        return;
    const bool flooding = served.device.fault.kind == DeviceFault::Flood;
    if (flooding && !it->floodNotifier) {
        const QString name = served.device.name;
        it->floodNotifier = new QSocketNotifier(it->fd, QSocketNotifier::Write, this);
        connect(it->floodNotifier, &QSocketNotifier::activated, this, [this, name, id] { flood(name, id); });
    }
    if (it->floodNotifier)
        it->floodNotifier->setEnabled(flooding);
}

void DeviceSimulator::flood(const QString& name, quint64 id)
{
    auto it = m_devices.find(name);
    if (it == m_devices.end() || !it->connections.contains(id))
        return;
    Connection& connection = it->connections[id];
    const SimulatedDevice& device = it->device;
    // Whatever a confused firmware might send: junk ids, stray requests,
    // and replies of the right kind nobody asked for, with a running
    // number in them. The socket's buffer bounds how many wait unread;
    // once it is full, the next burst waits until the reader takes one.
    for (int i = 0; i < FLOOD_BURST; ++i) {
        const quint32 n = connection.flooded;
        QByteArray report(HidReport::IDENTIFY_REPLY_SIZE, '\0');
        switch (n % 4) {
        case 0:
            report[0] = char(0x00);
            break;
        case 1:
            report = identifyReply(device, HidReport::IDENTIFY_REPLY_ID);
            break;
        case 2:
            report[0] = char(0x21);
            report[2] = char(1);
            break;
        default:
            report[0] = char(0x7F);
            break;
        }
        report[1] = char(n & 0xFF);
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

void DeviceSimulator::command(const QString& line)
{
    const QStringList words = line.simplified().split(QLatin1Char(' '), Qt::SkipEmptyParts);
    if (words.isEmpty())
        return;
    const QString& verb = words.first();
    if (verb == QLatin1String("quit") && words.size() == 1) {
        emit quitRequested();
        return;
    }
    if (words.size() < 2 || !m_devices.contains(words.at(1))) {
        printErr(QStringLiteral("unknown command or device: %1").arg(line.left(200)));
        return;
    }
    Served& served = m_devices[words.at(1)];
    if (verb == QLatin1String("unplug") && words.size() == 2) {
        unplug(served);
    } else if (verb == QLatin1String("plug") && words.size() == 2) {
        plug(served);
    } else if (verb == QLatin1String("fault") && words.size() == 3) {
        if (!DeviceFault::parse(words.at(2), &served.device.fault))
            printErr(QStringLiteral("unknown fault: %1").arg(words.at(2).left(50)));
        applyFault(served);
    } else {
        printErr(QStringLiteral("unknown command: %1").arg(line.left(200)));
    }
}
