// StreamClock: which output frame is due at a given time on
// monotonic_clock.h's clock, learned from the audio thread's reports of what
// it has rendered (or what is being heard) when. Pure arithmetic: no device,
// no thread, no allocation, so tests drive it with made-up callbacks.
#pragma once

#include <QtGlobal>

#include <cstdlib>
#include <limits>

// The relation between the monotonic clock and the output stream's frame
// counter: which stream frame is due at a given time (the device's own,
// constant latency aside). It is fed from the audio thread after each
// callback: a callback that ran at now and has rendered frames up to
// renderedEnd says frame 0 was due at now - renderedEnd / rate, or later.
// (A stream that knows what is heard passes the frame heard at now instead:
// the relation is then the one of what is heard.)
//  - It anchors once the callbacks have come steadily for kSettleNs +
//    kWarmUpNs (a sound server may hold a new stream back for a second, then
//    fill its buffer in a burst, or take its first frames slower than they
//    play), on the earliest callback after the first kSettleNs of that.
//  - Callbacks come late and in bursts by a few milliseconds, so only the
//    earliest callback of each half-second block counts. A device's clock
//    runs apart from the monotonic clock (PulseAudio's null sink by 150 to
//    600 ppm, sound cards by tens): once the blocks span kFitSpanS, the
//    relation drifts at the rate a straight-line fit through them gives
//    (until then, at the rate the device's previous stream measured), so
//    clicks stay with the ticks, their spacing changing smoothly by that
//    rate. Its phase follows the fit only where that lies more than
//    kDeadBandNs away, by at most kSlewNsPerBlock (under a frame per
//    interval even at 30 bpm).
//  - Two blocks in a row whose earliest callbacks are kLostTimeNs or more
//    late mean the stream lost that much time (an underrun): it is anchored
//    anew, so one glitch does not shift every later click. A single late
//    block is a starved audio thread and changes nothing.
//  - A callback more than kFarAheadNs early means frames would be rendered
//    before their clicks are placed: it is anchored anew at once.
//  - After anchoring anew the drift stays, and the fit starts again.
// Fed with what is heard (ClockReports::Heard: the server's own account of
// where each frame sounds), the relation moves only where the stream really
// lost or skipped time, not when the server's latency changes or a callback
// is late:
//  - Every report counts, early ones as much as late ones: a block is its
//    reports' mean, and so is the anchor of a warm-up.
//  - kOffReports reports in a row kLostTimeNs or more off, the same way and
//    within kAgreeNs of each other, anchor it anew at once, moved by their
//    mean: the server has said so, there is nothing to wait for.
//  - Smaller steps of the server's account are taken out (kStepNs).
//  - The far-ahead and late-block rules are for callback timing only.
enum class ClockReports { Rendered, Heard };

class StreamClock
{
public:
    static constexpr qint64 kAtOnce = std::numeric_limits<qint64>::min();
    static constexpr qint64 kSettleNs = 50'000'000;
    static constexpr qint64 kWarmUpNs = 50'000'000;
    static constexpr qint64 kBlockNs = 500'000'000;
    // The first fit: over 5 s the blocks' earliest callbacks (PulseAudio:
    // within 0.3 ms of each other) give the rate within about 30 ppm.
    static constexpr double kFitSpanS = 5.0;
    static constexpr double kMostDriftNsPerS = 2'000'000.0; // 2000 ppm: beyond that, a broken clock
    static constexpr qint64 kDeadBandNs = 4'000'000;
    static constexpr qint64 kSlewNsPerBlock = 5'000;
    static constexpr qint64 kLostTimeNs = 10'000'000;
    // Warming up: kSlowCallbacks callbacks in a row, each kSlowByNs or more
    // later than their frames say, are a stream slower than real time.
    static constexpr qint64 kSlowByNs = 1'000'000;
    static constexpr int kSlowCallbacks = 3;
    // The schedule latency, less a device buffer and the UI thread's wake-up jitter.
    static constexpr qint64 kFarAheadNs = 10'000'000;
    // Heard reports: one report off is a report taken at a bad moment; two are the stream.
    static constexpr int kOffReports = 2;
    // ... and they agree within this on how far it moved.
    static constexpr qint64 kAgreeNs = 2'000'000;
    // Heard reports: two blocks in a row more than this off the relation,
    // and agreeing, but short of lost time, are the server's account of its
    // latency that changed (PipeWire's, by a 256-frame cycle, when another
    // stream changes the graph's cycle), not frames heard at another time:
    // later reports are taken less that, and the rate fit starts again, the
    // phase unmoved.
    static constexpr qint64 kStepNs = 3'000'000;

