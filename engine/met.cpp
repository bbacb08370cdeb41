#include "met.h"

#include "sound/sound_output.h"
#include "system/message_box.h"
#include "system/process_end.h"
#include "tempo_text.h"

#include <QAbstractButton>
#include <QLabel>
#include <QLineEdit>

namespace Met {

MetronomeSession Session;

namespace {

Controls bound;

constexpr int kCountDownPeriodMs = 60000;
constexpr qint32 kMinutesPerSession = 10;
constexpr qint32 kResetTempo = 120;

} // namespace

void BindControls(const Controls &controls)
{
    bound = controls;
}

void StartTicking()
{
    const ControlArray<Shape> &shpBeat = *bound.shpBeat;
    for (qint16 i = shpBeat.lowerBound(); i <= shpBeat.upperBound(); ++i)
        SetBeatShapeStyle(i, FillStyle::Transparent);
    bound.lblBeat->clear();
    bound.lblBeat->setVisible(true);
    Session.MinutesLeft = kMinutesPerSession;
    Session.Tempo = tempoFromText(bound.Text1->text());
    if (Session.Tempo == 0) {
        Session.Tempo = kResetTempo;
        bound.Text1->setText(QStringLiteral("120"));
        showMessageBox(QStringLiteral("had bad bpm, reset to 120"));
    }
    for (size_t i = 0; i < bound.Options.size(); ++i) {
        if (bound.Options[i]->isChecked()) {
            Session.BeatsPerBar = static_cast<qint32>(i) + 2;
            break;
        }
    }
    ShowBeatShapes(true);
    Session.CurrentBeat = 1;
    Session.IsTicking = true;
    bound.tmrBeat->setPeriodMs(beatPeriodMs(Session.Tempo));
    bound.tmrBeat->setEnabled(true);
    bound.tmrCountDown->setPeriodMs(kCountDownPeriodMs);
    bound.tmrCountDown->setEnabled(true);
    // The sound output opens now, a beat period before the first click is
    // due, so that the first accent is on the grid too.
    holdSoundOutput();
}

void StopTicking()
{
    ShowBeatShapes(false);
    bound.tmrBeat->setEnabled(false);
    bound.tmrCountDown->setEnabled(false);
    bound.lblBeat->setVisible(false);
    Session.IsTicking = false;
    // No click of a beat that was not shown yet sounds after the stop; one
    // already sounding plays out.
    dropUnheardSounds();
    releaseSoundOutput(); // it closes once the last sound has played
}

void StopAndEnd()
{
    if (Session.IsTicking)
        StopTicking();
    endProcess();
}

void ShowBeatShapes(bool show)
{
    const ControlArray<Shape> &shpBeat = *bound.shpBeat;
    for (qint16 i = shpBeat.lowerBound(); i <= shpBeat.upperBound(); ++i)
        shpBeat(i).setVisible(show && i <= Session.BeatsPerBar);
}

void SetBeatShapeStyle(qint16 index, FillStyle style)
{
    (*bound.shpBeat)(index).setFillStyle(style);
}

// The sound is due when the tick being handled was due, not when its handler
// got to run: the output places it on the grid.
void PlaySound(const QByteArray &image)
{
    playWaveImage(image, dueTimeOfHandledTickNs());
}

} // namespace Met
