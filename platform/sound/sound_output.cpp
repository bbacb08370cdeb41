#include "sound/sound_output.h"

#include "sound/session_grid.h"
#include "sound/sound_stream.h"
#include "sound/stream_clock.h"
#include "sound/wave_player.h"
#include "system/monotonic_clock.h"
#include "system/replaceable.h"

#include <QCoreApplication>
#include <QPointer>
#include <QThreadPool>
#include <QTimer>

#include <atomic>
#include <limits>
#include <optional>
#include <utility>

#ifdef __GLIBC__
#include <malloc.h>
#endif

namespace {

// A released stream closes this long after the last sound was requested, once silent.
constexpr int kIdleCloseMs = 1500;
// While held and no stream opens, one is tried again this often.
constexpr int kRetryMs = 1000;
// The worker's thread ends this long after its last job.
constexpr int kWorkerIdleMs = 1000;
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
// SDL_AUDIODRIVER asks for SDL's; SDL's where the system's does not open
// (StreamChoice::Best). On Linux: PipeWire's own where a PipeWire server
// plays sound, else PulseAudio's (PipeWire's PulseAudio server too, where
// PIPEWIRE_REMOTE names no PipeWire server). Waits on the server: the worker's.
std::unique_ptr<SoundStream> openSystemStream(StreamFeed &feed, StreamChoice choice)
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
    if (choice == StreamChoice::OwnOnly)
        return nullptr;
    return openSdlStream(feed, kAppName);
}

Replaceable<std::unique_ptr<SoundStream>(StreamFeed &, StreamChoice)> &openerSeam()
{
    static Replaceable<std::unique_ptr<SoundStream>(StreamFeed &, StreamChoice)> instance;
    return instance;
}

// Whether a stream that cannot tell when a frame is heard (SDL's) is a
// fallback for the system's own, to be replaced once that opens.
bool ownStreamWanted()
{
    return openerSeam().replacement() || qEnvironmentVariableIsEmpty("SDL_AUDIODRIVER");
}

// The stream's last report: frame was heard heardInNs after atNs (-1: not known).
struct Report
{
    qint64 atNs = 0;
    qint64 frame = 0;
    qint64 heardInNs = -1;
};

// What one open stream's thread calls, with the stream's lock held: the
// player and the clock it feeds, and what the stream last reported. The UI
// thread reads and places through it with the same lock.
class OutputFeed final : public StreamFeed
{
public:
    void render(float *out, int frames) override { player->render(out, frames); }
    void renderAgain(float *out, qint64 fromFrame, int frames) override
    {
        player->renderAgain(out, fromFrame, frames);
    }

    void noteTiming(qint64 nowNs, qint64 frame, qint64 heardInNs) override
    {
        if (wasHeldUp(nowNs)) {
            // The clicks scheduled before were due while the stream was held
            // up, or lie where its frames are no longer heard: none is played.
            clockInDoubt = true;
            droppedWhenHeldUp += player->dropScheduled();
        }
        lastReport = {nowNs, frame, heardInNs};
        if (heardClock) {
            // The clock follows what is heard; where the server says its
            // frames now sound later (time lost) or earlier, the clicks
            // scheduled but not yet rendered move with them, so they are heard
            // when they were meant to be, or not at all.
            if (heardInNs < 0)
                return;
            const qint64 rate = player->format().sampleRate;
            const qint64 heardFrame = frame - heardInNs * rate / 1'000'000'000;
            const qint64 movedNs = clock->noteRendered(nowNs, heardFrame);
            // A click that the move puts into what was already rendered is
            // played at once if the UI thread's lateness would have been
            // allowed it (a lost cycle), and not at all if it is further back.
            if (movedNs != 0)
                player->moveScheduled(-movedNs * rate / 1'000'000'000, kUiJitterNs * rate / 1'000'000'000);
            if (movedNs != 0 || clock->agrees(nowNs, heardFrame))
                clockInDoubt = false;
            return;
        }
        clock->noteRendered(nowNs, frame);
        if (heardInNs < 0 || !clock->isAnchored())
            return;
        // frame is heard at now + heardInNs; the relation puts it at
        // now + (frame - frameAt(now)) / rate: what lies between is how
        // long after the relation's time a frame is heard.
        const qint64 aheadOfNowNs = (frame - clock->frameAt(nowNs)) * 1'000'000'000 / player->format().sampleRate;
        const qint64 sample = heardInNs - aheadOfNowNs;
        const qint64 average = measuredHeardAfterNs.load(std::memory_order_relaxed);
        // A slow average: one odd report moves it by a sixteenth.
        measuredHeardAfterNs.store(average == kNotMeasured ? sample : average + (sample - average) / 16,
                                   std::memory_order_relaxed);
    }

