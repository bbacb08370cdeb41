#!/usr/bin/env bash
# Runs check_atspi_tree.py against the real program: a private Xvfb, a
# private D-Bus session bus with the accessibility bus of at-spi2-core on it,
# Qt's AT-SPI bridge switched on, SDL's dummy sound driver and a throwaway
# home. xdotool types 90, picks 3 beats per bar and presses Start, as a
# keyboard user would. usage: check_atspi_tree.sh <brisquet program> <scratch folder>
set -euo pipefail
program=$1 scratch=$2
here=$(cd "$(dirname "$0")" && pwd)
rm -rf "$scratch" && mkdir -p "$scratch/run" && chmod 700 "$scratch/run"
export HOME=$scratch XDG_RUNTIME_DIR=$scratch/run XDG_CONFIG_HOME=$scratch/config
export QT_QPA_PLATFORM=xcb QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1 SDL_AUDIODRIVER=dummy
pids=()
cleanup() { kill "${pids[@]}" 2>/dev/null || true; }
trap cleanup EXIT
display=:$((90 + RANDOM % 100))
Xvfb "$display" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 & pids+=($!)
export DISPLAY=$display
bus=$(dbus-daemon --session --fork --print-address=1 --print-pid=1)
export DBUS_SESSION_BUS_ADDRESS=${bus%%$'\n'*}
pids+=("${bus##*$'\n'}")
/usr/libexec/at-spi-bus-launcher --launch-immediately >/dev/null 2>&1 & pids+=($!)
sleep 1
"$program" & pids+=($!)
window=$(timeout 20 xdotool search --sync --onlyvisible --name '^Brisquet$' | head -1)
xdotool windowfocus --sync "$window"
# The tempo box has the focus with its text selected; Tab to the button,
# Tab to the group (at 4), Left to 3, back to the button, Space.
xdotool type 90
xdotool key Tab Tab Left shift+Tab space
sleep 1.5
/usr/bin/python3 "$here/check_atspi_tree.py"
