#!/bin/bash
# Drives the document actions under a virtual X server with openbox, the way
# a person would, and checks the files and the event database:
#   1. a user search of a copy of FOLDER (default: the PII corpus);
#   2. two documents ticked with the mouse and deleted (the question
#      answered with Enter): files gone, rows gone, events 0x1000 and 0x3000;
#   3. two documents ticked and encrypted (the algorithm list opened five
#      times at its combo box, ZIP 2.0 and AES-256 chosen without the window
#      moving; the password typed twice, AES-256):
#      NAME.zip beside each, the originals gone, 7z opens them with the
#      password only, events 0x100 and 0x500;
#   4. a large document appended to while its archive is verified (a new
#      search of a folder holding only it): the document keeps its new bytes,
#      its archive stays beside it with the bytes read, the encrypt window
#      says why the document was not handled, and no row counts it encrypted;
#   5. the program closed.
# Screenshots of each step go to OUTDIR. Needs Xvfb, openbox, xdotool,
# ImageMagick, sqlite3 and 7z.
#   X11_DISPLAY=92 scripts/x11-document-actions.sh [OUTDIR] [FOLDER]
set -u
here=$(cd "$(dirname "$0")/.." && pwd)
. "$here/scripts/x11-lib.sh"
out=${1:-/tmp/x11-document-actions}
source=${2:-$(cd "$here/../shared/corpus/pii" && pwd -P)}
rm -rf "$out"; mkdir -p "$out/home"
out=$(cd "$out" && pwd -P)
docs=$out/docs
mkdir -p "$docs"
cp "$source"/*.pdf "$source"/*.hwp "$docs"/ 2>/dev/null
export HOME=$out/home XDG_CONFIG_HOME=$out/home/.config XDG_DATA_HOME=$out/home/.local/share \
       XDG_RUNTIME_DIR=$out/home/run XDG_STATE_HOME=$out/home/state
mkdir -p "$XDG_RUNTIME_DIR"; chmod 700 "$XDG_RUNTIME_DIR"
db=$XDG_DATA_HOME/Norvane/Privasweep/Privasweep.db
fail=0
check() { if eval "$2"; then echo "ok   $1"; else echo "FAIL $1"; fail=1; fi; }
q() { sqlite3 -separator $'\t' "$db" "$1"; }

x11_start "$out" || exit 1
openbox > "$out/openbox.log" 2>&1 &
wm=$!
sleep 1
"$here/build/bin/privasweep" > "$out/app.log" 2>&1 &
pid=$!
sleep 3
x11_shot 01-main

# Clicks at (X, Y) inside the program's window on top (the action
# windows and message boxes are placed by the window manager).
click_in() { x11_click_in "$@"; }
# Opens the user search window from the main window and checks DIR in the
# folder tree with the keyboard, then starts the search.
search() {
    x11_choose_folder "$1"
    x11_shot 02-chosen
    click_in 672 457
}
wait_type() {  # waits at most $2 s for an event of type $1
    local t=0
    while [ $t -lt $2 ]; do
        [ "$(q "select count(*) from EventInfo where Type = $1")" -gt 0 ] 2>/dev/null && { sleep 1; return 0; }
        sleep 1; t=$((t + 1))
    done
    return 1
}

search "$docs"
wait_type 6 300 || echo "the search did not end"
x11_shot 03-search-done
xdotool key Return; sleep 1
x11_shot 04-results
check "the search found the documents" "[ \$(q 'select count(*) from FileInfo') -gt 4 ]"

# Result rows of the All tab: check boxes 20 px from the window's left,
# the first document row 236 px below its top, 21 px per row.
row_y() { echo $((236 + 21 * ($1 - 1))); }
before=$(ls "$docs" | wc -l)

# 2. Delete two documents.
click_in 20 "$(row_y 1)"; sleep 0.3
click_in 20 "$(row_y 2)"; sleep 0.3
x11_shot 05-ticked-for-delete
click_in 614 477; sleep 1
x11_shot 06-delete-question
xdotool key Return; sleep 2
x11_shot 07-delete-finished
xdotool key Return; sleep 1
x11_shot 08-after-delete
check "two documents deleted" "[ \$(ls '$docs' | wc -l) -eq $((before - 2)) ]"
check "delete events 0x1000 and 0x3000" "[ \"\$(q 'select group_concat(Type) from EventInfo where Type in (4096, 12288)')\" = 4096,12288 ]"
check "two FileEventLog rows of the deletion" \
    "[ \$(q 'select count(*) from FileEventLog where EventID = (select EventID from EventInfo where Type = 12288)') -eq 2 ]"

# 3. Encrypt two documents with AES-256, the password typed twice.
click_in 20 "$(row_y 1)"; sleep 0.3
click_in 20 "$(row_y 2)"; sleep 0.3
x11_shot 09-ticked-for-encrypt
click_in 529 477; sleep 1.5
# The algorithm list opens at its combo box (150, 235), five times in a row;
# choosing ZIP 2.0 (the window grows shorter) and AES-256 again never moves
# the window.
pw=$(xdotool getactivewindow)
eval "$(xdotool getwindowgeometry --shell "$pw")"; px=$X; py=$Y
for n in 1 2 3 4 5; do
    xdotool mousemove $((px + 150 + 40)) $((py + 235 + 8)) click 1; sleep 0.7
    [ $n = 1 ] && x11_shot 09a-algorithm-list
    # The list is a popup of its own (never the active window): the small
    # visible window that is not the combo's window.
    read -r lx ly < <(xdotool search --onlyvisible --classname '' 2>/dev/null | while read -r w; do
        eval "$(xdotool getwindowgeometry --shell "$w" 2>/dev/null)"
        [ "$WIDTH" -lt 200 ] && [ "$HEIGHT" -ge 40 ] && [ "$HEIGHT" -lt 150 ] && echo "$X $Y"; done | head -1)
    check "the algorithm list opens at its combo box ($n: list at ${lx:-?},${ly:-?}, window at $px,$py)" \
        "[ -n '${lx:-}' ] && [ $((${lx:-0} - px)) -ge 140 ] && [ $((${lx:-0} - px)) -le 160 ] && [ $((${ly:-0} - py)) -ge 150 ] && [ $((${ly:-0} - py)) -le 270 ]"
    if [ $n = 3 ]; then xdotool key Home Return; else xdotool key Escape; fi; sleep 0.7
    eval "$(xdotool getwindowgeometry --shell "$pw")"
    check "the password window stays where it is ($n: $X,$Y)" "[ $X -eq $px ] && [ $Y -eq $py ]"
done
x11_shot 09b-zip20
xdotool mousemove $((px + 150 + 40)) $((py + 235 + 8)) click 1; sleep 0.7
xdotool key End Return; sleep 0.7
eval "$(xdotool getwindowgeometry --shell "$pw")"
check "AES-256 chosen again, the window stays ($X,$Y)" "[ $X -eq $px ] && [ $Y -eq $py ]"
xdotool mousemove $((px + 100 + 20)) $((py + 130 + 9)) click 1; sleep 0.3
xdotool type --delay 50 "x11-secret"; xdotool key Tab; xdotool type --delay 50 "x11-secret"; sleep 0.5
x11_shot 10-password
xdotool key Return; sleep 4
x11_shot 11-encrypt-finished
xdotool key Return; sleep 1
x11_shot 12-after-encrypt
zips=$(ls "$docs"/*.zip 2>/dev/null | wc -l)
check "two archives beside the documents" "[ $zips -eq 2 ]"
check "the originals of the archives are gone" \
    "for z in '$docs'/*.zip; do [ ! -e \"\${z%.zip}\" ] || exit 1; done"
check "7z opens each archive with the password" \
    "for z in '$docs'/*.zip; do 7z t -px11-secret \"\$z\" > /dev/null 2>&1 || exit 1; done"
check "7z refuses each archive without it" \
    "for z in '$docs'/*.zip; do ! 7z t -pwrong \"\$z\" > /dev/null 2>&1 < /dev/null || exit 1; done"
check "extracted bytes equal the originals" \
    "for z in '$docs'/*.zip; do n=\$(basename \"\${z%.zip}\"); rm -rf '$out/x'; 7z x -y -px11-secret -o'$out/x' \"\$z\" > /dev/null 2>&1 && cmp -s '$out/x/'\"\$n\" '$source/'\"\$n\" || exit 1; done"
check "encrypt events 0x100 and 0x500" "[ \"\$(q 'select group_concat(Type) from EventInfo where Type in (256, 1280)')\" = 256,1280 ]"

# The manager's close (Alt+F4) on the password window cancels the encryption.
click_in 20 "$(row_y 1)"; sleep 0.3
click_in 529 477; sleep 1.5
x11_shot 13-password-again
xdotool key alt+F4; sleep 1
x11_shot 14-password-closed
check "a closed password window encrypts nothing" "[ \$(ls '$docs'/*.zip | wc -l) -eq 2 ] && [ \$(q 'select count(*) from EventInfo where Type = 256') -eq 1 ]"
click_in 20 "$(row_y 1)"; sleep 0.3

# 3b. Two documents deleted from the PDF tab leave the All tab too; a
# document removed behind the program's back is not handled when deleted
# (the window says why) and logs no row, and its row goes as well.
tab_x() { echo $((10 + 120 * $1 + 60)); }
pdfs_before=$(ls "$docs"/*.pdf | wc -l)
delete_rows_before=$(q 'select count(*) from FileEventLog where EventID in (select EventID from EventInfo where Type = 12288)')
click_in "$(tab_x 5)" 167; sleep 0.5
x11_shot 15a-pdf-tab
click_in 20 "$(row_y 1)"; sleep 0.3
click_in 20 "$(row_y 2)"; sleep 0.3
click_in 614 477; sleep 1
xdotool key Return; sleep 2
x11_shot 15b-pdf-delete-finished
xdotool key Return; sleep 1
x11_shot 15c-pdf-tab-after
click_in "$(tab_x 0)" 167; sleep 0.5
x11_shot 15d-all-tab-after
check "two PDFs deleted from the PDF tab" "[ \$(ls '$docs'/*.pdf | wc -l) -eq $((pdfs_before - 2)) ]"
# Every document left is removed behind the program's back; the first row of
# the All tab is then deleted in the program.
rm -f "$docs"/*.pdf "$docs"/*.hwp
click_in 20 "$(row_y 1)"; sleep 0.3
click_in 614 477; sleep 1
xdotool key Return; sleep 2
x11_shot 15e-vanished-delete-finished
xdotool key Return; sleep 1
x11_shot 15f-all-tab-after-vanished
check "a vanished document logs no delete row" \
    "[ \$(q 'select count(*) from FileEventLog where EventID in (select EventID from EventInfo where Type = 12288)') -eq $((delete_rows_before + 2)) ]"

click_in 736 13; sleep 1
x11_shot 15-main-again

# 4. A large document (LARGE_MB, default 300) appended to once its archive is
# written whole, while the archive is read back: a PDF with a resident
# number whose bulk is one unreferenced stream of random bytes.
large=$out/large
mkdir -p "$large"
python3 - "$large/large.pdf" "${LARGE_MB:-300}" <<'PY'
import os, sys
path, mb = sys.argv[1], int(sys.argv[2])
text = b"BT /F1 14 Tf 72 720 Td (ID 800101-1234560) Tj ET"
objs = [b"<< /Type /Catalog /Pages 2 0 R >>",
        b"<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
        b"<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Contents 4 0 R"
        b" /Resources << /Font << /F1 << /Type /Font /Subtype /Type1 /BaseFont /Helvetica >> >> >> >>",
        b"<< /Length %d >>\nstream\n" % len(text) + text + b"\nendstream"]
with open(path, "wb") as f:
    f.write(b"%PDF-1.4\n")
    offsets = []
    for i, body in enumerate(objs, 1):
        offsets.append(f.tell())
        f.write(b"%d 0 obj\n" % i + body + b"\nendobj\n")
    offsets.append(f.tell())
    size = mb << 20
    f.write(b"5 0 obj\n<< /Length %d >>\nstream\n" % size)
    for _ in range(mb):
        f.write(os.urandom(1 << 20))
    f.write(b"\nendstream\nendobj\n")
    xref = f.tell()
    f.write(b"xref\n0 6\n0000000000 65535 f \n")
    for o in offsets:
        f.write(b"%010d 00000 n \n" % o)
    f.write(b"trailer\n<< /Size 6 /Root 1 0 R >>\nstartxref\n%d\n%%%%EOF\n" % xref)
PY
large_sum=$(sha256sum < "$large/large.pdf")
large_size=$(stat -c %s "$large/large.pdf")
events=$(q 'select count(*) from EventInfo')
search "$large"
x11_wait_search_end "$events" 300 || echo "the search of the large document did not end"
xdotool key Return; sleep 1
x11_shot 16-large-found
click_in 20 "$(row_y 1)"; sleep 0.3
click_in 529 477; sleep 1.5
xdotool type --delay 50 "x11-secret"; xdotool key Tab; xdotool type --delay 50 "x11-secret"; sleep 0.5
# Appends once the temporary archive holds as many bytes as the document
# (random bytes do not shrink): the document has been read to its end.
(
    for i in $(seq 1200); do
        for t in "$large"/.large.pdf.zip.*.tmp; do
            [ -e "$t" ] && [ "$(stat -c %s "$t" 2>/dev/null || echo 0)" -ge "$large_size" ] && {
                printf '%% appended while the archive was verified\n' >> "$large/large.pdf"
                echo "appended at $(date +%T.%N)" > "$out/appended.log"
                exit 0
            }
        done
        sleep 0.05
    done
) &
appender=$!
xdotool key Return
wait $appender
x11_wait_search_end "$((events + 3))" 300 > /dev/null  # the search (2 events), then the encrypt run ends
sleep 1
x11_shot 17-large-encrypt-finished
check "the document was appended to during the encryption" "[ -s '$out/appended.log' ]"
check "the appended document is kept with its new bytes" \
    "[ \$(stat -c %s '$large/large.pdf') -gt $large_size ] && tail -c 42 '$large/large.pdf' | grep -q appended"
check "its archive is kept beside it" "[ -e '$large/large.pdf.zip' ]"
check "the archive holds the bytes read" \
    "rm -rf '$out/x'; 7z x -y -px11-secret -o'$out/x' '$large/large.pdf.zip' > /dev/null 2>&1 && [ \"\$(sha256sum < '$out/x/large.pdf')\" = '$large_sum' ]"
check "no row counts it encrypted" \
    "[ \$(q 'select count(*) from FileEventLog where EventID = (select max(EventID) from EventInfo where Type = 1280)') -eq 0 ]"
xdotool key Return; sleep 1
click_in 736 13; sleep 1

# 5. Quit.
click_in 714 14
for i in $(seq 20); do kill -0 $pid 2>/dev/null || break; sleep 0.5; done
if kill -0 $pid 2>/dev/null; then echo "FAIL the program did not end"; fail=1; kill -TERM $pid; fi
wait $pid; echo "program exit status $?"
kill $wm 2>/dev/null; wait $wm 2>/dev/null
x11_stop
q "select EventID, Type from EventInfo" > "$out/events.tsv"
echo "screenshots and logs in $out"
exit $fail
