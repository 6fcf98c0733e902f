// Listing lines of the Unix and DOS layouts into entries.
#include "update/ftp/ftplistparser.h"

#include <QtTest>

using varnoks::QUrlInfo;
namespace P = varnoks::FtpListParser;

class TestFtpListParser : public QObject
{
    Q_OBJECT

private slots:
    void parsesLine_data();
    void parsesLine();
    void rejectsLine_data();
    void rejectsLine();
    void recognisesMissingDirectoryLine_data();
    void recognisesMissingDirectoryLine();
};

namespace {
QDateTime at(int y, int mo, int d, int h = 0, int mi = 0)
{
    return QDateTime(QDate(y, mo, d), QTime(h, mi));
}
} // namespace

void TestFtpListParser::parsesLine_data()
{
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<QString>("user");
    QTest::addColumn<QDateTime>("now");
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("kind"); // 0 file, 1 directory, 2 link
    QTest::addColumn<qint64>("size");
    QTest::addColumn<int>("permissions");
    QTest::addColumn<QDateTime>("modified");
    QTest::addColumn<bool>("readable");
    QTest::addColumn<bool>("writable");
    QTest::addColumn<QString>("owner");

    const QDateTime mid2026 = at(2026, 6, 1, 12, 0);
    QTest::newRow("unix dir with time is this year")
        << QByteArray("drwxr-xr-x 2 owner group 4096 Jan 5 10:30 V1.0.4.3\r\n") << QString() << mid2026
        << "V1.0.4.3" << 1 << qint64(4096) << 0755 << at(2026, 1, 5, 10, 30) << true << false << "owner";
    QTest::newRow("unix date more than a day ahead is last year")
        << QByteArray("drwxr-xr-x 2 owner group 4096 Jan 5 10:30 V1.0.4.3") << QString()
        << at(2026, 1, 3, 9, 0) << "V1.0.4.3" << 1 << qint64(4096) << 0755 << at(2025, 1, 5, 10, 30) << true
        << false << "owner";
    QTest::newRow("unix date less than a day ahead stays")
        << QByteArray("drwxr-xr-x 2 owner group 4096 Jan 5 10:30 V1.0.4.3") << QString()
        << at(2026, 1, 4, 12, 0) << "V1.0.4.3" << 1 << qint64(4096) << 0755 << at(2026, 1, 5, 10, 30) << true
        << false << "owner";
    QTest::newRow("pyftpdlib recent file")
        << QByteArray("-rw-r--r--   1 tester   tester          6 Dec 07 05:10 readme.txt\r\n") << QString()
        << at(2026, 12, 7, 6, 0) << "readme.txt" << 0 << qint64(6) << 0644 << at(2026, 12, 7, 5, 10) << true
        << false << "tester";
    QTest::newRow("pyftpdlib old directory with year")
        << QByteArray("drwxrwxr-x   3 tester   tester       4096 Mar 03  2023 old\r\n") << QString()
        << mid2026 << "old" << 1 << qint64(4096) << 0775 << at(2023, 3, 3) << true << false << "tester";
    QTest::newRow("padded single-digit day")
        << QByteArray("-rw-r--r--  1 a b 10 Jul  9  2021 x.txt") << QString() << mid2026 << "x.txt" << 0
        << qint64(10) << 0644 << at(2021, 7, 9) << true << false << "a";
    QTest::newRow("lower-case month")
        << QByteArray("-rw-r--r-- 1 a b 10 jul 9 2021 x") << QString() << mid2026 << "x" << 0 << qint64(10)
        << 0644 << at(2021, 7, 9) << true << false << "a";
    QTest::newRow("leap day with time")
        << QByteArray("-rw-r--r-- 1 a b 1 Feb 29 23:59 leap") << QString() << at(2024, 3, 1, 0, 0) << "leap"
        << 0 << qint64(1) << 0644 << at(2024, 2, 29, 23, 59) << true << false << "a";
    QTest::newRow("symbolic link cut before arrow")
        << QByteArray("lrwxrwxrwx 1 root root 8 Jan 5 10:30 latest -> V1.0.4.3") << QString() << mid2026
        << "latest" << 2 << qint64(8) << 0777 << at(2026, 1, 5, 10, 30) << true << true << "root";
    QTest::newRow("name with blanks kept whole")
        << QByteArray("-rw-r--r-- 1 u g 7 Jan 5 10:30 name with  blanks.txt  ") << QString() << mid2026
        << "name with  blanks.txt" << 0 << qint64(7) << 0644 << at(2026, 1, 5, 10, 30) << true << false
        << "u";
    QTest::newRow("acl marker after permissions")
        << QByteArray("drwxr-x---+ 5 u g 4096 Jan 5 2020 shared") << QString() << mid2026 << "shared" << 1
        << qint64(4096) << 0750 << at(2020, 1, 5) << false << false << "u";
    QTest::newRow("owner rights count for the login user")
        << QByteArray("-rw------- 1 me staff 100 Jan 5 2020 private") << QString("me") << mid2026 << "private"
        << 0 << qint64(100) << 0600 << at(2020, 1, 5) << true << true << "me";
    QTest::newRow("owner rights do not count for others")
        << QByteArray("-rw------- 1 me staff 100 Jan 5 2020 private") << QString("you") << mid2026
        << "private" << 0 << qint64(100) << 0600 << at(2020, 1, 5) << false << false << "me";
    QTest::newRow("setuid and sticky keep execute")
        << QByteArray("-rwsr-xr-t 1 u g 1 Jan 5 2020 tool") << QString() << mid2026 << "tool" << 0
        << qint64(1) << 0755 << at(2020, 1, 5) << true << false << "u";
    QTest::newRow("capital S is not executable")
        << QByteArray("-rwSr--r-- 1 u g 1 Jan 5 2020 t") << QString() << mid2026 << "t" << 0 << qint64(1)
        << 0644 << at(2020, 1, 5) << true << false << "u";
    QTest::newRow("unparseable date keeps entry")
        << QByteArray("-rw-r--r-- 1 u g 1 Foo 5 2020 odd") << QString() << mid2026 << "odd" << 0 << qint64(1)
        << 0644 << QDateTime() << true << false << "u";
    QTest::newRow("year with a letter gives no date")
        << QByteArray("lrwxrwxrwx 1 root root 8 Jan  5  202t latest -> V1.0.4.3") << QString() << mid2026
        << "latest" << 2 << qint64(8) << 0777 << QDateTime() << true << true << "root";
    QTest::newRow("utf-8 name") << QByteArray("-rw-r--r-- 1 u g 1 Jan 5 2020 \xe6\x9b\xb4\xe6\x96\xb0.txt")
                                << QString() << mid2026 << QString::fromUtf8("\xe6\x9b\xb4\xe6\x96\xb0.txt")
                                << 0 << qint64(1) << 0644 << at(2020, 1, 5) << true << false << "u";

    QTest::newRow("dos directory") << QByteArray("01-05-24  10:30AM       <DIR>          V1.0.4.3\r\n")
                                   << QString() << mid2026 << "V1.0.4.3" << 1 << qint64(0) << 0666
                                   << at(2024, 1, 5, 10, 30) << true << false << "";
    QTest::newRow("dos program file afternoon")
        << QByteArray("12-31-99  02:15PM              1234 SETUP.EXE") << QString() << mid2026 << "SETUP.EXE"
        << 0 << qint64(1234) << 0777 << at(1999, 12, 31, 14, 15) << true << true << "";
    QTest::newRow("dos midnight and noon")
        << QByteArray("03-04-05  12:00AM                 1 a.txt") << QString() << mid2026 << "a.txt" << 0
        << qint64(1) << 0666 << at(2005, 3, 4, 0, 0) << true << true << "";
    QTest::newRow("dos year 70 is 2070")
        << QByteArray("03-04-70  12:05PM  5 b.bat") << QString() << mid2026 << "b.bat" << 0 << qint64(5)
        << 0777 << at(2070, 3, 4, 12, 5) << true << true << "";
    QTest::newRow("dos year 71 is 1971")
        << QByteArray("03-04-71  01:00AM  5 c") << QString() << mid2026 << "c" << 0 << qint64(5) << 0666
        << at(1971, 3, 4, 1, 0) << true << true << "";
    QTest::newRow("dos four-digit year")
        << QByteArray("01-05-2024  10:30AM  <DIR>  dir name") << QString() << mid2026 << "dir name" << 1
        << qint64(0) << 0666 << at(2024, 1, 5, 10, 30) << true << false << "";
    // Other servers' DOS list styles: 24-hour times without AM/PM (proftpd's
    // "ListStyle Windows"), four-digit years with AM/PM.
    QTest::newRow("dos 24-hour directory")
        << QByteArray("12-07-26  07:37       <DIR>          V1.0.4.10\r\n") << QString() << mid2026
        << "V1.0.4.10" << 1 << qint64(0) << 0666 << at(2026, 12, 7, 7, 37) << true << false << "";
    QTest::newRow("dos 24-hour afternoon file")
        << QByteArray("12-07-26  19:05                 2048 VarnoksPilotSetup_V1.0.4.10.exe") << QString()
        << mid2026 << "VarnoksPilotSetup_V1.0.4.10.exe" << 0 << qint64(2048) << 0777 << at(2026, 12, 7, 19, 5)
        << true << true << "";
    QTest::newRow("dos 24-hour four-digit year")
        << QByteArray("12-07-2026  00:00       <DIR>          Beta") << QString() << mid2026 << "Beta" << 1
        << qint64(0) << 0666 << at(2026, 12, 7, 0, 0) << true << false << "";
    QTest::newRow("dos four-digit year afternoon")
        << QByteArray("12-07-2026  07:37PM       <DIR>          V1.0.4.10") << QString() << mid2026
        << "V1.0.4.10" << 1 << qint64(0) << 0666 << at(2026, 12, 7, 19, 37) << true << false << "";
    QTest::newRow("dos lower-case pm")
        << QByteArray("12-07-26  07:37pm  <DIR>  V1.0.4.10") << QString() << mid2026 << "V1.0.4.10" << 1
        << qint64(0) << 0666 << at(2026, 12, 7, 19, 37) << true << false << "";
    QTest::newRow("dos hour 24 keeps entry without date")
        << QByteArray("12-07-26  24:00  <DIR>  V1.0.4.10") << QString() << mid2026 << "V1.0.4.10" << 1
        << qint64(0) << 0666 << QDateTime() << true << false << "";
    QTest::newRow("dos 13PM keeps entry without date")
        << QByteArray("12-07-26  13:00PM  <DIR>  V1.0.4.10") << QString() << mid2026 << "V1.0.4.10" << 1
        << qint64(0) << 0666 << QDateTime() << true << false << "";
}

