#include "device/circulardisplaytimer.h"

#include "app/common.h"
#include "app/commontools.h"
#include "device/hidreport.h"

#include <QMutex>
#include <QMutexLocker>
#include <QSharedPointer>
#include <QTimer>

namespace {

constexpr int CYCLE_LENGTH = 8;

std::atomic<CircularDisplayTimer*> g_pInstance{nullptr};

QMutex& instanceMutex()
{
    static QMutex mutex;
    return mutex;
}

QSharedPointer<CircularDisplayTimer>& instanceOwner()
{
    static QSharedPointer<CircularDisplayTimer> owner;
    return owner;
}

// The next enabled position after p, moving at least once; `enabled` is not
// empty. Positions that nothing enables are passed over.
int nextPosition(int p, quint8 enabled)
{
    do {
        p = (p + 1 < CYCLE_LENGTH) ? p + 1 : 0;
    } while ((enabled & (1u << p)) == 0);
    return p;
}

int intervalMs(int nSeconds)
{
    // The settings' own range: a caller that skipped the settings reader
    // must neither spin the timer (0 s) nor overflow the millisecond interval.
    return qBound(COMMON::MIN_CHANGE_INTERVAL, nSeconds, COMMON::MAX_CHANGE_INTERVAL) * 1000;
}

} // namespace

CircularDisplayTimer* CircularDisplayTimer::GetInstance()
{
    CircularDisplayTimer* instance = g_pInstance.load(std::memory_order_acquire);
    if (instance)
        return instance;
    QMutexLocker locker(&instanceMutex());
    instance = g_pInstance.load(std::memory_order_relaxed);
    if (!instance) {
        instance = new CircularDisplayTimer();
        instanceOwner().reset(instance);
        g_pInstance.store(instance, std::memory_order_release);
    }
    return instance;
}

CircularDisplayTimer::CircularDisplayTimer(QObject* parent) : QObject(parent), m_pTimer(new QTimer(this))
{
    m_nInterval = intervalMs(CommonTools::GetSettingInt(COMMON::KEY_CHANGE_INTERVAL));
    quint8 enabled = 0;
    if (CommonTools::GetSettingInt(COMMON::KEY_DISPLAY_CPU_TEMP) != 0)
        enabled |= HidReport::ITEM_CPU_TEMPERATURE;
    if (CommonTools::GetSettingInt(COMMON::KEY_DISPLAY_GPU_TEMP) != 0)
        enabled |= HidReport::ITEM_GPU_TEMPERATURE;
    if (CommonTools::GetSettingInt(COMMON::KEY_DISPLAY_FAN_RPM) != 0)
        enabled |= HidReport::ITEM_FAN_RPM;
    store(0, enabled);
    connect(m_pTimer, &QTimer::timeout, this, &CircularDisplayTimer::onChangeData);
}

CircularDisplayTimer::~CircularDisplayTimer()
{
    if (g_pInstance.load() == this)
        g_pInstance.store(nullptr);
    if (m_pTimer->isActive())
        m_pTimer->stop();
}

void CircularDisplayTimer::store(int nPosition, quint8 ucEnabled)
{
    m_state.store(quint16((nPosition & 0x7) << 8 | ucEnabled), std::memory_order_release);
}

int CircularDisplayTimer::position() const
{
    return (m_state.load(std::memory_order_acquire) >> 8) & 0x7;
}

quint8 CircularDisplayTimer::enabledItems() const
{
    return quint8(m_state.load(std::memory_order_acquire) & 0xFF);
}

quint8 CircularDisplayTimer::currentDisplayItem() const
{
    const quint16 state = m_state.load(std::memory_order_acquire);
    const int position = (state >> 8) & 0x7;
    return quint8((1u << position) & state & 0xFFu);
}

void CircularDisplayTimer::advance()
{
    const quint8 enabled = enabledItems();
    if (enabled == 0)
        return;
    store(nextPosition(position(), enabled), enabled);
}

void CircularDisplayTimer::onChangeData()
{
    if (enabledItems() != 0)
        advance();
    else if (m_pTimer->isActive())
        m_pTimer->stop();
}

void CircularDisplayTimer::start()
{
    // Every start begins the cycle afresh, one step on from position 0: the
    // first display to appear shows the same first reading however often
    // the rotation was started and stopped before it came.
    const quint8 enabled = enabledItems();
    if (enabled != 0)
        store(nextPosition(0, enabled), enabled);
    else if (m_pTimer->isActive())
        m_pTimer->stop();
    if (!m_pTimer->isActive())
        m_pTimer->start(m_nInterval);
}

void CircularDisplayTimer::stop()
{
    if (m_pTimer->isActive())
        m_pTimer->stop();
}

bool CircularDisplayTimer::isActive() const
{
    return m_pTimer->isActive();
}

void CircularDisplayTimer::addDisplayItem(quint8 ucItem)
{
    store(position(), quint8(enabledItems() | ucItem));
    if (!m_pTimer->isActive())
        m_pTimer->start(m_nInterval);
}

void CircularDisplayTimer::removeDisplayItem(quint8 ucItem)
{
    const quint8 enabled = quint8(enabledItems() & ~ucItem);
    if (enabled != 0) {
        // One store for the new set and the new position: the sender never
        // sees the removed code, nor a moment with no code at all.
        store(nextPosition(position(), enabled), enabled);
    } else {
        store(position(), 0);
        if (m_pTimer->isActive())
            m_pTimer->stop();
    }
}

void CircularDisplayTimer::setChangeInterval(int nSeconds)
{
    m_nInterval = intervalMs(nSeconds);
    if (m_pTimer->isActive())
        m_pTimer->start(m_nInterval);
}
