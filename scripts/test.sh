#!/usr/bin/env bash
# Installs what is missing, builds and runs every test.
#   scripts/test.sh          the normal build: every test
#   scripts/test.sh asan     the sanitizer build: readers, store and matcher
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
kind=${1:-normal}
"$root/scripts/setup.sh"
"$root/scripts/build.sh" "$kind"
dir="$root/build"; [ "$kind" = asan ] && dir="$root/build-asan"
export QT_QPA_PLATFORM=offscreen
cd "$dir"
ctest --output-on-failure -j "${PS_JOBS:-$(nproc)}" --timeout 1800
