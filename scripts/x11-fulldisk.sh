#!/bin/bash
# The event database on a full disk during a user search, as a person meets
# it, under a virtual X server. The program's data folder (the event
# database) and its documents folder (the day's error-file list) lie on a
# small filesystem of their own, which is filled before the search:
#   - the user is told once that the events were not stored, the search
#     ends and its results stay on screen (unread documents counted, with
#     the lines the list could not take);
#   - space freed, a second search in the same window is stored again (the
#     connection is kept through the full disk), and the error-file list
#     holds one line per unread document of that search.
# The small filesystem is a tmpfs (or, failing that, a loop-mounted ext4
# image); where mounting is not allowed the script says SKIP and ends with 0.
# Nothing stays mounted after it. Screenshots go to OUTDIR. Needs root for
# the mount, Xvfb, openbox, xdotool, ImageMagick, python3 and sqlite3.
#   scripts/x11-fulldisk.sh [OUTDIR]
set -u
here=$(cd "$(dirname "$0")/.." && pwd)
. "$here/scripts/x11-lib.sh"
out=${1:-/tmp/x11-fulldisk}
mkdir -p "$out"
out=$(cd "$out" && pwd -P)
small=$out/small
mountpoint -q "$small" 2>/dev/null && umount "$small"
rm -rf "$out"; mkdir -p "$out/home" "$out/fix/docs" "$small"

mounted=
if mount -t tmpfs -o size=4m,mode=0755 tmpfs "$small" 2> "$out/mount.log"; then
    mounted=tmpfs
elif command -v mkfs.ext4 > /dev/null && truncate -s 8m "$out/small.img" &&
     mkfs.ext4 -q -F -m 0 "$out/small.img" >> "$out/mount.log" 2>&1 &&
     mount -o loop "$out/small.img" "$small" >> "$out/mount.log" 2>&1; then
    mounted=ext4
fi
if [ -z "$mounted" ]; then
    rm -f "$out/small.img"
    echo "SKIP full disk: no small filesystem can be mounted here ($(head -1 "$out/mount.log"))"
    exit 0
fi
echo "small filesystem: $mounted at $small"

pid=
cleanup() {
    [ -n "$pid" ] && kill -TERM $pid 2>/dev/null && wait $pid 2>/dev/null
    x11_stop
    umount "$small" 2>/dev/null || { sleep 1; umount -l "$small"; }
}
trap cleanup EXIT
trap "exit 130" INT TERM

export HOME=$out/home XDG_CONFIG_HOME=$out/home/.config XDG_DATA_HOME=$small/share \
       XDG_DOCUMENTS_DIR=$small/Documents XDG_RUNTIME_DIR=$out/home/run XDG_STATE_HOME=$out/home/state
mkdir -p "$XDG_RUNTIME_DIR" "$XDG_DOCUMENTS_DIR"; chmod 700 "$XDG_RUNTIME_DIR"
db=$XDG_DATA_HOME/Norvane/Privasweep/Privasweep.db
fail=0
check() { if eval "$2"; then echo "ok   $1"; else echo "FAIL $1"; fail=1; fi; }
q() { sqlite3 -separator $'\t' "$db" "$1"; }
# Documents: 30 text PDFs with a resident number each, and 3 Word files
# that are no Word files (unread, listed with their reason).
x11_text_pdfs "$out/fix/docs" 30
for n in 0 1 2; do
    printf 'PK\003\004%026dnot a document' 0 > "$out/fix/docs/broken$n.docx"
done

# Answers every message box as it comes (the one on top first), for at
# most $1 s or until $2 boxes were answered; the boxes seen are counted in
# $seen and the screen is shot as $3-box-N before each answer.
answer_boxes() {
    seen=0
    local t=0 w
    while [ $t -lt $(($1 * 4)) ] && [ $seen -lt $2 ]; do
        w=$(x11_boxes | tail -1)
        if [ -n "$w" ]; then
            seen=$((seen + 1))
            sleep 0.3
            x11_shot "$3-box-$seen"
            xdotool windowactivate --sync "$w" key Return 2>/dev/null
            sleep 0.5
            continue
        fi
        sleep 0.25; t=$((t + 1))
    done
}
errlist() { cat "$XDG_DOCUMENTS_DIR"/Privasweep/PrivasweepErrorFile/*/PrivasweepErrFileList.txt 2>/dev/null; }

x11_start "$out" || exit 1
x11_wm || exit 1
"$here/build/bin/privasweep" >> "$out/app.log" 2>&1 &
pid=$!
sleep 3
x11_shot 01-main
check "the database is on the small filesystem" "[ -s '$db' ] && [ \"\$(stat -c %m '$db')\" = '$small' ]"
events0=$(q "select count(*) from EventInfo")
files0=$(q "select count(*) from FileInfo")

x11_choose_folder "$out/fix/docs"
# The disk fills up (whatever SQLite or the list would need next).
dd if=/dev/zero of="$small/filler" bs=64k > /dev/null 2>&1
dd if=/dev/zero of="$small/filler2" bs=1k > /dev/null 2>&1
echo "free on the small filesystem: $(df --output=avail -B1 "$small" | tail -1) bytes"
x11_click_in 672 457
sleep 1
searchwin=$(x11_search_window)
# The store's message and the completion message: two boxes, no more.
answer_boxes 20 3 02-full
sleep 1
x11_shot 03-full-results
echo "message boxes during the full-disk search: $seen"
check "the user is told once, then the search completes (2 boxes, $seen seen)" "[ $seen -eq 2 ]"
check "the program still runs" "kill -0 $pid"
check "no document row was stored on the full disk" "[ \$(q 'select count(*) from FileInfo') -eq $files0 ]"
lines_full=$(errlist | grep -c $'\r$')
echo "error-file list lines after the full-disk search: $lines_full"
check "no partial line in the error-file list" "[ \$(errlist | tr -cd '\n' | wc -c) -eq $lines_full ] && [ -z \"\$(errlist | tail -c 1 | tr -d '\n')\" ]"

# Space comes back; the same window searches again.
rm -f "$small/filler" "$small/filler2"
xdotool windowactivate --sync "$searchwin"
x11_click_in 670 101
x11_wait_search_end "$events0" 60 || echo "the second search did not end"
answer_boxes 5 1 04-after
sleep 0.5
x11_shot 05-after-results
check "the second search stored its documents (30 with a hit)" \
    "[ \$(q 'select count(*) from FileInfo where ID > 0') -ge 30 ]"
check "its end event carries the totals" \
    "[ \"\$(q 'select ID from SearchEventLog order by EventID desc limit 1')\" = 30 ]"
lines=$(errlist | grep -c $'\r$')
check "the error-file list holds the 3 unread documents of the second search ($lines lines in all)" \
    "[ \$(errlist | grep -c 'broken') -eq $((lines_full + 3)) ] && [ $lines -eq $((lines_full + 3)) ]"
echo "messages seen after space came back: $seen"
check "no store message once space is back" "[ $seen -le 1 ]"
q "select EventID, Type from EventInfo order by EventID" > "$out/events.txt"
errlist > "$out/errlist.txt"
exit $fail
