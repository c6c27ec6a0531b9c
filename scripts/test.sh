#!/usr/bin/env bash
# Installs what is missing, builds everything and runs every test; a full run
# (no arguments) then builds and checks the Debian packages.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh
scripts/check-format.sh
build_dir=${KEELMARK_BUILD_DIR:-build}
cmake -S . -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKEELMARK_TEST_HOOKS=ON
cmake --build "$build_dir" --parallel "$(nproc)"
export QT_QPA_PLATFORM=offscreen
scripts/with-test-session.sh ctest --test-dir "$build_dir" --output-on-failure --timeout 600 "$@"
if [ $# -eq 0 ]; then
    scripts/check-packages.sh
fi
