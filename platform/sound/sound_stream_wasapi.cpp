// The stream on Windows's own audio engine (WASAPI): the default render
// device of the console role, shared mode, woken by the engine once a device
// period. On every wake it tops the device's buffer up to kKeepPeriods
// periods and no more, since what the engine was handed cannot be taken
// back: a Stop drops every click not handed over yet. After each write it
// reports how long the last frame written takes to be heard, from the
// device position (IAudioClock, the sample at the speakers) and the
// performance-counter time it was read at (device_position.h).
//
// Everything COM runs on the stream's own thread, in the multithreaded
// apartment, with the "Pro Audio" scheduling class: opening, rendering and
// closing (the stream is opened and destroyed on the sound output's worker).
// The window's thread never waits on this one: it queues its clicks in the
// feed.
// The stream is lost at once when the device enumerator tells that the
// default moved to another device, or that the device in use was removed,
// disabled or unplugged or mixes in a new format; otherwise when a call
// into the engine fails or the engine stops waking it (the audio service
// restarting). The sound output then opens a new one, which asks for the
// default device again. It does not reconnect here.
#include "sound/sound_stream.h"

#include "sound/device_position.h"
#include "sound/wasapi_format.h"
#include "system/monotonic_clock.h"

#include <windows.h>

#include <audioclient.h>
#include <avrt.h>
#include <mmdeviceapi.h>
#include <mmreg.h>

#include <atomic>
#include <algorithm>
#include <future>
#include <string>
#include <thread>

namespace {

// The device's buffer is kept this many device periods full (10 ms each on
// most devices): one period is being played while the next is written.
// Measured under Wine (bench/wine_sound.sh): with 40 ms kept, every Stop
// pressed 30 ms before a beat's light still let its click sound; with 20 ms
// none did.
constexpr int kKeepPeriods = 2;
// What the engine is asked to allocate, in 100-ns units; only kKeepPeriods
// of it are ever filled.
constexpr REFERENCE_TIME kBufferDuration = 500'000; // 50 ms
// A device that another program's exclusive stream holds, or that is being
// changed, refuses an open for a moment: it is tried this many times in
// all, this far apart. Whoever opens the stream waits through the pauses.
constexpr int kOpenTries = 3;
constexpr DWORD kOpenRetryPauseMs = 150;

// KSDATAFORMAT_SUBTYPE_IEEE_FLOAT, spelt out so no GUID library is needed.
constexpr GUID kSubtypeFloat{0x00000003, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xaa, 0x00, 0x38, 0x9b, 0x71}};

template <typename T>
void release(T *&object)
{
    if (object) {
        object->Release();
        object = nullptr;
    }
}

// An extensible format whose extension is cut short says nothing of its
// subtype: not float, so the engine converts.
WasapiMixFormat mixFormatOf(const WAVEFORMATEX &format)
{
    const bool isFloat = format.wFormatTag == WAVE_FORMAT_IEEE_FLOAT
        || (format.wFormatTag == WAVE_FORMAT_EXTENSIBLE
            && format.cbSize >= sizeof(WAVEFORMATEXTENSIBLE) - sizeof(WAVEFORMATEX)
            && IsEqualGUID(reinterpret_cast<const WAVEFORMATEXTENSIBLE &>(format).SubFormat, kSubtypeFloat));
    return {int(format.nSamplesPerSec), int(format.nChannels), isFloat, int(format.wBitsPerSample)};
}

// The performance counter now, in 100-ns units as IAudioClock gives it;
// counterFrequency from QueryPerformanceFrequency (fixed while Windows runs).
qint64 performanceCounterNow100ns(qint64 counterFrequency)
{
    LARGE_INTEGER counter;
    QueryPerformanceCounter(&counter);
    return qint64(counter.QuadPart / counterFrequency * 10'000'000
                  + counter.QuadPart % counterFrequency * 10'000'000 / counterFrequency);
}

