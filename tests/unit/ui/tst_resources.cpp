// Compiled-in resources: images, application icon, style sheet and the three
// translation catalogues, checked from the outside as a consumer sees them.
#include <QApplication>
#include <QCheckBox>
#include <QDialog>
#include <QDir>
#include <QFile>
#include <QGroupBox>
#include <QImageReader>
#include <QLabel>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QResource>
#include <QSet>
#include <QSettings>
#include <QStandardPaths>
#include <QTest>
#include <QTranslator>
#include <QXmlStreamReader>
#include <QtEndian>

#include "logcapture.h"
#include "testenv.h"
#include "ui/csettingdlg.h"

namespace {

const QString kStyleSheet = QStringLiteral(":/Resource/QssConfig/Application.qss");

QByteArray resourceBytes(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.readAll();
}

struct TsMessage
{
    QString context;
    QString source;
    QString translation;
    bool unfinished = false;
};

// Reads a Linguist catalogue; false when it is not well-formed.
bool readTs(const QString& path, QList<TsMessage>* out, QString* language)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    QXmlStreamReader xml(&file);
    QString context;
    TsMessage current;
    while (!xml.atEnd()) {
        xml.readNext();
        if (!xml.isStartElement())
            continue;
        const auto name = xml.name();
        if (name == QLatin1String("TS")) {
            *language = xml.attributes().value(QLatin1String("language")).toString();
        } else if (name == QLatin1String("name")) {
            context = xml.readElementText();
        } else if (name == QLatin1String("message")) {
            current = TsMessage{context, {}, {}, false};
        } else if (name == QLatin1String("source")) {
            current.source = xml.readElementText();
        } else if (name == QLatin1String("translation")) {
            const auto type = xml.attributes().value(QLatin1String("type"));
            current.unfinished = !type.isEmpty();
            current.translation = xml.readElementText();
            out->append(current);
        }
    }
    return !xml.hasError();
}

QString tsPath(const QString& catalogue)
{
    return TestEnv::sourcePath(QStringLiteral("resources/translations/%1.ts").arg(catalogue));
}

QSet<QString> placeholders(const QString& text)
{
    QSet<QString> found;
    QRegularExpression re(QStringLiteral("%\\d+"));
    auto it = re.globalMatch(text);
    while (it.hasNext())
        found.insert(it.next().captured());
    return found;
}

} // namespace

class TestResources : public QObject
{
    Q_OBJECT

private slots:
    void imageIsRgbaPngOfItsSize_data();
    void imageIsRgbaPngOfItsSize();
    void applicationIconHoldsNineTrueColourSizes();
    void desktopIconsExistAtTheirThemeSizes();
    void desktopEntryIsValidAndNamesTheThemeIcon();

    void styleSheetIsStoredCompressedWithByteOrderMark();
    void styleSheetParsesWhole();
    void styleSheetImagesAllExist();
    void styleSheetStylesTheWidgetsItIsAppliedTo();
    void settingsDialogRulesReachOnlyTheSettingsDialog();

    void catalogueHoldsEveryMessageOnce_data();
    void catalogueHoldsEveryMessageOnce();
    void cataloguesShareTheSameSourceTexts();
    void compiledCatalogueMatchesItsSource_data();
    void compiledCatalogueMatchesItsSource();
    void tellingRowsTranslate_data();
    void tellingRowsTranslate();
    void simplifiedChineseKeepsSourcesOutsideItsListedRows();
};

void TestResources::imageIsRgbaPngOfItsSize_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("size");
    for (const char* name : {"devicelist", "online", "setting", "upgrade", "about", "quit",
                             "drop_down_normal", "drop_down_pressed", "up_arrow_normal", "up_arrow_pressed",
                             "down_arrow_normal", "down_arrow_pressed", "ckb_enabled_checked",
                             "ckb_enabled_unchecked", "ckb_unenabled_checked", "ckb_unenabled_unchecked"})
        QTest::newRow(name) << QString::fromLatin1(name) << 32;
    for (const char* name :
         {"left_arrow_normal", "left_arrow_hover", "right_arrow_normal", "right_arrow_hover"})
        QTest::newRow(name) << QString::fromLatin1(name) << 16;
}

