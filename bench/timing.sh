#!/usr/bin/env bash
# How steady Brisquet's clicks are through a real sound server: a private
# PulseAudio daemon (SERVER=pipewire: PipeWire with its PulseAudio server)
# with a null sink (bench/sound_server.sh), its monitor recorded with
# parecord, the real Form1 driven by bench_metronome, clicks found by
# bench_click_onsets. Each case runs the designs of DESIGNS side by side
# (default grid, sdl and naive: grid, Brisquet's own stream, PipeWire's on
# PipeWire; pulse, Brisquet's own PulseAudio stream, on PipeWire through its
# PulseAudio server; sdl, the same grid through SDL's PulseAudio client;
# naive, every click at once at the next device buffer through SDL), idle and with both cores busy; then one full session at 120 bpm to the automatic stop; the
# floor is a pre-rendered click train played with paplay. The sink's real
# rate against the monotonic clock is measured during each recording, and
# the errors are given in its frames against the real-time period.
# Needs pulseaudio, pulseaudio-utils and gnuplot-nox. Usage:
#   bench/timing.sh [seconds] [tempo...]      (default: 30 s at 30 120 250 600)
# BENCH_FULL=0 leaves out the ten-minute session. The plot of the interval
# errors at 120 bpm goes to docs/timing-intervals.png.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-30}; shift || true
tempos=("${@:-30 120 250 600}"); tempos=(${tempos[*]})
cmake -S . -B build-bench -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBRISQUET_BENCH=ON -DBUILD_TESTING=OFF >/dev/null
cmake --build build-bench --parallel "$(nproc)" --target bench_metronome bench_click_onsets bench_sink_rate >/dev/null
bin=$PWD/build-bench/bench
docs=$PWD/docs
work=$(mktemp -d)
export XDG_CONFIG_HOME=$work/config QT_QPA_PLATFORM=offscreen
source bench/sound_server.sh
start_sound_server "$work" "${SERVER:-pulseaudio}"
sleep 2
busy=()
cleanup() { kill "${busy[@]}" 2>/dev/null || true; stop_sound_server; }
trap cleanup EXIT

record() { # name seconds command...: $work/name.wav, and in $work/name.rate the
    # sink's rate while the session runs (from 1 s into the recording to its length)
    local name=$1 length=$2; shift 2
    parecord --latency-msec=20 --device=metro.monitor --file-format=wav --format=s16le \
        --rate=44100 --channels=2 "$work/$name.wav" &
    local rec=$!
    parecord --raw --latency-msec=20 --device=metro.monitor --format=s16le --rate=44100 \
        --channels=2 | "$bin/bench_sink_rate" 1 "$length" > "$work/$name.rate" &
    local rate=$!
    sleep 0.5
    "$@"
    sleep 0.5; kill -INT "$rec"; pkill -INT -f "parecord --raw" || true
    wait "$rec" "$rate" || true
}

run_design() { # design tempo seconds|full
    case $1 in
    grid) env -u SDL_AUDIODRIVER "$bin/bench_metronome" "$2" "$3" grid ;;
    pulse) env -u SDL_AUDIODRIVER PIPEWIRE_REMOTE="$no_pipewire_server" "$bin/bench_metronome" "$2" "$3" grid ;;
    sdl) SDL_AUDIODRIVER=pulseaudio "$bin/bench_metronome" "$2" "$3" grid ;;
    naive) SDL_AUDIODRIVER=pulseaudio "$bin/bench_metronome" "$2" "$3" naive ;;
    esac
}

figures() { # the sd/p99/max part of an analyser line
    sed -E 's/.*sd ([-0-9.]+) p99 ([-0-9.]+) max ([-0-9.]+) samples.*/\1 \/ \2 \/ \3/'
}

row() { # name tempo load design counts
    local name=$1 tempo=$2 load=$3 design=$4 counts=$5 period out rate
    period=$(awk -v t="$tempo" 'BEGIN { printf "%.6f", 60000 / t }')
    rate=$(cat "$work/$name.rate")
    out=$("$bin/bench_click_onsets" "$work/$name.wav" "$period" "$work/$name.err" "$rate" || true)
    local late reanchors all settled end
    late=$(sed -E 's/.*late starts ([0-9]+).*/\1/' <<<"$counts")
    reanchors=$(sed -E 's/.*re-anchors ([0-9]+).*/\1/' <<<"$counts")
    all=$(grep '^interval error' <<<"$out" | figures || echo "no clicks found")
    settled=$(grep '^from 10 s' <<<"$out" | figures || echo "-")
    end=$(grep '^end sound' <<<"$out" | sed -E 's/end sound: ([-0-9.]+) samples.*/\1/' || true)
    echo "| $tempo | $load | $design | $late | $reanchors | $rate | $all | $settled |${end:+ end sound $end samples off the grid |}"
}

echo "| tempo | load | design | late starts | re-anchors | sink rate (Hz) | interval error sd / p99 / max (samples) | from 10 s on |"
echo "|---|---|---|---|---|---|---|---|"
for load in idle busy; do
    if [ "$load" = busy ]; then
        for _ in 1 2; do (while :; do :; done) & busy+=($!); done
    fi
    for tempo in "${tempos[@]}"; do
        for design in ${DESIGNS:-grid sdl naive}; do
            name=$tempo-$load-$design
            counts=$(record "$name" "$seconds" run_design "$design" "$tempo" "$seconds" 2>/dev/null | grep 'late starts')
            row "$name" "$tempo" "$load" "$design" "$counts"
        done
    done
done
kill "${busy[@]}" 2>/dev/null || true; busy=()

if [ "${BENCH_FULL:-1}" = 1 ]; then
    counts=$(record full 600 run_design grid 120 full 2>/dev/null | tee "$work/full.out" | grep 'late starts')
    row full 120 idle "grid, 10 min to the automatic stop" "$counts"
fi

"$bin/bench_click_onsets" --train "$work/train.wav" 500 40
record floor 20 paplay --device=metro "$work/train.wav"
rate=$(cat "$work/floor.rate")
echo "| 120 | idle | paplay floor | - | - | $rate | $("$bin/bench_click_onsets" "$work/floor.wav" 500 | grep '^interval error' | figures) | - |"

if [ -s "$work/120-busy-grid.err" ] && [ -s "$work/120-busy-naive.err" ] && command -v gnuplot >/dev/null; then
    gnuplot <<PLOT
set terminal pngcairo size 900,420 font "Liberation Sans,10"
set output "$docs/timing-intervals.png"
set title "Beat-to-beat interval error at 120 bpm, both cores busy, PulseAudio null sink"
set xlabel "beat"
set ylabel "error (samples at 44.1 kHz)"
set yrange [-600:600]
set grid
plot "$work/120-busy-naive.err" with linespoints pt 7 ps 0.5 title "naive: at the next device buffer", \
     "$work/120-busy-grid.err" with linespoints pt 7 ps 0.5 lw 2 title "Brisquet: on the sample grid"
PLOT
fi
echo "recordings and interval errors: $work"
