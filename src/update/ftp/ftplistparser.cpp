#include "ftplistparser.h"

#include <QHash>

#include <cstring>
#include <limits>

namespace varnoks {
namespace FtpListParser {

namespace {

// The parser works on the raw bytes and decodes only the fields it keeps:
// a listing of tens of thousands of entries must not cost a regular
// expression match per line.
struct Span
{
    const char* begin = nullptr;
    const char* end = nullptr;

    int size() const { return int(end - begin); }
    bool isEmpty() const { return begin == end; }
    char at(int i) const { return begin[i]; }
};

inline bool isBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
}

inline bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

inline const char* skipBlanks(const char* p, const char* end)
{
    while (p < end && isBlank(*p))
        ++p;
    return p;
}

// The next run of non-blank bytes at or after p; p moves past it.
inline Span nextWord(const char*& p, const char* end)
{
    p = skipBlanks(p, end);
    Span word;
    word.begin = p;
    while (p < end && !isBlank(*p))
        ++p;
    word.end = p;
    return word;
}

bool allDigits(Span s)
{
    if (s.isEmpty())
        return false;
    for (const char* p = s.begin; p < s.end; ++p) {
        if (!isDigit(*p))
            return false;
    }
    return true;
}

// Digits only, 1 to maxDigits of them; -1 otherwise.
int smallNumber(Span s, int maxDigits)
{
    if (s.isEmpty() || s.size() > maxDigits)
        return -1;
    int value = 0;
    for (const char* p = s.begin; p < s.end; ++p) {
        if (!isDigit(*p))
            return -1;
        value = value * 10 + (*p - '0');
    }
    return value;
}

// A size that does not fit counts as unknown (0), as before.
qint64 sizeValue(Span s)
{
    qint64 value = 0;
    for (const char* p = s.begin; p < s.end; ++p) {
        const int digit = *p - '0';
        if (value > (std::numeric_limits<qint64>::max() - digit) / 10)
            return 0;
        value = value * 10 + digit;
    }
    return value;
}

QString decode(Span s)
{
    return QString::fromUtf8(s.begin, s.size());
}

int monthFromName(Span s)
{
    if (s.size() != 3)
        return 0;
    // Any case: "Jan", "JAN", "jan".
    const char a = char(s.at(0) | 0x20);
    const char b = char(s.at(1) | 0x20);
    const char c = char(s.at(2) | 0x20);
    static const char kMonths[] = "janfebmaraprmayjunjulaugsepoctnovdec";
    for (int i = 0; i < 12; ++i) {
        if (kMonths[i * 3] == a && kMonths[i * 3 + 1] == b && kMonths[i * 3 + 2] == c)
            return i + 1;
    }
    return 0;
}

// Listing times are the server's local wall-clock times, and so are ours.
// Building a local date-time asks the C library for the zone (mktime, which
// looks at /etc/localtime every time); that would cost more than the rest of
// the line. The zone's offset is looked up once per hour of a day and the
// date-time carries it. Zones change their offset on the hour, so only a
// zone with a half-hour change could be off, and then by its half hour at
// the change.
QDateTime localDateTime(const QDate& date, const QTime& time)
{
    if (!date.isValid())
        return QDateTime();
    thread_local QHash<qint64, int> offsets;
    const qint64 key = date.toJulianDay() * 24 + time.hour();
    auto found = offsets.constFind(key);
    if (found == offsets.constEnd()) {
        if (offsets.size() >= 4096)
            offsets.clear();
        found = offsets.insert(key, QDateTime(date, QTime(time.hour(), 0)).offsetFromUtc());
    }
    return QDateTime(date, time, Qt::OffsetFromUTC, found.value());
}

// Owners and groups repeat from line to line; the last one decoded is
// handed out again without decoding.
QString decodeRepeated(Span s, QByteArray& lastBytes, QString& lastText)
{
    if (lastBytes.size() != s.size() || memcmp(lastBytes.constData(), s.begin, size_t(s.size())) != 0) {
        lastBytes = QByteArray(s.begin, s.size());
        lastText = decode(s);
    }
    return lastText;
}

// "Mon d yyyy" or "Mon d hh:mm". A date given with a time of day is in the
// current year unless that puts it more than a day ahead, in which case it
// is last year's.
QDateTime parseUnixDate(Span monthWord, Span dayWord, Span last, const QDateTime& now)
{
    const int month = monthFromName(monthWord);
    const int day = smallNumber(dayWord, 2);
    if (month == 0 || day < 1 || day > 31)
        return QDateTime();

    const char* colon = static_cast<const char*>(memchr(last.begin, ':', size_t(last.size())));
    if (!colon) {
        if (last.size() != 4)
            return QDateTime();
        const int year = smallNumber(last, 4);
        if (year < 0)
            return QDateTime();
        return localDateTime(QDate(year, month, day), QTime(0, 0));
    }
    const int hour = smallNumber({last.begin, colon}, 2);
    const Span minuteText{colon + 1, last.end};
    const int minute = minuteText.size() == 2 ? smallNumber(minuteText, 2) : -1;
    if (hour < 0 || hour > 23 || minute < 0 || minute > 59)
        return QDateTime();
    const QTime time(hour, minute);
    const QDate today = now.date();
    const QDate thisYear(today.year(), month, day);
    if (!thisYear.isValid())
        return QDateTime();
    // Wall-clock difference; an hour of DST does not matter here.
    const qint64 ahead = qint64(today.daysTo(thisYear)) * 86400 + now.time().secsTo(time);
    if (ahead > 86400)
        return localDateTime(QDate(today.year() - 1, month, day), time);
    return localDateTime(thisYear, time);
}

// "MM-dd-yy" or "MM-dd-yyyy", then "hh:mm" in 24-hour form or "hh:mmAM" /
// "hh:mmPM". Two-digit years before 71 belong to the 21st century.
QDateTime parseDosDate(Span date, Span clock)
{
    const int month = smallNumber({date.begin, date.begin + 2}, 2);
    const int day = smallNumber({date.begin + 3, date.begin + 5}, 2);
    const Span yearText{date.begin + 6, date.end};
    int year = smallNumber(yearText, 4);
    if (year < 0 || (yearText.size() != 2 && yearText.size() != 4))
        return QDateTime();
    if (yearText.size() == 2)
        year += 1900;
    if (year < 1971)
        year += 100;

    int hour = smallNumber({clock.begin, clock.begin + 2}, 2);
    const int minute = smallNumber({clock.begin + 3, clock.begin + 5}, 2);
    if (hour < 0 || minute < 0 || minute > 59)
        return QDateTime();
    if (clock.size() == 7) {
        if (hour > 12)
            return QDateTime();
        const bool pm = (clock.at(5) | 0x20) == 'p';
        if (hour == 12)
            hour = 0;
        if (pm)
            hour += 12;
    } else if (hour > 23) {
        return QDateTime();
    }
    return localDateTime(QDate(year, month, day), QTime(hour, minute));
}

int permissionBits(Span chars)
{
    static const int kBits[9] = {QUrlInfo::ReadOwner, QUrlInfo::WriteOwner, QUrlInfo::ExeOwner,
                                 QUrlInfo::ReadGroup, QUrlInfo::WriteGroup, QUrlInfo::ExeGroup,
                                 QUrlInfo::ReadOther, QUrlInfo::WriteOther, QUrlInfo::ExeOther};
    static const char kLetters[9] = {'r', 'w', 'x', 'r', 'w', 'x', 'r', 'w', 'x'};
    int bits = 0;
    for (int i = 0; i < 9 && i < chars.size(); ++i) {
        const char c = chars.at(i);
        // Lower-case s and t stand for set-id or sticky on top of execute.
        const bool execLike = kLetters[i] == 'x' && (c == 's' || c == 't');
        if (c == kLetters[i] || execLike)
            bits |= kBits[i];
    }
    return bits;
}

bool isPermissionLetter(char c)
{
    return c == '-' || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

// The name is the rest of the line; blanks around it are not part of it.
QString nameOf(const char* p, const char* end)
{
    p = skipBlanks(p, end);
    return decode({p, end}).trimmed();
}

// Type, nine permission letters (an ACL "+", SELinux "." or extended
// attribute "@" marker may follow), link count, owner, group, size, a date
// of three words and the name.
bool parseUnixBytes(const char* p, const char* end, const QString& user, const QDateTime& now, QUrlInfo* info)
{
    if (end - p < 11)
        return false;
    const char type = p[0];
    if (type != '-' && type != 'd' && type != 'l')
        return false;
    const Span perms{p + 1, p + 10};
    for (int i = 0; i < 9; ++i) {
        if (!isPermissionLetter(perms.at(i)))
            return false;
    }
    p += 10;
    if (p < end && (*p == '+' || *p == '.' || *p == '@'))
        ++p;
    if (p >= end || !isBlank(*p))
        return false;

    const Span links = nextWord(p, end);
    const Span owner = nextWord(p, end);
    const Span group = nextWord(p, end);
    const Span size = nextWord(p, end);
    const Span month = nextWord(p, end);
    const Span day = nextWord(p, end);
    const Span last = nextWord(p, end);
    if (!allDigits(links) || group.isEmpty() || !allDigits(size) || last.isEmpty())
        return false;

    QString name = nameOf(p, end);
    if (type == 'l') {
        const int arrow = name.indexOf(QLatin1String(" ->"));
        if (arrow >= 0)
            name.truncate(arrow);
    }
    if (!isSafeName(name))
        return false;

    QUrlInfo entry;
    entry.setName(name);
    entry.setDir(type != '-');
    entry.setFile(type == '-');
    // A link is followed like a directory; the listing does not say what it
    // points at.
    entry.setSymLink(type == 'l');
    thread_local QByteArray lastOwnerBytes;
    thread_local QString lastOwner;
    thread_local QByteArray lastGroupBytes;
    thread_local QString lastGroup;
    entry.setOwner(decodeRepeated(owner, lastOwnerBytes, lastOwner));
    entry.setGroup(decodeRepeated(group, lastGroupBytes, lastGroup));
    entry.setSize(sizeValue(size));
    entry.setLastModified(parseUnixDate(month, day, last, now));

    const int bits = permissionBits(perms);
    entry.setPermissions(bits);
    const bool isOwner = !user.isEmpty() && entry.owner() == user;
    entry.setReadable((bits & QUrlInfo::ReadOther) || ((bits & QUrlInfo::ReadOwner) && isOwner));
    entry.setWritable((bits & QUrlInfo::WriteOther) || ((bits & QUrlInfo::WriteOwner) && isOwner));

    *info = std::move(entry);
    return true;
}

// "MM-dd-yy  hh:mm[AM|PM]  <DIR>|size  name", as IIS and the DOS list style
// of other servers print it. The date and the time are apart by at least two
// blanks.
bool parseDosBytes(const char* p, const char* end, QUrlInfo* info)
{
    const char* const start = p;
    const Span date = nextWord(p, end);
    if (date.begin != start || (date.size() != 8 && date.size() != 10) || date.at(2) != '-' ||
        date.at(5) != '-')
        return false;
    for (int i = 0; i < date.size(); ++i) {
        if (i != 2 && i != 5 && !isDigit(date.at(i)))
            return false;
    }
    if (end - p < 2 || p[0] != ' ' || p[1] != ' ')
        return false;
    const Span clock = nextWord(p, end);
    if ((clock.size() != 5 && clock.size() != 7) || !isDigit(clock.at(0)) || !isDigit(clock.at(1)) ||
        clock.at(2) != ':' || !isDigit(clock.at(3)) || !isDigit(clock.at(4)))
        return false;
    if (clock.size() == 7) {
        const char half = char(clock.at(5) | 0x20);
        if ((half != 'a' && half != 'p') || (clock.at(6) | 0x20) != 'm')
            return false;
    }
    const Span marker = nextWord(p, end);
    const bool dir = marker.size() == 5 && memcmp(marker.begin, "<DIR>", 5) == 0;
    if (!dir && !allDigits(marker))
        return false;

    const QString name = nameOf(p, end);
    if (!isSafeName(name))
        return false;

    QUrlInfo entry;
    entry.setName(name);
    entry.setSymLink(name.endsWith(QLatin1String(".lnk"), Qt::CaseInsensitive));
    entry.setDir(dir);
    entry.setFile(!dir);
    if (!dir)
        entry.setSize(sizeValue(marker));
    const int dot = name.lastIndexOf(QLatin1Char('.'));
    const QStringRef ext = dot >= 0 ? name.midRef(dot + 1) : QStringRef();
    const bool program = ext.compare(QLatin1String("exe"), Qt::CaseInsensitive) == 0 ||
                         ext.compare(QLatin1String("bat"), Qt::CaseInsensitive) == 0 ||
                         ext.compare(QLatin1String("com"), Qt::CaseInsensitive) == 0;
    entry.setPermissions(program ? 0777 : 0666);
    entry.setReadable(true);
    entry.setWritable(!dir);
    entry.setLastModified(parseDosDate(date, clock));

    *info = std::move(entry);
    return true;
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
    const QByteArray bytes = line.toUtf8();
    return parseUnixBytes(bytes.constBegin(), bytes.constEnd(), user, now, info);
}

bool parseDosLine(const QString& line, QUrlInfo* info)
{
    const QByteArray bytes = line.toUtf8();
    return parseDosBytes(bytes.constBegin(), bytes.constEnd(), info);
}

bool parseLine(const QByteArray& rawLine, const QString& user, const QDateTime& now, QUrlInfo* info)
{
    if (rawLine.size() > kMaxLineLength + 2)
        return false;
    const char* p = skipBlanks(rawLine.constBegin(), rawLine.constEnd());
    const char* end = rawLine.constEnd();
    while (end > p && isBlank(end[-1]))
        --end;
    if (p == end)
        return false;
    return parseUnixBytes(p, end, user, now, info) || parseDosBytes(p, end, info);
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
