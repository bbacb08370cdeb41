// Form1's handlers of a ticking session: the Start/Stop toggle, the beat step
// and the minute count-down. Each reads as its step list; the work of starting
// and stopping lives in the engine (met.h).
#include "form1.h"

#include "dispatch.h"
#include "error_report.h"
#include "met.h"

#include <QLabel>

namespace {

const QString &clickLocation()
{
    static const QString location =
        QStringLiteral("in Brisquet2021/08/31.Form1.PushButton6_Click ");
    return location;
}

const QString kStartCaption = QStringLiteral("Start Ticking");
const QString kStopCaption = QStringLiteral("Stop Ticking");

} // namespace

// The caption is the toggle's state. It is switched before the session is
// started or stopped, so a start that fails leaves "Stop Ticking" showing and
// the next click takes the stop path, which restores the idle state.
void Form1::PushButton6_Click()
{
    const QString &at = clickLocation();
    bool starting = true; // a caption that cannot be read goes on as a start
    runLine(at, 100, [&] {
        starting = propertyByName(*PushButton6, "Caption").toString() == kStartCaption;
    });
    if (starting) {
        runLine(at, 102, [&] { setPropertyByName(*PushButton6, "Caption", kStopCaption); });
        runLine(at, 104, [] { Met::StartTicking(); });
    } else {
        runLine(at, 108, [&] { setPropertyByName(*PushButton6, "Caption", kStartCaption); });
        runLine(at, 110, [] { Met::StopTicking(); });
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
