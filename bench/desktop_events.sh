#!/usr/bin/env bash
# What the rest of a desktop does to Brisquet's clicks. Brisquet (the real
# Form1, offscreen) ticks at 120 bpm through a private sound server's null
# sink (bench/sound_server.sh, no keep-awake stream), beside a reference
# click train that paplay plays on the left channel only, through the same
# sink, all along. The sink's monitor is recorded; desktop_events.py finds
# Brisquet's clicks on the right channel, the reference's on the left less
# the right, and gives, for each event, each
# train's worst error against its own grid (a line through its clicks of
# the 2.5 s before the event), its largest gap, and clicks extra or missing.
# The events, 3 s apart from 6 s in:
#   play5 / rec5: pacat playing, parecord recording the monitor, 5 ms latency
#   play / rec:   the same at their default latency
#   -name: that one stops
#   stall0.3 / stall3: Brisquet held up with SIGSTOP, then SIGCONT
# Usage: bench/desktop_events.sh [sessions]   (default 1)
#   SERVER="pulseaudio pipewire"  the servers, in turn (default both)
#   RATES="44100 48000"           the null sink's rate (default both)
#   BINS="dir ..."                builds of bench_metronome to compare in one
#                                 run (default build-bench/bench); each one's
#                                 figures are labelled with the folder above it
#   PATHS="native"                use_sound_path in sound_server.sh
#   LOAD=busy                     four busy loops at nice 0 all along
# Needs pulseaudio-utils, sox, python3-numpy, and pulseaudio or pipewire,
# wireplumber and pipewire-pulse.
set -euo pipefail
cd "$(dirname "$0")/.."
sessions=${1:-1}
cmake -S . -B build-bench -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBRISQUET_BENCH=ON -DBUILD_TESTING=OFF >/dev/null
cmake --build build-bench --parallel "$(nproc)" --target bench_metronome bench_click_onsets >/dev/null
onsets_bin=$PWD/build-bench/bench/bench_click_onsets
bins=(${BINS:-$PWD/build-bench/bench})
events=(${EVENTS:-play5 rec5 -play5 -rec5 play rec -play -rec stall0.3 stall3})
work=$(mktemp -d)
export XDG_CONFIG_HOME=$work/config QT_QPA_PLATFORM=offscreen KEEP_AWAKE=0
source bench/sound_server.sh
busy=()
cleanup() { kill "${busy[@]}" 2>/dev/null || true; stop_sound_server; }
trap cleanup EXIT
if [ "${LOAD:-idle}" = busy ]; then
    for _ in 1 2 3 4; do (while :; do :; done) & busy+=($!); done
fi

length=$((6 + 3 * ${#events[@]} + 4))
"$onsets_bin" --train "$work/train.wav" 500 $((2 * length + 20))
sox "$work/train.wav" "$work/reference.wav" remix 1 0

session() { # bin label rate
    local bin=$1 label=$2 rate=$3 name=$work/$2
    local others=() starts=() t0
    paplay --device=metro "$work/reference.wav" & local reference=$!
    sleep 1
    parecord --latency-msec=20 --device=metro.monitor --file-format=wav --format=s16le \
        --rate=44100 --channels=2 "$name.wav" & local rec=$!
    sleep 0.5
    REPORT_LOG=$name.reports "$bin/bench_metronome" 120 "$length" > "$name.out" 2>&1 & local metronome=$!
    t0=$(date +%s.%N)
    : > "$name.events"
    sleep 6
    for event in "${events[@]}"; do
        # A stall is logged when Brisquet runs again.
        [[ $event == stall* ]] || echo "$(date +%s.%N) $event" >> "$name.events"
        case $event in
        play5) pacat --playback --device=metro --latency-msec=5 /dev/zero & others+=("play5 $!") ;;
        rec5) parecord --device=metro.monitor --latency-msec=5 --raw > /dev/null & others+=("rec5 $!") ;;
        play) pacat --playback --device=metro /dev/zero & others+=("play $!") ;;
        rec) parecord --device=metro.monitor --raw > /dev/null & others+=("rec $!") ;;
        -*) for other in "${others[@]}"; do
                [ "${other% *}" = "${event#-}" ] && kill "${other#* }" 2>/dev/null || true
            done ;;
        stall*) kill -STOP "$metronome"; sleep "${event#stall}"; kill -CONT "$metronome"
            echo "$(date +%s.%N) $event" >> "$name.events" ;;
        esac
        sleep 3
    done
    wait "$metronome" || true
    sleep 0.5
    kill -INT "$rec"; wait "$rec" || true
    kill "$reference" 2>/dev/null; wait "$reference" 2>/dev/null || true
    /usr/bin/python3 bench/desktop_events.py "$name" "$t0" "$rate" "$label"
    grep -E 'late starts' "$name.out" || true
}

for server in ${SERVER:-pulseaudio pipewire}; do
    for rate in ${RATES:-44100 48000}; do
        start_sound_server "$work/server" "$server"
        if [ "$rate" != 44100 ]; then
            pactl unload-module module-null-sink 2>/dev/null || true
            pactl load-module module-null-sink sink_name=metro rate="$rate" channels=2 >/dev/null
            pactl set-default-sink metro
        fi
        sleep 2
        for path in ${PATHS:-native}; do
            use_sound_path "$path"
            for round in $(seq "$sessions"); do
                for bin in "${bins[@]}"; do
                    label="$server-$rate-$path-$(basename "$(dirname "$bin")")-$round"
                    echo "== $label"
                    session "$bin" "$label" "$rate"
                done
            done
        done
        unset PIPEWIRE_REMOTE SDL_AUDIODRIVER
        stop_sound_server
        sleep 1
    done
done
echo "recordings: $work"
