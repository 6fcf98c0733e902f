#pragma once

#include <QObject>

class QSocketNotifier;

// Turns SIGTERM and SIGINT into a normal quit of the event loop, so that a
// logout or `kill` ends the program by the same path as the tray's quit:
// windows destroyed, worker thread joined, log complete.
class SignalQuit : public QObject
{
    Q_OBJECT

public:
    explicit SignalQuit(QObject* parent = nullptr);
    ~SignalQuit() override;

    // The signal that ended the loop, or 0.
    static int receivedSignal();

private slots:
    void onSignalReadable();

private:
    QSocketNotifier* m_pNotifier = nullptr;
};
