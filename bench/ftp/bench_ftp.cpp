// Listing parser throughput, and listing a directory of 10,000 entries from a
// loopback pyftpdlib server with our client and with curl --list-only.
#include "ftpserver.h"
#include "update/ftp/ftplistparser.h"
#include "update/ftp/qftp.h"

#include <QCoreApplication>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTimer>

#include <benchmark/benchmark.h>

#include <memory>

using varnoks::QFtp;
using varnoks::QUrlInfo;

namespace {

constexpr int kLines = 100000;
constexpr int kEntries = 10000;
const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                               "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

QList<QByteArray> unixLines()
{
    QList<QByteArray> lines;
    lines.reserve(kLines);
    for (int i = 0; i < kLines; ++i) {
        const bool dir = i % 5 == 0;
        QByteArray line =
            dir ? "drwxr-xr-x   2 owner    group        4096 " : "-rw-r--r--   1 owner    group    ";
        if (!dir)
            line += QByteArray::number(1000 + i * 37).rightJustified(10, ' ') + ' ';
        line += kMonths[i % 12];
        line += i % 2 ? " 07 05:10 " : " 03  2023 ";
        line += (dir ? "V1.0." : "file_") + QByteArray::number(i) + (dir ? "" : ".txt") + "\r\n";
        lines << line;
    }
    return lines;
}

// Every line with a time of day of its own: each date-time is built afresh,
// which asks the C library for the local zone.
QList<QByteArray> unixLinesDistinctTimes()
{
    QList<QByteArray> lines;
    lines.reserve(kLines);
    for (int i = 0; i < kLines; ++i) {
        const int minutes = i % 1440;
        QByteArray line = "-rw-r--r--   1 owner    group          42 ";
        line += kMonths[(i / 1440) % 12];
        line += ' ' + QByteArray::number(1 + (i / 17280) % 28) + ' ';
        line += QByteArray::number(minutes / 60).rightJustified(2, '0') + ':' +
                QByteArray::number(minutes % 60).rightJustified(2, '0');
        line += " file_" + QByteArray::number(i) + ".txt\r\n";
        lines << line;
    }
    return lines;
}

QList<QByteArray> dosLines()
{
    QList<QByteArray> lines;
    lines.reserve(kLines);
    for (int i = 0; i < kLines; ++i) {
        const bool dir = i % 5 == 0;
        QByteArray line = QByteArray::number(1 + i % 12).rightJustified(2, '0') + '-' +
                          QByteArray::number(1 + i % 28).rightJustified(2, '0') + "-24  " +
                          QByteArray::number(1 + i % 12).rightJustified(2, '0') + ":30" +
                          (i % 2 ? "PM" : "AM");
        line += dir ? "       <DIR>          " : QByteArray::number(1000 + i).rightJustified(20, ' ') + ' ';
        line += (dir ? "V1.0." : "FILE") + QByteArray::number(i) + (dir ? "" : ".EXE") + "\r\n";
        lines << line;
    }
    return lines;
}

void parseAll(benchmark::State& state, const QList<QByteArray>& lines)
{
    const QDateTime now = QDateTime::currentDateTime();
    for (auto _ : state) {
        int parsed = 0;
        for (const QByteArray& line : lines) {
            QUrlInfo info;
            parsed += varnoks::FtpListParser::parseLine(line, QString(), now, &info) ? 1 : 0;
        }
        if (parsed != lines.size())
            state.SkipWithError("a generated line did not parse");
        benchmark::DoNotOptimize(parsed);
    }
    state.SetItemsProcessed(state.iterations() * lines.size());
}

void BM_ParseUnixListing100k(benchmark::State& state)
{
    static const QList<QByteArray> lines = unixLines();
    parseAll(state, lines);
}
BENCHMARK(BM_ParseUnixListing100k)->Unit(benchmark::kMillisecond)->Repetitions(5)->ReportAggregatesOnly(true);

void BM_ParseUnixDistinctTimes100k(benchmark::State& state)
{
    static const QList<QByteArray> lines = unixLinesDistinctTimes();
    parseAll(state, lines);
}
BENCHMARK(BM_ParseUnixDistinctTimes100k)
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);

