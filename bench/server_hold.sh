#!/usr/bin/env bash
# Does the window answer while the sound server is held up? The sound
# server's processes are stopped with SIGSTOP (a hung or overloaded server
# behaves so; on PipeWire: pipewire, pipewire-pulse and wireplumber) and let
# go with SIGCONT 3 s after the press; the real window runs under a private
# Xvfb with openbox, its clicks go to a private server's 44.1 kHz null sink
# (bench/sound_server.sh), 120 bpm, 4 beats per bar.
# Each case in a freshly started Brisquet (bench/server_hold.py has the
# details):
#  - Start pressed while the server is held: when the circles, the
#    "Stop Ticking" caption and the first light appear (the window's pixels,
#    read from the X server every few ms; given up at 5 s), then the first
#    intervals the sink plays once the server is let go, in ms and in
#    samples off the 500 ms period (bench_click_onsets, first click kept);
#  - Stop pressed while the server is held, during a session: when the
#    circles go and "Start Ticking" is back; the clicks played once the
#    server is let go; then the next Start's answer and first intervals;
#  - the window closed (WM_DELETE_WINDOW, as a window manager closes it)
#    while the server is held, during a session: when the window is gone
#    from the X server, and when the process has exited.
# Needs xvfb, openbox, xdotool, python3-xlib, python3-numpy,
# pulseaudio-utils, and pulseaudio or pipewire, wireplumber and
# pipewire-pulse.
#   bench/server_hold.sh [runs]     (default 3)
#   SERVER="pulseaudio pipewire"    the servers, in turn (default both)
#   BINS="path/to/brisquet ..."     the programs to measure in one run
#                                   (default build-bench/brisquet, built
#                                   here); each one's figures are labelled
#                                   with its path
#   KEEP_AWAKE=0                    no keep-awake stream (sound_server.sh)
set -euo pipefail
cd "$(dirname "$0")/.."
runs=${1:-3}
servers=(${SERVER:-pulseaudio pipewire})
targets=(bench_click_onsets)
[ -n "${BINS:-}" ] || targets+=(brisquet)
cmake -S . -B build-bench -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBRISQUET_BENCH=ON -DBUILD_TESTING=OFF >/dev/null
cmake --build build-bench --parallel "$(nproc)" --target "${targets[@]}" >/dev/null
export ONSETS=$PWD/build-bench/bench/bench_click_onsets
bins=(${BINS:-$PWD/build-bench/brisquet})
for bin in "${bins[@]}"; do [ -x "$bin" ] || { echo "no program at $bin" >&2; exit 1; }; done
work=$(mktemp -d)
source bench/sound_server.sh
export XDG_CONFIG_HOME=$work/config QT_QPA_PLATFORM=xcb
unset SDL_AUDIODRIVER
number=77 # a display no other bench uses
while [ -e "/tmp/.X$number-lock" ]; do number=$((number + 1)); done
Xvfb ":$number" -screen 0 1024x768x24 -nolisten tcp & xvfb=$!
export DISPLAY=:$number
sleep 1
openbox >/dev/null 2>&1 & wm=$!
sleep 0.5
xdotool mousemove 1020 760 # the pointer away from the window: no hover highlight
held=() sound_server_pids=()
cleanup() {
    [ ${#held[@]} -eq 0 ] || kill -CONT "${held[@]}" 2>/dev/null || true
    stop_sound_server
    kill "$wm" "$xvfb" 2>/dev/null || true
}
trap cleanup EXIT

echo "load before: $(cut -d' ' -f1-3 /proc/loadavg)"
for server in "${servers[@]}"; do
    start_sound_server "$work/$server" "$server"
    use_sound_path native
    sleep 2
    held=()
    if [ "$server" = pipewire ]; then
        for pid in "${sound_server_pids[@]}"; do
            case "$(cat "/proc/$pid/comm" 2>/dev/null)" in
                pipewire | wireplumber | pipewire-pulse) held+=("$pid") ;;
            esac
        done
    else
        held=("$(cat "$PULSE_RUNTIME_PATH/pid")")
    fi
    for bin in "${bins[@]}"; do
        /usr/bin/python3 bench/server_hold.py "$bin" "$server, $bin" "$runs" metro.monitor "${held[@]}"
    done
    stop_sound_server
    held=()
    sleep 1
done
echo "load after: $(cut -d' ' -f1-3 /proc/loadavg)"