void TestResources::imageIsRgbaPngOfItsSize()
{
    QFETCH(QString, name);
    QFETCH(int, size);
    const QByteArray png = resourceBytes(QStringLiteral(":/Resource/%1.png").arg(name));
    QVERIFY2(png.size() > 33, "image missing from the resources");
    // Signature, then the IHDR chunk: width, height, bit depth, colour type.
    QCOMPARE(png.left(8), QByteArray("\x89PNG\r\n\x1a\n", 8));
    QCOMPARE(png.mid(12, 4), QByteArray("IHDR"));
    QCOMPARE(qFromBigEndian<quint32>(png.constData() + 16), quint32(size));
    QCOMPARE(qFromBigEndian<quint32>(png.constData() + 20), quint32(size));
    QCOMPARE(int(quint8(png.at(24))), 8); // bits per channel
    QCOMPARE(int(quint8(png.at(25))), 6); // truecolour with alpha

    QImage image;
    QVERIFY(image.loadFromData(png, "PNG"));
    QVERIFY(image.hasAlphaChannel());
    // Drawn on a transparent ground: a fully opaque image has lost its alpha.
    QCOMPARE(qAlpha(image.pixel(0, 0)), 0);
}

void TestResources::applicationIconHoldsNineTrueColourSizes()
{
    const QByteArray ico = resourceBytes(QStringLiteral(":/Resource/favicon.ico"));
    QVERIFY(ico.size() > 6);
    QCOMPARE(qFromLittleEndian<quint16>(ico.constData() + 2), quint16(1)); // icon, not cursor
    const int count = qFromLittleEndian<quint16>(ico.constData() + 4);
    QCOMPARE(count, 9);
    QVERIFY(ico.size() >= 6 + 16 * count);

    QList<int> sizes;
    for (int i = 0; i < count; ++i) {
        const char* entry = ico.constData() + 6 + 16 * i;
        const int width = quint8(entry[0]) == 0 ? 256 : quint8(entry[0]);
        QCOMPARE(qFromLittleEndian<quint16>(entry + 6), quint16(32)); // bits per pixel
        sizes << width;
    }
    QCOMPARE(sizes, (QList<int>{16, 24, 32, 48, 64, 72, 96, 128, 256}));

    // The toolkit must be able to decode every image, the 256 one included.
    QImageReader reader(QStringLiteral(":/Resource/favicon.ico"));
    QCOMPARE(reader.imageCount(), 9);
    QList<int> decoded;
    for (int i = 0; i < reader.imageCount(); ++i) {
        QVERIFY(reader.jumpToImage(i));
        const QImage image = reader.read();
        QVERIFY2(!image.isNull(), qPrintable(reader.errorString()));
        QCOMPARE(image.width(), image.height());
        decoded << image.width();
    }
    std::sort(decoded.begin(), decoded.end());
    QCOMPARE(decoded, sizes);
}

void TestResources::desktopIconsExistAtTheirThemeSizes()
{
    for (int size : {16, 22, 24, 32, 48, 64, 128, 256}) {
        const QString path = TestEnv::sourcePath(
            QStringLiteral("resources/icons/hicolor/%1x%1/apps/varnoks-pilot.png").arg(size));
        QImageReader reader(path);
        QVERIFY2(reader.canRead(), qPrintable(path));
        QCOMPARE(reader.size(), QSize(size, size));
    }
    QVERIFY(QFile::exists(
        TestEnv::sourcePath(QStringLiteral("resources/icons/hicolor/scalable/apps/varnoks-pilot.svg"))));
}

void TestResources::desktopEntryIsValidAndNamesTheThemeIcon()
{
    const QString entry = TestEnv::sourcePath(QStringLiteral("packaging/varnoks-pilot.desktop"));
    QSettings desktop(entry, QSettings::IniFormat);
    desktop.beginGroup(QStringLiteral("Desktop Entry"));
    QCOMPARE(desktop.value(QStringLiteral("Type")).toString(), QStringLiteral("Application"));
    QCOMPARE(desktop.value(QStringLiteral("Exec")).toString(), QStringLiteral("varnoks-pilot"));
    // The theme icon installed from resources/icons/hicolor.
    QCOMPARE(desktop.value(QStringLiteral("Icon")).toString(), QStringLiteral("varnoks-pilot"));

    const QString validator = QStandardPaths::findExecutable(QStringLiteral("desktop-file-validate"));
    if (validator.isEmpty())
        QSKIP("desktop-file-validate is not installed");
    QProcess process;
    process.start(validator, {entry});
    QVERIFY(process.waitForFinished(10000));
    QVERIFY2(process.exitCode() == 0, process.readAllStandardOutput().constData());
    QVERIFY2(process.readAllStandardOutput().trimmed().isEmpty(), "validator has remarks");
}

