#pragma once

#include <QApplication>
#include <QPointer>
#include <QWidget>

#include <functional>

class QLocalServer;

// The application object, which also makes sure that only one instance runs
// per user: the first listens on a local socket, a later one that reaches it
// ends, and the first brings its registered window forward.
//
// The first instance is whoever holds an exclusive lock on a file beside the
// socket for its whole life; only the holder may take the socket name, so two
// copies started at the same moment cannot both become first.
class QSingleApplication : public QApplication
{
    Q_OBJECT

public:
    QSingleApplication(int& argc, char** argv);
    // beforeDecision runs after the toolkit is set up and right before the
    // instance decision; tests use it to release several starts at once.
    QSingleApplication(int& argc, char** argv, const std::function<void()>& beforeDecision);
    ~QSingleApplication() override;

    bool isRunning() const { return m_bRunning; }
    void setMainWindow(QWidget* pWidget) { m_pMainWindow = pWidget; }

    // The name the local server listens on: per user, in XDG_RUNTIME_DIR
    // when there is one.
    static QString localServerName(const QString& strServerName);

private slots:
    void newLocalConnection();

private:
    void decideInstance(const std::function<void()>& beforeDecision);
    bool listenAsFirst(const QString& strListenName, bool bNameIsOurs);

    bool m_bRunning = false;
    int m_nLockFd = -1;
    QString m_strLockPath;
    QLocalServer* m_pLocalServer = nullptr;
    QString m_strServerName;
    QPointer<QWidget> m_pMainWindow;
};
