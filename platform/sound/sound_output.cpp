#include "sound/sound_output.h"

#include "sound/session_grid.h"
#include "sound/sound_stream.h"
#include "sound/stream_clock.h"
#include "sound/wave_player.h"
#include "system/monotonic_clock.h"
#include "system/replaceable.h"

#include <QCoreApplication>
#include <QPointer>
#include <QTimer>

#include <atomic>
#include <limits>

#ifdef __GLIBC__
#include <malloc.h>
#endif

namespace {

// A released stream closes this long after the last sound was requested, once silent.
constexpr int kIdleCloseMs = 1500;
// While held and no stream opens, one is tried again this often.
constexpr int kRetryMs = 1000;
constexpr char kAppName[] = "Brisquet";
// A stream that tells when a frame is heard: how much later than the
// earliest it could a session places its clicks, so that the server's
// latency may grow during the session (another program's low-latency stream
// stops; PipeWire's cycle grows from 256 to 1024 frames, 32 ms more) and
// every click can still be placed on the session's grid.
constexpr qint64 kHeadroomNs = 40'000'000;
// A session's click asked for more than this after its due time cannot be on
// the session's grid (Brisquet was held up): it is not played at all, as a
// late tick is not caught up.
constexpr qint64 kMostLateNs = kUiJitterNs + kHeadroomNs;
// A stream whose thread was not called for this long (Brisquet, or the
// server, was held up) ran dry: until the server's reports say again where
// its frames are heard, a click cannot be placed on the session's grid.
constexpr qint64 kHeldUpNs = 150'000'000;

// The system's own stream, which tells when a frame is heard, unless
// SDL_AUDIODRIVER asks for SDL's; SDL's where the system's does not open.
// On Linux: PipeWire's own where a PipeWire server plays sound, else
// PulseAudio's (PipeWire's PulseAudio server too, where PIPEWIRE_REMOTE
// names no PipeWire server).
std::unique_ptr<SoundStream> openStream(StreamFeed &feed)
{
    if (qEnvironmentVariableIsEmpty("SDL_AUDIODRIVER")) {
#if defined(BRISQUET_HAVE_PIPEWIRE)
        if (auto stream = openPipeWireStream(feed, kAppName))
            return stream;
#endif
#if defined(BRISQUET_HAVE_PULSE)
        if (auto stream = openPulseStream(feed, kAppName))
            return stream;
#elif defined(BRISQUET_HAVE_WASAPI)
        if (auto stream = openWasapiStream(feed))
            return stream;
#endif
    }
    return openSdlStream(feed, kAppName);
}

class AudioOutput final : public StreamFeed
{
public:
    // The stream's thread calls the player and the clock: it ends first.
    ~AudioOutput() { m_stream.reset(); }

    SoundOutputState state() const { return m_state; }

    void hold()
    {
        m_held = true;
        if (m_idleClose)
            m_idleClose->stop();
        if (m_state == SoundOutputState::Unavailable)
            m_state = SoundOutputState::NotOpened; // a new session asks again
        m_grid.reset();
        m_sessionLatencyNs = 0;
        ensureOpen();
        retryUntilOpen();
    }

    void release()
    {
        m_held = false;
        if (m_retry)
            m_retry->stop();
        closeWhenIdle();
    }

    void play(const QByteArray &image, qint64 dueNs)
    {
        reopenIfLost();
        if (!ensureOpen())
            return;
        if (m_held && monotonicNowNs() - dueNs > kMostLateNs) {
            ++m_staleRequests;
            return;
        }
        const WavePlayer::Sound *sound = m_player->prepare(image); // decoding, if any, outside the lock
        m_stream->lock(); // held only to place the start
        // Also where the stream has not reported for as long: after Brisquet
        // was held up the UI thread may run before the stream's thread does.
        if (m_clockInDoubt || wasHeldUp(monotonicNowNs())) {
            m_stream->unlock();
            ++m_staleRequests;
            return;
        }
        // On the session's grid; before the stream's clock is anchored, by the stream's report.
        const qint64 frame = m_grid.place(*m_clock, dueNs, placementLatencyNs(),
                                          !m_clock->isAnchored() && (m_stream->canRewrite() || m_lastReport.heardInNs >= 0)
                                              ? provisionalFrameAt(dueNs)
                                              : StreamClock::kAtOnce);
        bool started = false;
        if (m_stream->canRewrite()) {
            // A frame the stream has already taken is written again.
            started = m_player->startEarlier(sound, frame);
            if (started)
                m_stream->rewriteFrom(frame);
        }
        if (!started)
            m_player->schedule(sound, frame);
        m_stream->unlock();
        if (!m_held)
            closeWhenIdle();
    }

