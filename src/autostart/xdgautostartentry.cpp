#include "xdgautostartentry.h"

#include <QDir>
#include <QList>

namespace XdgAutostartEntry {

namespace {

const QByteArray GROUP_HEADER = QByteArrayLiteral("[Desktop Entry]");
// GNOME (and MATE, which falls back to it) read this flag; KDE, Xfce and
// LXQt treat Hidden=true as "entry deleted by the user".
const QByteArray KEY_GNOME_ENABLED = QByteArrayLiteral("X-GNOME-Autostart-enabled");
const QByteArray KEY_HIDDEN = QByteArrayLiteral("Hidden");

bool isGroupHeader(const QByteArray& line)
{
    const QByteArray trimmed = line.trimmed();
    return trimmed.startsWith('[') && trimmed.endsWith(']');
}

// Splits "Key = value" (blanks around '=' do not count). False for blank
// lines, comments and headers.
bool splitKeyLine(const QByteArray& line, QByteArray* pKey, QByteArray* pValue)
{
    const QByteArray trimmed = line.trimmed();
    if (trimmed.isEmpty() || trimmed.startsWith('#') || trimmed.startsWith('['))
        return false;
    const int eq = line.indexOf('=');
    if (eq <= 0)
        return false;
    *pKey = line.left(eq).trimmed();
    QByteArray value = line.mid(eq + 1);
    int start = 0;
    while (start < value.size() && (value[start] == ' ' || value[start] == '\t'))
        ++start;
    value = value.mid(start);
    if (value.endsWith('\r'))
        value.chop(1);
    *pValue = value;
    return !pKey->isEmpty();
}

// Index range [first, end) of the lines of the [Desktop Entry] group,
// first being the header. False when there is no such group.
bool findGroup(const QList<QByteArray>& lines, int* pFirst, int* pEnd)
{
    int first = -1;
    for (int i = 0; i < lines.size(); ++i) {
        QByteArray line = lines[i].trimmed();
        if (first < 0) {
            if (line == GROUP_HEADER)
                first = i;
        } else if (isGroupHeader(line)) {
            *pFirst = first;
            *pEnd = i;
            return true;
        }
    }
    if (first < 0)
        return false;
    *pFirst = first;
    *pEnd = lines.size();
    return true;
}

QByteArray enabledLines(bool bEnabled)
{
    return KEY_GNOME_ENABLED + (bEnabled ? "=true" : "=false") + '\n' + KEY_HIDDEN +
           (bEnabled ? "=false" : "=true") + '\n';
}

} // namespace

QString autostartFolder()
{
    QString config = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (config.isEmpty() || !QDir::isAbsolutePath(config))
        config = QDir::homePath() + QStringLiteral("/.config");
    return QDir::cleanPath(config) + QStringLiteral("/autostart");
}

bool isUsableTaskName(const QString& strTaskName)
{
    if (strTaskName.isEmpty() || strTaskName.startsWith(QLatin1Char('.')) || strTaskName.size() > 200)
        return false;
    for (const QChar c : strTaskName) {
        if (c == QLatin1Char('/') || c.unicode() < 0x20 || c.unicode() == 0x7F)
            return false;
    }
    return true;
}

QString entryFilePath(const QString& strTaskName)
{
    if (!isUsableTaskName(strTaskName))
        return QString();
    return autostartFolder() + QLatin1Char('/') + strTaskName + QStringLiteral(".desktop");
}

QByteArray escapeString(const QByteArray& value)
{
    QByteArray out;
    out.reserve(value.size() + 8);
    // Readers drop blanks after '=', so a leading blank must be written \s.
    int start = 0;
    if (value.startsWith(' ')) {
        out += "\\s";
        start = 1;
    }
    for (int i = start; i < value.size(); ++i) {
        const char c = value[i];
        switch (c) {
        case '\\':
            out += "\\\\";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\t':
            out += "\\t";
            break;
        case '\r':
            out += "\\r";
            break;
        default:
            out += c;
        }
    }
    return out;
}

bool unescapeString(const QByteArray& value, QByteArray* pResult)
{
    QByteArray out;
    out.reserve(value.size());
    for (int i = 0; i < value.size(); ++i) {
        const char c = value[i];
        if (c != '\\') {
            out += c;
            continue;
        }
        if (++i >= value.size())
            return false;
        switch (value[i]) {
        case 's':
            out += ' ';
            break;
        case 'n':
            out += '\n';
            break;
        case 't':
            out += '\t';
            break;
        case 'r':
            out += '\r';
            break;
        case '\\':
            out += '\\';
            break;
        default:
            return false;
        }
    }
    *pResult = out;
    return true;
}

QByteArray execValueFor(const QString& strProgramPath)
{
    if (strProgramPath.isEmpty())
        return QByteArray();
    const QByteArray utf8 = strProgramPath.toUtf8();
    QByteArray quoted = "\"";
    for (const char c : utf8) {
        const unsigned char u = static_cast<unsigned char>(c);
        if ((u < 0x20 && c != '\t' && c != '\n' && c != '\r') || u == 0x7F)
            return QByteArray();
        switch (c) {
        case '"':
        case '`':
        case '$':
        case '\\':
            quoted += '\\';
            quoted += c;
            break;
        case '%':
            quoted += "%%";
            break;
        default:
            quoted += c;
        }
    }
    quoted += '"';
    return escapeString(quoted);
}

bool programOfExec(const QByteArray& value, QString* pProgram)
{
    QByteArray line;
    if (!unescapeString(value, &line))
        return false;

    // Split into arguments: blanks separate them outside double quotes; inside,
    // a backslash escapes '"', '`', '$' and '\' (any other stays literal).
    QList<QByteArray> args;
    QByteArray current;
    bool inArg = false;
    bool inQuotes = false;
    for (int i = 0; i < line.size(); ++i) {
        const char c = line[i];
        if (inQuotes) {
            if (c == '"') {
                inQuotes = false;
            } else if (c == '\\' && i + 1 < line.size() &&
                       (line[i + 1] == '"' || line[i + 1] == '`' || line[i + 1] == '$' ||
                        line[i + 1] == '\\')) {
                current += line[++i];
            } else {
                current += c;
            }
        } else if (c == ' ' || c == '\t' || c == '\n') {
            if (inArg) {
                args.append(current);
                current.clear();
                inArg = false;
            }
        } else if (c == '"') {
            inQuotes = true;
            inArg = true;
        } else if (c == '\\') {
            // Outside quotes a reserved character must not appear; a backslash
            // there is not something we write.
            return false;
        } else {
            current += c;
            inArg = true;
        }
    }
    if (inQuotes)
        return false;
    if (inArg)
        args.append(current);
    if (args.isEmpty())
        return false;

    // "%%" is a literal percent; any other field code in the program
    // position means the value is not a plain program path.
    const QByteArray& raw = args.first();
    QByteArray program;
    for (int i = 0; i < raw.size(); ++i) {
        if (raw[i] != '%') {
            program += raw[i];
            continue;
        }
        if (i + 1 < raw.size() && raw[i + 1] == '%') {
            program += '%';
            ++i;
            continue;
        }
        return false;
    }
    if (program.isEmpty())
        return false;
    *pProgram = QString::fromUtf8(program);
    return true;
}

QByteArray buildEntry(const QString& strProgramPath, bool bEnabled)
{
    const QByteArray exec = execValueFor(strProgramPath);
    if (exec.isEmpty())
        return QByteArray();
    QByteArray entry;
    entry += GROUP_HEADER + '\n';
    entry += "Type=Application\n";
    entry += "Version=1.0\n";
    entry += "Name=VarnoksPilot\n";
    entry += "Comment=Device Monitor\n";
    // TryExec makes the session skip the entry quietly once the program has
    // been removed; it is a plain path, only the string escapes apply.
    entry += "TryExec=" + escapeString(strProgramPath.toUtf8()) + '\n';
    entry += "Exec=" + exec + '\n';
    entry += "Terminal=false\n";
    // Seconds after logon; honoured by GNOME and MATE.
    entry += "X-GNOME-Autostart-Delay=6\n";
    entry += "X-MATE-Autostart-Delay=6\n";
    entry += enabledLines(bEnabled);
    return entry;
}

bool readKey(const QByteArray& content, const QByteArray& key, QByteArray* pValue)
{
    const QList<QByteArray> lines = content.split('\n');
    int first = 0;
    int end = 0;
    if (!findGroup(lines, &first, &end))
        return false;
    for (int i = first + 1; i < end; ++i) {
        QByteArray lineKey;
        QByteArray value;
        if (splitKeyLine(lines[i], &lineKey, &value) && lineKey == key) {
            *pValue = value;
            return true;
        }
    }
    return false;
}

bool setEnabled(QByteArray* pContent, bool bEnabled)
{
    QList<QByteArray> lines = pContent->split('\n');
    const bool endsWithNewline = pContent->endsWith('\n');
    if (endsWithNewline)
        lines.removeLast();
    int first = 0;
    int end = 0;
    if (!findGroup(lines, &first, &end))
        return false;

    // Drop the old state lines, remembering where the last key line of the
    // group is so that the new ones follow it (before trailing blanks and
    // comments that belong to the next group).
    int insertAt = first + 1;
    for (int i = first + 1; i < end;) {
        QByteArray key;
        QByteArray value;
        if (splitKeyLine(lines[i], &key, &value)) {
            if (key == KEY_GNOME_ENABLED || key == KEY_HIDDEN) {
                lines.removeAt(i);
                --end;
                continue;
            }
            insertAt = i + 1;
        }
        ++i;
    }
    QByteArray state = enabledLines(bEnabled);
    state.chop(1);
    const QList<QByteArray> stateLines = state.split('\n');
    for (int k = 0; k < stateLines.size(); ++k)
        lines.insert(insertAt + k, stateLines[k]);

    QByteArray result = lines.join('\n');
    result += '\n';
    *pContent = result;
    return true;
}

} // namespace XdgAutostartEntry
