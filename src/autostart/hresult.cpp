#include "hresult.h"

#include <cerrno>

namespace HResult {

quint32 fromErrno(int nErrno)
{
    switch (nErrno) {
    case 0:
        return S_OK_CODE;
    case ENOENT:
        return FILE_NOT_FOUND;
    case ENOTDIR:
        return PATH_NOT_FOUND;
    case EMFILE:
    case ENFILE:
        return TOO_MANY_OPEN_FILES;
    case EACCES:
    case EPERM:
    case EISDIR:
        return ACCESS_DENIED;
    case ENOMEM:
        return OUT_OF_MEMORY;
    case EROFS:
        return WRITE_PROTECT;
    case EBUSY:
    case ETXTBSY:
        return SHARING_VIOLATION;
    case EINVAL:
        return INVALID_PARAMETER;
    case ENOSPC:
        return DISK_FULL;
    case ENAMETOOLONG:
        return FILENAME_TOO_LONG;
    case EFBIG:
        return FILE_TOO_LARGE;
    case EIO:
        return IO_DEVICE;
    case EDQUOT:
        return QUOTA_EXCEEDED;
    case ELOOP:
        return CANT_RESOLVE_FILENAME;
    default:
        return E_FAIL_CODE;
    }
}

QString formB(quint32 nCode)
{
    return QStringLiteral("HRESULT: 0x") +
           QString::number(nCode, 16).rightJustified(8, QLatin1Char('0')).toUpper();
}

} // namespace HResult
