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

qint64 heardInNsFromReport(const PipeWireTimeReport &report)
{
    if (report.graphRateNum == 0 || report.graphRateDenom == 0 || report.streamRate <= 0)
        return -1;
    const qint64 ageNs = report.nowNs - report.reportNs;
    if (ageNs < 0 || ageNs > kStalestPositionNs)
        return -1;
    const qint64 delayNs = report.delayTicks * qint64(report.graphRateNum) * 1'000'000'000 / report.graphRateDenom;
    const qint64 aheadNs = (report.queuedFrames + report.bufferedFrames) * 1'000'000'000 / report.streamRate;
    const qint64 heardInNs = aheadNs + delayNs - ageNs;
    if (heardInNs < 0 || heardInNs > kMostQueuedNs)
        return -1;
    return heardInNs;
}
