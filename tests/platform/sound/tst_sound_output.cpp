// Sound output: decoding WAVE images, one sound at a time through the
// player's render function, and the real device path on SDL's "disk" driver.
#include "sound/device_position.h"
#include "sound/session_grid.h"
#include "sound/sound_output.h"
#include "sound/sound_stream.h"
#include "sound/stream_clock.h"
#include "sound/wave_player.h"
#include "system/monotonic_clock.h"
#include "wave_builder.h"

#include <QCoreApplication>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QSemaphore>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <mutex>
#include <thread>

namespace {

const OutputFormat kStereo44k{44100, 2};

QByteArray constantWave(int frames, qint16 value, int channels = 2, quint32 rate = 44100)
{
    return riffWave({fmtChunk(1, static_cast<quint16>(channels), rate, 16),
                     {"data", pcm16(frames, channels, value)}});
}

std::vector<float> rendered(WavePlayer &player, int frames)
{
    std::vector<float> out(static_cast<size_t>(frames * player.format().channels), 99.0f);
    player.render(out.data(), frames);
    return out;
}

QString diskAudioFile()
{
    return QString::fromLocal8Bit(qgetenv("SDL_DISKAUDIOFILE"));
}

// Stream locks taken again by a thread that holds them: a stream whose lock
// is a plain mutex (PipeWire's, Windows's) would hang there.
std::atomic<int> relocks{0};

// A stream of the test's own: a thread renders 10 ms of output every 10 ms
// and, if told to, reports each frame heard 20 ms after it was rendered
// (the system's own stream, as far as the output can see). It counts the
// sounds it renders (each rise from silence) and its lock taken twice. With
// lostAfter, it says it is lost after that many buffers (the server went
// away) and renders on.
class CountingStream final : public SoundStream
{
public:
    static constexpr int kBufferFrames = 441;
    static constexpr qint64 kHeardInNs = 20'000'000;

    CountingStream(StreamFeed &feed, bool tellsHeard, int lostAfter = -1)
        : m_feed(feed), m_tellsHeard(tellsHeard), m_lostAfter(lostAfter)
    {
    }
    ~CountingStream() override
    {
        m_stop = true;
        if (m_thread.joinable())
            m_thread.join();
    }

    std::shared_ptr<std::atomic<int>> starts = std::make_shared<std::atomic<int>>(0);

