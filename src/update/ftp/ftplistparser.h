#pragma once

#include "qurlinfo.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>

namespace varnoks {

// Turns the lines of an FTP LIST reply into entries. Two layouts are known:
// the Unix `ls -l` one and the DOS/IIS one. Pure functions, so tests and the
// fuzzer can feed them lines directly.
namespace FtpListParser {

// Longest listing line we accept, in bytes (without its line end).
constexpr int kMaxLineLength = 64 * 1024;

// Parses one raw line (any line end included or not). `user` is the login
// name used to decide readability and writability; `now` anchors the year of
// dates given with a time of day. Returns false, leaving *info untouched, for
// any line that is not an entry or whose name could be unsafe to use.
bool parseLine(const QByteArray& rawLine, const QString& user, const QDateTime& now, QUrlInfo* info);

// The two layouts on their own, for decoded and trimmed lines.
bool parseUnixLine(const QString& line, const QString& user, const QDateTime& now, QUrlInfo* info);
bool parseDosLine(const QString& line, QUrlInfo* info);

// True for a line the server sends instead of a listing when the directory
// is missing ("... No such file or directory").
bool isMissingDirectoryLine(const QByteArray& rawLine);

// A name is passed on only when it is non-empty and holds no "/", NUL or
// other control character: callers build paths from it.
bool isSafeName(const QString& name);

} // namespace FtpListParser
} // namespace varnoks
