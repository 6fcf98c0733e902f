#include "rslogger.h"

#include "common.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMutex>
#include <QMutexLocker>
#include <QRegularExpression>
#include <QSharedPointer>
#include <QStandardPaths>
#include <QTextStream>

#include <unistd.h>

std::atomic<RSLogger*> RSLogger::s_pInstance{nullptr};
std::atomic<bool> RSLogger::s_bDestroyed{false};

namespace {

// Guards the creation of the logger and every line written.
QMutex& loggerMutex()
{
    static QMutex mutex;
    return mutex;
}

QSharedPointer<RSLogger>& loggerOwner()
{
    static QSharedPointer<RSLogger> owner;
    return owner;
}

bool folderUsable(const QString& path)
{
    if (!QDir().mkpath(path))
        return false;
    return ::access(QFile::encodeName(path).constData(), W_OK | X_OK) == 0;
}

} // namespace

RSLogger* RSLogger::GetInstance()
{
    RSLogger* instance = s_pInstance.load(std::memory_order_acquire);
    if (instance)
        return instance;
    QMutexLocker locker(&loggerMutex());
    instance = s_pInstance.load(std::memory_order_relaxed);
    if (!instance) {
        instance = new RSLogger();
        loggerOwner().reset(instance);
        s_pInstance.store(instance, std::memory_order_release);
    }
    return instance;
}

RSLogger::RSLogger()
{
    m_nLevelMask = 0xFF;
    const QString path = GetLogFilePath();
    if (path.isEmpty())
        return;
    m_pFile = new QFile(path);
    const bool existed = m_pFile->exists();
    m_pFile->open(QIODevice::ReadWrite | QIODevice::Append | QIODevice::Text);
    if (!existed && m_pFile->isOpen()) {
        QTextStream stream(m_pFile);
        stream.setCodec("UTF-8");
        const QString stars(78, QLatin1Char('*'));
        stream << stars << "\n"
               << "* Device Monitor Application Running Log Information.\n"
               << "* BuildTime:" << QDateTime::currentDateTime().toString("yyyy-MM-dd hh:mm:ss") << "\n"
               << stars << "\n";
        stream.flush();
        m_pFile->flush();
    }
}

RSLogger::~RSLogger()
{
    s_bDestroyed.store(true);
    s_pInstance.store(nullptr, std::memory_order_release);
    if (m_pFile) {
        m_pFile->close();
        delete m_pFile;
        m_pFile = nullptr;
    }
}

QString RSLogger::LogFolderPath()
{
    // VARNOKS_LOG_DIR names the folder outright (tests, packagers).
    const QString fromEnv = qEnvironmentVariable("VARNOKS_LOG_DIR");
    if (!fromEnv.isEmpty())
        return QDir::cleanPath(fromEnv) + QLatin1Char('/');

    // Beside the executable when we may write there, as a portable build
    // expects; an installed program's folder is not writable by its user.
    const QString appDir = QCoreApplication::applicationDirPath();
    if (!appDir.isEmpty()) {
        const QString besideExe = appDir + QStringLiteral("/logs/");
        if (folderUsable(besideExe))
            return besideExe;
    }

    QString state = qEnvironmentVariable("XDG_STATE_HOME");
    if (state.isEmpty() || !QDir::isAbsolutePath(state))
        state = QDir::homePath() + QStringLiteral("/.local/state");
    return state + QLatin1Char('/') + COMMON::APPLICATION_NAME + QStringLiteral("/logs/");
}

QString RSLogger::GetLogFilePath()
{
    const QString folder = LogFolderPath();
    QDir dir(folder);
    if (!dir.exists() && !QDir().mkpath(folder)) {
        qInfo().noquote() << QStringLiteral("Create Log folder fail. [%1]").arg(folder);
        return QString();
    }

    const QString filePath =
        folder + QStringLiteral("Log_") + QDate::currentDate().toString("yyyy-MM-dd") + QStringLiteral(".txt");

    // Keep the two newest dated files besides today's. Only our own daily
    // files are candidates, so a folder that also holds other things (the
    // folder may be named by VARNOKS_LOG_DIR) never loses them.
    static const QRegularExpression logName(QStringLiteral("^Log_\\d{4}-\\d{2}-\\d{2}\\.txt$"));
    QStringList logs;
    const QFileInfoList entries = dir.entryInfoList(QDir::Files | QDir::Hidden, QDir::Name);
    for (const QFileInfo& entry : entries) {
        if (logName.match(entry.fileName()).hasMatch())
            logs.append(entry.absoluteFilePath());
    }
    while (logs.size() > 2) {
        QFile::remove(logs.takeFirst());
    }
    return filePath;
}

QString RSLogger::GetLevelName(int nLevel)
{
    switch (nLevel) {
    case LOG_INFO:
        return QStringLiteral("Info    ");
    case LOG_WARNING:
        return QStringLiteral("Warnning");
    case LOG_ERROR:
        return QStringLiteral("Error   ");
    case LOG_CRITICAL:
        return QStringLiteral("Critical");
    case LOG_TIMER:
        return QStringLiteral("Timer   ");
    case LOG_DEBUG:
        return QStringLiteral("Debug   ");
    default:
        return QStringLiteral("Unknown ");
    }
}

void RSLogger::WriteLog(int nLevel, const QString& strMessage, const char* pszFunction)
{
    if ((nLevel & m_nLevelMask) == 0)
        return;
    QMutexLocker locker(&loggerMutex());
    const QString now = QDateTime::currentDateTime().toString("yyyy-MM-dd hh:mm:ss");
    const QString function = pszFunction ? QString::fromUtf8(pszFunction) : QString();
    // One multi-argument fill: a "%" in the message or the function name is
    // never taken for a placeholder.
    const QString line = QStringLiteral("[%1] [%2] %3(): %4").arg(now, GetLevelName(nLevel), function, strMessage);
    WriteLine(line);
}

void RSLogger::WriteLine(const QString& strLine)
{
    qInfo().noquote() << strLine;
    if (m_pFile && !s_bDestroyed.load()) {
        QTextStream stream(m_pFile);
        stream.setCodec("UTF-8");
        stream << strLine << "\n";
        stream.flush();
        m_pFile->flush();
    }
}
