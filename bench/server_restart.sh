#!/usr/bin/env bash
# The sound server goes away while Brisquet ticks, and comes back: do the
# clicks come back by themselves, and how soon? Brisquet (the real Form1,
# offscreen) ticks at 120 bpm for 30 s; 8 s in, the private server
# (bench/sound_server.sh; SERVER=pipewire for PipeWire) is stopped, and
# started again a second later. The sink's monitor is recorded from the
# moment the new server answers; the first click in that recording says how
# long the clicks took to come back, and the count of the next 10 s says
# whether they kept coming (20 expected). Needs what timing.sh needs.
set -euo pipefail
cd "$(dirname "$0")/.."
server=${SERVER:-pulseaudio}
cmake -S . -B build-bench -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBRISQUET_BENCH=ON -DBUILD_TESTING=OFF >/dev/null
cmake --build build-bench --parallel "$(nproc)" --target bench_metronome bench_click_onsets >/dev/null
bin=$PWD/build-bench/bench
work=$(mktemp -d)
export XDG_CONFIG_HOME=$work/config QT_QPA_PLATFORM=offscreen
unset SDL_AUDIODRIVER
source bench/sound_server.sh
trap stop_sound_server EXIT
start_sound_server "$work" "$server"
sleep 2

# Each sound path in turn (use_sound_path in sound_server.sh; on PipeWire
# "native pulse" by default, else "native").
for path in ${PATHS:-$([ "$server" = pipewire ] && echo native pulse || echo native)}; do
    use_sound_path "$path"
    "$bin/bench_metronome" 120 30 > "$work/metronome.out" 2>&1 & metronome=$!
    sleep 8
    stop_sound_server
    sleep 1
    start_sound_server "$work" "$server" # the same socket paths Brisquet knows
    back=$sound_server_answered
    parecord --latency-msec=20 --device=metro.monitor --file-format=wav --format=s16le \
        --rate=44100 --channels=2 "$work/after.wav" & rec=$!
    recording=$(date +%s.%N)
    sleep 12
    kill -INT "$rec"; wait "$rec" || true
    wait "$metronome" || true
    onsets=$("$bin/bench_click_onsets" "$work/after.wav" 500 | grep -E '^(clicks|pattern)' || true)
    first=$(awk -v r="$recording" -v b="$back" 'BEGIN { printf "%.2f", r - b }')
    echo "$server, $path: recording from $first s after the server answered again"
    echo "$onsets"
    python3 - "$work/after.wav" "$first" <<'PY'
import struct, sys, wave
w = wave.open(sys.argv[1]); n = w.getnframes(); data = w.readframes(n)
left = struct.unpack(f"<{n * 2}h", data)[::2]
quiet, onsets = 44100, []
for i, s in enumerate(left):
    if abs(s) > 800:
        if quiet > 1764: onsets.append(i)
        quiet = 0
    else:
        quiet += 1
lead = float(sys.argv[2])
if onsets:
    print(f"first click {lead + onsets[0] / 44100:.2f} s after the server answered again;"
          f" {sum(1 for o in onsets if onsets[0] <= o < onsets[0] + 10 * 44100)} clicks in the 10 s from it")
else:
    print("no click after the restart")
PY
    grep -E 'late starts|still ticking' "$work/metronome.out" || true
    sleep 2
done
