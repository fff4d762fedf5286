#!/bin/bash
# Uses the program's windows under a virtual X server with a window manager
# (openbox) the way a person would, and checks their states:
#   1. a search window minimised takes the main window along; restoring
#      either brings both back with the search window on top, and the main
#      window takes no clicks meanwhile (no second search window);
#      the same for the user search window, whose close leaves the main
#      window on screen;
#   2. Alt+F4 during a search: one question, the search stops with one
#      cancel event, the window closes and the program ends;
#   3. Alt+F4 on the main window with the focus on the window itself ends
#      the program with its exit steps (lastCheckFile cleared);
#   4. SIGTERM (logging out) during a search ends it the same way, without
#      a question.
# On the way it shows a tooltip of the log page (1-13-log-tooltip).
# Screenshots of each step go to OUTDIR. Needs Xvfb, openbox, xdotool,
# x11-utils, ImageMagick and sqlite3. X11_DISPLAY and X11_SIZE choose the
# display number and the screen size (default 1366x768).
# X11_DOCUMENTS sets how many documents the search has to read (8000).
#   scripts/x11-window-states.sh [OUTDIR]
set -u
here=$(cd "$(dirname "$0")/.." && pwd)
. "$here/scripts/x11-lib.sh"
out=${1:-/tmp/x11-window-states}
export X11_SIZE=${X11_SIZE:-1366x768}
rm -rf "$out"; mkdir -p "$out/home"
export HOME=$out/home XDG_CONFIG_HOME=$out/home/.config XDG_DATA_HOME=$out/home/.local/share \
       XDG_RUNTIME_DIR=$out/home/run XDG_STATE_HOME=$out/home/state
mkdir -p "$XDG_RUNTIME_DIR"; chmod 700 "$XDG_RUNTIME_DIR"
# Documents for the whole-computer search to read, so that it runs long
# enough for the steps below to meet it running.
x11_fixture "$out/docs" "${X11_DOCUMENTS:-8000}" || exit 1
db=$XDG_DATA_HOME/Norvane/Privasweep/Privasweep.db
conf=$XDG_CONFIG_HOME/Norvane/Privasweep/registry.conf
fail=0
check() { if eval "$2"; then echo "ok   $1"; else echo "FAIL $1"; fail=1; fi; }
q() { sqlite3 -separator $'\t' "$db" "$1"; }
events_after() { q "select group_concat(Type) from (select Type from EventInfo where EventID > $1 order by EventID)"; }
last_event() { q "select coalesce(max(EventID), 0) from EventInfo"; }

# Window ids by exact title, the ICCCM state of a window (Normal, Iconic or
# empty when unmapped) and the top of the stacking order.
win() { xdotool search --onlyvisible --name "^$1\$" 2>/dev/null; xdotool search --name "^$1\$" 2>/dev/null; }
first_win() { win "$1" | head -1; }
count_win() { xdotool search --name "^$1\$" 2>/dev/null | while read -r w; do
    xprop -id "$w" WM_STATE 2>/dev/null | grep -q 'window state' && echo "$w"; done | sort -u | wc -l; }
state() { xprop -id "$1" WM_STATE 2>/dev/null | sed -n 's/.*window state: //p'; }
top_win() { xprop -root _NET_CLIENT_LIST_STACKING | sed 's/.*# //; s/, /\n/g' | tail -1; }
geom() { eval "$(xdotool getwindowgeometry --shell "$1")"; }
# Clicks at (dx, dy) inside window $1.
click_in() { geom "$1"; xdotool mousemove $((X + $2)) $((Y + $3)) click 1; }

main_title=$(printf '프리바스윕 2.0')
all_title=$(printf '전체 검색')
user_title=$(printf '사용자 검색')

# Each run starts from the template database: no stored results, so that a
# search runs long enough to be stopped or closed.
start_program() {
    rm -f "$db" "$db-wal" "$db-shm"
    "$here/build/bin/privasweep" > "$out/app-$1.log" 2>&1 &
    pid=$!
    local i
    for i in $(seq 50); do
        main=$(first_win "$main_title"); [ -n "$main" ] && break
        sleep 0.2
    done
    sleep 1
}
wait_end() {
    local i
    for i in $(seq 40); do kill -0 $pid 2>/dev/null || break; sleep 0.25; done
    if kill -0 $pid 2>/dev/null; then return 1; fi
    wait $pid; echo "program exit status $?"; return 0
}

x11_start "$out" || exit 1
x11_wm || exit 1
echo "display $DISPLAY, screen $X11_SIZE"

# ---- 1. Minimise and restore with a modal window open ----------------------
start_program 1
x11_shot 1-01-main
geom "$main"; mainX=$X; mainY=$Y
e0=$(last_event)
click_in "$main" 182 391; sleep 2      # 전체 검색
srch=$(first_win "$all_title")
x11_shot 1-02-search-running
check "the search window is open" "[ -n '$srch' ]"
geom "$srch"; click_in "$srch" $((WIDTH - 52)) 14; sleep 1   # its minimise button
x11_shot 1-03-both-minimised
check "minimising the search window minimises the main window with it" \
    "[ '$(state "$srch")' = Iconic ] && [ '$(state "$main")' = Iconic ]"
xdotool windowactivate "$main"; sleep 1.5        # the main window's task-bar entry
x11_shot 1-04-restored-from-main
check "restoring the main window restores both" \
    "[ '$(state "$srch")' = Normal ] && [ '$(state "$main")' = Normal ]"
