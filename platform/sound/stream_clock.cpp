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
        return;
    }
    if (nowNs - m_steadySinceNs < kSettleNs)
        return;
    if (frameZeroNs < m_phaseNs) {
        m_phaseNs = frameZeroNs;
        m_phaseAtNs = nowNs;
    }
    if (nowNs - m_steadySinceNs < kSettleNs + kWarmUpNs)
        return;
    m_anchored = true;
    anchor(m_phaseNs, m_phaseAtNs);
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
    m_lateBlocks = 0;
}

qint64 StreamClock::frameZeroAt(qint64 timeNs) const
{
    return m_phaseNs + std::llround(double(timeNs - m_phaseAtNs) * m_driftNsPerS / kNsPerSecond);
}

void StreamClock::noteRendered(qint64 nowNs, qint64 renderedEnd)
{
    const qint64 frameZeroNs = timeOfFrameZero(nowNs, renderedEnd);
    if (!m_anchored) {
        warmUp(nowNs, renderedEnd, frameZeroNs);
        return;
    }
    if (frameZeroNs < m_blockEarliestNs) {
        m_blockEarliestNs = frameZeroNs;
        m_blockEarliestAtNs = nowNs;
    }
    // Far ahead of the relation: frames would be rendered before their clicks are placed.
    if (frameZeroNs < frameZeroAt(nowNs) - kFarAheadNs) {
        anchor(frameZeroNs, nowNs);
        ++m_reanchors;
        return;
    }
    if (nowNs - m_blockStartNs < kBlockNs)
        return;
    const qint64 offNs = m_blockEarliestNs - frameZeroAt(m_blockEarliestAtNs);
    // Lost time shows in every callback from then on; a starved audio thread
    // only in those of a block or so.
    m_lateBlocks = offNs >= kLostTimeNs ? m_lateBlocks + 1 : 0;
    if (m_lateBlocks >= 2) {
        anchor(m_blockEarliestNs, m_blockEarliestAtNs);
        ++m_reanchors;
        return;
    }
    if (m_lateBlocks == 0)
        follow(nowNs);
    m_blockStartNs = nowNs;
    m_blockEarliestNs = std::numeric_limits<qint64>::max();
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

qint64 StreamClock::frameAt(qint64 timeNs) const
{
    if (!m_anchored)
        return kAtOnce;
    const qint64 scaled = (timeNs - frameZeroAt(timeNs)) * m_sampleRate;
    // Rounded to the nearest frame, halves up, for times before frame zero too.
    const qint64 half = kNsPerSecond / 2;
    return scaled >= 0 ? (scaled + half) / kNsPerSecond : -((-scaled + half - 1) / kNsPerSecond);
}
