#!/bin/bash
# Alt+F4 on the search window while a user search runs, under a virtual X
# server with openbox, the way a person meets it. The folder searched is a
# fixture of COUNT (default 20000) documents hard-linked from the public
# corpus, so that the search runs long enough for the key to land in it.
#   1. Alt+F4, the question 검색을 종료하시겠습니까? answered 취소: the search
#      goes on, its completion message comes after the question (never both
#      at once), the window stays with its results, the program runs on;
#   2. Alt+F4 answered 확인: the search stops with one cancel event, the
#      window closes and the program ends with its exit steps;
#   3. Alt+F4 and the question left open until the search has ended: the
#      question goes and the completion message takes its place (one box);
#      its 확인 leaves the window and the program as they were.
# After every step the managed windows are listed (OUTDIR/windows.log) and
# at most one message box may be on screen. Screenshots go to OUTDIR.
# Needs Xvfb, openbox, xdotool, x11-utils, ImageMagick and sqlite3.
#   X11_DISPLAY=75 scripts/x11-close-during-search.sh [OUTDIR] [COUNT]
set -u
here=$(cd "$(dirname "$0")/.." && pwd)
. "$here/scripts/x11-lib.sh"
out=${1:-/tmp/x11-close-during-search}
count=${2:-20000}
export X11_SIZE=${X11_SIZE:-1366x768}
rm -rf "$out"; mkdir -p "$out"
out=$(cd "$out" && pwd -P)
fail=0
check() { if eval "$2"; then echo "ok   $1"; else echo "FAIL $1"; fail=1; fi; }

docs=$out/docs
x11_fixture "$docs" "$count" || exit 1
echo "fixture: $count documents in $docs"

q() { sqlite3 -separator $'\t' "$db" "$1"; }
events_after() { q "select group_concat(Type) from (select Type from EventInfo where EventID > $1 order by EventID)"; }
last_event() { q "select coalesce(max(EventID), 0) from EventInfo"; }
main_title=$(printf '프리바스윕 2.0')
all_title=$(printf '사용자 검색')  # the user search's own search window
win() { xdotool search --onlyvisible --name "^$1\$" 2>/dev/null | head -1; }
geom() { WIDTH=0 HEIGHT=0 X=0 Y=0; [ -n "$1" ] && eval "$(xdotool getwindowgeometry --shell "$1")"; }
click_in() { geom "$1"; xdotool mousemove $((X + $2)) $((Y + $3)) click 1; }
# The windows the manager keeps on screen (mapped, not minimised): id,
# size, place and title, one a line; message boxes are the small untitled
# ones.
managed() {
    xprop -root _NET_CLIENT_LIST | sed 's/.*# //; s/, /\n/g' | while read -r w; do
        xprop -id "$w" WM_STATE 2>/dev/null | grep -q 'window state: Normal' || continue
        eval "$(xdotool getwindowgeometry --shell "$w" 2>/dev/null)"
        echo "$w ${WIDTH}x$HEIGHT+$X+$Y $(xdotool getwindowname "$w" 2>/dev/null)"
    done
}
boxes() { managed | awk '{ split($2, s, "[x+]"); if (s[1] <= 420 && s[2] <= 260) n++ } END { print n + 0 }'; }
note() { { echo "-- $1"; managed; } >> "$out/windows.log"; }
searching() { [ "$(q "select Type from EventInfo order by EventID desc limit 1")" = 4 ]; }

pid=
leave() { [ -n "$pid" ] && kill "$pid" 2>/dev/null; x11_stop; }
trap leave EXIT
x11_start "$out" || exit 1
x11_wm || exit 1
echo "display $DISPLAY, screen $X11_SIZE"

