#!/usr/bin/env bash
# Fails when a C++ file does not match .clang-format and names the offenders.
set -euo pipefail
cd "$(dirname "$0")/.."

mapfile -t files < <(git ls-files '*.cpp' '*.h')
if ! report=$(clang-format --dry-run --Werror "${files[@]}" 2>&1); then
    printf '%s\n' "$report" | grep -o '^[^: ]*:[0-9]*:' | cut -d: -f1 | sort -u | sed 's/^/not formatted: /'
    echo "Format them with: clang-format -i FILE" >&2
    exit 1
fi
