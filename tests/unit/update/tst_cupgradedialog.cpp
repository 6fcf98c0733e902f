#include "app/common.h"
#include "app/commontools.h"
#include "testenv.h"
#include "update/cupgradedialog.h"
#include "update/ftpmanager.h"
#include "updatetestsupport.h"

#include <QDateTime>
#include <QPushButton>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QtTest>

// Stored reminder before a step.
enum class Stored
{
    None,    // 998
    Past,    // due
    Future,  // not due
    Garbage, // not a number
};
// What the step must leave in "next upgrade time".
enum class TimeAfter
{
    None,      // 998
    Fresh,     // a new time within the reminder window
    Unchanged, // as it was
};

Q_DECLARE_METATYPE(Stored)
Q_DECLARE_METATYPE(TimeAfter)
Q_DECLARE_METATYPE(QMessageBox::Icon)

namespace {

const QString kOldVersion = QStringLiteral("V1.0.4.1");
const QString kFailureText = QStringLiteral("Program download update failed, please try again later.");

QString storedText(Stored stored, qint64 now)
{
    switch (stored) {
    case Stored::None:
        return QStringLiteral("998");
    case Stored::Past:
        return QString::number(now - 3600);
    case Stored::Future:
        return QString::number(now + 3600);
    case Stored::Garbage:
        return QStringLiteral("tomorrow");
    }
    return QString();
}

QString nextTime()
{
    return CommonTools::GetSettingValue(COMMON::KEY_NEXT_UPGRADE_TIME, QStringLiteral("absent")).toString();
}

} // namespace

class TestCUpgradeDialog : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void checkResultFollowsTheDecisionTable_data();
    void checkResultFollowsTheDecisionTable();
    void resultDuringAnOfferKeepsOnlyTheReminder_data();
    void resultDuringAnOfferKeepsOnlyTheReminder();
    void reminderTimerActsOnTheStoredTime_data();
    void reminderTimerActsOnTheStoredTime();
    void tamperedStoredVersionIsNeverOffered();
    void unreachableServerMessageIsShownAsCritical();
    void closingTheWindowAsksUntilConfirmed_data();
    void closingTheWindowAsksUntilConfirmed();
    void windowIsAFixedSizeDialogThatNeverQuitsTheApplication();

private:
    QScopedPointer<TestEnv> m_env;
    QTcpServer m_closedPortProbe;
    QTemporaryDir m_work;
    QString m_pingUp;
};

void TestCUpgradeDialog::initTestCase()
{
    QCoreApplication::setApplicationName(COMMON::APPLICATION_NAME);
    // A loopback port with nothing behind it: the listing connection that
    // the checker opens at construction is refused at once.
    QVERIFY(m_closedPortProbe.listen(QHostAddress::LocalHost));
    const quint16 port = m_closedPortProbe.serverPort();
    m_closedPortProbe.close();
    qputenv("VARNOKS_UPDATE_SERVER", QByteArray("127.0.0.1:") + QByteArray::number(port));
    // User checks probe with a ping that always answers; the listing that
    // follows is refused, so no result arrives other than the emitted ones.
    QVERIFY(m_work.isValid());
    m_pingUp = writeFakePing(m_work.path(), true);
}

void TestCUpgradeDialog::init()
{
    m_env.reset(new TestEnv);
}

void TestCUpgradeDialog::cleanup()
{
    m_env.reset();
}

void TestCUpgradeDialog::checkResultFollowsTheDecisionTable_data()
{
    QTest::addColumn<bool>("bAuto");
    QTest::addColumn<QString>("newest");
    QTest::addColumn<Stored>("stored");
    QTest::addColumn<int>("box"); // QMessageBox::Icon, or -1 for none
    QTest::addColumn<TimeAfter>("timeAfter");
    QTest::addColumn<bool>("versionStored");
    QTest::addColumn<bool>("timerRuns");

    const int none = -1;
    const int info = QMessageBox::Information;
    const int offer = QMessageBox::Question;
    using T = TimeAfter;
    QTest::newRow("user, up to date, nothing pending")
        << false << "" << Stored::None << info << T::None << false << false;
    QTest::newRow("user, up to date, clears reminder")
        << false << "" << Stored::Future << info << T::None << false << false;
    QTest::newRow("user, newer, offered at once")
        << false << "V1.0.4.3" << Stored::None << offer << T::Fresh << true << false;
    QTest::newRow("user, newer, not due still offered")
        << false << "V1.0.4.3" << Stored::Future << offer << T::Fresh << true << false;
    QTest::newRow("auto, nothing newer, nothing pending")
        << true << "" << Stored::None << none << T::Unchanged << false << false;
    QTest::newRow("auto, nothing newer, clears a reminder")
        << true << "" << Stored::Future << none << T::None << false << false;
    QTest::newRow("auto, nothing newer, clears a due one")
        << true << "" << Stored::Past << none << T::None << false << false;
    QTest::newRow("auto, newer, first time reminds later")
        << true << "V1.0.4.3" << Stored::None << none << T::Fresh << true << true;
    QTest::newRow("auto, newer, not due waits")
        << true << "V1.0.4.3" << Stored::Future << none << T::Unchanged << false << true;
    QTest::newRow("auto, newer, due offers")
        << true << "V1.0.4.3" << Stored::Past << offer << T::Fresh << true << false;
    QTest::newRow("auto, newer, unreadable time is due")
        << true << "V1.0.4.3" << Stored::Garbage << offer << T::Fresh << true << false;
}

