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
