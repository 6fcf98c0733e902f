#include "rslogger.h"

#include "common.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMutexLocker>
#include <QRegularExpression>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

std::atomic<RSLogger*> RSLogger::s_pInstance{nullptr};
std::atomic<bool> RSLogger::s_bDestroyed{false};

namespace {

// Guards the creation of the logger and every line written. A QBasicMutex
// has no destructor, so it still works for code that logs during exit.
QBasicMutex g_loggerMutex;

// Shuts the logger down when static objects are destroyed at exit.
struct LoggerShutdown
{
    ~LoggerShutdown()
    {
        if (RSLogger* logger = RSLogger::GetInstance())
            logger->Shutdown();
    }
};

bool folderUsable(const QString& path)
{
    if (!QDir().mkpath(path))
        return false;
    return ::access(QFile::encodeName(path).constData(), W_OK | X_OK) == 0;
}

bool isWithin(const QString& path, const QString& folder)
{
    const QString base = QDir::cleanPath(folder);
    return path == base || path.startsWith(base == QLatin1String("/") ? base : base + QLatin1Char('/'));
}

// Opens today's file for appending, but only a regular file (or a new one):
// a FIFO, a device or a symbolic link in its place would block or redirect
// the log. Never blocks. Returns -1 when there is nothing to write to;
// created tells whether the file is new.
int openLogFile(const QString& path, bool* created)
{
    const QByteArray name = QFile::encodeName(path);
    struct stat st;
    if (::lstat(name.constData(), &st) == 0 && !S_ISREG(st.st_mode))
        return -1;
    const int flags = O_WRONLY | O_APPEND | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY;
    *created = true;
    int fd = ::open(name.constData(), flags | O_CREAT | O_EXCL, 0644);
    if (fd < 0 && errno == EEXIST) {
        *created = false;
        fd = ::open(name.constData(), flags);
    }
    if (fd < 0)
        return -1;
    // Something else may have taken the name between the two looks.
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return -1;
    }
    // Back to ordinary writes now that the file is known to be regular.
    ::fcntl(fd, F_SETFL, O_APPEND);
    return fd;
}

} // namespace

RSLogger* RSLogger::GetInstance()
{
    RSLogger* instance = s_pInstance.load(std::memory_order_acquire);
    if (instance)
        return instance;
    QMutexLocker locker(&g_loggerMutex);
    instance = s_pInstance.load(std::memory_order_relaxed);
    if (!instance) {
        instance = new RSLogger();
        s_pInstance.store(instance, std::memory_order_release);
        locker.unlock();
        // Static objects go in the reverse order of their construction: one
        // built before this first log call that logs from its destructor
        // finds the logger shut down and writes nothing.
        static LoggerShutdown shutdown;
    }
    return instance;
}

