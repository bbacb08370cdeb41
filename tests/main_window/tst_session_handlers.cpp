// Form1's session handlers: the Start/Stop toggle, the beat step and the
// count-down, driven by calling the timer handlers directly.
#include "form1.h"
#include "met.h"
#include "platform_recorders.h"
#include "sound_recorder.h"

#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>
#include <QTest>

namespace {

const QByteArray kAccent("accent image");
const QByteArray kBeat("beat image");
const QByteArray kEnd("end image");

QList<QRadioButton *> optionsOf(Form1 &form)
{
    return {form.Option1, form.Option2, form.Option3, form.Option4, form.Option5};
}

int litMarkers(Form1 &form)
{
    int lit = 0;
    for (qint16 i = form.shpBeat.lowerBound(); i <= form.shpBeat.upperBound(); ++i)
        lit += form.shpBeat(i).fillStyle() == FillStyle::Solid ? 1 : 0;
    return lit;
}

} // namespace

class TestSessionHandlers : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void beatStepRunsThroughBars_data();
    void beatStepRunsThroughBars();
    void newStartAfterStopBeginsOnBeatOne();
    void countDownStopsAfterTenMinutesWithEndSound();
    void startAfterAStopGivesAFreshTenMinutes();
    void tempoChangedWhileTickingWaitsForTheNextStart();
    void refusedStartIsReportedAndTheNextClickStops_data();
    void refusedStartIsReportedAndTheNextClickStops();
    void closingWhileTickingStopsBeforeTheProcessEnds();

};

void TestSessionHandlers::init()
{
    Met::Session = {};
    Met::Session.AccentSound = kAccent;
    Met::Session.BeatSound = kBeat;
    Met::Session.EndSound = kEnd;
}


void TestSessionHandlers::beatStepRunsThroughBars_data()
{
    QTest::addColumn<int>("beatsPerBar");
    QTest::newRow("two beats") << 2;
    QTest::newRow("four beats") << 4;
    QTest::newRow("six beats") << 6;
}

void TestSessionHandlers::beatStepRunsThroughBars()
{
    QFETCH(int, beatsPerBar);
    SoundRecorder sounds;
    Form1 form;
    form.Text1->setText(QStringLiteral("120"));
    optionsOf(form)[beatsPerBar - 2]->setChecked(true);
    form.PushButton6_Click();
    QVERIFY(sounds.images.isEmpty()); // no sound at the press itself

    for (int step = 0; step < 3 * beatsPerBar; ++step) {
        const qint16 beat = static_cast<qint16>(step % beatsPerBar + 1);
        form.tmrBeat_Timer();
        QCOMPARE(form.lblBeat->text(), QString::number(beat));
        QCOMPARE(litMarkers(form), 1);
        QCOMPARE(form.shpBeat(beat).fillStyle(), FillStyle::Solid);
        QCOMPARE(sounds.images.last(), beat == 1 ? kAccent : kBeat);
        for (qint16 i = 1; i <= 6; ++i)
            QCOMPARE(form.shpBeat(i).isHidden(), i > beatsPerBar);
    }
    QCOMPARE(sounds.images.size(), 3 * beatsPerBar);
}

void TestSessionHandlers::newStartAfterStopBeginsOnBeatOne()
{
    SoundRecorder sounds;
    Form1 form;
    form.Text1->setText(QStringLiteral("120"));
    form.PushButton6_Click();
    QCOMPARE(form.PushButton6->Caption(), QStringLiteral("Stop Ticking"));
    for (int i = 0; i < 3; ++i)
        form.tmrBeat_Timer();
    form.PushButton6_Click(); // stop after beat 3 of 4
    QCOMPARE(form.PushButton6->Caption(), QStringLiteral("Start Ticking"));
    QVERIFY(!Met::Session.IsTicking && !form.tmrBeat->isEnabled());
    form.PushButton6_Click();
    QVERIFY(!form.lblBeat->isHidden());
    QVERIFY(form.lblBeat->text().isEmpty());
    QCOMPARE(litMarkers(form), 0);

    form.tmrBeat_Timer();
    QCOMPARE(form.lblBeat->text(), QStringLiteral("1"));
    QCOMPARE(sounds.images.last(), kAccent);
}

