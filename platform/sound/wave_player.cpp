#include "sound/wave_player.h"

#include <algorithm>
#include <cstring>

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

void WavePlayer::begin(const Sound *sound, qint64 frame)
{
    m_playing = sound && sound->samples ? sound : nullptr;
    m_playingFrom = frame;
    m_positionSamples = 0;
    if (m_playing)
        m_begunFrames[m_begunCount++ % kBegunRemembered] = frame;
}

void WavePlayer::start(const Sound *sound)
{
    m_scheduledCount = 0;
    begin(sound, m_framesRendered);
    forgetOldestSound();
}

int WavePlayer::dropScheduled()
{
    const int dropped = int(m_scheduledCount);
    m_scheduledCount = 0;
    return dropped;
}

void WavePlayer::moveScheduled(qint64 byFrames, qint64 mostLateFrames)
{
    size_t kept = 0;
    for (size_t i = 0; i < m_scheduledCount; ++i) {
        Start start = m_scheduled[(m_scheduledFirst + i) % kMostScheduled];
        start.frame += byFrames;
        if (start.frame < m_framesRendered - mostLateFrames) {
            ++m_droppedStarts;
            continue;
        }
        m_scheduled[(m_scheduledFirst + kept) % kMostScheduled] = start;
        ++kept;
    }
    m_scheduledCount = kept;
}

std::optional<qint64> WavePlayer::firstBegunAfter(qint64 frame) const
{
    std::optional<qint64> first;
    for (size_t i = 0; i < std::min(m_begunCount, kBegunRemembered); ++i) {
        const qint64 begun = m_begunFrames[i];
        if (begun > frame && (!first || begun < *first))
            first = begun;
    }
    return first;
}

void WavePlayer::silence()
{
    m_playing = nullptr;
}

bool WavePlayer::startEarlier(const Sound *sound, qint64 frame)
{
    const qint64 lastBegun = m_begunCount > 0 ? m_begunFrames[(m_begunCount - 1) % kBegunRemembered] : -1;
    if (frame < 0 || frame >= m_framesRendered || frame <= lastBegun)
        return false;
    begin(sound, frame);
    if (m_playing) {
        // Kept while at its end, so renderAgain() still has it; render() lets it go.
        m_positionSamples = std::min(m_playing->samples->size(),
                                     static_cast<size_t>(m_framesRendered - frame) * m_format.channels);
    }
    forgetOldestSound();
    return true;
}

void WavePlayer::renderAgain(float *out, qint64 fromFrame, int frames) const
{
    const size_t channels = static_cast<size_t>(m_format.channels);
    const size_t wanted = static_cast<size_t>(frames) * channels;
    std::fill_n(out, wanted, 0.0f);
    if (!m_playing)
        return;
    const std::vector<float> &samples = *m_playing->samples;
    const qint64 skipFrames = std::max<qint64>(0, m_playingFrom - fromFrame);
    if (skipFrames >= frames)
        return;
    const size_t from = static_cast<size_t>(fromFrame + skipFrames - m_playingFrom) * channels;
    if (from >= samples.size())
        return;
    const size_t count = std::min(wanted - static_cast<size_t>(skipFrames) * channels, samples.size() - from);
    std::memcpy(out + static_cast<size_t>(skipFrames) * channels, samples.data() + from, count * sizeof(float));
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
    m_begunCount = 0;
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
                begin(next.sound, m_framesRendered + done);
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