void TestResources::styleSheetIsStoredCompressedWithByteOrderMark()
{
    QResource resource(kStyleSheet);
    QVERIFY(resource.isValid());
    QVERIFY(resource.compressionAlgorithm() != QResource::NoCompression);
    const QByteArray bytes = resourceBytes(kStyleSheet);
    QVERIFY(bytes.startsWith("\xEF\xBB\xBF"));
    // Valid UTF-8 throughout; decoding drops the mark.
    QCOMPARE(QString::fromUtf8(bytes).toUtf8(), bytes.mid(3));
}

void TestResources::styleSheetParsesWhole()
{
    const QString sheet = QString::fromUtf8(resourceBytes(kStyleSheet));
    QVERIFY(!sheet.trimmed().isEmpty());

    // Blocks close in order and comments end; braces inside comments and
    // quoted texts do not count.
    int depth = 0;
    for (int i = 0; i < sheet.size(); ++i) {
        const QChar c = sheet.at(i);
        if (c == QLatin1Char('/') && sheet.midRef(i, 2) == QLatin1String("/*")) {
            const int end = sheet.indexOf(QLatin1String("*/"), i + 2);
            QVERIFY2(end > 0, qPrintable(QStringLiteral("comment at %1 never ends").arg(i)));
            i = end + 1;
        } else if (c == QLatin1Char('"') || c == QLatin1Char('\'')) {
            const int end = sheet.indexOf(c, i + 1);
            QVERIFY2(end > 0, qPrintable(QStringLiteral("quote at %1 never ends").arg(i)));
            i = end;
        } else if (c == QLatin1Char('{')) {
            QVERIFY2(++depth == 1, qPrintable(QStringLiteral("block inside a block at %1").arg(i)));
        } else if (c == QLatin1Char('}')) {
            QVERIFY2(--depth == 0, qPrintable(QStringLiteral("brace closes nothing at %1").arg(i)));
        }
    }
    QCOMPARE(depth, 0);

    // The toolkit drops a sheet it cannot parse with nothing but a warning.
    LogCapture capture;
    QWidget widget;
    widget.setStyleSheet(sheet);
    auto* child = new QPushButton(QStringLiteral("x"), &widget);
    widget.ensurePolished();
    child->ensurePolished();
    QCOMPARE(capture.matching(QStringLiteral("Could not parse")), QStringList());
}

void TestResources::styleSheetImagesAllExist()
{
    const QString sheet = QString::fromUtf8(resourceBytes(kStyleSheet));
    // The argument of url(), with or without quotes around it.
    const QRegularExpression url(QStringLiteral("url\\(\\s*[\"']?([^)\"']*)[\"']?\\s*\\)"));
    auto it = url.globalMatch(sheet);
    int images = 0;
    while (it.hasNext()) {
        const QString path = it.next().captured(1);
        // Compiled in: a file path would depend on where the program runs.
        QVERIFY2(path.startsWith(QLatin1String(":/")), qPrintable(path));
        QVERIFY2(QFile::exists(path), qPrintable(path + QStringLiteral(" is not in the resources")));
        QImageReader reader(path);
        QVERIFY2(!reader.read().isNull(), qPrintable(path + QStringLiteral(": ") + reader.errorString()));
        ++images;
    }
    // Every url( was read as one: none escaped the pattern above.
    QCOMPARE(images, sheet.count(QStringLiteral("url(")));
}

