// Framing of control-connection replies and parsing of the passive replies.
#include "update/ftp/ftpreplyreader.h"

#include <QtTest>

using varnoks::FtpReplyReader;
namespace PR = varnoks::FtpPassiveReply;

using Replies = QList<QPair<int, QString>>;
Q_DECLARE_METATYPE(Replies)

class TestFtpReplyReader : public QObject
{
    Q_OBJECT

private slots:
    void framesReplies_data();
    void framesReplies();
    void parsesPasv_data();
    void parsesPasv();
    void parsesEpsv_data();
    void parsesEpsv();
};

void TestFtpReplyReader::framesReplies_data()
{
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<Replies>("replies");
    QTest::addColumn<bool>("failed");
    QTest::addColumn<int>("discarded");

    const QString r(QChar::ReplacementCharacter);
    QTest::newRow("single line") << QByteArray("220 ready\r\n") << Replies{{220, "ready"}} << false << 0;
    QTest::newRow("two replies in one piece")
        << QByteArray("331 pw\r\n230 in\r\n") << Replies{{331, "pw"}, {230, "in"}} << false << 0;
    QTest::newRow("multi-line 230") << QByteArray(
                                           "230-Welcome\r\n  to the server\r\n230-more\r\n230 Logged in\r\n")
                                    << Replies{{230, "Welcome\r\n  to the server\r\nmore\r\nLogged in"}}
                                    << false << 0;
    QTest::newRow("other codes inside a multi-line reply")
        << QByteArray("211-Features:\r\n EPSV\r\n 211 x\r\n500 y\r\n211 End\r\n")
        << Replies{{211, "Features:\r\n EPSV\r\n 211 x\r\n500 y\r\nEnd"}} << false << 0;
    QTest::newRow("bare line feeds") << QByteArray("220-a\n220 b\n200 ok\n")
                                     << Replies{{220, "a\r\nb"}, {200, "ok"}} << false << 0;
    QTest::newRow("code alone") << QByteArray("200\r\n") << Replies{{200, ""}} << false << 0;
    QTest::newRow("unfinished reply waits") << QByteArray("220-a\r\n220 b") << Replies{} << false << 0;
    QTest::newRow("malformed starts skipped")
        << QByteArray("hello\r\n22\r\n600 x\r\n160 x\r\n1a0 x\r\n\r\n220 ok\r\n") << Replies{{220, "ok"}}
        << false << 6;
    QTest::newRow("control characters replaced")
        << QByteArray("500 a\0b\tc\x1b\x7f\xc2\x9f"
                      "d\r\n",
                      16)
        << Replies{{500, "a" + r + "b" + r + "c" + r + r + r + "d"}} << false << 0;
    QTest::newRow("invalid utf-8 replaced")
        << QByteArray("550 caf\xe9\r\n") << Replies{{550, "caf" + r}} << false << 0;
    QTest::newRow("utf-8 kept") << QByteArray("550 \xe6\x96\x87\r\n")
                                << Replies{{550, QString::fromUtf8("\xe6\x96\x87")}} << false << 0;
    QTest::newRow("line at the limit")
        << (QByteArray("200 ") + QByteArray(FtpReplyReader::kMaxLineLength - 4, 'a') + "\r\n")
        << Replies{{200, QString(FtpReplyReader::kMaxLineLength - 4, 'a')}} << false << 0;
    QTest::newRow("line over the limit")
        << (QByteArray("200 ") + QByteArray(FtpReplyReader::kMaxLineLength, 'a') + "\r\n") << Replies{}
        << true << 0;
    QTest::newRow("endless line") << (QByteArray("200 ") +
                                      QByteArray(FtpReplyReader::kMaxLineLength + 10, 'a'))
                                  << Replies{} << true << 0;
    QByteArray big = "200-start\r\n";
    for (int i = 0; i < 17; ++i)
        big += QByteArray(64000, 'b') + "\r\n";
    QTest::newRow("reply over 1 MiB") << big << Replies{} << true << 0;
    QTest::newRow("reply before the oversized one is kept")
        << (QByteArray("200 ok\r\n") + QByteArray(FtpReplyReader::kMaxLineLength + 1, 'x') + "\r\n")
        << Replies{{200, "ok"}} << true << 0;
}

