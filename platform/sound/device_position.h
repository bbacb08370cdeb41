// What an output device or sound server reports of where it plays, turned
// into what the stream clock needs: how long after now the last frame handed
// over is heard, and how much to hand a device next. Pure arithmetic, built
// on every system so that its rules are tested everywhere; the Windows
// stream (sound_stream_wasapi.cpp) feeds it from IAudioClock and
// IAudioClient, the PipeWire stream (sound_stream_pipewire.cpp) from the
// stream's time report.
#pragma once

#include <QtGlobal>

// One reading of the device position: the stream position of the sample
// playing through the speakers, in units of which frequency make a second,
// read ageNs before now on the performance counter.
struct DevicePositionReading
{
    quint64 position = 0;
    quint64 frequency = 0;
    qint64 ageNs = 0;
    // False where the device said the reading took too long to be accurate (S_FALSE).
    bool accurate = false;
};

// A reading older than this tells nothing of now: the thread was held up.
inline constexpr qint64 kStalestPositionNs = 20'000'000;
// A device never holds more than this of what was handed to it.
inline constexpr qint64 kMostQueuedNs = 1'000'000'000;

// How long after now the last of framesWritten frames (at sampleRate) is
// heard; -1 where the reading is not to be trusted: not accurate, no
// frequency, read in the future or more than kStalestPositionNs ago, or a
// position past what was written or more than kMostQueuedNs behind it.
qint64 heardInNsFromPosition(const DevicePositionReading &reading, int sampleRate, qint64 framesWritten);

// How many frames to hand a device whose buffer of bufferFrames holds
// queuedFrames not yet played, so that it holds keepFrames (never more than fits).
int framesToHand(int bufferFrames, int queuedFrames, int keepFrames);

// One PipeWire stream time report (pw_time), read nowNs on the monotonic
// clock: at reportNs the graph's output took delayTicks (of graphRateNum /
// graphRateDenom seconds each; may be negative) to reach the device, and the
// stream held queuedFrames and its resampler bufferedFrames, at streamRate,
// not yet taken by the graph.
struct PipeWireTimeReport
{
    qint64 reportNs = 0;
    qint64 nowNs = 0;
    quint32 graphRateNum = 0;
    quint32 graphRateDenom = 0;
    qint64 delayTicks = 0;
    qint64 queuedFrames = 0;
    qint64 bufferedFrames = 0;
    int streamRate = 0;
};

// How long after nowNs the frame after the last one queued is heard; -1
// where the report is not to be trusted: no graph rate yet (before the first
// cycle), taken in the future or more than kStalestPositionNs before now, or
// a time that is negative or beyond kMostQueuedNs.
qint64 heardInNsFromReport(const PipeWireTimeReport &report);