void TestResources::styleSheetStylesTheWidgetsItIsAppliedTo()
{
    // Read as a text stream reads it, which drops the byte-order mark.
    QFile file(kStyleSheet);
    QVERIFY(file.open(QIODevice::ReadOnly | QIODevice::Text));
    QTextStream stream(&file);
    stream.setCodec("UTF-8");
    const QString sheet = stream.readAll();
    QVERIFY(!sheet.startsWith(QChar(0xFEFF)));

    QWidget window;
    window.setStyleSheet(sheet);
    auto* label = new QLabel(QStringLiteral("x"), &window);
    auto* button = new QPushButton(QStringLiteral("x"), &window);
    QWidget stray; // not a child: the sheet must not reach it
    window.ensurePolished();
    label->ensurePolished();
    button->ensurePolished();
    stray.ensurePolished();

    QCOMPARE(label->font().family(), QStringLiteral("Microsoft YaHei")); // the first rule took effect
    QVERIFY(button->sizeHint().height() >= 28);
    QVERIFY(stray.font().family() != QStringLiteral("Microsoft YaHei"));
}

void TestResources::settingsDialogRulesReachOnlyTheSettingsDialog()
{
    TestEnv env; // the dialog reads and writes settings and the logon entry
    QVERIFY(env.isValid());
    QWidget host;
    host.setStyleSheet(QString::fromUtf8(resourceBytes(kStyleSheet)));
    auto* settings = new CSettingDlg(&host);
    auto* other = new QDialog(&host);
    auto* otherGroup = new QGroupBox(other);
    settings->ensurePolished();
    other->ensurePolished();
    otherGroup->ensurePolished();
    const QList<QGroupBox*> groups = settings->findChildren<QGroupBox*>();
    QVERIFY(!groups.isEmpty());

    const QColor grey(237, 237, 237);
    QCOMPARE(settings->palette().color(QPalette::Window), grey);
    for (QGroupBox* group : groups) {
        group->ensurePolished();
        QCOMPARE(group->palette().color(QPalette::Window), grey);
    }
    QCOMPARE(other->palette().color(QPalette::Window), QColor(Qt::white));
    QCOMPARE(otherGroup->palette().color(QPalette::Window), QColor(Qt::white));
}

void TestResources::catalogueHoldsEveryMessageOnce_data()
{
    QTest::addColumn<QString>("catalogue");
    QTest::addColumn<QString>("language");
    QTest::newRow("zh_CN") << "zh_CN"
                           << "zh_CN";
    QTest::newRow("zh_TW") << "zh_TW"
                           << "zh_TW";
    QTest::newRow("eg_EN") << "eg_EN"
                           << "en_US";
}

void TestResources::catalogueHoldsEveryMessageOnce()
{
    QFETCH(QString, catalogue);
    QFETCH(QString, language);
    QList<TsMessage> messages;
    QString tsLanguage;
    QVERIFY(readTs(tsPath(catalogue), &messages, &tsLanguage));
    QCOMPARE(tsLanguage, language);
    QCOMPARE(messages.size(), 103);

    QMap<QString, int> perContext;
    QSet<QString> keys;
    for (const auto& m : messages) {
        ++perContext[m.context];
        QVERIFY2(!keys.contains(m.context + '\x1f' + m.source), qPrintable(m.context + ": " + m.source));
        keys.insert(m.context + '\x1f' + m.source);
        QVERIFY2(!m.unfinished && !m.translation.isEmpty(), qPrintable(m.context + ": " + m.source));
        // A lost or invented %n would print the wrong thing or nothing at all.
        QVERIFY2(placeholders(m.source) == placeholders(m.translation),
                 qPrintable(m.context + ": " + m.source));
    }
    const QMap<QString, int> expected = {
        {"AboutDlg", 6},   {"CSensorChooserDlg", 8}, {"CSettingDlg", 2},    {"CUpgradeDialog", 18},
        {"FtpManager", 1}, {"MainWindow", 17},       {"MessageBoxShow", 2}, {"QFtp", 17},
        {"QObject", 2},    {"SettingDlg", 22},       {"TrayIconMenu", 8},
    };
    QCOMPARE(perContext, expected);
}

void TestResources::cataloguesShareTheSameSourceTexts()
{
    QSet<QString> first;
    for (const char* catalogue : {"zh_CN", "zh_TW", "eg_EN"}) {
        QList<TsMessage> messages;
        QString language;
        QVERIFY(readTs(tsPath(catalogue), &messages, &language));
        QSet<QString> keys;
        for (const auto& m : messages)
            keys.insert(m.context + '\x1f' + m.source);
        if (first.isEmpty())
            first = keys;
        QCOMPARE(keys, first);
    }
}