void TestCUpgradeDialog::checkResultFollowsTheDecisionTable()
{
    QFETCH(bool, bAuto);
    QFETCH(QString, newest);
    QFETCH(Stored, stored);
    QFETCH(int, box);
    QFETCH(TimeAfter, timeAfter);
    QFETCH(bool, versionStored);
    QFETCH(bool, timerRuns);

    const qint64 now = QDateTime::currentSecsSinceEpoch();
    const QString before = storedText(stored, now);
    CommonTools::SetSettingValue(COMMON::KEY_NEXT_UPGRADE_TIME, before);
    CommonTools::SetSettingValue(COMMON::KEY_UPGRADE_VERSION, kOldVersion);

    CUpgradeDialog dialog;
    dialog.ftpManager()->setPingProgram(m_pingUp);
    BoxAnswerer answerer;
    answerer.setFallback(QMessageBox::Cancel); // decline every offer
    // The dialog remembers the kind of check; the checker's own result can
    // only be a failure against the closed port.
    dialog.checkUpdate(bAuto);
    emit dialog.ftpManager()->signalNeedUpdate(newest);

    if (box < 0) {
        QTest::qWait(200);
        QCOMPARE(answerer.count(), 0);
    } else {
        QTRY_COMPARE(answerer.count(), 1);
        QCOMPARE(int(answerer.seen().at(0).icon), box);
        QCOMPARE(answerer.seen().at(0).title, QStringLiteral("更新提示"));
        if (box == QMessageBox::Question) {
            QCOMPARE(answerer.seen().at(0).text, QStringLiteral("检测到新版本：V1.0.4.3, 是否需要更新？"));
            QVERIFY(answerer.seen().at(0).hasCancel);
        } else {
            QCOMPARE(answerer.seen().at(0).text, QStringLiteral("当前软件已是最新版本！"));
            QVERIFY(!answerer.seen().at(0).hasCancel);
        }
    }
    QVERIFY(!dialog.isVisible()); // a declined offer downloads nothing

    const QString after = nextTime();
    switch (timeAfter) {
    case TimeAfter::None:
        QCOMPARE(after, QStringLiteral("998"));
        break;
    case TimeAfter::Unchanged:
        QCOMPARE(after, before);
        break;
    case TimeAfter::Fresh: {
        bool ok = false;
        const qint64 t = after.toLongLong(&ok);
        QVERIFY2(ok, qPrintable(after));
        QVERIFY(t >= now);
        QVERIFY(t <= QDateTime::currentSecsSinceEpoch() + 19903 * 60);
        break;
    }
    }
    QCOMPARE(CUpgradeDialog::getUpgradeVersion(), versionStored ? newest : kOldVersion);
    QCOMPARE(dialog.isReminderTimerActive(), timerRuns);
}

void TestCUpgradeDialog::resultDuringAnOfferKeepsOnlyTheReminder_data()
{
    QTest::addColumn<bool>("bAuto");     // kind of the check under way
    QTest::addColumn<QString>("second"); // result that arrives while the offer is up
    QTest::addColumn<TimeAfter>("timeAfter");
    QTest::addColumn<bool>("timerRuns");
    QTest::newRow("auto, nothing newer still clears the reminder") << true << "" << TimeAfter::None << false;
    QTest::newRow("auto, newer and not due still starts the timer")
        << true << "V1.0.4.9" << TimeAfter::Fresh << true;
    QTest::newRow("user, up to date would open a box: dropped") << false << "" << TimeAfter::Fresh << false;
    QTest::newRow("user, newer would open a box: dropped")
        << false << "V1.0.4.9" << TimeAfter::Fresh << false;
}

