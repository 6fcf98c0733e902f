// One pass of the report sender over 1, 4 and 16 simulated devices: open,
// write the data report, read the answer, close, for each device in turn.
// The "per_device" counter is the time of one device's exchange.

#include "device/backends/virtualhidbackend.h"
#include "device/hiddevicesmanager.h"
#include "device/sendhiddatathread.h"
#include "devsimdriver.h"
#include "registryroute.h"

#include <QCoreApplication>

#include <benchmark/benchmark.h>

#include <cstdio>

static void BM_SendPass(benchmark::State& state)
{
    const int count = int(state.range(0));
    QStringList names;
    for (int i = 0; i < count; ++i)
        names.append(QStringLiteral("d%1").arg(i, 2, 10, QLatin1Char('0')));
    DevsimDriver sim;
    if (!sim.start(names, {}, true)) {
        state.SkipWithError("varnoks-devsim did not start");
        return;
    }
    auto backend = std::make_shared<VirtualHidBackend>(sim.directory());
    HIDDevicesManager manager(backend);
    manager.scanDevices();
    if (!finishIdentification(manager, 20000) || manager.devices().size() != count) {
        state.SkipWithError("not every simulated device was recognised");
        return;
    }
    const HIDDeviceMap devices = manager.devices();
    HidReport::ReportInputs inputs;
    inputs.cpuTemperature = 45;
    inputs.gpuTemperature = 50;
    inputs.fanRpm = 1200;
    const auto item = [] { return quint8(4); };

    int acknowledged = 0;
    for (auto _ : state) {
        const SendPassResult result = sendReportsOnce(*backend, inputs, devices, item);
        acknowledged += result.nAcknowledged;
    }
    if (acknowledged != int(state.iterations()) * count)
        state.SkipWithError("a device did not acknowledge");
    state.counters["per_device"] = benchmark::Counter(
        double(state.iterations()) * count, benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_SendPass)
    ->Arg(1)
    ->Arg(4)
    ->Arg(16)
    ->UseRealTime()
    ->Unit(benchmark::kMicrosecond)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