void TestResources::compiledCatalogueMatchesItsSource_data()
{
    QTest::addColumn<QString>("catalogue");
    for (const char* name : {"zh_CN", "zh_TW", "eg_EN"})
        QTest::newRow(name) << QString::fromLatin1(name);
}

void TestResources::compiledCatalogueMatchesItsSource()
{
    QFETCH(QString, catalogue);
    QTranslator translator;
    QVERIFY(translator.load(QStringLiteral(":/%1.qm").arg(catalogue), QString(), QString(), QString()));
    QList<TsMessage> messages;
    QString language;
    QVERIFY(readTs(tsPath(catalogue), &messages, &language));
    for (const auto& m : messages) {
        QCOMPARE(translator.translate(m.context.toUtf8().constData(), m.source.toUtf8().constData()),
                 m.translation);
    }
}

void TestResources::tellingRowsTranslate_data()
{
    QTest::addColumn<QString>("catalogue");
    QTest::addColumn<QString>("context");
    QTest::addColumn<QString>("source");
    QTest::addColumn<QString>("expected");

    struct Row
    {
        const char* context;
        const char* source;
        const char* en;
        const char* cn;
        const char* tw;
    };
    const Row rows[] = {
        {"AboutDlg", "固件版本：", "Firmware Version:", "固件版本：", "韌體版本："},
        {"AboutDlg", "软件版本：", "Software Version:", "软件版本：", "軟體版本："},
        {"AboutDlg", "关于", "About", "关于", "關於"},
        {"CSettingDlg", "温馨提示", "Tips", "温馨提示", "溫馨提示"},
        {"CSettingDlg", "更改语言需要重新启动才能生效。",
         "Language changes will take effect after restarting the software.", "更改语言需要重新启动才能生效。",
         "更改語言需要重新啟動才能生效。"},
        {"CUpgradeDialog", ", 是否需要更新？", ",confirm whether to upgrade?", "，是否需要更新？",
         "，是否需要更新？"},
        {"CUpgradeDialog", "程序正在下载更新中，请稍后......",
         "The application is downloading updates, please wait...", "程序正在下载更新中，请稍候...",
         "程式正在下載更新中，請稍候..."},
        {"CUpgradeDialog", "温馨提示", "Kind Tips", "温馨提示", "溫馨提示"},
        {"CUpgradeDialog", "是否确认停止下载更新？", "Confirm stop download updates？",
         "是否确认停止下载更新？", "是否確認停止下載更新？"},
        {"CUpgradeDialog", "该版本暂无 Linux 安装包", "no Linux package for this version yet",
         "该版本暂无 Linux 安装包", "該版本暫無 Linux 安裝包"},
        {"CUpgradeDialog", "签名不匹配", "the signature does not match", "签名不匹配", "簽章不符"},
        {"FtpManager", "程序升级服务器连接失败，请检查网络是否正常！",
         "The program upgrade server connection failed. Please check if the network is functioning properly.",
         "程序升级服务器连接失败，请检查网络是否正常！", "程式陞級服務器連接失敗，請檢查網絡是否正常！"},
        {"MainWindow", "MainWindow", "MainWindow", "主界面", "主介面"},
        {"MainWindow", "RPM", "RPM", "转/分", "轉/分"},
        {"MainWindow", "硬件版本", "Hardware version", "硬件版本", "硬體版本"},
        {"MainWindow", "设备检测软件 - 监测中", "Device Monitor Application - Monitoring",
         "设备检测软件 - 监测中", "設備檢測軟體 - 監測中"},
        {"MainWindow", "您确认要退出程序？", "Do you confirm to quit？", "您确认要退出程序？",
         "您確認要結束程式？"},
        {"MessageBoxShow", "确定", "Confirm", "确定", "確定"},
        {"MessageBoxShow", "取消", "Cancel", "取消", "取消"},
        {"QFtp", "Connection closed", "Connection closed", "连接已关闭", "連線已關閉"},
        {"QFtp", "Login failed:\n%1", "Login failed:\n%1", "登录%1失败", "登入%1失敗"},
        {"QFtp", "Host %1 not found", "Host %1 not found", "找不到主机%1", "找不到主機%1"},
        {"QObject", "错误提示", "Error Message", "错误提示", "錯誤提示"},
        {"SettingDlg", "设置", "Varnoks Pilot", "设置", "Varnoks Pilot"},
        {"SettingDlg", "报警阈值", "Alert Threshold Settings", "报警阈值", "警示值設定"},
        {"SettingDlg", "CPU温度阈值(℃)", "CPU Temperature Alert", "CPU温度阈值(℃)", "CPU溫度警示值(℃)"},
        {"SettingDlg", "设备显示项", "Display Options", "设备显示项", "顯示選項"},
        {"SettingDlg", "通用设置", "General Settings", "通用设置", "一般設定"},
        {"SettingDlg", "简体中文", "简体中文", "简体中文", "简体中文"},
        {"SettingDlg", "繁體中文", "繁體中文", "繁體中文", "繁體中文"},
        {"SettingDlg", "English", "English", "English", "English"},
        {"SettingDlg", "风扇转速阈值(转)", "Fan Speed Alert(RPM)", "风扇转速阈值(转)", "風扇轉速警示值(轉)"},
        {"TrayIconMenu", "设备列表", "Devices", "设备列表", "裝置列表"},
        {"TrayIconMenu", "检查更新", "Update", "检查更新", "檢查更新"},
        {"TrayIconMenu", "无", "None", "无", "無"},
        {"TrayIconMenu", "退出", "Quit", "退出", "結束"},
    };
    for (const Row& r : rows) {
        const QString tag =
            QStringLiteral("%1 %2").arg(r.context, QString::fromUtf8(r.source).replace('\n', ' '));
        QTest::newRow(qPrintable("en " + tag))
            << "eg_EN" << r.context << QString::fromUtf8(r.source) << QString::fromUtf8(r.en);
        QTest::newRow(qPrintable("cn " + tag))
            << "zh_CN" << r.context << QString::fromUtf8(r.source) << QString::fromUtf8(r.cn);
        QTest::newRow(qPrintable("tw " + tag))
            << "zh_TW" << r.context << QString::fromUtf8(r.source) << QString::fromUtf8(r.tw);
    }
}

