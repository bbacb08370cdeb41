// The stream on a PipeWire server, through its own client library: a
// pw_stream that the graph calls once a cycle on PipeWire's real-time data
// thread, asking the graph for kLatencyFrames a cycle (node.latency). Each
// call renders what the graph asks for, queues it, and reports how long the
// last frame takes to be heard from the graph's time report (queued and
// converter frames, and the delay to the device). What the graph has taken
// cannot be written again: a Stop drops every click not rendered yet, which
// is at most a cycle and the device's delay ahead of the speaker.
//
// It opens only where the server has an audio sink (a PipeWire that handles
// video alone leaves the clicks to PulseAudio), and lets the session
// manager link it to the default sink and move it when the default changes.
// A server that goes away or an error on the stream makes the stream lost;
// it is not reconnected here. PIPEWIRE_REMOTE, PipeWire's own variable,
// names another server (or none, so that the PulseAudio client plays).
#include "sound/sound_stream.h"

#include "sound/heard_time.h"
#include "system/monotonic_clock.h"

#include <pipewire/pipewire.h>
#include <spa/param/audio/format-utils.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <mutex>

namespace {

constexpr int kRate = 44100;
constexpr int kChannels = 2;
constexpr int kFrameBytes = kChannels * int(sizeof(float));
// The graph's cycle Brisquet asks for, in frames: 512 at 44.1 kHz, 11.6 ms.
// A click is rendered one cycle and the device's delay before it sounds, so
// the cycle bounds what a Stop can no longer take back; larger cycles wake
// the stream less often (see docs/timing.md for the sizes measured).
constexpr int kLatencyFrames = 512;
// How long opening waits for the server's answers.
constexpr int kConnectTimeoutS = 2;

class PipeWireStream final : public SoundStream
{
public:
    explicit PipeWireStream(StreamFeed &feed) : m_feed(feed) {}

    ~PipeWireStream() override
    {
        if (!m_loop)
            return;
        pw_thread_loop_stop(m_loop);
        if (m_stream)
            pw_stream_destroy(m_stream); // no process call after this
        if (m_registry)
            pw_proxy_destroy(reinterpret_cast<pw_proxy *>(m_registry));
        if (m_core)
            pw_core_disconnect(m_core);
        if (m_context)
            pw_context_destroy(m_context);
        pw_thread_loop_destroy(m_loop);
    }

    bool open(const char *appName)
    {
        static std::once_flag initialized;
        std::call_once(initialized, [] { pw_init(nullptr, nullptr); });
        m_loop = pw_thread_loop_new("brisquet-pipewire", nullptr);
        if (!m_loop)
            return false;
        m_context = pw_context_new(pw_thread_loop_get_loop(m_loop), nullptr, 0);
        if (!m_context || pw_thread_loop_start(m_loop) < 0)
            return false;
        pw_thread_loop_lock(m_loop);
        const bool opened = connect() && hasAudioSink() && openStream(appName);
        pw_thread_loop_unlock(m_loop);
        return opened;
    }

    OutputFormat format() const override { return {kRate, kChannels}; }

    void start() override
    {
        pw_thread_loop_lock(m_loop);
        pw_stream_set_active(m_stream, true);
        pw_thread_loop_unlock(m_loop);
    }

    void lock() override { m_lock.lock(); }
    void unlock() override { m_lock.unlock(); }
    bool isLost() const override { return m_lost.load(std::memory_order_relaxed); }
    // The graph's last report; before it, two cycles.
    qint64 estimatedHeardInNs() const override
    {
        const qint64 reported = m_lastHeardInNs.load(std::memory_order_relaxed);
        return reported >= 0 ? reported : 2 * m_cycleNs.load(std::memory_order_relaxed);
    }
    // A click must fall beyond what one cycle renders.
    qint64 leadNs() const override { return m_cycleNs.load(std::memory_order_relaxed); }
    bool canRewrite() const override { return false; }
    void rewriteFrom(qint64) override {}
    qint64 firstRewritableFrame() const override { return 0; } // never asked: cannot rewrite

private:
    // With the loop's lock held.
    bool connect()
    {
        m_core = pw_context_connect(m_context, nullptr, 0);
        if (!m_core)
            return false; // no server
        static const pw_core_events coreEvents = [] {
            pw_core_events events{};
            events.version = PW_VERSION_CORE_EVENTS;
            events.done = &PipeWireStream::onCoreDone;
            events.error = &PipeWireStream::onCoreError;
            return events;
        }();
        pw_core_add_listener(m_core, &m_coreListener, &coreEvents, this);
        return true;
    }

