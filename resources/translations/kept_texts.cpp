// Read by lupdate only (scripts/update-translations); never compiled.
//
// Catalogue texts that lupdate cannot find in the code: texts that no widget
// shows at present, and texts the FTP client passes to the translator through
// a variable. They are listed here so that every language keeps the same
// message set and a refresh with -no-obsolete does not drop them.

QT_TRANSLATE_NOOP("QObject", "错误提示")
QT_TRANSLATE_NOOP("QObject", "程序运行异常，即将退出！")

// Entries for the menu's open-window and help signals, which no entry emits.
QT_TRANSLATE_NOOP("TrayIconMenu", "打开主界面")
QT_TRANSLATE_NOOP("TrayIconMenu", "帮助")

// FTP client: connection and socket texts, and the failure patterns (these
// are filled untranslated by the client; the catalogues still carry them).
QT_TRANSLATE_NOOP("QFtp", "Unknown error")
QT_TRANSLATE_NOOP("QFtp", "Connected to host %1")
QT_TRANSLATE_NOOP("QFtp", "Not connected")
QT_TRANSLATE_NOOP("QFtp", "Connection refused for data connection")
QT_TRANSLATE_NOOP("QFtp", "Host %1 not found")
QT_TRANSLATE_NOOP("QFtp", "Connection refused to host %1")
QT_TRANSLATE_NOOP("QFtp", "Connection timed out to host %1")
QT_TRANSLATE_NOOP("QFtp", "Connection closed")
QT_TRANSLATE_NOOP("QFtp", "Connecting to host failed:\n%1")
QT_TRANSLATE_NOOP("QFtp", "Login failed:\n%1")
QT_TRANSLATE_NOOP("QFtp", "Listing directory failed:\n%1")
QT_TRANSLATE_NOOP("QFtp", "Changing directory failed:\n%1")
QT_TRANSLATE_NOOP("QFtp", "Downloading file failed:\n%1")
QT_TRANSLATE_NOOP("QFtp", "Uploading file failed:\n%1")
QT_TRANSLATE_NOOP("QFtp", "Removing file failed:\n%1")
QT_TRANSLATE_NOOP("QFtp", "Creating directory failed:\n%1")
QT_TRANSLATE_NOOP("QFtp", "Removing directory failed:\n%1")
