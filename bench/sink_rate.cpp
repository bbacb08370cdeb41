// How fast a sound server's sink really runs against the monotonic clock,
// the clock Brisquet's ticks keep: reads 16-bit stereo raw audio (a monitor
// recording from parecord --raw) on stdin and prints the frames per second
// it delivered from from-s to to-s after the first byte (default: from 2 s
// to the end), the slope of a straight-line fit of frames against arrival
// time, so that the jitter of single arrivals averages out. PulseAudio's null
// sink is not 44100 Hz by this measure: it renders chunks of whole
// microseconds.
// Usage: bench_sink_rate [from-s [to-s]]
#include "system/monotonic_clock.h"

#include <cstdio>
#include <cstdlib>
#include <limits>
#include <unistd.h>

int main(int argc, char *argv[])
{
    const double fromS = argc > 1 ? std::atof(argv[1]) : 2.0;
    const double toS = argc > 2 ? std::atof(argv[2]) : std::numeric_limits<double>::max();
    char buffer[4096];
    long long frames = 0;
    qint64 firstNs = 0;
    double n = 0, sumT = 0, sumF = 0, sumTT = 0, sumTF = 0;
    for (;;) {
        const ssize_t got = read(0, buffer, sizeof buffer);
        if (got <= 0)
            break;
        const qint64 nowNs = monotonicNowNs();
        if (firstNs == 0)
            firstNs = nowNs;
        frames += got / 4;
        const double t = double(nowNs - firstNs) / 1e9;
        if (t < fromS || t > toS)
            continue;
        const double f = double(frames);
        n += 1; sumT += t; sumF += f; sumTT += t * t; sumTF += t * f;
    }
    if (n < 100) {
        std::puts("0");
        return 1;
    }
    std::printf("%.2f\n", (n * sumTF - sumT * sumF) / (n * sumTT - sumT * sumT));
    return 0;
}
