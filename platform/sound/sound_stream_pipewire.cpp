// The stream on a PipeWire server, through PipeWire's own client API: a
// playback pw_stream whose output is made on PipeWire's realtime data thread,
// once a graph cycle, and handed to the graph in the same cycle. It asks the
// graph for cycles of kCycleLatency, so with nothing else playing it wakes
// about 47 times a second and only that one thread wakes. After each cycle's
// output it notes the frames written so far, and how long the next one takes
// to be heard, from the stream's time report: what is queued, what the
// converter holds, and the graph's and device's delay (device_position.h).
// The stream runs at the graph's rate, so the converter does not resample.
// What the graph was handed cannot be taken back: a Stop drops every click
// not handed over yet, and a cycle ahead is all that is handed over.
//
// It opens only where a PipeWire server answers and has an audio sink; a
// PipeWire that carries only video, beside a PulseAudio server, is not asked
// to play. A server that goes away, or a stream the server ends, makes the
// stream lost; it is not reconnected here. When the default sink changes,
// the session manager moves the stream to it.
#include "sound/device_position.h"
#include "sound/sound_stream.h"

#include "system/monotonic_clock.h"

#include <pipewire/pipewire.h>
#include <spa/param/audio/format-utils.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace {

constexpr int kChannels = 2;
constexpr int kFrameBytes = kChannels * int(sizeof(float));
// The graph's cycle Brisquet asks for, as PipeWire writes a latency: 1024
// frames at 48 kHz, 21.3 ms. What a cycle is given starts to sound when the
// cycle does (plus a sound card's own buffer), so a Stop pressed 30 ms
// before a light still keeps its click out; with 2048 frames about a third
// of those clicks would sound. Shorter cycles wake the process more often
// for nothing a user hears.
constexpr char kCycleLatency[] = "1024/48000";
constexpr qint64 kCycleNs = 1024 * 1'000'000'000LL / 48000;
// Where the server does not say its graph's rate: PipeWire's default.
constexpr int kUsualGraphRate = 48000;
// How long opening waits for the server's answers, and a start for the
// first cycle. Opening runs on the sound output's worker: a server slow to
// answer (held up, or still starting) is waited for rather than passed over
// for a client of lesser kind that would wait on the same server.
constexpr int kConnectTimeoutMs = 10000;
constexpr int kStartTimeoutMs = 100;

class PipeWireStream final : public SoundStream
{
public:
    explicit PipeWireStream(StreamFeed &feed) : m_feed(feed) { pw_init(nullptr, nullptr); }

    ~PipeWireStream() override
    {
        if (m_loop) {
            pw_thread_loop_lock(m_loop);
            if (m_stream)
                pw_stream_destroy(m_stream); // the data thread calls nothing after this
            if (m_core)
                pw_core_disconnect(m_core);
            pw_thread_loop_unlock(m_loop);
            pw_thread_loop_stop(m_loop);
            if (m_context)
                pw_context_destroy(m_context);
            pw_thread_loop_destroy(m_loop);
        }
        pw_deinit();
    }

    bool open(const char *appName)
    {
        m_loop = pw_thread_loop_new("brisquet-pw", nullptr);
        if (!m_loop)
            return false;
        // client-rt.conf, as PipeWire's own clients: its real-time module
        // makes the data thread real-time where the system allows it
        // (through RTKit, or the process's own limits), so a busy machine
        // does not hold up a cycle's output.
        m_context = pw_context_new(pw_thread_loop_get_loop(m_loop),
                                   pw_properties_new(PW_KEY_CONFIG_NAME, "client-rt.conf", nullptr), 0);
        if (!m_context || pw_thread_loop_start(m_loop) < 0)
            return false;
        pw_thread_loop_lock(m_loop);
        const bool opened = connect() && hasAudioSink() && openStream(appName);
        pw_thread_loop_unlock(m_loop);
        return opened;
    }

    OutputFormat format() const override { return {m_rate, kChannels}; }

    // Waits (at most kStartTimeoutMs) for the first cycle's report, so the
    // first click is placed by when the stream is really heard.
    void start() override
    {
        pw_thread_loop_lock(m_loop);
        pw_stream_set_active(m_stream, true);
        waitFor([this] { return m_firstCycleDone.load(std::memory_order_acquire) || isLost(); }, kStartTimeoutMs);
        pw_thread_loop_unlock(m_loop);
    }