void TestSessionHandlers::countDownStopsAfterTenMinutesWithEndSound()
{
    SoundRecorder sounds;
    Form1 form;
    form.Text1->setText(QStringLiteral("120"));
    form.PushButton6_Click();

    bool displayClearedBeforeEndSound = false;
    sounds.onPlay = [&](const QByteArray &image) {
        if (image == kEnd)
            displayClearedBeforeEndSound = form.lblBeat->isHidden() && form.shpBeat(1).isHidden()
                                           && form.PushButton6->Caption() == u"Start Ticking";
    };
    for (int minute = 1; minute <= 9; ++minute)
        form.tmrCountDown_Timer();
    QVERIFY(Met::Session.IsTicking);
    QVERIFY(sounds.images.isEmpty());

    form.tmrCountDown_Timer();
    QVERIFY(!Met::Session.IsTicking);
    QCOMPARE(sounds.images, QList<QByteArray>{kEnd});
    QVERIFY(displayClearedBeforeEndSound);
    QVERIFY(!form.tmrBeat->isEnabled());
    QVERIFY(!form.tmrCountDown->isEnabled());
}

void TestSessionHandlers::startAfterAStopGivesAFreshTenMinutes()
{
    SoundRecorder sounds;
    Form1 form;
    form.Text1->setText(QStringLiteral("120"));
    form.PushButton6_Click();
    for (int minute = 1; minute <= 5; ++minute)
        form.tmrCountDown_Timer();
    form.PushButton6_Click();
    form.PushButton6_Click();
    QCOMPARE(Met::Session.MinutesLeft, 10);
    QCOMPARE(form.tmrCountDown->periodMs(), 60000);
    for (int minute = 1; minute <= 9; ++minute)
        form.tmrCountDown_Timer();
    QVERIFY(Met::Session.IsTicking);
    form.tmrCountDown_Timer();
    QVERIFY(!Met::Session.IsTicking);
}

void TestSessionHandlers::tempoChangedWhileTickingWaitsForTheNextStart()
{
    Form1 form;
    form.Text1->setText(QStringLiteral("120"));
    form.PushButton6_Click();
    form.Text1->setText(QStringLiteral("60"));
    form.Option1->setChecked(true);
    form.tmrBeat_Timer();
    QCOMPARE(form.tmrBeat->periodMs(), 500);
    QCOMPARE(Met::Session.BeatsPerBar, 4);
    form.PushButton6_Click();
    form.PushButton6_Click();
    QCOMPARE(form.tmrBeat->periodMs(), 1000);
    QCOMPARE(Met::Session.BeatsPerBar, 2);
}

void TestSessionHandlers::refusedStartIsReportedAndTheNextClickStops_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("description");
    QTest::newRow("negative tempo") << "-60" << "Invalid property value";
    QTest::newRow("tempo beyond 32 bits") << "5000000000" << "Overflow";
}

void TestSessionHandlers::refusedStartIsReportedAndTheNextClickStops()
{
    QFETCH(QString, text);
    QFETCH(QString, description);
    MessageBoxRecorder boxes;
    Form1 form;
    form.Text1->setText(text);

    form.PushButton6_Click();
    QCOMPARE(boxes.requests.size(), 1);
    QVERIFY2(boxes.requests[0].prompt.startsWith(description), qPrintable(boxes.requests[0].prompt));
    QVERIFY(boxes.requests[0].prompt.contains(QStringLiteral("PushButton6_Click at line 104")));
    QCOMPARE(form.PushButton6->Caption(), QStringLiteral("Stop Ticking"));
    QCOMPARE(form.tmrBeat->periodMs(), 0); // nothing ticks

    form.PushButton6_Click();
    QCOMPARE(boxes.requests.size(), 1);
    QCOMPARE(form.PushButton6->Caption(), QStringLiteral("Start Ticking"));
    QVERIFY(!Met::Session.IsTicking);
    QVERIFY(form.lblBeat->isHidden());
    QVERIFY(form.shpBeat(1).isHidden());
}

void TestSessionHandlers::closingWhileTickingStopsBeforeTheProcessEnds()
{
    Form1 form;
    form.Text1->setText(QStringLiteral("120"));
    form.show();
    form.PushButton6_Click();
    EndProcessRecorder ending;
    bool stoppedFirst = false;
    ending.onEnd = [&] { stoppedFirst = !Met::Session.IsTicking && !form.tmrBeat->isEnabled(); };
    form.close();
    QCOMPARE(ending.endings, 1);
    QVERIFY(stoppedFirst);
}

QTEST_MAIN(TestSessionHandlers)
#include "tst_session_handlers.moc"
