#include "sound/device_position.h"

#include <algorithm>

qint64 heardInNsFromPosition(const DevicePositionReading &reading, int sampleRate, qint64 framesWritten)
{
    if (!reading.accurate || reading.frequency == 0 || sampleRate <= 0)
        return -1;
    if (reading.ageNs < 0 || reading.ageNs > kStalestPositionNs)
        return -1;
    // The position in frames, rounded down: a frame is heard once it has begun.
    const qint64 seconds = qint64(reading.position / reading.frequency);
    const qint64 remainder = qint64(reading.position % reading.frequency);
    const qint64 playingFrame = seconds * sampleRate + remainder * sampleRate / qint64(reading.frequency);
    const qint64 queuedFrames = framesWritten - playingFrame;
    if (queuedFrames < 0 || queuedFrames * 1'000'000'000 / sampleRate > kMostQueuedNs)
        return -1;
    return queuedFrames * 1'000'000'000 / sampleRate - reading.ageNs;
}

int framesToHand(int bufferFrames, int queuedFrames, int keepFrames)
{
    const int room = bufferFrames - queuedFrames;
    return std::clamp(keepFrames - queuedFrames, 0, std::max(room, 0));
}