# Starts the program with a home of its own (no stored results), opens the
# user search window, checks the fixture and starts the search; leaves the
# search window active.
start_search() {
    local home=$out/home-$1
    mkdir -p "$home/run"; chmod 700 "$home/run"
    export HOME=$home XDG_CONFIG_HOME=$home/.config XDG_DATA_HOME=$home/.local/share \
           XDG_RUNTIME_DIR=$home/run XDG_STATE_HOME=$home/state
    db=$XDG_DATA_HOME/Norvane/Privasweep/Privasweep.db
    "$here/build/bin/privasweep" > "$out/app-$1.log" 2>&1 &
    pid=$!
    local i
    for i in $(seq 50); do main=$(win "$main_title"); [ -n "$main" ] && break; sleep 0.2; done
    sleep 1
    xdotool windowactivate "$main"; sleep 0.5
    x11_choose_folder "$docs"
    local usr; usr=$(win "$all_title")
    e0=$(last_event)
    x11_click_in 672 457
    for i in $(seq 50); do srch=$(win "$all_title"); [ -n "$srch" ] && [ "$srch" != "$usr" ] && break; sleep 0.2; done
    xdotool windowactivate "$srch" 2>/dev/null; sleep 1
}
wait_end() {
    local i
    for i in $(seq 40); do kill -0 $pid 2>/dev/null || break; sleep 0.25; done
    if kill -0 $pid 2>/dev/null; then return 1; fi
    wait $pid; echo "program exit status $?"; return 0
}
quit_program() {
    geom "$main"; click_in "$main" $((WIDTH - 17)) 14
    wait_end || { echo "FAIL the program did not end"; fail=1; kill -TERM $pid; wait $pid; }
}

# ---- 1. Alt+F4, 취소 -----------------------------------------------------------
start_search 1
x11_shot 1-01-searching
check "1: the search runs when Alt+F4 is pressed" searching
t0=$(date +%s)
xdotool key alt+F4; sleep 0.7
x11_shot 1-02-question
note "1: question"
check "1: one box on screen: the question" "[ \$(boxes) -eq 1 ]"
xdotool key Escape; sleep 0.7
x11_shot 1-03-cancelled
note "1: after 취소"
check "1: 취소 keeps the search window" "[ -n \"\$(win '$all_title')\" ]"
# The search goes on to its end; its completion message is the only box.
x11_wait_search_end "$e0" 600 || echo "FAIL 1: the search did not end"
echo "1: the search ended $(($(date +%s) - t0)) s after Alt+F4"
sleep 0.5
x11_shot 1-04-completed
note "1: completed"
check "1: one box on screen: the completion message" "[ \$(boxes) -eq 1 ]"
check "1: start and completion events" "[ '$(events_after $e0)' = 4,6 ]"
xdotool key Return; sleep 1
x11_shot 1-05-results
note "1: results"
check "1: no box left, the search window stays" "[ \$(boxes) -eq 0 ] && [ -n \"\$(win '$all_title')\" ]"
check "1: the program runs on" "kill -0 $pid"
# The search window's own close button takes it back to the main window.
geom "$srch"; click_in "$srch" $((WIDTH - 14)) 14; sleep 1
x11_shot 1-06-main-again
check "1: the search window closed by its button, no box" "[ -z \"\$(win '$all_title')\" ] && [ \$(boxes) -eq 0 ]"
quit_program

# ---- 2. Alt+F4, 확인 -----------------------------------------------------------
start_search 2
check "2: the search runs when Alt+F4 is pressed" searching
xdotool key alt+F4; sleep 0.7
x11_shot 2-01-question
note "2: question"
check "2: one box on screen: the question" "[ \$(boxes) -eq 1 ]"
xdotool key Return; sleep 1
x11_shot 2-02-after-ok
note "2: after 확인"
check "2: 확인 ends the program" wait_end
check "2: start and one cancel event" "[ '$(events_after $e0)' = 4,5 ]"
check "2: one end-of-search totals row" "[ \$(q \"select count(*) from SearchEventLog where EventID > $e0\") -eq 1 ]"
check "2: no lastCheckFile after the exit" '[ -z "$(x11_last_check_file)" ]'
check "2: no stale window left" "[ -z \"\$(managed)\" ]"

# ---- 3. The question left open until the search ends ------------------------
start_search 3
check "3: the search runs when Alt+F4 is pressed" searching
xdotool key alt+F4; sleep 0.7
x11_shot 3-01-question
note "3: question"
x11_wait_search_end "$e0" 600 || echo "FAIL 3: the search did not end under the question"
sleep 1
x11_shot 3-02-completed-under-question
note "3: completed under the question"
check "3: one box on screen: the completion message took the question's place" "[ \$(boxes) -eq 1 ]"
check "3: start and completion events" "[ '$(events_after $e0)' = 4,6 ]"
xdotool key Return; sleep 1
x11_shot 3-03-after-ok
note "3: after 확인"
check "3: 확인 of the message leaves the window with its results and the program" \
    "[ \$(boxes) -eq 0 ] && [ -n \"\$(win '$all_title')\" ] && kill -0 $pid"
geom "$srch"; click_in "$srch" $((WIDTH - 14)) 14; sleep 1
quit_program

rm -rf "$docs"
echo "screenshots and logs in $out"
exit $fail
