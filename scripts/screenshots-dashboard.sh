#!/usr/bin/env bash
# Saves a PNG of every dashboard page, once in a protected state and once
# drifted (protection and ownership file gone, no collaborators, setup mode),
# plus the audit page with sample rows. Renders offscreen: no display needed.
#
#   scripts/screenshots-dashboard.sh [OUTPUT_DIR] [BUILD_DIR]
#
# OUTPUT_DIR defaults to out/screenshots/dashboard, BUILD_DIR to build-screenshots.
set -euo pipefail
cd "$(dirname "$0")/.."
out=${1:-out/screenshots/dashboard}
build=${2:-build-screenshots}

if [ ! -f "$build/build.ninja" ]; then
    cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug >/dev/null
fi
cmake --build "$build" --target keelmark-dashboard-screenshots --parallel 2 >/dev/null

runtime=$(mktemp -d)
trap 'rm -rf "$runtime"' EXIT
chmod 700 "$runtime"
QT_QPA_PLATFORM=offscreen XDG_RUNTIME_DIR="$runtime" \
    "$build/tests/ui/dashboard/keelmark-dashboard-screenshots" "$out"
