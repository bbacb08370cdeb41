// How long one playWaveImage() call keeps the UI thread: the first call (it
// asks the worker to open the device), how long the device then took to
// open, and 10,000 calls after it, alternating accent and click as the beat
// step does. Uses whatever SDL_AUDIODRIVER names (run.sh: dummy).
#include "sound/sound_output.h"
#include "stats.h"
#include "system/monotonic_clock.h"
#include "system/resource_data.h"

#include <QCoreApplication>

#include <chrono>
#include <thread>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QByteArray click = LoadResData(102, QStringLiteral("CUSTOM"));
    const QByteArray accent = LoadResData(103, QStringLiteral("CUSTOM"));
    using Clock = std::chrono::steady_clock;
    const auto us = [](Clock::duration d) { return std::chrono::duration<double, std::micro>(d).count(); };

    auto start = Clock::now();
    playWaveImage(accent, monotonicNowNs());
    std::printf("first call (asks for the device): %.1f us\n", us(Clock::now() - start));
    while (soundOutputState() == SoundOutputState::Opening)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    std::printf("device %s after %.1f us\n", soundOutputState() == SoundOutputState::Open ? "open" : "unavailable",
                us(Clock::now() - start));
    start = Clock::now();
    playWaveImage(accent, monotonicNowNs());
    std::printf("first call with the device open: %.1f us\n", us(Clock::now() - start));
    start = Clock::now();
    playWaveImage(click, monotonicNowNs());
    std::printf("first call with the click (decodes): %.1f us\n", us(Clock::now() - start));

    std::vector<double> calls;
    calls.reserve(10000);
    for (int i = 0; i < 10000; ++i) {
        const QByteArray &image = i % 4 == 0 ? accent : click;
        start = Clock::now();
        playWaveImage(image, monotonicNowNs());
        calls.push_back(us(Clock::now() - start));
        if (i % 100 == 0) // let the audio thread run between bursts, as beats would
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    printSummary("playWaveImage", "us", calls);
    return 0;
}
