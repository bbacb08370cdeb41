// The stream on a PulseAudio server (or PipeWire's PulseAudio server),
// through libpulse's threaded main loop. The server asks for output when its
// buffer for the stream runs low, as steadily as the device consumes it;
// after each write the stream notes the frames written so far, and how long
// the last of them takes to be heard, from the server's own timing report
// (interpolated between reports): the server's buffer and the device's latency. (The server's interpolated
// playing position would give the heard frame directly, but it moves in
// steps at each timing report, too unevenly for the clock's rate fit.)
// Output it has written but the server has not read yet can be written
// again: a Stop takes back the clicks the server holds, and a session's
// first click, placed before the stream's timing is known, lands in the
// buffer the server already holds instead of waiting behind it. A report the
// server cannot make (the stream refills after an underflow) is asked for
// again at once.
//
// The connection is made when the stream opens, corked (ahead of a session,
// or when it starts), and dropped when the stream closes. A corked stream
// writes nothing. A server that does not answer within kConnectTimeoutMs
// counts as none. A server that goes away makes the stream lost; it is not
// reconnected here.
#include "sound/sound_stream.h"

#include "system/monotonic_clock.h"

#include <pulse/pulseaudio.h>
#include <pulse/rtclock.h>

#include <algorithm>
#include <atomic>
#include <string>

namespace {

constexpr int kRate = 44100;
constexpr int kChannels = 2;
constexpr int kFrameBytes = kChannels * int(sizeof(float));
// The server's buffer for the stream, the device's latency included (the
// stream asks the server to adjust the device to it), how much the server
// asks for at a time, and how far ahead of the server's reading a click is
// written into that buffer (the write takes a few milliseconds to arrive).
struct BufferSizes
{
    int bufferMs;
    int requestMs;
    int rewriteMarginMs;
};
// PulseAudio: the stream wakes about 30 times a second, and a click is heard
// about 40 ms after its beat was due (55 ms when Brisquet plays alone: the
// device then keeps 20 ms). PulseAudio takes back from the device what it
// already read, should a click come later than the margin.
constexpr BufferSizes kPulseAudioSizes{200, 80, 20};
// PipeWire's PulseAudio server makes the request its graph's cycle and takes
// up to a cycle at a time, and it cannot take back what the graph read. With
// 30 to 80 ms requests and no other stream playing, the light wandered by
// ±20 ms around its click, so PipeWire gets small sizes: the stream wakes
// about 67 times a second, a click is heard about 46 ms after its beat. (The
// server's own choice of request, 10 ms, cost twice the CPU; 20 ms requests
// in a 40 ms buffer made PulseAudio's null sink run 1800 ppm fast.)
constexpr BufferSizes kPipeWireSizes{40, 15, 20};
// Opening runs on the sound output's worker, not the window's thread: a
// server slow to answer (still starting, or held up) is waited for, rather
// than passed over for SDL's output, which would wait on the same server
// and then hold the session on a stream that cannot tell when it is heard.
constexpr int kConnectTimeoutMs = 10000;
// A start waits this long at most for the server to confirm it.
constexpr int kStartTimeoutMs = 100;
// While the stream's timing is not known, the server is asked for it at most this often.
constexpr qint64 kTimingAskNs = 20'000'000;

class PulseStream final : public SoundStream
{
public:
    explicit PulseStream(StreamFeed &feed) : m_feed(feed) {}

    ~PulseStream() override
    {
        if (!m_loop)
            return;
        pa_threaded_mainloop_stop(m_loop); // no callback runs after this
        if (m_stream) {
            pa_stream_set_write_callback(m_stream, nullptr, nullptr);
            pa_stream_set_state_callback(m_stream, nullptr, nullptr);
            pa_stream_disconnect(m_stream);
            pa_stream_unref(m_stream);
        }
        if (m_context) {
            pa_context_set_state_callback(m_context, nullptr, nullptr);
            pa_context_disconnect(m_context);
            pa_context_unref(m_context);
        }
        pa_threaded_mainloop_free(m_loop);
    }