void TestCUpgradeDialog::resultDuringAnOfferKeepsOnlyTheReminder()
{
    QFETCH(bool, bAuto);
    QFETCH(QString, second);
    QFETCH(TimeAfter, timeAfter);
    QFETCH(bool, timerRuns);

    const qint64 now = QDateTime::currentSecsSinceEpoch();
    CommonTools::SetSettingValue(COMMON::KEY_NEXT_UPGRADE_TIME, storedText(Stored::Past, now));
    CUpgradeDialog dialog;
    dialog.ftpManager()->setPingProgram(m_pingUp);
    BoxAnswerer answerer;
    answerer.setFallback(QMessageBox::Cancel);
    answerer.setObserver([&](const BoxAnswerer::Seen& seen) {
        if (seen.icon == QMessageBox::Question && answerer.count() == 1)
            emit dialog.ftpManager()->signalNeedUpdate(second);
    });
    dialog.checkUpdate(bAuto);
    emit dialog.ftpManager()->signalNeedUpdate(QStringLiteral("V1.0.4.3"));
    QTest::qWait(300);
    QCOMPARE(answerer.count(), 1); // offers and boxes never stack
    QCOMPARE(answerer.seen().at(0).text, QStringLiteral("检测到新版本：V1.0.4.3, 是否需要更新？"));
    QCOMPARE(CUpgradeDialog::getUpgradeVersion(), QStringLiteral("V1.0.4.3"));
    QCOMPARE(dialog.isReminderTimerActive(), timerRuns);
    if (timeAfter == TimeAfter::None) {
        QCOMPARE(nextTime(), QStringLiteral("998"));
    } else {
        const qint64 t = nextTime().toLongLong();
        QVERIFY(t >= now && t <= QDateTime::currentSecsSinceEpoch() + 19903 * 60);
    }
}

void TestCUpgradeDialog::reminderTimerActsOnTheStoredTime_data()
{
    QTest::addColumn<Stored>("stored");
    QTest::addColumn<bool>("offered");
    QTest::addColumn<QString>("timeAfter"); // "" = unchanged
    QTest::newRow("due offers the stored version") << Stored::Past << true << "";
    QTest::newRow("not due does nothing") << Stored::Future << false << "";
    QTest::newRow("nothing pending clears") << Stored::None << false << "998";
}

void TestCUpgradeDialog::reminderTimerActsOnTheStoredTime()
{
    QFETCH(Stored, stored);
    QFETCH(bool, offered);
    QFETCH(QString, timeAfter);

    const QString before = storedText(stored, QDateTime::currentSecsSinceEpoch());
    CommonTools::SetSettingValue(COMMON::KEY_NEXT_UPGRADE_TIME, before);
    CommonTools::SetSettingValue(COMMON::KEY_UPGRADE_VERSION, QStringLiteral("V1.0.4.7"));

    CUpgradeDialog dialog;
    BoxAnswerer answerer;
    // Start the timer the way an automatic check that must wait does.
    dialog.checkUpdate(true);
    CommonTools::SetSettingValue(COMMON::KEY_NEXT_UPGRADE_TIME, QDateTime::currentSecsSinceEpoch() + 3600);
    emit dialog.ftpManager()->signalNeedUpdate(QStringLiteral("V1.0.4.9"));
    QVERIFY(dialog.isReminderTimerActive());
    CommonTools::SetSettingValue(COMMON::KEY_NEXT_UPGRADE_TIME, before);

    QVERIFY(QMetaObject::invokeMethod(&dialog, "onCheckTime"));
    if (offered) {
        QTRY_COMPARE(answerer.count(), 1);
        // The stored version, not the newer one the waiting check saw.
        QCOMPARE(answerer.seen().at(0).text, QStringLiteral("检测到新版本：V1.0.4.7, 是否需要更新？"));
        QVERIFY(!dialog.isReminderTimerActive());
    } else {
        QTest::qWait(200);
        QCOMPARE(answerer.count(), 0);
        QCOMPARE(dialog.isReminderTimerActive(), stored != Stored::None);
    }
    QCOMPARE(nextTime(), timeAfter.isEmpty() ? before : timeAfter);
}

void TestCUpgradeDialog::tamperedStoredVersionIsNeverOffered()
{
    CommonTools::SetSettingValue(COMMON::KEY_NEXT_UPGRADE_TIME, QDateTime::currentSecsSinceEpoch() - 60);
    CommonTools::SetSettingValue(COMMON::KEY_UPGRADE_VERSION, QStringLiteral("V1/../../../home/x"));
    CUpgradeDialog dialog;
    BoxAnswerer answerer;
    answerer.setFallback(QMessageBox::Ok);
    QVERIFY(QMetaObject::invokeMethod(&dialog, "onCheckTime"));
    QTest::qWait(200);
    QCOMPARE(answerer.count(), 0);
    QVERIFY(!dialog.isVisible());
    QVERIFY(!dialog.ftpManager()->isDownloading());
    // Cleared, so the timer does not try again every minute.
    QCOMPARE(nextTime(), QStringLiteral("998"));
}

