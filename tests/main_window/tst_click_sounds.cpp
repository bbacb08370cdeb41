// The click sounds as start-up loads them and the session plays them.
#include "form1.h"
#include "met.h"
#include "platform_recorders.h"
#include "sound_recorder.h"
#include "system/resource_data.h"

#include <QLineEdit>
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
    void aSessionPlaysEachSoundInItsRole();
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




// Two bars of four, then the automatic stop: accent, click, click, click,
// accent, click, click, click, end sound; sound 101 never.
void TestClickSounds::aSessionPlaysEachSoundInItsRole()
{
    SoundRecorder sounds;
    Form1 form;
    form.Form_Load();
    form.Text1->setText(QStringLiteral("120"));
    form.PushButton6_Click();
    for (int beat = 0; beat < 8; ++beat)
        form.tmrBeat_Timer();
    for (int minute = 0; minute < 10; ++minute)
        form.tmrCountDown_Timer();
    const QByteArray a = resource(103), c = resource(102), e = resource(104);
    QCOMPARE(sounds.images, (QList<QByteArray>{a, c, c, c, a, c, c, c, e}));
    QVERIFY(!sounds.images.contains(resource(101)));
}

QTEST_MAIN(TestClickSounds)
#include "tst_click_sounds.moc"
