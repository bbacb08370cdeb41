#!/usr/bin/env bash
# What Brisquet costs the machine, beside a bare Qt window of its size (and
# the same with one line of text, which makes Qt load its font database), all
# under a private Xvfb with a private PulseAudio null sink:
#  - start-up, process start to the window's first frame, median of 10;
#  - resident memory after start-up and after a full ten-minute session;
#  - CPU while ticking at 120 bpm with sound (60 s), and idle after the
#    session (60 s), from /proc (ticks of 10 ms; while ticking also each
#    thread's, and the sound server's processes', from schedstat).
# Needs xvfb, xdotool, python3-xlib, pulseaudio and pulseaudio-utils.
# BENCH_SESSION_S shortens the session (default 600 s, to the automatic stop).
# SERVER=pipewire runs PipeWire with its PulseAudio server (bench/sound_server.sh);
# SERVER="pulseaudio pipewire" measures the ticking on each, a fresh server
# each round (start-up and the session's end run on the first and the last).
# SOUNDS lists the sound paths measured while ticking, each in a fresh
# Brisquet, ROUNDS times in turn (use_sound_path in sound_server.sh; on
# PipeWire by default "native pulse": PipeWire's own stream and the
# PulseAudio one through pipewire-pulse; else "native").
# LOAD=spin keeps every core busy at nice 19 while ticking: a virtual machine
# whose idle CPUs are slow to wake then shows what the wake-ups themselves cost.
set -euo pipefail
cd "$(dirname "$0")/.."
cmake -S . -B build-bench -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBRISQUET_BENCH=ON -DBUILD_TESTING=OFF >/dev/null
cmake --build build-bench --parallel "$(nproc)" --target brisquet bench_bare_window >/dev/null
brisquet=$PWD/build-bench/brisquet bare=$PWD/build-bench/bench/bench_bare_window
text="$bare text"
session=${BENCH_SESSION_S:-600}
work=$(mktemp -d)
export XDG_CONFIG_HOME=$work/config QT_QPA_PLATFORM=xcb
source bench/sound_server.sh
source bench/thread_usage.sh
servers=(${SERVER:-pulseaudio})
start_sound_server "$work" "${servers[0]}"
Xvfb :77 -screen 0 1024x768x24 -nolisten tcp & xvfb=$!
export DISPLAY=:77
spin=()
cleanup() { kill "$xvfb" "${spin[@]}" 2>/dev/null || true; stop_sound_server; }
trap cleanup EXIT
sleep 2

rss() { awk '/VmRSS/ { print $2 }' "/proc/$1/status"; }
# The sound server's own processes and their run time so far (ns), a line
# each: what Brisquet's stream makes the server do counts as much as its own.
server_runtimes() {
    for name in pulseaudio pipewire wireplumber pipewire-pulse; do
        for server_pid in $(pgrep -x "$name"); do echo "$name $(runtime "$server_pid")"; done
    done | sort
}
median() { sort -n | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

for program in bare text brisquet; do
    for _ in $(seq 10); do
        read -r ms pid < <(bench/first_frame.py ${!program})
        echo "$ms" >> "$work/$program.ms"
        sleep 1; rss "$pid" >> "$work/$program.rss"
        kill "$pid"; wait "$pid" 2>/dev/null || true
    done
done
echo "start-up to the first frame, median of 10: bare $(median < "$work/bare.ms") ms," \
     "bare with text $(median < "$work/text.ms") ms, brisquet $(median < "$work/brisquet.ms") ms"
echo "resident memory 1 s after start-up, median: bare $(median < "$work/bare.rss") KiB," \
     "bare with text $(median < "$work/text.rss") KiB, brisquet $(median < "$work/brisquet.rss") KiB"

# Each server and sound path in turn, in a fresh Brisquet, ROUNDS times; the
# last one goes on to the session's end.
rounds=${ROUNDS:-1}
for round in $(seq "$rounds"); do
    for server in "${servers[@]}"; do
        if [ "$round/$server" != "1/${servers[0]}" ]; then
            stop_sound_server; start_sound_server "$work" "$server"; sleep 2
        fi
        paths=(${SOUNDS:-$([ "$server" = pipewire ] && echo native pulse || echo native)})
        for path in "${paths[@]}"; do
            use_sound_path "$path"
            read -r _ pid < <(bench/first_frame.py "$brisquet")
            sleep 2
            before=$(rss "$pid")
            xdotool windowfocus --sync "$(xdotool search --onlyvisible --pid "$pid" --name '^Brisquet$' | head -1)" key Tab space
            if [ "${LOAD:-}" = spin ]; then
                for _ in $(seq "$(nproc)"); do nice -n 19 sh -c 'while :; do :; done' & spin+=($!); done
            fi
            sleep 5
            thread_snapshot "$pid" > "$work/threads.before"
            servers_before=$(server_runtimes)
            a=$(ticks "$pid"); ra=$(runtime "$pid"); sleep 60; b=$(ticks "$pid"); rb=$(runtime "$pid")
            servers_after=$(server_runtimes)
            thread_snapshot "$pid" > "$work/threads.after"
            kill "${spin[@]}" 2>/dev/null || true; spin=()
            [ -n "$(pactl list short sink-inputs)" ] || { echo "no sound stream: the Start press did not arrive"; exit 1; }
            echo "$server, $path (round $round): ticking at 120 bpm: $((b - a)) ticks of 10 ms in 60 s" \
                 "($(((rb - ra) / 1000000)) ms run, $(awk -v r=$((rb - ra)) 'BEGIN { printf "%.2f", r / 6e8 }') % of a core)," \
                 "rss $(rss "$pid") KiB, threads $(ls /proc/"$pid"/task | wc -l)"
            echo "  the threads while ticking (wake-ups per second, share of a core): $(thread_report \
                "$work/threads.before" "$work/threads.after" 60 6)"
            echo "  the server's processes meanwhile (share of a core): $(join <(echo "$servers_before") \
                <(echo "$servers_after") | awk '{ printf "%s %.2f%%, ", $1, ($3 - $2) / 6e8 }')"
            [ "$round/$server/$path" = "$rounds/${servers[-1]}/${paths[-1]}" ] || { kill "$pid"; wait "$pid" 2>/dev/null || true; sleep 2; }
        done
    done
done
if [ "$session" -lt 600 ]; then
    sleep $((session - 65)); xdotool key space
else
    sleep $((600 - 65 + 3)) # to the automatic stop and its end sound
fi
sleep 5
a=$(ticks "$pid"); sleep 60; b=$(ticks "$pid")
echo "idle after the session: $((b - a)) ticks of 10 ms in 60 s;" \
     "rss before the session $before KiB, after $(rss "$pid") KiB, threads $(ls /proc/"$pid"/task | wc -l)"
kill "$pid"
