// One open output stream, on a sound server or an audio device, and the
// ways Brisquet opens one: PipeWire's own client API, PulseAudio's (also
// PipeWire's PulseAudio server) and Windows's audio engine (WASAPI), which
// tell when a frame is heard, and SDL's audio output (the fallback on both), which tells
// only when a frame was rendered.
//
// A stream pulls its output from a StreamFeed on its own thread and then
// reports the frame that goes with the moment it was called; the feed takes
// the UI thread's requests without a lock, so that thread never holds up
// the stream's. A stream that can take back what it wrote (PulseAudio's,
// whose client library calls back with its loop's lock held) also writes
// output again when asked, from the UI thread, with its lock held. A stream is opened, started and
// destroyed on the sound output's worker thread, one job at a time there,
// so these may wait on the server; its other calls come from the UI thread
// and must not. It does not schedule, decode or decide anything: that is
// sound_output.cpp's.
#pragma once

#include "sound/wave_image.h"

#include <QtGlobal>

#include <functional>
#include <memory>

class StreamFeed
{
public:
    // Interleaved float output for frames frames. Must not allocate, lock or block.
    virtual void render(float *out, int frames) = 0;
    // Output already rendered, from fromFrame on, as it should sound now.
    virtual void renderAgain(float *out, qint64 fromFrame, int frames) = 0;
    // After render: at nowNs (monotonic_clock.h) the stream had taken
    // output up to frame, which is heard heardInNs later (-1: not known).
    virtual void noteTiming(qint64 nowNs, qint64 frame, qint64 heardInNs) = 0;

protected:
    ~StreamFeed() = default;
};

class SoundStream
{
public:
    // Stops the stream and lets go of the device or server; no callback runs after.
    virtual ~SoundStream() = default;

    virtual OutputFormat format() const = 0;
    // Starts pulling from the feed. Before this, nothing is called.
    virtual void start() = 0;
    // A stream that can write again: keeps the feed's render() and
    // noteTiming() from running meanwhile. Others have nothing to lock.
    virtual void lock() = 0;
    virtual void unlock() = 0;
    // The server went away or the device was lost: the stream plays nothing more.
    virtual bool isLost() const = 0;

    // Whether noteTiming() gives the time a frame is heard (from the server's
    // or device's own account), rather than only when it was rendered.
    virtual bool tellsHeardTime() const = 0;
    // What the device adds after a frame is taken, where the stream cannot
    // report it (heardInNs -1) or before its reports can be used: an estimate.
    virtual qint64 estimatedHeardInNs() const = 0;
    // How far after the time noteTiming() gives a frame a sound must be
    // placed to start on its frame: beyond what the stream has already
    // taken, or, for one that can write its output again, beyond what the
    // server has already read (negative: inside what it was given).
    virtual qint64 leadNs() const = 0;

    // Whether rewriteFrom() can take back output the stream has taken.
    virtual bool canRewrite() const = 0;
    // With the lock held: writes the output from frame up to what the stream
    // has taken again, as the feed's renderAgain() has it now.
    virtual void rewriteFrom(qint64 frame) = 0;
    // With the lock held: the first frame rewriteFrom() can surely still
    // place a sound at, for a sound due before the stream's timing is known.
    virtual qint64 firstRewritableFrame() const = 0;
};

// nullptr when there is no PipeWire server, or one with no audio sink.
std::unique_ptr<SoundStream> openPipeWireStream(StreamFeed &feed, const char *appName);
// nullptr when there is no PulseAudio server to talk to (or none answers in time).
std::unique_ptr<SoundStream> openPulseStream(StreamFeed &feed, const char *appName);
// nullptr when Windows has no default output device (or its audio service does not answer).
std::unique_ptr<SoundStream> openWasapiStream(StreamFeed &feed);
// nullptr when SDL finds no audio device.
std::unique_ptr<SoundStream> openSdlStream(StreamFeed &feed, const char *appName);

// Which stream the sound output asks for: the best that opens (SDL's where
// the system's own does not), or only the system's own (a session on SDL's
// tries for it again).
enum class StreamChoice { Best, OwnOnly };
// How the sound output opens a stream, on its worker thread (nullptr: none
// opened). Tests replace it, while no stream is open or opening, to open
// streams of their own or to hold the opening up as a server would; an
// empty opener restores the real one. With one installed, a stream that
// cannot tell when a frame is heard counts as SDL's fallback.
using StreamOpener = std::function<std::unique_ptr<SoundStream>(StreamFeed &feed, StreamChoice choice)>;
void setStreamOpener(StreamOpener opener);
