#!/bin/bash
# Opens every window of the program under a virtual X server with openbox,
# the way a person reaches it, and writes a screenshot of each to OUTDIR
# (default /tmp/winx-shots/<screen size>) for a person to look at: the main
# window's two pages and its menu, the about window, the six settings pages,
# the user search window (and its message with nothing chosen), the search
# running and done, the results, the row menu, the hits window, the
# encrypt (password) window, the delete question, the action windows, the
# exception list, the event log and the error report.
# On the way it checks that a stored archive password is never shown: the
# password stored on the settings page, the encrypt window's "*로 표시"
# unticked and "설정값으로 암호 적용" ticked, the fields stay masked
# (15-encrypt-stored-password.png). A document removed behind the
# program's back and then deleted in it gives 17-delete-vanished-finished.
# X11_SIZE picks the screen (default 1366x768), X11_DISPLAY the display.
# Needs Xvfb, openbox, xdotool, x11-utils, ImageMagick and sqlite3.
#   X11_DISPLAY=75 X11_SIZE=1920x1080 scripts/x11-all-windows.sh [OUTDIR] [FOLDER]
set -u
here=$(cd "$(dirname "$0")/.." && pwd)
. "$here/scripts/x11-lib.sh"
export X11_SIZE=${X11_SIZE:-1366x768}
out=${1:-/tmp/winx-shots/$X11_SIZE}
source=${2:-$(cd "$here/../shared/corpus/pii" && pwd -P)}
[ -n "$out" ] && [ -d "$source" ] || exit 1
rm -rf "$out"; mkdir -p "$out/home/run"; chmod 700 "$out/home/run"
out=$(cd "$out" && pwd -P)
docs=$out/docs
mkdir -p "$docs"
cp "$source"/*.pdf "$source"/*.hwp "$source"/*.docx "$docs"/ 2>/dev/null
export HOME=$out/home XDG_CONFIG_HOME=$out/home/.config XDG_DATA_HOME=$out/home/.local/share \
       XDG_RUNTIME_DIR=$out/home/run XDG_STATE_HOME=$out/home/state
db=$XDG_DATA_HOME/Norvane/Privasweep/Privasweep.db
conf=$XDG_CONFIG_HOME/Norvane/Privasweep/registry.conf
fail=0
check() { if eval "$2"; then echo "ok   $1"; else echo "FAIL $1"; fail=1; fi; }
q() { sqlite3 -separator $'\t' "$db" "$1"; }
win() { xdotool search --onlyvisible --name "^$1\$" 2>/dev/null | tail -1; }
wait_win() { local i w; for i in $(seq 40); do w=$(win "$1"); [ -n "$w" ] && { echo "$w"; return 0; }; sleep 0.25; done; return 1; }
geom() { WIDTH=0 HEIGHT=0 X=0 Y=0; [ -n "$1" ] && eval "$(xdotool getwindowgeometry --shell "$1")"; }
at() { geom "$1"; xdotool mousemove $((X + $2)) $((Y + $3)); }
click() { at "$@"; xdotool click 1; }
# The active window's place and size, noted with each screenshot.
shot() {
    local w; w=$(xdotool getactivewindow 2>/dev/null)
    geom "$w"
    echo "$1: active ${WIDTH}x$HEIGHT+$X+$Y '$(xdotool getwindowname "$w" 2>/dev/null)'" >> "$out/windows.log"
    x11_shot "$1"
}

pid=
leave() { [ -n "$pid" ] && kill "$pid" 2>/dev/null; x11_stop; }
trap leave EXIT
x11_start "$out" || exit 1
x11_wm || exit 1
echo "display $DISPLAY, screen $X11_SIZE"
main_title=$(printf '프리바스윕 2.0')

"$here/build/bin/privasweep" > "$out/app.log" 2>&1 &
pid=$!
main=$(wait_win "$main_title") || { echo "FAIL no main window"; exit 1; }
sleep 1.5
shot 01-main-search-page
click "$main" 368 42; sleep 0.7
shot 02-main-log-page
click "$main" 60 42; sleep 0.5

# The main menu, and its last item (about).
geom "$main"; click "$main" $((WIDTH - 97 + 8)) 14; sleep 1
shot 03-main-menu
xdotool key Up Return; sleep 1.5
shot 04-about
xdotool key Escape; sleep 0.7
check "the about window closed" "[ \"\$(xdotool getactivewindow)\" = '$main' ]"

# The settings window: six pages; the archive password stored on the
# password page.
geom "$main"; click "$main" $((WIDTH - 91 + 48)) 42
sw=$(wait_win '환경설정') || { echo "FAIL no settings window"; fail=1; }
sleep 1
for tab in 0 1 2 3 4 5; do
    click "$sw" 70 $((29 + 21 + 42 * tab)); sleep 0.6
    shot "05-settings-tab$tab"
done
click "$sw" 70 $((29 + 21 + 42 * 4)); sleep 0.5
click "$sw" $((142 + 20 + 40)) $((29 + 90 + 10))
lw=$(wait_win '예외처리관리') || { echo "FAIL no exception list"; fail=1; }
sleep 1
shot 06-exception-list-empty
geom "$lw"; click "$lw" $((WIDTH - 40)) $((HEIGHT - 20)); sleep 1
click "$sw" 70 $((29 + 21 + 42 * 3)); sleep 0.5
click "$sw" $((142 + 120 + 40)) $((29 + 147 + 10)); sleep 0.3
xdotool type --delay 40 "Stored-pw-1234"
click "$sw" $((142 + 120 + 40)) $((29 + 175 + 10)); sleep 0.3
xdotool type --delay 40 "Stored-pw-1234"; sleep 0.5
shot 07-settings-password-typed
click "$sw" $((478 - 161 + 37)) $((400 - 31 + 10)); sleep 1.5
shot 08-settings-saved
check "the settings window closed on OK" "[ -z \"\$(win '환경설정')\" ]"
check "an archive password is stored" "grep -qi '^\"CryptPassword\"=' '$conf'"

# The user search window; its search button with nothing chosen.
click "$main" 549 391
usr=$(wait_win '사용자 검색') || { echo "FAIL no user search window"; fail=1; }
sleep 1
shot 09-user-search
click "$usr" 672 457; sleep 1
shot 10-user-search-nothing-chosen
xdotool key Return; sleep 0.7
geom "$usr"; click "$usr" $((WIDTH - 14)) 14; sleep 1

# The search of the documents.
xdotool windowactivate "$main"; sleep 0.5
events=$(q "select count(*) from EventInfo")
x11_choose_folder "$docs"
shot 11-user-search-chosen
x11_click_in 672 457; sleep 0.3
shot 12-searching
x11_wait_search_end "$events" 300 || echo "FAIL the search did not end"
shot 13-search-done
xdotool key Return; sleep 1
srch=$(xdotool getactivewindow)
shot 14-results
for tab in 1 5; do
    click "$srch" $((10 + 120 * tab + 60)) 167; sleep 0.5
    shot "14-results-tab$tab"
done
click "$srch" 70 167; sleep 0.5
row_y() { echo $((236 + 21 * ($1 - 1))); }
# The row menu and the hits window (a double click on a count).
click "$srch" 150 "$(row_y 1)"; sleep 0.3
xdotool click 3; sleep 0.8
shot 14a-row-menu
xdotool key Escape; sleep 0.5
at "$srch" 360 "$(row_y 1)"; xdotool click --repeat 2 --delay 80 1; sleep 1.5
shot 14b-hits
first=$(xdotool getwindowname "$(xdotool getactivewindow)" | sed 's/^.* - //')   # the first row's document
xdotool key Escape; sleep 0.7

# The encrypt window: masked typing, unmasked typing, the stored password.
click "$srch" 20 "$(row_y 1)"; sleep 0.3
click "$srch" 529 477; sleep 1.5
shot 15-encrypt
click "$(xdotool getactivewindow)" 180 139; xdotool type --delay 40 "masked"; sleep 0.5
shot 15-encrypt-masked-typing
xdotool key ctrl+a BackSpace
click "$(xdotool getactivewindow)" $((98 + 8)) $((185 + 8)); sleep 0.5   # "*로 표시" off
click "$(xdotool getactivewindow)" 180 139; xdotool type --delay 40 "typed"; sleep 0.5
shot 15-encrypt-unmasked-typing
click "$(xdotool getactivewindow)" $((210 + 8)) $((185 + 8)); sleep 0.7  # "설정값으로 암호 적용" on
shot 15-encrypt-stored-password   # look: both fields masked
xdotool key Escape; sleep 1

# The delete question, answered 취소.
click "$srch" 614 477; sleep 1
shot 16-delete-question
xdotool key Escape; sleep 0.7
# A document removed behind the program's back, then deleted in it.
rm -f "$docs/$first"
click "$srch" 614 477; sleep 1
xdotool key Return; sleep 2
shot 17-delete-vanished-finished   # look: the document could not be found
check "the vanished document is not counted deleted" \
    "[ \$(q 'select count(*) from FileEventLog where EventID = (select max(EventID) from EventInfo where Type = 12288)') -eq 0 ]"
xdotool key Return; sleep 1
# The except window.
click "$srch" 20 "$(row_y 1)"; sleep 0.3
click "$srch" 700 477; sleep 2
shot 18-except-finished
xdotool key Return; sleep 1
shot 19-results-after
geom "$srch"; click "$srch" $((WIDTH - 14)) 14; sleep 1

# The event log from the log page.
click "$main" 368 42; sleep 0.7
shot 20-main-log-page-after
click "$main" 549 391
ew=$(wait_win '기록 상세보기') || { echo "FAIL no event log"; fail=1; }
sleep 1
shot 21-event-log
# Its own close button (a close from outside would end the program).
geom "$ew"; click "$ew" $((WIDTH - 14)) 14; sleep 1
# The exception list with its row.
geom "$main"; click "$main" $((WIDTH - 91 + 48)) 42
sw=$(wait_win '환경설정'); sleep 1
click "$sw" 70 $((29 + 21 + 42 * 4)); sleep 0.5
click "$sw" $((142 + 20 + 40)) $((29 + 90 + 10))
lw=$(wait_win '예외처리관리'); sleep 1
shot 22-exception-list
geom "$lw"; click "$lw" $((WIDTH - 40)) $((HEIGHT - 20)); sleep 1
xdotool key Escape; sleep 1
geom "$main"; click "$main" $((WIDTH - 17)) 14
for i in $(seq 20); do kill -0 $pid 2>/dev/null || break; sleep 0.5; done
check "the program ended" "! kill -0 $pid 2>/dev/null"

# The error report: a run that ended while a document was being read.
side=$(dirname "$conf")/registry.conf-lastcheckfile
left="$docs/읽다 멈춘 문서.hwp"
head -c 999 /dev/urandom > "$left"
printf 'PSV1 %d\n%s' "$(printf '%s' "$left" | wc -c)" "$left" > "$side"
"$here/build/bin/privasweep" > "$out/app2.log" 2>&1 &
pid=$!
wait_win '프리바스윕 오류 알림' > /dev/null || echo "FAIL no error report"
sleep 1
shot 23-error-report
echo "screenshots in $out (windows.log lists the active window of each)"
exit $fail
