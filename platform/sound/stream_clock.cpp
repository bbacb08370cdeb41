#include "sound/stream_clock.h"

#include <algorithm>
#include <cmath>

namespace {
constexpr qint64 kNsPerSecond = 1'000'000'000;
}

qint64 StreamClock::timeOfFrameZero(qint64 nowNs, qint64 renderedEnd) const
{
    return nowNs - renderedEnd * kNsPerSecond / m_sampleRate;
}

void StreamClock::warmUp(qint64 nowNs, qint64 renderedEnd, qint64 frameZeroNs)
{
    // Steady: no longer after the previous callback than twice what it
    // rendered lasts, and keeping pace with the clock: a stream whose frame
    // zero comes later at kSlowCallbacks callbacks in a row takes its frames
    // slower than they play, as a stream that is still starting may (one
    // late callback, as after a server held a new stream back, is not that).
    const qint64 renderedNs = (renderedEnd - m_lastRenderedEnd) * kNsPerSecond / m_sampleRate;
    m_slowCallbacks = m_lastCallbackNs != 0 && frameZeroNs - m_lastFrameZeroNs > kSlowByNs ? m_slowCallbacks + 1 : 0;
    const bool steady = m_lastCallbackNs != 0 && nowNs - m_lastCallbackNs <= 2 * renderedNs
        && m_slowCallbacks < kSlowCallbacks;
    m_lastCallbackNs = nowNs;
    m_lastRenderedEnd = renderedEnd;
    m_lastFrameZeroNs = frameZeroNs;
    if (!steady) {
        m_steadySinceNs = nowNs;
        m_phaseNs = std::numeric_limits<qint64>::max();
        m_blockSumNs = m_blockSumAtNs = 0;
        m_blockReports = 0;
        return;
    }
    if (nowNs - m_steadySinceNs < kSettleNs)
        return;
    // The anchor: as for a block, over the reports since the stream settled.
    takeReport(m_steadySinceNs, nowNs, frameZeroNs, m_phaseNs, m_phaseAtNs);
    if (nowNs - m_steadySinceNs < kSettleNs + kWarmUpNs)
        return;
    m_anchored = true;
    anchor(m_phaseNs, m_phaseAtNs);
}

void StreamClock::takeReport(qint64 sinceNs, qint64 nowNs, qint64 frameZeroNs, qint64 &valueNs, qint64 &atNs)
{
    if (m_reports == ClockReports::Heard) {
        // Heard reports scatter either way: their mean stands for them.
        m_blockSumNs += double(frameZeroNs - sinceNs);
        m_blockSumAtNs += double(nowNs - sinceNs);
        ++m_blockReports;
        valueNs = sinceNs + std::llround(m_blockSumNs / m_blockReports);
        atNs = sinceNs + std::llround(m_blockSumAtNs / m_blockReports);
    } else if (frameZeroNs < valueNs) {
        // Callbacks only ever come late: the earliest stands for them.
        valueNs = frameZeroNs;
        atNs = nowNs;
    }
}

void StreamClock::anchor(qint64 frameZeroNs, qint64 atNs)
{
    m_phaseNs = frameZeroNs;
    m_phaseAtNs = atNs;
    m_fit = {};
    m_fit.originNs = atNs;
    m_fit.originFrameZeroNs = frameZeroNs;
    m_blockStartNs = atNs;
    m_blockEarliestNs = std::numeric_limits<qint64>::max();
    m_blockSumNs = m_blockSumAtNs = 0;
    m_blockReports = 0;
    m_lateBlocks = 0;
}

qint64 StreamClock::frameZeroAt(qint64 timeNs) const
{
    return m_phaseNs + std::llround(double(timeNs - m_phaseAtNs) * m_driftNsPerS / kNsPerSecond);
}

