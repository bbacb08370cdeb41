#include "sound/sound_output.h"

#include "sound/feed_channel.h"
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

constexpr qint64 kNotMeasured = std::numeric_limits<qint64>::min();

// What the UI thread knows of a feed: the clock, the stream's last report
// and what the player did, as the stream's thread last published them.
struct FeedState
{
    StreamClock clock{44100};
    Report lastReport;
    bool heardClock = false;   // the stream tells when a frame is heard: the clock follows that
    bool clockInDoubt = false; // the stream was held up, its clock not yet confirmed
    quint32 heldUps = 0;       // how often the stream was found held up: a request placed before is stale
    qint64 movedFrames = 0;    // how far the scheduled starts have moved with the stream, in all
    bool silent = true;
    bool hasScheduled = false;
    int lateStarts = 0;
    int droppedStarts = 0; // the player's, those the stream's being held up dropped, and stale requests
    qint64 measuredHeardAfterNs = kNotMeasured; // a stream that cannot tell it: how long after the clock's time
};

// Whether the stream, its clock anchored on what is heard, had not reported
// for kHeldUpNs by nowNs.
bool wasHeldUp(const FeedState &state, qint64 nowNs)
{
    return state.heardClock && state.clock.isAnchored() && nowNs - state.lastReport.atNs > kHeldUpNs;
}

// What one open stream's thread calls: the player and the clock it feeds.
// The stream's thread never waits on the UI thread: the UI thread's
// requests come through a queue it drains before it renders, and it
// publishes its state after each report. A stream that writes its output
// again (PulseAudio's) calls the feed with its own lock held, and the UI
// thread, holding that lock, may then drain, read and change the feed
// itself (the *Locked functions).
class OutputFeed final : public StreamFeed
{
public:
    // A click to start at frame (StreamClock::kAtOnce: at the next one),
    // placed on the state published with movedFrames and heldUps; or all
    // scheduled starts to be dropped.
    struct Request
    {
        const WavePlayer::Sound *sound = nullptr;
        qint64 frame = 0;
        qint64 movedFrames = 0;
        quint32 heldUps = 0;
        bool dropScheduled = false;
    };

    // Before the stream starts.
    void setUp(std::unique_ptr<WavePlayer> soundPlayer, double driftNsPerS, bool heard)
    {
        player = std::move(soundPlayer);
        m_state.clock = StreamClock(player->format().sampleRate, driftNsPerS,
                                    heard ? ClockReports::Heard : ClockReports::Rendered);
        m_state.heardClock = heard;
        publish();
    }

    // The UI thread.
    FeedState published() const
    {
        FeedState state;
        m_published.load(state);
        return state;
    }
    // False when the queue is full (the stream's thread has not run for a while).
    bool request(const Request &request) { return m_requests.push(request); }

    // With the stream's lock held: the requests taken, the state as it is.
    const FeedState &liveLocked()
    {
        takeRequests();
        return m_state;
    }
    void publishLocked() { publish(); }

    void render(float *out, int frames) override
    {
        takeRequests();
        player->render(out, frames);
    }
    void renderAgain(float *out, qint64 fromFrame, int frames) override
    {
        player->renderAgain(out, fromFrame, frames);
    }

    void noteTiming(qint64 nowNs, qint64 frame, qint64 heardInNs) override
    {
        noteReport(nowNs, frame, heardInNs);
        publish();
    }

    // The stream's thread's; prepare() on the UI thread, which render() allows.
    std::unique_ptr<WavePlayer> player;

private:
    void takeRequests()
    {
        Request request;
        while (m_requests.pop(request)) {
            if (request.dropScheduled) {
                player->dropScheduled();
            } else if (request.heldUps != m_state.heldUps) {
                ++m_staleRequests; // placed before the stream was found held up
            } else {
                const qint64 frame = request.frame == StreamClock::kAtOnce
                    ? request.frame
                    : request.frame + (m_state.movedFrames - request.movedFrames);
                player->schedule(request.sound, frame);
            }
        }
    }

