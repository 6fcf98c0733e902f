// varnoks-sensors: loads the sensor library the program would load, through
// the same loader, and either lists every present reading or, with --chosen,
// runs the program's own search, puts the user's stored choices over it and
// prints the three readings the program shows.

#include "app/common.h"
#include "app/commontools.h"
#include "sensors/hardwareinforeader.h"
#include "sensors/sensorlibrary.h"
#include "sensors/sensorsearch.h"

#include <QCoreApplication>
#include <QStringList>
#include <QTextStream>

#include <cstdio>

namespace {

enum ExitCode
{
    kExitOk = 0,
    kExitCannotLoad = 1,
    kExitNoChip = 1, // nothing to read either
    kExitInitFailed = 2,
    kExitUsage = 64,
};

// Quotes a text for one output line: backslash, quote and control
// characters are escaped, so a hostile label cannot forge lines.
QString Quoted(const QString& strText)
{
    QString strOut = QStringLiteral("\"");
    for (const QChar c : strText) {
        if (c == QLatin1Char('"') || c == QLatin1Char('\\')) {
            strOut += QLatin1Char('\\');
            strOut += c;
        } else if (c.unicode() < 0x20 || c.unicode() == 0x7f || (c.unicode() >= 0x80 && c.unicode() < 0xa0)) {
            strOut += QStringLiteral("\\x%1").arg(c.unicode(), 2, 16, QLatin1Char('0'));
        } else {
            strOut += c;
        }
    }
    strOut += QLatin1Char('"');
    return strOut;
}

QString Number(double dValue)
{
    return QString::number(dValue, 'g', 6);
}

void PrintDiagnostics(const SensorEntryPoints& api, QTextStream& err)
{
    if (!api.diagnostics) {
        return;
    }
    const char* pszText = api.diagnostics();
    if (pszText && *pszText) {
        err << QString::fromLatin1(pszText);
        if (!QString::fromLatin1(pszText).endsWith(QLatin1Char('\n'))) {
            err << '\n';
        }
    }
}

void ListReadings(const SensorEntryPoints& api, QTextStream& out)
{
    const int nCount = qMin(api.count(), kMaxSearchedSensors);
    for (int nSensor = 0; nSensor < nCount; ++nSensor) {
        api.refresh(nSensor);
        out << "sensor " << nSensor << ' ' << Quoted(QuerySensorName(api, nSensor)) << '\n';
        for (const int nKind : {VARNOKS_READING_TEMPERATURE, VARNOKS_READING_FAN}) {
            for (int nSlot = 0; nSlot < VARNOKS_READING_SLOTS; ++nSlot) {
                const SensorReadingQuery query = QuerySensorReading(api, nKind, nSensor, nSlot);
                if (!query.IsPresent() && !query.bAsleep) {
                    continue;
                }
                out << "  kind=" << nKind << " slot=" << nSlot << " label=" << Quoted(query.strLabel)
                    << " unit=" << Quoted(query.strUnit)
                    << " value=" << (query.IsPresent() ? Number(query.dValue) : QStringLiteral("--(asleep)"));
                // What the settings store names it by when the user chooses it.
                const SensorReadingIdentity identity = QueryReadingIdentity(api, nKind, nSensor, nSlot);
                if (!identity.strIdentity.isEmpty()) {
                    out << " id=" << Quoted(identity.strIdentity)
                        << " own_label=" << Quoted(identity.strLabel);
                }
                out << '\n';
            }
        }
    }
}

struct ChosenReading
{
    const char* pszName;
    int nKind;
    SensorLocator locator;
    SensorMissReason miss;
    const char* pszSearchRule; // the search's own rule, for sources that do not explain theirs
    bool bChosenByUser;
};

void PrintChosen(const SensorEntryPoints& api, const ChosenReading& reading, QTextStream& out)
{
    out << reading.pszName;
    if (!reading.locator.IsFound()) {
        out << " none (" << SensorMissText(reading.miss) << ")\n";
        return;
    }
    const SensorLocator& locator = reading.locator;
    // The search refreshed every sensor once; this answers from that snapshot.
    const SensorReadingQuery query = QuerySensorReading(api, reading.nKind, locator.nSensor, locator.nSlot);
    out << " sensor=" << locator.nSensor << " slot=" << locator.nSlot << " score=" << locator.nScore
        << " label=" << Quoted(query.strLabel) << " value=";
    if (query.IsPresent()) {
        const bool bTemperature = reading.nKind == VARNOKS_READING_TEMPERATURE;
        const double dValue =
            bTemperature ? HardwareInfoReader::ConvertReadingUnit(query.strUnit, query.dValue) : query.dValue;
        const bool bPlausible =
            bTemperature ? COMMON::isPlausibleCelsius(dValue) : COMMON::isPlausibleFanRpm(dValue);
        // An impossible value is shown as "--", as the program shows it.
        out << (bPlausible ? Number(dValue) : QStringLiteral("--(impossible %1)").arg(Number(dValue)));
    } else {
        out << (query.bAsleep ? "--(asleep)" : "--");
    }
    // Sources that know where a reading comes from say so, and why it is
    // the one the program shows.
    char origin[VARNOKS_SENSOR_NAME_SIZE] = {};
    char rule[VARNOKS_SENSOR_NAME_SIZE] = {};
    if (api.explain && api.explain(reading.nKind, locator.nSensor, locator.nSlot, origin, sizeof(origin),
                                   rule, sizeof(rule))) {
        origin[sizeof(origin) - 1] = '\0';
        rule[sizeof(rule) - 1] = '\0';
        out << " source=" << Quoted(QString::fromLatin1(origin));
        if (!reading.bChosenByUser) {
            out << " rule="
                << Quoted(rule[0] ? QString::fromLatin1(rule) : QLatin1String(reading.pszSearchRule));
        }
    }
    if (reading.bChosenByUser) {
        out << " id="
            << Quoted(QueryReadingIdentity(api, reading.nKind, locator.nSensor, locator.nSlot).strIdentity)
            << " rule=" << Quoted(QStringLiteral("chosen by the user"));
    }
    out << '\n';
}

void PrintUsage(QTextStream& stream)
{
    stream << "Usage: varnoks-sensors [--list | --chosen]\n"
              "Loads the sensor library the program uses (VARNOKS_SENSOR_LIBRARY names another)\n"
              "and lists every present reading with the id a choice in the settings names it by,\n"
              "or with --chosen the CPU temperature, GPU temperature and CPU fan the program\n"
              "shows, where each comes from and the rule (or the user's choice) that chose it.\n"
              "Exits with 1 when no sensor chip is found.\n";
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    // The program's own settings store, where the user's choices are.
    QCoreApplication::setApplicationName(COMMON::APPLICATION_NAME);
    QTextStream out(stdout);
    QTextStream err(stderr);
    out.setCodec("UTF-8");
    err.setCodec("UTF-8");

    bool bChosen = false;
    const QStringList arguments = app.arguments().mid(1);
    for (const QString& strArgument : arguments) {
        if (strArgument == QLatin1String("--chosen")) {
            bChosen = true;
        } else if (strArgument == QLatin1String("--list")) {
            bChosen = false; // what it does without options
        } else if (strArgument == QLatin1String("--help") || strArgument == QLatin1String("-h")) {
            PrintUsage(out);
            return kExitOk;
        } else {
            err << "varnoks-sensors: unknown option " << strArgument << '\n';
            PrintUsage(err);
            return kExitUsage;
        }
    }

    QString strError;
    const QString strLibrary = SensorLibraryLoader::LibraryToLoad();
    const SensorEntryPoints api = SensorLibraryLoader::Load(strLibrary, &strError);
    if (!api.IsComplete()) {
        err << "HWi32: CANNOT LOAD DLL!\n";
        err << (strError.isEmpty() ? strLibrary : strError) << '\n';
        return kExitCannotLoad;
    }
    const int32_t nResult = api.initialise(64);
    PrintDiagnostics(api, err);
    if (nResult != 0) {
        err << QStringLiteral("HWi32: INIT FAILED %1!").arg(nResult) << '\n';
        return kExitInitFailed;
    }

    if (bChosen) {
        const SensorSearchResult result = SearchSensorReadings(api);
        ChosenReading readings[] = {
            {"cpu_temperature", VARNOKS_READING_TEMPERATURE, result.cpuTemperature,
             result.CpuTemperatureMiss(), "highest CPU label score", false},
            {"gpu_temperature", VARNOKS_READING_TEMPERATURE, result.gpuTemperature,
             result.GpuTemperatureMiss(), "last \"GPU Temperature\" label", false},
            {"cpu_fan", VARNOKS_READING_FAN, result.cpuFan, result.CpuFanMiss(), "last CPU fan in RPM",
             false},
        };
        for (int i = 0; i < 3; ++i) {
            ChosenReading& reading = readings[i];
            const QString strChoice = CommonTools::GetSensorChoice(COMMON::SENSOR_CHOICE_KEYS[i]);
            if (strChoice == COMMON::SENSOR_CHOICE_AUTO) {
                continue;
            }
            const SensorLocator chosen = FindReadingByIdentity(api, reading.nKind, strChoice);
            if (chosen.IsFound()) {
                reading.locator = chosen;
                reading.miss = SensorMissReason::None;
                reading.bChosenByUser = true;
            } else {
                err << "varnoks-sensors: the chosen " << reading.pszName << " sensor " << strChoice
                    << " is not present; the automatic choice is shown.\n";
            }
        }
        for (const ChosenReading& reading : readings) {
            PrintChosen(api, reading, out);
        }
    } else {
        ListReadings(api, out);
    }
    out.flush();
    const bool bNoChip = api.count() <= 0;
    api.shutdown();
    if (bNoChip) {
        err << "varnoks-sensors: no sensor chip found. Load the sensor drivers with sensors-detect from "
               "lm-sensors (as root), then run varnoks-sensors again.\n";
        return kExitNoChip;
    }
    return kExitOk;
}