void TestFtpListParser::parsesLine()
{
    QFETCH(QByteArray, line);
    QFETCH(QString, user);
    QFETCH(QDateTime, now);
    QFETCH(QString, name);
    QFETCH(int, kind);
    QFETCH(qint64, size);
    QFETCH(int, permissions);
    QFETCH(QDateTime, modified);
    QFETCH(bool, readable);
    QFETCH(bool, writable);
    QFETCH(QString, owner);

    QUrlInfo info;
    QVERIFY(P::parseLine(line, user, now, &info));
    QVERIFY(info.isValid());
    QCOMPARE(info.name(), name);
    QCOMPARE(info.isDir(), kind != 0);
    QCOMPARE(info.isFile(), kind == 0);
    QCOMPARE(info.isSymLink(), kind == 2 || name.endsWith(QLatin1String(".lnk")));
    QCOMPARE(info.size(), size);
    QCOMPARE(QString::number(info.permissions(), 8), QString::number(permissions, 8));
    QCOMPARE(info.lastModified(), modified);
    QCOMPARE(info.isReadable(), readable);
    QCOMPARE(info.isWritable(), writable);
    QCOMPARE(info.owner(), owner);
}

void TestFtpListParser::rejectsLine_data()
{
    QTest::addColumn<QByteArray>("line");
    QTest::newRow("total") << QByteArray("total 24\r\n");
    QTest::newRow("empty") << QByteArray("\r\n");
    QTest::newRow("blanks") << QByteArray("   \t ");
    QTest::newRow("no name") << QByteArray("drwxr-xr-x 2 u g 4096 Jan 5 10:30");
    QTest::newRow("unknown type") << QByteArray("xrwxr-xr-x 2 u g 4096 Jan 5 10:30 a");
    QTest::newRow("short permissions") << QByteArray("drwxr-xr- 2 u g 4096 Jan 5 10:30 a");
    QTest::newRow("size not a number") << QByteArray("-rw-r--r-- 1 u g abc Jan 5 10:30 a");
    QTest::newRow("name with slash") << QByteArray("-rw-r--r-- 1 u g 1 Jan 5 10:30 ../../etc/passwd");
    QTest::newRow("link name with slash") << QByteArray("lrwxrwxrwx 1 u g 1 Jan 5 10:30 a/b -> c");
    QTest::newRow("name with NUL") << QByteArray("-rw-r--r-- 1 u g 1 Jan 5 10:30 a\0b", 34);
    QTest::newRow("name with escape") << QByteArray("-rw-r--r-- 1 u g 1 Jan 5 10:30 a\x1b[2Jb");
    QTest::newRow("dos single blank before time") << QByteArray("01-05-24 10:30AM <DIR> V1");
    QTest::newRow("dos without marker") << QByteArray("01-05-24  10:30AM  V1");
    QTest::newRow("dos name with slash") << QByteArray("01-05-24  10:30AM  <DIR>  a/b");
    QTest::newRow("dos three-digit year") << QByteArray("01-05-202  10:30  <DIR>  V1");
    QTest::newRow("dos time without minutes") << QByteArray("01-05-24  10  <DIR>  V1");
    QTest::newRow("dos blank before AM") << QByteArray("01-05-24  10:30 AM  <DIR>  V1");
    QTest::newRow("dos seconds in time") << QByteArray("01-05-24  10:30:15  <DIR>  V1");
    QTest::newRow("mlsd fact line") << QByteArray("type=dir;modify=20240105103000; V1.0.4.3");
    QTest::newRow("eplf line") << QByteArray("+i8388621.29609,m824255902,/,\tdev");
    QTest::newRow("line over the limit")
        << (QByteArray("-rw-r--r-- 1 u g 1 Jan 5 10:30 ") + QByteArray(70000, 'a'));
}

void TestFtpListParser::rejectsLine()
{
    QFETCH(QByteArray, line);
    QUrlInfo info;
    info.setName(QStringLiteral("untouched"));
    QVERIFY(!P::parseLine(line, QString(), QDateTime::currentDateTime(), &info));
    QCOMPARE(info.name(), QStringLiteral("untouched"));
}

void TestFtpListParser::recognisesMissingDirectoryLine_data()
{
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<bool>("missing");
    QTest::newRow("ls error") << QByteArray("ls: /ZRN: No such file or directory\r\n") << true;
    QTest::newRow("without line end") << QByteArray("/x: No such file or directory") << true;
    QTest::newRow("other error") << QByteArray("Permission denied\r\n") << false;
    QTest::newRow("text inside") << QByteArray("No such file or directory, really\r\n") << false;
}

void TestFtpListParser::recognisesMissingDirectoryLine()
{
    QFETCH(QByteArray, line);
    QFETCH(bool, missing);
    QCOMPARE(P::isMissingDirectoryLine(line), missing);
}

QTEST_APPLESS_MAIN(TestFtpListParser)
#include "tst_ftplistparser.moc"
