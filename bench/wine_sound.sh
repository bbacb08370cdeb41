#!/usr/bin/env bash
# The Windows program's clicks under Wine, through its own WASAPI stream and
# through SDL's (SDL_AUDIODRIVER=wasapi), one after the other in one run, on
# one machine: the portable folder of ./dev windows in a fresh Wine prefix,
# the real window under a private Xvfb with openbox, Wine's sound driver
# into a private PulseAudio server with two 44.1 kHz null sinks, "metro"
# the default and "other". For each path and load (LOADS: idle busy):
#  - the program's own CPU over CPU_S seconds of ticking (/proc ticks and
#    the threads' exact run time), and the wake-ups per second and CPU of
#    its busiest threads (voluntary context switches, schedstat): one of
#    them is the stream's (brisquet.exe for the WASAPI stream, SDLAudioP2 for SDL's);
#  - light against sound (bench/light_to_sound.py; the first beat is the
#    first in order), then Stop pressed 30 ms before the next light was due,
#    and the clicks that started after the press;
#  - the intervals of the whole session from its first click
#    (bench_click_onsets, against the sink's measured rate);
#  - ROUNDS - 1 more sessions (default 3) of light against sound and a
#    Stop 30 ms before a light, each with a first beat of its own.
# Then, for each path: the default device changed to "other" while ticking
# (the sink and the stream's index before and after: a new index is a stream
# Brisquet opened anew, the same one moved by the server), and the server
# restarted while ticking (how soon the clicks came back).
# KEEP_AWAKE=0 leaves out the silent stream that keeps the sinks running;
# SWITCHES=0 leaves out the device change and the server restart.
# Needs what wine_session.sh needs. Run ./dev windows first.
#   bench/wine_sound.sh [seconds] [tempo]      (default: 12 s of light at 120 bpm)
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-12} tempo=${2:-120} cpu_s=${CPU_S:-20}
program=$(ls -d "$PWD"/build-windows/package/brisquet-*-windows-x64)/brisquet.exe
cmake -S . -B build-bench -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBRISQUET_BENCH=ON -DBUILD_TESTING=OFF >/dev/null
cmake --build build-bench --parallel "$(nproc)" --target bench_click_onsets bench_sink_rate >/dev/null
bin=$PWD/build-bench/bench
work=$(mktemp -d /tmp/brisquet-wine-sound.XXXXXX)

export HOME=$work XDG_RUNTIME_DIR=$work PULSE_RUNTIME_PATH=$work/pulse PULSE_STATE_PATH=$work/state
export WINEPREFIX=$work/prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
unset SDL_AUDIODRIVER PULSE_SINK
Xvfb :65 -screen 0 1024x768x24 -nolisten tcp & xvfb=$!
export DISPLAY=:65
sleep 1
openbox >/dev/null 2>&1 & wm=$!
keepers=()
start_server() {
    pulseaudio -n --daemonize=yes --exit-idle-time=-1 --load=module-native-protocol-unix \
        --load="module-null-sink sink_name=metro rate=44100 channels=2" \
        --load="module-null-sink sink_name=other rate=44100 channels=2" 2>/dev/null
    pactl set-default-sink metro
    if [ "${KEEP_AWAKE:-1}" != 0 ]; then
        for sink in metro other; do
            pacat --playback --device=$sink --raw --format=s16le --rate=44100 --channels=2 \
                --latency-msec=20 /dev/zero & keepers+=($!)
        done
    fi
}
cleanup() {
    wineserver -k 2>/dev/null || true
    kill "${keepers[@]}" "$wm" "$xvfb" 2>/dev/null || true
    pulseaudio --kill 2>/dev/null || true
}
trap cleanup EXIT
start_server
wineboot -i >/dev/null 2>&1
wine reg add 'HKCU\Software\Wine\Fonts\Replacements' /v Arial /t REG_SZ /d 'Liberation Sans' /f >/dev/null 2>&1
wineserver -w

source bench/thread_usage.sh
brisquets_stream() { # sink name and stream index of Brisquet's stream
    pactl list sink-inputs | awk '/^Sink Input #/ { index_ = substr($3, 2) } /^\tSink: / { sink = $2 }
        /application.name = "Brisquet"/ { print sink, index_ }' |
        while read -r sink index; do echo "$(pactl list short sinks | awk -v i="$sink" '$1 == i { print $2 }') #$index"; done
}
# Starts the program for a path and presses Start; sets pid and window.
start_ticking() {
    if [ "$1" = sdl ]; then export SDL_AUDIODRIVER=wasapi; else unset SDL_AUDIODRIVER; fi
    wine "$program" >/dev/null 2>&1 &
    window=$(xdotool search --sync --onlyvisible --name '^Brisquet$' | head -1)
    pid=$(pgrep -n -f 'brisquet\.exe')
    sleep 1
    xdotool windowactivate --sync "$window" 2>/dev/null || xdotool windowfocus --sync "$window"
    xdotool type --delay 50 "$tempo"
    xdotool key Tab # the focus on the Start/Stop button
}
close_program() {
    xdotool key --window "$window" alt+F4 2>/dev/null || true
    sleep 1; wineserver -k 2>/dev/null || true; wineserver -w 2>/dev/null || true
}
period=$(awk -v t="$tempo" 'BEGIN { printf "%.6f", 60000 / t }')

