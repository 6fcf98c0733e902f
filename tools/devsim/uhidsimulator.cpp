#include "uhidsimulator.h"

#include <QSocketNotifier>
#include <QTimer>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <linux/uhid.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const char UHID_PATH[] = "/dev/uhid";
// How long a device that dropped off the bus (fault "drop") stays away.
constexpr int REENUMERATE_MS = 200;
// A flooding device sends this many reports each tick; the hidraw node keeps
// a bounded queue per reader and drops the rest, as it does for a real one.
constexpr int FLOOD_BURST = 16;
constexpr int FLOOD_TICK_MS = 10;

// Vendor page, one 64-byte input and one 64-byte output report, no report
// ids: the display's descriptor.
const unsigned char REPORT_DESCRIPTOR[] = {
    0x06, 0x00, 0xFF, // Usage Page (vendor 0xFF00)
    0x09, 0x01,       // Usage (1)
    0xA1, 0x01,       // Collection (Application)
    0x09, 0x02,       //   Usage (2)
    0x15, 0x00,       //   Logical Minimum (0)
    0x26, 0xFF, 0x00, //   Logical Maximum (255)
    0x75, 0x08,       //   Report Size (8)
    0x95, 0x40,       //   Report Count (64)
    0x81, 0x02,       //   Input (Data, Variable, Absolute)
    0x09, 0x03,       //   Usage (3)
    0x15, 0x00,       //   Logical Minimum (0)
    0x26, 0xFF, 0x00, //   Logical Maximum (255)
    0x75, 0x08,       //   Report Size (8)
    0x95, 0x40,       //   Report Count (64)
    0x91, 0x02,       //   Output (Data, Variable, Absolute)
    0xC0,             // End Collection
};

QString errorText()
{
    return QString::fromLocal8Bit(std::strerror(errno));
}

bool writeEvent(int fd, const uhid_event& event)
{
    for (;;) {
        const ssize_t n = ::write(fd, &event, sizeof(event));
        if (n < 0 && errno == EINTR)
            continue;
        return n == ssize_t(sizeof(event));
    }
}

void copyText(__u8* to, size_t size, const QString& text)
{
    const QByteArray bytes = text.toUtf8().left(int(size) - 1);
    std::memcpy(to, bytes.constData(), size_t(bytes.size()));
}

} // namespace

UhidSimulator::UhidSimulator(const QList<SimulatedDevice>& devices, QObject* parent)
    : DeviceSimulator(devices, parent)
{
}

UhidSimulator::~UhidSimulator()
{
    shutdown();
}

bool UhidSimulator::start()
{
    // Checked once up front so the user reads why, not one failure per device.
    const int fd = ::open(UHID_PATH, O_RDWR | O_CLOEXEC);
    if (fd < 0) {
        const int error = errno;
        QString hint;
        if (error == ENOENT || error == ENODEV)
            hint = QStringLiteral(" (load the kernel module: modprobe uhid)");
        else if (error == EACCES || error == EPERM)
            hint = QStringLiteral(" (run as root, or give your user read and write access to it)");
        printErr(QStringLiteral("cannot open %1: %2%3")
                     .arg(QLatin1String(UHID_PATH), QString::fromLocal8Bit(std::strerror(error)), hint));
        return false;
    }
    struct stat st;
    const bool isDevice = ::fstat(fd, &st) == 0 && S_ISCHR(st.st_mode);
    ::close(fd);
    if (!isDevice) {
        printErr(QStringLiteral("%1 is not the kernel's uhid device").arg(QLatin1String(UHID_PATH)));
        return false;
    }
    return DeviceSimulator::start();
}

bool UhidSimulator::plug(const QString& name)
{
    Node& node = m_nodes[name];
    if (node.plugged)
        return true;
    if (!create(name))
        return false;
    node.plugged = true;
    emit plugChanged(name, true);
    return true;
}

void UhidSimulator::unplug(const QString& name)
{
    auto it = m_nodes.find(name);
    if (it == m_nodes.end() || !it->plugged)
        return;
    it->plugged = false;
    destroy(name);
    emit plugChanged(name, false);
}

bool UhidSimulator::create(const QString& name)
{
    Node& node = m_nodes[name];
    if (node.fd >= 0)
        return true;
    const SimulatedDevice& simulated = device(name);
    const int fd = ::open(UHID_PATH, O_RDWR | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        printErr(QStringLiteral("cannot open %1: %2").arg(QLatin1String(UHID_PATH), errorText()));
        return false;
    }
    uhid_event event;
    std::memset(&event, 0, sizeof(event));
    event.type = UHID_CREATE2;
    uhid_create2_req& create = event.u.create2;
    copyText(create.name, sizeof(create.name), name);
    copyText(create.phys, sizeof(create.phys), QStringLiteral("varnoks-devsim/") + name);
    if (simulated.hasSerial)
        copyText(create.uniq, sizeof(create.uniq), simulated.serial);
    create.rd_size = sizeof(REPORT_DESCRIPTOR);
    std::memcpy(create.rd_data, REPORT_DESCRIPTOR, sizeof(REPORT_DESCRIPTOR));
    create.bus = BUS_USB;
    create.vendor = simulated.vendorId;
    create.product = simulated.productId;
    create.version = uint(simulated.hardware[0]) << 8 | simulated.hardware[1];
    if (!writeEvent(fd, event)) {
        printErr(QStringLiteral("cannot create the HID device %1: %2").arg(name, errorText()));
        ::close(fd);
        return false;
    }
    node.fd = fd;
    node.generation = m_nextGeneration++;
    node.flooded = 0;
    node.notifier = new QSocketNotifier(fd, QSocketNotifier::Read, this);
    connect(node.notifier, &QSocketNotifier::activated, this, [this, name] { readEvents(name); });
    faultChanged(name);
    return true;
}

