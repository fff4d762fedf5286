#!/bin/bash
# Shows the message box under a real X server and takes screenshots of it.
# Run as: timeout 90 xvfb-run -a -s "-screen 0 1280x800x24" scripts/x11-msgbox-check.sh [OUTDIR]
# Opens the user search window, presses its search button with nothing
# chosen (which shows a message box), then writes root screenshots
# t1..t6.png (every half second), win.png (the box's own window, read from
# the server) and tree.txt (the server's window list).
set -u
here=$(cd "$(dirname "$0")/.." && pwd)
out=${1:-/tmp/x11-msgbox}
mkdir -p "$out/home"
export HOME=$out/home XDG_CONFIG_HOME=$out/home/.config XDG_DATA_HOME=$out/home/.local/share \
       XDG_RUNTIME_DIR=$out/home/run XDG_STATE_HOME=$out/home/state
"$here/build/bin/privasweep" > "$out/app.log" 2>&1 &
pid=$!
sleep 3
xdotool mousemove 813 511 click 1
sleep 2
xdotool mousemove 936 577 click 1
for i in 1 2 3 4 5 6; do sleep 0.5; xwd -root -silent > "$out/t$i.xwd"; done
xwininfo -root -tree > "$out/tree.txt" 2>&1
w=$(grep -o '^ *0x[0-9a-f]*' "$out/tree.txt" | head -1)
[ -n "$w" ] && xwd -id $w -silent > "$out/win.xwd"
for f in "$out"/*.xwd; do /usr/bin/convert "$f" "${f%.xwd}.png"; done
xdotool key Return
sleep 1
kill -TERM $pid; wait $pid
echo "screenshots in $out"