qint64 StreamClock::noteRendered(qint64 nowNs, qint64 renderedEnd)
{
    const qint64 frameZeroNs = timeOfFrameZero(nowNs, renderedEnd) - m_reportOffsetNs;
    if (!m_anchored) {
        warmUp(nowNs, renderedEnd, frameZeroNs);
        return 0;
    }
    if (m_reports == ClockReports::Heard) {
        const qint64 offNs = frameZeroNs - frameZeroAt(nowNs);
        const int direction = offNs >= kLostTimeNs ? 1 : offNs <= -kLostTimeNs ? -1 : 0;
        // Off reports that agree: a stream still refilling after an underrun
        // reports a move that grows from one report to the next.
        if (m_offReports.take(offNs, direction) >= kOffReports) {
            // Moved by what the reports agree on: one report alone is off by its own rounding.
            const qint64 movedNs = m_offReports.meanNs();
            anchor(frameZeroAt(nowNs) + movedNs, nowNs);
            m_offReports = {};
            ++m_reanchors;
            return movedNs;
        }
        if (direction != 0)
            return 0; // not part of the fit until it is the stream's
    }
    takeReport(m_blockStartNs, nowNs, frameZeroNs, m_blockEarliestNs, m_blockEarliestAtNs);
    // Far ahead of the relation: frames would be rendered before their clicks are placed.
    if (m_reports == ClockReports::Rendered && frameZeroNs < frameZeroAt(nowNs) - kFarAheadNs) {
        const qint64 movedNs = frameZeroNs - frameZeroAt(nowNs);
        anchor(frameZeroNs, nowNs);
        ++m_reanchors;
        return movedNs;
    }
    if (nowNs - m_blockStartNs < kBlockNs)
        return 0;
    const qint64 offNs = m_blockEarliestNs - frameZeroAt(m_blockEarliestAtNs);
    // Lost time shows in every callback from then on; a starved audio thread
    // only in those of a block or so.
    m_lateBlocks = m_reports == ClockReports::Rendered && offNs >= kLostTimeNs ? m_lateBlocks + 1 : 0;
    if (m_lateBlocks >= 2) {
        anchor(m_blockEarliestNs, m_blockEarliestAtNs);
        ++m_reanchors;
        return offNs;
    }
    if (m_reports == ClockReports::Heard && absorbedStep(offNs, nowNs)) {
        // The fit starts again from here, the phase stays.
    } else if (m_lateBlocks == 0 && m_stepBlocks.count == 0) {
        follow(nowNs);
    }
    m_blockStartNs = nowNs;
    m_blockEarliestNs = std::numeric_limits<qint64>::max();
    m_blockSumNs = m_blockSumAtNs = 0;
    m_blockReports = 0;
    return 0;
}

bool StreamClock::absorbedStep(qint64 offNs, qint64 nowNs)
{
    const int direction = offNs > kStepNs ? 1 : offNs < -kStepNs ? -1 : 0;
    if (m_stepBlocks.take(offNs, direction) < 2)
        return false;
    m_reportOffsetNs += m_stepBlocks.meanNs();
    m_stepBlocks = {};
    m_fit = {};
    m_fit.originNs = nowNs;
    m_fit.originFrameZeroNs = frameZeroAt(nowNs);
    return true;
}

void StreamClock::follow(qint64 nowNs)
{
    const double t = double(m_blockEarliestAtNs - m_fit.originNs) / kNsPerSecond;
    const double e = double(m_blockEarliestNs - m_fit.originFrameZeroNs);
    m_fit.blocks += 1;
    m_fit.sumT += t;
    m_fit.sumE += e;
    m_fit.sumTT += t * t;
    m_fit.sumTE += t * e;
    const double spanS = double(nowNs - m_fit.originNs) / kNsPerSecond;
    if (spanS < kFitSpanS)
        return;
    const double n = m_fit.blocks;
    const double meanT = m_fit.sumT / n, meanE = m_fit.sumE / n;
    const double slope = (m_fit.sumTE - n * meanT * meanE) / (m_fit.sumTT - n * meanT * meanT);
    // The drift changes from now on; the frames already placed stay where they are.
    m_phaseNs = frameZeroAt(nowNs);
    m_phaseAtNs = nowNs;
    m_driftNsPerS = std::clamp(slope, -kMostDriftNsPerS, kMostDriftNsPerS);
    const double tNow = double(nowNs - m_fit.originNs) / kNsPerSecond;
    const qint64 fittedNs = m_fit.originFrameZeroNs + std::llround(meanE + slope * (tNow - meanT));
    const qint64 offNs = fittedNs - m_phaseNs;
    if (offNs > kDeadBandNs)
        m_phaseNs += std::min(offNs - kDeadBandNs, kSlewNsPerBlock);
    else if (offNs < -kDeadBandNs)
        m_phaseNs -= std::min(-offNs - kDeadBandNs, kSlewNsPerBlock);
}

bool StreamClock::agrees(qint64 nowNs, qint64 frame) const
{
    return m_anchored && std::abs(timeOfFrameZero(nowNs, frame) - m_reportOffsetNs - frameZeroAt(nowNs)) < kLostTimeNs;
}

qint64 StreamClock::frameAt(qint64 timeNs) const
{
    if (!m_anchored)
        return kAtOnce;
    const qint64 scaled = (timeNs - frameZeroAt(timeNs)) * m_sampleRate;
    // Rounded to the nearest frame, halves up, for times before frame zero too.
    const qint64 half = kNsPerSecond / 2;
    return scaled >= 0 ? (scaled + half) / kNsPerSecond : -((-scaled + half - 1) / kNsPerSecond);
}
