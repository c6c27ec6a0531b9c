#!/usr/bin/env bash
# Runs a command in a throw-away desktop session: a private home, a private
# D-Bus session bus and an unlocked gnome-keyring holding the Secret Service.
# Nothing touches the caller's home, keyring or display.
#
#   scripts/with-test-session.sh ctest --test-dir build
set -euo pipefail

if [ $# -eq 0 ]; then
    echo "usage: $0 COMMAND [ARGS...]" >&2
    exit 2
fi

if [ -z "${KEELMARK_SESSION_INNER:-}" ]; then
    session_root=$(mktemp -d "${TMPDIR:-/tmp}/keelmark-session.XXXXXX")
    trap 'rm -rf "$session_root"' EXIT
    mkdir -p "$session_root"/{home,data,config,cache,runtime}
    chmod 700 "$session_root/runtime"
    # The bus hands this environment to every service it activates, so it
    # must be in place before the bus starts.
    export HOME="$session_root/home"
    export XDG_DATA_HOME="$session_root/data"
    export XDG_CONFIG_HOME="$session_root/config"
    export XDG_CACHE_HOME="$session_root/cache"
    export XDG_RUNTIME_DIR="$session_root/runtime"
    unset DISPLAY WAYLAND_DISPLAY DBUS_SESSION_BUS_ADDRESS
    export KEELMARK_SESSION_INNER=1
    status=0
    dbus-run-session -- "$0" "$@" || status=$?
    exit $status
fi

# Inside the private bus from here on.
keyring_pid=""
cleanup() {
    if [ -n "$keyring_pid" ]; then
        kill "$keyring_pid" 2>/dev/null || true
        wait "$keyring_pid" 2>/dev/null || true
    fi
}
trap cleanup EXIT

echo -n "keelmark-test" | gnome-keyring-daemon --foreground --unlock --components=secrets \
    >"$XDG_RUNTIME_DIR/keyring.log" 2>&1 &
keyring_pid=$!

has_owner() {
    # NameHasOwner does not activate a second (locked) daemon, unlike a
    # secret-tool call would.
    dbus-send --session --print-reply --dest=org.freedesktop.DBus /org/freedesktop/DBus \
        org.freedesktop.DBus.NameHasOwner string:org.freedesktop.secrets 2>/dev/null |
        grep -q 'boolean true'
}

for _ in $(seq 1 100); do
    has_owner && break
    sleep 0.1
done
if ! has_owner; then
    echo "with-test-session: the Secret Service did not come up" >&2
    cat "$XDG_RUNTIME_DIR/keyring.log" >&2 || true
    exit 1
fi

ready=0
for _ in $(seq 1 50); do
    if echo -n canary | secret-tool store --label=canary keelmark-canary 1 2>/dev/null &&
        secret-tool clear keelmark-canary 1 2>/dev/null; then
        ready=1
        break
    fi
    sleep 0.1
done
if [ "$ready" -ne 1 ]; then
    echo "with-test-session: the keyring is not writable" >&2
    exit 1
fi

unset KEELMARK_SESSION_INNER
"$@"
