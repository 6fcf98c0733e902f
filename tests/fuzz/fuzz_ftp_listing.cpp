// Listing lines into the Unix and DOS parsers. The first byte picks the
// parser: the combined one (as the data connection uses it), Unix or DOS.
#include "update/ftp/ftplistparser.h"

#include <cstdint>
#include <cstdlib>

namespace P = varnoks::FtpListParser;

namespace {

void check(bool condition)
{
    if (!condition)
        abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0)
        return 0;
    const int mode = data[0] % 3;
    const QByteArray line(reinterpret_cast<const char*>(data + 1), int(size - 1));
    static const QDateTime now(QDate(2026, 6, 1), QTime(12, 0), Qt::UTC);
    static const QString user = QStringLiteral("owner");

    varnoks::QUrlInfo info;
    bool parsed = false;
    if (mode == 0) {
        parsed = P::parseLine(line, user, now, &info);
    } else {
        const QString text = QString::fromUtf8(line.constData(), line.size()).trimmed();
        parsed = mode == 1 ? P::parseUnixLine(text, user, now, &info) : P::parseDosLine(text, &info);
    }
    P::isMissingDirectoryLine(line);
    if (parsed) {
        check(P::isSafeName(info.name()));
        check(!info.name().contains(QLatin1Char('/')));
        check(info.size() >= 0);
        check(info.isDir() != info.isFile());
        check((info.permissions() & ~0777) == 0);
        if (info.lastModified().isValid())
            check(info.lastModified().date().year() >= 1);
    }
    return 0;
}
