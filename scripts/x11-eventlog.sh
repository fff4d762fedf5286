#!/bin/bash
# Checks the event-log window's frame under a virtual X server with a window
# manager, as a person would use it: the log opened from the main window's
# log page, the window dragged by its client area, sized from each edge and
# corner (out, then in to its least size), maximised and restored, minimised
# and brought back, and closed with its close button. Screenshots of each
# step go to OUTDIR. Needs Xvfb, openbox, xdotool, ImageMagick and sqlite3.
#   scripts/x11-eventlog.sh [OUTDIR] [DISPLAY-NUMBER]
set -u
here=$(cd "$(dirname "$0")/.." && pwd)
out=${1:-/tmp/x11-eventlog}
num=${2:-93}
rm -rf "$out"; mkdir -p "$out/home" "$out/fb"
export HOME=$out/home XDG_CONFIG_HOME=$out/home/.config XDG_DATA_HOME=$out/home/.local/share \
       XDG_RUNTIME_DIR=$out/home/run XDG_STATE_HOME=$out/home/state
mkdir -p "$XDG_RUNTIME_DIR"; chmod 700 "$XDG_RUNTIME_DIR"
db=$XDG_DATA_HOME/Norvane/Privasweep/Privasweep.db
fail=0
check() { if eval "$2"; then echo "ok   $1"; else echo "FAIL $1"; fail=1; fi; }
shot() { /usr/bin/convert "xwd:$out/fb/Xvfb_screen0" "$out/$1.png"; }

# A database with events of today: a search, a deletion with documents and
# a settings change.
mkdir -p "$(dirname "$db")"
cp "$here/build/bin/Privasweep.db" "$db"
today="$(date +%Y), $(date +%-m), $(date +%-d)"
sqlite3 "$db" "
INSERT INTO EventInfo (Year, Month, Day, Time, Type, User) VALUES ($today, '090000', 1, 'tester');
INSERT INTO EventInfo (Year, Month, Day, Time, Type, User) VALUES ($today, '091500', 3, 'tester');
INSERT INTO SearchEventLog (EventID, ID, Account, CreditCard, PhoneNumber, Address, EMail, IPAddress, HWP, DOC, XLS, PPT, PDF)
  VALUES (2, 12, 3, 1, 4, 5, 6, 7, 3, 1, 0, 0, 2);
INSERT INTO FileInfo (Hash, Path, Name) VALUES ('A', '/home/tester/문서', '명단.hwp'), ('B', '/home/tester/문서', '계약서.pdf');
INSERT INTO EventInfo (Year, Month, Day, Time, Type, User) VALUES ($today, '093000', 12288, 'tester');
INSERT INTO FileEventLog (EventID, FileIndex) VALUES (3, 1), (3, 2);
INSERT INTO EventInfo (Year, Month, Day, Time, Type, User) VALUES ($today, '100000', 67108864, 'tester');"

Xvfb :$num -screen 0 1280x800x24 -fbdir "$out/fb" -nolisten tcp > "$out/xvfb.log" 2>&1 &
xvfb=$!
export DISPLAY=:$num
for i in $(seq 50); do xdpyinfo > /dev/null 2>&1 && break; sleep 0.1; done
openbox > "$out/openbox.log" 2>&1 &
wm=$!
sleep 1
"$here/build/bin/privasweep" > "$out/app.log" 2>&1 &
pid=$!
main=""
for i in $(seq 60); do main=$(xdotool search --onlyvisible --name '프리바스윕' 2>/dev/null | head -1); [ -n "$main" ] && break; sleep 0.25; done
[ -n "$main" ] || { echo "FAIL the main window did not appear"; kill $pid $wm $xvfb; exit 1; }
sleep 1
eval "$(xdotool getwindowgeometry --shell "$main")"
mx=$X; my=$Y
# The log page, then its event-log button.
xdotool mousemove $((mx + 368)) $((my + 42)) click 1; sleep 0.7
shot 01-log-page
xdotool mousemove $((mx + 549)) $((my + 391)) click 1
win=""
for i in $(seq 40); do win=$(xdotool search --onlyvisible --name '기록 상세보기' 2>/dev/null | head -1); [ -n "$win" ] && break; sleep 0.25; done
check "the event-log window opens from the log page" "[ -n '$win' ]"
[ -n "$win" ] || { kill $pid $wm $xvfb; exit 1; }
sleep 0.7
shot 02-eventlog
geom() { eval "$(xdotool getwindowgeometry --shell "$win")"; }
geom
check "opens at its least size 730x481 (${WIDTH}x${HEIGHT})" "[ $WIDTH -eq 730 ] && [ $HEIGHT -eq 481 ]"

