// The one-time search and one read cycle over a fixture source of 32 sensors
// with readings in all 512 slots of both kinds. Each has a baseline: the bare
// queries the operation cannot avoid, so the reader's own share is the
// difference.

#include "sensors/hardwareinforeader.h"
#include "sensors/sensorlibrary.h"
#include "sensors/sensorsearch.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>

namespace {

constexpr int kSensors = 32;

QByteArray BigFixture()
{
    QByteArray json = R"({"init": 0, "sensors": [)";
    for (int s = 0; s < kSensors; ++s) {
        json += s ? "," : "";
        json += QStringLiteral(R"({"name": "%1", "readings": [)")
                    .arg(s % 4 == 0 ? QStringLiteral("CPU [chip-%1] DTS").arg(s)
                                    : QStringLiteral("[chip-%1]").arg(s))
                    .toUtf8();
        for (int r = 0; r < VARNOKS_READING_SLOTS; ++r) {
            const char* pszLabel = r % 3 == 0 ? "CPU Core" : (r % 3 == 1 ? "GPU Temperature" : "Board");
            json += QStringLiteral(
                        R"(%1{"kind": 1, "slot": %2, "label": "%3 %2", "unit": "C", "values": [%4]},)"
                        R"({"kind": 3, "slot": %2, "label": "%5 %2", "unit": "RPM", "values": [1200]})")
                        .arg(r ? "," : "")
                        .arg(r)
                        .arg(QLatin1String(pszLabel))
                        .arg(40 + r % 20)
                        .arg(QLatin1String(r % 2 ? "CPU Fan" : "Chassis"))
                        .toUtf8();
        }
        json += "]}";
    }
    json += "]}";
    return json;
}

SensorEntryPoints g_api;

void BM_Search(benchmark::State& state)
{
    for (auto _ : state) {
        const SensorSearchResult result = SearchSensorReadings(g_api);
        benchmark::DoNotOptimize(result);
    }
}
BENCHMARK(BM_Search)->Unit(benchmark::kMillisecond);

// Baseline of the search: every refresh and query it makes, without decoding
// or scoring.
void BM_SearchBaselineRawQueries(benchmark::State& state)
{
    VarnoksSensorReading record;
    for (auto _ : state) {
        for (int s = 0; s < g_api.count(); ++s) {
            g_api.refresh(s);
            for (int r = 0; r < VARNOKS_READING_SLOTS; ++r) {
                std::memset(&record, 0, sizeof(record));
                benchmark::DoNotOptimize(g_api.read(VARNOKS_READING_TEMPERATURE, s, r, &record));
                std::memset(&record, 0, sizeof(record));
                benchmark::DoNotOptimize(g_api.read(VARNOKS_READING_FAN, s, r, &record));
            }
        }
    }
}
BENCHMARK(BM_SearchBaselineRawQueries)->Unit(benchmark::kMillisecond);

void BM_ReadCycle(benchmark::State& state)
{
    HardwareInfoReader reader([](QString*) { return g_api; });
    reader.InitHWi32Dll();
    int nEmitted = 0;
    QObject::connect(&reader, &HardwareInfoReader::signalsGetHardwareInfo,
                     [&nEmitted](const COMMON::HardwareInfo&) { ++nEmitted; });
    for (auto _ : state) {
        reader.onReadHardwareInfo();
    }
    if (nEmitted == 0) {
        state.SkipWithError("the reader emitted nothing");
    }
}
BENCHMARK(BM_ReadCycle)->Unit(benchmark::kMicrosecond);

// Baseline of a read cycle: its three refreshes and three queries.
void BM_ReadCycleBaselineRawQueries(benchmark::State& state)
{
    const SensorSearchResult located = SearchSensorReadings(g_api);
    VarnoksSensorReading record;
    for (auto _ : state) {
        for (const SensorLocator* pLocator :
             {&located.cpuTemperature, &located.cpuFan, &located.gpuTemperature}) {
            g_api.refresh(pLocator->nSensor);
            std::memset(&record, 0, sizeof(record));
            benchmark::DoNotOptimize(
                g_api.read(pLocator == &located.cpuFan ? VARNOKS_READING_FAN : VARNOKS_READING_TEMPERATURE,
                           pLocator->nSensor, pLocator->nSlot, &record));
        }
    }
}
BENCHMARK(BM_ReadCycleBaselineRawQueries)->Unit(benchmark::kMicrosecond);

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    const QString strFixture = dir.filePath(QStringLiteral("fixture.json"));
    QFile file(strFixture);
    if (!dir.isValid() || !file.open(QIODevice::WriteOnly) || file.write(BigFixture()) < 0) {
        std::fprintf(stderr, "cannot write the fixture\n");
        return 1;
    }
    file.close();
    qputenv("VARNOKS_SENSOR_FIXTURE", QFile::encodeName(strFixture));
    QString strError;
    g_api = SensorLibraryLoader::Load(
        QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral("libvarnoks-sensors-sim.so")),
        &strError);
    if (!g_api.IsComplete() || g_api.initialise(64) != 0) {
        std::fprintf(stderr, "cannot start the fixture source: %s\n", qPrintable(strError));
        return 1;
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    g_api.shutdown();
    return 0;
}
