#!/usr/bin/env bash
# Runs a command on a private X display with a system tray, so that a tray
# icon really docks: a fresh Xvfb (it picks a free display number itself),
# trayer as the tray host, QT_QPA_PLATFORM=xcb. Everything it started is
# stopped when the command ends, whatever way it ends. Works as root, with no
# display and no D-Bus session (CI); wrap it in with-test-session.sh when the
# command needs the keyring:
#
#   scripts/with-test-session.sh scripts/with-display.sh ctest ...
#
# Options (before the command):
#   --no-tray        no tray host (to see how an app behaves without one)
#   --size WxHxD     screen geometry, default 1280x800x24
set -euo pipefail

tray=1
size=1280x800x24
while [ $# -gt 0 ]; do
    case "$1" in
    --no-tray) tray=0; shift ;;
    --size) size=$2; shift 2 ;;
    --) shift; break ;;
    -*) echo "with-display: unknown option $1" >&2; exit 2 ;;
    *) break ;;
    esac
done
if [ $# -eq 0 ]; then
    echo "usage: $0 [--no-tray] [--size WxHxD] COMMAND [ARGS...]" >&2
    exit 2
fi

for tool in Xvfb xdotool; do
    if ! command -v "$tool" >/dev/null; then
        echo "with-display: $tool is missing (run scripts/install-deps.sh)" >&2
        exit 1
    fi
done
if [ "$tray" -eq 1 ] && ! command -v trayer >/dev/null; then
    echo "with-display: trayer is missing (run scripts/install-deps.sh)" >&2
    exit 1
fi

work=$(mktemp -d "${TMPDIR:-/tmp}/keelmark-display.XXXXXX")
xvfb_pid=""
tray_pid=""
child_pid=""

stop_pid() {
    local pid=$1
    [ -n "$pid" ] || return 0
    kill "$pid" 2>/dev/null || return 0
    # Give it a moment to go on its own before insisting.
    for _ in $(seq 1 20); do
        kill -0 "$pid" 2>/dev/null || break
        sleep 0.05
    done
    kill -9 "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
}

cleanup() {
    stop_pid "$child_pid"
    stop_pid "$tray_pid"
    stop_pid "$xvfb_pid"
    rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 143' TERM
trap 'exit 130' INT

# Xvfb writes the display number to fd 3 once it accepts connections, so the
# number it prints is the readiness signal too.
Xvfb -displayfd 3 -screen 0 "$size" -nolisten tcp -noreset \
    3>"$work/display" >"$work/xvfb.log" 2>&1 &
xvfb_pid=$!
display=""
for _ in $(seq 1 200); do
    if grep -q '^[0-9]\+$' "$work/display" 2>/dev/null; then
        display=":$(head -n1 "$work/display")"
        break
    fi
    kill -0 "$xvfb_pid" 2>/dev/null || break
    sleep 0.05
done
if [ -z "$display" ]; then
    echo "with-display: Xvfb did not start" >&2
    cat "$work/xvfb.log" >&2 || true
    exit 1
fi

export DISPLAY=$display
unset WAYLAND_DISPLAY
export QT_QPA_PLATFORM=xcb
# Without a session bus Qt would autolaunch a dbus-daemon that outlives us.
if [ -z "${DBUS_SESSION_BUS_ADDRESS:-}" ]; then
    export DBUS_SESSION_BUS_ADDRESS=disabled:
fi
if [ -z "${XDG_RUNTIME_DIR:-}" ]; then
    mkdir -m 700 "$work/runtime"
    export XDG_RUNTIME_DIR="$work/runtime"
fi

if [ "$tray" -eq 1 ]; then
    trayer --edge top --align right --widthtype request --height 32 \
        --SetDockType true --transparent false >"$work/trayer.log" 2>&1 &
    tray_pid=$!
    docked=0
    for _ in $(seq 1 200); do
        if xdotool search --classname trayer >/dev/null 2>&1; then
            docked=1
            break
        fi
        kill -0 "$tray_pid" 2>/dev/null || break
        sleep 0.05
    done
    if [ "$docked" -ne 1 ]; then
        echo "with-display: the tray host did not come up" >&2
        cat "$work/trayer.log" >&2 || true
        exit 1
    fi
fi

# The command runs in the background so that a TERM to this script can stop
# it before the display goes; stdin is passed on explicitly.
status=0
"$@" <&0 &
child_pid=$!
wait "$child_pid" || status=$?
child_pid=""
exit "$status"
