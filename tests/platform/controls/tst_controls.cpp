// The controls' own rules: a control array's bounds, the twips conversion,
// and when a change a timer tick makes to a shown value is seen.
#include "controls/control_array.h"
#include "controls/presented_value.h"
#include "controls/twips.h"
#include "platform_recorders.h"
#include "sound/sound_output.h"
#include "system/monotonic_clock.h"
#include "system/periodic_timer.h"
#include "system/runtime_error.h"

#include <QLabel>
#include <QTest>

class TestControls : public QObject
{
    Q_OBJECT

private slots:
    void controlArrayRefusesIndexOutsideBounds_data();
    void controlArrayRefusesIndexOutsideBounds();
    void twipsToPixels_data();
    void twipsToPixels();
    void changeMadeInATickIsSeenWithItsSound();
};

void TestControls::controlArrayRefusesIndexOutsideBounds_data()
{
    QTest::addColumn<qint16>("index");
    QTest::addColumn<bool>("exists");
    QTest::newRow("no member 0") << qint16(0) << false;
    QTest::newRow("lowest") << qint16(1) << true;
    QTest::newRow("highest") << qint16(6) << true;
    QTest::newRow("past the highest") << qint16(7) << false;
    QTest::newRow("negative") << qint16(-1) << false;
}

void TestControls::controlArrayRefusesIndexOutsideBounds()
{
    QFETCH(qint16, index);
    QFETCH(bool, exists);
    std::vector<QLabel> labels(6);
    std::vector<QLabel *> members;
    for (auto &label : labels)
        members.push_back(&label);
    const ControlArray<QLabel> array(1, members);
    QCOMPARE(array.upperBound(), qint16(6));
    try {
        QLabel &member = array(index);
        QVERIFY(exists);
        QCOMPARE(&member, &labels[static_cast<size_t>(index - 1)]);
    } catch (const RuntimeError &failure) {
        QVERIFY(!exists);
        QCOMPARE(failure.number(), int(RuntimeError::ControlArrayElementMissing));
    }
}


void TestControls::twipsToPixels_data()
{
    QTest::addColumn<int>("twips");
    QTest::addColumn<int>("pixels");
    QTest::newRow("window width") << 8040 << 536;
    QTest::newRow("window height") << 3510 << 234;
    QTest::newRow("two thirds of a pixel round up") << 1000 << 67; // 66.67
    QTest::newRow("a third of a pixel rounds down") << 800 << 53;  // 53.33
    QTest::newRow("just over half a pixel") << 8 << 1;
    QTest::newRow("just under half a pixel") << 7 << 0;
    QTest::newRow("zero") << 0 << 0;
    QTest::newRow("negative") << -15 << -1;
}

void TestControls::twipsToPixels()
{
    QFETCH(int, twips);
    QFETCH(int, pixels);
    QCOMPARE(::twipsToPixels(twips), pixels);
}

// With a sound stream open (the tests' dummy driver), a change a tick makes
// is seen when that tick's sound would be heard; a change made outside a
// tick is seen at once and overtakes the one still to come.
void TestControls::changeMadeInATickIsSeenWithItsSound()
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

QTEST_MAIN(TestControls)
#include "tst_controls.moc"