    // driftNsPerS: the device's drift as measured before, 0 if unknown.
    explicit StreamClock(int sampleRate, double driftNsPerS = 0, ClockReports reports = ClockReports::Rendered)
        : m_sampleRate(sampleRate), m_driftNsPerS(driftNsPerS), m_reports(reports)
    {
    }

    // frame: the end of what was rendered at nowNs, or (Heard) the frame heard at nowNs.
    // Returns how far this report moved an anchored relation, in ns
    // (positive: the stream's frames now sound later, the time it lost), 0
    // where it did not anchor it anew.
    qint64 noteRendered(qint64 nowNs, qint64 frame);
    // kAtOnce until anchored.
    qint64 frameAt(qint64 timeNs) const;
    // Whether a report (as noteRendered() takes it) lies within kLostTimeNs of the relation.
    bool agrees(qint64 nowNs, qint64 frame) const;
    bool isAnchored() const { return m_anchored; }
    int reanchors() const { return m_reanchors; }
    // How far the frame-zero time moves per second (negative: the device runs fast).
    double driftNsPerS() const { return m_driftNsPerS; }

private:
    // Offsets in a row off the relation the same way (direction +1 later,
    // -1 earlier, 0 not off), each within kAgreeNs of the one before.
    struct AgreeingRun
    {
        int count = 0;
        int direction = 0;
        qint64 lastNs = 0;
        qint64 sumNs = 0;
        // Takes one offset; returns how many agree so far.
        int take(qint64 offNs, int offDirection)
        {
            if (offDirection == 0 || offDirection != direction || std::abs(offNs - lastNs) > kAgreeNs) {
                count = 0;
                sumNs = 0;
            }
            direction = offDirection;
            lastNs = offNs;
            if (offDirection != 0) {
                ++count;
                sumNs += offNs;
            }
            return count;
        }
        qint64 meanNs() const { return sumNs / count; }
    };

    // Sums for the straight-line fit through the blocks' earliest callbacks.
    struct Fit
    {
        qint64 originNs = 0;
        qint64 originFrameZeroNs = 0;
        double blocks = 0, sumT = 0, sumE = 0, sumTT = 0, sumTE = 0; // t in s, e in ns
    };

    qint64 timeOfFrameZero(qint64 nowNs, qint64 renderedEnd) const;
    void warmUp(qint64 nowNs, qint64 renderedEnd, qint64 frameZeroNs);
    // One report into the warm-up's anchor or a block since sinceNs: its
    // frame-zero time valueNs, as seen at atNs.
    void takeReport(qint64 sinceNs, qint64 nowNs, qint64 frameZeroNs, qint64 &valueNs, qint64 &atNs);
    void anchor(qint64 frameZeroNs, qint64 atNs);
    void follow(qint64 nowNs);
    bool absorbedStep(qint64 offNs, qint64 nowNs);
    qint64 frameZeroAt(qint64 timeNs) const;

    qint64 m_sampleRate;
    bool m_anchored = false;
    // The relation: frame 0 was due at m_phaseNs as seen at m_phaseAtNs, moving by the drift.
    qint64 m_phaseNs = std::numeric_limits<qint64>::max();
    qint64 m_phaseAtNs = 0;
    double m_driftNsPerS;
    Fit m_fit;
    // Warming up: since when callbacks have come steadily, the last one's
    // frame-zero time, and how many callbacks in a row each came later than
    // the one before said they would.
    qint64 m_steadySinceNs = 0;
    qint64 m_lastFrameZeroNs = 0;
    int m_slowCallbacks = 0;
    qint64 m_lastCallbackNs = 0;
    qint64 m_lastRenderedEnd = 0;
    // Anchored: the block of callbacks under way.
    qint64 m_blockStartNs = 0;
    qint64 m_blockEarliestNs = 0;
    qint64 m_blockEarliestAtNs = 0;
    // Heard reports: the block's sums, from m_blockStartNs, for its mean.
    double m_blockSumNs = 0, m_blockSumAtNs = 0;
    int m_blockReports = 0;
    int m_lateBlocks = 0; // in a row, kLostTimeNs or more late
    int m_reanchors = 0;
    ClockReports m_reports;
    // Heard reports: the reports in a row kLostTimeNs or more off the
    // relation, the blocks in a row off by a step, and the steps taken out of
    // later reports so far.
    AgreeingRun m_offReports;
    AgreeingRun m_stepBlocks;
    qint64 m_reportOffsetNs = 0;
};
