#!/usr/bin/env bash
# The first clicks of a session at fast tempos, on a quiet desktop: the real
# window under a private Xvfb with openbox, a private server with a 44.1 kHz
# null sink and no other stream playing (KEEP_AWAKE=0 in sound_server.sh;
# SERVER=pipewire for PipeWire). For each tempo, SESSIONS sessions (default
# 5), each in a freshly started Brisquet: Start pressed through XTest while
# the sink's monitor is recorded (bench/light_to_sound.py), then
#  - the first five intervals, one by one, in samples off the period
#    (bench_click_onsets with the first click kept);
#  - the first click's time after the Start key, against one period plus
#    the heard delay the output reports once settled (bench_metronome);
#  - the first light against its click.
# Needs what light_to_sound.sh needs.
#   bench/first_clicks.sh [tempo...]     (default: 300 400 450 600 1000)
set -euo pipefail
cd "$(dirname "$0")/.."
tempos=("${@:-300 400 450 600 1000}"); tempos=(${tempos[*]})
server=${SERVER:-pulseaudio}
cmake -S . -B build-bench -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBRISQUET_BENCH=ON -DBUILD_TESTING=OFF >/dev/null
cmake --build build-bench --parallel "$(nproc)" --target brisquet bench_click_onsets bench_metronome >/dev/null
brisquet=$PWD/build-bench/brisquet bin=$PWD/build-bench/bench
work=$(mktemp -d)
export KEEP_AWAKE=0
source bench/sound_server.sh
export XDG_CONFIG_HOME=$work/config QT_QPA_PLATFORM=xcb
unset SDL_AUDIODRIVER
Xvfb :73 -screen 0 1024x768x24 -nolisten tcp & xvfb=$!
export DISPLAY=:73
sleep 1
openbox >/dev/null 2>&1 & wm=$!
start_sound_server "$work" "$server"
cleanup() { kill "$wm" "$xvfb" 2>/dev/null || true; stop_sound_server; }
trap cleanup EXIT
sleep 2

for tempo in "${tempos[@]}"; do
    # Brisquet's beat period: 60000 / tempo in whole milliseconds, halves to even.
    period=$(python3 -c "print(round(60000 / $tempo))")
    settled=$(QT_QPA_PLATFORM=offscreen "$bin/bench_metronome" "$tempo" 3 2>/dev/null |
        sed -n 's/.*heard \([0-9.]*\) ms after due.*/\1/p')
    echo "== $server, $tempo bpm (period $period ms; settled heard delay $settled ms," \
         "so the first click is due $(awk -v p="$period" -v h="$settled" 'BEGIN { printf "%.1f", p + h }') ms after the press)"
    sleep 3 # the idle sink suspends again
    for session in $(seq "${SESSIONS:-5}"); do
        "$brisquet" & program=$!
        window=$(xdotool search --sync --onlyvisible --pid "$program" --name '^Brisquet$' | head -1)
        xdotool windowactivate --sync "$window" type "$tempo"
        xdotool key Tab
        result=$(START_PRESS=1 SAVE_WAV=$work/session.wav bench/light_to_sound.py measure "$window" 2 metro.monitor)
        kill "$program"; wait "$program" 2>/dev/null || true
        first=$(sed -n 's/^first click \([-0-9.]*\) ms after the Start key/\1/p' <<<"$result")
        light=$(sed -n 's/.*in order: \([-0-9]*\).*/\1/p' <<<"$result")
        KEEP_FIRST_CLICK=1 "$bin/bench_click_onsets" "$work/session.wav" "$period" "$work/errors.txt" >/dev/null || true
        echo "session $session: first five intervals $(head -5 "$work/errors.txt" | tr '\n' ' ')samples;" \
             "first click ${first:-?} ms after the press; first light ${light:-?} ms after its click"
        sleep 3
    done
done
