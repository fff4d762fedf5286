# Functions for driving the program under a virtual X server, as a person
# would: source this file, then
#   x11_start OUTDIR      starts Xvfb and sets DISPLAY; X11_DISPLAY picks the
#                         display number (default: the first free from 90),
#                         X11_SIZE the screen (default 1280x800)
#   x11_wm                starts the window manager (openbox) on it
#   x11_shot NAME         writes OUTDIR/NAME.png from the server's framebuffer
#   x11_stop              ends the window manager and the server
#   x11_fixture DIR COUNT fills DIR with COUNT documents linked from the
#                         public corpus, so that a search runs long enough
# Screenshots come from the framebuffer file Xvfb keeps (-fbdir), which is
# what a screen would show. `xwd -root` is not used: it rebuilds the screen
# from the windows' images and shows windows that lie wholly inside another
# window as black rectangles.
x11_start() {
    X11_OUT=$1
    mkdir -p "$X11_OUT/fb"
    local n
    for n in ${X11_DISPLAY:-$(seq 90 140)}; do
        [ -e /tmp/.X11-unix/X$n ] || [ -e /tmp/.X$n-lock ] && continue
        Xvfb :$n -screen 0 ${X11_SIZE:-1280x800}x24 -fbdir "$X11_OUT/fb" -nolisten tcp > "$X11_OUT/xvfb.log" 2>&1 &
        X11_PID=$!
        export DISPLAY=:$n
        local i
        for i in $(seq 50); do
            xdpyinfo > /dev/null 2>&1 && return 0
            sleep 0.1
        done
        kill $X11_PID 2>/dev/null
    done
    echo "x11_start: no X server" >&2
    return 1
}

x11_shot() {
    /usr/bin/convert "xwd:$X11_OUT/fb/Xvfb_screen0" "$X11_OUT/$1.png"
}

x11_wm() {
    openbox --sm-disable > "$X11_OUT/openbox.log" 2>&1 &
    X11_WM_PID=$!
    local i
    for i in $(seq 50); do
        xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id' && return 0
        sleep 0.1
    done
    echo "x11_wm: no window manager" >&2
    return 1
}

x11_stop() {
    [ -n "${X11_WM_PID:-}" ] && kill $X11_WM_PID 2>/dev/null && wait $X11_WM_PID 2>/dev/null
    X11_WM_PID=
    [ -n "${X11_PID:-}" ] && kill $X11_PID 2>/dev/null && wait $X11_PID 2>/dev/null
    X11_PID=
}

# Clicks at (X, Y) inside the window on top (windows are placed by the
# window manager); each click is noted in OUTDIR/clicks.log.
x11_click_in() {
    local WINDOW=0 X=0 Y=0 WIDTH=0 HEIGHT=0 SCREEN=0
    eval "$(xdotool getactivewindow getwindowgeometry --shell 2>/dev/null)"
    echo "click $1,$2 in window $WINDOW at $X,$Y ${WIDTH}x$HEIGHT" >> "$X11_OUT/clicks.log"
    xdotool mousemove $((X + $1)) $((Y + $2)) click 1
}

# From the main window: opens the user search window and checks the folder
# DIR (an absolute path below the drive 시스템) by walking the folder tree
# with the keyboard. The search button is then at (672, 457).
x11_choose_folder() {
    x11_click_in 549 391; sleep 2
    x11_click_in 112 145; sleep 0.3
    xdotool key Right; sleep 0.5
    local part parts
    IFS=/ read -ra parts <<< "${1#/}"
    local n=${#parts[@]} i=0
    for part in "${parts[@]}"; do
        i=$((i + 1))
        xdotool type --delay 60 "$part"; sleep 0.3
        [ $i -lt $n ] && { xdotool key Right; sleep 0.5; }
    done
    xdotool key space; sleep 0.5
}

# The search window (the one that shows the results, opened by the search
# button of the folder window): its window id, empty when none is shown.
# Its search button, which is also its stop button, is at (670, 101).
x11_search_window() {
    xdotool search --onlyvisible --name '^사용자 검색$' 2>/dev/null | while read -r w; do
        local WIDTH=0 HEIGHT=0
        eval "$(xdotool getwindowgeometry --shell "$w" 2>/dev/null)"
        [ "$WIDTH" -ge 720 ] && [ "$HEIGHT" -ge 470 ] && echo "$w"
    done | tail -1
}

# The program's lastCheckFile as the running user's side file holds it
# (empty when none): "PSV1 <bytes>" on the first line, then the value.
x11_last_check_file() {
    local side=$XDG_CONFIG_HOME/Norvane/Privasweep/registry.conf-lastcheckfile
    [ -s "$side" ] && tail -n +2 "$side" | head -c "$(head -1 "$side" | cut -d' ' -f2)"
}

# Waits, at most $2 s, until the event table holds more than $1 events and
# the last one ends a search (the caller's q runs a query on the database).
x11_wait_search_end() {
    local t=0
    while [ $t -lt $2 ]; do
        sleep 1; t=$((t + 1))
        if [ "$(q "select count(*) from EventInfo")" -gt "$1" ] &&
           [ "$(q "select Type from EventInfo order by EventID desc limit 1")" != 4 ]; then
            sleep 1; return 0
        fi
    done
    return 1
}

# Writes COUNT one-page text PDFs (DIR/docNN.pdf), each holding one
# resident registration number.
x11_text_pdfs() {
    python3 - "$1" "$2" <<'PY'
import sys
root, count = sys.argv[1], int(sys.argv[2])
for n in range(count):
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
}

# The program's message boxes on screen, one window id a line, the one on
# top last (a box has no title of its own and grows with its text, but no
# other window of the program is as low).
x11_boxes() {
    xdotool search --onlyvisible --class '^privasweep$' 2>/dev/null | while read -r w; do
        local WIDTH=0 HEIGHT=0
        eval "$(xdotool getwindowgeometry --shell "$w" 2>/dev/null)"
        [ "$WIDTH" -lt 720 ] && [ "$HEIGHT" -le 300 ] && [ "$HEIGHT" -ge 150 ] && echo "$w"
    done
}

# Hard links (copies where DIR is on another file system) of the public
# corpus's documents, round and round, under new names.
x11_fixture() {
    local public
    public=$(cd "$(dirname "${BASH_SOURCE[0]}")/../../shared/corpus/public" && pwd -P) || return 1
    python3 - "$public" "$1" "$2" <<'PY'
import os, shutil, sys
src, dst, count = sys.argv[1], sys.argv[2], int(sys.argv[3])
os.makedirs(dst, exist_ok=True)
kinds = (".hwp", ".doc", ".docx", ".xls", ".xlsx", ".ppt", ".pptx", ".pdf")
names = sorted(os.path.join(d, n) for d, _, ns in os.walk(src) for n in ns if n.lower().endswith(kinds))
if not names:
    sys.exit("no documents in " + src)
for i in range(count):
    s = names[i % len(names)]
    t = os.path.join(dst, "%d-%s" % (i, os.path.basename(s)))
    try:
        os.link(s, t)
    except OSError:
        shutil.copyfile(s, t)
PY
}
