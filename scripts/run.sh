#!/usr/bin/env bash
# Runs KeelMark in the local sandbox: no GitHub App of your own needed.
#
# Installs what is missing, builds the "sandbox" preset (the app with its
# GitHub and relay addresses on loopback), starts the GitHub emulator seeded
# with a few organisations and the OAuth relay in front of it, makes the app
# the keelmark:// handler for this user, and launches the app. Quitting the
# app (or Ctrl-C here) stops both servers.
#
#   scripts/run.sh           run the sandbox
#   scripts/run.sh --reset   forget an earlier sandbox run first (state file
#                            and stored tokens), to see the first-run wizard
#
# In the sandbox you are "sam-admin", owner of harbor-labs (protection works)
# and tiny-studio (its plan refuses protection on private repositories), and
# a plain member of mega-corp.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

API_PORT=47611
WEB_PORT=47612
RELAY_PORT=47613
CLIENT_ID=Iv1.keelmark-sandbox
CLIENT_SECRET=sandbox-client-secret

reset=0
for arg in "$@"; do
    case "$arg" in
    --reset) reset=1 ;;
    -h | --help) sed -n '2,16p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) echo "run.sh: unknown argument $arg (try --help)" >&2; exit 2 ;;
    esac
done

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
    cat >&2 <<'EOF'
run.sh: there is no desktop session here (neither DISPLAY nor WAYLAND_DISPLAY
is set). KeelMark lives in the system tray and signs in through your web
browser, so it needs a graphical desktop. Run this from a terminal inside
your desktop session. To check the build without a desktop, run the tests:
scripts/test.sh (they bring their own virtual display).
EOF
    exit 1
fi

scripts/install-deps.sh
cmake --preset sandbox >/dev/null
cmake --build --preset sandbox --parallel "$(nproc)"

build=$root/build-sandbox
app=$build/src/app/keelmark
[ -x "$app" ] || app=$(find "$build" -type f -name keelmark -perm -u+x | head -n 1)
emulator=$(find "$build" -type f -name keelmark-github-emulator -perm -u+x | head -n 1)
relay=$(find "$build" -type f -name keelmark-relay -perm -u+x | head -n 1)
for binary in "$app" "$emulator" "$relay"; do
    if [ -z "$binary" ] || [ ! -x "$binary" ]; then
        echo "run.sh: the build did not produce the app, the emulator and the relay" >&2
        exit 1
    fi
done
case "$app" in
*" "*)
    # xdg-open splits the handler's Exec line on spaces.
    echo "run.sh: the checkout path contains a space; the keelmark:// handler cannot point" \
        "into it. Move the checkout and try again." >&2
    exit 1
    ;;
esac

port_in_use() { (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null; }
for port in $API_PORT $WEB_PORT $RELAY_PORT; do
    if port_in_use "$port"; then
        echo "run.sh: port $port on 127.0.0.1 is taken (is another sandbox still running?)" >&2
        exit 1
    fi
done

state_file=${XDG_DATA_HOME:-$HOME/.local/share}/io.keelmark.app/state.json
if [ "$reset" -eq 0 ] && [ -f "$state_file" ]; then
    # The emulator starts from its seed every time; an app that remembers a
    # finished setup would find its repository and token gone.
    echo "run.sh: KeelMark remembers an earlier run ($state_file)." >&2
    echo "        The emulator does not; for a fresh first run use: scripts/run.sh --reset" >&2
fi
if [ "$reset" -eq 1 ]; then
    rm -f "$state_file"
    for key in github-oauth github-refresh-token github-token-expiry; do
        secret-tool clear server io.keelmark.app user "$key" 2>/dev/null || true
    done
    echo "Forgot the earlier sandbox run."
fi

logs=$build/sandbox-logs
mkdir -p "$logs"
emulator_pid=""
relay_pid=""
app_pid=""
stop() {
    for pid in $app_pid $relay_pid $emulator_pid; do
        kill "$pid" 2>/dev/null || true
    done
    for pid in $app_pid $relay_pid $emulator_pid; do
        wait "$pid" 2>/dev/null || true
    done
}
trap stop EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

"$emulator" --seed scripts/sandbox-seed.json --api-port $API_PORT --web-port $WEB_PORT \
    >"$logs/emulator.out" 2>"$logs/emulator.log" &
emulator_pid=$!

KEELMARK_RELAY_PORT=$RELAY_PORT \
    KEELMARK_RELAY_CLIENT_ID=$CLIENT_ID \
    KEELMARK_RELAY_CLIENT_SECRET=$CLIENT_SECRET \
    KEELMARK_RELAY_GITHUB_URL=http://127.0.0.1:$WEB_PORT \
    KEELMARK_RELAY_GITHUB_API_URL=http://127.0.0.1:$API_PORT \
    "$relay" >"$logs/relay.log" 2>&1 &
relay_pid=$!

wait_for_port() {
    local port=$1 pid=$2 name=$3 log=$4
    for _ in $(seq 1 100); do
        port_in_use "$port" && return 0
        if ! kill -0 "$pid" 2>/dev/null; then
            echo "run.sh: the $name stopped at start:" >&2
            cat "$log" >&2
            exit 1
        fi
        sleep 0.1
    done
    echo "run.sh: the $name does not answer on port $port" >&2
    exit 1
}
wait_for_port $API_PORT $emulator_pid "GitHub emulator" "$logs/emulator.log"
wait_for_port $WEB_PORT $emulator_pid "GitHub emulator" "$logs/emulator.log"
wait_for_port $RELAY_PORT $relay_pid relay "$logs/relay.log"

# The browser hands keelmark://github?code=... to whatever this user's desktop
# names as the scheme's handler: make that this build.
applications=${XDG_DATA_HOME:-$HOME/.local/share}/applications
mkdir -p "$applications"
cat >"$applications/keelmark-sandbox.desktop" <<EOF
[Desktop Entry]
Type=Application
Name=KeelMark (sandbox)
Comment=Governance for your team's AI-assistant configuration
Exec=$app %u
Icon=security-high
Terminal=false
NoDisplay=true
MimeType=x-scheme-handler/keelmark;
EOF
update-desktop-database "$applications" 2>/dev/null || true
xdg-mime default keelmark-sandbox.desktop x-scheme-handler/keelmark

cat <<EOF

KeelMark sandbox
  GitHub emulator  http://127.0.0.1:$WEB_PORT (API on port $API_PORT)
  OAuth relay      http://127.0.0.1:$RELAY_PORT
  You sign in as   sam-admin
  Logs             $logs
Quit KeelMark from its tray popover (or press Ctrl-C here) to stop everything.

EOF

"$app" &
app_pid=$!
status=0
wait "$app_pid" || status=$?
app_pid=""
exit "$status"
