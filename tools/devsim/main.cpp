// varnoks-devsim: the display's firmware in software. With --dir it serves
// virtual devices for VARNOKS_HID_BACKEND=virtual:<dir>; with --uhid each
// device is a HID device of the running kernel (/dev/uhid), with a hidraw
// node and udev events as a display on a USB port has.
//
//   varnoks-devsim --dir DIR | --uhid [--window] DEVICE...
//   DEVICE = NAME[,vid=2E3C][,pid=A12][,serial=TEXT|none][,sw=1.2][,hw=0.7][,uuid=24 hex][,fault=KIND]
//   KIND   = refuse | silent | wrong-id | short | drop | slow:MS | mute | stall | flood
//            (mute: answers the identification only; stall: reads nothing, so a
//            write to it waits as on a stalled USB endpoint; flood: answers, but
//            also sends unasked reports of mixed ids as fast as they are read)
//
// Standard output, one flushed line per request: "NAME identify" and
// "NAME report item=I unit=C|F alarm=A cpu=N cpu_usage=N gpu=N gpu_usage=N fan=N raw=HEX".
// Standard input, one command a line: unplug NAME, plug NAME, fault NAME KIND|none, quit.
// End of input, SIGTERM or SIGINT removes the sockets (or HID devices) and exits 0.

#include "devsimwindow.h"
#include "socketsimulator.h"
#include "uhidsimulator.h"

#include <QApplication>
#include <QCoreApplication>
#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <memory>
#include <sys/socket.h>
#include <unistd.h>

namespace {

int g_signalPipe[2] = {-1, -1};

void onSignal(int)
{
    const char byte = 1;
    const int saved = errno;
    [[maybe_unused]] const ssize_t n = ::write(g_signalPipe[1], &byte, 1);
    errno = saved;
}

void usage()
{
    std::fputs("usage: varnoks-devsim --dir DIR | --uhid [--window] "
               "NAME[,vid=HEX][,pid=HEX][,serial=TEXT|none][,sw=M.m][,hw=M.m][,uuid=24HEX][,fault=KIND]...\n"
               "KIND: refuse, silent, wrong-id, short, drop, slow:MS, mute, stall, flood\n",
               stderr);
}

} // namespace

int main(int argc, char* argv[])
{
    QString directory;
    bool window = false;
    bool uhid = false;
    QStringList specs;
    for (int i = 1; i < argc; ++i) {
        const QString arg = QString::fromLocal8Bit(argv[i]);
        if (arg == QLatin1String("--dir") && i + 1 < argc) {
            directory = QString::fromLocal8Bit(argv[++i]);
        } else if (arg.startsWith(QLatin1String("--dir="))) {
            directory = arg.mid(6);
        } else if (arg == QLatin1String("--uhid")) {
            uhid = true;
        } else if (arg == QLatin1String("--window")) {
            window = true;
        } else if (arg == QLatin1String("--help") || arg == QLatin1String("-h")) {
            usage();
            return 0;
        } else if (arg.startsWith(QLatin1Char('-'))) {
            std::fprintf(stderr, "varnoks-devsim: unknown option %s\n", argv[i]);
            usage();
            return 2;
        } else {
            specs.append(arg);
        }
    }
    if (directory.isEmpty() == !uhid || specs.isEmpty()) {
        usage();
        return 2;
    }

    QList<SimulatedDevice> devices;
    QStringList names;
    for (const QString& spec : specs) {
        SimulatedDevice device;
        QString error;
        if (!SimulatedDevice::parse(spec, &device, &error)) {
            std::fprintf(stderr, "varnoks-devsim: %s\n", error.toLocal8Bit().constData());
            return 2;
        }
        if (names.contains(device.name)) {
            std::fprintf(stderr, "varnoks-devsim: device %s given twice\n",
                         device.name.toLocal8Bit().constData());
            return 2;
        }
        names.append(device.name);
        devices.append(device);
    }

    std::unique_ptr<QCoreApplication> app;
    if (window)
        app = std::make_unique<QApplication>(argc, argv);
    else
        app = std::make_unique<QCoreApplication>(argc, argv);

    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, g_signalPipe) != 0)
        return 1;
    struct sigaction action = {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGHUP, &action, nullptr);
    std::signal(SIGPIPE, SIG_IGN);

    std::unique_ptr<DeviceSimulator> transport;
    if (uhid)
        transport = std::make_unique<UhidSimulator>(devices);
    else
        transport = std::make_unique<SocketSimulator>(directory, devices);
    DeviceSimulator& simulator = *transport;
    std::unique_ptr<DevsimWindow> view;
    if (window) {
        view = std::make_unique<DevsimWindow>(names);
        QObject::connect(&simulator, &DeviceSimulator::displayChanged, view.get(), &DevsimWindow::showState);
        QObject::connect(&simulator, &DeviceSimulator::plugChanged, view.get(), &DevsimWindow::showPlugged);
    }
    if (!simulator.start()) {
        simulator.shutdown();
        return 1;
    }
    if (view)
        view->show();

    const auto finish = [&simulator] {
        simulator.shutdown();
        QCoreApplication::exit(0);
    };
    QObject::connect(&simulator, &DeviceSimulator::quitRequested, app.get(), finish);

    QSocketNotifier signalNotifier(g_signalPipe[0], QSocketNotifier::Read);
    QObject::connect(&signalNotifier, &QSocketNotifier::activated, app.get(), [&] {
        char byte;
        [[maybe_unused]] const ssize_t n = ::read(g_signalPipe[0], &byte, 1);
        signalNotifier.setEnabled(false);
        finish();
    });

    // Commands on standard input; its end is the end of the session.
    QByteArray pending;
    QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
    QObject::connect(&input, &QSocketNotifier::activated, app.get(), [&] {
        char buffer[4096];
        const ssize_t n = ::read(STDIN_FILENO, buffer, sizeof(buffer));
        if (n < 0 && (errno == EINTR || errno == EAGAIN))
            return;
        if (n <= 0) {
            input.setEnabled(false);
            if (!pending.isEmpty())
                simulator.command(QString::fromUtf8(pending));
            finish();
            return;
        }
        pending.append(buffer, int(n));
        int newline;
        while ((newline = pending.indexOf('\n')) >= 0) {
            const QByteArray line = pending.left(newline);
            pending.remove(0, newline + 1);
            simulator.command(QString::fromUtf8(line));
        }
        // A line longer than any command is noise; drop it.
        if (pending.size() > 4096)
            pending.clear();
    });

    const int code = app->exec();
    simulator.shutdown();
    return code;
}
