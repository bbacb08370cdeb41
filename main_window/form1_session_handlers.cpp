// Form1's handlers of a ticking session: the Start/Stop toggle, the beat step
// and the minute count-down. Each reads as its step list; the work of starting
// and stopping lives in the engine (met.h).
#include "form1.h"

#include "error_report.h"
#include "met.h"
#include "system/dispatch.h"

#include <QLabel>

namespace {

const QString kStartCaption = QStringLiteral("Start Ticking");
const QString kStopCaption = QStringLiteral("Stop Ticking");

} // namespace

// The caption is the toggle's state. It is switched before the session is
// started or stopped, so a start that fails leaves "Stop Ticking" showing and
// the next click takes the stop path, which restores the idle state. Under
// the error trap a caption that cannot be read counts as "Start Ticking".
void Form1::PushButton6_Click()
{
    ErrorTrap trap(handlerLocation("PushButton6_Click"));
    if (trap.test(100, [&] { return propertyByName(*PushButton6, "Caption").toString() == kStartCaption; })) {
        trap.run(102, [&] { setPropertyByName(*PushButton6, "Caption", kStopCaption); });
        trap.run(104, [] { Met::StartTicking(); });
    } else {
        trap.run(108, [&] { setPropertyByName(*PushButton6, "Caption", kStartCaption); });
        trap.run(110, [] { Met::StopTicking(); });
    }
}

// One beat: wrap at the end of the bar, show the number, light only the
// current marker (hidden ones too), request the click, advance. The display
// is updated before the click is requested; nothing here waits.
void Form1::tmrBeat_Timer()
{
    Met::MetronomeSession &session = Met::Session;
    if (session.CurrentBeat > session.BeatsPerBar)
        session.CurrentBeat = 1;
    lblBeat->setText(QString::number(session.CurrentBeat));
    for (qint16 i = shpBeat.lowerBound(); i <= shpBeat.upperBound(); ++i)
        Met::SetBeatShapeStyle(i, i == session.CurrentBeat ? FillStyle::Solid
                                                           : FillStyle::Transparent);
    Met::PlaySound(session.CurrentBeat == 1 ? session.AccentSound : session.BeatSound);
    ++session.CurrentBeat;
}

// One minute of the automatic stop; the tenth after a start ends the session
// with the end sound, after the display has been cleared.
void Form1::tmrCountDown_Timer()
{
    Met::MetronomeSession &session = Met::Session;
    --session.MinutesLeft;
    if (session.MinutesLeft < 1) {
        setPropertyByName(*PushButton6, "Caption", kStartCaption);
        Met::StopTicking();
        Met::PlaySound(session.EndSound);
    }
}
