// Control-connection bytes into the reply reader, cut into pieces chosen by
// the input, and every reply into the passive-reply parsers.
#include "update/ftp/ftpreplyreader.h"

#include <cstdint>
#include <cstdlib>

using varnoks::FtpReplyReader;

namespace {

void check(bool condition)
{
    if (!condition)
        abort();
}

void inspect(const FtpReplyReader& reader)
{
    check(reader.code() >= 100 && reader.code() <= 559);
    const QString text = reader.text();
    check(text.size() <= FtpReplyReader::kMaxReplySize * 2);
    for (int i = 0; i < text.size(); ++i) {
        const ushort u = text.at(i).unicode();
        if (u == '\r') {
            // Only as the line separator we put in.
            check(i + 1 < text.size() && text.at(i + 1) == QLatin1Char('\n'));
            ++i;
            continue;
        }
        check(u >= 0x20 && !(u >= 0x7f && u <= 0x9f));
    }
    quint32 ip = 0;
    quint16 port = 0;
    if (varnoks::FtpPassiveReply::parsePasv(text, &ip, &port))
        check(port != 0);
    port = 0;
    if (varnoks::FtpPassiveReply::parseEpsv(text, &port))
        check(port != 0);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0)
        return 0;
    // The first byte sets the piece size (1 to 256 bytes).
    const size_t piece = size_t(data[0]) + 1;
    ++data;
    --size;
    FtpReplyReader reader;
    for (size_t pos = 0; pos < size; pos += piece) {
        const size_t n = size - pos < piece ? size - pos : piece;
        reader.append(QByteArray(reinterpret_cast<const char*>(data + pos), int(n)));
        for (;;) {
            const FtpReplyReader::Status status = reader.next();
            if (status == FtpReplyReader::ReplyReady) {
                inspect(reader);
                continue;
            }
            if (status == FtpReplyReader::ProtocolError) {
                check(!reader.errorString().isEmpty());
                return 0;
            }
            break;
        }
    }
    return 0;
}
