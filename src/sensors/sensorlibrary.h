#pragma once

#include "sensors/varnokssensorabi.h"

#include <QString>

// The six operations of a sensor source, plus the optional diagnostics and
// explanation texts and the readings' identities.
// Plain function pointers, so an in-process source (tests, benchmarks) can
// stand in for a loaded library.
struct SensorEntryPoints
{
    VarnoksSensorInitialiseFn initialise = nullptr;
    VarnoksSensorShutdownFn shutdown = nullptr;
    VarnoksSensorCountFn count = nullptr;
    VarnoksSensorRefreshFn refresh = nullptr;
    VarnoksSensorNameFn name = nullptr;
    VarnoksSensorReadFn read = nullptr;
    VarnoksSensorDiagnosticsFn diagnostics = nullptr; // may stay null
    VarnoksSensorExplainFn explain = nullptr;         // may stay null
    VarnoksSensorIdentityFn identity = nullptr;       // may stay null

    // True when all six required operations are there.
    bool IsComplete() const { return initialise && shutdown && count && refresh && name && read; }
};

// Opens a sensor library at run time and resolves its entry points. A library
// that loads is never unloaded: the entry points stay valid for the process.
class SensorLibraryLoader
{
public:
    SensorLibraryLoader() = delete;

    // File name of the project's own libsensors source.
    static QString DefaultLibraryFileName();

    // The library to load: VARNOKS_SENSOR_LIBRARY when set, otherwise the
    // default source beside the executable, then in the installed plugin
    // folder, and finally the plain file name for the dynamic loader's search.
    static QString LibraryToLoad();

    // Loads the named library (a path or a plain file name) and resolves the
    // entry points. On failure the result is incomplete and, when pError is
    // given, it receives the loader's explanation.
    static SensorEntryPoints Load(const QString& strFileName, QString* pError = nullptr);
};
