// A value as the user sees it on a control, and when a change is seen.
//
// A change made while a timer tick's handler runs is seen when the sound that
// tick asks for is heard: soundHeardDelayNs() after the tick was due. So the
// lit marker and the beat number appear with their click, not the sound
// server's latency ahead of it, while the controls' own state (what the
// program reads back) changes at once, in the order the handler sets it. A
// change made anywhere else (a start, a stop, a click) is seen at once and
// overtakes what was still to be shown.
//
// PresentedValue keeps the changes still to be shown, in order, and shows
// each at its time with one precise single-shot timer; the widget repaints
// when the shown value changes. UI thread only.
#pragma once

#include "system/monotonic_clock.h"

#include <QTimer>
#include <QWidget>

#include <algorithm>
#include <array>

// When a change made now is seen (monotonic_clock.h's clock).
qint64 presentationTimeNs();

template <typename T>
class PresentedValue
{
public:
    PresentedValue(QWidget *widget, const T &initial) : m_widget(widget), m_shown(initial)
    {
        m_timer.setSingleShot(true);
        m_timer.setTimerType(Qt::PreciseTimer);
        QObject::connect(&m_timer, &QTimer::timeout, widget, [this] { showDue(); });
    }

    const T &shown() const { return m_shown; }

    void set(const T &value)
    {
        const qint64 atNs = presentationTimeNs();
        if (atNs <= monotonicNowNs()) {
            m_count = 0;
            m_timer.stop();
            show(value);
            return;
        }
        if (m_count == m_pending.size()) // more changes in flight than beats in a latency: show the oldest now
            showFirst();
        m_pending[(m_first + m_count) % m_pending.size()] = {atNs, value};
        ++m_count;
        if (!m_timer.isActive())
            arm();
    }

private:
    struct Change
    {
        qint64 atNs = 0;
        T value{};
    };

    void show(const T &value)
    {
        if (value == m_shown)
            return;
        m_shown = value;
        m_widget->update();
    }

    void showFirst()
    {
        show(m_pending[m_first].value);
        m_first = (m_first + 1) % m_pending.size();
        --m_count;
    }

    void showDue()
    {
        // Within half a millisecond counts as due: the timer's resolution.
        const qint64 nowNs = monotonicNowNs() + 500'000;
        while (m_count > 0 && m_pending[m_first].atNs <= nowNs)
            showFirst();
        if (m_count > 0)
            arm();
    }

    void arm()
    {
        const qint64 waitNs = m_pending[m_first].atNs - monotonicNowNs();
        m_timer.start(int(std::max<qint64>(0, (waitNs + 500'000) / 1'000'000)));
    }

    QWidget *m_widget;
    T m_shown;
    std::array<Change, 64> m_pending{};
    size_t m_first = 0;
    size_t m_count = 0;
    QTimer m_timer;
};
