// Sound output on SDL's audio device: plays one WAVE image from memory
// without waiting, one sound at a time for the whole program, and stays
// silent, never a default sound, for an image it cannot play.
//
// Clicks land on an exact sample grid. playWaveImage() is given the time the
// sound is due (the due time of the timer tick being handled, on
// monotonic_clock.h's clock); the player starts it at the output frame that
// plays kScheduleLatencyNs after that time, through a relation between the
// clock and the stream's frame counter (StreamClock) that is anchored when
// the device opens. Two ticks of one timer k periods apart thus start exactly
// round(k x period x rate) frames apart, whatever the UI thread's wake-up
// jitter, as long as a request comes less than the latency after its due
// time; a later one starts at once and is counted. A sound that starts cuts
// the one in progress at its own starting frame.
//
// The device opens (holdSoundOutput(), when a session starts) before the
// first click is due, and closes once it is released and silent, so an idle
// Brisquet has no audio thread. Without a device Brisquet stays silent and
// does not ask again. Each distinct image is decoded once and kept, so a
// beat does no decoding. Tests observe requests by replacing the player with
// setSoundPlayHandler(), or drive WavePlayer and StreamClock directly.
#pragma once

#include "wave_image.h"

#include <QByteArray>
#include <QtGlobal>

#include <array>
#include <cstdint>
#include <functional>
#include <limits>
#include <memory>
#include <optional>
#include <vector>

// How long after its due time a sound starts: long enough for the UI
// thread's lateness under load, short enough that the click never trails
// the lit marker perceptibly.
inline constexpr qint64 kScheduleLatencyNs = 40'000'000;

void playWaveImage(const QByteArray &image, qint64 dueNs);
// The real player, past the replaceable seam.
void playWaveImageOnDevice(const QByteArray &image, qint64 dueNs);

using SoundPlayHandler = std::function<void(const QByteArray &image, qint64 dueNs)>;

// Returns the handler it replaces; an empty handler restores the real player.
SoundPlayHandler setSoundPlayHandler(SoundPlayHandler handler);

// A session is about to make sounds: open the device now, so that its clock
// is anchored before the first click is due. Releasing lets the device close
// once nothing sounds.
void holdSoundOutput();
void releaseSoundOutput();

enum class SoundOutputState { NotOpened, Open, Unavailable };
SoundOutputState soundOutputState();

struct SoundOutputCounts
{
    int lateStarts = 0; // requests whose frame was already rendered: started at once
    int reanchors = 0;  // the stream lost time (an underrun) and the clock was anchored anew
    int droppedStarts = 0;
};
// Since the device last opened.
SoundOutputCounts soundOutputCounts();

// The relation between the monotonic clock and the output stream's frame
// counter: which stream frame is due at a given time (the device's own,
// constant latency aside). It is fed from the audio thread after each
// callback: a callback that ran at now and has rendered frames up to
// renderedEnd says frame 0 was due at now - renderedEnd / rate, or later.
//  - It anchors once the callbacks have come steadily for kSettleNs +
//    kWarmUpNs (a sound server may hold a new stream back for a second, then
//    fill its buffer in a burst), on the earliest callback after the first
//    kSettleNs of that.
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
    // The schedule latency, less a device buffer and the UI thread's wake-up jitter.
    static constexpr qint64 kFarAheadNs = 10'000'000;

    // driftNsPerS: the device's drift as measured before, 0 if unknown.
    explicit StreamClock(int sampleRate, double driftNsPerS = 0)
        : m_sampleRate(sampleRate), m_driftNsPerS(driftNsPerS)
    {
    }

    void noteRendered(qint64 nowNs, qint64 renderedEnd);
    // kAtOnce until anchored.
    qint64 frameAt(qint64 timeNs) const;
    bool isAnchored() const { return m_anchored; }
    int reanchors() const { return m_reanchors; }
    // How far the frame-zero time moves per second (negative: the device runs fast).
    double driftNsPerS() const { return m_driftNsPerS; }

