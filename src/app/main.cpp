#include "app/common.h"
#include "app/commontools.h"
#include "app/qsingleapplication.h"
#include "app/signalquit.h"

#include <QTextCodec>
#include <QTranslator>

int main(int argc, char* argv[])
{
    QSingleApplication app(argc, argv);
    QTextCodec::setCodecForLocale(QTextCodec::codecForName("utf-8"));

    // Every start, a later instance too, makes sure the logon task starts
    // this very file; the settings dialog switches it on or off afterwards.
    if (!CommonTools::IsTaskExists(COMMON::TASK_NAME))
        CommonTools::AddTaskToScheduler(COMMON::TASK_NAME, QCoreApplication::applicationFilePath());

    QTranslator translator;
    const int nLanguage = CommonTools::GetSettingValue(COMMON::KEY_LANGUAGE, 2).toInt();
    translator.load(CommonTools::GetTranslationFile(nLanguage), QString(), QString(), QString());
    app.installTranslator(&translator);

    int nExitCode = 0;
    if (!app.isRunning()) {
        SignalQuit signalQuit;
        nExitCode = app.exec();
    }
    return nExitCode;
}
