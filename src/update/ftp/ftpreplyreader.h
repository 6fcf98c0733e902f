#pragma once

#include <QByteArray>
#include <QString>

namespace varnoks {

// Splits the bytes of an FTP control connection into replies (RFC 959, 4.2):
// a reply is one line "ddd text", or a first line "ddd-text", any number of
// lines, and a last line "ddd text" with the same code. Every byte comes from
// the server and is bounded and cleaned here before anyone else sees it.
class FtpReplyReader
{
public:
    // Longest reply line, in bytes without its line end.
    static constexpr int kMaxLineLength = 64 * 1024;
    // Most bytes one (multi-line) reply may span.
    static constexpr int kMaxReplySize = 1024 * 1024;

    enum Status
    {
        NeedMoreData,  // no complete reply buffered
        ReplyReady,    // code() and text() hold the next reply
        ProtocolError, // the server broke a limit; errorString() says which
    };

    void append(const QByteArray& data);
    Status next();

    int code() const { return m_nCode; }
    // The reply text with line structure kept ("\r\n" between lines), the
    // code prefixes removed and control characters replaced by U+FFFD.
    QString text() const { return m_strText; }
    QString errorString() const { return m_strError; }
    // Lines that could not start a reply and were skipped.
    int discardedLines() const { return m_nDiscarded; }
    bool hasBufferedData() const { return m_nPos < m_buffer.size(); }
    void clear();

    // Control characters (C0, DEL, C1) become U+FFFD.
    static QString cleanText(const QByteArray& bytes);

private:
    Status fail(const QString& message);

    QByteArray m_buffer;
    int m_nPos = 0;
    bool m_bInReply = false;
    bool m_bFailed = false;
    QByteArray m_code;
    int m_nCode = 0;
    qint64 m_nReplyBytes = 0;
    QString m_strText;
    QString m_strError;
    int m_nDiscarded = 0;
};

// Parsing of the two passive-mode replies.
namespace FtpPassiveReply {

// 227: the first six comma-separated numbers in the text, "h1,h2,h3,h4,p1,p2"
// with or without parentheses. Every number must be 0 to 255 and the port not
// 0. On success *ipv4 is in host order.
bool parsePasv(const QString& text, quint32* ipv4, quint16* port);

// 229 (RFC 2428): "(<d><d><d>port<d>)" with any printable delimiter <d>.
bool parseEpsv(const QString& text, quint16* port);

} // namespace FtpPassiveReply
} // namespace varnoks