    void dropUnheard()
    {
        if (m_state != SoundOutputState::Open)
            return;
        m_stream->lock();
        m_player->dropScheduled();
        const qint64 heardNow = m_clock->frameAt(monotonicNowNs() - heardAfterNs());
        if (heardNow != StreamClock::kAtOnce) {
            if (const std::optional<qint64> from = m_player->firstBegunAfter(heardNow);
                from && m_stream->canRewrite()) {
                m_player->silence();
                m_stream->rewriteFrom(*from);
            }
        }
        m_stream->unlock();
    }

    qint64 heardDelayNs()
    {
        if (m_state != SoundOutputState::Open)
            return 0;
        m_stream->lock(); // the session's delay may be fixed now, from the stream's last report
        const qint64 latencyNs = placementLatencyNs();
        m_stream->unlock();
        return latencyNs + heardAfterNs() + m_grid.shiftNs();
    }

    SoundOutputReport lastReport()
    {
        if (m_state != SoundOutputState::Open)
            return {};
        m_stream->lock();
        const Report report = m_lastReport;
        m_stream->unlock();
        return {report.atNs, report.frame, report.heardInNs};
    }

    SoundOutputCounts counts()
    {
        SoundOutputCounts counts;
        counts.reopens = m_reopens;
        if (m_state != SoundOutputState::Open)
            return counts;
        m_stream->lock();
        counts.lateStarts = m_player->lateStarts();
        counts.reanchors = m_clock->reanchors();
        counts.droppedStarts = m_player->droppedStarts() + m_staleRequests + m_droppedWhenHeldUp;
        m_stream->unlock();
        return counts;
    }

    // The stream's thread, with its lock held.
    void render(float *out, int frames) override { m_player->render(out, frames); }
    void renderAgain(float *out, qint64 fromFrame, int frames) override
    {
        m_player->renderAgain(out, fromFrame, frames);
    }
    void noteTiming(qint64 nowNs, qint64 frame, qint64 heardInNs) override
    {
        if (wasHeldUp(nowNs)) {
            // The clicks scheduled before were due while the stream was held
            // up, or lie where its frames are no longer heard: none is played.
            m_clockInDoubt = true;
            m_droppedWhenHeldUp += m_player->dropScheduled();
        }
        m_lastReport = {nowNs, frame, heardInNs};
        if (m_heardClock) {
            // The clock follows what is heard; where the server says its
            // frames now sound later (time lost) or earlier, the clicks
            // scheduled but not yet rendered move with them, so they are heard
            // when they were meant to be, or not at all.
            if (heardInNs < 0)
                return;
            const qint64 rate = m_player->format().sampleRate;
            const qint64 heardFrame = frame - heardInNs * rate / 1'000'000'000;
            const qint64 movedNs = m_clock->noteRendered(nowNs, heardFrame);
            // A click that the move puts into what was already rendered is
            // played at once if the UI thread's lateness would have been
            // allowed it (a lost cycle), and not at all if it is further back.
            if (movedNs != 0)
                m_player->moveScheduled(-movedNs * rate / 1'000'000'000, kUiJitterNs * rate / 1'000'000'000);
            if (movedNs != 0 || m_clock->agrees(nowNs, heardFrame))
                m_clockInDoubt = false;
            return;
        }
        m_clock->noteRendered(nowNs, frame);
        if (heardInNs < 0 || !m_clock->isAnchored())
            return;
        // frame is heard at now + heardInNs; the relation puts it at
        // now + (frame - frameAt(now)) / rate: what lies between is how
        // long after the relation's time a frame is heard.
        const qint64 aheadOfNowNs = (frame - m_clock->frameAt(nowNs)) * 1'000'000'000 / m_player->format().sampleRate;
        const qint64 sample = heardInNs - aheadOfNowNs;
        const qint64 average = m_measuredHeardAfterNs.load(std::memory_order_relaxed);
        // A slow average: one odd report moves it by a sixteenth.
        m_measuredHeardAfterNs.store(average == kNotMeasured ? sample : average + (sample - average) / 16,
                                     std::memory_order_relaxed);
    }

private:
    // A click is placed where the stream can still start it on its frame,
    // with room for the UI thread's lateness. On a clock of what is heard,
    // that is how long after now the frame after the last one the stream was
    // given is heard, with headroom, fixed at the session's first beat so the
    // session keeps one grid and one delay for its lights. (A stream that
    // can write its output again is not asked to for a session's clicks: on
    // PulseAudio 16 a click written again while the server changed its
    // latency was lost or came 124 ms late.) With the lock held.
    qint64 placementLatencyNs()
    {
        if (!m_heardClock)
            return m_stream->leadNs() + kUiJitterNs;
        if (m_sessionLatencyNs == 0) {
            const qint64 heardInNs = m_lastReport.heardInNs >= 0
                ? m_lastReport.heardInNs - (monotonicNowNs() - m_lastReport.atNs)
                : m_stream->estimatedHeardInNs();
            m_sessionLatencyNs = heardInNs + std::max<qint64>(m_stream->leadNs(), 0) + kUiJitterNs + kHeadroomNs;
        }
        return m_sessionLatencyNs;
    }

