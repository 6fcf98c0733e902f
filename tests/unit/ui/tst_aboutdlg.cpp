// The about dialog: its own version, the first device's two version pairs
// under the hardware and firmware captions, and its texts per language.
#include "ui/caboutdlg.h"

#include "app/common.h"
#include "boxanswerer.h"

#include <QLabel>
#include <QTest>
#include <QTranslator>

namespace {

QString labelText(const QWidget& dialog, const char* name)
{
    const auto* label = dialog.findChild<QLabel*>(QString::fromLatin1(name));
    return label ? label->text() : QStringLiteral("<missing %1>").arg(QString::fromLatin1(name));
}

HIDDeviceInfo device(const QString& software, const QString& hardware)
{
    HIDDeviceInfo info;
    info.strUUID = QStringLiteral("1A2B3C4D5E6F708192A3B4C5");
    info.strVID = QStringLiteral("2E3C");
    info.strPID = QStringLiteral("A12");
    info.strDevicePath = QStringLiteral("/dev/hidraw3");
    info.strSoftwareVersion = software;
    info.strHardwareVersion = hardware;
    return info;
}

} // namespace

class TestAboutDlg : public QObject
{
    Q_OBJECT

private slots:
    void freshDialogShowsOwnVersionAndNoDevice();
    void deviceVersionsFillHardwareAndFirmwareLines_data();
    void deviceVersionsFillHardwareAndFirmwareLines();
    void losingTheDeviceClearsItsVersions();
    void textsFollowTheInstalledLanguage_data();
    void textsFollowTheInstalledLanguage();
    void closingTheModalDialogKeepsTheProgramRunning();
};

void TestAboutDlg::freshDialogShowsOwnVersionAndNoDevice()
{
    QWidget owner;
    CAboutDlg dialog(&owner);
    QCOMPARE(dialog.objectName(), QStringLiteral("AboutDlg"));
    QCOMPARE(labelText(dialog, "lbl_software_vv"), COMMON::SOFTWARE_VERSION);
    QCOMPARE(labelText(dialog, "lbl_hardware_vv"), QStringLiteral("--"));
    QCOMPARE(labelText(dialog, "lbl_firmware_vv"), QStringLiteral("--"));

    // Cannot be resized, has only a close button, and never ends the program.
    QCOMPARE(dialog.minimumSize(), QSize(500, 500));
    QCOMPARE(dialog.maximumSize(), QSize(500, 500));
    QVERIFY(!dialog.testAttribute(Qt::WA_QuitOnClose));
    const Qt::WindowFlags flags = dialog.windowFlags();
    QVERIFY(flags.testFlag(Qt::WindowCloseButtonHint));
    QVERIFY(!flags.testFlag(Qt::WindowContextHelpButtonHint));
    QVERIFY(!flags.testFlag(Qt::WindowMinimizeButtonHint));
    QCOMPARE(dialog.parentWidget(), &owner);
}

void TestAboutDlg::deviceVersionsFillHardwareAndFirmwareLines_data()
{
    QTest::addColumn<QString>("software");
    QTest::addColumn<QString>("hardware");
    QTest::addColumn<QString>("hardwareLine");
    QTest::addColumn<QString>("firmwareLine");
    // The first pair of the reply is the device's software version; it is shown
    // under the hardware caption, the second pair under the firmware caption.
    QTest::newRow("1.10 and 2.3") << "1.10"
                                  << "2.3"
                                  << "V1.10"
                                  << "V2.3";
    QTest::newRow("0.0 and 255.255") << "0.0"
                                     << "255.255"
                                     << "V0.0"
                                     << "V255.255";
    // Markup in a device text is shown as it is, never interpreted.
    QTest::newRow("markup") << "<b>1</b>.2"
                            << "3.4"
                            << "V<b>1</b>.2"
                            << "V3.4";
}

