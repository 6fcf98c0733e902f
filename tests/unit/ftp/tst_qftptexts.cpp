#include "update/ftp/qftp.h"

#include <QTranslator>
#include <QtTest>

// The client's texts are translated in the catalogue's "QFtp" context, though
// the class itself lives in our namespace.
class TestQFtpTexts : public QObject
{
    Q_OBJECT

private slots:
    void initialErrorTextIsTranslated();
    void commandWithoutConnectionFailsWithTranslatedText();

private:
    QTranslator m_translator;
};

void TestQFtpTexts::initialErrorTextIsTranslated()
{
    QVERIFY(m_translator.load(":/zh_CN.qm"));
    QCoreApplication::installTranslator(&m_translator);
    varnoks::QFtp ftp;
    QCOMPARE(ftp.errorString(), QStringLiteral("未知错误"));
}

void TestQFtpTexts::commandWithoutConnectionFailsWithTranslatedText()
{
    varnoks::QFtp ftp;
    QSignalSpy finished(&ftp, SIGNAL(commandFinished(int, bool)));
    const int id = ftp.list(QStringLiteral("/ZRN"));
    QTRY_COMPARE(finished.size(), 1);
    QCOMPARE(finished.first().at(0).toInt(), id);
    QCOMPARE(finished.first().at(1).toBool(), true);
    QVERIFY2(ftp.errorString().contains(QStringLiteral("未连接")), qPrintable(ftp.errorString()));
    QCoreApplication::removeTranslator(&m_translator);
}

QTEST_GUILESS_MAIN(TestQFtpTexts)
#include "tst_qftptexts.moc"
