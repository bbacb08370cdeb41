// SessionGrid: which output frame each sound of a session starts on, so that
// every interval, the first included, is exact to the frame. Pure arithmetic
// on a StreamClock: no device, no thread, no allocation; UI thread.
//
// The session's first sound goes where the stream's clock places it or, while
// the clock is not anchored yet (a stream that has just started), where the
// stream's last report places it: that is the caller's. Every later sound
// goes whole periods of frames after it: at the clock's rate while the clock
// is not anchored, then where the clock places it, moved by how far the
// clock would have placed the first sound from where it went. The session
// then sounds that much later (or earlier) throughout, and its lights with
// it (shiftNs()). A first sound that went more than kMostShiftNs off (the
// server held the stream back when it was placed) keeps its own place
// instead: the session stays on time, its first interval is what it is.
#pragma once

#include "sound/stream_clock.h"

#include <QtGlobal>

class SessionGrid
{
public:
    // Later sounds follow the first at the clock's rate for at most this
    // long while the clock is not anchored (a stream that runs steadily
    // anchors it within a quarter of a second); then each goes by the
    // stream's report again.
    static constexpr qint64 kBeforeAnchorNs = 1'000'000'000;
    static constexpr qint64 kMostShiftNs = 30'000'000;

    explicit SessionGrid(int sampleRate = 44100) : m_sampleRate(sampleRate) {}

    // A new session, or a new stream (whose frames count from 0 again).
    void reset() { *this = SessionGrid(m_sampleRate); }

    // The frame a sound due at dueNs starts on: the clock places it at its
    // frame for dueNs + latencyNs; provisionalFrame is where it goes while
    // the clock is not anchored (StreamClock::kAtOnce: at once, off the grid).
    qint64 place(const StreamClock &clock, qint64 dueNs, qint64 latencyNs, qint64 provisionalFrame);

    // How much later than the clock's own placement the session sounds; 0
    // until the clock has anchored.
    qint64 shiftNs() const { return m_shiftKnown ? m_shiftFrames * 1'000'000'000 / m_sampleRate : 0; }

private:
    int m_sampleRate;
    bool m_started = false;
    qint64 m_firstDueNs = 0;
    qint64 m_firstFrame = 0;
    bool m_shiftKnown = false;
    qint64 m_shiftFrames = 0;
};