    // Until the stream's clock is anchored (the server may hold a new stream
    // back for a while): where the stream's last report says the sound is
    // heard when its beat is shown. Without a report, at the first frame the
    // server has surely not read. With one, a stream that writes again
    // places it as far ahead of the server's reading as the clock would
    // (the heard delay holds the same lead), and never before what is heard
    // now. (A stream that cannot take back what it was given starts a sound
    // on a frame it has already taken at its next frame.)
    qint64 provisionalFrameAt(qint64 dueNs)
    {
        const qint64 earliest = m_stream->firstRewritableFrame();
        if (m_lastReport.heardInNs < 0)
            return earliest;
        const qint64 rate = m_player->format().sampleRate;
        const qint64 reportHeardAtNs = m_lastReport.atNs + m_lastReport.heardInNs;
        const qint64 wanted = m_lastReport.frame + (dueNs + heardDelayNs() - reportHeardAtNs) * rate / 1'000'000'000;
        if (!m_stream->canRewrite())
            return std::max(earliest, wanted);
        const qint64 heardNow = m_lastReport.frame + (monotonicNowNs() - reportHeardAtNs) * rate / 1'000'000'000;
        return std::max(heardNow, wanted);
    }

    // Whether the stream, its clock anchored on what is heard, has not
    // reported for kHeldUpNs by nowNs. With the lock held.
    bool wasHeldUp(qint64 nowNs) const
    {
        return m_heardClock && m_clock->isAnchored() && nowNs - m_lastReport.atNs > kHeldUpNs;
    }

    // How long after the clock's time for a frame it is heard: measured
    // where the stream reports it, estimated where it cannot.
    qint64 heardAfterNs() const
    {
        if (m_heardClock)
            return 0;
        const qint64 measured = m_measuredHeardAfterNs.load(std::memory_order_relaxed);
        return measured != kNotMeasured ? measured : m_stream->estimatedHeardInNs();
    }

    bool ensureOpen()
    {
        if (m_state == SoundOutputState::NotOpened)
            open();
        return m_state == SoundOutputState::Open;
    }

    void open()
    {
        m_state = SoundOutputState::Unavailable;
        auto stream = openStream(*this);
        if (!stream)
            return;
        // The decoded sounds outlive a closed stream unless the format changed.
        const OutputFormat format = stream->format();
        if (!m_decoded || m_decoded->format().sampleRate != format.sampleRate
            || m_decoded->format().channels != format.channels)
            m_decoded = std::make_unique<WavePlayer>(format);
        else
            m_decoded->restartStream();
        m_player = std::move(m_decoded);
        m_heardClock = stream->tellsHeardTime();
        m_clock = std::make_unique<StreamClock>(format.sampleRate, m_deviceDriftNsPerS,
                                                m_heardClock ? ClockReports::Heard : ClockReports::Rendered);
        m_sessionLatencyNs = 0;
        m_clockInDoubt = false;
        m_droppedWhenHeldUp = 0;
        m_measuredHeardAfterNs = kNotMeasured;
        m_lastReport = {};
        m_grid = SessionGrid(format.sampleRate);
        m_stream = std::move(stream);
        m_state = SoundOutputState::Open;
        m_stream->start();
    }