void UhidSimulator::destroy(const QString& name)
{
    Node& node = m_nodes[name];
    if (node.fd < 0)
        return;
    delete node.floodTimer;
    node.floodTimer = nullptr;
    delete node.notifier;
    node.notifier = nullptr;
    uhid_event event;
    std::memset(&event, 0, sizeof(event));
    event.type = UHID_DESTROY;
    writeEvent(node.fd, event);
    ::close(node.fd); // closing alone would destroy it as well
    node.fd = -1;
}

void UhidSimulator::faultChanged(const QString& name)
{
    Node& node = m_nodes[name];
    if (node.fd < 0)
        return;
    const DeviceFault::Kind kind = device(name).fault.kind;
    // A stalled device takes nothing off the bus. The kernel does not make
    // a writer wait for a uhid device: its writes queue up and are lost.
    node.notifier->setEnabled(kind != DeviceFault::Stall);
    if (kind == DeviceFault::Flood && !node.floodTimer) {
        node.floodTimer = new QTimer(this);
        node.floodTimer->setInterval(FLOOD_TICK_MS);
        connect(node.floodTimer, &QTimer::timeout, this, [this, name] { flood(name); });
        node.floodTimer->start();
    } else if (kind != DeviceFault::Flood && node.floodTimer) {
        delete node.floodTimer;
        node.floodTimer = nullptr;
    }
}

void UhidSimulator::readEvents(const QString& name)
{
    for (int i = 0; i < 64; ++i) {
        auto it = m_nodes.find(name);
        if (it == m_nodes.end() || it->fd < 0)
            return;
        uhid_event event;
        std::memset(&event, 0, sizeof(event));
        const ssize_t n = ::read(it->fd, &event, sizeof(event));
        if (n < 0 && (errno == EAGAIN || errno == EINTR))
            return;
        if (n <= 0) {
            printErr(QStringLiteral("%1: reading %2 failed: %3")
                         .arg(name, QLatin1String(UHID_PATH), n < 0 ? errorText() : QStringLiteral("end")));
            it->notifier->setEnabled(false);
            return;
        }
        switch (event.type) {
        case UHID_OUTPUT:
            if (event.u.output.rtype == UHID_OUTPUT_REPORT)
                output(name, QByteArray(reinterpret_cast<const char*>(event.u.output.data),
                                        qMin(int(event.u.output.size), UHID_DATA_MAX)));
            break;
        case UHID_GET_REPORT: {
            // The display has no feature reports.
            uhid_event reply;
            std::memset(&reply, 0, sizeof(reply));
            reply.type = UHID_GET_REPORT_REPLY;
            reply.u.get_report_reply.id = event.u.get_report.id;
            reply.u.get_report_reply.err = EIO;
            writeEvent(it->fd, reply);
            break;
        }
        case UHID_SET_REPORT: {
            uhid_event reply;
            std::memset(&reply, 0, sizeof(reply));
            reply.type = UHID_SET_REPORT_REPLY;
            reply.u.set_report_reply.id = event.u.set_report.id;
            reply.u.set_report_reply.err = EIO;
            writeEvent(it->fd, reply);
            break;
        }
        default: // start, stop, open, close
            break;
        }
    }
}

void UhidSimulator::output(const QString& name, const QByteArray& data)
{
    // What hidraw writes begins with the report number. Without numbered
    // reports it is 0, and the USB HID driver sends the bytes after it: the
    // device never sees that byte. Any other first byte goes out as written.
    QByteArray report = data;
    if (!report.isEmpty() && report.at(0) == '\0')
        report.remove(0, 1);
    const quint64 generation = m_nodes.value(name).generation;
    const FirmwareAnswer answer = receive(name, report);
    switch (answer.kind) {
    case FirmwareAnswer::Nothing:
        break;
    case FirmwareAnswer::Reply:
        if (answer.delayMs > 0) {
            const QByteArray reply = answer.reply;
            QTimer::singleShot(answer.delayMs, this,
                               [this, name, generation, reply] { sendInput(name, generation, reply); });
        } else {
            sendInput(name, generation, answer.reply);
        }
        break;
    case FirmwareAnswer::Hangup:
        // The firmware drops off the bus and enumerates again a moment later.
        destroy(name);
        QTimer::singleShot(REENUMERATE_MS, this, [this, name] {
            if (m_nodes.value(name).plugged)
                create(name);
        });
        break;
    }
}

void UhidSimulator::sendInput(const QString& name, quint64 generation, const QByteArray& report)
{
    const Node node = m_nodes.value(name);
    if (node.fd < 0 || node.generation != generation)
        return; // unplugged meanwhile: the answer is lost with the device
    uhid_event event;
    std::memset(&event, 0, sizeof(event));
    event.type = UHID_INPUT2;
    const int size = qMin(report.size(), UHID_DATA_MAX);
    event.u.input2.size = __u16(size);
    std::memcpy(event.u.input2.data, report.constData(), size_t(size));
    if (!writeEvent(node.fd, event))
        printErr(QStringLiteral("%1: input report lost: %2").arg(name, errorText()));
}

void UhidSimulator::flood(const QString& name)
{
    auto it = m_nodes.find(name);
    if (it == m_nodes.end() || it->fd < 0)
        return;
    for (int i = 0; i < FLOOD_BURST; ++i) {
        sendInput(name, it->generation, floodReport(device(name), it->flooded));
        ++it->flooded;
    }
}