void BM_ParseDosListing100k(benchmark::State& state)
{
    static const QList<QByteArray> lines = dosLines();
    parseAll(state, lines);
}
BENCHMARK(BM_ParseDosListing100k)->Unit(benchmark::kMillisecond)->Repetitions(5)->ReportAggregatesOnly(true);

// One server with a directory of 10,000 entries, shared by both listings.
struct Fixture
{
    QTemporaryDir root;
    FtpServer server;
    bool ok = false;
    QString error;

    Fixture()
    {
        QDir().mkpath(root.filePath(QStringLiteral("big")));
        for (int i = 0; i < kEntries; ++i) {
            QFile f(root.filePath(QStringLiteral("big/entry_%1.bin").arg(i)));
            if (!f.open(QIODevice::WriteOnly)) {
                error = QStringLiteral("cannot create the entries");
                return;
            }
        }
        FtpServer::Options options;
        options.root = root.path();
        ok = server.start(options);
        if (!ok)
            error = server.errorString();
    }
};

Fixture& fixture()
{
    static Fixture f;
    return f;
}

void BM_ListClient10k(benchmark::State& state)
{
    Fixture& f = fixture();
    if (!f.ok) {
        state.SkipWithError(qPrintable(f.error));
        return;
    }
    for (auto _ : state) {
        QFtp ftp;
        int entries = 0;
        bool failed = true;
        QEventLoop loop;
        QObject::connect(&ftp, &QFtp::listInfo, [&](const QUrlInfo&) { ++entries; });
        QObject::connect(&ftp, &QFtp::done, [&](bool error) {
            failed = error;
            loop.quit();
        });
        QTimer::singleShot(60000, &loop, &QEventLoop::quit);
        ftp.connectToHost(f.server.host(), f.server.port());
        ftp.login(f.server.user(), f.server.password());
        ftp.list(QStringLiteral("/big"));
        ftp.close();
        loop.exec();
        if (failed || entries != kEntries) {
            state.SkipWithError("listing failed or incomplete");
            return;
        }
    }
    state.SetItemsProcessed(state.iterations() * kEntries);
}
BENCHMARK(BM_ListClient10k)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(3)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);

// curl fetching the same directory: with --list-only it sends NLST (names
// only, which the server answers without a stat per entry); without it, LIST
// as our client does.
void listWithCurl(benchmark::State& state, bool namesOnly)
{
    Fixture& f = fixture();
    const QString curl = QStandardPaths::findExecutable(QStringLiteral("curl"));
    if (!f.ok || curl.isEmpty()) {
        state.SkipWithError(curl.isEmpty() ? "curl is not installed" : qPrintable(f.error));
        return;
    }
    const QString url = QStringLiteral("ftp://%1:%2@%3:%4/big/")
                            .arg(f.server.user(), f.server.password(), f.server.host())
                            .arg(f.server.port());
    QStringList args{QStringLiteral("--silent"), url};
    if (namesOnly)
        args.prepend(QStringLiteral("--list-only"));
    for (auto _ : state) {
        QProcess p;
        p.start(curl, args);
        if (!p.waitForFinished(60000) || p.exitCode() != 0) {
            state.SkipWithError("curl failed");
            return;
        }
        if (p.readAllStandardOutput().count('\n') != kEntries) {
            state.SkipWithError("curl listing incomplete");
            return;
        }
    }
    state.SetItemsProcessed(state.iterations() * kEntries);
}

void BM_ListCurlListOnly10k(benchmark::State& state)
{
    listWithCurl(state, true);
}
BENCHMARK(BM_ListCurlListOnly10k)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(3)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);

void BM_ListCurlLong10k(benchmark::State& state)
{
    listWithCurl(state, false);
}
BENCHMARK(BM_ListCurlLong10k)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(3)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);

} // namespace

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