    void close()
    {
        m_deviceDriftNsPerS = m_clock->driftNsPerS();
        m_stream.reset(); // no callback runs after this
        m_clock.reset();
        m_decoded = std::move(m_player);
        m_state = SoundOutputState::NotOpened;
    }

    // A stream that was lost (the server went away) is noticed at the next
    // sound, and opened again at once; checking then costs no wake-up of its own.
    void reopenIfLost()
    {
        if (m_state != SoundOutputState::Open || !m_stream->isLost())
            return;
        close();
        ++m_reopens;
        ensureOpen();
        retryUntilOpen();
    }

    // While a session holds the output and no stream is open, one is tried
    // every second, so the clicks come back with the server. An open stream
    // needs no timer.
    void retryUntilOpen()
    {
        if (!m_held || m_state == SoundOutputState::Open)
            return;
        if (!m_retry) {
            m_retry = new QTimer(QCoreApplication::instance());
            m_retry->setInterval(kRetryMs);
            QObject::connect(m_retry, &QTimer::timeout, [this] {
                if (m_state != SoundOutputState::Open)
                    m_state = SoundOutputState::NotOpened;
                if (ensureOpen() || !m_held)
                    m_retry->stop();
            });
        }
        m_retry->start();
    }

    // Closes the stream once it is released and silent, so that an idle
    // Brisquet wakes up for nothing. One single-shot timer, no polling while
    // a session holds the stream.
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
        m_stream->lock();
        const bool silent = m_player->isSilent();
        m_stream->unlock();
        if (!silent && !m_stream->isLost()) {
            closeWhenIdle();
            return;
        }
        close();
#ifdef __GLIBC__
        malloc_trim(0); // the session's stream buffers go back to the system
#endif
    }

    SoundOutputState m_state = SoundOutputState::NotOpened;
    bool m_held = false;
    std::unique_ptr<SoundStream> m_stream;
    std::unique_ptr<WavePlayer> m_player;  // while open
    std::unique_ptr<WavePlayer> m_decoded; // while closed: the decoded sounds, kept
    std::unique_ptr<StreamClock> m_clock;
    // The device's clock against the monotonic clock, as the last session
    // measured it: the next session starts from it instead of from nothing.
    double m_deviceDriftNsPerS = 0;
    int m_reopens = 0;
    // The stream's last report, with its lock: frame was heard heardInNs after atNs (-1: not known).
    struct Report
    {
        qint64 atNs = 0;
        qint64 frame = 0;
        qint64 heardInNs = -1;
    };
    Report m_lastReport;
    SessionGrid m_grid; // UI thread
    bool m_heardClock = false; // the stream tells when a frame is heard: the clock follows that
    bool m_clockInDoubt = false; // with the lock: the stream was held up, its clock not yet confirmed
    int m_droppedWhenHeldUp = 0; // with the lock
    qint64 m_sessionLatencyNs = 0; // on such a clock, fixed at a session's first click; 0 before
    int m_staleRequests = 0; // a session's clicks asked for too late to be on its grid
    static constexpr qint64 kNotMeasured = std::numeric_limits<qint64>::min();
    std::atomic<qint64> m_measuredHeardAfterNs{kNotMeasured}; // written by the stream's thread
    QPointer<QTimer> m_idleClose;
    QPointer<QTimer> m_retry;
};

AudioOutput &output()
{
    static AudioOutput instance;
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
    // Nothing to play needs no stream: until the sounds are loaded, beats are silent.
    if (image.isEmpty() && output().state() == SoundOutputState::NotOpened)
        return;
    output().play(image, dueNs);
}

SoundPlayHandler setSoundPlayHandler(SoundPlayHandler replacement)
{
    return seam().replace(std::move(replacement));
}

void holdSoundOutput()
{
    output().hold();
}

void releaseSoundOutput()
{
    output().release();
}

void dropUnheardSounds()
{
    output().dropUnheard();
}

qint64 soundHeardDelayNs()
{
    return output().heardDelayNs();
}

SoundOutputState soundOutputState()
{
    return output().state();
}

SoundOutputCounts soundOutputCounts()
{
    return output().counts();
}

SoundOutputReport soundOutputLastReport()
{
    return output().lastReport();
}
