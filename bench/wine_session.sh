#!/usr/bin/env bash
# Brisquet's Windows installer and program under Wine, as a user meets them:
# a private Xvfb with openbox, a private PulseAudio server with a null sink
# (Wine's sound driver plays into it), and a fresh Wine prefix. It installs
# with /S, starts the installed program, types a tempo, presses Start,
# records the sink's monitor, takes a screenshot, presses Stop, measures
# the lit marker against its click (bench/light_to_sound.py), closes the
# window, reads the tempo back from the registry, measures the recorded
# clicks with bench_click_onsets, then uninstalls with /S and lists what is
# left. Run ./dev windows first (it writes the installer).
# Needs xvfb, openbox, xdotool, x11-utils, imagemagick, python3-xlib, pulseaudio,
# pulseaudio-utils, wine, wine64.
#   bench/wine_session.sh [tempo] [seconds]    (default: 100 bpm for 20 s)
# The screenshot goes to docs/windows-wine.png.
set -euo pipefail
cd "$(dirname "$0")/.."
tempo=${1:-100} seconds=${2:-20}
setup=$(ls "$PWD"/build-windows/brisquet-*-setup.exe)
cmake -S . -B build-bench -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBRISQUET_BENCH=ON -DBUILD_TESTING=OFF >/dev/null
cmake --build build-bench --parallel "$(nproc)" --target bench_click_onsets bench_sink_rate >/dev/null
bin=$PWD/build-bench/bench
work=$(mktemp -d /tmp/brisquet-wine.XXXXXX)

export HOME=$work XDG_RUNTIME_DIR=$work PULSE_RUNTIME_PATH=$work/pulse PULSE_STATE_PATH=$work/state
export WINEPREFIX=$work/prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
unset SDL_AUDIODRIVER # a Linux driver name makes SDL inside Wine find no driver
Xvfb :63 -screen 0 1024x768x24 -nolisten tcp & xvfb=$!
export DISPLAY=:63
sleep 1
openbox & wm=$!
pulseaudio -n --daemonize=yes --exit-idle-time=-1 --load=module-native-protocol-unix \
    --load="module-null-sink sink_name=metro rate=44100 channels=2" 2>/dev/null
pactl set-default-sink metro
# An idle null sink holds a new stream back for up to two seconds; a
# desktop's sink is awake whenever anything plays.
pacat --playback --device=metro --raw --format=s16le --rate=44100 --channels=2 \
    --latency-msec=20 /dev/zero & keepalive=$!
cleanup() {
    wineserver -k 2>/dev/null || true
    kill "$keepalive" "$wm" "$xvfb" 2>/dev/null || true
    pulseaudio --kill 2>/dev/null || true
}
trap cleanup EXIT

program_files="$WINEPREFIX/drive_c/Program Files/Quernwick/Brisquet"
shortcut="$WINEPREFIX/drive_c/ProgramData/Microsoft/Windows/Start Menu/Programs/Brisquet.lnk"
uninstall_key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Brisquet'
tempo_key='HKCU\Software\VB and VBA Program Settings\Quernwick\Brisquet'

echo "== a fresh prefix, then the silent install"
wineboot -i >/dev/null 2>&1
# Windows has Arial; a Wine prefix has none. Liberation Sans has its metrics,
# as on Linux, so the window is laid out as on Windows.
wine reg add 'HKCU\Software\Wine\Fonts\Replacements' /v Arial /t REG_SZ /d 'Liberation Sans' /f >/dev/null 2>&1
wine "$setup" /S; wineserver -w
echo "installed files: $(find "$program_files" -type f | wc -l), $(du -sh "$program_files" | cut -f1)"
[ -f "$shortcut" ] && echo "Start menu shortcut: Brisquet.lnk" || echo "Start menu shortcut: MISSING"
wine reg query "$uninstall_key" /reg:64 2>/dev/null | grep -E 'Display|Publisher|Uninstall' || echo "uninstall entry: MISSING"

echo "== the installed program, ticking at $tempo bpm"
wine "C:\\Program Files\\Quernwick\\Brisquet\\brisquet.exe" & program=$!
window=$(xdotool search --sync --onlyvisible --name '^Brisquet$' | head -1)
sleep 2
# Wine hands the Windows frame style to the window manager as Motif hints:
# functions 0x2 resize, 0x10 maximize; decorations 0x4 sizing border, 0x40 maximize box.
read -r functions decorations < <(xprop -id "$window" _MOTIF_WM_HINTS | awk -F'[=,]' '{ print $3, $4 }')
echo "window frame: maximize box $(((decorations & 0x40) ? 1 : 0)), maximize $(((functions & 0x10) ? 1 : 0))," \
     "sizing border $(((decorations & 0x4) ? 1 : 0)), resize $(((functions & 0x2) ? 1 : 0))," \
     "minimize box $(((decorations & 0x20) ? 1 : 0)), close $(((functions & 0x20) ? 1 : 0))"
xdotool windowactivate --sync "$window"
xdotool type --delay 80 "$tempo" # start-up selects the tempo box's text, so typing replaces it
parecord --latency-msec=20 --device=metro.monitor --file-format=wav --format=s16le \
    --rate=44100 --channels=2 "$work/clicks.wav" & rec=$!
parecord --raw --latency-msec=20 --device=metro.monitor --format=s16le --rate=44100 \
    --channels=2 | "$bin/bench_sink_rate" 1 "$seconds" > "$work/sink.rate" & rate=$!
sleep 0.5
xdotool key Tab space # to the Start/Stop button, and press it
sleep $((seconds / 2))
mkdir -p docs && import -window root docs/windows-wine.png
sleep $((seconds - seconds / 2))
xdotool key space # Stop
sleep 1
kill -INT "$rec"; pkill -INT -f "parecord --raw" || true
wait "$rec" "$rate" || true
echo "== light against sound: Start again, 12 s"
sleep 2
xdotool key space
bench/light_to_sound.py measure "$window" 12 metro.monitor # ends with Stop
sleep 1
xdotool key alt+F4
wait "$program" && echo "closed with Alt+F4: exit status 0" || echo "closed with Alt+F4: exit status $?"
wineserver -w
echo "stored tempo: $(wine reg query "$tempo_key" /v Text1 2>/dev/null | grep Text1 | sed 's/^ *//')"

echo "== the recorded clicks"
period=$(awk -v t="$tempo" 'BEGIN { printf "%.6f", 60000 / t }')
"$bin/bench_click_onsets" "$work/clicks.wav" "$period" "$work/errors.txt" "$(cat "$work/sink.rate")" || true

echo "== the silent uninstall"
wine "C:\\Program Files\\Quernwick\\Brisquet\\uninstall.exe" /S; wineserver -w
sleep 2; wineserver -w # the uninstaller runs from a copy of itself in the temp folder
echo "left in Program Files\\Quernwick: $(find "$(dirname "$program_files")" 2>/dev/null | wc -l) entries"
[ -f "$shortcut" ] && echo "Start menu shortcut: still there" || echo "Start menu shortcut: removed"
wine reg query "$uninstall_key" /reg:64 >/dev/null 2>&1 && echo "uninstall entry: still there" \
    || echo "uninstall entry: removed"
echo "tempo after uninstalling: $(wine reg query "$tempo_key" /v Text1 2>/dev/null | grep Text1 | sed 's/^ *//')"
