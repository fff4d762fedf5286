#!/bin/bash
# Drives the program under a virtual X server with openbox, the way a person
# would, on a desktop where no program opens anything (the opener answers
# "no method available"), and checks that every failed open is said:
#   1. a user search of a folder with readable PDFs and a damaged document:
#      the unread line names the day's error-file list in its tooltip and
#      opens it; the failed open is said in a message box;
#   2. 열기 in a result row's menu: said;
#   3. 문서 열기 in the hits window: said;
#   4. a tap (press and release in the same instant) on a window's caption
#      leaves no move going: the window stays when the pointer moves on; a
#      drag still moves it.
# Screenshots of each step go to OUTDIR. Needs Xvfb, openbox, xdotool,
# ImageMagick and sqlite3.
#   X11_DISPLAY=93 scripts/x11-opens.sh [OUTDIR]
set -u
here=$(cd "$(dirname "$0")/.." && pwd)
. "$here/scripts/x11-lib.sh"
out=${1:-/tmp/x11-opens}
rm -rf "$out"; mkdir -p "$out/home" "$out/bin"
out=$(cd "$out" && pwd -P)
docs=$out/docs
mkdir -p "$docs"
x11_text_pdfs "$docs" 3
# A package cut short: read in part or not at all, and listed.
printf 'PK\003\004\024\000\000\000\010\000' > "$docs/cut.docx"
# The desktop's opener, as on a desktop without a program for anything.
cat > "$out/bin/xdg-open" <<'SH'
#!/bin/sh
echo "$1" >> "$(dirname "$0")/../opened.log"
echo "xdg-open: no method available for opening '$1'" >&2
exit 3
SH
chmod +x "$out/bin/xdg-open"
export PATH=$out/bin:$PATH
export HOME=$out/home XDG_CONFIG_HOME=$out/home/.config XDG_DATA_HOME=$out/home/.local/share \
       XDG_RUNTIME_DIR=$out/home/run XDG_STATE_HOME=$out/home/state XDG_DOCUMENTS_DIR=$out/home/Documents
mkdir -p "$XDG_RUNTIME_DIR" "$XDG_DOCUMENTS_DIR"; chmod 700 "$XDG_RUNTIME_DIR"
db=$XDG_DATA_HOME/Norvane/Privasweep/Privasweep.db
fail=0
check() { if eval "$2"; then echo "ok   $1"; else echo "FAIL $1"; fail=1; fi; }
q() { sqlite3 -separator $'\t' "$db" "$1"; }
boxes() { x11_boxes | wc -l; }
opened() { [ -f "$out/opened.log" ] && wc -l < "$out/opened.log" || echo 0; }
wait_box() {  # waits at most $1 s for a message box
    local t=0
    while [ $t -lt $(($1 * 4)) ]; do [ "$(boxes)" -gt 0 ] && return 0; sleep 0.25; t=$((t + 1)); done
    return 1
}

x11_start "$out" || exit 1
x11_wm || exit 1
"$here/build/bin/privasweep" > "$out/app.log" 2>&1 &
pid=$!
sleep 3
x11_shot 01-main
main=$(xdotool getactivewindow)

# 4 first, on the main window: a tap on its caption, then the pointer moves.
eval "$(xdotool getwindowgeometry --shell "$main")"; mx=$X; my=$Y
xdotool mousemove $((mx + 300)) $((my + 12)) mousedown 1 mouseup 1
for s in 1 2 3 4 5; do xdotool mousemove $((mx + 300 + s * 40)) $((my + 12 + s * 30)); sleep 0.1; done
sleep 0.5
eval "$(xdotool getwindowgeometry --shell "$main")"
check "a tap on the caption leaves the window where it was ($X,$Y against $mx,$my)" "[ $X -eq $mx ] && [ $Y -eq $my ]"
xdotool mousemove $((mx + 300)) $((my + 12)) mousedown 1
for s in 1 2 3 4 5; do xdotool mousemove $((mx + 300 + s * 10)) $((my + 12 + s * 6)); sleep 0.1; done
xdotool mouseup 1; sleep 0.5
eval "$(xdotool getwindowgeometry --shell "$main")"
check "a drag moves it ($X,$Y from $mx,$my)" "[ $X -ne $mx ] || [ $Y -ne $my ]"
xdotool mousemove $((X + 600)) $((Y + 400)); sleep 0.5
eval "$(xdotool getwindowgeometry --shell "$main")"; ax=$X; ay=$Y
xdotool mousemove 5 5; sleep 0.5
eval "$(xdotool getwindowgeometry --shell "$main")"
check "the drag ended with its release ($X,$Y)" "[ $X -eq $ax ] && [ $Y -eq $ay ]"
x11_shot 02-after-drag

# 1. The search, its unread line and the failed open of the list.
x11_choose_folder "$docs"
x11_click_in 672 457
x11_wait_search_end 0 120 || echo "the search did not end"
sleep 1; x11_shot 03-search-done
xdotool key Return; sleep 1
sw=$(x11_search_window)
check "the search window is shown" "[ -n '$sw' ]"
xdotool windowactivate "$sw" 2>/dev/null; sleep 0.5
eval "$(xdotool getwindowgeometry --shell "$sw")"; sx=$X; sy=$Y
xdotool mousemove $((sx + 170)) $((sy + 137)); sleep 2
x11_shot 04-unread-line-tooltip
n0=$(opened)
xdotool click 1
check "the unread line's failed open is said" "wait_box 10"
check "the opener was asked for the error-file list" "[ \$(opened) -gt $n0 ] && tail -1 '$out/opened.log' | grep -q 'PrivasweepErr'"
x11_shot 05-list-open-failed
xdotool key Return; sleep 1
check "the box is gone" "[ \$(boxes) -eq 0 ]"

# 2. 열기 in the first document row's menu.
row=$((sy + 236))
n0=$(opened)
xdotool mousemove $((sx + 200)) $row click 3; sleep 1
x11_shot 06-row-menu
xdotool key Down Return
check "the row menu's failed open is said" "wait_box 10"
check "the opener was asked for the document" "[ \$(opened) -gt $n0 ] && tail -1 '$out/opened.log' | grep -q '\\.pdf'"
x11_shot 07-row-open-failed
xdotool key Return; sleep 1

# 3. 문서 열기 in the hits window.
xdotool mousemove $((sx + 200)) $row click --repeat 2 --delay 80 1; sleep 2
hw=$(xdotool getactivewindow)
eval "$(xdotool getwindowgeometry --shell "$hw")"
x11_shot 08-hits
n0=$(opened)
xdotool mousemove $((X + WIDTH / 2 - 45)) $((Y + HEIGHT - 18)) click 1
check "the hits window's failed open is said" "wait_box 10"
check "the opener was asked for the document" "[ \$(opened) -gt $n0 ]"
x11_shot 09-hits-open-failed
xdotool key Return; sleep 0.5
xdotool key Escape; sleep 0.5

kill $pid 2>/dev/null; wait $pid 2>/dev/null
x11_stop
[ $fail -eq 0 ] && echo "all checks passed" || echo "some checks failed"
exit $fail
