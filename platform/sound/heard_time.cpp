#include "sound/heard_time.h"

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

qint64 heardInNsFromGraphTime(const GraphTimeReport &report, int sampleRate, qint64 nowNs)
{
    if (report.rateNum <= 0 || report.rateDenom <= 0 || sampleRate <= 0)
        return -1;
    const qint64 ageNs = nowNs - report.atNs;
    if (ageNs < 0 || ageNs > kStalestGraphReportNs)
        return -1;
    // The last queued frame plays one frame before the first one queued next.
    const qint64 aheadFrames = report.queuedFrames + report.bufferedFrames - 1;
    const qint64 heardInNs = aheadFrames * 1'000'000'000 / sampleRate
        + report.delayTicks * report.rateNum * 1'000'000'000 / report.rateDenom - ageNs;
    return heardInNs >= 0 ? heardInNs : -1;
}
