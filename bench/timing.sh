#!/usr/bin/env bash
# How steady Brisquet's clicks are through a real sound server: a private
# PulseAudio daemon with a null sink, its monitor recorded with parecord,
# the real Form1 driven by bench_metronome, clicks found by
# bench_click_onsets. Each case runs the grid design and the naive one (every
# click at once, at the next device buffer) side by side, idle and with both
# cores busy; the floor is a pre-rendered click train played with paplay.
# Needs pulseaudio and pulseaudio-utils. Usage:
#   bench/timing.sh [seconds] [tempo...]      (default: 30 s at 30 120 250 600)
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-30}; shift || true
tempos=("${@:-30 120 250 600}"); tempos=(${tempos[*]})
cmake -S . -B build-bench -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBRISQUET_BENCH=ON -DBUILD_TESTING=OFF >/dev/null
cmake --build build-bench --parallel "$(nproc)" --target bench_metronome bench_click_onsets >/dev/null
bin=$PWD/build-bench/bench
work=$(mktemp -d)
export HOME=$work XDG_RUNTIME_DIR=$work PULSE_RUNTIME_PATH=$work/pulse PULSE_STATE_PATH=$work/state
export XDG_CONFIG_HOME=$work/config QT_QPA_PLATFORM=offscreen SDL_AUDIODRIVER=pulseaudio PULSE_SINK=metro
pulseaudio -n --daemonize=yes --exit-idle-time=-1 --load=module-native-protocol-unix \
    --load="module-null-sink sink_name=metro rate=44100 channels=2" 2>/dev/null
busy=()
cleanup() { kill "${busy[@]}" 2>/dev/null || true; pulseaudio --kill 2>/dev/null || true; }
trap cleanup EXIT
sleep 1

record() { # out.wav command...
    local out=$1; shift
    parecord --latency-msec=20 --device=metro.monitor --file-format=wav --format=s16le \
        --rate=44100 --channels=2 "$out" &
    local rec=$!; sleep 0.5
    "$@"
    sleep 0.5; kill -INT "$rec"; wait "$rec" || true
}

echo "| tempo | load | design | late starts | re-anchors | interval error (samples) |"
echo "|---|---|---|---|---|---|"
for load in idle busy; do
    if [ "$load" = busy ]; then
        for _ in 1 2; do (while :; do :; done) & busy+=($!); done
    fi
    for tempo in "${tempos[@]}"; do
        period=$(( (60000 + tempo / 2) / tempo ))
        for design in grid naive; do
            wav=$work/$tempo-$load-$design.wav
            counts=$(record "$wav" "$bin/bench_metronome" "$tempo" "$seconds" "$design" 2>/dev/null | grep 'late starts')
            result=$("$bin/bench_click_onsets" "$wav" "$period" "$work/$tempo-$load-$design.err" | grep 'interval error' || echo "no clicks found")
            late=$(sed -E 's/late starts ([0-9]+).*/\1/' <<<"$counts")
            reanchors=$(sed -E 's/.*re-anchors ([0-9]+).*/\1/' <<<"$counts")
            echo "| $tempo | $load | $design | $late | $reanchors | ${result#interval error: } |"
        done
    done
done
kill "${busy[@]}" 2>/dev/null || true; busy=()

"$bin/bench_click_onsets" --train "$work/train.wav" 500 40
record "$work/floor.wav" paplay --device=metro "$work/train.wav"
echo "| 120 | idle | paplay floor | - | - | $("$bin/bench_click_onsets" "$work/floor.wav" 500 | grep 'interval error' | sed 's/interval error: //') |"
echo "recordings and interval errors: $work"
