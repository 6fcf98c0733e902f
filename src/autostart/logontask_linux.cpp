// Logon task on Linux: an XDG autostart entry stands in for the scheduler's
// task. The three operations keep the results and run-log lines of the
// scheduler version; failure codes are mapped as hresult.h documents.

#include "app/commontools.h"
#include "app/rslogger.h"
#include "hresult.h"
#include "xdgautostartentry.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const char* const FN_IS_TASK_EXISTS = "CommonTools::IsTaskExists";
const char* const FN_ADD_TASK = "CommonTools::AddTaskToScheduler";
const char* const FN_SET_STATE = "CommonTools::SetTaskEnabledState";

void writeLog(int nLevel, const QString& strMessage, const char* pszFunction)
{
    RSLogger::GetInstance()->WriteLog(nLevel, strMessage, pszFunction);
}

// Reads the entry, bounded, without following it into a FIFO or a device
// (which could block or never end). Returns S_OK or the failure code.
quint32 readEntry(const QString& strPath, QByteArray* pContent)
{
    const QByteArray path = QFile::encodeName(strPath);
    const int fd = ::open(path.constData(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0)
        return HResult::fromErrno(errno);
    quint32 result = HResult::S_OK_CODE;
    struct stat st;
    if (::fstat(fd, &st) != 0) {
        result = HResult::fromErrno(errno);
    } else if (!S_ISREG(st.st_mode)) {
        result = HResult::INVALID_DATA;
    } else if (st.st_size > XdgAutostartEntry::MAX_ENTRY_SIZE) {
        result = HResult::FILE_TOO_LARGE;
    } else {
        QByteArray content;
        char buffer[4096];
        for (;;) {
            const ssize_t n = ::read(fd, buffer, sizeof buffer);
            if (n < 0) {
                if (errno == EINTR)
                    continue;
                result = HResult::fromErrno(errno);
                break;
            }
            if (n == 0)
                break;
            content.append(buffer, static_cast<int>(n));
            // The file may grow while we read it.
            if (content.size() > XdgAutostartEntry::MAX_ENTRY_SIZE) {
                result = HResult::FILE_TOO_LARGE;
                break;
            }
        }
        if (result == HResult::S_OK_CODE)
            *pContent = content;
    }
    ::close(fd);
    return result;
}

// Writes the whole file under a temporary name in the same folder and
// renames it over the entry, so that a session starting (or a crash) never
// sees a half-written entry. Returns 0 or the errno of the failing step.
int writeAtomically(const QString& strPath, const QByteArray& content)
{
    const QFileInfo info(strPath);
    // A leading dot and no .desktop suffix: session managers ignore the
    // temporary file while it exists.
    QByteArray tmpl = QFile::encodeName(info.absolutePath() + QStringLiteral("/.") + info.fileName() +
                                        QStringLiteral(".XXXXXX"));
    const int fd = ::mkostemp(tmpl.data(), O_CLOEXEC);
    if (fd < 0)
        return errno;
    int error = 0;
    ::fchmod(fd, 0644);
    qint64 written = 0;
    while (written < content.size()) {
        const ssize_t n = ::write(fd, content.constData() + written, size_t(content.size() - written));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            error = errno;
            break;
        }
        written += n;
    }
    if (error == 0 && ::fsync(fd) != 0)
        error = errno;
    if (::close(fd) != 0 && error == 0)
        error = errno;
    if (error == 0 && ::rename(tmpl.constData(), QFile::encodeName(strPath).constData()) != 0)
        error = errno;
    if (error != 0) {
        ::unlink(tmpl.constData());
        return error;
    }
    // Make the rename itself durable; a failure here loses nothing.
    const int dirFd =
        ::open(QFile::encodeName(info.absolutePath()).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd >= 0) {
        ::fsync(dirFd);
        ::close(dirFd);
    }
    return 0;
}

} // namespace