    // Whether the stream, its clock anchored on what is heard, has not
    // reported for kHeldUpNs by nowNs. With the lock held.
    bool wasHeldUp(qint64 nowNs) const
    {
        return heardClock && clock->isAnchored() && nowNs - lastReport.atNs > kHeldUpNs;
    }

    static constexpr qint64 kNotMeasured = std::numeric_limits<qint64>::min();

    std::unique_ptr<WavePlayer> player;
    std::unique_ptr<StreamClock> clock;
    Report lastReport;
    bool heardClock = false;   // the stream tells when a frame is heard: the clock follows that
    bool clockInDoubt = false; // the stream was held up, its clock not yet confirmed
    int droppedWhenHeldUp = 0;
    std::atomic<qint64> measuredHeardAfterNs{kNotMeasured}; // also read without the lock
};

// A stream and the feed its thread calls. Made, started and destroyed on
// the worker; the stream's thread has ended before the feed goes, whatever
// the order of the members.
struct OpenStream
{
    ~OpenStream() { stream.reset(); }

    OutputFeed feed;
    std::unique_ptr<SoundStream> stream; // null: none opened
};

class AudioOutput
{
public:
    AudioOutput()
    {
        m_worker.setMaxThreadCount(1);
        m_worker.setExpiryTimeout(kWorkerIdleMs);
    }

