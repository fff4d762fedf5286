#!/usr/bin/env bash
# Redraws the skin bitmaps into resources/skin/ from scripts/skin/skingen.cpp.
# The images are committed; run this after changing the drawing code.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
PS_JOBS=${PS_JOBS:-3} "$root/scripts/build.sh" normal skin-gen
rm -f "$root"/resources/skin/*.png
QT_QPA_PLATFORM=offscreen "$root/build/bin/skin-gen" "$root/resources/skin"
