#pragma once

#include <QString>
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

    // Reads the whole of today's log file ("" when there is none).
    QString readLog() const;

private:
    QTemporaryDir m_dir;
    QByteArray m_saved[6];
};
