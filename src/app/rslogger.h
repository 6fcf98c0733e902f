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
class RSLogger : public QObject
{
public:
    static RSLogger* GetInstance();

    void WriteLog(int nLevel, const QString& strMessage, const char* pszFunction);
    static QString GetLevelName(int nLevel);
    // Today's file in the log folder, after pruning older files; empty when
    // the folder cannot be created.
    static QString GetLogFilePath();
    void WriteLine(const QString& strLine);

    // Folder the log files go to (with a trailing slash).
    static QString LogFolderPath();

    ~RSLogger() override;

private:
    RSLogger();

    int m_nLevelMask = 0xFF;
    QFile* m_pFile = nullptr;

    static std::atomic<RSLogger*> s_pInstance;
    static std::atomic<bool> s_bDestroyed;
};
