#pragma once

#include <QObject>

#include <atomic>

class QTimer;

// Which reading every device shows: a cycle of eight bit positions, of which
// the enabled display items are visited in turn every "change interval"
// seconds. One rotation for the whole program, owned by the GUI thread; the
// report sender's thread reads currentDisplayItem without a lock.
class CircularDisplayTimer : public QObject
{
    Q_OBJECT
public:
    static CircularDisplayTimer* GetInstance();

    // Reads "change interval" and the three display settings. The program
    // uses GetInstance; tests make their own.
    explicit CircularDisplayTimer(QObject* parent = nullptr);
    ~CircularDisplayTimer() override;

    // Code of the current position if it is enabled, else 0. Any thread.
    quint8 currentDisplayItem() const;

    // Moves to the first enabled position after position 0 and runs the
    // timer, whatever the position was before.
    void start();
    void stop();
    bool isActive() const;
    void addDisplayItem(quint8 ucItem);
    void removeDisplayItem(quint8 ucItem);
    void setChangeInterval(int nSeconds);

    int position() const;
    quint8 enabledItems() const;
    int interval() const { return m_nInterval; }

public slots:
    void onChangeData();

private:
    void advance();
    void store(int nPosition, quint8 ucEnabled);

    QTimer* m_pTimer;
    // Position (bits 8..10) and enabled set (bits 0..7) in one word, so a
    // reader on another thread never pairs a new position with an old set.
    std::atomic<quint16> m_state{0};
    int m_nInterval = 2000; // milliseconds
};
