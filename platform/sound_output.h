// Sound output on SDL's audio device: plays one WAVE image from memory
// without waiting, one sound at a time for the whole program (a new request
// stops the sound in progress and starts the new one from its first sample),
// and stays silent, never a default sound, for an image it cannot play.
//
// playWaveImage() runs on the UI thread. The device is opened on the first
// play of a non-empty image and kept open; if there is no device, Brisquet
// stays silent without asking again. Each distinct image is decoded once and
// kept, so a beat does no decoding. Tests observe requests by replacing the
// player with setSoundPlayHandler(), or drive WavePlayer directly.
#pragma once

#include "wave_image.h"

#include <QByteArray>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

void playWaveImage(const QByteArray &image);

using SoundPlayHandler = std::function<void(const QByteArray &image)>;

// Returns the handler it replaces; an empty handler restores the real player.
SoundPlayHandler setSoundPlayHandler(SoundPlayHandler handler);

enum class SoundOutputState { NotOpened, Open, Unavailable };
SoundOutputState soundOutputState();

// The player behind the device: decoded sounds and the one that plays.
// prepare() and start() run on the UI thread, render() on the audio thread;
// start() and render() must not run at the same time (the device lock keeps
// them apart), prepare() may run alongside render().
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

    // The decoded form of image, decoded now if it was not seen before. Never
    // frees the sound that is playing.
    const Sound *prepare(const QByteArray &image);

    // Replaces whatever plays with sound, from its first sample.
    void start(const Sound *sound);

    // Writes frames frames of output: the rest of the playing sound, then
    // silence. Never allocates, locks or blocks, and writes no member that
    // prepare() reads.
    void render(float *out, int frames);

    const OutputFormat &format() const { return m_format; }

private:
    static constexpr size_t kMostSoundsKept = 16;

    OutputFormat m_format;
    std::vector<std::unique_ptr<Sound>> m_sounds;
    std::uint64_t m_uses = 0;
    const Sound *m_playing = nullptr;
    size_t m_positionSamples = 0; // into m_playing->samples; a due time would offset this start
};