void TestCUpgradeDialog::unreachableServerMessageIsShownAsCritical()
{
    CUpgradeDialog dialog;
    BoxAnswerer answerer;
    emit dialog.ftpManager()->signalFtpConnected(false, QStringLiteral("server gone"));
    QTRY_COMPARE(answerer.count(), 1);
    QCOMPARE(answerer.seen().at(0).icon, QMessageBox::Critical);
    QCOMPARE(answerer.seen().at(0).text, QStringLiteral("server gone"));
    QVERIFY(!answerer.seen().at(0).hasCancel);
    emit dialog.ftpManager()->signalFtpConnected(true, QString());
    QTest::qWait(150);
    QCOMPARE(answerer.count(), 1);
}

void TestCUpgradeDialog::closingTheWindowAsksUntilConfirmed_data()
{
    QTest::addColumn<int>("how"); // 0 title-bar close, 1 Escape, 2 cancel button
    // 0: the download does not end while the question is open; else the
    // icon of the box that follows its end (a failure for the cancel
    // button, an unsigned file for the title-bar close).
    QTest::addColumn<int>("endsWith");
    QTest::newRow("title-bar close") << 0 << 0;
    QTest::newRow("escape") << 1 << 0;
    QTest::newRow("cancel button") << 2 << 0;
    QTest::newRow("download fails while asking: no leftover question") << 2 << int(QMessageBox::Critical);
    QTest::newRow("unsigned download ends while asking: no leftover question")
        << 0 << int(QMessageBox::Critical);
}

void TestCUpgradeDialog::closingTheWindowAsksUntilConfirmed()
{
    QFETCH(int, how);
    QFETCH(int, endsWith);
    CUpgradeDialog dialog;
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    BoxAnswerer answerer;
    auto attempt = [&] {
        if (how == 0)
            dialog.close();
        else if (how == 1)
            QTest::keyClick(&dialog, Qt::Key_Escape);
        else
            dialog.findChild<QPushButton*>(QStringLiteral("btn_cancel_upgrade"))->click();
    };
    if (endsWith != 0) {
        QTemporaryDir dir;
        const QString file = dir.filePath(QStringLiteral("package"));
        QFile(file).open(QIODevice::WriteOnly);
        const bool success = how == 0;
        // Leaves the question unanswered; the download's end must close it.
        answerer.push([&](QWidget*) {
            emit dialog.ftpManager()->downloadFinished(success, file, success ? QString() : kFailureText);
        });
        answerer.push(QMessageBox::Cancel); // the box that follows
        attempt();
        QTRY_COMPARE(answerer.count(), 2);
        QCOMPARE(answerer.seen().at(0).text, QStringLiteral("是否确认停止下载更新？"));
        QCOMPARE(int(answerer.seen().at(1).icon), endsWith);
        QTRY_VERIFY(!dialog.isVisible());
        QTRY_VERIFY(!QApplication::activeModalWidget());
        QVERIFY(!QFile::exists(file));
        QTest::qWait(100);
        QCOMPARE(answerer.count(), 2);
        return;
    }
    answerer.push(QMessageBox::Cancel);
    answerer.push(QMessageBox::Ok);
    attempt();
    QTRY_COMPARE(answerer.count(), 1);
    QCOMPARE(answerer.seen().at(0).icon, QMessageBox::Warning);
    QCOMPARE(answerer.seen().at(0).title, QStringLiteral("温馨提示"));
    QCOMPARE(answerer.seen().at(0).text, QStringLiteral("是否确认停止下载更新？"));
    QTest::qWait(100);
    QVERIFY(dialog.isVisible());
    attempt();
    QTRY_COMPARE(answerer.count(), 2);
    QTRY_VERIFY(!dialog.isVisible());
    QTest::qWait(100);
    QCOMPARE(answerer.count(), 2); // asked once per attempt, never twice
}

void TestCUpgradeDialog::windowIsAFixedSizeDialogThatNeverQuitsTheApplication()
{
    CUpgradeDialog dialog;
    QCOMPARE(dialog.objectName(), QStringLiteral("CUpgradeDialog"));
    QCOMPARE(dialog.minimumSize(), QSize(650, 145));
    QCOMPARE(dialog.maximumSize(), QSize(650, 145));
    QVERIFY(!dialog.testAttribute(Qt::WA_QuitOnClose));
    QCOMPARE(dialog.windowTitle(), QStringLiteral("下载更新"));
    QVERIFY(dialog.windowFlags() & Qt::WindowCloseButtonHint);
    QVERIFY(!(dialog.windowFlags() & Qt::WindowMinMaxButtonsHint));
}

QTEST_MAIN(TestCUpgradeDialog)
#include "tst_cupgradedialog.moc"
