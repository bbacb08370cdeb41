#include "system/periodic_timer.h"

#include "system/monotonic_clock.h"
#include "system/platform_call.h"
#include "system/runtime_error.h"

#include <limits>
#include <utility>

namespace {
constexpr qint64 kNsPerMs = 1'000'000;
constexpr qint64 kNoTickHandled = std::numeric_limits<qint64>::min();
qint64 handledTickDueNs = kNoTickHandled;
} // namespace

bool isHandlingTick()
{
    return handledTickDueNs != kNoTickHandled;
}

qint64 dueTimeOfHandledTickNs()
{
    return handledTickDueNs != kNoTickHandled ? handledTickDueNs : monotonicNowNs();
}

qint64 nextTickDueNs(qint64 startNs, qint64 periodNs, qint64 nowNs)
{
    if (nowNs < startNs)
        return startNs + periodNs;
    const qint64 ticksPassed = (nowNs - startNs) / periodNs;
    return startNs + (ticksPassed + 1) * periodNs;
}

PeriodicTimer::PeriodicTimer(QObject *parent) : QObject(parent)
{
    m_qtTimer.setSingleShot(true);
    m_qtTimer.setTimerType(Qt::PreciseTimer);
    connect(&m_qtTimer, &QTimer::timeout, this, &PeriodicTimer::onQtTimeout);
}

void PeriodicTimer::setPeriodMs(int periodMs)
{
    if (periodMs < 0)
        throw RuntimeError::invalidPropertyValue();
    m_periodMs = periodMs;
    restart();
}

void PeriodicTimer::setEnabled(bool enabled)
{
    announcePlatformCall("PeriodicTimer::setEnabled");
    if (enabled == m_enabled)
        return;
    m_enabled = enabled;
    restart();
}

void PeriodicTimer::restart()
{
    m_qtTimer.stop();
    if (!m_enabled || m_periodMs == 0)
        return;
    m_startNs = monotonicNowNs();
    m_dueNs = m_startNs + m_periodMs * kNsPerMs;
    armForDueTime();
}

void PeriodicTimer::armForDueTime()
{
    const qint64 remainingNs = m_dueNs - monotonicNowNs();
    // Rounded up: Qt's precise timers never fire early, so the wake-up is at or
    // just after the due time, never before it.
    const qint64 remainingMs = remainingNs <= 0 ? 0 : (remainingNs + kNsPerMs - 1) / kNsPerMs;
    m_qtTimer.start(static_cast<int>(remainingMs));
}

void PeriodicTimer::onQtTimeout()
{
    const qint64 nowNs = monotonicNowNs();
    if (nowNs < m_dueNs) {
        armForDueTime();
        return;
    }
    const qint64 thisTickDueNs = m_dueNs;
    m_dueNs = nextTickDueNs(m_startNs, m_periodMs * kNsPerMs, nowNs);
    // Armed before the handler runs, so a handler that stops or restarts the
    // timer has the last word.
    armForDueTime();
    const qint64 outerTickDueNs = std::exchange(handledTickDueNs, thisTickDueNs);
    try {
        emit tick();
    } catch (const std::exception &failure) {
        reportUntrappedFailure(failure);
    }
    handledTickDueNs = outerTickDueNs;
}
