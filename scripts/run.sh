#!/usr/bin/env bash
# Installs what is missing, builds and starts Privasweep.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/setup.sh"
"$root/scripts/build.sh" normal
exec "$root/build/bin/privasweep" "$@"
