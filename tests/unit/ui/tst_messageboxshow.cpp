// The shared question box: buttons, captions per language, the code returned
// for every way of closing it, and that closing it never ends the program.
#include "ui/messageboxshow.h"

#include "boxanswerer.h"

#include <QPointer>
#include <QPushButton>
#include <QTest>
#include <QTranslator>

namespace {

enum class Answer
{
    Ok,
    Cancel,
    Escape,
    Close,
    DeleteParent
};

// Closes the next box the chosen way.
BoxAnswerer::Action closing(Answer answer, QWidget* owner = nullptr)
{
    switch (answer) {
    case Answer::Ok:
        return BoxAnswerer::pressing(QMessageBox::Ok);
    case Answer::Cancel:
        return BoxAnswerer::pressing(QMessageBox::Cancel);
    case Answer::Escape:
        return [](QWidget* box) { QTest::keyClick(box, Qt::Key_Escape); };
    case Answer::Close:
        return [](QWidget* box) { box->close(); };
    case Answer::DeleteParent:
        // The owner goes away while the box is open, taking the box along.
        return [owner](QWidget*) { delete owner; };
    }
    return {};
}

} // namespace

Q_DECLARE_METATYPE(Answer)

class TestMessageBoxShow : public QObject
{
    Q_OBJECT

private slots:
    void everyWayOfClosingGivesItsCode_data();
    void everyWayOfClosingGivesItsCode();
    void boxShowsWhatTheCallerAsked();
    void captionsFollowTheInstalledLanguage_data();
    void captionsFollowTheInstalledLanguage();
    void closingTheLastVisibleBoxKeepsTheProgramRunning();
};

void TestMessageBoxShow::everyWayOfClosingGivesItsCode_data()
{
    QTest::addColumn<bool>("withCancel");
    QTest::addColumn<Answer>("answer");
    QTest::addColumn<int>("expected");
    QTest::newRow("two buttons, confirm") << true << Answer::Ok << int(QMessageBox::Ok);
    QTest::newRow("two buttons, cancel") << true << Answer::Cancel << int(QMessageBox::Cancel);
    QTest::newRow("two buttons, escape") << true << Answer::Escape << int(QMessageBox::Cancel);
    QTest::newRow("two buttons, title-bar close") << true << Answer::Close << int(QMessageBox::Cancel);
    QTest::newRow("one button, confirm") << false << Answer::Ok << int(QMessageBox::Ok);
    QTest::newRow("one button, escape") << false << Answer::Escape << int(QMessageBox::Ok);
    QTest::newRow("two buttons, owner deleted") << true << Answer::DeleteParent << int(QMessageBox::Cancel);
    QTest::newRow("one button, owner deleted") << false << Answer::DeleteParent << int(QMessageBox::Cancel);
}

void TestMessageBoxShow::everyWayOfClosingGivesItsCode()
{
    QFETCH(bool, withCancel);
    QFETCH(Answer, answer);
    QFETCH(int, expected);

    QPointer<QWidget> owner = new QWidget;
    MessageBoxShow box(owner, QMessageBox::Question);
    BoxAnswerer answerer;
    answerer.push(closing(answer, owner));
    const int result = withCancel ? box.showConfirmCancel(QStringLiteral("t"), QStringLiteral("m"))
                                  : box.showConfirm(QStringLiteral("t"), QStringLiteral("m"));
    QCOMPARE(answerer.count(), 1);
    QCOMPARE(result, expected);
    QCOMPARE(answerer.seen().at(0).captions.size(), withCancel ? 2 : 1);
    QCOMPARE(owner.isNull(), answer == Answer::DeleteParent);
    delete owner;
}

void TestMessageBoxShow::boxShowsWhatTheCallerAsked()
{
    QWidget owner;
    MessageBoxShow box(&owner, QMessageBox::Warning);
    BoxAnswerer answerer;
    answerer.push(QMessageBox::Cancel);
    box.showConfirmCancel(QStringLiteral("温馨提示"), QStringLiteral("您确认要退出程序？"));

    QCOMPARE(answerer.count(), 1);
    const BoxAnswerer::Seen& seen = answerer.seen().at(0);
    QCOMPARE(seen.title, QStringLiteral("温馨提示"));
    QCOMPARE(seen.text, QStringLiteral("您确认要退出程序？"));
    QCOMPARE(seen.icon, QMessageBox::Warning);
    QCOMPARE(seen.parent, &owner);
    QCOMPARE(int(seen.flags & 0x1ff), 0x103); // dialog, fixed size
    QVERIFY(!seen.quitOnClose);
}

void TestMessageBoxShow::captionsFollowTheInstalledLanguage_data()
{
    QTest::addColumn<QString>("catalogue");
    QTest::addColumn<QStringList>("captions");
    QTest::newRow("none") << QString() << QStringList{QStringLiteral("取消"), QStringLiteral("确定")};
    QTest::newRow("zh_CN") << ":/zh_CN.qm" << QStringList{QStringLiteral("取消"), QStringLiteral("确定")};
    QTest::newRow("zh_TW") << ":/zh_TW.qm" << QStringList{QStringLiteral("取消"), QStringLiteral("確定")};
    QTest::newRow("eg_EN") << ":/eg_EN.qm"
                           << QStringList{QStringLiteral("Cancel"), QStringLiteral("Confirm")};
}

void TestMessageBoxShow::captionsFollowTheInstalledLanguage()
{
    QFETCH(QString, catalogue);
    QFETCH(QStringList, captions);

    QTranslator translator;
    if (!catalogue.isEmpty()) {
        QVERIFY(translator.load(catalogue, QString(), QString(), QString()));
        QCoreApplication::installTranslator(&translator);
    }
    QWidget owner;
    MessageBoxShow box(&owner, QMessageBox::Question);
    BoxAnswerer answerer;
    answerer.push(QMessageBox::Ok);
    box.showConfirmCancel(QStringLiteral("t"), QStringLiteral("m"));
    QCoreApplication::removeTranslator(&translator);

    QCOMPARE(answerer.count(), 1);
    QCOMPARE(answerer.seen().at(0).captions, captions);
}

void TestMessageBoxShow::closingTheLastVisibleBoxKeepsTheProgramRunning()
{
    QVERIFY(QApplication::quitOnLastWindowClosed());
    BoxAnswerer answerer;
    answerer.push(closing(Answer::Close));
    const int exitCode = runInApplicationLoop([]() {
        // No owner and no other window: the box is the only visible window.
        MessageBoxShow box(nullptr, QMessageBox::Information);
        box.showConfirm(QStringLiteral("t"), QStringLiteral("m"));
    });
    QCOMPARE(answerer.count(), 1);
    QCOMPARE(answerer.seen().at(0).parent, nullptr);
    QCOMPARE(exitCode, 42);
}

QTEST_MAIN(TestMessageBoxShow)
#include "tst_messageboxshow.moc"
