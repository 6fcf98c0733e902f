// Read by lupdate only (scripts/update-translations); never compiled.
//
// Catalogue texts that no widget shows at present. They stay in the
// catalogues so that every language carries the same message set, and they
// are listed here so that a refresh with -no-obsolete keeps them.

QT_TRANSLATE_NOOP("QObject", "错误提示")
QT_TRANSLATE_NOOP("QObject", "程序运行异常，即将退出！")
// Entries for the menu's open-window and help signals, which no entry emits.
QT_TRANSLATE_NOOP("TrayIconMenu", "打开主界面")
QT_TRANSLATE_NOOP("TrayIconMenu", "帮助")
