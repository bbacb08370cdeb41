// WavePlayer: the decoded sounds, the one that plays and the ones scheduled
// to start at given output frames, rendered into a device's buffers. It
// knows nothing of a device or a clock: the device feeds it frames to fill,
// and whoever schedules tells it at which frame a sound starts.
#pragma once

#include "sound/wave_image.h"

#include <QByteArray>
#include <QtGlobal>

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

// The player behind the device: decoded sounds, the one that plays and the
// ones scheduled to start. prepare() runs on the UI thread; start(),
// schedule() and render() must not run at the same time (the sound output
// calls them all on the stream's thread, or with the stream's lock held),
// prepare() may run alongside render().
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
    // Drops every start still scheduled, and says how many; what plays goes on.
    int dropScheduled();
    // The stream's frames now sound byFrames later (negative) or earlier than
    // when the starts were scheduled: each start still scheduled moves by
    // byFrames, so that it is heard when it was meant to be. One whose new
    // frame has already been rendered starts at the next frame (a late
    // start), or, more than mostLateFrames back, is dropped (counted).
    void moveScheduled(qint64 byFrames, qint64 mostLateFrames);
    // The first of the sounds already begun (rendered from their first
    // frame) that began after frame, if any: the ones a listener at frame
    // has not heard yet. Only the last few starts are remembered.
    std::optional<qint64> firstBegunAfter(qint64 frame) const;
    // Stops what plays: the next frames rendered are silent.
    void silence();
    // sound replaces whatever plays from frame on, a frame already rendered
    // but after the last sound begun, for a stream that can write that
    // output again (renderAgain()). False, changing nothing, for any other
    // frame: schedule() it instead.
    bool startEarlier(const Sound *sound, qint64 frame);
    // The output of frames frames from fromFrame, already rendered, as the
    // player has it now: the sound that plays (from the frame it began) or
    // silence. Changes nothing, so a stream may write it again in pieces.
    void renderAgain(float *out, qint64 fromFrame, int frames) const;

    // Writes frames frames of output, starting the scheduled sounds at their
    // frames, then advances the frame counter. Never allocates, locks or
    // blocks, and writes no member that prepare() reads.
    void render(float *out, int frames);

    qint64 framesRendered() const { return m_framesRendered; }
    bool isSilent() const { return !m_playing && m_scheduledCount == 0; }
    bool hasScheduled() const { return m_scheduledCount != 0; }
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

    void begin(const Sound *sound, qint64 frame);
    void forgetOldestSound();
    bool isInUse(const Sound *sound) const;

    OutputFormat m_format;
    std::vector<std::unique_ptr<Sound>> m_sounds;
    std::uint64_t m_uses = 0;
    const Sound *m_playing = nullptr;
    qint64 m_playingFrom = 0;     // the frame m_playing began at
    size_t m_positionSamples = 0; // into m_playing->samples
    std::array<Start, kMostScheduled> m_scheduled{};
    size_t m_scheduledFirst = 0;
    size_t m_scheduledCount = 0;
    qint64 m_framesRendered = 0;
    static constexpr size_t kBegunRemembered = 8;
    std::array<qint64, kBegunRemembered> m_begunFrames{}; // ring: frames where the last sounds began
    size_t m_begunCount = 0;
    int m_lateStarts = 0;
    int m_droppedStarts = 0;
};