    // At the program's end (tests; Brisquet itself ends without running
    // destructors): the worker's jobs are done before the streams go.
    ~AudioOutput()
    {
        m_worker.waitForDone();
        m_open.reset();
        m_betterStream.reset();
        m_retiredStream.reset();
    }

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
        retryUntilBestOpen();
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
        takeBetterStream();
        if (!ensureOpen()) {
            // Placed once the stream opens, if still in time.
            if (m_state == SoundOutputState::Opening)
                m_waiting = Request{image, dueNs};
            return;
        }
        if (m_held && monotonicNowNs() - dueNs > kMostLateNs) {
            ++m_staleRequests;
            return;
        }
        OutputFeed &feed = m_open->feed;
        SoundStream &stream = *m_open->stream;
        const WavePlayer::Sound *sound = feed.player->prepare(image); // decoding, if any, outside the lock
        stream.lock(); // held only to place the start
        // Also where the stream has not reported for as long: after Brisquet
        // was held up the UI thread may run before the stream's thread does.
        if (feed.clockInDoubt || feed.wasHeldUp(monotonicNowNs())) {
            stream.unlock();
            ++m_staleRequests;
            return;
        }
        // On the session's grid; before the stream's clock is anchored, by the stream's report.
        const qint64 frame = m_grid.place(*feed.clock, dueNs, placementLatencyNs(),
                                          !feed.clock->isAnchored() && (stream.canRewrite() || feed.lastReport.heardInNs >= 0)
                                              ? provisionalFrameAt(dueNs)
                                              : StreamClock::kAtOnce);
        bool started = false;
        if (stream.canRewrite()) {
            // A frame the stream has already taken is written again.
            started = feed.player->startEarlier(sound, frame);
            if (started)
                stream.rewriteFrom(frame);
        }
        if (!started)
            feed.player->schedule(sound, frame);
        stream.unlock();
        if (!m_held)
            closeWhenIdle();
    }

    void dropUnheard()
    {
        m_waiting.reset();
        if (m_state != SoundOutputState::Open)
            return;
        OutputFeed &feed = m_open->feed;
        SoundStream &stream = *m_open->stream;
        stream.lock();
        feed.player->dropScheduled();
        const qint64 heardNow = feed.clock->frameAt(monotonicNowNs() - heardAfterNs());
        if (heardNow != StreamClock::kAtOnce) {
            if (const std::optional<qint64> from = feed.player->firstBegunAfter(heardNow);
                from && stream.canRewrite()) {
                feed.player->silence();
                stream.rewriteFrom(*from);
            }
        }
        stream.unlock();
    }

    qint64 heardDelayNs()
    {
        if (m_state != SoundOutputState::Open)
            return 0;
        m_open->stream->lock(); // the session's delay may be fixed now, from the stream's last report
        const qint64 delayNs = heardDelayLockedNs();
        m_open->stream->unlock();
        return delayNs;
    }

    SoundOutputReport lastReport()
    {
        if (m_state != SoundOutputState::Open)
            return {};
        m_open->stream->lock();
        const Report report = m_open->feed.lastReport;
        m_open->stream->unlock();
        return {report.atNs, report.frame, report.heardInNs};
    }

    SoundOutputCounts counts()
    {
        SoundOutputCounts counts;
        counts.reopens = m_reopens;
        if (m_state != SoundOutputState::Open)
            return counts;
        const OutputFeed &feed = m_open->feed;
        m_open->stream->lock();
        counts.lateStarts = feed.player->lateStarts();
        counts.reanchors = feed.clock->reanchors();
        counts.droppedStarts = feed.player->droppedStarts() + m_staleRequests + feed.droppedWhenHeldUp;
        m_open->stream->unlock();
        return counts;
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
        const OutputFeed &feed = m_open->feed;
        const SoundStream &stream = *m_open->stream;
        if (!feed.heardClock)
            return stream.leadNs() + kUiJitterNs;
        if (m_sessionLatencyNs == 0) {
            const qint64 heardInNs = feed.lastReport.heardInNs >= 0
                ? feed.lastReport.heardInNs - (monotonicNowNs() - feed.lastReport.atNs)
                : stream.estimatedHeardInNs();
            m_sessionLatencyNs = heardInNs + std::max<qint64>(stream.leadNs(), 0) + kUiJitterNs + kHeadroomNs;
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
    // on a frame it has already taken at its next frame.) With the lock held.
    qint64 provisionalFrameAt(qint64 dueNs)
    {
        const OutputFeed &feed = m_open->feed;
        const SoundStream &stream = *m_open->stream;
        const qint64 earliest = stream.firstRewritableFrame();
        if (feed.lastReport.heardInNs < 0)
            return earliest;
        const qint64 rate = feed.player->format().sampleRate;
        const qint64 reportHeardAtNs = feed.lastReport.atNs + feed.lastReport.heardInNs;
        const qint64 wanted = feed.lastReport.frame + (dueNs + heardDelayLockedNs() - reportHeardAtNs) * rate / 1'000'000'000;
        if (!stream.canRewrite())
            return std::max(earliest, wanted);
        const qint64 heardNow = feed.lastReport.frame + (monotonicNowNs() - reportHeardAtNs) * rate / 1'000'000'000;
        return std::max(heardNow, wanted);
    }

    // With the lock held (not all streams' locks may be taken twice).
    qint64 heardDelayLockedNs() { return placementLatencyNs() + heardAfterNs() + m_grid.shiftNs(); }

    // How long after the clock's time for a frame it is heard: measured
    // where the stream reports it, estimated where it cannot.
    qint64 heardAfterNs() const
    {
        if (m_open->feed.heardClock)
            return 0;
        const qint64 measured = m_open->feed.measuredHeardAfterNs.load(std::memory_order_relaxed);
        return measured != OutputFeed::kNotMeasured ? measured : m_open->stream->estimatedHeardInNs();
    }

    // Whether a stream is open; if none is and none is being opened, asks
    // the worker for one. Never waits.
    bool ensureOpen()
    {
        if (m_state == SoundOutputState::NotOpened)
            openOnWorker(StreamChoice::Best);
        return m_state == SoundOutputState::Open;
    }

    // Opening a stream waits on the server (seconds, when it is held up or
    // still starting), and so does starting it: the worker does both, and
    // the stream comes back to the UI thread running. One open at a time.
    void openOnWorker(StreamChoice choice)
    {
        if (m_state != SoundOutputState::Open)
            m_state = SoundOutputState::Opening;
        if (m_opening)
            return; // the stream it opens is taken as it is
        m_opening = true;
        m_worker.start([this, choice] {
            OpenStream *opened = openAndStart(choice).release();
            QObject *app = QCoreApplication::instance();
            if (!app || !QMetaObject::invokeMethod(app, [this, opened] { takeOpened(std::unique_ptr<OpenStream>(opened)); },
                                                   Qt::QueuedConnection))
                delete opened; // the program is ending
        });
    }

    // The worker: a stream with its player and clock, started.
    std::unique_ptr<OpenStream> openAndStart(StreamChoice choice)
    {
        auto opened = std::make_unique<OpenStream>();
        OutputFeed &feed = opened->feed;
        if (const auto &replacement = openerSeam().replacement())
            opened->stream = replacement(feed, choice);
        else
            opened->stream = openSystemStream(feed, choice);
        if (!opened->stream)
            return opened;
        // The decoded sounds outlive a closed stream unless the format changed.
        const OutputFormat format = opened->stream->format();
        if (m_kept.player && m_kept.player->format().sampleRate == format.sampleRate
            && m_kept.player->format().channels == format.channels) {
            feed.player = std::move(m_kept.player);
            feed.player->restartStream();
        } else {
            feed.player = std::make_unique<WavePlayer>(format);
        }
        feed.heardClock = opened->stream->tellsHeardTime();
        feed.clock = std::make_unique<StreamClock>(format.sampleRate, m_kept.driftNsPerS,
                                                   feed.heardClock ? ClockReports::Heard : ClockReports::Rendered);
        opened->stream->start();
        return opened;
    }

    // The UI thread: the worker's stream, or none.
    void takeOpened(std::unique_ptr<OpenStream> opened)
    {
        m_opening = false;
        if (!opened->stream) {
            if (m_state == SoundOutputState::Opening) {
                m_state = SoundOutputState::Unavailable;
                m_waiting.reset();
            }
            return; // while held, tried again
        }
        if (m_state == SoundOutputState::Open) {
            // The system's own stream, for a session on SDL's: taken between two clicks.
            if (m_held)
                m_betterStream = std::move(opened);
            else
                closeOnWorker(std::move(opened));
            return;
        }
        use(std::move(opened));
        if (m_waiting) {
            const Request waiting = *std::exchange(m_waiting, std::nullopt);
            play(waiting.image, waiting.dueNs);
        }
        if (!m_held)
            closeWhenIdle();
        else if (!isFallback() && m_retry)
            m_retry->stop();
    }

    void use(std::unique_ptr<OpenStream> opened)
    {
        m_open = std::move(opened);
        m_state = SoundOutputState::Open;
        m_staleRequests = 0;
        m_sessionLatencyNs = 0;
        m_grid = SessionGrid(m_open->feed.player->format().sampleRate);
    }

    bool isFallback() const
    {
        return m_state == SoundOutputState::Open && !m_open->feed.heardClock && ownStreamWanted();
    }

    // A session on SDL's output moves to the system's own stream once that
    // opens, at a click for which nothing is scheduled on SDL's: each click
    // plays on one of them. The session's grid and delay start anew there;
    // SDL's stream plays out what it has begun, then closes.
    void takeBetterStream()
    {
        if (!m_betterStream || m_state != SoundOutputState::Open)
            return;
        m_open->stream->lock();
        const bool clickAhead = m_open->feed.player->hasScheduled();
        m_open->stream->unlock();
        if (clickAhead)
            return;
        if (m_retiredStream)
            closeOnWorker(std::move(m_retiredStream));
        m_retiredStream = std::move(m_open);
        use(std::move(m_betterStream));
        QTimer::singleShot(kIdleCloseMs, QCoreApplication::instance(), [this] {
            if (m_retiredStream)
                closeOnWorker(std::move(m_retiredStream));
        });
    }

    void close()
    {
        m_state = SoundOutputState::NotOpened;
        closeOnWorker(std::move(m_open));
        if (m_betterStream)
            closeOnWorker(std::move(m_betterStream));
    }

    // Closing waits on the server too. The worker keeps the decoded sounds
    // and the device's drift for the next stream it opens.
    void closeOnWorker(std::unique_ptr<OpenStream> open)
    {
        OpenStream *closing = open.release();
        m_worker.start([this, closing] {
            closing->stream.reset(); // no callback runs after this
            m_kept.driftNsPerS = closing->feed.clock->driftNsPerS();
            m_kept.player = std::move(closing->feed.player);
            delete closing;
#ifdef __GLIBC__
            malloc_trim(0); // the session's stream buffers go back to the system
#endif
        });
    }

    // A stream that was lost (the server went away) is noticed at the next
    // sound, and opened again at once; checking then costs no wake-up of its own.
    void reopenIfLost()
    {
        if (m_state != SoundOutputState::Open || !m_open->stream->isLost())
            return;
        close();
        ++m_reopens;
        ensureOpen();
        retryUntilBestOpen();
    }

    // While a session holds the output and no stream is open, or only SDL's
    // where the system's own is wanted, one is tried every second, so the
    // clicks come back with the server. The system's own stream needs no timer.
    void retryUntilBestOpen()
    {
        if (!m_held || (m_state == SoundOutputState::Open && !isFallback()))
            return;
        if (!m_retry) {
            m_retry = new QTimer(QCoreApplication::instance());
            m_retry->setInterval(kRetryMs);
            QObject::connect(m_retry, &QTimer::timeout, [this] {
                if (!m_held || (m_state == SoundOutputState::Open && !isFallback())) {
                    m_retry->stop();
                    return;
                }
                if (m_state == SoundOutputState::Unavailable)
                    m_state = SoundOutputState::NotOpened;
                if (m_state == SoundOutputState::Open && !m_betterStream)
                    openOnWorker(StreamChoice::OwnOnly);
                else
                    ensureOpen();
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
        m_open->stream->lock();
        const bool silent = m_open->feed.player->isSilent();
        m_open->stream->unlock();
        if (!silent && !m_open->stream->isLost()) {
            closeWhenIdle();
            return;
        }
        close();
    }

    SoundOutputState m_state = SoundOutputState::NotOpened;
    bool m_held = false;
    bool m_opening = false; // the worker is opening a stream
    std::unique_ptr<OpenStream> m_open;          // while Open
    std::unique_ptr<OpenStream> m_betterStream;  // the system's own, opened for a session on SDL's
    std::unique_ptr<OpenStream> m_retiredStream; // SDL's, playing out after the session moved on
    struct Request
    {
        QByteArray image;
        qint64 dueNs = 0;
    };
    std::optional<Request> m_waiting; // the last sound asked for while the stream opens
    int m_reopens = 0;
    SessionGrid m_grid;
    qint64 m_sessionLatencyNs = 0; // on a clock of what is heard, fixed at a session's first click; 0 before
    int m_staleRequests = 0; // a session's clicks asked for too late to be on its grid
    QPointer<QTimer> m_idleClose;
    QPointer<QTimer> m_retry;
    // The worker's own, between its jobs: the decoded sounds of the last
    // stream closed, and the device's clock against the monotonic clock as
    // its session measured it (the next session starts from it).
    struct Kept
    {
        std::unique_ptr<WavePlayer> player;
        double driftNsPerS = 0;
    };
    Kept m_kept;
    QThreadPool m_worker; // destroyed first: its jobs use the rest
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

void setStreamOpener(StreamOpener opener)
{
    openerSeam().replace(std::move(opener));
}