void TestFtpReplyReader::framesReplies()
{
    QFETCH(QByteArray, input);
    QFETCH(Replies, replies);
    QFETCH(bool, failed);
    QFETCH(int, discarded);

    // The same stream in one piece and cut before every byte.
    for (const bool bytewise : {false, true}) {
        FtpReplyReader reader;
        Replies got;
        bool error = false;
        auto drain = [&] {
            for (;;) {
                const FtpReplyReader::Status s = reader.next();
                if (s == FtpReplyReader::ReplyReady) {
                    got << qMakePair(reader.code(), reader.text());
                    continue;
                }
                error = error || s == FtpReplyReader::ProtocolError;
                return;
            }
        };
        if (bytewise && input.size() < 4096) {
            for (char c : input) {
                reader.append(QByteArray(1, c));
                drain();
            }
        } else {
            reader.append(input);
            drain();
        }
        QCOMPARE(got, replies);
        QCOMPARE(error, failed);
        QCOMPARE(reader.discardedLines(), discarded);
        if (failed)
            QVERIFY(!reader.errorString().isEmpty());
    }
}

void TestFtpReplyReader::parsesPasv_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<QString>("host");
    QTest::addColumn<int>("port");
    QTest::newRow("parentheses") << "Entering Passive Mode (127,0,0,1,31,64)" << true << "127.0.0.1" << 8000;
    QTest::newRow("no parentheses") << "Entering Passive Mode 10,0,0,1,31,64" << true << "10.0.0.1" << 8000;
    QTest::newRow("equals sign") << "Entering Passive Mode=192,168,1,2,255,255" << true << "192.168.1.2"
                                 << 65535;
    QTest::newRow("first six of seven") << "(1,2,3,4,5,6,7)" << true << "1.2.3.4" << 1286;
    QTest::newRow("number above 255") << "(256,0,0,1,31,64)" << false << "" << 0;
    QTest::newRow("port byte above 255") << "(127,0,0,1,31,256)" << false << "" << 0;
    QTest::newRow("number overflows") << "(127,0,0,1,4294967297,1)" << false << "" << 0;
    QTest::newRow("port zero") << "(127,0,0,1,0,0)" << false << "" << 0;
    QTest::newRow("five numbers") << "(127,0,0,1,31)" << false << "" << 0;
    QTest::newRow("no numbers") << "Entering Passive Mode" << false << "" << 0;
    QTest::newRow("negative") << "(127,0,0,1,-1,64)" << false << "" << 0;
}

void TestFtpReplyReader::parsesPasv()
{
    QFETCH(QString, text);
    QFETCH(bool, ok);
    QFETCH(QString, host);
    QFETCH(int, port);
    quint32 ip = 0;
    quint16 p = 0;
    QCOMPARE(PR::parsePasv(text, &ip, &p), ok);
    if (ok) {
        QCOMPARE(QHostAddress(ip).toString(), host);
        QCOMPARE(int(p), port);
    }
}

void TestFtpReplyReader::parsesEpsv_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("port"); // 0: refused
    QTest::newRow("standard") << "Entering Extended Passive Mode (|||6446|)" << 6446;
    QTest::newRow("other delimiter") << "Entering Extended Passive Mode (!!!6446!)" << 6446;
    QTest::newRow("highest port") << "(|||65535|)" << 65535;
    QTest::newRow("port zero") << "(|||0|)" << 0;
    QTest::newRow("port too high") << "(|||65536|)" << 0;
    QTest::newRow("three delimiters") << "(||6446|)" << 0;
    QTest::newRow("unterminated") << "(|||6446)" << 0;
    QTest::newRow("no parenthesis") << "Entering Extended Passive Mode |||6446|" << 0;
    QTest::newRow("parenthesis last") << "Entering (" << 0;
    QTest::newRow("digit delimiter") << "(1116461)" << 0;
    QTest::newRow("blank delimiter") << "(   6446 )" << 0;
    QTest::newRow("not a number") << "(|||64a6|)" << 0;
    QTest::newRow("empty port") << "(||||)" << 0;
}

void TestFtpReplyReader::parsesEpsv()
{
    QFETCH(QString, text);
    QFETCH(int, port);
    quint16 p = 0;
    QCOMPARE(PR::parseEpsv(text, &p), port != 0);
    if (port != 0)
        QCOMPARE(int(p), port);
}

QTEST_APPLESS_MAIN(TestFtpReplyReader)
#include "tst_ftpreplyreader.moc"