    // With the loop's lock held: whether the server lists an audio sink,
    // from one round trip through its registry.
    bool hasAudioSink()
    {
        m_registry = pw_core_get_registry(m_core, PW_VERSION_REGISTRY, 0);
        static const pw_registry_events registryEvents = [] {
            pw_registry_events events{};
            events.version = PW_VERSION_REGISTRY_EVENTS;
            events.global = &PipeWireStream::onGlobal;
            return events;
        }();
        pw_registry_add_listener(m_registry, &m_registryListener, &registryEvents, this);
        m_pendingSync = pw_core_sync(m_core, PW_ID_CORE, 0);
        if (m_pendingSync < 0)
            return false;
        return waitFor([this] { return m_pendingSync == -1; }) && m_hasAudioSink;
    }

    bool openStream(const char *appName)
    {
        char latency[32];
        std::snprintf(latency, sizeof latency, "%d/%d", kLatencyFrames, kRate);
        pw_properties *properties =
            pw_properties_new(PW_KEY_MEDIA_TYPE, "Audio", PW_KEY_MEDIA_CATEGORY, "Playback", PW_KEY_MEDIA_ROLE,
                              "Music", PW_KEY_APP_NAME, appName, PW_KEY_NODE_LATENCY, latency, nullptr);
        m_stream = pw_stream_new(m_core, appName, properties);
        if (!m_stream)
            return false;
        static const pw_stream_events streamEvents = [] {
            pw_stream_events events{};
            events.version = PW_VERSION_STREAM_EVENTS;
            events.state_changed = &PipeWireStream::onStateChanged;
            events.process = &PipeWireStream::onProcess;
            return events;
        }();
        pw_stream_add_listener(m_stream, &m_streamListener, &streamEvents, this);

        uint8_t podBuffer[256];
        spa_pod_builder builder = SPA_POD_BUILDER_INIT(podBuffer, sizeof podBuffer);
        spa_audio_info_raw info{};
        info.format = SPA_AUDIO_FORMAT_F32;
        info.rate = kRate;
        info.channels = kChannels;
        info.position[0] = SPA_AUDIO_CHANNEL_FL;
        info.position[1] = SPA_AUDIO_CHANNEL_FR;
        const spa_pod *params[] = {spa_format_audio_raw_build(&builder, SPA_PARAM_EnumFormat, &info)};
        const auto flags = pw_stream_flags(PW_STREAM_FLAG_AUTOCONNECT | PW_STREAM_FLAG_INACTIVE
                                           | PW_STREAM_FLAG_MAP_BUFFERS | PW_STREAM_FLAG_RT_PROCESS);
        if (pw_stream_connect(m_stream, PW_DIRECTION_OUTPUT, PW_ID_ANY, flags, params, 1) < 0)
            return false;
        return waitFor([this] {
                   const pw_stream_state state = pw_stream_get_state(m_stream, nullptr);
                   return state == PW_STREAM_STATE_PAUSED || state == PW_STREAM_STATE_STREAMING
                       || state == PW_STREAM_STATE_ERROR;
               })
            && pw_stream_get_state(m_stream, nullptr) != PW_STREAM_STATE_ERROR;
    }

    // With the loop's lock held: waits for done(), woken by the events, at
    // most kConnectTimeoutS.
    template <typename Condition>
    bool waitFor(Condition done)
    {
        while (!done() && !isLost()) {
            if (pw_thread_loop_timed_wait(m_loop, kConnectTimeoutS) != 0)
                break;
        }
        return done() && !isLost();
    }

    static void onCoreDone(void *data, uint32_t id, int seq)
    {
        auto *self = static_cast<PipeWireStream *>(data);
        if (id == PW_ID_CORE && seq == self->m_pendingSync) {
            self->m_pendingSync = -1;
            pw_thread_loop_signal(self->m_loop, false);
        }
    }

