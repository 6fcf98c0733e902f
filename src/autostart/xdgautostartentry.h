#pragma once

#include <QByteArray>
#include <QString>

// The logon task on Linux is an XDG autostart entry: a Desktop Entry file in
// $XDG_CONFIG_HOME/autostart named after the task. These are the pure parts:
// where the file lives, how the program path is written into Exec and read
// back, and how the enabled state is switched inside an existing file.
namespace XdgAutostartEntry {

// Largest entry we read. Ours is a few hundred bytes; anything far larger
// is not ours and is replaced rather than parsed.
constexpr qint64 MAX_ENTRY_SIZE = 64 * 1024;

// $XDG_CONFIG_HOME/autostart, or ~/.config/autostart when the variable is
// unset, empty or not an absolute path (as the XDG base directory rules say).
QString autostartFolder();

// A task name becomes a file name, so it must not leave the folder or be
// hidden: no '/', no control characters, not empty, not starting with '.'.
bool isUsableTaskName(const QString& strTaskName);

// <folder>/<name>.desktop; empty when the name is not usable.
QString entryFilePath(const QString& strTaskName);

// The Exec value, as it is written in the file, that starts exactly this
// program with no arguments: the path in double quotes with '"', '`', '$'
// and '\' escaped by a backslash, '%' doubled so that it is not taken for a
// field code, and then the string escapes of the file format applied (so
// a backslash is written as two). Empty when the path cannot be written
// (empty, or holding a control character other than tab, newline or
// carriage return).
QByteArray execValueFor(const QString& strProgramPath);

// The program (first argument) an Exec value in file form starts. False
// when the value is malformed (bad escape, unterminated quote, no program).
bool programOfExec(const QByteArray& value, QString* pProgram);

// Decodes the string escapes of the file format (\s \n \t \r \\). False on
// any other escape or a trailing backslash, which readers reject.
bool unescapeString(const QByteArray& value, QByteArray* pResult);
// The reverse, for a value that is written as it stands (a leading blank
// becomes \s).
QByteArray escapeString(const QByteArray& value);

// A complete entry that starts the program 6 seconds after logon, enabled or
// not.
QByteArray buildEntry(const QString& strProgramPath, bool bEnabled);

// Raw value of a key in the [Desktop Entry] group. False when the group or
// the key is missing.
bool readKey(const QByteArray& content, const QByteArray& key, QByteArray* pValue);

// Rewrites the keys that carry the enabled state inside the [Desktop Entry]
// group and keeps every other line as it was. False when the content has no
// such group.
bool setEnabled(QByteArray* pContent, bool bEnabled);

} // namespace XdgAutostartEntry
