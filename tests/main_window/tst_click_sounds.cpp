// The click sounds as start-up loads them and the session plays them.
#include "form1.h"
#include "met.h"
#include "platform_recorders.h"
#include "resource_data.h"

#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>
#include <QTest>

namespace {
QByteArray resource(int number)
{
    return LoadResData(number, QStringLiteral("CUSTOM"));
}
} // namespace

class TestClickSounds : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void startUpLoadsTheThreeImagesUnaltered();
    void beatOnePlaysTheAccentOthersTheClick_data();
    void beatOnePlaysTheAccentOthersTheClick();
    void automaticStopPlaysTheEndSoundOnceAfterClearing();
};

void TestClickSounds::init()
{
    Met::Session = {};
}

void TestClickSounds::startUpLoadsTheThreeImagesUnaltered()
{
    MessageBoxRecorder boxes;
    Form1 form;
    form.Form_Load();
    QVERIFY(boxes.requests.isEmpty());
    QCOMPARE(Met::Session.BeatSound, resource(102));
    QCOMPARE(Met::Session.AccentSound, resource(103));
    QCOMPARE(Met::Session.EndSound, resource(104));
}

void TestClickSounds::beatOnePlaysTheAccentOthersTheClick_data()
{
    QTest::addColumn<int>("beatsPerBar");
    QTest::newRow("two beats: they alternate") << 2;
    QTest::newRow("four beats") << 4;
}

void TestClickSounds::beatOnePlaysTheAccentOthersTheClick()
{
    QFETCH(int, beatsPerBar);
    SoundRecorder sounds;
    Form1 form;
    form.Form_Load();
    form.Text1->setText(QStringLiteral("120"));
    (beatsPerBar == 2 ? form.Option1 : form.Option3)->setChecked(true);
    form.PushButton6_Click();
    for (int beat = 0; beat < 3 * beatsPerBar; ++beat)
        form.tmrBeat_Timer();
    QCOMPARE(sounds.images.size(), 3 * beatsPerBar);
    for (int i = 0; i < sounds.images.size(); ++i)
        QCOMPARE(sounds.images[i], resource(i % beatsPerBar == 0 ? 103 : 102));
}

void TestClickSounds::automaticStopPlaysTheEndSoundOnceAfterClearing()
{
    SoundRecorder sounds;
    Form1 form;
    form.Form_Load();
    form.Text1->setText(QStringLiteral("120"));
    form.PushButton6_Click();
    bool clearedFirst = false;
    sounds.onPlay = [&](const QByteArray &image) {
        if (image == resource(104))
            clearedFirst = form.lblBeat->isHidden() && !Met::Session.IsTicking;
    };
    for (int minute = 0; minute < 10; ++minute) {
        form.tmrBeat_Timer();
        form.tmrCountDown_Timer();
    }
    QCOMPARE(sounds.images.count(resource(104)), 1);
    QCOMPARE(sounds.images.last(), resource(104));
    QVERIFY(clearedFirst);
    QCOMPARE(sounds.images.count(resource(101)), 0);
}

QTEST_MAIN(TestClickSounds)
#include "tst_click_sounds.moc"
