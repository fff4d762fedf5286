#!/bin/bash
# Drives two document actions under a virtual X server with openbox, the way
# a person would, with the program running as an unprivileged user (so that
# a folder's permissions hold), and checks the files and the event database:
#   1. a user search of a folder of two PDFs;
#   2. the searched folder replaced by a link to another folder holding a
#      file of the same name, then the first document deleted: the other
#      folder's file stays, the searched document stays where it went, the
#      window says it was not handled and why, and no row counts it deleted;
#   3. the folder put back and made read-only, then the first document
#      encrypted: the archive cannot be written, the document stays, the
#      window's heading says nothing was handled, with the reason;
#   4. the program closed.
# Screenshots of each step go to OUTDIR. Needs Xvfb, openbox, xdotool,
# ImageMagick, sqlite3 and setpriv.
#   X11_DISPLAY=93 scripts/x11-action-identity.sh [OUTDIR]
set -u
here=$(cd "$(dirname "$0")/.." && pwd)
. "$here/scripts/x11-lib.sh"
out=${1:-/tmp/x11-action-identity}
rm -rf "$out"; mkdir -p "$out/home"
out=$(cd "$out" && pwd -P)
work=$out/work
docs=$work/docs other=$work/other moved=$work/docs.moved
mkdir -p "$docs" "$other"
x11_text_pdfs "$docs" 2
printf 'unrelated\n' > "$other/doc00.pdf"
searched_sum=$(sha256sum < "$docs/doc00.pdf")
export HOME=$out/home XDG_CONFIG_HOME=$out/home/.config XDG_DATA_HOME=$out/home/.local/share \
       XDG_RUNTIME_DIR=$out/home/run XDG_STATE_HOME=$out/home/state
mkdir -p "$XDG_RUNTIME_DIR"; chmod 700 "$XDG_RUNTIME_DIR"
# The program runs as this user; the script (which may be root) arranges the files.
user=${X11_USER:-65534}
[ "$(id -u)" = 0 ] && chown -R "$user:$user" "$out"
as_user() { if [ "$(id -u)" = 0 ]; then setpriv --reuid="$user" --regid="$user" --clear-groups "$@"; else "$@"; fi; }
db=$XDG_DATA_HOME/Norvane/Privasweep/Privasweep.db
fail=0
check() { if eval "$2"; then echo "ok   $1"; else echo "FAIL $1"; fail=1; fi; }
q() { sqlite3 -separator $'\t' "$db" "$1"; }
wait_type() {  # waits at most $2 s for an event of type $1
    local t=0
    while [ $t -lt $2 ]; do
        [ "$(q "select count(*) from EventInfo where Type = $1")" -gt 0 ] 2>/dev/null && { sleep 1; return 0; }
        sleep 1; t=$((t + 1))
    done
    return 1
}
# Result rows of the All tab: check boxes 20 px from the window's left, the
# first document row 236 px below its top.
row_y() { echo $((236 + 21 * ($1 - 1))); }

x11_start "$out" || exit 1
x11_wm || exit 1
as_user "$here/build/bin/privasweep" > "$out/app.log" 2>&1 &
pid=$!
sleep 3
x11_shot 01-main

# 1. Search.
x11_choose_folder "$docs"
x11_click_in 672 457
wait_type 6 120 || echo "the search did not end"
xdotool key Return; sleep 1
x11_shot 02-results
check "the search found both documents" "[ \$(q 'select count(*) from FileInfo') -eq 2 ]"

# 2. The folder swapped for a link to another folder, then a delete.
mv "$docs" "$moved"
ln -s "$other" "$docs"
x11_click_in 20 "$(row_y 1)"; sleep 0.3
x11_shot 03-ticked
x11_click_in 614 477; sleep 1
x11_shot 04-delete-question
xdotool key Return; sleep 2
x11_shot 05-delete-not-handled
check "the other folder's file stays" "[ \"\$(cat '$other/doc00.pdf')\" = unrelated ]"
check "the searched document stays where its folder went" "[ \"\$(sha256sum < '$moved/doc00.pdf')\" = '$searched_sum' ]"
check "one delete run, no row counts a document deleted" \
    "[ \$(q 'select count(*) from EventInfo where Type = 12288') -eq 1 ] && [ \$(q 'select count(*) from FileEventLog') -eq 0 ]"
xdotool key Return; sleep 1
x11_shot 06-after-delete

# 3. The folder back, read-only, then an encryption that cannot write its archive.
rm "$docs"; mv "$moved" "$docs"
chmod 555 "$docs"
x11_shot 07-before-encrypt
x11_click_in 529 477; sleep 1.5
x11_shot 08-password
pw=$(xdotool getactivewindow)
eval "$(xdotool getwindowgeometry --shell "$pw")"; px=$X; py=$Y
xdotool mousemove $((px + 100 + 20)) $((py + 130 + 9)) click 1; sleep 0.3
xdotool type --delay 50 "x11-secret"; xdotool key Tab; xdotool type --delay 50 "x11-secret"; sleep 0.5
xdotool key Return; sleep 3
x11_shot 09-encrypt-not-handled
check "no archive in the read-only folder" "! ls '$docs'/*.zip > /dev/null 2>&1 && ! ls -a '$docs' | grep -q '\.tmp\$'"
check "the document stays" "[ \"\$(sha256sum < '$docs/doc00.pdf')\" = '$searched_sum' ]"
check "one encrypt run, no row counts a document encrypted" \
    "[ \$(q 'select count(*) from EventInfo where Type = 1280') -eq 1 ] && [ \$(q 'select count(*) from FileEventLog') -eq 0 ]"
xdotool key Return; sleep 1
chmod 755 "$docs"

# 4. Quit.
x11_click_in 736 13; sleep 1
x11_click_in 714 14
for i in $(seq 20); do kill -0 $pid 2>/dev/null || break; sleep 0.5; done
if kill -0 $pid 2>/dev/null; then echo "FAIL the program did not end"; fail=1; kill -TERM $pid; fi
wait $pid; echo "program exit status $?"
x11_stop
q "select EventID, Type from EventInfo" > "$out/events.tsv"
echo "screenshots and logs in $out"
exit $fail
