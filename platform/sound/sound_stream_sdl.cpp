// The stream on SDL's audio output: SDL's own audio thread calls back for a
// whole buffer at a time. SDL says nothing of when a frame is heard, so the
// frames noted are the ones rendered so far.
#include "sound/sound_stream.h"

#include "system/monotonic_clock.h"

#define SDL_MAIN_HANDLED // Brisquet has its own main(); SDL only plays sound
#include <SDL.h>

namespace {

// 1024 frames, about 23 ms at 44.1 kHz: PulseAudio buffers about one device
// buffer for the stream, and at 512 frames (11.6 ms) it ran dry several times
// a minute on an idle machine, each time shifting every later click.
constexpr Uint16 kBufferFrames = 1024;
// What a device adds after a buffer is rendered, which SDL cannot tell:
// measured through PulseAudio's null sink as about one and a half buffers.
constexpr qint64 kUnseenLatencyBuffers2 = 3; // in half buffers

class SdlStream final : public SoundStream
{
public:
    SdlStream(StreamFeed &feed) : m_feed(feed) {}

    ~SdlStream() override
    {
        if (m_device != 0)
            SDL_CloseAudioDevice(m_device);
        // Idle Brisquet holds no connection to the sound server either.
        if (m_sdlStarted)
            SDL_QuitSubSystem(SDL_INIT_AUDIO);
    }

    bool open(const char *appName)
    {
        SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1"); // Qt owns the process's signals
        SDL_SetHint(SDL_HINT_AUDIO_DEVICE_APP_NAME, appName);
        if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0)
            return false;
        m_sdlStarted = true;
        SDL_AudioSpec wanted{};
        wanted.freq = 44100;
        wanted.format = AUDIO_F32SYS;
        wanted.channels = 2;
        wanted.samples = kBufferFrames;
        wanted.callback = &SdlStream::fill;
        wanted.userdata = this;
        SDL_AudioSpec obtained{};
        m_device = SDL_OpenAudioDevice(nullptr, 0, &wanted, &obtained, SDL_AUDIO_ALLOW_FREQUENCY_CHANGE);
        if (m_device == 0)
            return false;
        m_format = {obtained.freq, obtained.channels};
        m_bufferNs = qint64(obtained.samples) * 1'000'000'000 / obtained.freq;
        return true;
    }

    OutputFormat format() const override { return m_format; }
    void start() override { SDL_PauseAudioDevice(m_device, 0); }
    void lock() override { SDL_LockAudioDevice(m_device); }
    void unlock() override { SDL_UnlockAudioDevice(m_device); }
    bool isLost() const override { return SDL_GetAudioDeviceStatus(m_device) == SDL_AUDIO_STOPPED; }
    bool tellsHeardTime() const override { return false; }
    qint64 estimatedHeardInNs() const override { return m_bufferNs * kUnseenLatencyBuffers2 / 2; }
    qint64 leadNs() const override { return m_bufferNs; }
    bool canRewrite() const override { return false; }
    void rewriteFrom(qint64) override {}
    // No floor: a sound placed on a frame already taken starts at the next one.
    qint64 firstRewritableFrame() const override { return 0; }

private:
    // SDL's audio thread, with the device lock held.
    static void SDLCALL fill(void *userdata, Uint8 *stream, int bytes)
    {
        auto *self = static_cast<SdlStream *>(userdata);
        const int frames = bytes / static_cast<int>(sizeof(float) * self->m_format.channels);
        self->m_feed.render(reinterpret_cast<float *>(stream), frames);
        self->m_framesRendered += frames;
        self->m_feed.noteTiming(monotonicNowNs(), self->m_framesRendered, -1);
    }

    StreamFeed &m_feed;
    bool m_sdlStarted = false;
    SDL_AudioDeviceID m_device = 0;
    OutputFormat m_format{};
    qint64 m_bufferNs = 0;
    qint64 m_framesRendered = 0; // audio thread only
};

} // namespace

std::unique_ptr<SoundStream> openSdlStream(StreamFeed &feed, const char *appName)
{
    auto stream = std::make_unique<SdlStream>(feed);
    if (!stream->open(appName))
        return nullptr;
    return stream;
}
