#!/usr/bin/env bash
# Saves what a person sees: the tray icon, the popover and every screen of
# the setup wizard (and the dashboard it ends on), as PNG files; each
# dashboard page in a protected and a drifted state goes to OUTPUT_DIR/dashboard.
#
#   scripts/screenshots.sh [OUTPUT_DIR]        default: out/screenshots/shell/
#
# It runs the real `keelmark` of a test build (KEELMARK_TEST_HOOKS) against
# the GitHub emulator and the OAuth relay on loopback, on a private X display
# with a tray host and in a private keyring session, and walks through a
# first run through the app's test-build automation socket. Nothing touches
# your own display, keyring or state. Set KEELMARK_BUILD_DIR to use another
# build directory (default: build; it is configured with the test hooks and
# the three programs are built if they are missing).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

if [ "${1:-}" != "--inner" ]; then
    out=$(realpath -m "${1:-out/screenshots/shell}")
    build=$(realpath -m "${KEELMARK_BUILD_DIR:-build}")
    scripts/install-deps.sh
    if [ ! -f "$build/CMakeCache.txt" ] || ! grep -q '^KEELMARK_TEST_HOOKS:BOOL=ON' "$build/CMakeCache.txt"; then
        cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKEELMARK_TEST_HOOKS=ON >/dev/null
    fi
    cmake --build "$build" --target keelmark keelmark-github-emulator keelmark-relay
    mkdir -p "$out"
    # Every dashboard page, protected and drifted; offscreen, no display.
    scripts/screenshots-dashboard.sh "$out/dashboard" "$build"
    exec scripts/with-test-session.sh scripts/with-display.sh "$0" --inner "$out" "$build"
fi

out=$2
build=$3
app=$build/src/app/keelmark
emulator=$build/emulator/keelmark-github-emulator
relay=$build/relay/keelmark-relay
work=$(mktemp -d "${TMPDIR:-/tmp}/km-shots.XXXXXX")
pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null || true; done
    rm -rf "$work"
}
trap cleanup EXIT

