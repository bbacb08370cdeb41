// What an output device reports of where it plays, turned into what the
// stream clock needs: how long after now the last frame handed to the device
// is heard, and how much to hand it next. Pure arithmetic, built on every
// system so that its rules are tested everywhere; the Windows stream
// (sound_stream_wasapi.cpp) feeds it from IAudioClock and IAudioClient.
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
