// The beat and count-down clocks: the tick grid, period 0, refusal of a
// negative period, and restarts; and when a change a tick makes is seen.
// Waits here are for delivery only; how punctual ticks are is measured in
// bench/, not asserted.
#include "controls/presented_value.h"
#include "platform_recorders.h"
#include "sound/sound_output.h"
#include "system/monotonic_clock.h"
#include "system/periodic_timer.h"
#include "system/runtime_error.h"

#include <QSignalSpy>
#include <QTest>

class TestPeriodicTimer : public QObject
{
    Q_OBJECT

private slots:
    void nextTickDue_data();
    void nextTickDue();
    void periodZeroNeverTicksWhileEnabled();
    void negativePeriodIsRefusedAndChangesNothing();
    void enabledWithPeriodTicksRepeatedly();
    void disablingStopsTicks();
    void handlerFailureDoesNotEscape();
    void changeMadeInATickIsSeenWithItsSound();
};

void TestPeriodicTimer::nextTickDue_data()
{
    QTest::addColumn<qint64>("startNs");
    QTest::addColumn<qint64>("periodNs");
    QTest::addColumn<qint64>("nowNs");
    QTest::addColumn<qint64>("expectedNs");

    QTest::newRow("before the first tick") << 1000LL << 500LL << 1200LL << 1500LL;
    QTest::newRow("exactly on a tick: the next one") << 1000LL << 500LL << 1500LL << 2000LL;
    QTest::newRow("late by a little: stays on the grid") << 1000LL << 500LL << 1510LL << 2000LL;
    QTest::newRow("late by two periods: skipped, not caught up")
        << 1000LL << 500LL << 2600LL << 3000LL;
    QTest::newRow("clock before start") << 1000LL << 500LL << 900LL << 1500LL;
    QTest::newRow("ten minutes of 429 ms beats, no drift")
        << 0LL << 429'000'000LL << 600'000'000'000LL << 1399LL * 429'000'000LL;
}

void TestPeriodicTimer::nextTickDue()
{
    QFETCH(qint64, startNs);
    QFETCH(qint64, periodNs);
    QFETCH(qint64, nowNs);
    QFETCH(qint64, expectedNs);
    QCOMPARE(nextTickDueNs(startNs, periodNs, nowNs), expectedNs);
}

void TestPeriodicTimer::periodZeroNeverTicksWhileEnabled()
{
    PeriodicTimer timer;
    QSignalSpy ticks(&timer, &PeriodicTimer::tick);
    QVERIFY(timer.isEnabled());
    timer.setPeriodMs(0);
    QTest::qWait(50);
    QCOMPARE(ticks.count(), 0);
}

void TestPeriodicTimer::negativePeriodIsRefusedAndChangesNothing()
{
    PeriodicTimer timer;
    timer.setPeriodMs(60000);
    try {
        timer.setPeriodMs(-500);
        QFAIL("a negative period was accepted");
    } catch (const RuntimeError &failure) {
        QCOMPARE(failure.number(), int(RuntimeError::InvalidPropertyValue));
        QCOMPARE(failure.description(), QStringLiteral("Invalid property value"));
    }
    QCOMPARE(timer.periodMs(), 60000);
}

void TestPeriodicTimer::enabledWithPeriodTicksRepeatedly()
{
    PeriodicTimer timer;
    timer.setEnabled(false);
    timer.setPeriodMs(5);
    QSignalSpy ticks(&timer, &PeriodicTimer::tick);
    QTest::qWait(30);
    QCOMPARE(ticks.count(), 0); // disabled: the period alone starts nothing
    timer.setEnabled(true);
    QTRY_VERIFY(ticks.count() >= 3);
}

void TestPeriodicTimer::disablingStopsTicks()
{
    PeriodicTimer timer;
    QSignalSpy ticks(&timer, &PeriodicTimer::tick);
    timer.setPeriodMs(5);
    QTRY_VERIFY(ticks.count() >= 1);
    timer.setEnabled(false);
    const auto seen = ticks.count();
    QTest::qWait(40);
    QCOMPARE(ticks.count(), seen);
}

void TestPeriodicTimer::handlerFailureDoesNotEscape()
{
    PeriodicTimer timer;
    int failures = 0;
    connect(&timer, &PeriodicTimer::tick, &timer, [&] {
        ++failures;
        timer.setEnabled(false);
        throw RuntimeError::overflow();
    });
    MessageBoxRecorder boxes;
    timer.setPeriodMs(5);
    QTRY_COMPARE(failures, 1);
    QCOMPARE(boxes.prompts(), QStringList{QStringLiteral("Overflow")});
}

// With a sound stream open (the tests' dummy driver), a change a tick makes
// is seen when that tick's sound would be heard; a change made outside a
// tick is seen at once and overtakes the one still to come.
void TestPeriodicTimer::changeMadeInATickIsSeenWithItsSound()
{
    holdSoundOutput();
    QWidget widget;
    PresentedValue<int> value(&widget, 0);
    PeriodicTimer timer;
    int shownRightAfter = -1;
    bool tickLaterThanItsSound = false;
    connect(&timer, &PeriodicTimer::tick, this, [&] {
        timer.setEnabled(false);
        value.set(1);
        shownRightAfter = value.shown();
        tickLaterThanItsSound = monotonicNowNs() >= dueTimeOfHandledTickNs() + soundHeardDelayNs();
    });
    timer.setPeriodMs(10);
    QTRY_VERIFY(shownRightAfter != -1);
    QCOMPARE(shownRightAfter, tickLaterThanItsSound ? 1 : 0);
    QTRY_COMPARE(value.shown(), 1);

    shownRightAfter = -1;
    timer.setEnabled(true);
    QTRY_VERIFY(shownRightAfter != -1);
    value.set(4);
    QCOMPARE(value.shown(), 4);
    QTest::qWait(int(soundHeardDelayNs() / 1'000'000) + 50);
    QCOMPARE(value.shown(), 4);
    releaseSoundOutput();
}

QTEST_MAIN(TestPeriodicTimer)
#include "tst_periodic_timer.moc"
