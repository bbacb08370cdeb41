// Sound output: plays one WAVE image from memory without waiting, one sound
// at a time for the whole program, and stays silent, never a default sound,
// for an image it cannot play.
//
// Clicks land on an exact sample grid, and are heard a fixed time after the
// tick that asked for them. playWaveImage() is given the time the sound is
// due (the due time of the timer tick being handled, on monotonic_clock.h's
// clock); the sound starts at the output frame that is heard
// soundHeardDelayNs() after that time, through the stream's StreamClock.
// Two ticks of one timer k periods apart thus start exactly
// round(k x period x rate) frames apart, whatever the UI thread's wake-up
// jitter. On a stream that tells when a frame is heard, the clock follows
// what the server says is heard: another program's stream that changes the
// server's latency moves no click, and where the stream lost time (an
// underflow, Brisquet or the server held up) the clicks not yet played move
// by that time, so the session keeps its grid. A session's request more
// than kUiJitterNs plus some headroom after its due time is not played (a
// late tick is not caught up), nor is one while a stream that was held up
// has not yet said again where it is heard; both are counted. On SDL's
// output a request later than kUiJitterNs starts at once and is counted.
// A sound that starts cuts the one in progress at its own starting frame.
//
// The stream (sound_stream.h) is PipeWire's own where a PipeWire server
// plays sound, PulseAudio's own where a PulseAudio server answers, and on
// Windows the audio engine's (WASAPI): all say when a frame is heard. Otherwise SDL's audio output, whose last stretch
// of latency is an estimate. SDL_AUDIODRIVER set in the environment asks for
// SDL's, with that driver.
//
// The stream opens (holdSoundOutput(), when a session starts) before the
// first click is due, and closes once it is released and silent, so an idle
// Brisquet has no audio thread. Opening, starting and closing a stream wait
// on the server (seconds, where it is held up or still starting): a worker
// thread does them, and the UI thread never waits. Until the stream is
// open, nothing sounds; the last sound asked for meanwhile is placed when it
// opens, unless a session's click is too late by then. A stream that is
// lost (the server went away) is opened again at the next sound; while
// held, one that does not open is tried again every second, so the clicks
// come back when the server does, and a new hold tries at once. A session
// on SDL's output where the system's own stream is wanted tries for that
// every second too, and moves to it at a click with none scheduled ahead.
// A working stream of the system's costs no timer. Each distinct image is
// decoded once and kept, so a beat does no decoding. Tests observe requests
// by replacing the player with setSoundPlayHandler(), or the streams with
// setStreamOpener() (sound_stream.h), or drive WavePlayer and StreamClock
// directly.
#pragma once

#include <QByteArray>
#include <QtGlobal>

#include <functional>

// How late after its due time a request may come and still start on the
// grid: the UI thread's wake-up lateness under load.
inline constexpr qint64 kUiJitterNs = 17'000'000;

void playWaveImage(const QByteArray &image, qint64 dueNs);
// The real player, past the replaceable seam.
void playWaveImageOnDevice(const QByteArray &image, qint64 dueNs);

using SoundPlayHandler = std::function<void(const QByteArray &image, qint64 dueNs)>;

// Returns the handler it replaces; an empty handler restores the real player.
SoundPlayHandler setSoundPlayHandler(SoundPlayHandler handler);

// A session is about to make sounds: open the stream now, so that its clock
// is anchored before the first click is due. Releasing lets it close once
// nothing sounds.
void holdSoundOutput();
void releaseSoundOutput();

// A session stops: the sounds that were asked for but not heard yet are
// dropped, those placed ahead in the server's buffer too (where the stream
// can take them back); a sound already heard plays out.
void dropUnheardSounds();

// How long after its due time a sound is heard: 0 while no stream is open.
qint64 soundHeardDelayNs();

// Opening: the worker is opening a stream. Unavailable: none opened; asked
// again at the next hold, or every second while held.
enum class SoundOutputState { NotOpened, Opening, Open, Unavailable };
SoundOutputState soundOutputState();

struct SoundOutputCounts
{
    int lateStarts = 0; // requests whose frame was already rendered: started at once
    int reanchors = 0;  // the stream lost time (an underrun) and the clock was anchored anew
    int droppedStarts = 0; // also a session's requests that came too late to be on its grid
    int reopens = 0;    // streams opened again after one was lost, this run
};
// Since the stream last opened (reopens: since the program started).
SoundOutputCounts soundOutputCounts();

// The stream's last report of its timing: at atNs the stream had taken
// frames up to frame, which is heard heardInNs later (-1: not known). For
// benchmarks that log what the server said around an event.
struct SoundOutputReport
{
    qint64 atNs = 0;
    qint64 frame = 0;
    qint64 heardInNs = -1;
};
SoundOutputReport soundOutputLastReport();
