#include "sound_output.h"

#include "monotonic_clock.h"
#include "replaceable.h"

#define SDL_MAIN_HANDLED // Brisquet has its own main(); SDL only plays sound
#include <SDL.h>

#include <QCoreApplication>
#include <QPointer>
#include <QTimer>

#include <algorithm>
#include <cmath>
#ifdef __GLIBC__
#include <malloc.h>
#endif
#include <cstring>

namespace {
constexpr qint64 kNsPerSecond = 1'000'000'000;
}

// ---- StreamClock ---------------------------------------------------------

qint64 StreamClock::timeOfFrameZero(qint64 nowNs, qint64 renderedEnd) const
{
    return nowNs - renderedEnd * kNsPerSecond / m_sampleRate;
}

void StreamClock::warmUp(qint64 nowNs, qint64 renderedEnd, qint64 frameZeroNs)
{
    // Steady: no longer after the previous callback than twice what it rendered lasts.
    const qint64 renderedNs = (renderedEnd - m_lastRenderedEnd) * kNsPerSecond / m_sampleRate;
    const bool steady = m_lastCallbackNs != 0 && nowNs - m_lastCallbackNs <= 2 * renderedNs;
    m_lastCallbackNs = nowNs;
    m_lastRenderedEnd = renderedEnd;
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
    return m_sounds.back().get();
}

bool WavePlayer::isInUse(const Sound *sound) const
{
    if (sound == m_playing)
        return true;
    for (size_t i = 0; i < m_scheduledCount; ++i)
        if (m_scheduled[(m_scheduledFirst + i) % kMostScheduled].sound == sound)
            return true;
    return false;
}

// Brisquet plays three images; a bound keeps a stream of distinct images from
// growing memory. A sound that plays or is scheduled is never freed.
void WavePlayer::forgetOldestSound()
{
    if (m_sounds.size() <= kMostSoundsKept)
        return;
    auto oldest = m_sounds.end();
    for (auto it = m_sounds.begin(); it != m_sounds.end(); ++it) {
        if (!isInUse(it->get()) && (oldest == m_sounds.end() || (*it)->lastUse < (*oldest)->lastUse))
            oldest = it;
    }
    if (oldest != m_sounds.end())
        m_sounds.erase(oldest);
}

void WavePlayer::begin(const Sound *sound)
{
    m_playing = sound && sound->samples ? sound : nullptr;
    m_positionSamples = 0;
}

void WavePlayer::start(const Sound *sound)
{
    m_scheduledCount = 0;
    begin(sound);
    forgetOldestSound();
}

void WavePlayer::schedule(const Sound *sound, qint64 frame)
{
    if (m_scheduledCount == kMostScheduled) {
        ++m_droppedStarts;
        return;
    }
    m_scheduled[(m_scheduledFirst + m_scheduledCount) % kMostScheduled] = {sound, frame};
    ++m_scheduledCount;
    forgetOldestSound();
}

void WavePlayer::restartStream()
{
    start(nullptr);
    m_framesRendered = 0;
    m_lateStarts = m_droppedStarts = 0;
}

void WavePlayer::render(float *out, int frames)
{
    const size_t channels = static_cast<size_t>(m_format.channels);
    int done = 0;
    while (done < frames) {
        int until = frames;
        if (m_scheduledCount > 0) {
            const Start &next = m_scheduled[m_scheduledFirst];
            if (next.frame <= m_framesRendered + done) {
                if (next.frame < m_framesRendered + done)
                    ++m_lateStarts; // its frame is already out: it starts here
                begin(next.sound);
                m_scheduledFirst = (m_scheduledFirst + 1) % kMostScheduled;
                --m_scheduledCount;
                continue;
            }
            until = static_cast<int>(std::min<qint64>(frames, next.frame - m_framesRendered));
        }
        float *to = out + static_cast<size_t>(done) * channels;
        const size_t wanted = static_cast<size_t>(until - done) * channels;
        size_t written = 0;
        if (m_playing) {
            const std::vector<float> &samples = *m_playing->samples;
            written = std::min(wanted, samples.size() - m_positionSamples);
            std::memcpy(to, samples.data() + m_positionSamples, written * sizeof(float));
            m_positionSamples += written;
            if (m_positionSamples == samples.size())
                m_playing = nullptr;
        }
        std::fill(to + written, to + wanted, 0.0f);
        done = until;
    }
    m_framesRendered += frames;
}

// ---- The device ----------------------------------------------------------

namespace {

// 1024 frames, about 23 ms at 44.1 kHz: PulseAudio buffers about one device
// buffer for the stream, and at 512 frames (11.6 ms) it ran dry several times
// a minute on an idle machine, each time shifting every later click. It still
// leaves the schedule's latency room for the UI thread's wake-up jitter.
constexpr Uint16 kBufferFrames = 1024;
// A released device closes this long after the last sound was requested, once silent.
constexpr int kIdleCloseMs = 1500;

class AudioDevice
{
public:
    ~AudioDevice()
    {
        if (m_device != 0)
            SDL_CloseAudioDevice(m_device);
        if (m_state != SoundOutputState::NotOpened || m_sdlStarted)
            SDL_QuitSubSystem(SDL_INIT_AUDIO);
    }

    SoundOutputState state() const { return m_state; }

    void hold()
    {
        m_held = true;
        if (m_idleClose)
            m_idleClose->stop();
        ensureOpen();
    }

    void release()
    {
        m_held = false;
        closeWhenIdle();
    }

