#!/usr/bin/env bash
# Configures (once) and builds one build tree.
#   scripts/build.sh [normal|asan|checked] [ninja targets...]
# checked: the normal build with the lock-order check on (build-checked).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
kind=${1:-normal}; shift || true
case "$kind" in
  normal) dir="$root/build"; flags=() ;;
  asan)   dir="$root/build-asan"; flags=(-DPRIVASWEEP_SANITIZE=ON -DPRIVASWEEP_GUI=OFF -DPRIVASWEEP_BENCH=OFF -DCMAKE_BUILD_TYPE=Debug) ;;
  checked) dir="$root/build-checked"; flags=(-DPRIVASWEEP_LOCK_CHECK=ON -DPRIVASWEEP_BENCH=OFF) ;;
  *) echo "unknown build kind: $kind" >&2; exit 2 ;;
esac
if [ ! -f "$dir/build.ninja" ]; then
  cmake -S "$root" -B "$dir" -G Ninja "${flags[@]}"
fi
# Compiler cache entries keyed by paths relative to the checkout, so that
# another clone of the project reuses them.
export CCACHE_BASEDIR="${CCACHE_BASEDIR:-$root}"
export CCACHE_NOHASHDIR="${CCACHE_NOHASHDIR:-true}"
jobs=${PS_JOBS:-$(nproc)}
cmake --build "$dir" -j "$jobs" ${1:+--target "$@"}
