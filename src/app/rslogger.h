#pragma once

#include <QObject>
#include <QString>

#include <atomic>

class QFile;

enum LogLevel
{
    LOG_INFO = 1,
    LOG_WARNING = 2,
    LOG_ERROR = 4,
    LOG_CRITICAL = 8,
    LOG_TIMER = 16,
    LOG_DEBUG = 256,
};

// The program's run log: one process-wide logger that writes time-stamped
// lines into a daily file and echoes them to Qt's debug output.
//
// The logger object is never freed: at process exit its file is closed and
// it is marked destroyed, after which every call returns without writing, so
// a pointer kept by a thread that still logs stays valid.
class RSLogger : public QObject
{
public:
    static RSLogger* GetInstance();

    void WriteLog(int nLevel, const QString& strMessage, const char* pszFunction);
    static QString GetLevelName(int nLevel);
    // Today's file in the log folder, after pruning older files; empty when
    // the folder cannot be created.
    static QString GetLogFilePath();

    // Folder the log files go to (with a trailing slash).
    static QString LogFolderPath();
    // True when the executable's folder belongs to a build tree, whose
    // logs/ folder beside the executable then holds the run log.
    static bool IsBuildTreeFolder(const QString& strExeDir);

    // Closes the file and marks the logger destroyed; runs at process exit.
    void Shutdown();

    // Levels written for a VARNOKS_LOG_LEVEL value: everything but debug
    // lines when it is empty, debug lines too for "debug".
    static int LevelMaskFor(const QString& strLevel);

private:
    RSLogger();
    ~RSLogger() override;
    // Writes one finished line; the caller holds the logger's lock.
    void WriteLine(const QString& strLine);

    // Chosen once, before the logger is published to other threads.
    const int m_nLevelMask;
    QFile* m_pFile = nullptr;

    static std::atomic<RSLogger*> s_pInstance;
    static std::atomic<bool> s_bDestroyed;
};
