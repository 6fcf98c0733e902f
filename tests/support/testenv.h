#pragma once

#include <QProcessEnvironment>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <memory>

// A clean set of XDG folders and a log folder for one test: every variable
// the program reads is pointed into a temporary folder that is removed with
// the object. Keep one alive for the whole test case.
class TestEnv
{
public:
    TestEnv();
    ~TestEnv();

    bool isValid() const { return m_dir.isValid(); }
    QString path() const { return m_dir.path(); }
    QString configHome() const;
    QString logDir() const;
    QString runtimeDir() const;

    // Path of a built program or plugin in build/bin.
    static QString binPath(const QString& name);
    static QString sourcePath(const QString& relative);

    // What a program run to its end left: exit code (-1 when it did not end
    // in time and was killed, -2 when it crashed), standard output and error.
    struct ProgramRun
    {
        int nExitCode = -1;
        QString strOut;
        QString strErr;
    };
    static ProgramRun runProgram(const QString& program, const QStringList& arguments,
                                 const QProcessEnvironment& environment, int msTimeout);

    // Reads the whole of today's log file ("" when there is none).
    QString readLog() const;

private:
    QTemporaryDir m_dir;
    QByteArray m_saved[6];
};