for load in ${LOADS:-idle busy}; do
    busy=()
    if [ "$load" = busy ]; then
        for _ in 1 2; do (while :; do :; done) & busy+=($!); done
    fi
    for path in ${PATHS:-wasapi sdl}; do
        echo "== $path, $load, $tempo bpm"
        start_ticking "$path"
        parecord --latency-msec=20 --device=metro.monitor --file-format=wav --format=s16le \
            --rate=44100 --channels=2 "$work/$path-$load.wav" & rec=$!
        parecord --raw --latency-msec=20 --device=metro.monitor --format=s16le --rate=44100 \
            --channels=2 | "$bin/bench_sink_rate" 1 $((cpu_s + seconds)) > "$work/sink.rate" & rate=$!
        sleep 0.5
        xdotool key space # Start
        sleep 2
        echo "stream: $(brisquets_stream)"
        thread_snapshot "$pid" > "$work/switches.before"
        a=$(ticks "$pid"); ra=$(runtime "$pid"); sleep "$cpu_s"; b=$(ticks "$pid"); rb=$(runtime "$pid")
        thread_snapshot "$pid" > "$work/switches.after"
        echo "CPU while ticking: $((b - a)) ticks of 10 ms in $cpu_s s," \
             "$(((rb - ra) / 1000000)) ms run ($(awk -v r=$((rb - ra)) -v s="$cpu_s" 'BEGIN { printf "%.2f", r / s / 1e7 }') %)," \
             "threads $(ls /proc/"$pid"/task | wc -l)"
        echo "busiest threads (wake-ups per second, CPU): $(thread_report "$work/switches.before" \
            "$work/switches.after" "$cpu_s")"
        STOP_BEFORE_LIGHT_MS=30 bench/light_to_sound.py measure "$window" "$seconds" metro.monitor
        sleep 1
        kill -INT "$rec"; pkill -INT -f "parecord --raw" || true
        wait "$rec" "$rate" 2>/dev/null || true
        "$bin/bench_click_onsets" "$work/$path-$load.wav" "$period" "$work/$path-$load.errors" \
            "$(cat "$work/sink.rate")" | grep -vE '^ *[0-9]+ ' || true
        # More sessions, each a first beat and a Stop of its own.
        for round in $(seq 2 "${ROUNDS:-4}"); do
            sleep 1
            xdotool key space
            echo "session $round:"
            STOP_BEFORE_LIGHT_MS=30 bench/light_to_sound.py measure "$window" "$seconds" metro.monitor |
                grep -E '^(measured|clicks starting|Stop pressed)'
        done
        close_program
    done
    kill "${busy[@]}" 2>/dev/null || true
done

[ "${SWITCHES:-1}" != 0 ] || exit 0
for path in ${PATHS:-wasapi sdl}; do
    echo "== $path: the default device changed while ticking"
    start_ticking "$path"
    parecord --latency-msec=20 --device=other.monitor --file-format=wav --format=s16le \
        --rate=44100 --channels=2 "$work/other.wav" & rec=$!
    recording=$(date +%s.%N)
    xdotool key space
    sleep 4
    echo "stream before the change: $(brisquets_stream)"
    pactl set-default-sink other
    switched=$(date +%s.%N)
    sleep 2
    echo "stream 2 s after the change: $(brisquets_stream)"
    sleep 4
    kill -INT "$rec"; wait "$rec" 2>/dev/null || true
    read -r before after first < <(bench/onsets.py "$work/other.wav" \
        "$(awk -v s="$switched" -v r="$recording" 'BEGIN { print s - r }')")
    echo "on other: $before clicks before the change, $after after; the first $first s after it"
    pactl set-default-sink metro
    close_program

    echo "== $path: the sound server restarted while ticking"
    start_ticking "$path"
    xdotool key space
    sleep 4
    kill "${keepers[@]}" 2>/dev/null || true; keepers=()
    pulseaudio --kill; sleep 1
    start_server
    back=$(date +%s.%N)
    parecord --latency-msec=20 --device=metro.monitor --file-format=wav --format=s16le \
        --rate=44100 --channels=2 "$work/after.wav" & rec=$!
    recording=$(date +%s.%N)
    sleep 8
    kill -INT "$rec"; wait "$rec" 2>/dev/null || true
    read -r _ count first < <(bench/onsets.py "$work/after.wav" 0)
    if [ "$first" = - ]; then
        echo "no click after the restart"
    else
        echo "first click $(awk -v r="$recording" -v b="$back" -v f="$first" 'BEGIN { printf "%.2f", r - b + f }') s" \
             "after the server was back; $count clicks in the next 8 s"
    fi
    close_program
done
