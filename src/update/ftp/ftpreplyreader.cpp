#include "ftpreplyreader.h"

#include <QRegularExpression>
#include <QStringList>

namespace varnoks {

namespace {

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

// RFC 959 reply codes: first digit 1 to 5, second 0 to 5, third any.
bool isReplyCode(const QByteArray& line)
{
    return line.size() >= 3 && line[0] >= '1' && line[0] <= '5' && line[1] >= '0' && line[1] <= '5' &&
           isDigit(line[2]);
}

} // namespace

QString FtpReplyReader::cleanText(const QByteArray& bytes)
{
    // With the explicit size: the QByteArray overload would stop at a NUL.
    QString text = QString::fromUtf8(bytes.constData(), bytes.size());
    for (QChar& c : text) {
        const ushort u = c.unicode();
        if (u < 0x20 || (u >= 0x7f && u <= 0x9f))
            c = QChar(QChar::ReplacementCharacter);
    }
    return text;
}

void FtpReplyReader::append(const QByteArray& data)
{
    if (m_bFailed)
        return;
    // Drop what has been consumed before the buffer grows.
    if (m_nPos > 0 && m_nPos >= m_buffer.size() / 2) {
        m_buffer.remove(0, m_nPos);
        m_nPos = 0;
    }
    m_buffer.append(data);
}

void FtpReplyReader::clear()
{
    m_buffer.clear();
    m_nPos = 0;
    m_bInReply = false;
    m_bFailed = false;
    m_code.clear();
    m_nCode = 0;
    m_nReplyBytes = 0;
    m_strText.clear();
    m_strError.clear();
}

FtpReplyReader::Status FtpReplyReader::fail(const QString& message)
{
    m_bFailed = true;
    m_strError = message;
    m_buffer.clear();
    m_nPos = 0;
    return ProtocolError;
}

FtpReplyReader::Status FtpReplyReader::next()
{
    if (m_bFailed)
        return ProtocolError;
    for (;;) {
        const int newline = m_buffer.indexOf('\n', m_nPos);
        if (newline < 0) {
            if (m_buffer.size() - m_nPos > kMaxLineLength)
                return fail(QStringLiteral("Reply line longer than %1 bytes").arg(kMaxLineLength));
            return NeedMoreData;
        }
        const int rawLength = newline + 1 - m_nPos;
        int length = newline - m_nPos;
        if (length > 0 && m_buffer.at(newline - 1) == '\r')
            --length;
        if (length > kMaxLineLength)
            return fail(QStringLiteral("Reply line longer than %1 bytes").arg(kMaxLineLength));
        const QByteArray line = m_buffer.mid(m_nPos, length);
        m_nPos += rawLength;

        if (!m_bInReply) {
            if (!isReplyCode(line)) {
                // Not the start of a reply: skip the line rather than stall.
                ++m_nDiscarded;
                continue;
            }
            m_code = line.left(3);
            m_nCode = m_code.toInt();
            m_nReplyBytes = rawLength;
            if (line.size() > 3 && line.at(3) == '-') {
                m_bInReply = true;
                m_strText = cleanText(line.mid(4)) + QStringLiteral("\r\n");
                continue;
            }
            m_strText = cleanText(line.mid(4));
            return ReplyReady;
        }

        m_nReplyBytes += rawLength;
        if (m_nReplyBytes > kMaxReplySize)
            return fail(QStringLiteral("Reply longer than %1 bytes").arg(kMaxReplySize));
        const bool startsWithCode = line.startsWith(m_code);
        if (startsWithCode && (line.size() == 3 || line.at(3) == ' ')) {
            m_bInReply = false;
            m_strText += cleanText(line.mid(4));
            return ReplyReady;
        }
        if (startsWithCode && line.at(3) == '-')
            m_strText += cleanText(line.mid(4));
        else
            m_strText += cleanText(line);
        m_strText += QStringLiteral("\r\n");
    }
}

namespace FtpPassiveReply {

bool parsePasv(const QString& text, quint32* ipv4, quint16* port)
{
    static const QRegularExpression re(
        QStringLiteral("(*LIMIT_MATCH=100000)(\\d+),(\\d+),(\\d+),(\\d+),(\\d+),(\\d+)"));
    const QRegularExpressionMatch m = re.match(text);
    if (!m.hasMatch())
        return false;
    uint numbers[6];
    for (int i = 0; i < 6; ++i) {
        bool ok = false;
        numbers[i] = m.capturedRef(i + 1).toUInt(&ok);
        if (!ok || numbers[i] > 255)
            return false;
    }
    const quint16 p = quint16(numbers[4] * 256 + numbers[5]);
    if (p == 0)
        return false;
    *ipv4 = (numbers[0] << 24) | (numbers[1] << 16) | (numbers[2] << 8) | numbers[3];
    *port = p;
    return true;
}

bool parseEpsv(const QString& text, quint16* port)
{
    const int open = text.indexOf(QLatin1Char('('));
    if (open < 0 || open + 1 >= text.size())
        return false;
    const QChar delimiter = text.at(open + 1);
    if (delimiter.unicode() < 33 || delimiter.unicode() > 126 || delimiter.isDigit())
        return false;
    // "|||6446|)" splits into "", "", "", "6446", ")".
    const QVector<QStringRef> pieces = text.midRef(open + 1).split(delimiter);
    if (pieces.size() < 5)
        return false;
    bool ok = false;
    const uint value = pieces.at(3).toUInt(&ok);
    if (!ok || value < 1 || value > 65535)
        return false;
    *port = quint16(value);
    return true;
}

} // namespace FtpPassiveReply
} // namespace varnoks