void TestAboutDlg::deviceVersionsFillHardwareAndFirmwareLines()
{
    QFETCH(QString, software);
    QFETCH(QString, hardware);
    QFETCH(QString, hardwareLine);
    QFETCH(QString, firmwareLine);

    CAboutDlg dialog;
    const HIDDeviceInfo info = device(software, hardware);
    dialog.setDeviceVersions(&info);
    QCOMPARE(labelText(dialog, "lbl_hardware_vv"), hardwareLine);
    QCOMPARE(labelText(dialog, "lbl_firmware_vv"), firmwareLine);
    QCOMPARE(labelText(dialog, "lbl_software_vv"), COMMON::SOFTWARE_VERSION);
    QCOMPARE(dialog.findChild<QLabel*>(QStringLiteral("lbl_hardware_vv"))->textFormat(), Qt::PlainText);
}

void TestAboutDlg::losingTheDeviceClearsItsVersions()
{
    CAboutDlg dialog;
    const HIDDeviceInfo first = device(QStringLiteral("1.0"), QStringLiteral("1.1"));
    const HIDDeviceInfo second = device(QStringLiteral("2.0"), QStringLiteral("2.1"));
    dialog.setDeviceVersions(&first);
    dialog.setDeviceVersions(&second);
    QCOMPARE(labelText(dialog, "lbl_hardware_vv"), QStringLiteral("V2.0"));
    dialog.setDeviceVersions(nullptr);
    QCOMPARE(labelText(dialog, "lbl_hardware_vv"), QStringLiteral("--"));
    QCOMPARE(labelText(dialog, "lbl_firmware_vv"), QStringLiteral("--"));
}

void TestAboutDlg::textsFollowTheInstalledLanguage_data()
{
    QTest::addColumn<QString>("catalogue");
    QTest::addColumn<QStringList>("texts"); // title, description, three captions
    QTest::newRow("none") << QString()
                          << QStringList{"关于", "设备监测软件", "软件版本：", "硬件版本：", "固件版本："};
    QTest::newRow("zh_CN") << ":/zh_CN.qm"
                           << QStringList{"关于", "设备监测软件", "软件版本：", "硬件版本：", "固件版本："};
    QTest::newRow("zh_TW") << ":/zh_TW.qm"
                           << QStringList{"關於", "設備監測軟體", "軟體版本：", "硬體版本：", "韌體版本："};
    QTest::newRow("eg_EN") << ":/eg_EN.qm"
                           << QStringList{"About", "Device Monitor Application",
                                          "Software Version:", "Hardware Version:", "Firmware Version:"};
}

void TestAboutDlg::textsFollowTheInstalledLanguage()
{
    QFETCH(QString, catalogue);
    QFETCH(QStringList, texts);

    QTranslator translator;
    if (!catalogue.isEmpty()) {
        QVERIFY(translator.load(catalogue, QString(), QString(), QString()));
        QCoreApplication::installTranslator(&translator);
    }
    CAboutDlg dialog;
    QCoreApplication::removeTranslator(&translator);

    const QStringList shown{dialog.windowTitle(), labelText(dialog, "lbl_description_aboutDlg"),
                            labelText(dialog, "lbl_software_version"),
                            labelText(dialog, "lbl_hardware_version"),
                            labelText(dialog, "lbl_firmware_version")};
    QCOMPARE(shown, texts);
    QCOMPARE(labelText(dialog, "lbl_hardware_vv"), QStringLiteral("--"));
}

void TestAboutDlg::closingTheModalDialogKeepsTheProgramRunning()
{
    CAboutDlg dialog;
    bool sawDialog = false;
    bool modelessShown = false;
    BoxAnswerer answerer;
    answerer.push([&](QWidget* modal) {
        sawDialog = modal == &dialog;
        modal->close();
    });
    const int exitCode = runInApplicationLoop([&]() {
        dialog.exec();
        // Shown again without modality, as the tray's later requests do.
        dialog.showNormal();
        modelessShown = dialog.isVisible() && !dialog.isModal();
        dialog.close();
    });
    QVERIFY(sawDialog);
    QVERIFY(modelessShown);
    QCOMPARE(exitCode, 42);
}

QTEST_MAIN(TestAboutDlg)
#include "tst_aboutdlg.moc"
