// The beat and count-down clocks: the tick grid, period 0, refusal of a
// negative period, and restarts.
// Waits here are for delivery only; how punctual ticks are is measured in
// bench/, not asserted.
#include "platform_recorders.h"
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

QTEST_MAIN(TestPeriodicTimer)
#include "tst_periodic_timer.moc"
