// Starting, stopping and ending a session, on controls bound the way the main
// window binds its own.
#include "controls/label.h"
#include "met.h"
#include "platform_recorders.h"
#include "system/runtime_error.h"

#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>
#include <QSignalSpy>
#include <QTest>

#include <memory>

namespace {

// The controls the engine works on, without the window around them.
struct EngineControls
{
    QWidget optionGroup; // one container: the option buttons are exclusive
    QLineEdit text1;
    std::array<QRadioButton *, 5> options{};
    PeriodicTimer tmrBeat;
    PeriodicTimer tmrCountDown;
    Label lblBeat;
    std::array<Shape, 6> markers;
    std::unique_ptr<ControlArray<Shape>> shpBeat;

    EngineControls()
    {
        for (size_t i = 0; i < options.size(); ++i)
            options[i] = new QRadioButton(QString::number(i + 2), &optionGroup);
        options[2]->setChecked(true);
        std::vector<Shape *> members;
        for (auto &marker : markers) {
            marker.setFillStyle(FillStyle::Transparent);
            marker.hide();
            members.push_back(&marker);
        }
        shpBeat = std::make_unique<ControlArray<Shape>>(1, members);
        Met::BindControls({&text1,
                           {options[0], options[1], options[2], options[3], options[4]},
                           &tmrBeat,
                           &tmrCountDown,
                           &lblBeat,
                           shpBeat.get()});
    }
    ~EngineControls() { Met::BindControls({}); }
};

} // namespace

class TestMet : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void startSetsUpTheSession();
    void startResetsATempoThatReadsAsZero_data();
    void startResetsATempoThatReadsAsZero();
    void startTakesBeatsPerBarFromTheSelectedOption_data();
    void startTakesBeatsPerBarFromTheSelectedOption();
    void startUnlightsMarkersLeftLit();
    void negativeTempoIsRefusedByTheBeatTimer();
    void overflowingTempoStopsTheStartAfterTheCountDownReset();
    void stopClearsTheDisplayAndKeepsTheCounters();
};

void TestMet::init()
{
    Met::Session = {};
}

void TestMet::startSetsUpTheSession()
{
    EngineControls controls;
    MessageBoxRecorder boxes;
    controls.text1.setText(QStringLiteral("90"));
    Met::StartTicking();
    QCOMPARE(Met::Session.Tempo, 90);
    QCOMPARE(Met::Session.BeatsPerBar, 4);
    QCOMPARE(Met::Session.CurrentBeat, 1);
    QCOMPARE(Met::Session.MinutesLeft, 10);
    QVERIFY(Met::Session.IsTicking);
    QCOMPARE(controls.tmrBeat.periodMs(), 667);
    QVERIFY(controls.tmrBeat.isEnabled());
    QCOMPARE(controls.tmrCountDown.periodMs(), 60000);
    QVERIFY(controls.tmrCountDown.isEnabled());
    QVERIFY(!controls.lblBeat.isHidden());
    QVERIFY(controls.lblBeat.text().isEmpty());
    QVERIFY(boxes.requests.isEmpty());
}

void TestMet::startResetsATempoThatReadsAsZero_data()
{
    QTest::addColumn<QString>("text");
    QTest::newRow("empty") << "";
    QTest::newRow("letters") << "abc";
    QTest::newRow("zero") << "0";
    QTest::newRow("0.4") << "0.4";
    QTest::newRow("0.5") << "0.5";
}

void TestMet::startResetsATempoThatReadsAsZero()
{
    QFETCH(QString, text);
    EngineControls controls;
    controls.text1.setText(text);
    QSignalSpy changes(&controls.text1, &QLineEdit::textChanged);
    MessageBoxRecorder boxes;
    // The box is modal: while it is open, no timer may have been started yet.
    bool beatTimerRunningDuringBox = true;
    boxes.onShow = [&](const MessageBoxRequest &) {
        beatTimerRunningDuringBox = controls.tmrBeat.periodMs() != 0;
    };

    Met::StartTicking();

    QCOMPARE(controls.text1.text(), QStringLiteral("120"));
    QCOMPARE(changes.count(), 1); // the box's change handling saves the reset
    QCOMPARE(boxes.requests.size(), 1);
    QCOMPARE(boxes.requests[0].prompt, QStringLiteral("had bad bpm, reset to 120"));
    QCOMPARE(boxes.requests[0].icon, MsgBoxIcon::None);
    QVERIFY(!beatTimerRunningDuringBox);
    QCOMPARE(Met::Session.Tempo, 120);
    QCOMPARE(controls.tmrBeat.periodMs(), 500);
}

