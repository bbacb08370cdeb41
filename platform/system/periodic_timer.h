// A periodic, message-driven timer with a whole-millisecond period and an
// enabled flag, delivering its ticks on the UI thread.
//  - Period 0 means no ticks at all, even while enabled.
//  - The timer (re)starts when it is enabled with a non-zero period, or when
//    its period is written while it is enabled; the first tick comes one
//    period after that start, then one every period.
//  - Ticks stay on the grid start + k x period (nextTickDueNs()), so a late
//    delivery never shifts the ticks after it. A tick that comes more than a
//    period late is dropped, never caught up in a burst.
//  - A negative period is refused with "Invalid property value" (380) and
//    leaves the timer as it was.
//  - While a tick's handler runs, dueTimeOfHandledTickNs() gives the time on
//    the grid that tick was due, however late it was delivered.
// It does not run handlers off the UI thread or promise more than Qt's
// precise timers deliver (about a millisecond on Linux).
#pragma once

#include <QObject>
#include <QTimer>

class PeriodicTimer : public QObject
{
    Q_OBJECT

public:
    explicit PeriodicTimer(QObject *parent = nullptr);

    int periodMs() const { return m_periodMs; }
    void setPeriodMs(int periodMs);

    bool isEnabled() const { return m_enabled; }
    void setEnabled(bool enabled);

signals:
    void tick();

private:
    void restart();
    void armForDueTime();
    void onQtTimeout();

    int m_periodMs = 0;
    bool m_enabled = true;
    qint64 m_startNs = 0; // on monotonic_clock.h's clock
    qint64 m_dueNs = 0;
    QTimer m_qtTimer;
};

// The first tick time on the grid start + k x period (k >= 1) that lies
// strictly after nowNs. All times in nanoseconds; periodNs > 0.
qint64 nextTickDueNs(qint64 startNs, qint64 periodNs, qint64 nowNs);

// The due time of the tick whose handler is running (the innermost one, if a
// handler's modal box lets another tick in); outside any tick handler, now.
// On monotonic_clock.h's clock.
qint64 dueTimeOfHandledTickNs();
// Whether a tick's handler is running (on the UI thread).
bool isHandlingTick();
