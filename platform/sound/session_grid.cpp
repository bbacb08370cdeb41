#include "sound/session_grid.h"

#include <cmath>
#include <cstdlib>

qint64 SessionGrid::place(const StreamClock &clock, qint64 dueNs, qint64 latencyNs, qint64 provisionalFrame)
{
    const qint64 clockFrame = clock.frameAt(dueNs + latencyNs);
    if (!m_started) {
        const qint64 frame = clockFrame != StreamClock::kAtOnce ? clockFrame : provisionalFrame;
        if (frame != StreamClock::kAtOnce) {
            m_started = true;
            m_firstDueNs = dueNs;
            m_firstFrame = frame;
            m_shiftKnown = clockFrame != StreamClock::kAtOnce;
        }
        return frame;
    }
    if (clockFrame == StreamClock::kAtOnce) {
        if (dueNs - m_firstDueNs > kBeforeAnchorNs)
            return provisionalFrame;
        // The clock's rate: the device's drift as the clock starts from it.
        const double framesPerNs = double(m_sampleRate) * (1.0 - clock.driftNsPerS() / 1e9) / 1e9;
        return m_firstFrame + std::llround(double(dueNs - m_firstDueNs) * framesPerNs);
    }
    if (!m_shiftKnown) {
        m_shiftKnown = true;
        m_shiftFrames = m_firstFrame - clock.frameAt(m_firstDueNs + latencyNs);
        if (std::abs(m_shiftFrames) * 1'000'000'000 > kMostShiftNs * m_sampleRate)
            m_shiftFrames = 0;
    }
    return clockFrame + m_shiftFrames;
}
