#include "app/common.h"
#include "app/commontools.h"
#include "app/qsingleapplication.h"
#include "app/signalquit.h"
#include "sensors/hardwareinforeader.h"
#include "ui/csettingdlg.h"
#include "ui/mainwindow.h"

#include <QIcon>
#include <QTextCodec>
#include <QTranslator>

int main(int argc, char* argv[])
{
    QSingleApplication app(argc, argv);
    QTextCodec::setCodecForLocale(QTextCodec::codecForName("utf-8"));
    // Linux desktops take a window's icon from the application and match it
    // to the .desktop file by name.
    QGuiApplication::setWindowIcon(QIcon(QStringLiteral(":/Resource/favicon.ico")));
    QGuiApplication::setDesktopFileName(QStringLiteral("varnoks-pilot"));

    // Every start, a later instance too, makes sure the logon task starts
    // this very file; the settings dialog switches it on or off afterwards.
    if (!CommonTools::IsTaskExists(COMMON::TASK_NAME))
        CommonTools::AddTaskToScheduler(COMMON::TASK_NAME, QCoreApplication::applicationFilePath());

    QTranslator translator;
    const int nLanguage = CommonTools::GetSettingInt(COMMON::KEY_LANGUAGE);
    translator.load(CommonTools::GetTranslationFile(nLanguage), QString(), QString(), QString());
    app.installTranslator(&translator);

    int nExitCode = 0;
    if (!app.isRunning()) {
        SignalQuit signalQuit;
        MainWindow mainWindow;
        // A later start brings the settings forward, not the hidden window.
        app.setMainWindow(mainWindow.settingDialog());
        mainWindow.hide();
        nExitCode = app.exec();
        // Leaving this scope destroys the main window, which stops and joins
        // the report sender before the sensor library is shut down.
    }
    HardwareInfoReader::ReleaseHWi32Dll();
    return nExitCode;
}