    OutputFormat format() const override { return kStereo44k; }
    void start() override { m_thread = std::thread([this] { run(); }); }
    void lock() override
    {
        m_lock.lock();
        if (m_lockDepth++ > 0)
            ++relocks;
    }
    void unlock() override
    {
        --m_lockDepth;
        m_lock.unlock();
    }
    bool isLost() const override { return m_lostAfter >= 0 && m_renders >= m_lostAfter; }
    bool tellsHeardTime() const override { return m_tellsHeard; }
    qint64 estimatedHeardInNs() const override { return kHeardInNs; }
    qint64 leadNs() const override { return 10'000'000; }
    bool canRewrite() const override { return false; }
    void rewriteFrom(qint64) override {}
    qint64 firstRewritableFrame() const override { return 0; }

private:
    void run()
    {
        std::vector<float> out(kBufferFrames * 2);
        float last = 0.0f;
        qint64 written = 0;
        while (!m_stop) {
            {
                std::lock_guard<std::recursive_mutex> locked(m_lock);
                m_feed.render(out.data(), kBufferFrames);
                written += kBufferFrames;
                m_feed.noteTiming(monotonicNowNs(), written, m_tellsHeard ? kHeardInNs : -1);
            }
            for (int i = 0; i < kBufferFrames; ++i) {
                if (out[i * 2] != 0.0f && last == 0.0f)
                    ++*starts;
                last = out[i * 2];
            }
            ++m_renders;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }

    StreamFeed &m_feed;
    bool m_tellsHeard;
    int m_lostAfter;
    std::recursive_mutex m_lock; // recursive, so a relock is counted rather than hung
    int m_lockDepth = 0;         // with m_lock
    std::atomic<int> m_renders{0};
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};

std::unique_ptr<SoundStream> countingStream(StreamFeed &feed, bool tellsHeard,
                                            std::shared_ptr<std::atomic<int>> *starts)
{
    auto stream = std::make_unique<CountingStream>(feed, tellsHeard);
    *starts = stream->starts;
    return stream;
}

// The output idle again, its stream closed, for a test that opens its own.
bool outputClosed()
{
    releaseSoundOutput();
    QTest::qWaitFor([] { return soundOutputState() == SoundOutputState::NotOpened; }, 10000);
    return soundOutputState() == SoundOutputState::NotOpened;
}

} // namespace

class TestSoundOutput : public QObject
{
    Q_OBJECT

private slots:
    void decodesPlayableLayouts_data();
    void decodesPlayableLayouts();
    void unplayableImagesDecodeToNothing_data();
    void unplayableImagesDecodeToNothing();
    void soundPlaysOnceThenSilence();
    void newRequestReplacesTheSoundInProgress();
    void unplayableRequestSilencesTheSoundInProgress();
    void eachDistinctImageIsDecodedOnce();
    void playingSoundSurvivesManyNewImages();
    void scheduledSoundStartsAtItsFrame_data();
    void scheduledSoundStartsAtItsFrame();
    void soundStartedEarlierIsWrittenAgain_data();
    void soundStartedEarlierIsWrittenAgain();
    void stopFindsTheClicksNotHeardYet_data();
    void stopFindsTheClicksNotHeardYet();
    void streamClockPlacesGridTicksExactly_data();
    void streamClockPlacesGridTicksExactly();
    void streamClockStartsFromTheDriftMeasuredBefore();
    void streamClockWaitsForAStreamThatKeepsPace();
    void heardClockMovesOnlyWithTheStream_data();
    void heardClockMovesOnlyWithTheStream();
    void scheduledStartsMoveWithTheStream_data();
    void scheduledStartsMoveWithTheStream();
    void sessionGridKeepsTheFirstInterval_data();
    void sessionGridKeepsTheFirstInterval();
    void devicePositionGivesHeardTime_data();
    void devicePositionGivesHeardTime();
    void deviceIsKeptFilledToItsTarget_data();
    void pipeWireReportGivesHeardTime_data();
    void pipeWireReportGivesHeardTime();
    void deviceIsKeptFilledToItsTarget();
    void deviceRendersTheImage();
    void sessionClickTooLateIsNotPlayed();
    void missingDeviceStaysSilentWithoutRetrying();
    void openingKeepsNobodyWaiting_data();
    void openingKeepsNobodyWaiting();
    void sessionMovesToTheOwnStreamOnceItOpens();
    void lostStreamsCloseWhileTheNextOpens();
};

void TestSoundOutput::decodesPlayableLayouts_data()
{
    QTest::addColumn<QByteArray>("image");
    QTest::addColumn<int>("outputFrames");
    QTest::addColumn<float>("level"); // every sample away from the edges

    const QByteArray pcm = pcm16(441, 2, 16384);
    const WaveChunk fmt = fmtChunk(1, 2, 44100, 16);
    const WaveChunk smpl{"smpl", QByteArray(60, '\1')};
    const WaveChunk cue{"cue ", QByteArray(28, '\2')};
    const WaveChunk adtl{"LIST", "adtl" + QByteArray(86, '\3')};
    const WaveChunk info{"LIST", "INFOINAM" + le32(12) + "closedhat04" + QByteArray(1, '\0')};

    QTest::newRow("16-bit stereo") << riffWave({fmt, {"data", pcm}}) << 441 << 0.5f;
    QTest::newRow("smpl before data, cue and LIST after")
        << riffWave({fmt, smpl, {"data", pcm}, cue, adtl}) << 441 << 0.5f;
    QTest::newRow("INFO list and smpl after data")
        << riffWave({fmt, {"data", pcm}, info, smpl}) << 441 << 0.5f;
    QTest::newRow("two bytes after the RIFF form")
        << riffWave({fmt, {"data", pcm}}, QByteArray(2, '\x7f')) << 441 << 0.5f;
    QTest::newRow("16-bit mono, 22050 Hz, resampled")
        << riffWave({fmtChunk(1, 1, 22050, 16), {"data", pcm16(441, 1, -16384)}}) << 882 << -0.5f;
    // 8-bit samples are unsigned: 192 is half way up.
    QTest::newRow("8-bit mono, 11025 Hz, odd length with pad byte")
        << riffWave({fmtChunk(1, 1, 11025, 8), {"data", QByteArray(1001, char(192))}}) << 4004
        << 0.5f;
}

void TestSoundOutput::decodesPlayableLayouts()
{
    QFETCH(QByteArray, image);
    QFETCH(int, outputFrames);
    QFETCH(float, level);
    const auto samples = decodeWaveImage(image, kStereo44k);
    QVERIFY(samples.has_value());
    const int frames = static_cast<int>(samples->size() / 2);
    // The resampler may add or drop a few frames at the edges.
    QVERIFY2(std::abs(frames - outputFrames) <= outputFrames / 100 + 4,
             qPrintable(QStringLiteral("%1 frames").arg(frames)));
    for (size_t i = samples->size() / 4; i < samples->size() * 3 / 4; ++i)
        QVERIFY2(std::abs((*samples)[i] - level) < 0.01f, qPrintable(QString::number((*samples)[i])));
}

void TestSoundOutput::unplayableImagesDecodeToNothing_data()
{
    QTest::addColumn<QByteArray>("image");
    const QByteArray good = constantWave(100, 1000);
    QByteArray noise(4096, '\0');
    QRandomGenerator generator(7);
    for (char &c : noise)
        c = static_cast<char>(generator.bounded(256));
    QByteArray hugeData = good;
    hugeData.replace(good.indexOf("data") + 4, 4, le32(0x7ffffff0));

    QTest::newRow("empty") << QByteArray();
    QTest::newRow("RIFF alone") << QByteArray("RIFF");
    QTest::newRow("random bytes") << noise;
    QTest::newRow("header cut short") << good.left(30);
    QTest::newRow("not WAVE") << QByteArray(good).replace("WAVE", "AVI ");
    QTest::newRow("MPEG encoding")
        << riffWave({fmtChunk(0x0050, 2, 44100, 16), {"data", QByteArray(400, '\1')}});
    QTest::newRow("no data chunk") << riffWave({fmtChunk(1, 2, 44100, 16)});
    QTest::newRow("zero channels")
        << riffWave({fmtChunk(1, 0, 44100, 16), {"data", QByteArray(400, '\1')}});
    QTest::newRow("data claims 2 GiB") << hugeData;
    QTest::newRow("1 Hz: 40 kB that would decode to 7 GB")
        << riffWave({fmtChunk(1, 2, 1, 16), {"data", pcm16(10000, 2, 100)}});
}

void TestSoundOutput::unplayableImagesDecodeToNothing()
{
    QFETCH(QByteArray, image);
    QVERIFY(!decodeWaveImage(image, kStereo44k).has_value());
}

void TestSoundOutput::soundPlaysOnceThenSilence()
{
    WavePlayer player(kStereo44k);
    player.start(player.prepare(constantWave(100, 16384)));
    const std::vector<float> out = rendered(player, 256);
    for (size_t i = 0; i < out.size(); ++i)
        QCOMPARE(out[i], i < 200 ? 0.5f : 0.0f);
    for (float sample : rendered(player, 64))
        QCOMPARE(sample, 0.0f);
}

void TestSoundOutput::newRequestReplacesTheSoundInProgress()
{
    WavePlayer player(kStereo44k);
    const QByteArray first = constantWave(1000, 8192);   // 0.25
    const QByteArray second = constantWave(1000, -16384); // -0.5
    player.start(player.prepare(first));
    QCOMPARE(rendered(player, 300).front(), 0.25f);
    player.start(player.prepare(second));
    std::vector<float> out = rendered(player, 1200);
    QCOMPARE(out[0], -0.5f);
    QCOMPARE(out[1999], -0.5f); // all 1000 frames of the second sound
    QCOMPARE(out[2000], 0.0f);  // and nothing of the first after it

    player.start(player.prepare(second)); // the same image again starts over
    QCOMPARE(rendered(player, 1000).back(), -0.5f);
}

void TestSoundOutput::unplayableRequestSilencesTheSoundInProgress()
{
    WavePlayer player(kStereo44k);
    player.start(player.prepare(constantWave(1000, 8192)));
    rendered(player, 10);
    player.start(player.prepare(QByteArray("not a sound")));
    for (float sample : rendered(player, 100))
        QCOMPARE(sample, 0.0f);
}

void TestSoundOutput::eachDistinctImageIsDecodedOnce()
{
    WavePlayer player(kStereo44k);
    const QByteArray image = constantWave(100, 100);
    const QByteArray sharedCopy = image; // what the engine hands over each beat
    const WavePlayer::Sound *first = player.prepare(image);
    QCOMPARE(player.prepare(sharedCopy), first);
    QCOMPARE(&*first->samples, &*player.prepare(image)->samples);
    const QByteArray equalButSeparate(image.constData(), image.size());
    QVERIFY(player.prepare(equalButSeparate) != first);
}

void TestSoundOutput::playingSoundSurvivesManyNewImages()
{
    WavePlayer player(kStereo44k);
    player.start(player.prepare(constantWave(5000, 16384)));
    QList<QByteArray> others;
    for (int i = 0; i < 40; ++i) {
        others.append(constantWave(10, static_cast<qint16>(i)));
        player.prepare(others.last());
    }
    // Under AddressSanitizer this would report a freed sound being read.
    for (float sample : rendered(player, 5000))
        QCOMPARE(sample, 0.5f);
}

void TestSoundOutput::scheduledSoundStartsAtItsFrame_data()
{
    QTest::addColumn<qint64>("startFrame");
    QTest::addColumn<int>("firstNewFrame"); // where the second sound shows in 1024 rendered frames
    QTest::addColumn<int>("lateStarts");
    QTest::newRow("inside the first buffer") << qint64(300) << 300 << 0;
    QTest::newRow("inside a later buffer") << qint64(700) << 700 << 0;
    QTest::newRow("on a buffer boundary") << qint64(512) << 512 << 0;
    QTest::newRow("already rendered: at once, counted") << qint64(-5) << 0 << 1;
}

void TestSoundOutput::scheduledSoundStartsAtItsFrame()
{
    QFETCH(qint64, startFrame);
    QFETCH(int, firstNewFrame);
    QFETCH(int, lateStarts);
    WavePlayer player(kStereo44k);
    const QByteArray first = constantWave(5000, 8192), second = constantWave(5000, -16384);
    player.start(player.prepare(first));
    player.schedule(player.prepare(second), startFrame);
    std::vector<float> out = rendered(player, 512);
    const std::vector<float> more = rendered(player, 512);
    out.insert(out.end(), more.begin(), more.end());
    // The first sound is cut at the second's own frame, not at a buffer boundary.
    for (int frame = 0; frame < 1024; ++frame)
        QCOMPARE(out[size_t(2 * frame)], frame < firstNewFrame ? 0.25f : -0.5f);
    QCOMPARE(player.lateStarts(), lateStarts);
}

void TestSoundOutput::soundStartedEarlierIsWrittenAgain_data()
{
    QTest::addColumn<qint64>("startFrame");
    QTest::addColumn<int>("clickFrames");
    QTest::addColumn<bool>("accepted");
    QTest::newRow("after the last click") << qint64(600) << 200 << true;
    QTest::newRow("running on past what was rendered") << qint64(900) << 400 << true;
    QTest::newRow("on the last click's frame") << qint64(100) << 200 << false;
    QTest::newRow("before the last click") << qint64(50) << 200 << false;
    QTest::newRow("not rendered yet") << qint64(1024) << 200 << false;
}

// A click at frame 100 and 1024 frames rendered; a second click is then
// started at startFrame. Where it is accepted, the output written again from
// there and the output rendered next hold it exactly once, from its first
// sample; where it is not, nothing changes.
void TestSoundOutput::soundStartedEarlierIsWrittenAgain()
{
    QFETCH(qint64, startFrame);
    QFETCH(int, clickFrames);
    QFETCH(bool, accepted);
    WavePlayer player(kStereo44k);
    player.schedule(player.prepare(constantWave(100, 8192)), 100);
    rendered(player, 1024);

    QCOMPARE(player.startEarlier(player.prepare(constantWave(clickFrames, -16384)), startFrame), accepted);
    std::vector<float> out;
    if (accepted) {
        out.resize(size_t(2 * (1024 - startFrame)));
        player.renderAgain(out.data(), startFrame, int(1024 - startFrame));
    }
    const std::vector<float> next = rendered(player, 512);
    out.insert(out.end(), next.begin(), next.end());
    const qint64 from = accepted ? startFrame : 1024;
    for (qint64 frame = from; frame < 1024 + 512; ++frame)
        QCOMPARE(out[size_t(2 * (frame - from))], accepted && frame < startFrame + clickFrames ? -0.5f : 0.0f);
    QCOMPARE(player.lateStarts(), 0);
}

void TestSoundOutput::stopFindsTheClicksNotHeardYet_data()
{
    QTest::addColumn<qint64>("heardFrame"); // what a listener hears when Stop comes
    QTest::addColumn<qint64>("firstUnheard"); // -1: none
    QTest::newRow("before both clicks") << qint64(50) << qint64(100);
    QTest::newRow("the first sounding, the second written ahead") << qint64(300) << qint64(600);
    QTest::newRow("both heard") << qint64(700) << qint64(-1);
}

// Two clicks rendered (at frames 100 and 600), a third still scheduled: a
// stop drops the scheduled one and names the first rendered click not heard,
// which the stream then takes back.
void TestSoundOutput::stopFindsTheClicksNotHeardYet()
{
    QFETCH(qint64, heardFrame);
    QFETCH(qint64, firstUnheard);
    WavePlayer player(kStereo44k);
    const QByteArray click = constantWave(200, 8192);
    player.schedule(player.prepare(click), 100);
    player.schedule(player.prepare(click), 600);
    player.schedule(player.prepare(click), 5000);
    rendered(player, 1024);

    player.dropScheduled();
    QCOMPARE(player.firstBegunAfter(heardFrame).value_or(-1), firstUnheard);
    player.silence();
    for (float sample : rendered(player, 5000))
        QCOMPARE(sample, 0.0f);
}

void TestSoundOutput::streamClockPlacesGridTicksExactly_data()
{
    QTest::addColumn<qint64>("lateByNs");  // how late each callback may come, at random
    QTest::addColumn<double>("devicePpm"); // how much faster than the monotonic clock the device runs
    QTest::addColumn<qint64>("stallNs");   // how late callbacks come for 0.8 s, 15 s in
    QTest::addColumn<qint64>("lostNs");    // time the stream loses 20 s in
    QTest::addColumn<int>("reanchors");
    QTest::newRow("punctual callbacks") << qint64(0) << 0.0 << qint64(0) << qint64(0) << 0;
    QTest::newRow("late, bursty callbacks") << qint64(2'000'000) << 0.0 << qint64(0) << qint64(0) << 0;
    QTest::newRow("device 300 ppm fast") << qint64(1'000'000) << 300.0 << qint64(0) << qint64(0) << 0;
    QTest::newRow("device 100 ppm slow") << qint64(1'000'000) << -100.0 << qint64(0) << qint64(0) << 0;
    QTest::newRow("audio thread starved for 0.8 s")
        << qint64(1'000'000) << 0.0 << qint64(15'000'000) << qint64(0) << 0;
    QTest::newRow("an underrun re-anchors once")
        << qint64(1'000'000) << 0.0 << qint64(0) << qint64(30'000'000) << 1;
}

// A 1024-frame stream at 44.1 kHz whose callbacks come as the row says.
// Once the clock has measured the device's rate (12 s in), ticks every
// 500 ms land 22050 device frames apart at that rate, within a frame, before
// and after any lost time.
void TestSoundOutput::streamClockPlacesGridTicksExactly()
{
    QFETCH(qint64, lateByNs);
    QFETCH(double, devicePpm);
    QFETCH(qint64, stallNs);
    QFETCH(qint64, lostNs);
    QFETCH(int, reanchors);
    StreamClock clock(44100);
    QCOMPARE(clock.frameAt(0), StreamClock::kAtOnce);
    QRandomGenerator random(7);
    const double deviceRate = 44100 * (1 + devicePpm / 1e6);
    const qint64 startNs = 5'000'000'000;
    QList<qint64> frames;
    for (qint64 k = 1; k <= 2000; ++k) { // about 46 s of callbacks
        const qint64 sinceStartNs = std::llround(double(k) * 1024 * 1e9 / deviceRate);
        const bool stalled = sinceStartNs >= 15'000'000'000 && sinceStartNs < 15'800'000'000;
        clock.noteRendered(startNs + sinceStartNs + (sinceStartNs > 20'000'000'000 ? lostNs : 0)
                               + (stalled ? stallNs : 0)
                               + qint64(random.bounded(double(lateByNs + 1))),
                           k * 1024);
        const qint64 tick = sinceStartNs / 500'000'000;
        if (tick >= 24 && (frames.size() == 0 || tick > 24 + frames.size() - 1))
            frames.append(clock.frameAt(startNs + tick * 500'000'000)); // a tick due now
    }
    QCOMPARE(clock.reanchors(), reanchors);
    QVERIFY(frames.size() > 40);
    int offGrid = 0;
    for (qsizetype i = 1; i < frames.size(); ++i)
        offGrid += std::abs(double(frames[i] - frames[i - 1]) - deviceRate / 2) <= 1 ? 0 : 1;
    QCOMPARE(offGrid, reanchors); // only the re-anchor moves the grid, once
}

// A device 300 ppm fast, as the previous stream measured it: the ticks are
// on its grid from the first second, before any fit of this stream's own.
void TestSoundOutput::streamClockStartsFromTheDriftMeasuredBefore()
{
    const double deviceRate = 44100 * 1.0003;
    StreamClock clock(44100, -300'000.0 / 1.0003);
    const qint64 startNs = 5'000'000'000;
    QList<qint64> frames;
    for (qint64 k = 1; k <= 350; ++k) { // about 8 s of callbacks
        const qint64 sinceStartNs = std::llround(double(k) * 1024 * 1e9 / deviceRate);
        clock.noteRendered(startNs + sinceStartNs, k * 1024);
        const qint64 tick = sinceStartNs / 500'000'000;
        if (tick >= 1 && tick > frames.size())
            frames.append(clock.frameAt(startNs + tick * 500'000'000));
    }
    QVERIFY(frames.size() > 10);
    for (qsizetype i = 1; i < frames.size(); ++i)
        QVERIFY2(std::abs(double(frames[i] - frames[i - 1]) - deviceRate / 2) <= 1,
                 qPrintable(QString::number(frames[i] - frames[i - 1])));
}

// A stream that takes 10 ms of frames every 15 ms for its first second, as
// Wine's sound driver does while its server stream starts, then keeps pace:
// the clock anchors only once it keeps pace, and then on the stream's real
// relation, so a tick lands on the frame that is taken at its time.
void TestSoundOutput::streamClockWaitsForAStreamThatKeepsPace()
{
    StreamClock clock(44100);
    const qint64 startNs = 5'000'000'000;
    qint64 nowNs = startNs;
    qint64 rendered = 0;
    while (nowNs < startNs + 1'000'000'000) {
        nowNs += 15'000'000;
        rendered += 441;
        clock.noteRendered(nowNs, rendered);
        QVERIFY2(!clock.isAnchored(), qPrintable(QStringLiteral("anchored %1 ms in").arg((nowNs - startNs) / 1'000'000)));
    }
    const qint64 pacedFromNs = nowNs;
    while (nowNs < pacedFromNs + 300'000'000) {
        nowNs += 10'000'000;
        rendered += 441;
        clock.noteRendered(nowNs, rendered);
    }
    QVERIFY(clock.isAnchored());
    // Taken by then: rendered, 441 frames every 10 ms from nowNs on.
    QCOMPARE(clock.frameAt(nowNs + 500'000'000), rendered + 22050);
}

void TestSoundOutput::heardClockMovesOnlyWithTheStream_data()
{
    QTest::addColumn<qint64>("scatterNs");  // each report off by up to this, either way
    QTest::addColumn<qint64>("outlierNs");  // one report this far off, 10 s in
    QTest::addColumn<qint64>("lostNs");     // from 20 s on, frames sound this much later
    QTest::addColumn<qint64>("stepNs");     // from 20 s on, reports say so, frames sound as before
    QTest::addColumn<int>("reanchors");
    QTest::newRow("reports scattered by 1 ms") << qint64(1'000'000) << qint64(0) << qint64(0) << qint64(0) << 0;
    QTest::newRow("one report 30 ms off") << qint64(0) << qint64(30'000'000) << qint64(0) << qint64(0) << 0;
    QTest::newRow("a 512-frame cycle lost")
        << qint64(100'000) << qint64(0) << qint64(512'000'000'000 / 44100) << qint64(0) << 1;
    QTest::newRow("held up 0.3 s") << qint64(100'000) << qint64(0) << qint64(300'000'000) << qint64(0) << 1;
    QTest::newRow("frames heard 20 ms earlier")
        << qint64(100'000) << qint64(0) << qint64(-20'000'000) << qint64(0) << 1;
    QTest::newRow("the server's latency account moves 5.3 ms")
        << qint64(100'000) << qint64(0) << qint64(0) << qint64(256'000'000'000 / 48000) << 0;
}

// Reports every 10 ms of the frame heard at their time: the clock moves only
// where the stream lost (or skipped) time, at once, by that time, not where
// only the server's account moved a little, and places every tick on the
// frame really heard at it.
void TestSoundOutput::heardClockMovesOnlyWithTheStream()
{
    QFETCH(qint64, scatterNs);
    QFETCH(qint64, outlierNs);
    QFETCH(qint64, lostNs);
    QFETCH(qint64, stepNs);
    QFETCH(int, reanchors);
    StreamClock clock(44100, 0, ClockReports::Heard);
    QRandomGenerator random(11);
    const qint64 startNs = 5'000'000'000;
    const auto heardAt = [&](qint64 sinceStartNs) {
        return (sinceStartNs - (sinceStartNs >= 20'000'000'000 ? lostNs : 0)) * 44100 / 1'000'000'000;
    };
    qint64 movedNs = 0, movedAfterReports = -1;
    for (qint64 k = 1; k <= 3000; ++k) {
        const qint64 sinceStartNs = k * 10'000'000;
        const qint64 offNs = (k == 1000 ? outlierNs : 0) + (sinceStartNs >= 20'000'000'000 ? stepNs : 0)
            + qint64(random.bounded(double(2 * scatterNs + 1))) - scatterNs;
        if (const qint64 moved = clock.noteRendered(startNs + sinceStartNs, heardAt(sinceStartNs - offNs));
            moved != 0) {
            movedNs += moved;
            movedAfterReports = k - 2000;
        }
    }
    QCOMPARE(clock.reanchors(), reanchors);
    if (reanchors > 0) {
        QVERIFY2(std::abs(movedNs - lostNs) < 300'000, qPrintable(QString::number(movedNs)));
        QVERIFY2(movedAfterReports >= 0 && movedAfterReports <= StreamClock::kOffReports,
                 qPrintable(QString::number(movedAfterReports)));
    }
    // Ticks 500 ms apart land 22050 frames apart, within what the scatter
    // leaves of the frame heard at their time.
    const qint64 leeway = 1 + scatterNs * 44100 / 1'000'000'000;
    for (qint64 sinceStartNs = 20'500'000'000; sinceStartNs < 30'000'000'000; sinceStartNs += 500'000'000) {
        const qint64 frame = clock.frameAt(startNs + sinceStartNs);
        QVERIFY2(std::abs(frame - heardAt(sinceStartNs)) <= leeway, qPrintable(QString::number(frame - heardAt(sinceStartNs))));
        QVERIFY(std::abs(clock.frameAt(startNs + sinceStartNs + 500'000'000) - frame - 22050) <= 1);
    }
}

void TestSoundOutput::scheduledStartsMoveWithTheStream_data()
{
    QTest::addColumn<qint64>("byFrames");
    QTest::addColumn<int>("startsAt"); // -1: dropped
    QTest::addColumn<int>("lateStarts");
    QTest::newRow("frames sound later: starts earlier") << qint64(-300) << 700 << 0;
    QTest::newRow("frames sound earlier: starts later") << qint64(200) << 1200 << 0;
    QTest::newRow("just rendered: starts at once") << qint64(-550) << 512 << 1;
    QTest::newRow("rendered long ago: dropped") << qint64(-700) << -1 << 0;
}

// A click scheduled at frame 1000, 512 frames rendered, then the stream's
// frames move against when they are heard; a click up to 100 frames late
// may still start.
void TestSoundOutput::scheduledStartsMoveWithTheStream()
{
    QFETCH(qint64, byFrames);
    QFETCH(int, startsAt);
    QFETCH(int, lateStarts);
    WavePlayer player(kStereo44k);
    player.schedule(player.prepare(constantWave(5000, 8192)), 1000);
    rendered(player, 512);
    player.moveScheduled(byFrames, 100);
    const std::vector<float> out = rendered(player, 1024);
    const auto first = std::find_if(out.begin(), out.end(), [](float sample) { return sample != 0.0f; });
    QCOMPARE(first == out.end() ? -1 : int(first - out.begin()) / 2 + 512, startsAt);
    QCOMPARE(player.droppedStarts(), startsAt < 0 ? 1 : 0);
    QCOMPARE(player.lateStarts(), lateStarts);
}

void TestSoundOutput::sessionGridKeepsTheFirstInterval_data()
{
    QTest::addColumn<qint64>("firstOffNs"); // where the first sound went, against the clock's frame for it
    QTest::addColumn<double>("devicePpm");  // how much faster than the monotonic clock the device runs, known before
    QTest::addColumn<qint64>("periodNs");
    QTest::addColumn<qint64>("shiftNs");    // how much later the session sounds throughout
    QTest::newRow("first sound on the clock's frame") << qint64(0) << 0.0 << qint64(100'000'000) << qint64(0);
    QTest::newRow("first sound 5 ms late") << qint64(5'000'000) << 0.0 << qint64(100'000'000) << qint64(5'000'000);
    QTest::newRow("first sound 5 ms early") << qint64(-5'000'000) << 0.0 << qint64(100'000'000) << qint64(-5'000'000);
    QTest::newRow("1000 bpm")
        << qint64(5'000'000) << 0.0 << qint64(60'000'000) << qint64(5'000'000);
    QTest::newRow("first sound 25 ms late, device 300 ppm fast")
        << qint64(25'000'000) << 300.0 << qint64(60'000'000) << qint64(25'000'000);
    QTest::newRow("first sound held back 60 ms: the session stays on time")
        << qint64(60'000'000) << 0.0 << qint64(100'000'000) << qint64(0);
}

// A fast tempo on a stream that takes 80 ms of frames at a time, as
// PulseAudio asks for them, and starts 60 ms before the first beat is due:
// the first sound is placed before the clock anchors (by the stream's
// report, off by firstOffNs), and the next one or two as well, by a report
// that is off too. Every interval is one period of device frames, within a
// frame, but where the first sound went too far off to follow: then the one
// interval in which the clock anchors.
void TestSoundOutput::sessionGridKeepsTheFirstInterval()
{
    QFETCH(qint64, firstOffNs);
    QFETCH(double, devicePpm);
    QFETCH(qint64, periodNs);
    QFETCH(qint64, shiftNs);
    const double deviceRate = 44100 * (1 + devicePpm / 1e6);
    StreamClock clock(44100, -devicePpm * 1000 / (1 + devicePpm / 1e6));
    SessionGrid grid(44100);
    const qint64 startNs = 5'000'000'000, latencyNs = 40'000'000;
    const auto deviceFrameAt = [&](qint64 timeNs) { return std::llround(double(timeNs - startNs) * deviceRate / 1e9); };
    QList<qint64> frames;
    qint64 callbacks = 0;
    int placedBeforeAnchor = 0;
    for (qint64 beat = 0; beat < 20; ++beat) {
        const qint64 dueNs = startNs + 60'000'000 + beat * periodNs;
        while (true) {
            const qint64 atNs = startNs + std::llround(double(callbacks + 1) * 3528 * 1e9 / deviceRate);
            if (atNs > dueNs)
                break;
            clock.noteRendered(atNs, ++callbacks * 3528);
        }
        // The report is never exact: every later sound it would place 3 ms late.
        const qint64 reportOffNs = beat == 0 ? firstOffNs : 3'000'000;
        const qint64 provisional = clock.isAnchored() ? StreamClock::kAtOnce
                                                      : deviceFrameAt(dueNs + latencyNs + reportOffNs);
        placedBeforeAnchor += clock.isAnchored() ? 0 : 1;
        frames.append(grid.place(clock, dueNs, latencyNs, provisional));
    }
    QVERIFY(placedBeforeAnchor >= (periodNs < 100'000'000 ? 3 : 2));
    const double period = deviceRate * double(periodNs) / 1e9;
    int offGrid = 0;
    for (qsizetype i = 1; i < frames.size(); ++i)
        offGrid += std::abs(double(frames[i] - frames[i - 1]) - period) <= 1 ? 0 : 1;
    QCOMPARE(offGrid, shiftNs == firstOffNs ? 0 : 1);
    // Later throughout by the shift, lights too; within 2 frames.
    const qint64 lastDueNs = startNs + 60'000'000 + 19 * periodNs;
    QVERIFY(std::abs(frames.last() - deviceFrameAt(lastDueNs + latencyNs + shiftNs)) <= 2);
    QVERIFY(std::abs(grid.shiftNs() - shiftNs) <= 50'000);
}

// A device position (the sample at the speakers, read ageNs ago) against
// what was written: how long until the last written frame is heard, or -1
// for a reading that cannot be trusted.
void TestSoundOutput::devicePositionGivesHeardTime_data()
{
    QTest::addColumn<quint64>("position");
    QTest::addColumn<quint64>("frequency");
    QTest::addColumn<qint64>("ageNs");
    QTest::addColumn<bool>("accurate");
    QTest::addColumn<qint64>("written");
    QTest::addColumn<qint64>("heardInNs");

    // 48 kHz; 960 frames queued are 20 ms.
    QTest::newRow("position in frames, read just now")
        << quint64(48'000) << quint64(48'000) << 0LL << true << 48'960LL << 20'000'000LL;
    QTest::newRow("read 2 ms ago: 2 ms less to wait")
        << quint64(48'000) << quint64(48'000) << 2'000'000LL << true << 48'960LL << 18'000'000LL;
    QTest::newRow("position in 100-ns units")
        << quint64(10'000'000) << quint64(10'000'000) << 0LL << true << 48'960LL << 20'000'000LL;
    QTest::newRow("position in bytes of stereo float")
        << quint64(384'000) << quint64(384'000) << 0LL << true << 48'960LL << 20'000'000LL;
    QTest::newRow("a part-frame position counts the frame begun")
        << quint64(10'000'001) << quint64(10'000'000) << 0LL << true << 48'960LL << 20'000'000LL;
    QTest::newRow("an hour in: no overflow")
        << quint64(36'000'000'000) << quint64(10'000'000) << 0LL << true << 172'800'960LL << 20'000'000LL;
    QTest::newRow("everything written is playing") << quint64(48'000) << quint64(48'000) << 0LL << true
                                                     << 48'000LL << 0LL;
    QTest::newRow("inaccurate reading (S_FALSE)")
        << quint64(48'000) << quint64(48'000) << 0LL << false << 48'960LL << -1LL;
    QTest::newRow("no frequency") << quint64(48'000) << quint64(0) << 0LL << true << 48'960LL << -1LL;
    QTest::newRow("read in the future")
        << quint64(48'000) << quint64(48'000) << -1'000'000LL << true << 48'960LL << -1LL;
    QTest::newRow("stale reading")
        << quint64(48'000) << quint64(48'000) << kStalestPositionNs + 1 << true << 48'960LL << -1LL;
    QTest::newRow("playing past what was written")
        << quint64(49'000) << quint64(48'000) << 0LL << true << 48'960LL << -1LL;
    QTest::newRow("more than a second behind what was written")
        << quint64(48'000) << quint64(48'000) << 0LL << true << 96'001LL << -1LL;
}

void TestSoundOutput::devicePositionGivesHeardTime()
{
    QFETCH(quint64, position);
    QFETCH(quint64, frequency);
    QFETCH(qint64, ageNs);
    QFETCH(bool, accurate);
    QFETCH(qint64, written);
    QFETCH(qint64, heardInNs);
    DevicePositionReading reading;
    reading.position = position;
    reading.frequency = frequency;
    reading.ageNs = ageNs;
    reading.accurate = accurate;
    QCOMPARE(heardInNsFromPosition(reading, 48'000, written), heardInNs);
}

void TestSoundOutput::deviceIsKeptFilledToItsTarget_data()
{
    QTest::addColumn<int>("bufferFrames");
    QTest::addColumn<int>("queuedFrames");
    QTest::addColumn<int>("keepFrames");
    QTest::addColumn<int>("handed");

    QTest::newRow("empty: fill to the target") << 2400 << 0 << 960 << 960;
    QTest::newRow("a period played: one period more") << 2400 << 480 << 960 << 480;
    QTest::newRow("at the target: nothing") << 2400 << 960 << 960 << 0;
    QTest::newRow("above the target: nothing") << 2400 << 1500 << 960 << 0;
    QTest::newRow("target beyond the buffer: what fits") << 800 << 300 << 960 << 500;
    QTest::newRow("a device reporting more than its buffer: nothing") << 800 << 900 << 960 << 0;
}

void TestSoundOutput::deviceIsKeptFilledToItsTarget()
{
    QFETCH(int, bufferFrames);
    QFETCH(int, queuedFrames);
    QFETCH(int, keepFrames);
    QFETCH(int, handed);
    QCOMPARE(framesToHand(bufferFrames, queuedFrames, keepFrames), handed);
}

void TestSoundOutput::deviceRendersTheImage()
{
    QCOMPARE(soundOutputState(), SoundOutputState::NotOpened);
    playWaveImage(QByteArray(), monotonicNowNs()); // nothing to play opens nothing
    QCOMPARE(soundOutputState(), SoundOutputState::NotOpened);

    playWaveImage(constantWave(4410, 16384), monotonicNowNs()); // 100 ms at half scale
    QCOMPARE(soundOutputState(), SoundOutputState::Opening);
    QTRY_COMPARE(soundOutputState(), SoundOutputState::Open);

    // The disk driver writes what the device plays, as 32-bit floats.
    QFile written(diskAudioFile());
    int longestRun = 0;
    QTRY_VERIFY_WITH_TIMEOUT(
        [&] {
            if (!written.isOpen() && !written.open(QIODevice::ReadOnly))
                return false;
            written.seek(0);
            const QByteArray bytes = written.readAll();
            const auto *samples = reinterpret_cast<const float *>(bytes.constData());
            int run = 0;
            for (qsizetype i = 0; i < bytes.size() / 4; ++i) {
                run = samples[i] == 0.5f ? run + 1 : 0;
                longestRun = std::max(longestRun, run);
            }
            return longestRun >= 2 * 4410;
        }(),
        5000);
    QCOMPARE(longestRun, 2 * 4410);
}

// A session's click asked for long after its due time (Brisquet was held
// up) is not played late; a sound outside a session (the end sound) is.
void TestSoundOutput::sessionClickTooLateIsNotPlayed()
{
    const QByteArray click = constantWave(441, 16384);
    const int droppedBefore = soundOutputCounts().droppedStarts;
    holdSoundOutput();
    QTRY_COMPARE(soundOutputState(), SoundOutputState::Open);
    playWaveImage(click, monotonicNowNs() - 300'000'000);
    QCOMPARE(soundOutputCounts().droppedStarts, droppedBefore + 1);
    playWaveImage(click, monotonicNowNs());
    QCOMPARE(soundOutputCounts().droppedStarts, droppedBefore + 1);
    releaseSoundOutput();
    playWaveImage(click, monotonicNowNs() - 300'000'000);
    QCOMPARE(soundOutputCounts().droppedStarts, droppedBefore + 1);
}

void TestSoundOutput::missingDeviceStaysSilentWithoutRetrying()
{
    QProcess child;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("SDL_AUDIODRIVER"), QStringLiteral("no-such-driver"));
    child.setProcessEnvironment(env);
    child.start(QCoreApplication::applicationFilePath(), {QStringLiteral("child-no-device")});
    QVERIFY(child.waitForFinished(30000));
    QCOMPARE(child.exitStatus(), QProcess::NormalExit);
    QCOMPARE(child.readAllStandardOutput().trimmed(), QByteArray("silent"));
}

void TestSoundOutput::pipeWireReportGivesHeardTime_data()
{
    QTest::addColumn<qint64>("ageNs");
    QTest::addColumn<quint32>("rateDenom");
    QTest::addColumn<qint64>("delayTicks");
    QTest::addColumn<qint64>("queuedFrames");
    QTest::addColumn<qint64>("bufferedFrames");
    QTest::addColumn<qint64>("heardInNs");

    // A 48 kHz graph, a 44.1 kHz stream: 960 ticks are 20 ms, 441 frames 10 ms.
    QTest::newRow("graph delay only") << 0LL << 48'000u << 960LL << 0LL << 0LL << 20'000'000LL;
    QTest::newRow("queued and resampled frames at the stream's rate")
        << 0LL << 48'000u << 960LL << 441LL << 441LL << 40'000'000LL;
    QTest::newRow("report 2 ms old: 2 ms less to wait") << 2'000'000LL << 48'000u << 960LL << 441LL << 0LL
                                                        << 28'000'000LL;
    QTest::newRow("a filter's negative delay") << 0LL << 48'000u << -480LL << 882LL << 0LL << 10'000'000LL;
    QTest::newRow("no cycle yet: no graph rate") << 0LL << 0u << 0LL << 441LL << 0LL << -1LL;
    QTest::newRow("report in the future") << -1'000'000LL << 48'000u << 960LL << 0LL << 0LL << -1LL;
    QTest::newRow("stale report") << kStalestPositionNs + 1 << 48'000u << 960LL << 0LL << 0LL << -1LL;
    QTest::newRow("heard before now") << 0LL << 48'000u << -960LL << 0LL << 0LL << -1LL;
    QTest::newRow("more than a second ahead") << 0LL << 48'000u << 48'001LL << 0LL << 0LL << -1LL;
}

void TestSoundOutput::pipeWireReportGivesHeardTime()
{
    QFETCH(qint64, ageNs);
    QFETCH(quint32, rateDenom);
    QFETCH(qint64, delayTicks);
    QFETCH(qint64, queuedFrames);
    QFETCH(qint64, bufferedFrames);
    QFETCH(qint64, heardInNs);
    PipeWireTimeReport report;
    report.reportNs = 5'000'000'000;
    report.nowNs = report.reportNs + ageNs;
    report.graphRateNum = 1;
    report.graphRateDenom = rateDenom;
    report.delayTicks = delayTicks;
    report.queuedFrames = queuedFrames;
    report.bufferedFrames = bufferedFrames;
    report.streamRate = 44'100;
    QCOMPARE(heardInNsFromReport(report), heardInNs);
}

// The stream opens on a worker, held up here as a server that does not
// answer would: the calls a window makes meanwhile return, and the sound
// asked for last is played once the stream opens, unless it is a session's
// click whose time has passed by then.
void TestSoundOutput::openingKeepsNobodyWaiting_data()
{
    QTest::addColumn<bool>("session");
    QTest::addColumn<int>("dueInMs");
    QTest::addColumn<bool>("stopped");
    QTest::addColumn<int>("openedAfterMs");
    QTest::addColumn<int>("played");
    QTest::addColumn<int>("dropped");

    QTest::newRow("a session's click, the stream opening in time") << true << 500 << false << 0 << 1 << 0;
    QTest::newRow("a session's click, the stream opening after its time") << true << 0 << false << 300 << 0 << 1;
    QTest::newRow("a session stopped while the stream opens") << true << 500 << true << 0 << 0 << 0;
    QTest::newRow("a sound outside a session, the stream opening late") << false << 0 << false << 300 << 1 << 0;
}

void TestSoundOutput::openingKeepsNobodyWaiting()
{
    QFETCH(bool, session);
    QFETCH(int, dueInMs);
    QFETCH(bool, stopped);
    QFETCH(int, openedAfterMs);
    QFETCH(int, played);
    QFETCH(int, dropped);
    QVERIFY(outputClosed());
    QSemaphore serverAnswers;
    std::shared_ptr<std::atomic<int>> starts;
    setStreamOpener([&](StreamFeed &feed, StreamChoice) {
        serverAnswers.acquire();
        return countingStream(feed, true, &starts);
    });
    if (session)
        holdSoundOutput();
    playWaveImage(constantWave(441, 16384), monotonicNowNs() + dueInMs * 1'000'000LL);
    if (stopped)
        dropUnheardSounds();
    QCOMPARE(soundOutputState(), SoundOutputState::Opening);
    QCOMPARE(soundHeardDelayNs(), 0);
    QTest::qWait(openedAfterMs);
    serverAnswers.release();
    QTRY_COMPARE(soundOutputState(), SoundOutputState::Open);
    QTest::qWait(dueInMs + 300);
    QCOMPARE(starts->load(), played);
    QCOMPARE(soundOutputCounts().droppedStarts, dropped);
    QCOMPARE(relocks.load(), 0);
    QVERIFY(outputClosed());
    setStreamOpener({});
}

// A session that found only SDL's output keeps asking for the system's own
// stream, and moves to it: every click is played once, on one of them.
void TestSoundOutput::sessionMovesToTheOwnStreamOnceItOpens()
{
    QVERIFY(outputClosed());
    std::shared_ptr<std::atomic<int>> onFallback;
    std::shared_ptr<std::atomic<int>> onOwn;
    int ownTries = 0;
    setStreamOpener([&](StreamFeed &feed, StreamChoice choice) -> std::unique_ptr<SoundStream> {
        if (choice == StreamChoice::Best)
            return countingStream(feed, false, &onFallback);
        return ++ownTries < 2 ? nullptr : countingStream(feed, true, &onOwn);
    });
    holdSoundOutput();
    QTRY_COMPARE(soundOutputState(), SoundOutputState::Open);
    const QByteArray click = constantWave(441, 16384);
    int asked = 0;
    for (; asked < 40 && !(onOwn && onOwn->load() >= 5); ++asked) {
        playWaveImage(click, monotonicNowNs());
        QTest::qWait(100);
    }
    QTest::qWait(300);
    QVERIFY(onOwn);
    QVERIFY(onOwn->load() >= 5);
    QCOMPARE(onFallback->load() + onOwn->load(), asked);
    QCOMPARE(ownTries, 2);
    QCOMPARE(relocks.load(), 0);
    QVERIFY(outputClosed());
    setStreamOpener({});
}

// Streams lost while they render, one after another: each closes on the
// worker while the session asks for the next, its thread ending before what
// it calls goes (the sanitizer builds check that).
void TestSoundOutput::lostStreamsCloseWhileTheNextOpens()
{
    QVERIFY(outputClosed());
    setStreamOpener([](StreamFeed &feed, StreamChoice) -> std::unique_ptr<SoundStream> {
        return std::make_unique<CountingStream>(feed, true, 2);
    });
    const int reopensBefore = soundOutputCounts().reopens;
    holdSoundOutput();
    const QByteArray click = constantWave(441, 16384);
    for (int i = 0; i < 300 && soundOutputCounts().reopens - reopensBefore < 10; ++i) {
        playWaveImage(click, monotonicNowNs());
        QTest::qWait(10);
    }
    QVERIFY(soundOutputCounts().reopens - reopensBefore >= 10);
    QCOMPARE(relocks.load(), 0);
    QVERIFY(outputClosed());
    setStreamOpener({});
}

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    if (QCoreApplication::arguments().value(1) == u"child-no-device") {
        playWaveImage(constantWave(100, 1000), monotonicNowNs());
        QTest::qWaitFor([] { return soundOutputState() != SoundOutputState::Opening; }, 20000);
        const bool unavailable = soundOutputState() == SoundOutputState::Unavailable;
        playWaveImage(constantWave(100, 1000), monotonicNowNs());
        QTest::qWait(100);
        const bool stillUnavailable = soundOutputState() == SoundOutputState::Unavailable;
        std::puts(unavailable && stillUnavailable ? "silent" : "tried again");
        return 0;
    }
    QTemporaryDir scratch;
    qputenv("SDL_AUDIODRIVER", "disk");
    qputenv("SDL_DISKAUDIOFILE", scratch.filePath(QStringLiteral("device.raw")).toLocal8Bit());
    TestSoundOutput test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_sound_output.moc"
