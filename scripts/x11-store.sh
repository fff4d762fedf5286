#!/bin/bash
# The event store failing as a person meets it, under a virtual X server:
# another process holds the event database locked (an exclusive transaction
# kept open) while a user search of 2,000 documents runs, and Stop is
# clicked during it. Checked: the search window keeps answering (moved off
# the screen and back, it paints itself again at once), the store's message
# appears at most once, the stop question comes up at once and the search
# has stopped within a few seconds of the answer; once the lock is released
# a new search is stored. Then:
#   - another process holds the write lock for about 8 s from just before a
#     user search of COUNT (default 240) one-hit text PDFs: the window keeps
#     answering, no store message comes (at most one box besides the
#     completion), and once the lock is gone every document row and the
#     search's start and end events are stored, in that order;
#   - the same search over other documents with the database file read-only
#     (bound read-only over itself, which holds even for the superuser)
#     takes about as long as with a writable database, the user is told
#     once, and once the file is writable again the next search in the same
#     window is stored.
# Screenshots of each step go to OUTDIR. Needs root (the read-only bind
# mount), Xvfb, openbox, xdotool, ImageMagick, bc, python3 and sqlite3.
#   scripts/x11-store.sh [OUTDIR] [COUNT]
set -u
here=$(cd "$(dirname "$0")/.." && pwd)
. "$here/scripts/x11-lib.sh"
out=${1:-/tmp/x11-store}
corpus=${CORPUS:-/work/shared/corpus/public}
count=${2:-240}
rm -rf "$out"; mkdir -p "$out/home" "$out/fix/many" "$out/fix/small" "$out/fix/locked" "$out/fix/writable" \
    "$out/fix/readonly"
out=$(cd "$out" && pwd -P)
export HOME=$out/home XDG_CONFIG_HOME=$out/home/.config XDG_DATA_HOME=$out/home/.local/share \
       XDG_RUNTIME_DIR=$out/home/run XDG_STATE_HOME=$out/home/state
mkdir -p "$XDG_RUNTIME_DIR"; chmod 700 "$XDG_RUNTIME_DIR"
db=$XDG_DATA_HOME/Norvane/Privasweep/Privasweep.db
fail=0
check() { if eval "$2"; then echo "ok   $1"; else echo "FAIL $1"; fail=1; fi; }
q() { sqlite3 -separator $'\t' "$db" "$1"; }

# 2,000 documents: the corpus's documents linked (copied across
# filesystems) again and again under new names, so that the search lasts
# far longer than the seconds before Stop.
find "$corpus" -type f \( -name '*.pdf' -o -name '*.doc*' -o -name '*.hwp' -o -name '*.xls*' -o -name '*.ppt*' \) \
    -size -400k | sort > "$out/corpus.txt"
