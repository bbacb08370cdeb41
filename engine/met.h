// Module Met: the metronome engine. It owns the one session record and the
// procedures that start, stop and end a ticking session, prepare and light
// the beat markers, and have a sound image played.
// The procedures work on the main window's controls, which the window binds
// with BindControls() before any of them runs; the engine never sees the
// window itself. Nothing here traps failures: a RuntimeError raised inside a
// procedure passes to the handler that called it.
#pragma once

#include "controls/control_array.h"
#include "controls/label.h"
#include "controls/shape.h"
#include "system/periodic_timer.h"

#include <QByteArray>
#include <QtGlobal>

#include <array>

class QAbstractButton;
class QLineEdit;

namespace Met {

struct MetronomeSession
{
    qint32 Tempo = 0;       // beats per minute of the session last started; never 0 after a start
    qint32 BeatsPerBar = 0; // 2 to 6
    qint32 CurrentBeat = 0; // 1-based beat the next tick sounds; may be BeatsPerBar + 1 between ticks
    bool IsTicking = false;
    qint32 MinutesLeft = 0; // whole minutes before the automatic stop
    QByteArray BeatSound;   // complete WAVE images, filled once at start-up
    QByteArray AccentSound;
    QByteArray EndSound;
};

// The process-wide session; only the UI thread touches it.
extern MetronomeSession Session;

// The controls of the main window the engine reads and writes.
struct Controls
{
    QLineEdit *Text1 = nullptr;                  // tempo text
    std::array<QAbstractButton *, 5> Options{};  // Option1..Option5: 2..6 beats per bar
    PeriodicTimer *tmrBeat = nullptr;
    PeriodicTimer *tmrCountDown = nullptr;
    Label *lblBeat = nullptr;
    const ControlArray<Shape> *shpBeat = nullptr; // beat markers 1..6
};

void BindControls(const Controls &controls);

// Starts a session from what the window shows now: tempo box, beats per bar.
void StartTicking();
// Stops the session; harmless when nothing ticks.
void StopTicking();
// Stops a ticking session, then ends the process at once.
void StopAndEnd();

// True: markers 1..BeatsPerBar shown, the rest hidden. False: all hidden.
void ShowBeatShapes(bool show);
// Solid lights a marker, Transparent unlights it.
void SetBeatShapeStyle(qint16 index, FillStyle style);
// Starts playing a WAVE image and returns at once; an empty or unplayable
// image plays nothing.
void PlaySound(const QByteArray &image);

} // namespace Met
