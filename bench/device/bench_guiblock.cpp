// How long the GUI thread is blocked while the registry identifies 12
// interfaces that never answer, measured as the lateness of a 50 ms timer
// on that thread (target: under 100 ms). Baselines from the same run: the
// timer alone, and the same 12 identifications run one after another on
// the GUI thread, as a blocking registry would.
//
//   bench_guiblock [RUNS]      (default 5; medians of each run's worst lateness)

#include "device/backends/virtualhidbackend.h"
#include "device/hiddevicesmanager.h"
#include "device/hidexchange.h"
#include "devsimdriver.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <functional>

namespace {

constexpr int TICK_MS = 50;
constexpr int INTERFACES = 12;

struct Run
{
    qint64 worstLatenessMs = 0;
    qint64 tookMs = 0;
};

// Runs the event loop with a 50 ms timer until `finished` holds, after
// `work` was started from inside the loop; the worst lateness of a tick.
Run measure(const std::function<void()>& work, const std::function<bool()>& finished)
{
    Run run;
    QElapsedTimer clock;
    clock.start();
    qint64 last = 0;
    QTimer tick;
    tick.setTimerType(Qt::PreciseTimer);
    tick.setInterval(TICK_MS);
    QObject::connect(&tick, &QTimer::timeout, [&] {
        const qint64 now = clock.elapsed();
        run.worstLatenessMs = std::max(run.worstLatenessMs, now - last - TICK_MS);
        last = now;
        if (finished()) {
            run.tookMs = now;
            QCoreApplication::exit(0);
        }
    });
    tick.start();
    QTimer::singleShot(0, work);
    QCoreApplication::exec();
    return run;
}

qint64 median(QVector<qint64> values)
{
    std::sort(values.begin(), values.end());
    return values.isEmpty() ? 0 : values.at(values.size() / 2);
}

} // namespace

int main(int argc, char** argv)
{
    // The failed identifications are logged; keep them out of the way.
    QTemporaryDir logs;
    qputenv("VARNOKS_LOG_DIR", QFile::encodeName(logs.path()));
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {});
    QCoreApplication app(argc, argv);
    const int runs = argc > 1 ? std::max(1, atoi(argv[1])) : 5;

    QStringList names;
    for (int i = 0; i < INTERFACES; ++i)
        names.append(QStringLiteral("s%1,fault=silent").arg(i, 2, 10, QLatin1Char('0')));
    DevsimDriver sim;
    if (!sim.start(names, {}, true)) {
        std::fprintf(stderr, "bench_guiblock: varnoks-devsim did not start\n");
        return 1;
    }
    auto backend = std::make_shared<VirtualHidBackend>(sim.directory());
    if (backend->enumerate().size() != INTERFACES) {
        std::fprintf(stderr, "bench_guiblock: the simulated interfaces are not all there\n");
        return 1;
    }

    QVector<qint64> idle, registry, registryTook;
    for (int i = 0; i < runs; ++i) {
        QElapsedTimer since;
        since.start();
        idle.append(measure([] {}, [&since] { return since.elapsed() >= 2000; }).worstLatenessMs);

        HIDDevicesManager manager(backend);
        QObject::connect(&manager, &HIDDevicesManager::identificationFinished, &manager,
                         [&manager](const DeviceChangeEvent& event) { manager.handleDeviceChange(event); });
        bool started = false;
        const Run run = measure(
            [&] {
                manager.scanDevices();
                started = true;
            },
            [&] { return started && manager.identifying() == 0; });
        registry.append(run.worstLatenessMs);
        registryTook.append(run.tookMs);
    }

    // What a registry that identifies on the GUI thread costs, once.
    const QVector<HidEnumEntry> entries = backend->enumerate();
    bool done = false;
    const Run blocking = measure(
        [&] {
            for (const HidEnumEntry& entry : entries)
                identifyInterface(*backend, entry.vendorId, entry.productId, entry.path);
            done = true;
        },
        [&done] { return done; });

    std::printf("GUI-thread lateness of a %d ms timer while %d silent interfaces are identified "
                "(medians of %d runs, worst tick of each run):\n",
                TICK_MS, INTERFACES, runs);
    std::printf("  registry (worker threads)       %5lld ms   (target < 100 ms); all answers in %lld ms\n",
                median(registry), median(registryTook));
    std::printf("  baseline: timer alone           %5lld ms\n", median(idle));
    std::printf("  baseline: in turn on the thread %5lld ms   (one run)\n", blocking.worstLatenessMs);
    return 0;
}