bool CommonTools::IsTaskExists(const QString& strTaskName)
{
    const QString path = XdgAutostartEntry::entryFilePath(strTaskName);
    if (path.isEmpty()) {
        writeLog(LOG_ERROR,
                 QStringLiteral("Failed to query task. HRESULT: ") +
                     HResult::formB(HResult::INVALID_PARAMETER),
                 FN_IS_TASK_EXISTS);
        return false;
    }

    QByteArray content;
    const quint32 code = readEntry(path, &content);
    if (code == HResult::FILE_NOT_FOUND) {
        writeLog(LOG_INFO, QStringLiteral("Task does not exist: ") + strTaskName, FN_IS_TASK_EXISTS);
        return false;
    }
    if (code != HResult::S_OK_CODE) {
        writeLog(LOG_ERROR, QStringLiteral("Failed to query task. HRESULT: ") + HResult::formB(code),
                 FN_IS_TASK_EXISTS);
        return false;
    }

    // An entry without a readable Exec, or one that starts something else,
    // is not ours: the caller replaces it.
    QByteArray exec;
    QString program;
    if (!XdgAutostartEntry::readKey(content, QByteArrayLiteral("Exec"), &exec) ||
        !XdgAutostartEntry::programOfExec(exec, &program))
        return false;
    const QString ownPath = QDir::toNativeSeparators(QCoreApplication::applicationFilePath());
    return !ownPath.isEmpty() && program == ownPath;
}

bool CommonTools::AddTaskToScheduler(const QString& strTaskName, const QString& strProgramPath)
{
    const QString path = XdgAutostartEntry::entryFilePath(strTaskName);
    const QString folder = XdgAutostartEntry::autostartFolder();
    if (path.isEmpty() || !QDir().mkpath(folder)) {
        writeLog(LOG_ERROR, QStringLiteral("Failed to get Task Folder."), FN_ADD_TASK);
        return false;
    }

    const QByteArray entry = XdgAutostartEntry::buildEntry(QDir::toNativeSeparators(strProgramPath), true);
    if (entry.isEmpty()) {
        writeLog(LOG_ERROR, QStringLiteral("Failed to create Task Definition."), FN_ADD_TASK);
        return false;
    }

    // The rename replaces any entry of that name in one step.
    if (writeAtomically(path, entry) != 0) {
        writeLog(LOG_ERROR, QStringLiteral("Failed to register task."), FN_ADD_TASK);
        return false;
    }
    writeLog(LOG_INFO, QStringLiteral("Task successfully added to Task Scheduler."), FN_ADD_TASK);
    return true;
}

void CommonTools::SetTaskEnabledState(const QString& strTaskName, bool bEnabled)
{
    const QString path = XdgAutostartEntry::entryFilePath(strTaskName);
    QByteArray content;
    const quint32 code = path.isEmpty() ? HResult::INVALID_PARAMETER : readEntry(path, &content);
    if (code != HResult::S_OK_CODE) {
        writeLog(LOG_ERROR,
                 QStringLiteral("Failed to get the specified task: ") + strTaskName +
                     QStringLiteral(". HRESULT: ") + HResult::formB(code),
                 FN_SET_STATE);
        return;
    }

    const QByteArray before = content;
    if (!XdgAutostartEntry::setEnabled(&content, bEnabled)) {
        writeLog(LOG_ERROR,
                 QStringLiteral("Failed to set task state. HRESULT: ") +
                     HResult::formB(HResult::INVALID_DATA),
                 FN_SET_STATE);
        return;
    }
    // Every start re-applies the state; leave the file alone when it already
    // says so.
    if (content != before) {
        const int error = writeAtomically(path, content);
        if (error != 0) {
            writeLog(LOG_ERROR,
                     QStringLiteral("Failed to set task state. HRESULT: ") +
                         HResult::formB(HResult::fromErrno(error)),
                     FN_SET_STATE);
            return;
        }
    }
    writeLog(LOG_INFO,
             QStringLiteral("Task [") + strTaskName +
                 (bEnabled ? QStringLiteral("] enabled.") : QStringLiteral("] disabled.")),
             FN_SET_STATE);
}