void TestMet::startTakesBeatsPerBarFromTheSelectedOption_data()
{
    QTest::addColumn<int>("option");
    QTest::addColumn<int>("beatsPerBar");
    for (int option = 0; option < 5; ++option)
        QTest::addRow("Option%d", option + 1) << option << option + 2;
}

void TestMet::startTakesBeatsPerBarFromTheSelectedOption()
{
    QFETCH(int, option);
    QFETCH(int, beatsPerBar);
    EngineControls controls;
    controls.text1.setText(QStringLiteral("120"));
    controls.options[static_cast<size_t>(option)]->setChecked(true);
    Met::StartTicking();
    QCOMPARE(Met::Session.BeatsPerBar, beatsPerBar);
    for (qint16 i = 1; i <= 6; ++i)
        QCOMPARE(!(*controls.shpBeat)(i).isHidden(), i <= beatsPerBar);
}

void TestMet::startUnlightsMarkersLeftLit()
{
    EngineControls controls;
    controls.text1.setText(QStringLiteral("120"));
    controls.markers[2].setFillStyle(FillStyle::Solid);
    controls.markers[5].setFillStyle(FillStyle::Solid); // hidden members too
    Met::StartTicking();
    for (const auto &marker : controls.markers)
        QCOMPARE(marker.fillStyle(), FillStyle::Transparent);
}

void TestMet::negativeTempoIsRefusedByTheBeatTimer()
{
    EngineControls controls;
    controls.text1.setText(QStringLiteral("-60"));
    try {
        Met::StartTicking();
        QFAIL("a negative tempo started");
    } catch (const RuntimeError &failure) {
        QCOMPARE(failure.number(), int(RuntimeError::InvalidPropertyValue));
    }
    // Everything up to the beat period has happened; no timer runs.
    QVERIFY(Met::Session.IsTicking);
    QCOMPARE(Met::Session.CurrentBeat, 1);
    QCOMPARE(Met::Session.Tempo, -60);
    QCOMPARE(controls.tmrBeat.periodMs(), 0);
    QCOMPARE(controls.tmrCountDown.periodMs(), 0);
    QVERIFY(!controls.markers[0].isHidden());
}

void TestMet::overflowingTempoStopsTheStartAfterTheCountDownReset()
{
    EngineControls controls;
    controls.text1.setText(QStringLiteral("99999999999"));
    controls.markers[0].setFillStyle(FillStyle::Solid);
    QVERIFY_THROWS_EXCEPTION(RuntimeError, Met::StartTicking());
    QCOMPARE(controls.markers[0].fillStyle(), FillStyle::Transparent);
    QCOMPARE(Met::Session.MinutesLeft, 10);
    QCOMPARE(Met::Session.Tempo, 0);
    QVERIFY(!Met::Session.IsTicking);
    QCOMPARE(controls.text1.text(), QStringLiteral("99999999999"));
    QVERIFY(controls.markers[0].isHidden());
}

void TestMet::stopClearsTheDisplayAndKeepsTheCounters()
{
    EngineControls controls;
    controls.text1.setText(QStringLiteral("120"));
    Met::StartTicking();
    Met::Session.CurrentBeat = 3;
    Met::StopTicking();
    QVERIFY(!Met::Session.IsTicking);
    QVERIFY(!controls.tmrBeat.isEnabled());
    QVERIFY(!controls.tmrCountDown.isEnabled());
    QVERIFY(controls.lblBeat.isHidden());
    for (const auto &marker : controls.markers)
        QVERIFY(marker.isHidden());
    QCOMPARE(Met::Session.CurrentBeat, 3);
    QCOMPARE(Met::Session.Tempo, 120);
    QCOMPARE(Met::Session.MinutesLeft, 10);
}



QTEST_MAIN(TestMet)
#include "tst_met.moc"
