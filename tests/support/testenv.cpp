#include "testenv.h"

#include <QProcess>

#include <QCoreApplication>
#include <QDate>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>

namespace {
const char* const kVariables[6] = {"XDG_CONFIG_HOME", "XDG_STATE_HOME",  "XDG_DATA_HOME",
                                   "XDG_CACHE_HOME",  "XDG_RUNTIME_DIR", "VARNOKS_LOG_DIR"};
}

TestEnv::TestEnv()
{
    const QString subdirs[6] = {"config", "state", "data", "cache", "runtime", "logs"};
    for (int i = 0; i < 6; ++i) {
        m_saved[i] = qgetenv(kVariables[i]);
        const QString dir = m_dir.path() + QLatin1Char('/') + subdirs[i];
        QDir().mkpath(dir);
        qputenv(kVariables[i], QFile::encodeName(dir));
    }
    QFile::setPermissions(runtimeDir(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    // Qt reads XDG_CONFIG_HOME once per process; point the settings store
    // at this test's folder explicitly.
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, configHome());
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, configHome());
}

TestEnv::~TestEnv()
{
    for (int i = 0; i < 6; ++i)
        qputenv(kVariables[i], m_saved[i]);
}

QString TestEnv::configHome() const
{
    return m_dir.path() + QStringLiteral("/config");
}

QString TestEnv::logDir() const
{
    return m_dir.path() + QStringLiteral("/logs");
}

QString TestEnv::runtimeDir() const
{
    return m_dir.path() + QStringLiteral("/runtime");
}

QString TestEnv::binPath(const QString& name)
{
    QString dir = qEnvironmentVariable("VARNOKS_BIN_DIR");
    if (dir.isEmpty())
        dir = QCoreApplication::applicationDirPath();
    return QDir(dir).filePath(name);
}

QString TestEnv::sourcePath(const QString& relative)
{
    return QDir(qEnvironmentVariable("VARNOKS_SOURCE_DIR")).filePath(relative);
}

QString TestEnv::readLog() const
{
    QFile file(logDir() + QStringLiteral("/Log_") + QDate::currentDate().toString("yyyy-MM-dd") +
               QStringLiteral(".txt"));
    if (!file.open(QIODevice::ReadOnly))
        return QString();
    return QString::fromUtf8(file.readAll());
}

TestEnv::ProgramRun TestEnv::runProgram(const QString& program, const QStringList& arguments,
                                        const QProcessEnvironment& environment, int msTimeout)
{
    QProcess process;
    process.setProcessEnvironment(environment);
    process.start(program, arguments);
    ProgramRun run;
    if (!process.waitForFinished(msTimeout)) {
        process.kill();
        process.waitForFinished();
        return run;
    }
    run.nExitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -2;
    run.strOut = QString::fromUtf8(process.readAllStandardOutput());
    run.strErr = QString::fromUtf8(process.readAllStandardError());
    return run;
}