void TestResources::tellingRowsTranslate()
{
    QFETCH(QString, catalogue);
    QFETCH(QString, context);
    QFETCH(QString, source);
    QFETCH(QString, expected);

    // Installed as start-up installs it, so translate() goes the usual way.
    QTranslator translator;
    QVERIFY(translator.load(QStringLiteral(":/%1.qm").arg(catalogue), QString(), QString(), QString()));
    QVERIFY(QCoreApplication::installTranslator(&translator));
    const QString got =
        QCoreApplication::translate(context.toUtf8().constData(), source.toUtf8().constData());
    QCoreApplication::removeTranslator(&translator);
    QCOMPARE(got, expected);
}

void TestResources::simplifiedChineseKeepsSourcesOutsideItsListedRows()
{
    QList<TsMessage> messages;
    QString language;
    QVERIFY(readTs(tsPath(QStringLiteral("zh_CN")), &messages, &language));
    const QSet<QString> changed = {
        QStringLiteral("CUpgradeDialog\x1f, 是否需要更新？"),
        QStringLiteral("CUpgradeDialog\x1f程序正在下载更新中，请稍后......"),
        QStringLiteral("MainWindow\x1fMainWindow"),
        QStringLiteral("MainWindow\x1fRPM"),
    };
    int rendered = 0;
    for (const auto& m : messages) {
        const QString key = m.context + '\x1f' + m.source;
        if (m.context == QLatin1String("QFtp")) {
            // English protocol texts get a Chinese rendering.
            QVERIFY2(m.translation != m.source, qPrintable(m.source));
            ++rendered;
        } else if (changed.contains(key)) {
            QVERIFY2(m.translation != m.source, qPrintable(key));
        } else {
            QCOMPARE(m.translation, m.source);
        }
    }
    QCOMPARE(rendered, 17);
}

QTEST_MAIN(TestResources)
#include "tst_resources.moc"
