#include "sensors/sensorlibrary.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QLibrary>

namespace {

template <typename Fn> Fn Resolve(QLibrary& library, const char* pszSymbol, QStringList& missing)
{
    Fn pFunction = reinterpret_cast<Fn>(library.resolve(pszSymbol));
    if (!pFunction) {
        missing << QString::fromLatin1(pszSymbol);
    }
    return pFunction;
}

} // namespace

QString SensorLibraryLoader::DefaultLibraryFileName()
{
    return QStringLiteral("libvarnoks-sensors-hwmon.so");
}

QString SensorLibraryLoader::LibraryToLoad()
{
    const QString strOverride = qEnvironmentVariable("VARNOKS_SENSOR_LIBRARY");
    if (!strOverride.isEmpty()) {
        return strOverride;
    }
    const QString strName = DefaultLibraryFileName();
    QStringList folders;
    if (QCoreApplication::instance()) {
        folders << QCoreApplication::applicationDirPath();
    }
    folders << QStringLiteral(VARNOKS_PLUGIN_INSTALL_DIR);
    for (const QString& strFolder : folders) {
        const QString strPath = QDir(strFolder).filePath(strName);
        if (QFileInfo(strPath).isFile()) {
            return strPath;
        }
    }
    return strName;
}

SensorEntryPoints SensorLibraryLoader::Load(const QString& strFileName, QString* pError)
{
    SensorEntryPoints entryPoints;
    if (strFileName.isEmpty()) {
        if (pError) {
            *pError = QStringLiteral("no sensor library named");
        }
        return entryPoints;
    }
    // The QLibrary object may go: it does not unload on destruction, so the
    // library stays mapped and its entry points stay valid.
    QLibrary library(strFileName);
    if (!library.load()) {
        if (pError) {
            *pError = library.errorString();
        }
        return entryPoints;
    }
    QStringList missing;
    entryPoints.initialise =
        Resolve<VarnoksSensorInitialiseFn>(library, VARNOKS_SENSOR_INITIALISE_SYMBOL, missing);
    entryPoints.shutdown = Resolve<VarnoksSensorShutdownFn>(library, VARNOKS_SENSOR_SHUTDOWN_SYMBOL, missing);
    entryPoints.count = Resolve<VarnoksSensorCountFn>(library, VARNOKS_SENSOR_COUNT_SYMBOL, missing);
    entryPoints.refresh = Resolve<VarnoksSensorRefreshFn>(library, VARNOKS_SENSOR_REFRESH_SYMBOL, missing);
    entryPoints.name = Resolve<VarnoksSensorNameFn>(library, VARNOKS_SENSOR_NAME_SYMBOL, missing);
    entryPoints.read = Resolve<VarnoksSensorReadFn>(library, VARNOKS_SENSOR_READ_SYMBOL, missing);
    QStringList optional;
    entryPoints.diagnostics =
        Resolve<VarnoksSensorDiagnosticsFn>(library, VARNOKS_SENSOR_DIAGNOSTICS_SYMBOL, optional);
    entryPoints.explain = Resolve<VarnoksSensorExplainFn>(library, VARNOKS_SENSOR_EXPLAIN_SYMBOL, optional);
    entryPoints.identity =
        Resolve<VarnoksSensorIdentityFn>(library, VARNOKS_SENSOR_IDENTITY_SYMBOL, optional);
    if (!missing.isEmpty() && pError) {
        *pError = QStringLiteral("%1 lacks %2").arg(library.fileName(), missing.join(QStringLiteral(", ")));
    }
    return entryPoints;
}