[ -s "$out/corpus.txt" ] || { echo "no corpus documents in $corpus"; exit 1; }
n=0
while [ $n -lt 2000 ]; do
    while read -r f && [ $n -lt 2000 ]; do
        to=$out/fix/many/$(printf %04d $n)-${f##*/}
        ln "$f" "$to" 2>/dev/null || cp "$f" "$to"
        n=$((n + 1))
    done < "$out/corpus.txt"
done
# After the lock: 5 small text PDFs with a resident number each; for the
# later searches COUNT of them in each folder.
x11_text_pdfs "$out/fix/small" 5
for d in locked writable readonly; do x11_text_pdfs "$out/fix/$d" "$count"; done

pid=
holder=
rodb=
cleanup() {
    [ -n "$holder" ] && kill $holder 2>/dev/null
    [ -n "$pid" ] && kill -TERM $pid 2>/dev/null && wait $pid 2>/dev/null
    [ -n "$rodb" ] && umount -l "$rodb" 2>/dev/null
    x11_stop
}
trap cleanup EXIT
trap "exit 130" INT TERM

start_program() {
    "$here/build/bin/privasweep" >> "$out/app.log" 2>&1 &
    pid=$!
    sleep 3
}
now() { date +%s.%N; }
stop_program() {
    kill -TERM $pid; wait $pid 2>/dev/null; pid=
}
# Answers every message box as it comes, for at most $1 s or until $2
# boxes were answered; counts them in `seen`, shoots each as $3-N and notes
# in `lastbox` when the last one appeared.
answer_each() {
    seen=0; lastbox=
    local t=0 w
    while [ $t -lt $(($1 * 10)) ] && [ $seen -lt $2 ]; do
        w=$(x11_boxes | tail -1)
        if [ -n "$w" ]; then
            lastbox=$(now); seen=$((seen + 1))
            sleep 0.3; x11_shot "$3-$seen"
            xdotool windowactivate --sync "$w" key Return 2>/dev/null
            sleep 0.3
            continue
        fi
        sleep 0.1; t=$((t + 1))
    done
}
# Closes the search window and searches the folder $1 from the main window;
# sets t0 to the moment of the click.
search_folder() {
    [ -n "${searchwin:-}" ] && { xdotool windowactivate --sync "$searchwin"; x11_click_in 736 13; sleep 1; }
    x11_choose_folder "$1"
    t0=$(now)
    x11_click_in 672 457
    sleep 1
    searchwin=$(x11_search_window)
}
# Answers each message box that comes within $1 s; the boxes are counted
# in storeboxes and shot as $2-N.
answer_boxes() {
    local i w
    for i in $(seq $(($1 * 4))); do
        w=$(x11_boxes | tail -1)
        if [ -n "$w" ]; then
            storeboxes=$((storeboxes + 1)); sleep 0.3
            x11_shot "$2-$storeboxes"
            xdotool windowactivate --sync "$w" key Return 2>/dev/null; sleep 0.3
        fi
        sleep 0.25
    done
}
# Shoots the screen as NAME and cuts out the search window's status lines
# (the elapsed time and the document being read), which change every
# second while a search runs and stand still once it has ended.
status_shot() {
    local WINDOW=0 X=0 Y=0 WIDTH=0 HEIGHT=0 SCREEN=0
    eval "$(xdotool getwindowgeometry --shell "$searchwin" 2>/dev/null)"
    x11_shot "$1"
    convert "$out/$1.png" -crop "500x40+$((X + 130))+$((Y + 50))" +repage "$out/status-$1.png"
}
status_moved() {
    [ "$(compare -metric AE "$out/status-$1.png" "$out/status-$2.png" null: 2>&1 | cut -d' ' -f1)" != 0 ]
}
# Moves the search window wholly off the screen and back: a window that
# answers paints its area again (else the area stays as the screen was
# behind it). Sets repaint to the seconds that took, empty when not within
# $1 s. The window's pictures before and after are compared; the share of
# pixels that differ must stay under 10 %.
probe() {
    local WINDOW=0 X=0 Y=0 WIDTH=0 HEIGHT=0 SCREEN=0 i t0 d x0 y0
    eval "$(xdotool getwindowgeometry --shell "$searchwin" 2>/dev/null)"
    x0=$X; y0=$Y
    x11_shot probe-before
    convert "$out/probe-before.png" -crop "${WIDTH}x$HEIGHT+$X+$Y" +repage "$out/probe-a.png"
    xdotool windowmove "$searchwin" 1400 900; sleep 0.3
    t0=$(now)
    xdotool windowmove "$searchwin" $x0 $y0
    repaint=
    for i in $(seq $(($1 * 5))); do
        sleep 0.2
        eval "$(xdotool getwindowgeometry --shell "$searchwin" 2>/dev/null)"
        x11_shot probe-back
        convert "$out/probe-back.png" -crop "${WIDTH}x$HEIGHT+$X+$Y" +repage "$out/probe-b.png"
        d=$(compare -metric AE "$out/probe-a.png" "$out/probe-b.png" null: 2>&1 |
            awk -v a=$((WIDTH * HEIGHT)) '{ printf "%d", 100 * $1 / a }')
        if [ "${d:-100}" -lt 10 ]; then repaint=$(echo "$(now) - $t0" | bc); return 0; fi
    done
    return 1
}

x11_start "$out" || exit 1
x11_wm || exit 1
start_program
x11_shot 01-main
events0=$(q "select count(*) from EventInfo")

# Locked by another process for two minutes.
(echo "BEGIN EXCLUSIVE; INSERT INTO EventInfo (Type) VALUES (99);"; sleep 120) | sqlite3 "$db" &
holder=$!
sleep 1
x11_choose_folder "$out/fix/many"
x11_click_in 672 457
sleep 1
searchwin=$(x11_search_window)
storeboxes=0
# The first seconds of the locked search: the store's message is answered.
answer_boxes 6 02-locked-store-message
status_shot 03-locked-searching
sleep 1.5
status_shot 03-locked-searching-later
check "the search runs (its status lines move)" "status_moved 03-locked-searching 03-locked-searching-later"
probe 2
echo "locked search: painted again ${repaint:-never} s after being moved back"
check "the window answers during the locked search" "[ -n '$repaint' ]"
x11_shot 04-locked-moved-back

# Stop.
xdotool windowactivate --sync "$searchwin"
t1=$(now)
x11_click_in 670 101
question=
for i in $(seq 50); do question=$(x11_boxes | tail -1); [ -n "$question" ] && break; sleep 0.1; done
t2=$(now)
x11_shot 05-locked-stop-question
echo "stop question after $(echo "$t2 - $t1" | bc) s"
check "the stop question comes up within 2 s" "[ -n '$question' ] && [ \$(echo '$t2 - $t1 < 2' | bc) -eq 1 ]"
xdotool windowactivate --sync "$question" key Return
t3=$(now)
# Stopped: the status lines stand still (taken 1.2 s apart).
stopped=
for i in $(seq 8); do
    t=$(now)
    status_shot stop-a; sleep 1.2; status_shot stop-b
    status_moved stop-a stop-b || { stopped=$(echo "$t - $t3" | bc); break; }
done
echo "status lines still from ${stopped:-never (10 s)} s after the answer"
check "the search stops within 5 s of the answer" "[ -n '$stopped' ] && [ \$(echo '$stopped < 5' | bc) -eq 1 ]"
# What may come next: the store's message if it was not shown yet.
answer_boxes 4 06-locked-after-stop
x11_shot 07-locked-stopped
probe 2
echo "after the stop: painted again ${repaint:-never} s after being moved back"
check "the window answers after the stop" "[ -n '$repaint' ]"
echo "store messages over the locked search: $storeboxes"
check "the store's message appears at most once ($storeboxes)" "[ $storeboxes -le 1 ]"
check "the program still runs" "kill -0 $pid"

# The lock released: a new search in a new window is stored.
kill $holder 2>/dev/null; wait $holder 2>/dev/null; holder=
sleep 1
events1=$(q "select count(*) from EventInfo")
echo "events after the lock: $events1 ($events0 before the locked search)"
xdotool windowactivate --sync "$searchwin"
x11_click_in 736 13; sleep 1
x11_choose_folder "$out/fix/small"
x11_click_in 672 457
x11_wait_search_end "$events1" 60 || echo "the search after the lock did not end"
x11_shot 08-unlocked-done
xdotool key Return; sleep 0.5
x11_shot 09-unlocked-results
check "the search after the lock is stored (5 documents with a hit)" \
    "[ \$(q 'select count(*) from FileInfo where ID > 0') -ge 5 ]"
check "its start and end events are stored" "[ \$(q 'select count(*) from EventInfo') -ge $((events1 + 2)) ]"
check "the program still runs" "kill -0 $pid"

# ---- Locked for about 8 s from just before a search.
events0=$(q "select coalesce(max(EventID), 0) from EventInfo")
files0=$(q "select count(*) from FileInfo")
xdotool windowactivate --sync "$searchwin"; x11_click_in 736 13; sleep 1
x11_choose_folder "$out/fix/locked"
(echo "BEGIN IMMEDIATE; INSERT INTO EventInfo (Type) VALUES (99);"; sleep 8; echo "ROLLBACK;") | sqlite3 "$db" &
holder=$!
sleep 0.5
tlock=$(now)
x11_click_in 672 457
sleep 1
searchwin=$(x11_search_window)
probe 2
echo "locked: painted again ${repaint:-never} s after being moved back"
check "the window answers while the database is locked" "[ -n '$repaint' ]"
x11_shot 12-locked-searching
stillheld=$(echo "$(now) - $tlock < 7" | bc)
check "the probe ran while the lock was still held" "[ $stillheld -eq 1 ]"
# The completion message (and at most one store message) within 60 s.
answer_each 60 1 13-locked-box
wait $holder; holder=
answer_each 3 1 14-locked-more
extra=$seen
echo "boxes after the first: $extra"
check "no store message for a lock shorter than the store's wait (at most one box besides the completion)" \
    "[ $extra -le 1 ]"
sleep 1
x11_shot 15-locked-done
stored=$(q "select count(*) from FileInfo")
echo "rows stored: $((stored - files0)) of $count"
check "every document's row is stored" "[ $((stored - files0)) -eq $count ]"
order=$(q "select group_concat(Type, ',') from (select Type from EventInfo where EventID > $events0 order by EventID)")
echo "events after the lock: $order"
check "the search's start and end events are stored, in order" "[ '$order' = '4,6' ]"
check "its totals stand under its end event" \
    "[ \"\$(q 'select ID from SearchEventLog where EventID = (select max(EventID) from EventInfo)')\" = $count ]"
check "the program still runs" "kill -0 $pid"

# ---- Writable, then read-only: the same search's time.
search_folder "$out/fix/writable"
answer_each 120 1 16-writable-box
t_rw=$(echo "${lastbox:-$(now)} - $t0" | bc)
echo "writable database: $count documents in $t_rw s (until the completion message)"
check "the writable search stored its rows" "[ \$(q 'select count(*) from FileInfo') -eq $((stored + count)) ]"
stop_program
rodb=$db
mount --bind "$db" "$db" && mount -o remount,bind,ro "$db" || { echo "FAIL no read-only bind mount"; exit 1; }
files1=$(q "select count(*) from FileInfo")
events1=$(q "select count(*) from EventInfo")
start_program
searchwin=
search_folder "$out/fix/readonly"
# The store's message and the completion message.
answer_each 180 2 17-readonly-box
t_ro=$(echo "${lastbox:-$(now)} - $t0" | bc)
echo "read-only database: $count documents in $t_ro s, $seen message boxes"
check "the read-only search takes about as long as the writable one ($t_ro s against $t_rw s)" \
    "[ \$(echo '$t_ro < 2 * $t_rw + 5' | bc) -eq 1 ]"
check "the user is told once (2 boxes: the store's and the completion)" "[ $seen -eq 2 ]"
answer_each 2 1 18-readonly-more
check "no further message" "[ $seen -eq 0 ]"
check "nothing was stored in the read-only file" \
    "[ \$(q 'select count(*) from FileInfo') -eq $files1 ] && [ \$(q 'select count(*) from EventInfo') -eq $events1 ]"
x11_shot 19-readonly-results

# The file writable again: the same window's next search is stored.
umount -l "$rodb"; rodb=
xdotool windowactivate --sync "$searchwin"
x11_click_in 670 101
answer_each 120 1 20-again-box
sleep 1
x11_shot 21-again-results
check "the search after the file became writable is stored ($count rows)" \
    "[ \$(q 'select count(*) from FileInfo') -eq $((files1 + count)) ]"
check "its start and end events are stored" "[ \$(q 'select count(*) from EventInfo') -ge $((events1 + 2)) ]"
check "the program still runs" "kill -0 $pid"
exit $fail