    bool open(const char *appName)
    {
        m_loop = pa_threaded_mainloop_new();
        if (!m_loop)
            return false;
        pa_proplist *properties = pa_proplist_new();
        pa_proplist_sets(properties, PA_PROP_APPLICATION_NAME, appName);
        pa_proplist_sets(properties, PA_PROP_MEDIA_ROLE, "music");
        m_context = pa_context_new_with_proplist(pa_threaded_mainloop_get_api(m_loop), appName, properties);
        pa_proplist_free(properties);
        if (!m_context)
            return false;
        pa_context_set_state_callback(m_context, &PulseStream::onContextState, this);
        // No autospawn: a server that is not running is no server.
        if (pa_context_connect(m_context, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0)
            return false;
        if (pa_threaded_mainloop_start(m_loop) < 0)
            return false;

        pa_threaded_mainloop_lock(m_loop);
        const bool ready = waitFor([this] {
            const pa_context_state_t state = pa_context_get_state(m_context);
            return state == PA_CONTEXT_READY || !PA_CONTEXT_IS_GOOD(state);
        }) && pa_context_get_state(m_context) == PA_CONTEXT_READY;
        const bool opened = ready && openStream(appName, askServersSizes());
        pa_threaded_mainloop_unlock(m_loop);
        return opened;
    }

    OutputFormat format() const override { return {kRate, kChannels}; }

    // The stream may have waited corked for a long while; it plays from the
    // moment it is uncorked. Waits (at most kStartTimeoutMs) for the server
    // to say so and for its timing then, so that the first report, and the
    // first click placed by it, tells when the stream is really heard.
    void start() override
    {
        pa_threaded_mainloop_lock(m_loop);
        m_started = true;
        // The server's requests so far went unanswered: answer them now.
        if (const size_t writable = pa_stream_writable_size(m_stream); writable != size_t(-1) && writable > 0)
            write(writable);
        const auto signalLoop = [](pa_stream *, int, void *userdata) {
            pa_threaded_mainloop_signal(static_cast<PulseStream *>(userdata)->m_loop, 0);
        };
        for (pa_operation *op : {pa_stream_cork(m_stream, 0, signalLoop, this),
                                 pa_stream_update_timing_info(m_stream, signalLoop, this)}) {
            if (!op)
                continue;
            waitFor([op] { return pa_operation_get_state(op) != PA_OPERATION_RUNNING; }, kStartTimeoutMs);
            pa_operation_cancel(op); // no callback after this, done or not
            pa_operation_unref(op);
        }
        report();
        pa_threaded_mainloop_unlock(m_loop);
    }

    void lock() override { pa_threaded_mainloop_lock(m_loop); }
    void unlock() override { pa_threaded_mainloop_unlock(m_loop); }
    bool isLost() const override { return m_lost.load(std::memory_order_relaxed); }
    bool tellsHeardTime() const override { return true; }
    qint64 estimatedHeardInNs() const override
    {
        const qint64 reported = m_reportedLatencyNs.load(std::memory_order_relaxed);
        return reported >= 0 ? reported : m_targetLatencyNs;
    }
    qint64 leadNs() const override { return m_leadNs; }

    bool canRewrite() const override { return !isLost(); }

    // With the lock held: the output from frame to what was written is
    // written again at its place; the server replaces what it had not read
    // yet (and takes back from the device what it had, where it can).
    void rewriteFrom(qint64 frame) override
    {
        // Counted back from the server's write index rather than at an
        // absolute place: the server's index need not be Brisquet's count.
        qint64 backBytes = (m_written - frame) * kFrameBytes;
        while (!m_lost && frame < m_written) {
            size_t bytes = size_t(m_written - frame) * kFrameBytes;
            void *data = nullptr;
            if (pa_stream_begin_write(m_stream, &data, &bytes) < 0 || !data)
                return;
            // The server's memory blocks may hold less than was asked for.
            const int frames = int(std::min<qint64>(qint64(bytes) / kFrameBytes, m_written - frame));
            m_feed.renderAgain(static_cast<float *>(data), frame, frames);
            if (pa_stream_write(m_stream, data, size_t(frames) * kFrameBytes, nullptr, -backBytes, PA_SEEK_RELATIVE) < 0)
                return;
            backBytes = 0; // the next piece follows this one
            frame += frames;
        }
    }

    // What the server has surely not read: all but the least it keeps,
    // less the margin (all of it while the server holds the stream back).
    qint64 firstRewritableFrame() const override { return std::max<qint64>(0, m_written - m_rewritableFrames); }

private:
    // With the lock held: waits for done(), woken by the callbacks, or by a
    // timer event of the loop's own once timeoutMs have passed.
    template <typename Condition>
    bool waitFor(Condition done, int timeoutMs = kConnectTimeoutMs)
    {
        m_timedOut = false;
        pa_time_event *timeout = pa_context_rttime_new(
            m_context, pa_rtclock_now() + pa_usec_t(timeoutMs) * 1000,
            [](pa_mainloop_api *, pa_time_event *, const struct timeval *, void *userdata) {
                auto *self = static_cast<PulseStream *>(userdata);
                self->m_timedOut = true;
                pa_threaded_mainloop_signal(self->m_loop, 0);
            },
            this);
        while (!done() && !m_timedOut)
            pa_threaded_mainloop_wait(m_loop);
        if (timeout)
            pa_threaded_mainloop_get_api(m_loop)->time_free(timeout);
        return done();
    }

    // With the lock held: the sizes for the server that answered (PipeWire's
    // where the server does not say what it is).
    BufferSizes askServersSizes()
    {
        pa_operation *op = pa_context_get_server_info(
            m_context,
            [](pa_context *, const pa_server_info *info, void *userdata) {
                auto *self = static_cast<PulseStream *>(userdata);
                self->m_serverName = info && info->server_name ? info->server_name : "";
                self->m_serverAnswered = true;
                pa_threaded_mainloop_signal(self->m_loop, 0);
            },
            this);
        if (!op)
            return kPipeWireSizes;
        const bool answered = waitFor([this] { return m_serverAnswered; });
        pa_operation_cancel(op); // no callback after this, answered or not
        pa_operation_unref(op);
        // PipeWire's server calls itself "PulseAudio (on PipeWire 0.3.65)".
        if (!answered || m_serverName.empty() || m_serverName.find("PipeWire") != std::string::npos)
            return kPipeWireSizes;
        return kPulseAudioSizes;
    }

    bool openStream(const char *appName, const BufferSizes &sizes)
    {
        const pa_sample_spec sampleFormat{PA_SAMPLE_FLOAT32NE, kRate, kChannels};
        m_stream = pa_stream_new(m_context, appName, &sampleFormat, nullptr);
        if (!m_stream)
            return false;
        pa_stream_set_state_callback(m_stream, &PulseStream::onStreamState, this);
        pa_stream_set_write_callback(m_stream, &PulseStream::onWrite, this);
        pa_buffer_attr attributes;
        attributes.maxlength = uint32_t(-1);
        attributes.tlength = uint32_t(kRate * sizes.bufferMs / 1000 * kFrameBytes);
        attributes.prebuf = uint32_t(-1);
        attributes.minreq = uint32_t(kRate * sizes.requestMs / 1000 * kFrameBytes);
        attributes.fragsize = uint32_t(-1);
        const auto flags = pa_stream_flags_t(PA_STREAM_START_CORKED | PA_STREAM_ADJUST_LATENCY
                                             | PA_STREAM_INTERPOLATE_TIMING
                                             | PA_STREAM_AUTO_TIMING_UPDATE);
        if (pa_stream_connect_playback(m_stream, nullptr, &attributes, flags, nullptr, nullptr) < 0)
            return false;
        if (!waitFor([this] {
                const pa_stream_state_t state = pa_stream_get_state(m_stream);
                return state == PA_STREAM_READY || !PA_STREAM_IS_GOOD(state);
            })
            || pa_stream_get_state(m_stream) != PA_STREAM_READY)
            return false;
        if (const pa_buffer_attr *obtained = pa_stream_get_buffer_attr(m_stream)) {
            // A frame is written when the server's buffer has room for it,
            // a buffer ahead of the server's reading.
            const qint64 bufferNs = qint64(obtained->tlength / kFrameBytes) * 1'000'000'000 / kRate;
            m_leadNs = qint64(sizes.rewriteMarginMs) * 1'000'000 - bufferNs;
            // Between requests the server's buffer runs down by a request.
            m_rewritableFrames = qint64(obtained->tlength / kFrameBytes) - qint64(obtained->minreq / kFrameBytes)
                - qint64(kRate) * sizes.rewriteMarginMs / 1000;
            m_targetLatencyNs = bufferNs;
        }
        return true;
    }

    static void onContextState(pa_context *context, void *userdata)
    {
        auto *self = static_cast<PulseStream *>(userdata);
        if (!PA_CONTEXT_IS_GOOD(pa_context_get_state(context)))
            self->m_lost.store(true, std::memory_order_relaxed);
        pa_threaded_mainloop_signal(self->m_loop, 0);
    }

    static void onStreamState(pa_stream *stream, void *userdata)
    {
        auto *self = static_cast<PulseStream *>(userdata);
        if (!PA_STREAM_IS_GOOD(pa_stream_get_state(stream)))
            self->m_lost.store(true, std::memory_order_relaxed);
        pa_threaded_mainloop_signal(self->m_loop, 0);
    }

    // The loop's thread, with the lock held: the server wants bytes more.
    static void onWrite(pa_stream *, size_t bytes, void *userdata)
    {
        auto *self = static_cast<PulseStream *>(userdata);
        if (!self->m_started)
            return; // corked until start(): the server waits
        self->write(bytes);
        self->report();
    }

    // With the lock held.
    void write(size_t bytes)
    {
        // All the server asked for, in as many of its memory blocks as that takes.
        while (bytes >= size_t(kFrameBytes)) {
            size_t chunk = bytes;
            void *data = nullptr;
            if (pa_stream_begin_write(m_stream, &data, &chunk) < 0 || !data)
                return;
            const int frames = int(std::min(chunk, bytes) / kFrameBytes);
            if (frames == 0) {
                pa_stream_cancel_write(m_stream);
                return;
            }
            m_feed.render(static_cast<float *>(data), frames);
            if (pa_stream_write(m_stream, data, size_t(frames) * kFrameBytes, nullptr, 0, PA_SEEK_RELATIVE) < 0)
                return;
            m_written += frames;
            bytes -= size_t(frames) * kFrameBytes;
        }
    }

    // With the lock held: how long the last frame written takes to be heard:
    // the server's buffer and the device's latency, from the server's own
    // timing; not known while the server does not play the stream yet.
    void report()
    {
        pa_usec_t latencyUs = 0;
        int negative = 0;
        const pa_timing_info *timing = pa_stream_get_timing_info(m_stream);
        // A latency of nothing is a server that reads what it has not been
        // given yet (after an underflow): not known either.
        const bool known = timing && timing->playing && pa_stream_get_latency(m_stream, &latencyUs, &negative) == 0
            && !negative && latencyUs > 0;
        const qint64 latencyNs = known ? qint64(latencyUs) * 1000 : -1;
        if (known)
            m_reportedLatencyNs.store(latencyNs, std::memory_order_relaxed);
        m_feed.noteTiming(monotonicNowNs(), m_written, latencyNs);
        // Not known (the stream refills after an underrun, or a write at a
        // place of its own left libpulse without a write index): the server
        // is asked at once, not at its next automatic update, up to 1.5 s
        // away, so the clock learns soon where the stream is heard now.
        const qint64 nowNs = monotonicNowNs();
        if (!known && m_started && !m_timingAsked && nowNs - m_timingAskedAtNs >= kTimingAskNs) {
            m_timingAskedAtNs = nowNs;
            if (pa_operation *op = pa_stream_update_timing_info(
                    m_stream,
                    [](pa_stream *, int, void *userdata) {
                        auto *self = static_cast<PulseStream *>(userdata);
                        self->m_timingAsked = false;
                        self->report();
                    },
                    this)) {
                m_timingAsked = true;
                pa_operation_unref(op);
            }
        }
    }

    StreamFeed &m_feed;
    pa_threaded_mainloop *m_loop = nullptr;
    pa_context *m_context = nullptr;
    pa_stream *m_stream = nullptr;
    bool m_started = false;    // with the lock
    bool m_timedOut = false;   // with the lock
    bool m_timingAsked = false; // a timing update is on its way, with the lock
    qint64 m_timingAskedAtNs = 0; // when the last was asked for, with the lock
    bool m_serverAnswered = false; // with the lock
    std::string m_serverName;      // with the lock
    qint64 m_written = 0;      // frames handed to the server, with the lock
    qint64 m_leadNs = 0;
    qint64 m_rewritableFrames = 0; // the last of what was written that the server has surely not read
    std::atomic<bool> m_lost{false};
    qint64 m_targetLatencyNs = 0; // until the server's first timing report
    std::atomic<qint64> m_reportedLatencyNs{-1}; // the last one's, -1 before
};

} // namespace

std::unique_ptr<SoundStream> openPulseStream(StreamFeed &feed, const char *appName)
{
    auto stream = std::make_unique<PulseStream>(feed);
    if (!stream->open(appName))
        return nullptr;
    return stream;
}
