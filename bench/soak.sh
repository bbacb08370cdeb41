#!/usr/bin/env bash
# Brisquet over a long run, with sound through a private PulseAudio null
# sink: ten minutes at 600 bpm, one minute at 40000 bpm (a tick every 2 ms),
# and that minute again under valgrind's memcheck for leaks. Each run ends
# with a Stop click posted as a real mouse click; the driver reports how long
# the window took to answer it, resident memory at start and end and the CPU.
# Needs pulseaudio, pulseaudio-utils and valgrind.
# Usage: bench/soak.sh [seconds at 600 bpm] [seconds at 40000 bpm]
set -euo pipefail
cd "$(dirname "$0")/.."
long=${1:-600} short=${2:-60}
cmake -S . -B build-bench -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBRISQUET_BENCH=ON -DBUILD_TESTING=OFF >/dev/null
cmake --build build-bench --parallel "$(nproc)" --target bench_metronome >/dev/null
bin=$PWD/build-bench/bench/bench_metronome
work=$(mktemp -d)
export HOME=$work XDG_RUNTIME_DIR=$work PULSE_RUNTIME_PATH=$work/pulse PULSE_STATE_PATH=$work/state
export XDG_CONFIG_HOME=$work/config QT_QPA_PLATFORM=offscreen SDL_AUDIODRIVER=pulseaudio PULSE_SINK=metro
pulseaudio -n --daemonize=yes --exit-idle-time=-1 --load=module-native-protocol-unix \
    --load="module-null-sink sink_name=metro rate=44100 channels=2" 2>/dev/null
trap 'pulseaudio --kill 2>/dev/null || true' EXIT
sleep 1

run() { # tempo seconds
    echo "== $1 bpm for $2 s"
    /usr/bin/time -f "wall %e s, cpu %U+%S s" "$bin" "$1" "$2" grid 2>&1 \
        | grep -E 'rss|cpu|stop response|still ticking|late starts|wall'
}
run 600 "$long"
run 40000 "$short"
echo "== 40000 bpm for $short s under memcheck"
valgrind --leak-check=full --errors-for-leak-kinds=definite --error-exitcode=0 "$bin" 40000 "$short" grid \
    2>&1 | grep -E 'definitely lost|indirectly lost|ERROR SUMMARY|stop response|still ticking'
