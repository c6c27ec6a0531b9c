#!/usr/bin/env bash
# Installs what KeelMark needs to build, run and test on Debian 12.
# Idempotent: asks apt only for packages that are not installed yet.
set -euo pipefail

PACKAGES=(
    cmake ninja-build g++ ccache git pkg-config clang-format
    qt6-base-dev qt6-base-dev-tools qt6-httpserver-dev qt6-svg-dev libqt6svg6
    qtkeychain-qt6-dev qcoro-qt6-dev
    # libqt6keychain1 does not pull in libsecret; without it QtKeychain
    # falls back to KWallet and every job fails.
    libsecret-1-0 libsecret-tools
    gnome-keyring dbus-daemon dbus-bin dbus-x11
    xvfb xauth trayer xdotool imagemagick x11-apps
    # The start-up benchmark watches the tray host through xcb.
    libxcb1-dev
    xdg-utils desktop-file-utils fonts-dejavu-core
    # scripts/screenshots.sh talks to the app's test socket and plays the
    # browser's part of the sign-in.
    socat curl
    # scripts/check-packages.sh: CPack's dependency scan, and the validators.
    dpkg-dev file appstream
)

missing=()
for pkg in "${PACKAGES[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed'; then
        missing+=("$pkg")
    fi
done

if [ ${#missing[@]} -eq 0 ]; then
    exit 0
fi

SUDO=""
if [ "$(id -u)" -ne 0 ]; then
    SUDO="sudo"
fi

echo "Installing: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