private:
    // Sums for the straight-line fit through the blocks' earliest callbacks.
    struct Fit
    {
        qint64 originNs = 0;
        qint64 originFrameZeroNs = 0;
        double blocks = 0, sumT = 0, sumE = 0, sumTT = 0, sumTE = 0; // t in s, e in ns
    };

    qint64 timeOfFrameZero(qint64 nowNs, qint64 renderedEnd) const;
    void warmUp(qint64 nowNs, qint64 renderedEnd, qint64 frameZeroNs);
    void anchor(qint64 frameZeroNs, qint64 atNs);
    void follow(qint64 nowNs);
    qint64 frameZeroAt(qint64 timeNs) const;

    qint64 m_sampleRate;
    bool m_anchored = false;
    // The relation: frame 0 was due at m_phaseNs as seen at m_phaseAtNs, moving by the drift.
    qint64 m_phaseNs = std::numeric_limits<qint64>::max();
    qint64 m_phaseAtNs = 0;
    double m_driftNsPerS;
    Fit m_fit;
    // Warming up: since when callbacks have come steadily.
    qint64 m_steadySinceNs = 0;
    qint64 m_lastCallbackNs = 0;
    qint64 m_lastRenderedEnd = 0;
    // Anchored: the block of callbacks under way.
    qint64 m_blockStartNs = 0;
    qint64 m_blockEarliestNs = 0;
    qint64 m_blockEarliestAtNs = 0;
    int m_lateBlocks = 0; // in a row, kLostTimeNs or more late
    int m_reanchors = 0;
};

// The player behind the device: decoded sounds, the one that plays and the
// ones scheduled to start. prepare() runs on the UI thread; start(),
// schedule() and render() must not run at the same time (the device lock
// keeps them apart), prepare() may run alongside render().
class WavePlayer
{
public:
    struct Sound
    {
        QByteArray image;                   // keeps the bytes alive, so their address identifies them
        std::optional<std::vector<float>> samples; // empty: unplayable, plays silence
        std::uint64_t lastUse = 0;
    };

    explicit WavePlayer(const OutputFormat &format);

    // The decoded form of image, decoded now if it was not seen before.
    const Sound *prepare(const QByteArray &image);

    // Replaces whatever plays with sound, from its first sample, and drops
    // whatever was scheduled.
    void start(const Sound *sound);
    // sound replaces whatever plays when the stream reaches frame (a frame
    // already rendered: at the next one). Starts are kept in order, up to
    // kMostScheduled of them.
    void schedule(const Sound *sound, qint64 frame);
    // A new stream (the device opened again): silence, nothing scheduled,
    // the frame counter back at 0. The decoded sounds are kept.
    void restartStream();

    // Writes frames frames of output, starting the scheduled sounds at their
    // frames, then advances the frame counter. Never allocates, locks or
    // blocks, and writes no member that prepare() reads.
    void render(float *out, int frames);

    qint64 framesRendered() const { return m_framesRendered; }
    bool isSilent() const { return !m_playing && m_scheduledCount == 0; }
    int lateStarts() const { return m_lateStarts; }
    int droppedStarts() const { return m_droppedStarts; }
    const OutputFormat &format() const { return m_format; }

private:
    static constexpr size_t kMostSoundsKept = 16;
    static constexpr size_t kMostScheduled = 64;

    struct Start
    {
        const Sound *sound = nullptr;
        qint64 frame = 0;
    };

    void begin(const Sound *sound);
    void forgetOldestSound();
    bool isInUse(const Sound *sound) const;

    OutputFormat m_format;
    std::vector<std::unique_ptr<Sound>> m_sounds;
    std::uint64_t m_uses = 0;
    const Sound *m_playing = nullptr;
    size_t m_positionSamples = 0; // into m_playing->samples
    std::array<Start, kMostScheduled> m_scheduled{};
    size_t m_scheduledFirst = 0;
    size_t m_scheduledCount = 0;
    qint64 m_framesRendered = 0;
    int m_lateStarts = 0;
    int m_droppedStarts = 0;
};
