#!/usr/bin/env bash
# The default output device changes while Brisquet ticks: do the clicks
# follow it? Brisquet (the real Form1, offscreen) ticks at 120 bpm for 20 s
# through a private server (bench/sound_server.sh; SERVER=pipewire for
# PipeWire) with two null sinks, "metro" the default and "other"; 8 s in,
# "other" becomes the default, as a desktop's sound settings would make it.
# The sink Brisquet's stream is on, before and after, and the monitor of
# "other" recorded throughout (how soon after the change its first click
# came, and how many followed) say whether the clicks followed. (A recording
# of "metro" cannot tell: the servers move a recording of the default
# sink's monitor to the new default's monitor too.) Needs what
# server_restart.sh needs.
set -euo pipefail
cd "$(dirname "$0")/.."
server=${SERVER:-pulseaudio}
cmake -S . -B build-bench -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBRISQUET_BENCH=ON -DBUILD_TESTING=OFF >/dev/null
cmake --build build-bench --parallel "$(nproc)" --target bench_metronome >/dev/null
bin=$PWD/build-bench/bench
work=$(mktemp -d)
export XDG_CONFIG_HOME=$work/config QT_QPA_PLATFORM=offscreen
unset SDL_AUDIODRIVER
source bench/sound_server.sh
recorders=()
cleanup() { kill "${recorders[@]}" 2>/dev/null || true; stop_sound_server; }
trap cleanup EXIT
start_sound_server "$work" "$server"
unset PULSE_SINK # a stream nobody routed by hand goes to the default, and follows it
pactl load-module module-null-sink sink_name=other rate=44100 channels=2 >/dev/null
if [ "${KEEP_AWAKE:-1}" != 0 ]; then
    pacat --playback --device=other --raw --format=s16le --rate=44100 --channels=2 \
        --latency-msec=20 /dev/zero & sound_server_pids+=($!)
fi
sleep 2

brisquets_sink() {
    pactl list sink-inputs | awk '/^\tSink: / { sink = $2 } /application.name = "Brisquet"/ { print sink }' |
        while read -r index; do pactl list short sinks | awk -v i="$index" '$1 == i { print $2 }'; done
}
# Each sound path in turn (use_sound_path in sound_server.sh; on PipeWire
# "native pulse" by default, else "native"), "metro" the default again before each.
for path in ${PATHS:-$([ "$server" = pipewire ] && echo native pulse || echo native)}; do
    use_sound_path "$path"
    pactl set-default-sink metro
    sleep 2
    echo "== $server, $path"
    parecord --latency-msec=20 --device=other.monitor --file-format=wav --format=s16le \
        --rate=44100 --channels=2 "$work/other.wav" & recorders+=($!)
    recording=$(date +%s.%N)
    "$bin/bench_metronome" 120 20 > "$work/metronome.out" 2>&1 & metronome=$!
    sleep 8
    echo "Brisquet's stream before the change: on $(brisquets_sink)"
    pactl set-default-sink other
    switched=$(date +%s.%N)
    sleep 1
    echo "Brisquet's stream 1 s after the change: on $(brisquets_sink)"
    wait "$metronome" || true
    sleep 1
    kill -INT "${recorders[@]}"; wait "${recorders[@]}" || true
    recorders=()

    read -r before after first < <(bench/onsets.py "$work/other.wav" \
        "$(awk -v s="$switched" -v r="$recording" 'BEGIN { print s - r }')")
    echo "other: $before clicks before the change, $after after"
    [ "$first" = - ] && echo "no click on other" || echo "first click on other $first s after the change"
    grep -E 'late starts' "$work/metronome.out" || true
done
