#include "testenv.h"

#include <QDirIterator>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

// The udev rule that grants the seat's user access to the display.
class TestUdevRule : public QObject
{
    Q_OBJECT

private slots:
    void udevadmAcceptsTheRule();
    void ruleMatchesTheDisplayAndTagsItForTheSeat();
    void installPutsTheRuleInUdevsFolder();

private:
    static QString rulePath()
    {
        return TestEnv::sourcePath(QStringLiteral("packaging/70-varnoks-pilot.rules"));
    }
};

void TestUdevRule::udevadmAcceptsTheRule()
{
    const QString udevadm =
        QStandardPaths::findExecutable(QStringLiteral("udevadm"), {"/usr/bin", "/bin", "/sbin"});
    if (udevadm.isEmpty())
        QSKIP("udevadm is not installed");
    QProcess process;
    process.start(udevadm, {QStringLiteral("verify"), rulePath()});
    QVERIFY(process.waitForFinished(10000));
    const QString errors = QString::fromLocal8Bit(process.readAllStandardError());
    if (process.exitCode() != 0 && errors.contains(QLatin1String("Unknown command")))
        QSKIP("this udevadm has no verify command (udev 253 or later has it)");
    QVERIFY2(process.exitCode() == 0, qPrintable(errors));
}

void TestUdevRule::ruleMatchesTheDisplayAndTagsItForTheSeat()
{
    QFile file(rulePath());
    QVERIFY(file.open(QIODevice::ReadOnly | QIODevice::Text));
    // KEY[{attr}] operator "value", joined by commas.
    static const QRegularExpression pair(
        QStringLiteral("^([A-Z_]+)(\\{[A-Za-z0-9_]+\\})?(==|!=|\\+=|-=|:=|=)\"([^\"]*)\"$"));
    int rules = 0;
    while (!file.atEnd()) {
        const QString line = QString::fromUtf8(file.readLine()).trimmed();
        if (line.isEmpty() || line.startsWith(QLatin1Char('#')))
            continue;
        ++rules;
        QMap<QString, QString> keys;
        const QStringList parts = line.split(QLatin1Char(','));
        for (const QString& part : parts) {
            const QRegularExpressionMatch match = pair.match(part.trimmed());
            QVERIFY2(match.hasMatch(), qPrintable(part));
            keys.insert(match.captured(1) + match.captured(2) + match.captured(3), match.captured(4));
        }
        QCOMPARE(keys.value(QStringLiteral("SUBSYSTEM==")), QStringLiteral("hidraw"));
        // The HID parent's name: the same on USB and on uhid, and known to
        // udev on every event (USB attributes need a USB parent).
        QCOMPARE(keys.value(QStringLiteral("KERNELS==")), QStringLiteral("0003:2E3C:0A12.*"));
        QCOMPARE(keys.size(), 3);
        QCOMPARE(keys.value(QStringLiteral("TAG+=")), QStringLiteral("uaccess"));
    }
    QCOMPARE(rules, 1);
    // uaccess takes effect only when tagged before the seat rules (73-seat-late).
    QVERIFY(QFileInfo(rulePath()).fileName() < QStringLiteral("73"));
}

void TestUdevRule::installPutsTheRuleInUdevsFolder()
{
    QProcess pkgConfig;
    pkgConfig.start(QStringLiteral("pkg-config"),
                    {QStringLiteral("--variable=udevdir"), QStringLiteral("udev")});
    QVERIFY(pkgConfig.waitForFinished(10000));
    QString udevDir = QString::fromLocal8Bit(pkgConfig.readAllStandardOutput()).trimmed();
    if (udevDir.isEmpty())
        udevDir = QStringLiteral("/lib/udev");

    QTemporaryDir destDir;
    QVERIFY(destDir.isValid());
    QProcess install;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("DESTDIR"), destDir.path());
    install.setProcessEnvironment(env);
    install.start(QStringLiteral("cmake"), {QStringLiteral("--install"), QStringLiteral(VARNOKS_BUILD_DIR),
                                            QStringLiteral("--component"), QStringLiteral("udev")});
    QVERIFY(install.waitForFinished(30000));
    QVERIFY2(install.exitCode() == 0, install.readAllStandardError().constData());

    const QString installed = destDir.path() + udevDir + QStringLiteral("/rules.d/70-varnoks-pilot.rules");
    QVERIFY2(QFileInfo::exists(installed), qPrintable(installed));
    QFile source(rulePath());
    QFile copy(installed);
    QVERIFY(source.open(QIODevice::ReadOnly) && copy.open(QIODevice::ReadOnly));
    QCOMPARE(copy.readAll(), source.readAll());
}

QTEST_GUILESS_MAIN(TestUdevRule)
#include "tst_udevrule.moc"
