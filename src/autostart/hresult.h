#pragma once

#include <QString>
#include <QtGlobal>

// Failure codes of the logon-task operations. The run log keeps the codes the
// Windows task scheduler reports, so that one log reader understands both
// platforms; on Linux the cause of a failure is an errno (or a malformed
// autostart file), and this is the one place that turns it into the HRESULT
// Windows would give for the same cause.
namespace HResult {

constexpr quint32 S_OK_CODE = 0x00000000u;
// HRESULT_FROM_WIN32 of the Win32 codes below: 0x80070000 | code.
constexpr quint32 FILE_NOT_FOUND = 0x80070002u;        // ERROR_FILE_NOT_FOUND (2)
constexpr quint32 PATH_NOT_FOUND = 0x80070003u;        // ERROR_PATH_NOT_FOUND (3)
constexpr quint32 TOO_MANY_OPEN_FILES = 0x80070004u;   // ERROR_TOO_MANY_OPEN_FILES (4)
constexpr quint32 ACCESS_DENIED = 0x80070005u;         // ERROR_ACCESS_DENIED (5)
constexpr quint32 INVALID_DATA = 0x8007000Du;          // ERROR_INVALID_DATA (13)
constexpr quint32 OUT_OF_MEMORY = 0x8007000Eu;         // ERROR_OUTOFMEMORY (14)
constexpr quint32 WRITE_PROTECT = 0x80070013u;         // ERROR_WRITE_PROTECT (19)
constexpr quint32 SHARING_VIOLATION = 0x80070020u;     // ERROR_SHARING_VIOLATION (32)
constexpr quint32 INVALID_PARAMETER = 0x80070057u;     // ERROR_INVALID_PARAMETER (87), E_INVALIDARG
constexpr quint32 DISK_FULL = 0x80070070u;             // ERROR_DISK_FULL (112)
constexpr quint32 FILENAME_TOO_LONG = 0x800700CEu;     // ERROR_FILENAME_EXCED_RANGE (206)
constexpr quint32 FILE_TOO_LARGE = 0x800700DFu;        // ERROR_FILE_TOO_LARGE (223)
constexpr quint32 IO_DEVICE = 0x8007045Du;             // ERROR_IO_DEVICE (1117)
constexpr quint32 QUOTA_EXCEEDED = 0x8007050Fu;        // ERROR_DISK_QUOTA_EXCEEDED (1295)
constexpr quint32 CANT_RESOLVE_FILENAME = 0x80070781u; // ERROR_CANT_RESOLVE_FILENAME (1921)
constexpr quint32 E_FAIL_CODE = 0x80004005u;           // unspecified failure

// errno -> HRESULT:
//   ENOENT                 -> 0x80070002 file not found
//   ENOTDIR                -> 0x80070003 path not found (a folder on the way is a file)
//   EMFILE, ENFILE         -> 0x80070004 too many open files
//   EACCES, EPERM, EISDIR  -> 0x80070005 access denied (Windows refuses to open
//                                        a folder as a file the same way)
//   ENOMEM                 -> 0x8007000E out of memory
//   EROFS                  -> 0x80070013 write protected
//   EBUSY, ETXTBSY         -> 0x80070020 sharing violation
//   EINVAL                 -> 0x80070057 invalid parameter
//   ENOSPC                 -> 0x80070070 disk full
//   ENAMETOOLONG           -> 0x800700CE file name too long
//   EFBIG                  -> 0x800700DF file too large
//   EIO                    -> 0x8007045D I/O device error
//   EDQUOT                 -> 0x8007050F disk quota exceeded
//   ELOOP                  -> 0x80070781 name cannot be resolved (symbolic link loop)
//   0                      -> 0x00000000
//   anything else          -> 0x80004005 unspecified failure
// Causes without an errno:
//   an autostart file that is not a regular file or not a desktop entry
//                          -> 0x8007000D invalid data
//   an autostart file larger than we are prepared to read
//                          -> 0x800700DF file too large
//   a task name that cannot be a file name -> 0x80070057 invalid parameter
quint32 fromErrno(int nErrno);

// The code as "HRESULT: 0x%08X" (upper-case digits, two's complement).
QString formB(quint32 nCode);

} // namespace HResult
