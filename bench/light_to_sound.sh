#!/usr/bin/env bash
# How far the lit marker is from its click, as a user sees and hears them:
# the real window under a private Xvfb with openbox, clicks through a private
# sound server with a 44.1 kHz null sink, measured by light_to_sound.py
# (markers' pixels from the X server against the sink's monitor). Each case
# runs Brisquet's own PulseAudio stream and, for comparison, the SDL path,
# idle and with both cores busy. First the method's self-test with a known offset.
# SERVER=pipewire runs PipeWire with its PulseAudio server instead (on a
# private session bus), else PulseAudio. Needs xvfb, openbox, xdotool,
# python3-xlib, pulseaudio-utils, and pulseaudio or pipewire, wireplumber
# and pipewire-pulse.
# LOADS (idle busy) and PATHS (use_sound_path in sound_server.sh; "native
# sdl", and on PipeWire "native pulse sdl") choose the cases.
#   bench/light_to_sound.sh [seconds] [tempo]     (default: 12 s at 120 bpm)
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-12} tempo=${2:-120} server=${SERVER:-pulseaudio}
cmake -S . -B build-bench -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBRISQUET_BENCH=ON -DBUILD_TESTING=OFF >/dev/null
cmake --build build-bench --parallel "$(nproc)" --target brisquet >/dev/null
brisquet=$PWD/build-bench/brisquet
work=$(mktemp -d)
source bench/sound_server.sh
export XDG_CONFIG_HOME=$work/config QT_QPA_PLATFORM=xcb
Xvfb :71 -screen 0 1024x768x24 -nolisten tcp & xvfb=$!
export DISPLAY=:71
sleep 1
openbox >/dev/null 2>&1 & wm=$!
start_sound_server "$work" "$server"
sleep 2
busy=()
cleanup() { kill "${busy[@]}" "$wm" "$xvfb" 2>/dev/null || true; stop_sound_server; }
trap cleanup EXIT

bench/light_to_sound.py selftest 12.5
for load in ${LOADS:-idle busy}; do
    if [ "$load" = busy ]; then
        for _ in 1 2; do (while :; do :; done) & busy+=($!); done
    fi
    for path in ${PATHS:-$([ "$server" = pipewire ] && echo native pulse sdl || echo native sdl)}; do
        use_sound_path "$path"
        "$brisquet" & program=$!
        window=$(xdotool search --sync --onlyvisible --pid "$program" --name '^Brisquet$' | head -1)
        xdotool windowactivate --sync "$window" type "$tempo"
        xdotool key Tab space
        echo "== $server, $path, $load, $tempo bpm"
        bench/light_to_sound.py measure "$window" "$seconds" metro.monitor # ends with Stop
        kill "$program"; wait "$program" 2>/dev/null || true
    done
done