# Before any row is chosen: the area below the detail band is empty (no
# panel of zeros, no empty list), and the splitter drags with the mouse.
px() { convert "$out/$1.png" -format "%[pixel:p{$2,$3}]" info:; }
# The splitter's top in screenshot $1 (its grey line in the column x = $2,
# below the list's top), relative to the window's top $3.
splitter_y() {
    convert "$out/$1.png" -crop "1x$(($3 + 2000))+$2+0" txt:- 2>/dev/null |
        awk -F'[,:]' -v top=$(($3 + 130)) -v y0=$3 '/#C8C8C8/ && $2 > top { print $2 - y0; exit }'
}
band=$(px 02-eventlog $((X + 500)) $((Y + HEIGHT - 160 + 12)))
check "no detail view before a row is chosen" \
    "[ \"\$(px 02-eventlog $((X + 300)) $((Y + HEIGHT - 160 + 40)))\" = 'srgb(255,255,255)' ]"
xdotool mousemove $((X + 300)) $((Y + HEIGHT - 160)) mousedown 1; sleep 0.2
xdotool mousemove $((X + 300)) $((Y + HEIGHT - 200)); sleep 0.2
xdotool mousemove $((X + 300)) $((Y + HEIGHT - 240)); sleep 0.3
xdotool mouseup 1; sleep 0.5
shot 02b-splitter-up
check "the splitter drags before a row is chosen" \
    "[ \"\$(px 02b-splitter-up $((X + 500)) $((Y + HEIGHT - 240 + 12)))\" = '$band' ]"
xdotool mousemove $((X + 300)) $((Y + HEIGHT - 240)) mousedown 1; sleep 0.2
xdotool mousemove $((X + 300)) $((Y + HEIGHT - 200)); sleep 0.2
xdotool mousemove $((X + 300)) $((Y + HEIGHT - 160)); sleep 0.3
xdotool mouseup 1; sleep 0.5

# Select the deletion row: its documents below.
xdotool mousemove $((X + 300)) $((Y + 171)) click 1; sleep 0.5
shot 03-selected

# Drag by the client area (the header band holds no control).
x0=$X; y0=$Y
xdotool mousemove $((X + 500)) $((Y + 55)) mousedown 1
sleep 0.2; xdotool mousemove $((X + 560)) $((Y + 95)); sleep 0.2; xdotool mousemove $((X + 620)) $((Y + 135)); sleep 0.3
xdotool mouseup 1; sleep 0.5
geom
check "dragging moves the window ($x0,$y0 -> $X,$Y)" "[ $X -eq $((x0 + 120)) ] && [ $Y -eq $((y0 + 80)) ]"
shot 04-dragged

# Each edge and corner: out by 60 pixels, then in by 200 (stops at the least size).
drag_edge() { # name, press x, press y, dx, dy
    local name=$1 px=$2 py=$3 dx=$4 dy=$5
    xdotool mousemove $px $py mousedown 1; sleep 0.2
    xdotool mousemove $((px + dx / 2)) $((py + dy / 2)); sleep 0.2
    xdotool mousemove $((px + dx)) $((py + dy)); sleep 0.3
    xdotool mouseup 1; sleep 0.5
}
for edge in left right top bottom topleft bottomright; do
    geom
    case $edge in
        left) px=$((X + 3)); py=$((Y + HEIGHT / 2)); ox=-60; oy=0 ;;
        right) px=$((X + WIDTH - 3)); py=$((Y + HEIGHT / 2)); ox=60; oy=0 ;;
        top) px=$((X + WIDTH / 2)); py=$((Y + 3)); ox=0; oy=-60 ;;
        bottom) px=$((X + WIDTH / 2)); py=$((Y + HEIGHT - 3)); ox=0; oy=60 ;;
        topleft) px=$((X + 3)); py=$((Y + 3)); ox=-60; oy=-60 ;;
        bottomright) px=$((X + WIDTH - 3)); py=$((Y + HEIGHT - 3)); ox=60; oy=60 ;;
    esac
    w0=$WIDTH; h0=$HEIGHT
    drag_edge $edge $px $py $ox $oy
    geom
    check "$edge edge grows the window (${w0}x${h0} -> ${WIDTH}x${HEIGHT})" \
        "[ $WIDTH -eq $((w0 + (ox < 0 ? -ox : ox))) ] && [ $HEIGHT -eq $((h0 + (oy < 0 ? -oy : oy))) ]"
    shot 05-$edge-out
    case $edge in
        left) px=$((X + 3)) ;; right) px=$((X + WIDTH - 3)) ;;
        top) py=$((Y + 3)) ;; bottom) py=$((Y + HEIGHT - 3)) ;;
        topleft) px=$((X + 3)); py=$((Y + 3)) ;;
        bottomright) px=$((X + WIDTH - 3)); py=$((Y + HEIGHT - 3)) ;;
    esac
    drag_edge $edge $px $py $((ox * -4)) $((oy * -4))
    geom
    check "$edge edge stops at the least size (${WIDTH}x${HEIGHT})" "[ $WIDTH -eq 730 ] && [ $HEIGHT -eq 481 ]"
    shot 06-$edge-in
done