    void noteReport(qint64 nowNs, qint64 frame, qint64 heardInNs)
    {
        StreamClock &clock = m_state.clock;
        if (wasHeldUp(m_state, nowNs)) {
            // The clicks scheduled before were due while the stream was held
            // up, or lie where its frames are no longer heard: none is played.
            m_state.clockInDoubt = true;
            ++m_state.heldUps;
            m_droppedWhenHeldUp += player->dropScheduled();
        }
        m_state.lastReport = {nowNs, frame, heardInNs};
        if (m_state.heardClock) {
            // The clock follows what is heard; where the server says its
            // frames now sound later (time lost) or earlier, the clicks
            // scheduled but not yet rendered move with them, so they are heard
            // when they were meant to be, or not at all.
            if (heardInNs < 0)
                return;
            const qint64 rate = player->format().sampleRate;
            const qint64 heardFrame = frame - heardInNs * rate / 1'000'000'000;
            const qint64 movedNs = clock.noteRendered(nowNs, heardFrame);
            // A click that the move puts into what was already rendered is
            // played at once if the UI thread's lateness would have been
            // allowed it (a lost cycle), and not at all if it is further back.
            if (movedNs != 0) {
                const qint64 byFrames = -movedNs * rate / 1'000'000'000;
                player->moveScheduled(byFrames, kUiJitterNs * rate / 1'000'000'000);
                m_state.movedFrames += byFrames;
            }
            if (movedNs != 0 || clock.agrees(nowNs, heardFrame))
                m_state.clockInDoubt = false;
            return;
        }
        clock.noteRendered(nowNs, frame);
        if (heardInNs < 0 || !clock.isAnchored())
            return;
        // frame is heard at now + heardInNs; the relation puts it at
        // now + (frame - frameAt(now)) / rate: what lies between is how
        // long after the relation's time a frame is heard.
        const qint64 aheadOfNowNs = (frame - clock.frameAt(nowNs)) * 1'000'000'000 / player->format().sampleRate;
        const qint64 sample = heardInNs - aheadOfNowNs;
        const qint64 average = m_state.measuredHeardAfterNs;
        // A slow average: one odd report moves it by a sixteenth.
        m_state.measuredHeardAfterNs = average == kNotMeasured ? sample : average + (sample - average) / 16;
    }

    void publish()
    {
        m_state.silent = player->isSilent();
        m_state.hasScheduled = player->hasScheduled();
        m_state.lateStarts = player->lateStarts();
        m_state.droppedStarts = player->droppedStarts() + m_droppedWhenHeldUp + m_staleRequests;
        m_published.store(m_state);
    }

    FeedState m_state; // the stream's thread's (or the UI thread's, with the stream's lock)
    int m_droppedWhenHeldUp = 0;
    int m_staleRequests = 0;
    // A session asks for a click or two a beat, and the stream drains the
    // queue every cycle (at most ~50 ms): 64 is room for a stall of seconds.
    RequestQueue<Request, 64> m_requests;
    PublishedValue<FeedState> m_published{FeedState{}};
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
                m_waiting = WaitingSound{image, dueNs};
            return;
        }
        if (m_held && monotonicNowNs() - dueNs > kMostLateNs) {
            ++m_staleRequests;
            return;
        }
        OutputFeed &feed = m_open->feed;
        SoundStream &stream = *m_open->stream;
        const WavePlayer::Sound *sound = feed.player->prepare(image); // decoding, if any, outside the lock
        // A stream that writes its output again is locked to place a click
        // (libpulse's callbacks run with its loop's lock held anyway); any
        // other is asked through the feed's queue and never waits on this thread.
        const bool writesAgain = stream.canRewrite();
        if (writesAgain)
            stream.lock();
        const FeedState state = writesAgain ? feed.liveLocked() : feed.published();
        // Also where the stream has not reported for as long: after Brisquet
        // was held up the UI thread may run before the stream's thread does.
        if (state.clockInDoubt || wasHeldUp(state, monotonicNowNs())) {
            if (writesAgain)
                stream.unlock();
            ++m_staleRequests;
            return;
        }
        // On the session's grid; before the stream's clock is anchored, by the stream's report.
        const qint64 frame = m_grid.place(state.clock, dueNs, placementLatencyNs(state),
                                          !state.clock.isAnchored() && (writesAgain || state.lastReport.heardInNs >= 0)
                                              ? provisionalFrameAt(state, dueNs, writesAgain)
                                              : StreamClock::kAtOnce);
        if (writesAgain) {
            // A frame the stream has already taken is written again.
            if (feed.player->startEarlier(sound, frame))
                stream.rewriteFrom(frame);
            else
                feed.player->schedule(sound, frame);
            feed.publishLocked();
            stream.unlock();
        } else if (!feed.request({sound, frame, state.movedFrames, state.heldUps, false})) {
            ++m_staleRequests; // the stream's thread has not run for as long as the queue holds
        }
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
        if (!stream.canRewrite()) {
            feed.request({nullptr, 0, 0, 0, true}); // what the stream has taken plays out
            return;
        }
        stream.lock();
        const FeedState &state = feed.liveLocked();
        feed.player->dropScheduled();
        const qint64 heardNow = state.clock.frameAt(monotonicNowNs() - heardAfterNs(state));
        if (heardNow != StreamClock::kAtOnce) {
            if (const std::optional<qint64> from = feed.player->firstBegunAfter(heardNow)) {
                feed.player->silence();
                stream.rewriteFrom(*from);
            }
        }
        feed.publishLocked();
        stream.unlock();
    }

    qint64 heardDelayNs()
    {
        if (m_state != SoundOutputState::Open)
            return 0;
        // The session's delay may be fixed now, from the stream's last report.
        return heardDelayNs(m_open->feed.published());
    }

    SoundOutputReport lastReport()
    {
        if (m_state != SoundOutputState::Open)
            return {};
        const Report report = m_open->feed.published().lastReport;
        return {report.atNs, report.frame, report.heardInNs};
    }

    SoundOutputCounts counts()
    {
        SoundOutputCounts counts;
        counts.reopens = m_reopens;
        if (m_state != SoundOutputState::Open)
            return counts;
        const FeedState state = m_open->feed.published();
        counts.lateStarts = state.lateStarts;
        counts.reanchors = state.clock.reanchors();
        counts.droppedStarts = state.droppedStarts + m_staleRequests;
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
    // latency was lost or came 124 ms late.)
    qint64 placementLatencyNs(const FeedState &state)
    {
        const SoundStream &stream = *m_open->stream;
        if (!state.heardClock)
            return stream.leadNs() + kUiJitterNs;
        if (m_sessionLatencyNs == 0) {
            const qint64 heardInNs = state.lastReport.heardInNs >= 0
                ? state.lastReport.heardInNs - (monotonicNowNs() - state.lastReport.atNs)
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
    // on a frame it has already taken at its next frame.) A stream that
    // writes again: with its lock held.
    qint64 provisionalFrameAt(const FeedState &state, qint64 dueNs, bool writesAgain)
    {
        const SoundStream &stream = *m_open->stream;
        const qint64 earliest = writesAgain ? stream.firstRewritableFrame() : 0;
        if (state.lastReport.heardInNs < 0)
            return earliest;
        const qint64 rate = m_open->feed.player->format().sampleRate;
        const qint64 reportHeardAtNs = state.lastReport.atNs + state.lastReport.heardInNs;
        const qint64 wanted = state.lastReport.frame + (dueNs + heardDelayNs(state) - reportHeardAtNs) * rate / 1'000'000'000;
        if (!writesAgain)
            return std::max(earliest, wanted);
        const qint64 heardNow = state.lastReport.frame + (monotonicNowNs() - reportHeardAtNs) * rate / 1'000'000'000;
        return std::max(heardNow, wanted);
    }

    qint64 heardDelayNs(const FeedState &state)
    {
        return placementLatencyNs(state) + heardAfterNs(state) + m_grid.shiftNs();
    }

    // How long after the clock's time for a frame it is heard: measured
    // where the stream reports it, estimated where it cannot.
    qint64 heardAfterNs(const FeedState &state) const
    {
        if (state.heardClock)
            return 0;
        return state.measuredHeardAfterNs != kNotMeasured ? state.measuredHeardAfterNs
                                                          : m_open->stream->estimatedHeardInNs();
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
        std::unique_ptr<WavePlayer> player;
        if (m_kept.player && m_kept.player->format().sampleRate == format.sampleRate
            && m_kept.player->format().channels == format.channels) {
            player = std::move(m_kept.player);
            player->restartStream();
        } else {
            player = std::make_unique<WavePlayer>(format);
        }
        feed.setUp(std::move(player), m_kept.driftNsPerS, opened->stream->tellsHeardTime());
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
            const WaitingSound waiting = *std::exchange(m_waiting, std::nullopt);
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
        return m_state == SoundOutputState::Open && !m_open->feed.published().heardClock && ownStreamWanted();
    }

    // A session on SDL's output moves to the system's own stream once that
    // opens, at a click for which nothing is scheduled on SDL's: each click
    // plays on one of them. The session's grid and delay start anew there;
    // SDL's stream plays out what it has begun, then closes.
    void takeBetterStream()
    {
        if (!m_betterStream || m_state != SoundOutputState::Open)
            return;
        if (m_open->feed.published().hasScheduled)
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
            m_kept.driftNsPerS = closing->feed.published().clock.driftNsPerS();
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
    // Nothing to retry: no session, or one on the system's own stream.
    bool hasBestStream() const { return !m_held || (m_state == SoundOutputState::Open && !isFallback()); }

    void retryUntilBestOpen()
    {
        if (hasBestStream())
            return;
        if (!m_retry) {
            m_retry = new QTimer(QCoreApplication::instance());
            m_retry->setInterval(kRetryMs);
            QObject::connect(m_retry, &QTimer::timeout, [this] {
                if (hasBestStream()) {
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
        const bool silent = m_open->feed.published().silent;
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
    struct WaitingSound
    {
        QByteArray image;
        qint64 dueNs = 0;
    };
    std::optional<WaitingSound> m_waiting; // the last sound asked for while the stream opens
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