    // Nothing to lock: the stream cannot write again, and the feed takes
    // the window's requests without a lock.
    void lock() override {}
    void unlock() override {}
    bool isLost() const override { return m_lost.load(std::memory_order_relaxed); }
    bool tellsHeardTime() const override { return true; }
    qint64 estimatedHeardInNs() const override
    {
        const qint64 reported = m_lastHeardInNs.load(std::memory_order_relaxed);
        return reported >= 0 ? reported : 2 * kCycleNs;
    }
    // A click must fall beyond what one cycle hands over.
    qint64 leadNs() const override { return kCycleNs; }
    bool canRewrite() const override { return false; }
    void rewriteFrom(qint64) override {}
    // No floor: a sound placed on a frame already taken starts at the next one.
    qint64 firstRewritableFrame() const override { return 0; }

private:
    // With the loop's lock held: waits for done(), woken by the loop's
    // callbacks, for at most timeoutMs.
    template <typename Condition>
    bool waitFor(Condition done, int timeoutMs = kConnectTimeoutMs)
    {
        timespec until{};
        pw_thread_loop_get_time(m_loop, &until, qint64(timeoutMs) * 1'000'000);
        while (!done()) {
            if (pw_thread_loop_timed_wait_full(m_loop, &until) == -ETIMEDOUT)
                return done();
        }
        return true;
    }

    // With the lock held. No server: no stream (libpulse or SDL then plays).
    bool connect()
    {
        m_core = pw_context_connect(m_context, nullptr, 0);
        if (!m_core)
            return false;
        static const pw_core_events coreEvents = [] {
            pw_core_events events{};
            events.version = PW_VERSION_CORE_EVENTS;
            events.info = &PipeWireStream::onCoreInfo;
            events.done = &PipeWireStream::onCoreDone;
            events.error = &PipeWireStream::onCoreError;
            return events;
        }();
        pw_core_add_listener(m_core, &m_coreListener, &coreEvents, this);
        return true;
    }

    // With the lock held: whether the server lists an audio sink, once it
    // has told everything it has (a round trip).
    bool hasAudioSink()
    {
        pw_registry *registry = pw_core_get_registry(m_core, PW_VERSION_REGISTRY, 0);
        if (!registry)
            return false;
        static const pw_registry_events registryEvents = [] {
            pw_registry_events events{};
            events.version = PW_VERSION_REGISTRY_EVENTS;
            events.global = &PipeWireStream::onGlobal;
            return events;
        }();
        spa_hook listener{};
        pw_registry_add_listener(registry, &listener, &registryEvents, this);
        m_syncSeq = pw_core_sync(m_core, PW_ID_CORE, 0);
        waitFor([this] { return m_synced || isLost(); });
        // Nothing more to learn from the list: stop being told of every change.
        spa_hook_remove(&listener);
        pw_proxy_destroy(reinterpret_cast<pw_proxy *>(registry));
        return m_synced && m_sinkSeen && !isLost();
    }