RSLogger::RSLogger() : m_nLevelMask(LevelMaskFor(qEnvironmentVariable("VARNOKS_LOG_LEVEL")))
{
    const QString path = GetLogFilePath();
    if (path.isEmpty())
        return;
    bool created = false;
    const int fd = openLogFile(path, &created);
    if (fd < 0)
        return;
    m_pFile = new QFile();
    if (!m_pFile->open(fd, QIODevice::WriteOnly | QIODevice::Append | QIODevice::Unbuffered,
                       QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        delete m_pFile;
        m_pFile = nullptr;
        return;
    }
    if (created) {
        const QByteArray stars(78, '*');
        const QByteArray header =
            stars + "\n* Device Monitor Application Running Log Information.\n* BuildTime:" +
            QDateTime::currentDateTime().toString("yyyy-MM-dd hh:mm:ss").toUtf8() + "\n" + stars + "\n";
        m_pFile->write(header);
    }
}

RSLogger::~RSLogger()
{
    Shutdown();
}

void RSLogger::Shutdown()
{
    QMutexLocker locker(&g_loggerMutex);
    s_bDestroyed.store(true);
    if (m_pFile) {
        m_pFile->close();
        delete m_pFile;
        m_pFile = nullptr;
    }
}

int RSLogger::LevelMaskFor(const QString& strLevel)
{
    // The low eight bits: every named level below debug, and level values
    // made of several of them.
    const int defaultMask = 0xFF;
    const QString level = strLevel.trimmed();
    if (level.compare(QLatin1String("debug"), Qt::CaseInsensitive) == 0)
        return defaultMask | LOG_DEBUG;
    if (!level.isEmpty()) {
        // Said on Qt's warning output: the logger cannot log while it is made.
        qWarning().noquote() << QStringLiteral("VARNOKS_LOG_LEVEL: unknown level \"%1\" ignored; "
                                               "\"debug\" also writes debug lines.")
                                    .arg(level.left(64));
    }
    return defaultMask;
}

bool RSLogger::IsBuildTreeFolder(const QString& strExeDir)
{
    if (strExeDir.isEmpty() || !QDir::isAbsolutePath(strExeDir))
        return false;
    const QString dir = QDir::cleanPath(strExeDir);
    // An installed program is never a build tree, wherever it was built.
    static const char* const systemFolders[] = {"/usr", "/opt", "/bin", "/sbin", "/lib", "/lib64", "/etc"};
    for (const char* folder : systemFolders) {
        if (isWithin(dir, QString::fromLatin1(folder)))
            return false;
    }
    if (isWithin(dir, QStringLiteral(VARNOKS_INSTALL_PREFIX)))
        return false;
    // CMake leaves its cache at the top of the build tree; executables sit
    // in bin/ below it.
    return QFileInfo::exists(dir + QStringLiteral("/CMakeCache.txt")) ||
           QFileInfo::exists(dir + QStringLiteral("/../CMakeCache.txt"));
}

QString RSLogger::LogFolderPath()
{
    // VARNOKS_LOG_DIR names the folder outright (tests, packagers).
    const QString fromEnv = qEnvironmentVariable("VARNOKS_LOG_DIR");
    if (!fromEnv.isEmpty())
        return QDir::cleanPath(fromEnv) + QLatin1Char('/');

    // Beside the executable in a build tree, so a developer finds the log
    // next to what was built; an installed program logs per user.
    const QString appDir = QCoreApplication::applicationDirPath();
    if (IsBuildTreeFolder(appDir)) {
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

    const QString fileName =
        QStringLiteral("Log_") + QDate::currentDate().toString("yyyy-MM-dd") + QStringLiteral(".txt");

    // Keep the two newest older day files besides today's, however many
    // starts the day has seen. Only our own daily files are candidates, so a
    // folder that also holds other things (the folder may be named by
    // VARNOKS_LOG_DIR) never loses them.
    static const QRegularExpression logName(QStringLiteral("^Log_\\d{4}-\\d{2}-\\d{2}\\.txt$"));
    QStringList logs;
    const QFileInfoList entries = dir.entryInfoList(QDir::Files | QDir::Hidden | QDir::System, QDir::Name);
    for (const QFileInfo& entry : entries) {
        if (entry.fileName() != fileName && logName.match(entry.fileName()).hasMatch())
            logs.append(entry.absoluteFilePath());
    }
    while (logs.size() > 2) {
        QFile::remove(logs.takeFirst());
    }
    return folder + fileName;
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
    if ((nLevel & m_nLevelMask) == 0 || s_bDestroyed.load())
        return;
    QMutexLocker locker(&g_loggerMutex);
    if (s_bDestroyed.load())
        return;
    const QString now = QDateTime::currentDateTime().toString("yyyy-MM-dd hh:mm:ss");
    const QString function = pszFunction ? QString::fromUtf8(pszFunction) : QString();
    // One multi-argument fill: a "%" in the message or the function name is
    // never taken for a placeholder.
    const QString line =
        QStringLiteral("[%1] [%2] %3(): %4").arg(now, GetLevelName(nLevel), function, strMessage);
    WriteLine(line);
}

void RSLogger::WriteLine(const QString& strLine)
{
    qInfo().noquote() << strLine;
    // A failed write (full disk, lost file) is not reported: there is
    // nowhere to report it, and one warning per line would drown the rest.
    if (m_pFile)
        m_pFile->write(strLine.toUtf8() + '\n');
}
