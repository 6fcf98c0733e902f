#include "ftplistparser.h"

#include <QRegularExpression>

namespace varnoks {
namespace FtpListParser {

namespace {

// Type, nine permission characters (an ACL "+", SELinux "." or extended
// attribute "@" marker may follow), link count, owner, group, size, a date of
// three words and the name. The match limit keeps a hostile line with long
// runs of blanks from making the backtracking engine work for long.
const QRegularExpression& unixPattern()
{
    static const QRegularExpression re(
        QStringLiteral("(*LIMIT_MATCH=100000)^([\\-dl])([a-zA-Z\\-]{9})[+.@]?\\s+\\d+\\s+(\\S*)\\s+(\\S*)\\s+"
                       "(\\d+)\\s+(\\S+\\s+\\S+\\s+\\S+)\\s+(\\S.*)"),
        QRegularExpression::DotMatchesEverythingOption);
    return re;
}

const QRegularExpression& dosPattern()
{
    static const QRegularExpression re(
        QStringLiteral("(*LIMIT_MATCH=100000)^(\\d\\d-\\d\\d-\\d\\d\\d?\\d?\\ \\ \\d\\d:\\d\\d[AP]M)\\s+"
                       "(<DIR>|\\d+)\\s+(\\S.*)$"),
        QRegularExpression::DotMatchesEverythingOption);
    return re;
}

int monthFromName(const QStringRef& text)
{
    static const char* const kMonths[12] = {"jan", "feb", "mar", "apr", "may", "jun",
                                            "jul", "aug", "sep", "oct", "nov", "dec"};
    if (text.size() != 3)
        return 0;
    const QString lower = text.toString().toLower();
    for (int i = 0; i < 12; ++i) {
        if (lower == QLatin1String(kMonths[i]))
            return i + 1;
    }
    return 0;
}

// Digits only, 1 to maxDigits of them; -1 otherwise.
int smallNumber(const QStringRef& text, int maxDigits)
{
    if (text.isEmpty() || text.size() > maxDigits)
        return -1;
    int value = 0;
    for (const QChar c : text) {
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return -1;
        value = value * 10 + (c.unicode() - '0');
    }
    return value;
}

// "Mon d yyyy" or "Mon d hh:mm" with any blanks between the words. A date
// given with a time of day is in the current year unless that puts it more
// than a day ahead, in which case it is last year's.
QDateTime parseUnixDate(const QString& text, const QDateTime& now)
{
    QStringRef words[3];
    int count = 0;
    for (int i = 0; i < text.size();) {
        while (i < text.size() && text.at(i).isSpace())
            ++i;
        const int start = i;
        while (i < text.size() && !text.at(i).isSpace())
            ++i;
        if (i > start) {
            if (count == 3)
                return QDateTime();
            words[count++] = text.midRef(start, i - start);
        }
    }
    if (count != 3)
        return QDateTime();
    const int month = monthFromName(words[0]);
    const int day = smallNumber(words[1], 2);
    if (month == 0 || day < 1 || day > 31)
        return QDateTime();

    const QStringRef last = words[2];
    const int colon = last.indexOf(QLatin1Char(':'));
    if (colon < 0) {
        if (last.size() != 4)
            return QDateTime();
        const int year = smallNumber(last, 4);
        if (year < 0)
            return QDateTime();
        const QDate date(year, month, day);
        return date.isValid() ? QDateTime(date, QTime(0, 0)) : QDateTime();
    }
    const int hour = smallNumber(last.left(colon), 2);
    const QStringRef minuteText = last.mid(colon + 1);
    const int minute = minuteText.size() == 2 ? smallNumber(minuteText, 2) : -1;
    if (hour < 0 || hour > 23 || minute < 0 || minute > 59)
        return QDateTime();
    const QTime time(hour, minute);
    const QDate thisYear(now.date().year(), month, day);
    if (!thisYear.isValid())
        return QDateTime();
    // Wall-clock difference; converting both to UTC for secsTo() costs more
    // than the whole rest of the line, and an hour of DST does not matter here.
    const qint64 ahead = qint64(now.date().daysTo(thisYear)) * 86400 + now.time().secsTo(time);
    if (ahead > 86400) {
        const QDate lastYear(now.date().year() - 1, month, day);
        if (!lastYear.isValid())
            return QDateTime();
        return QDateTime(lastYear, time);
    }
    return QDateTime(thisYear, time);
}

// "MM-dd-yy  hh:mmAM" (the year may also have four digits). Two-digit years
// before 71 belong to the 21st century.
QDateTime parseDosDate(const QString& text)
{
    const int firstDash = text.indexOf(QLatin1Char('-'));
    const int secondDash = text.indexOf(QLatin1Char('-'), firstDash + 1);
    const int blank = text.indexOf(QLatin1Char(' '));
    if (firstDash != 2 || secondDash != 5 || blank < 0)
        return QDateTime();
    const int month = smallNumber(text.midRef(0, 2), 2);
    const int day = smallNumber(text.midRef(3, 2), 2);
    const QStringRef yearText = text.midRef(6, blank - 6);
    int year = smallNumber(yearText, 4);
    if (year < 0)
        return QDateTime();
    if (yearText.size() == 2)
        year += 1900;
    else if (yearText.size() != 4)
        return QDateTime();
    if (year < 1971)
        year += 100;

    const QStringRef clock = text.midRef(blank).trimmed();
    if (clock.size() != 7)
        return QDateTime();
    int hour = smallNumber(clock.mid(0, 2), 2);
    const int minute = smallNumber(clock.mid(3, 2), 2);
    if (hour < 0 || hour > 12 || minute < 0 || minute > 59)
        return QDateTime();
    const bool pm = clock.at(5) == QLatin1Char('P');
    if (hour == 12)
        hour = 0;
    if (pm)
        hour += 12;
    const QDate date(year, month, day);
    return date.isValid() ? QDateTime(date, QTime(hour, minute)) : QDateTime();
}

int permissionBits(const QString& chars)
{
    static const int kBits[9] = {QUrlInfo::ReadOwner, QUrlInfo::WriteOwner, QUrlInfo::ExeOwner,
                                 QUrlInfo::ReadGroup, QUrlInfo::WriteGroup, QUrlInfo::ExeGroup,
                                 QUrlInfo::ReadOther, QUrlInfo::WriteOther, QUrlInfo::ExeOther};
    static const char kLetters[9] = {'r', 'w', 'x', 'r', 'w', 'x', 'r', 'w', 'x'};
    int bits = 0;
    for (int i = 0; i < 9 && i < chars.size(); ++i) {
        const QChar c = chars.at(i);
        // Lower-case s and t stand for set-id or sticky on top of execute.
        const bool execLike = kLetters[i] == 'x' && (c == QLatin1Char('s') || c == QLatin1Char('t'));
        if (c == QLatin1Char(kLetters[i]) || execLike)
            bits |= kBits[i];
    }
    return bits;
}

} // namespace

bool isSafeName(const QString& name)
{
    if (name.isEmpty())
        return false;
    for (const QChar c : name) {
        const ushort u = c.unicode();
        if (u < 0x20 || u == 0x7f || c == QLatin1Char('/'))
            return false;
    }
    return true;
}

bool parseUnixLine(const QString& line, const QString& user, const QDateTime& now, QUrlInfo* info)
{
    const QRegularExpressionMatch m = unixPattern().match(line);
    if (!m.hasMatch())
        return false;

    const QChar type = m.capturedRef(1).at(0);
    QString name = m.captured(7);
    if (type == QLatin1Char('l')) {
        const int arrow = name.indexOf(QLatin1String(" ->"));
        if (arrow >= 0)
            name.truncate(arrow);
    }
    if (!isSafeName(name))
        return false;

    QUrlInfo entry;
    entry.setName(name);
    if (type == QLatin1Char('d')) {
        entry.setDir(true);
        entry.setFile(false);
    } else if (type == QLatin1Char('l')) {
        // A link is followed like a directory; the listing does not say what
        // it points at.
        entry.setDir(true);
        entry.setFile(false);
        entry.setSymLink(true);
    } else {
        entry.setDir(false);
        entry.setFile(true);
    }
    entry.setOwner(m.captured(3));
    entry.setGroup(m.captured(4));
    bool ok = false;
    const qint64 size = m.capturedRef(5).toLongLong(&ok);
    entry.setSize(ok ? size : 0);

    // Month names are matched without regard to case.
    entry.setLastModified(parseUnixDate(m.captured(6), now));

    const int bits = permissionBits(m.captured(2));
    entry.setPermissions(bits);
    const bool isOwner = !user.isEmpty() && entry.owner() == user;
    entry.setReadable((bits & QUrlInfo::ReadOther) || ((bits & QUrlInfo::ReadOwner) && isOwner));
    entry.setWritable((bits & QUrlInfo::WriteOther) || ((bits & QUrlInfo::WriteOwner) && isOwner));

    *info = entry;
    return true;
}

bool parseDosLine(const QString& line, QUrlInfo* info)
{
    const QRegularExpressionMatch m = dosPattern().match(line);
    if (!m.hasMatch())
        return false;

    const QString name = m.captured(3);
    if (!isSafeName(name))
        return false;

    QUrlInfo entry;
    entry.setName(name);
    entry.setSymLink(name.toLower().endsWith(QLatin1String(".lnk")));
    const bool dir = m.capturedRef(2) == QLatin1String("<DIR>");
    entry.setDir(dir);
    entry.setFile(!dir);
    if (!dir) {
        bool ok = false;
        const qint64 size = m.capturedRef(2).toLongLong(&ok);
        entry.setSize(ok ? size : 0);
    }
    const int dot = name.lastIndexOf(QLatin1Char('.'));
    const QString ext = dot >= 0 ? name.mid(dot + 1).toLower() : QString();
    const bool program =
        ext == QLatin1String("exe") || ext == QLatin1String("bat") || ext == QLatin1String("com");
    entry.setPermissions(program ? 0777 : 0666);
    entry.setReadable(true);
    entry.setWritable(!dir);
    entry.setLastModified(parseDosDate(m.captured(1)));

    *info = entry;
    return true;
}

bool parseLine(const QByteArray& rawLine, const QString& user, const QDateTime& now, QUrlInfo* info)
{
    if (rawLine.size() > kMaxLineLength + 2)
        return false;
    // With the explicit size: the QByteArray overload would stop at a NUL.
    const QString line = QString::fromUtf8(rawLine.constData(), rawLine.size()).trimmed();
    if (line.isEmpty())
        return false;
    return parseUnixLine(line, user, now, info) || parseDosLine(line, info);
}

bool isMissingDirectoryLine(const QByteArray& rawLine)
{
    QByteArray line = rawLine;
    while (line.endsWith('\n') || line.endsWith('\r'))
        line.chop(1);
    return line.endsWith("No such file or directory");
}

} // namespace FtpListParser
} // namespace varnoks
