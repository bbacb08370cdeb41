# A private sound server for the benchmarks, with a 44.1 kHz stereo null sink
# "metro" as the default sink, kept awake by a silent low-latency stream (an
# idle null sink holds a new stream back for up to two seconds; a desktop's
# sink is awake whenever anything plays). Sourced by the bench scripts.
#   start_sound_server WORK_DIR pulseaudio|pipewire   (returns once the sink is
#       there; sound_server_answered is that time, date +%s.%N; give the
#       keep-awake stream a moment before measuring)
#   stop_sound_server
#   use_sound_path: see below
# pipewire: PipeWire, WirePlumber and pipewire-pulse (Debian 12's desktop
# default) on a private D-Bus session bus; clients reach both through the
# PulseAudio protocol. KEEP_AWAKE=0 leaves the keep-awake stream out, so
# Brisquet's stream alone decides the sink's latency (and PipeWire's cycle).

# use_sound_path native|pulse|sdl: which client Brisquet's clicks go through
# (native: the one it chooses itself, PipeWire's own stream on a PipeWire
# server, its own PulseAudio stream on PulseAudio; pulse: its own
# PulseAudio stream on either, PIPEWIRE_REMOTE naming no PipeWire server;
# sdl: SDL's PulseAudio client). Set it after start_sound_server: the
# server's own processes must not see PIPEWIRE_REMOTE.
no_pipewire_server=brisquet-bench-no-server # a PIPEWIRE_REMOTE no server answers to
use_sound_path() {
    unset SDL_AUDIODRIVER PIPEWIRE_REMOTE
    case "$1" in
        pulse) export PIPEWIRE_REMOTE=$no_pipewire_server ;;
        sdl) export SDL_AUDIODRIVER=pulseaudio ;;
    esac
}

start_sound_server() {
    local work=$1 kind=$2
    unset PIPEWIRE_REMOTE
    export HOME=$work XDG_RUNTIME_DIR=$work/run PULSE_RUNTIME_PATH=$work/run/pulse
    export PULSE_STATE_PATH=$work/state PULSE_SINK=metro
    mkdir -p "$XDG_RUNTIME_DIR" && chmod 700 "$XDG_RUNTIME_DIR"
    sound_server_pids=()
    if [ "$kind" = pipewire ]; then
        local bus
        bus=$(dbus-daemon --session --fork --print-address=1 --print-pid=1)
        export DBUS_SESSION_BUS_ADDRESS=${bus%%$'\n'*}
        sound_server_pids+=("${bus##*$'\n'}")
        pipewire >"$work/pipewire.log" 2>&1 & sound_server_pids+=($!)
        sleep 0.5
        wireplumber >"$work/wireplumber.log" 2>&1 & sound_server_pids+=($!)
        pipewire-pulse >"$work/pipewire-pulse.log" 2>&1 & sound_server_pids+=($!)
        for _ in $(seq 50); do pactl info >/dev/null 2>&1 && break; sleep 0.1; done
        pactl load-module module-null-sink sink_name=metro rate=44100 channels=2 >/dev/null
    else
        pulseaudio -n --daemonize=yes --exit-idle-time=-1 --load=module-native-protocol-unix \
            --load="module-null-sink sink_name=metro rate=44100 channels=2" 2>/dev/null
    fi
    pactl set-default-sink metro
    sound_server_answered=$(date +%s.%N)
    [ "${KEEP_AWAKE:-1}" = 0 ] || pacat --playback --device=metro --raw --format=s16le --rate=44100 --channels=2 \
        --latency-msec=20 /dev/zero & sound_server_pids+=($!)
    sound_server_kind=$kind
}

stop_sound_server() {
    kill "${sound_server_pids[@]}" 2>/dev/null || true
    [ "${sound_server_kind:-}" = pulseaudio ] && pulseaudio --kill 2>/dev/null || true
}
