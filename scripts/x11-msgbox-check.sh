#!/bin/bash
# Shows the message box under a virtual X server and takes screenshots.
# Run as: scripts/x11-msgbox-check.sh [OUTDIR]
# Opens the user search window, presses its search button with nothing
# chosen (which shows a message box), writes box.png, answers it with Enter
# and writes after.png.
set -u
here=$(cd "$(dirname "$0")/.." && pwd)
. "$here/scripts/x11-lib.sh"
out=${1:-/tmp/x11-msgbox}
mkdir -p "$out/home"
export HOME=$out/home XDG_CONFIG_HOME=$out/home/.config XDG_DATA_HOME=$out/home/.local/share \
       XDG_RUNTIME_DIR=$out/home/run XDG_STATE_HOME=$out/home/state
x11_start "$out" || exit 1
"$here/build/bin/privasweep" > "$out/app.log" 2>&1 &
pid=$!
sleep 3
xdotool mousemove 813 511 click 1
sleep 2
xdotool mousemove 936 577 click 1
sleep 1
x11_shot box
xdotool key Return
sleep 1
x11_shot after
kill -TERM $pid; wait $pid
x11_stop
echo "screenshots in $out"