    void play(const QByteArray &image, qint64 dueNs)
    {
        if (!ensureOpen())
            return;
        const WavePlayer::Sound *sound = m_player->prepare(image); // decoding, if any, outside the lock
        SDL_LockAudioDevice(m_device); // held only to place the start
        m_player->schedule(sound, m_clock->frameAt(dueNs + kScheduleLatencyNs));
        SDL_UnlockAudioDevice(m_device);
        if (!m_held)
            closeWhenIdle();
    }

    SoundOutputCounts counts()
    {
        SoundOutputCounts counts;
        if (m_device == 0)
            return counts;
        SDL_LockAudioDevice(m_device);
        counts = {m_player->lateStarts(), m_clock->reanchors(), m_player->droppedStarts()};
        SDL_UnlockAudioDevice(m_device);
        return counts;
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
        if (!m_sdlStarted) {
            SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1"); // Qt owns the process's signals
            SDL_SetHint(SDL_HINT_AUDIO_DEVICE_APP_NAME, "Brisquet");
            if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0)
                return;
            m_sdlStarted = true;
        }
        SDL_AudioSpec wanted{};
        wanted.freq = 44100;
        wanted.format = AUDIO_F32SYS;
        wanted.channels = 2;
        wanted.samples = kBufferFrames;
        wanted.callback = &AudioDevice::fill;
        wanted.userdata = this;
        SDL_AudioSpec obtained{};
        m_device = SDL_OpenAudioDevice(nullptr, 0, &wanted, &obtained, SDL_AUDIO_ALLOW_FREQUENCY_CHANGE);
        if (m_device == 0)
            return;
        // The decoded sounds outlive a closed device unless the format changed.
        const OutputFormat format{obtained.freq, obtained.channels};
        if (!m_player || m_player->format().sampleRate != format.sampleRate
            || m_player->format().channels != format.channels)
            m_player = std::make_unique<WavePlayer>(format);
        else
            m_player->restartStream();
        m_clock = std::make_unique<StreamClock>(format.sampleRate, m_deviceDriftNsPerS);
        m_state = SoundOutputState::Open;
        SDL_PauseAudioDevice(m_device, 0);
    }

    // Closes the device once it is released and silent, so that an idle
    // Brisquet wakes up for nothing. One single-shot timer, no polling while
    // a session holds the device.
    void closeWhenIdle()
    {
        if (!m_idleClose) {
            m_idleClose = new QTimer(QCoreApplication::instance());
            m_idleClose->setSingleShot(true);
            QObject::connect(m_idleClose, &QTimer::timeout, [this] { closeIfIdle(); });
        }
        m_idleClose->start(kIdleCloseMs);
    }

    void closeIfIdle()
    {
        if (m_held || m_state != SoundOutputState::Open)
            return;
        SDL_LockAudioDevice(m_device);
        const bool silent = m_player->isSilent();
        SDL_UnlockAudioDevice(m_device);
        if (!silent) {
            closeWhenIdle();
            return;
        }
        SDL_CloseAudioDevice(m_device);
        m_device = 0;
        m_deviceDriftNsPerS = m_clock->driftNsPerS();
        m_clock.reset();
        m_state = SoundOutputState::NotOpened;
        // Idle Brisquet holds no connection to the sound server either, and
        // hands the memory of the session's stream back to the system.
        SDL_QuitSubSystem(SDL_INIT_AUDIO);
        m_sdlStarted = false;
#ifdef __GLIBC__
        malloc_trim(0);
#endif
    }

    // SDL's audio thread, with the device lock held.
    static void SDLCALL fill(void *userdata, Uint8 *stream, int bytes)
    {
        auto *self = static_cast<AudioDevice *>(userdata);
        const int frames = bytes / static_cast<int>(sizeof(float) * self->m_player->format().channels);
        self->m_player->render(reinterpret_cast<float *>(stream), frames);
        self->m_clock->noteRendered(monotonicNowNs(), self->m_player->framesRendered());
    }

    SoundOutputState m_state = SoundOutputState::NotOpened;
    bool m_sdlStarted = false;
    bool m_held = false;
    SDL_AudioDeviceID m_device = 0;
    std::unique_ptr<WavePlayer> m_player;
    std::unique_ptr<StreamClock> m_clock;
    // The device's clock against the monotonic clock, as the last session
    // measured it: the next session starts from it instead of from nothing.
    double m_deviceDriftNsPerS = 0;
    QPointer<QTimer> m_idleClose;
};

AudioDevice &device()
{
    static AudioDevice instance;
    return instance;
}

Replaceable<void(const QByteArray &, qint64)> &seam()
{
    static Replaceable<void(const QByteArray &, qint64)> instance;
    return instance;
}

} // namespace

void playWaveImage(const QByteArray &image, qint64 dueNs)
{
    if (seam().runReplacement(image, dueNs))
        return;
    playWaveImageOnDevice(image, dueNs);
}

void playWaveImageOnDevice(const QByteArray &image, qint64 dueNs)
{
    // Nothing to play needs no device: until the sounds are loaded, beats are silent.
    if (image.isEmpty() && device().state() == SoundOutputState::NotOpened)
        return;
    device().play(image, dueNs);
}

SoundPlayHandler setSoundPlayHandler(SoundPlayHandler replacement)
{
    return seam().replace(std::move(replacement));
}

void holdSoundOutput()
{
    device().hold();
}

void releaseSoundOutput()
{
    device().release();
}

SoundOutputState soundOutputState()
{
    return device().state();
}

SoundOutputCounts soundOutputCounts()
{
    return device().counts();
}