check "the search window lies on top" "[ \$((\$(top_win))) -eq \$(($srch)) ]"
# Drag the search window aside so that the main window's button shows.
geom "$srch"
xdotool mousemove $((X + 200)) $((Y + 60)) mousedown 1; sleep 0.3
xdotool mousemove $((X + 350)) $((Y + 160)); sleep 0.3
xdotool mousemove $((X + 500)) $((Y + 260)); sleep 0.3
xdotool mouseup 1; sleep 0.8
x11_shot 1-05-search-moved-aside
xdotool mousemove $((mainX + 150)) $((mainY + 391)) click 1; sleep 2   # 전체 검색 of the main window
x11_shot 1-06-main-takes-no-click
check "the main window takes no click: one search window" "[ \$(count_win '$all_title') -eq 1 ]"
# Minimise again and restore from the search window itself.
geom "$srch"; click_in "$srch" $((WIDTH - 52)) 14; sleep 1
xdotool windowactivate "$srch"; sleep 1.5
x11_shot 1-07-restored-from-search
check "restoring the search window restores both" \
    "[ '$(state "$srch")' = Normal ] && [ '$(state "$main")' = Normal ]"
# Close the search window with its own close button: a search still running
# asks first; one that ended meanwhile shows its completion message first.
# (The message box is modal over the window: a click on the close button
# then does nothing and Return dismisses the box.)
for i in 1 2 3; do
    [ "$(count_win "$all_title")" -eq 0 ] && break
    geom "$srch"; click_in "$srch" $((WIDTH - 14)) 14; sleep 1
    x11_shot 1-08-close-$i
    xdotool key Return; sleep 1.5
done
check "the first search has one end event" "[[ '$(events_after $e0)' =~ ^1,[23]\$ ]]"
main_state=$(state "$main")
check "the search window is closed, the main window stays" \
    "[ \$(count_win '$all_title') -eq 0 ] && [ '$main_state' = Normal ]"

# The user search window.
click_in "$main" 548 391; sleep 2    # 사용자 검색
usr=$(first_win "$user_title")
x11_shot 1-09-user-search
check "the user search window is open" "[ -n '$usr' ]"
geom "$usr"; click_in "$usr" $((WIDTH - 52)) 14; sleep 1
x11_shot 1-10-user-both-minimised
check "minimising the user search window minimises the main window" \
    "[ '$(state "$usr")' = Iconic ] && [ '$(state "$main")' = Iconic ]"
xdotool windowactivate "$usr"; sleep 1.5
x11_shot 1-11-user-restored
check "restoring the user search window restores both" \
    "[ '$(state "$usr")' = Normal ] && [ '$(state "$main")' = Normal ]"
geom "$usr"; click_in "$usr" $((WIDTH - 14)) 14; sleep 1
x11_shot 1-12-user-closed
check "after the user search window closes the main window is on screen" "[ '$(state "$main")' = Normal ]"
# The log page's counts carry their details as tooltips in the program's look.
click_in "$main" 368 41; sleep 1       # 로그보기
geom "$main"; xdotool mousemove $((X + 320)) $((Y + 176)); sleep 0.3
xdotool mousemove $((X + 323)) $((Y + 177)); sleep 2
x11_shot 1-13-log-tooltip
# Leave with the main window's exit button.
geom "$main"; click_in "$main" $((WIDTH - 17)) 14
wait_end || { echo "FAIL the program did not end"; fail=1; kill -TERM $pid; wait $pid; }

# ---- 2. Alt+F4 during a search ---------------------------------------------
start_program 2
e0=$(last_event)
click_in "$main" 182 391; sleep 2
srch=$(first_win "$all_title")
xdotool windowactivate "$srch"; sleep 0.5
x11_shot 2-01-searching
xdotool key alt+F4; sleep 1
x11_shot 2-02-close-question
xdotool key Return; sleep 1
x11_shot 2-03-after-close
check "Alt+F4 ends the program" "wait_end"
check "Alt+F4: start and cancel event once" "[ '$(events_after $e0)' = 1,2 ]"
check "Alt+F4: one end-of-search totals row" \
    "[ \$(q \"select count(*) from SearchEventLog where EventID > $e0\") -eq 1 ]"

# ---- 3. Alt+F4 on the main window, the focus on the window itself -----------
start_program 3
# The mark a run leaves while it reads a document, set while the program
# runs (a mark left at start would bring the error report instead).
side=$(dirname "$conf")/registry.conf-lastcheckfile
left=/tmp/left-by-a-crash.hwp
printf 'PSV1 %d\n%s' ${#left} "$left" > "$side"
check "lastCheckFile seeded" "[ \"\$(x11_last_check_file)\" = '$left' ]"
click_in "$main" 365 250; sleep 0.5    # the window itself, no page control
x11_shot 3-01-main-focused
xdotool key alt+F4; sleep 1
x11_shot 3-02-after-close
check "Alt+F4 on the main window ends the program" "wait_end"
check "the exit steps cleared lastCheckFile" '[ -z "$(x11_last_check_file)" ]'

# ---- 4. SIGTERM (logging out) during a search ------------------------------
start_program 4
e0=$(last_event)
click_in "$main" 182 391; sleep 2
x11_shot 4-01-searching
kill -TERM $pid; sleep 1
x11_shot 4-02-after-sigterm
check "SIGTERM ends the program" "wait_end"
check "SIGTERM: start and cancel event once" "[ '$(events_after $e0)' = 1,2 ]"

x11_stop
q "select * from EventInfo" > "$out/events.tsv"
echo "screenshots and logs in $out"
exit $fail
