#pragma once

#include <QApplication>
#include <QPointer>
#include <QWidget>

class QLocalServer;

// The application object, which also makes sure that only one instance runs
// per user: the first listens on a local socket, a later one that reaches it
// ends, and the first brings its registered window forward.
class QSingleApplication : public QApplication
{
    Q_OBJECT

public:
    QSingleApplication(int& argc, char** argv);

    bool isRunning() const { return m_bRunning; }
    void setMainWindow(QWidget* pWidget) { m_pMainWindow = pWidget; }

    // The name the local server listens on: per user, in XDG_RUNTIME_DIR
    // when there is one.
    static QString localServerName(const QString& strServerName);

private slots:
    void newLocalConnection();

private:
    bool m_bRunning = false;
    QLocalServer* m_pLocalServer = nullptr;
    QString m_strServerName;
    QPointer<QWidget> m_pMainWindow;
};