fail() {
    echo "screenshots: $*" >&2
    for log in "$work"/*.log; do
        [ -f "$log" ] && { echo "--- $log" >&2; tail -n 20 "$log" >&2; }
    done
    exit 1
}

# Free loopback ports, one after the other.
port_base=$((47700 + RANDOM % 200))
api_port=$port_base
web_port=$((port_base + 1))
relay_port=$((port_base + 2))
client_id=Iv1.keelmark-shots
secret=shots-client-secret

cat >"$work/seed.json" <<JSON
{
  "oauthApp": { "clientId": "$client_id", "clientSecret": "$secret", "name": "KeelMark",
                "githubApp": true, "expiringTokens": true },
  "users": [ { "login": "sam-admin", "name": "Sam Admin" }, { "login": "jo-dev" } ],
  "orgs": [
    { "login": "harbor-labs", "members": { "sam-admin": "admin", "jo-dev": "member" } },
    { "login": "tiny-studio", "refusesPrivateProtection": true, "members": { "sam-admin": "admin" } }
  ],
  "authorizingUser": "sam-admin",
  "autoApprove": true
}
JSON

"$emulator" --seed "$work/seed.json" --api-port "$api_port" --web-port "$web_port" \
    >"$work/emulator.log" 2>&1 &
pids+=($!)
KEELMARK_RELAY_PORT=$relay_port KEELMARK_RELAY_CLIENT_ID=$client_id \
    KEELMARK_RELAY_CLIENT_SECRET=$secret KEELMARK_RELAY_GITHUB_URL="http://127.0.0.1:$web_port" \
    KEELMARK_RELAY_GITHUB_API_URL="http://127.0.0.1:$api_port" \
    "$relay" >"$work/relay.log" 2>&1 &
pids+=($!)
for _ in $(seq 1 100); do
    curl -s -o /dev/null "http://127.0.0.1:$api_port/" && curl -s -o /dev/null "http://127.0.0.1:$relay_port/" && break
    sleep 0.1
done

# The "browser": records what the app asks to open.
mkdir -p "$work/bin"
cat >"$work/bin/xdg-open" <<SH
#!/bin/sh
printf '%s\n' "\$1" >> "$work/browser.txt"
SH
chmod +x "$work/bin/xdg-open"
export PATH="$work/bin:$PATH"

state=$work/state
mkdir -p "$state"
sock=$work/automation.sock
"$app" --test-root "$state" --test-api "http://127.0.0.1:$api_port" \
    --test-web "http://127.0.0.1:$web_port" --test-relay "http://127.0.0.1:$relay_port" \
    --test-client-id "$client_id" --test-automation "$sock" >"$work/app.log" 2>&1 &
pids+=($!)

ui() { printf '%s\n' "$1" | socat -t 20 - UNIX-CONNECT:"$sock" 2>/dev/null; }
visible() { ui "{\"cmd\":\"describe\",\"name\":\"$1\"}" | grep -q '"visible":true'; }
wait_visible() {
    for _ in $(seq 1 200); do visible "$1" && return 0; sleep 0.1; done
    fail "$1 never appeared"
}
click() { ui "{\"cmd\":\"click\",\"name\":\"$1\"}" | grep -q '"ok":true' || fail "cannot click $1"; }
shot() {
    sleep 0.3 # let the screen settle (spinners, fades)
    ui "{\"cmd\":\"grab\",\"name\":\"settingsWindow\",\"file\":\"$out/$1.png\"}" | grep -q '"ok":true' ||
        fail "cannot save $1"
    echo "saved $out/$1.png"
}

for _ in $(seq 1 100); do [ -S "$sock" ] && break; sleep 0.1; done
[ -S "$sock" ] || fail "the app did not open its automation socket"

# The tray icon, once the tray host has docked it.
geometry=""
for _ in $(seq 1 100); do
    geometry=$(ui '{"cmd":"trayGeometry"}')
    echo "$geometry" | grep -q '"width":0' || break
    sleep 0.1
done
read -r tx ty tw th < <(echo "$geometry" | sed -E 's/.*"height":([0-9]+).*"width":([0-9]+).*"x":([0-9-]+).*"y":([0-9-]+).*/\3 \4 \2 \1/')
[ "${tw:-0}" -gt 0 ] || fail "the tray icon never docked ($geometry)"

wait_visible welcomeStep
shot wizard-1-welcome
import -window root "$work/screen.png"
convert "$work/screen.png" -crop "$((tw + 16))x$((th + 8))+$((tx - 8))+$((ty - 4))" +repage \
    -scale 400% "$out/tray-icon.png"
echo "saved $out/tray-icon.png"

# The popover, opened by a real click on the icon.
xdotool mousemove $((tx + tw / 2)) $((ty + th / 2)) click 1
wait_visible popover
sleep 0.3
ui "{\"cmd\":\"grab\",\"name\":\"popover\",\"file\":\"$out/popover.png\"}" >/dev/null
import -window root "$out/popover-on-screen.png"
echo "saved $out/popover.png, $out/popover-on-screen.png"
xdotool mousemove 20 400 click 1 # a click outside closes it
ui '{"cmd":"openWindow"}' >/dev/null

click roleForSomeoneElseCard
wait_visible gitHubConnectStep
shot wizard-2-connect-setup-mode
click gitHubBackButton
wait_visible welcomeStep
click roleForMyselfCard
wait_visible connectGitHubButton
shot wizard-2-connect

click connectGitHubButton
for _ in $(seq 1 100); do [ -s "$work/browser.txt" ] && break; sleep 0.1; done
[ -s "$work/browser.txt" ] || fail "the app never opened the browser"
url=$(head -n1 "$work/browser.txt")
# The browser's part: the authorisation page approves at once and sends the
# browser through the relay on to keelmark://, which the desktop hands to a
# second `keelmark` process.
for _ in 1 2 3 4; do
    next=$(curl -s -o /dev/null -w '%{redirect_url}' "$url")
    [ -n "$next" ] || fail "the redirect chain stopped at $url"
    url=$next
    case "$url" in keelmark://*) break ;; esac
done
case "$url" in keelmark://*) ;; *) fail "the sign-in never reached keelmark:// ($url)" ;; esac
"$app" --test-root "$state" "$url" || fail "the second process did not hand over the callback"

wait_visible orgRow_harbor-labs
shot wizard-3-organisations

# tiny-studio's plan refuses protection on private repositories: the run
# stops at the third step with GitHub's explanation.
click orgRow_tiny-studio
wait_visible gitHubContinueButton
click gitHubContinueButton
wait_visible repoContinueButton
click repoContinueButton
wait_visible protectionRetryButton
shot wizard-5-protections-failed
click stepRow_connectGitHub
wait_visible orgRow_harbor-labs
click orgRow_harbor-labs
wait_visible gitHubContinueButton
shot wizard-3-organisation-selected
click gitHubContinueButton
wait_visible repoSetupStep
shot wizard-4-repository
click repoContinueButton
wait_visible protectionContinueButton
shot wizard-5-protections-done
click protectionContinueButton
wait_visible setupCompleteStep
shot wizard-7-complete
click stepRow_approveExtension
wait_visible extensionApprovalStep
shot wizard-6-extension
click skipExtensionButton
wait_visible openDashboardButton
click openDashboardButton
sleep 1
shot dashboard
ui '{"cmd":"togglePopover"}' >/dev/null
wait_visible popover
sleep 0.5
ui "{\"cmd\":\"grab\",\"name\":\"popover\",\"file\":\"$out/popover-protected.png\"}" >/dev/null
echo "saved $out/popover-protected.png"
echo "screenshots: done, see $out"
