#!/usr/bin/env bash
# Builds the benchmarks and prints their figures (bench/timing.sh measures
# the clicks through a real sound server). Needs the packages of
# ./dev test, plus sox for the sound measurements.
set -euo pipefail
cd "$(dirname "$0")/.."
cmake -S . -B build-bench -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBRISQUET_BENCH=ON -DBUILD_TESTING=OFF >/dev/null
cmake --build build-bench --parallel "$(nproc)" >/dev/null
export QT_QPA_PLATFORM=offscreen SDL_AUDIODRIVER=dummy
export XDG_CONFIG_HOME="$(mktemp -d)" # never the user's own tempo
seconds=${BENCH_SECONDS:-60}

echo "== start-up, five runs"
for _ in 1 2 3 4 5; do ./build-bench/bench/bench_startup; done
echo "== playWaveImage on the UI thread"
./build-bench/bench/bench_play_sound
echo "== ticking at 120 bpm for ${seconds} s"
./build-bench/bench/bench_ticking 120 "$seconds"
./build-bench/bench/bench_ticking 120 "$seconds" silent

echo "== the sounds as the player renders them"
out=$(mktemp -d)
./build-bench/bench/bench_render_sounds "$out"
for n in 102 103 104; do
    echo "-- $n"
    sox -t f32 -r 44100 -c 2 "$out/$n.f32" -n stats 2>&1 | grep -E 'Pk lev dB|RMS lev dB|DC offset|Length s'
    sox -t f32 -r 44100 -c 2 "$out/$n.f32" -n remix 1 stat 2>&1 | grep -E 'Rough'
done
