#include "sound_output.h"

#include "replaceable.h"

#define SDL_MAIN_HANDLED // Brisquet has its own main(); SDL only plays sound
#include <SDL.h>

#include <algorithm>
#include <cstring>

// ---- WavePlayer ----------------------------------------------------------

WavePlayer::WavePlayer(const OutputFormat &format) : m_format(format)
{
    m_sounds.reserve(kMostSoundsKept + 1);
}

const WavePlayer::Sound *WavePlayer::prepare(const QByteArray &image)
{
    ++m_uses;
    for (const auto &sound : m_sounds) {
        if (sound->image.constData() == image.constData() && sound->image.size() == image.size()) {
            sound->lastUse = m_uses;
            return sound.get();
        }
    }
    auto sound = std::make_unique<Sound>();
    sound->image = image;
    sound->samples = decodeWaveImage(image, m_format);
    sound->lastUse = m_uses;
    m_sounds.push_back(std::move(sound));

    if (m_sounds.size() > kMostSoundsKept) {
        // Brisquet plays three images; a bound keeps a stream of distinct
        // images from growing memory. The playing sound is never freed.
        auto oldest = m_sounds.end();
        for (auto it = m_sounds.begin(); it != m_sounds.end() - 1; ++it) {
            if (it->get() != m_playing && (oldest == m_sounds.end() || (*it)->lastUse < (*oldest)->lastUse))
                oldest = it;
        }
        if (oldest != m_sounds.end())
            m_sounds.erase(oldest);
    }
    return m_sounds.back().get();
}

void WavePlayer::start(const Sound *sound)
{
    m_playing = sound && sound->samples ? sound : nullptr;
    m_positionSamples = 0;
}

void WavePlayer::render(float *out, int frames)
{
    const size_t wanted = static_cast<size_t>(frames) * static_cast<size_t>(m_format.channels);
    size_t written = 0;
    if (m_playing) {
        const std::vector<float> &samples = *m_playing->samples;
        written = std::min(wanted, samples.size() - m_positionSamples);
        std::memcpy(out, samples.data() + m_positionSamples, written * sizeof(float));
        m_positionSamples += written;
    }
    std::fill(out + written, out + wanted, 0.0f);
}

// ---- The device ----------------------------------------------------------

namespace {

// 512 frames is about 11.6 ms at 44.1 kHz: a click lands within one buffer of
// its tick, and the buffer is still long enough for a desktop scheduler not
// to starve the device.
constexpr Uint16 kBufferFrames = 512;

class AudioDevice
{
public:
    ~AudioDevice()
    {
        if (m_device != 0)
            SDL_CloseAudioDevice(m_device);
        if (m_state != SoundOutputState::NotOpened)
            SDL_QuitSubSystem(SDL_INIT_AUDIO);
    }

    SoundOutputState state() const { return m_state; }

    void play(const QByteArray &image)
    {
        if (!ensureOpen())
            return;
        const WavePlayer::Sound *sound = m_player->prepare(image);
        SDL_LockAudioDevice(m_device); // held only for the swap, never while decoding
        m_player->start(sound);
        SDL_UnlockAudioDevice(m_device);
    }

private:
    bool ensureOpen()
    {
        if (m_state == SoundOutputState::NotOpened)
            open();
        return m_state == SoundOutputState::Open;
    }

    void open()
    {
        m_state = SoundOutputState::Unavailable;
        SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1"); // Qt owns the process's signals
        SDL_SetHint(SDL_HINT_AUDIO_DEVICE_APP_NAME, "Brisquet");
        if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0)
            return;
        SDL_AudioSpec wanted{};
        wanted.freq = 44100;
        wanted.format = AUDIO_F32SYS;
        wanted.channels = 2;
        wanted.samples = kBufferFrames;
        wanted.callback = &AudioDevice::fill;
        wanted.userdata = this;
        SDL_AudioSpec obtained{};
        m_device = SDL_OpenAudioDevice(nullptr, 0, &wanted, &obtained,
                                       SDL_AUDIO_ALLOW_FREQUENCY_CHANGE);
        if (m_device == 0)
            return;
        m_player.emplace(OutputFormat{obtained.freq, obtained.channels});
        m_state = SoundOutputState::Open;
        SDL_PauseAudioDevice(m_device, 0);
    }

    // SDL's audio thread, with the device lock held.
    static void SDLCALL fill(void *userdata, Uint8 *stream, int bytes)
    {
        auto *self = static_cast<AudioDevice *>(userdata);
        const int frames = bytes / static_cast<int>(sizeof(float) * self->m_player->format().channels);
        self->m_player->render(reinterpret_cast<float *>(stream), frames);
    }

    SoundOutputState m_state = SoundOutputState::NotOpened;
    SDL_AudioDeviceID m_device = 0;
    std::optional<WavePlayer> m_player;
};

AudioDevice &device()
{
    static AudioDevice instance;
    return instance;
}

Replaceable<void(const QByteArray &)> &seam()
{
    static Replaceable<void(const QByteArray &)> instance;
    return instance;
}

} // namespace

void playWaveImage(const QByteArray &image)
{
    if (seam().runReplacement(image))
        return;
    // Nothing to play needs no device: until the sounds are loaded, beats are silent.
    if (image.isEmpty() && device().state() == SoundOutputState::NotOpened)
        return;
    device().play(image);
}

SoundPlayHandler setSoundPlayHandler(SoundPlayHandler replacement)
{
    return seam().replace(std::move(replacement));
}

SoundOutputState soundOutputState()
{
    return device().state();
}