    bool openStream(const char *appName)
    {
        pw_properties *properties = pw_properties_new(
            PW_KEY_MEDIA_TYPE, "Audio", PW_KEY_MEDIA_CATEGORY, "Playback", PW_KEY_MEDIA_ROLE, "Music",
            PW_KEY_APP_NAME, appName, PW_KEY_NODE_NAME, appName, PW_KEY_NODE_LATENCY, kCycleLatency, nullptr);
        m_stream = pw_stream_new(m_core, appName, properties); // takes the properties
        if (!m_stream)
            return false;
        static const pw_stream_events streamEvents = [] {
            pw_stream_events events{};
            events.version = PW_VERSION_STREAM_EVENTS;
            events.state_changed = &PipeWireStream::onStreamState;
            events.process = &PipeWireStream::onProcess;
            return events;
        }();
        pw_stream_add_listener(m_stream, &m_streamListener, &streamEvents, this);

        // Stereo float at the graph's rate: resampling in the stream would
        // cost more than the clicks themselves.
        if (m_rate <= 0)
            m_rate = kUsualGraphRate;
        m_cycleFrames = int(m_rate * kCycleNs / 1'000'000'000);
        spa_audio_info_raw wanted{};
        wanted.format = SPA_AUDIO_FORMAT_F32;
        wanted.rate = uint32_t(m_rate);
        wanted.channels = kChannels;
        wanted.position[0] = SPA_AUDIO_CHANNEL_FL;
        wanted.position[1] = SPA_AUDIO_CHANNEL_FR;
        uint8_t podMemory[512];
        spa_pod_builder builder{};
        spa_pod_builder_init(&builder, podMemory, sizeof podMemory);
        const spa_pod *params[] = {spa_format_audio_raw_build(&builder, SPA_PARAM_EnumFormat, &wanted)};
        // Inactive until start(): connected, but the graph does not run it.
        const auto flags = pw_stream_flags(PW_STREAM_FLAG_AUTOCONNECT | PW_STREAM_FLAG_MAP_BUFFERS
                                           | PW_STREAM_FLAG_RT_PROCESS | PW_STREAM_FLAG_INACTIVE);
        if (pw_stream_connect(m_stream, PW_DIRECTION_OUTPUT, PW_ID_ANY, flags, params, 1) < 0)
            return false;
        return waitFor([this] {
                   const pw_stream_state state = pw_stream_get_state(m_stream, nullptr);
                   return state == PW_STREAM_STATE_PAUSED || state == PW_STREAM_STATE_STREAMING || isLost();
               })
            && !isLost();
    }

    // The graph's rate as the server has it set, once connected.
    static void onCoreInfo(void *userdata, const pw_core_info *info)
    {
        auto *self = static_cast<PipeWireStream *>(userdata);
        const char *rate = info && info->props ? spa_dict_lookup(info->props, "default.clock.rate") : nullptr;
        if (rate)
            self->m_rate = std::atoi(rate);
    }

    static void onCoreDone(void *userdata, uint32_t id, int seq)
    {
        auto *self = static_cast<PipeWireStream *>(userdata);
        if (id == PW_ID_CORE && seq == self->m_syncSeq) {
            self->m_synced = true;
            pw_thread_loop_signal(self->m_loop, false);
        }
    }

    // The server went away (or refused the connection).
    static void onCoreError(void *userdata, uint32_t id, int, int result, const char *)
    {
        auto *self = static_cast<PipeWireStream *>(userdata);
        if (id == PW_ID_CORE && result == -EPIPE) {
            self->m_lost.store(true, std::memory_order_relaxed);
            pw_thread_loop_signal(self->m_loop, false);
        }
    }

    static void onGlobal(void *userdata, uint32_t, uint32_t, const char *type, uint32_t, const spa_dict *props)
    {
        auto *self = static_cast<PipeWireStream *>(userdata);
        if (!props || std::strcmp(type, PW_TYPE_INTERFACE_Node) != 0)
            return;
        const char *mediaClass = spa_dict_lookup(props, PW_KEY_MEDIA_CLASS);
        if (mediaClass && std::strcmp(mediaClass, "Audio/Sink") == 0)
            self->m_sinkSeen = true;
    }

    static void onStreamState(void *userdata, pw_stream_state, pw_stream_state state, const char *)
    {
        auto *self = static_cast<PipeWireStream *>(userdata);
        if (state == PW_STREAM_STATE_ERROR || state == PW_STREAM_STATE_UNCONNECTED)
            self->m_lost.store(true, std::memory_order_relaxed);
        pw_thread_loop_signal(self->m_loop, false);
    }

    // The data thread, once a graph cycle: this cycle's output, then its timing.
    static void onProcess(void *userdata)
    {
        auto *self = static_cast<PipeWireStream *>(userdata);
        pw_buffer *buffer = pw_stream_dequeue_buffer(self->m_stream);
        if (!buffer)
            return;
        spa_data &data = buffer->buffer->datas[0];
        int frames = 0;
        if (data.data) {
            const int room = int(data.maxsize / kFrameBytes);
            frames = std::min(room, buffer->requested > 0 ? int(buffer->requested) : self->m_cycleFrames);
            self->m_feed.render(static_cast<float *>(data.data), frames);
            self->m_written += frames;
        }
        data.chunk->offset = 0;
        data.chunk->stride = kFrameBytes;
        data.chunk->size = uint32_t(frames * kFrameBytes);
        buffer->size = uint64_t(frames); // the queue is counted in frames
        pw_stream_queue_buffer(self->m_stream, buffer);

        pw_time time{};
        const bool timed = pw_stream_get_time_n(self->m_stream, &time, sizeof time) == 0;
        const qint64 nowNs = monotonicNowNs();
        PipeWireTimeReport report;
        report.reportNs = time.now;
        report.nowNs = nowNs;
        report.graphRateNum = time.rate.num;
        report.graphRateDenom = time.rate.denom;
        report.delayTicks = time.delay;
        report.queuedFrames = qint64(time.queued);
        report.bufferedFrames = qint64(time.buffered);
        report.streamRate = self->m_rate;
        const qint64 heardInNs = timed ? heardInNsFromReport(report) : -1;
        if (heardInNs >= 0)
            self->m_lastHeardInNs.store(heardInNs, std::memory_order_relaxed);
        self->m_feed.noteTiming(nowNs, self->m_written, heardInNs);
        if (!self->m_firstCycleDone.exchange(true, std::memory_order_acq_rel))
            pw_thread_loop_signal(self->m_loop, false); // start() waits for the first
    }

    StreamFeed &m_feed;
    pw_thread_loop *m_loop = nullptr;
    pw_context *m_context = nullptr;
    pw_core *m_core = nullptr;
    pw_stream *m_stream = nullptr;
    spa_hook m_coreListener{};
    spa_hook m_streamListener{};
    int m_syncSeq = -1;     // with the loop's lock
    bool m_synced = false;  // with the loop's lock
    bool m_sinkSeen = false; // with the loop's lock
    std::atomic<bool> m_lost{false};
    std::atomic<bool> m_firstCycleDone{false};
    std::atomic<qint64> m_lastHeardInNs{-1};
    int m_rate = 0; // the graph's (with the loop's lock until open() returns; read-only after)
    int m_cycleFrames = 0; // a cycle at m_rate, where the graph does not say what it wants
    qint64 m_written = 0; // frames handed to the graph; the data thread's
};

} // namespace

std::unique_ptr<SoundStream> openPipeWireStream(StreamFeed &feed, const char *appName)
{
    auto stream = std::make_unique<PipeWireStream>(feed);
    if (!stream->open(appName))
        return nullptr;
    return stream;
}
