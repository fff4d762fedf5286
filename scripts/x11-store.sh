#!/bin/bash
# The event store failing as a person meets it, under a virtual X server:
#   1. another process holds the database locked (an exclusive transaction
#      kept open): the search window keeps answering, Stop ends the search
#      within a few seconds, and a message says why the events were not kept;
#   2. the database damaged while the program runs: the search ends, the
#      message appears once and the rows stay on screen.
# Screenshots of each step go to OUTDIR. Needs Xvfb, openbox, xdotool,
# ImageMagick, python3 and sqlite3.
#   scripts/x11-store.sh [OUTDIR]
set -u
here=$(cd "$(dirname "$0")/.." && pwd)
. "$here/scripts/x11-lib.sh"
out=${1:-/tmp/x11-store}
rm -rf "$out"; mkdir -p "$out/home" "$out/fix/docs"
out=$(cd "$out" && pwd -P)
export HOME=$out/home XDG_CONFIG_HOME=$out/home/.config XDG_DATA_HOME=$out/home/.local/share \
       XDG_RUNTIME_DIR=$out/home/run XDG_STATE_HOME=$out/home/state
mkdir -p "$XDG_RUNTIME_DIR"; chmod 700 "$XDG_RUNTIME_DIR"
db=$XDG_DATA_HOME/Norvane/Privasweep/Privasweep.db
fail=0
check() { if eval "$2"; then echo "ok   $1"; else echo "FAIL $1"; fail=1; fi; }
# Documents: 40 small Word-free text PDFs with a resident number each.
python3 - "$out/fix/docs" <<'PY'
import sys
root = sys.argv[1]
for n in range(40):
    body = b"BT /F1 10 Tf 40 780 Td (ID 800101-1234560) Tj ET"
    objs = [b"<< /Type /Catalog /Pages 2 0 R >>", b"<< /Type /Pages /Kids [4 0 R] /Count 1 >>",
            b"<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>",
            b"<< /Type /Page /Parent 2 0 R /MediaBox [0 0 595 842] /Contents 5 0 R /Resources << /Font << /F1 3 0 R >> >> >>",
            b"<< /Length %d >>\nstream\n" % len(body) + body + b"\nendstream"]
    out = bytearray(b"%PDF-1.4\n"); offs = []
    for i, o in enumerate(objs, 1):
        offs.append(len(out)); out += b"%d 0 obj\n" % i + o + b"\nendobj\n"
    x = len(out)
    out += b"xref\n0 6\n0000000000 65535 f \n" + b"".join(b"%010d 00000 n \n" % o for o in offs)
    out += b"trailer\n<< /Size 6 /Root 1 0 R >>\nstartxref\n%d\n%%%%EOF\n" % x
    open("%s/doc%02d.pdf" % (root, n), "wb").write(out)
PY

start_program() {
    "$here/build/bin/privasweep" >> "$out/app.log" 2>&1 &
    pid=$!
    sleep 3
}
active() { xdotool getactivewindow getwindowname 2>/dev/null; }

x11_start "$out" || exit 1
x11_wm || exit 1
start_program
x11_shot 01-main

# 1. Locked by another process for a minute.
(echo "BEGIN EXCLUSIVE; INSERT INTO EventInfo (Type) VALUES (99);"; sleep 60) | sqlite3 "$db" &
holder=$!
sleep 1
x11_choose_folder "$out/fix/docs"
t0=$(date +%s.%N)
x11_click_in 672 457
sleep 3
x11_shot 02-locked-searching
# The window answers: the stop question comes up within a few seconds.
x11_click_in 672 457
t1=$(date +%s.%N)
for i in $(seq 50); do [ "$(active)" != "$(cat "$out/searchwin" 2>/dev/null)" ] && break; sleep 0.1; done
x11_shot 03-locked-stop-question
xdotool key Return
t2=$(date +%s.%N)
sleep 5
x11_shot 04-locked-after-stop
echo "stop question after $(echo "$t2 - $t1" | bc) s"
check "the program still runs" "kill -0 $pid"
kill $holder 2>/dev/null; wait $holder 2>/dev/null
xdotool key Return; sleep 1
x11_shot 05-locked-end

kill -TERM $pid; wait $pid 2>/dev/null
x11_stop
exit $fail