// PKEY_AudioEngine_DeviceFormat, the format the engine mixes a device in:
// mingw's headers declare it but no library of theirs defines it.
constexpr PROPERTYKEY kDeviceFormatKey{{0xf19f064d, 0x082c, 0x4e27, {0xbc, 0x73, 0x68, 0x82, 0xa1, 0xbb, 0x8e, 0x4c}},
                                       0};

// Told by the device enumerator, on a thread of its own, of changes to the
// render devices. The stream is lost when the console role's default moves
// to another device, and when the device in use is removed, disabled or
// unplugged or given a new mix format: its stream plays nothing more, or
// nothing right, until it is opened again. A notice about another device,
// or one naming the device in use as the default again, changes nothing.
// It only sets the stream's atomic: the enumerator's thread must not wait.
class DeviceWatch final : public IMMNotificationClient
{
public:
    explicit DeviceWatch(std::atomic<bool> &lost) : m_lost(lost) {}

    // Before the watch is registered: the id does not change while it is.
    void setDeviceId(const wchar_t *deviceId) { m_deviceId = deviceId; }
    // Endpoint ids are opaque strings, compared whole, as the enumerator gives them.
    bool isInUse(LPCWSTR deviceId) const { return deviceId && m_deviceId == deviceId; }

    // Each role's default is told apart; the stream plays on the console
    // role's. No id: no render device is left.
    HRESULT STDMETHODCALLTYPE OnDefaultDeviceChanged(EDataFlow flow, ERole role, LPCWSTR deviceId) override
    {
        if (flow == eRender && role == eConsole && !isInUse(deviceId))
            lose();
        return S_OK;
    }
    // Unplugging a device changes its state (not present, unplugged); it
    // stays listed, so OnDeviceRemoved alone would miss it.
    HRESULT STDMETHODCALLTYPE OnDeviceStateChanged(LPCWSTR deviceId, DWORD state) override
    {
        if (state != DEVICE_STATE_ACTIVE && isInUse(deviceId))
            lose();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE OnDeviceRemoved(LPCWSTR deviceId) override
    {
        if (isInUse(deviceId))
            lose();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE OnPropertyValueChanged(LPCWSTR deviceId, const PROPERTYKEY key) override
    {
        if (key.pid == kDeviceFormatKey.pid && IsEqualGUID(key.fmtid, kDeviceFormatKey.fmtid) && isInUse(deviceId))
            lose();
        return S_OK;
    }
    // A device added is not the one in use; should it become the default,
    // that is a notice of its own.
    HRESULT STDMETHODCALLTYPE OnDeviceAdded(LPCWSTR) override { return S_OK; }

    // Owned by the stream, which unregisters it before it goes.
    ULONG STDMETHODCALLTYPE AddRef() override { return 1; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void **object) override
    {
        if (IsEqualIID(iid, __uuidof(IUnknown)) || IsEqualIID(iid, __uuidof(IMMNotificationClient))) {
            *object = static_cast<IMMNotificationClient *>(this);
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }

private:
    void lose() { m_lost.store(true, std::memory_order_relaxed); }

    std::atomic<bool> &m_lost;
    std::wstring m_deviceId; // IMMDevice::GetId of the device in use
};

class WasapiStream final : public SoundStream
{
public:
    explicit WasapiStream(StreamFeed &feed) : m_feed(feed), m_watch(m_lost) {}

    ~WasapiStream() override
    {
        if (m_stopEvent)
            SetEvent(m_stopEvent);
        if (m_thread.joinable())
            m_thread.join(); // the thread releases everything COM
        if (m_stopEvent)
            CloseHandle(m_stopEvent);
        if (m_startEvent)
            CloseHandle(m_startEvent);
    }

    // Waits for the stream's thread to open the device: the audio service
    // answers at once, or says no; a busy or changing device takes up to
    // kOpenTries tries. open() and the destructor may be called on any
    // thread, one at a time: what the stream's thread set while opening is
    // seen through the future, and the destructor only signals and joins.
    bool open()
    {
        m_stopEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        m_startEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        if (!m_stopEvent || !m_startEvent)
            return false;
        std::future<bool> opened = m_opened.get_future();
        m_thread = std::thread([this] { run(); });
        return opened.get();
    }

    OutputFormat format() const override { return m_format; }
    void start() override { SetEvent(m_startEvent); }
    // Nothing to lock: the stream cannot write again, and the feed takes
    // the window's requests without a lock.
    void lock() override {}
    void unlock() override {}
    bool isLost() const override { return m_lost.load(std::memory_order_relaxed); }
    // What the device's last position said; before its first one, what is
    // kept queued and what the engine says it adds.
    bool tellsHeardTime() const override { return true; }
    qint64 estimatedHeardInNs() const override
    {
        const qint64 reported = m_lastHeardInNs.load(std::memory_order_relaxed);
        return reported >= 0 ? reported : m_keepNs + m_engineLatencyNs;
    }
    // A click must fall beyond what one wake hands over.
    qint64 leadNs() const override { return m_periodNs; }
    bool canRewrite() const override { return false; }
    void rewriteFrom(qint64) override {}
    // No floor: a sound placed on a frame already taken starts at the next one.
    qint64 firstRewritableFrame() const override { return 0; }

private:
    // The stream's thread: opens, answers m_opened, then renders until stopped or lost.
    void run()
    {
        const bool comStarted = SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED));
        DWORD taskIndex = 0;
        HANDLE mmcss = AvSetMmThreadCharacteristicsW(L"Pro Audio", &taskIndex);
        const bool ready = comStarted && openDevice();
        m_opened.set_value(ready);
        if (ready && waitForStart())
            render();
        if (m_client)
            m_client->Stop();
        if (m_enumerator && m_watching)
            m_enumerator->UnregisterEndpointNotificationCallback(&m_watch);
        releaseDevice();
        release(m_enumerator);
        if (m_wakeEvent)
            CloseHandle(m_wakeEvent);
        if (mmcss)
            AvRevertMmThreadCharacteristics(mmcss);
        if (comStarted)
            CoUninitialize();
    }

    // The enumerator, then the default device, tried again where it is busy
    // or changing; then the watch, once the device's id is known.
    bool openDevice()
    {
        if (FAILED(CoCreateInstance(__uuidof(MMDeviceEnumerator), nullptr, CLSCTX_ALL,
                                    __uuidof(IMMDeviceEnumerator), reinterpret_cast<void **>(&m_enumerator))))
            return false;
        m_wakeEvent = CreateEventW(nullptr, FALSE, FALSE, nullptr);
        if (!m_wakeEvent)
            return false;
        for (int tries = 1;; ++tries) {
            const HRESULT result = openDefaultDevice();
            if (SUCCEEDED(result))
                break;
            releaseDevice();
            // Another program's exclusive stream holds the device, or it is
            // being changed (a new mix format, a new default): either may
            // pass within moments. Nothing else is tried again.
            const bool passing = result == AUDCLNT_E_DEVICE_IN_USE || result == AUDCLNT_E_DEVICE_INVALIDATED;
            if (!passing || tries == kOpenTries)
                return false;
            Sleep(kOpenRetryPauseMs);
        }
        // A default that moved between asking for it and watching is lost
        // at once; one that moves later is told.
        m_watching = SUCCEEDED(m_enumerator->RegisterEndpointNotificationCallback(&m_watch));
        if (m_watching && !isDefaultDevice())
            m_lost.store(true, std::memory_order_relaxed);
        LARGE_INTEGER counterFrequency;
        QueryPerformanceFrequency(&counterFrequency);
        m_counterFrequency = counterFrequency.QuadPart;
        return true;
    }

    // The console role's default render device, opened up to its clock; the
    // first failure, with what was got so far left for releaseDevice().
    HRESULT openDefaultDevice()
    {
        if (const HRESULT result = m_enumerator->GetDefaultAudioEndpoint(eRender, eConsole, &m_device); FAILED(result))
            return result;
        LPWSTR deviceId = nullptr;
        if (const HRESULT result = m_device->GetId(&deviceId); FAILED(result))
            return result;
        m_watch.setDeviceId(deviceId);
        CoTaskMemFree(deviceId);
        if (const HRESULT result = m_device->Activate(__uuidof(IAudioClient), CLSCTX_ALL, nullptr,
                                                      reinterpret_cast<void **>(&m_client));
            FAILED(result))
            return result;
        WAVEFORMATEX *mix = nullptr;
        if (const HRESULT result = m_client->GetMixFormat(&mix); FAILED(result))
            return result;
        const WasapiRequest request = wasapiRequestFor(mixFormatOf(*mix));
        CoTaskMemFree(mix);
        WAVEFORMATEXTENSIBLE wanted{};
        wanted.Format.wFormatTag = WAVE_FORMAT_EXTENSIBLE;
        wanted.Format.nChannels = WORD(request.channels);
        wanted.Format.nSamplesPerSec = DWORD(request.sampleRate);
        wanted.Format.wBitsPerSample = 32;
        wanted.Format.nBlockAlign = WORD(request.channels * sizeof(float));
        wanted.Format.nAvgBytesPerSec = wanted.Format.nSamplesPerSec * wanted.Format.nBlockAlign;
        wanted.Format.cbSize = sizeof(WAVEFORMATEXTENSIBLE) - sizeof(WAVEFORMATEX);
        wanted.Samples.wValidBitsPerSample = 32;
        wanted.dwChannelMask = SPEAKER_FRONT_LEFT | SPEAKER_FRONT_RIGHT; // the request is stereo
        wanted.SubFormat = kSubtypeFloat;
        DWORD flags = AUDCLNT_STREAMFLAGS_EVENTCALLBACK | AUDCLNT_STREAMFLAGS_NOPERSIST;
        if (request.autoconvert)
            flags |= AUDCLNT_STREAMFLAGS_AUTOCONVERTPCM | AUDCLNT_STREAMFLAGS_SRC_DEFAULT_QUALITY;
        if (const HRESULT result = m_client->Initialize(AUDCLNT_SHAREMODE_SHARED, flags, kBufferDuration, 0,
                                                        &wanted.Format, nullptr);
            FAILED(result))
            return result;
        m_format = {request.sampleRate, request.channels};

        REFERENCE_TIME period = 0;
        REFERENCE_TIME engineLatency = 0;
        UINT32 bufferFrames = 0;
        if (const HRESULT result = m_client->GetDevicePeriod(&period, nullptr); FAILED(result))
            return result;
        if (const HRESULT result = m_client->GetBufferSize(&bufferFrames); FAILED(result))
            return result;
        m_engineLatencyNs = SUCCEEDED(m_client->GetStreamLatency(&engineLatency)) ? qint64(engineLatency) * 100 : 0;
        m_bufferFrames = int(bufferFrames);
        m_periodNs = qint64(period) * 100;
        m_keepFrames = std::min(m_bufferFrames, int(qint64(m_format.sampleRate) * period * kKeepPeriods / 10'000'000));
        m_keepNs = qint64(m_keepFrames) * 1'000'000'000 / m_format.sampleRate;

        if (const HRESULT result = m_client->SetEventHandle(m_wakeEvent); FAILED(result))
            return result;
        if (const HRESULT result = m_client->GetService(__uuidof(IAudioRenderClient),
                                                        reinterpret_cast<void **>(&m_renderClient));
            FAILED(result))
            return result;
        if (const HRESULT result = m_client->GetService(__uuidof(IAudioClock), reinterpret_cast<void **>(&m_clock));
            FAILED(result))
            return result;
        return m_clock->GetFrequency(&m_positionFrequency);
    }

    void releaseDevice()
    {
        release(m_clock);
        release(m_renderClient);
        release(m_client);
        release(m_device);
    }

    // Whether the device in use is still the console role's default render device.
    bool isDefaultDevice()
    {
        IMMDevice *device = nullptr;
        if (FAILED(m_enumerator->GetDefaultAudioEndpoint(eRender, eConsole, &device)))
            return false;
        LPWSTR deviceId = nullptr;
        const bool same = SUCCEEDED(device->GetId(&deviceId)) && m_watch.isInUse(deviceId);
        CoTaskMemFree(deviceId);
        release(device);
        return same;
    }

    // False when stopped before start().
    bool waitForStart()
    {
        const HANDLE events[] = {m_stopEvent, m_startEvent};
        return WaitForMultipleObjects(2, events, FALSE, INFINITE) == WAIT_OBJECT_0 + 1;
    }

    void render()
    {
        // The first periods are handed over before the engine starts, so it
        // does not begin on an empty buffer.
        if (!topUp() || FAILED(m_client->Start())) {
            m_lost.store(true, std::memory_order_relaxed);
            return;
        }
        const HANDLE events[] = {m_stopEvent, m_wakeEvent};
        while (!isLost()) {
            // The engine wakes the stream once a period; a silent engine
            // (no device) within two seconds is a lost one.
            const DWORD woken = WaitForMultipleObjects(2, events, FALSE, 2000);
            if (woken == WAIT_OBJECT_0)
                return;
            if (woken != WAIT_OBJECT_0 + 1 || !topUp())
                m_lost.store(true, std::memory_order_relaxed);
        }
    }

    // Hands the device what keeps it kKeepPeriods full, then reports the
    // timing. False when the device is gone.
    bool topUp()
    {
        UINT32 queued = 0;
        if (FAILED(m_client->GetCurrentPadding(&queued)))
            return false;
        if (const int frames = framesToHand(m_bufferFrames, int(queued), m_keepFrames); frames > 0) {
            BYTE *data = nullptr;
            if (FAILED(m_renderClient->GetBuffer(UINT32(frames), &data)))
                return false;
            m_feed.render(reinterpret_cast<float *>(data), frames);
            m_written += frames;
            if (FAILED(m_renderClient->ReleaseBuffer(UINT32(frames), 0)))
                return false;
        }
        UINT64 position = 0;
        UINT64 readAt100ns = 0;
        const HRESULT result = m_clock->GetPosition(&position, &readAt100ns);
        if (FAILED(result))
            return false;
        const qint64 nowNs = monotonicNowNs();
        DevicePositionReading reading;
        reading.position = position;
        reading.frequency = m_positionFrequency;
        reading.ageNs = (performanceCounterNow100ns(m_counterFrequency) - qint64(readAt100ns)) * 100;
        reading.accurate = result == S_OK;
        const qint64 heardInNs = heardInNsFromPosition(reading, m_format.sampleRate, m_written);
        if (heardInNs >= 0)
            m_lastHeardInNs.store(heardInNs, std::memory_order_relaxed);
        m_feed.noteTiming(nowNs, m_written, heardInNs);
        return true;
    }

    StreamFeed &m_feed;
    std::thread m_thread;
    // The stream's own, not open()'s: its thread may still be inside
    // set_value() when open() has its answer and returns.
    std::promise<bool> m_opened;
    HANDLE m_stopEvent = nullptr;
    HANDLE m_startEvent = nullptr;
    std::atomic<bool> m_lost{false};
    std::atomic<qint64> m_lastHeardInNs{-1}; // the last frame written, from the device's last position
    DeviceWatch m_watch;

    // Set on the stream's thread before open() returns; read-only after.
    OutputFormat m_format{};
    qint64 m_periodNs = 10'000'000;
    qint64 m_engineLatencyNs = 0;
    qint64 m_keepNs = 0;
    int m_keepFrames = 0;
    int m_bufferFrames = 0;
    UINT64 m_positionFrequency = 0;
    qint64 m_counterFrequency = 1;

    // The stream's thread only.
    IMMDeviceEnumerator *m_enumerator = nullptr;
    bool m_watching = false;
    IMMDevice *m_device = nullptr;
    IAudioClient *m_client = nullptr;
    IAudioRenderClient *m_renderClient = nullptr;
    IAudioClock *m_clock = nullptr;
    HANDLE m_wakeEvent = nullptr;
    qint64 m_written = 0; // frames handed to the device; the stream's thread's
};

} // namespace

std::unique_ptr<SoundStream> openWasapiStream(StreamFeed &feed)
{
    auto stream = std::make_unique<WasapiStream>(feed);
    if (!stream->open())
        return nullptr;
    return stream;
}
