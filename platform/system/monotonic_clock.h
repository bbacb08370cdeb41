// Brisquet's one monotonic clock, in nanoseconds since an arbitrary start:
// the timers' tick grid and the sound output's schedule are both read off it,
// on any thread, so a tick's due time names the moment its click should sound.
#pragma once

#include <QtGlobal>

#include <chrono>

inline qint64 monotonicNowNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}