    static void onCoreError(void *data, uint32_t id, int, int, const char *)
    {
        auto *self = static_cast<PipeWireStream *>(data);
        if (id == PW_ID_CORE) { // the connection itself: the server went away
            self->m_lost.store(true, std::memory_order_relaxed);
            pw_thread_loop_signal(self->m_loop, false);
        }
    }

    static void onGlobal(void *data, uint32_t, uint32_t, const char *type, uint32_t, const spa_dict *props)
    {
        auto *self = static_cast<PipeWireStream *>(data);
        if (!props || std::strcmp(type, PW_TYPE_INTERFACE_Node) != 0)
            return;
        const char *mediaClass = spa_dict_lookup(props, PW_KEY_MEDIA_CLASS);
        if (mediaClass && std::strcmp(mediaClass, "Audio/Sink") == 0)
            self->m_hasAudioSink = true;
    }

    static void onStateChanged(void *data, pw_stream_state, pw_stream_state state, const char *)
    {
        auto *self = static_cast<PipeWireStream *>(data);
        if (state == PW_STREAM_STATE_ERROR || state == PW_STREAM_STATE_UNCONNECTED)
            self->m_lost.store(true, std::memory_order_relaxed);
        pw_thread_loop_signal(self->m_loop, false);
    }

    // PipeWire's data thread, once a graph cycle.
    static void onProcess(void *data)
    {
        auto *self = static_cast<PipeWireStream *>(data);
        pw_buffer *buffer = pw_stream_dequeue_buffer(self->m_stream);
        if (!buffer)
            return;
        spa_data &plane = buffer->buffer->datas[0];
        int frames = 0;
        if (plane.data) {
            const int room = int(plane.maxsize / kFrameBytes);
            frames = buffer->requested > 0 ? std::min(room, int(buffer->requested)) : std::min(room, kLatencyFrames);
            std::lock_guard<std::mutex> locked(self->m_lock);
            self->m_feed.render(static_cast<float *>(plane.data), frames);
            self->m_written += frames;
        }
        plane.chunk->offset = 0;
        plane.chunk->stride = kFrameBytes;
        plane.chunk->size = uint32_t(frames * kFrameBytes);
        buffer->size = uint64_t(frames); // the time report counts queued frames
        pw_stream_queue_buffer(self->m_stream, buffer);
        if (frames > 0)
            self->m_cycleNs.store(qint64(frames) * 1'000'000'000 / kRate, std::memory_order_relaxed);

        pw_time time{};
        qint64 heardInNs = -1;
        const qint64 nowNs = monotonicNowNs();
        if (pw_stream_get_time_n(self->m_stream, &time, sizeof time) == 0) {
            GraphTimeReport report;
            report.atNs = time.now;
            report.delayTicks = time.delay;
            report.rateNum = time.rate.num;
            report.rateDenom = time.rate.denom;
            report.queuedFrames = qint64(time.queued);
            report.bufferedFrames = qint64(time.buffered);
            heardInNs = heardInNsFromGraphTime(report, kRate, nowNs);
        }
        if (heardInNs >= 0)
            self->m_lastHeardInNs.store(heardInNs, std::memory_order_relaxed);
        std::lock_guard<std::mutex> locked(self->m_lock);
        self->m_feed.noteTiming(nowNs, self->m_written, heardInNs);
    }

    StreamFeed &m_feed;
    // The feed's: held while it renders or notes timing, and while a click is placed.
    std::mutex m_lock;
    pw_thread_loop *m_loop = nullptr;
    pw_context *m_context = nullptr;
    pw_core *m_core = nullptr;
    pw_registry *m_registry = nullptr;
    pw_stream *m_stream = nullptr;
    spa_hook m_coreListener{};
    spa_hook m_registryListener{};
    spa_hook m_streamListener{};
    int m_pendingSync = -1;      // with the loop's lock
    bool m_hasAudioSink = false; // with the loop's lock
    std::atomic<bool> m_lost{false};
    std::atomic<qint64> m_cycleNs{qint64(kLatencyFrames) * 1'000'000'000 / kRate};
    std::atomic<qint64> m_lastHeardInNs{-1};
    qint64 m_written = 0; // frames rendered, with m_lock
};

} // namespace

std::unique_ptr<SoundStream> openPipeWireStream(StreamFeed &feed, const char *appName)
{
    auto stream = std::make_unique<PipeWireStream>(feed);
    if (!stream->open(appName))
        return nullptr;
    return stream;
}