# Maximise and restore with the caption button.
geom; xr=$X; yr=$Y
xdotool mousemove $((X + 730 - 41 + 8)) $((Y + 14)) click 1; sleep 0.7
geom
check "maximise fills the screen (${WIDTH}x${HEIGHT})" "[ $WIDTH -ge 1200 ] && [ $HEIGHT -ge 700 ]"
shot 07-maximised
split=$(splitter_y 07-maximised $((X + 500)) $Y)
check "maximised, the list grows and the detail area keeps its height (splitter $split of $HEIGHT)" \
    "[ -n '$split' ] && [ $((HEIGHT - ${split:-0})) -le 240 ]"
xdotool mousemove $((X + WIDTH - 41 + 8)) $((Y + 14)) click 1; sleep 0.7
geom
check "restore gives back the place and size ($X,$Y ${WIDTH}x${HEIGHT})" \
    "[ $X -eq $xr ] && [ $Y -eq $yr ] && [ $WIDTH -eq 730 ] && [ $HEIGHT -eq 481 ]"
shot 08-restored

# Double click in the title row maximises too; again restores.
xdotool mousemove $((X + 300)) $((Y + 14)) click --repeat 2 --delay 80 1; sleep 0.7
geom; check "double click in the title row maximises" "[ $WIDTH -ge 1200 ]"
xdotool mousemove $((X + 300)) $((Y + 14)) click --repeat 2 --delay 80 1; sleep 0.7
geom; check "a second double click restores" "[ $WIDTH -eq 730 ]"

# The custom period: the last item of the period list, then the range field
# opens the date popup under it; dragging the window takes the popup along;
# apply closes it.
geom
xdotool mousemove $((X + 60)) $((Y + 99)) click 1; sleep 0.5
xdotool key End Return; sleep 0.5
xdotool mousemove $((X + 200)) $((Y + 99)) click 1; sleep 0.7
shot 12-date-popup
pop=$(xdotool search --onlyvisible --classname '' 2>/dev/null | while read w; do
    eval "$(xdotool getwindowgeometry --shell $w 2>/dev/null)"; [ "$WIDTH" = 420 ] && [ "$HEIGHT" = 160 ] && echo $w; done | head -1)
check "the range field opens the date popup" "[ -n '$pop' ]"
if [ -n "$pop" ]; then
    geom; wx=$X; wy=$Y
    eval "$(xdotool getwindowgeometry --shell $pop)"; px=$X; py=$Y
    check "the popup stands under the range field ($((px - wx)),$((py - wy)))" "[ $((px - wx)) -eq 118 ] && [ $((py - wy)) -eq 110 ]"
    # (a press on the window itself closes the popup: move it as a window
    # manager would)
    xdotool windowmove "$win" $((wx + 40)) $((wy + 30)); sleep 0.7
    eval "$(xdotool getwindowgeometry --shell $pop)"
    check "the popup follows the window ($((X - px)),$((Y - py)))" "[ $((X - px)) -eq 40 ] && [ $((Y - py)) -eq 30 ]"
    shot 13-popup-moved
    xdotool mousemove $((X + 420 - 160 + 37)) $((Y + 160 - 31 + 10)); sleep 0.3
    xdotool mousedown 1; sleep 0.15; xdotool mouseup 1; sleep 0.7
    check "apply closes the popup" "! xdotool search --onlyvisible --classname '' 2>/dev/null | while read w; do eval \"\$(xdotool getwindowgeometry --shell \$w 2>/dev/null)\"; [ \"\$WIDTH\" = 420 ] && echo \$w; done | grep -q ."
    shot 14-range-applied
fi

# Minimise, then bring it back.
geom
xdotool mousemove $((X + 730 - 60 + 8)) $((Y + 14)) click 1; sleep 0.7
shot 09-minimised
state=$(xprop -id "$win" WM_STATE 2>/dev/null | grep -o 'Iconic\|Normal' | head -1)
check "minimise iconifies the window ($state)" "[ '$state' = Iconic ]"
xdotool windowactivate "$win" 2>/dev/null || xdotool windowmap "$win"; sleep 0.8
state=$(xprop -id "$win" WM_STATE 2>/dev/null | grep -o 'Iconic\|Normal' | head -1)
check "activating it brings it back ($state)" "[ '$state' = Normal ]"
check "it stays above the main window, which is back too" \
    "[ \"\$(xdotool getactivewindow)\" = '$win' ] && [ \"\$(xdotool getwindowgeometry --shell $main | grep WIDTH)\" = WIDTH=730 ]"
shot 10-back

# Close with the close button: the window goes, the program stays.
geom
xdotool mousemove $((X + 730 - 22 + 8)) $((Y + 14)) click 1; sleep 0.8
check "the close button ends the window" "! xdotool search --onlyvisible --name '기록 상세보기' > /dev/null 2>&1"
check "the program keeps running" "kill -0 $pid 2>/dev/null"
shot 11-closed

kill $pid 2>/dev/null; wait $pid 2>/dev/null
kill $wm 2>/dev/null; wait $wm 2>/dev/null
kill $xvfb 2>/dev/null; wait $xvfb 2>/dev/null
[ $fail -eq 0 ] && echo "all checks passed" || echo "some checks failed"
exit $fail
