#!/bin/bash
# Drives the settings window under a virtual X server with a window manager,
# the way a person would, and checks what it stored:
#   1. opened from the main window's settings button: a drive unchecked and
#      a folder below it checked again in the tree with the keyboard, the six
#      tabs visited with the mouse, one kind of personal information
#      unchecked, OK;
#   2. opened from the main menu and closed with cancel (nothing written);
#   3. opened again, minimised and restored, and closed with Alt+F4
#      (nothing written);
#   4. the program closed from its main window.
# Screenshots of each step go to OUTDIR. Needs Xvfb, openbox, xdotool,
# ImageMagick and sqlite3.
#   scripts/x11-settings.sh [OUTDIR] [DISPLAY-NUMBER]
set -u
here=$(cd "$(dirname "$0")/.." && pwd)
. "$here/scripts/x11-lib.sh"
out=${1:-/tmp/x11-settings}
display=${2:-}
rm -rf "$out"; mkdir -p "$out/home" "$out/fb"
export HOME=$out/home XDG_CONFIG_HOME=$out/home/.config XDG_DATA_HOME=$out/home/.local/share \
       XDG_RUNTIME_DIR=$out/home/run XDG_STATE_HOME=$out/home/state
mkdir -p "$XDG_RUNTIME_DIR"; chmod 700 "$XDG_RUNTIME_DIR"
db=$XDG_DATA_HOME/Norvane/Privasweep/Privasweep.db
conf=$XDG_CONFIG_HOME/Norvane/Privasweep/registry.conf
fail=0
check() { if eval "$2"; then echo "ok   $1"; else echo "FAIL $1"; fail=1; fi; }
q() { sqlite3 -separator $'\t' "$db" "$1"; }
value() { grep -i "^\"$1\"=" "$conf" | head -1 | cut -d= -f2- | tr -d '"'; }

if [ -n "$display" ]; then
    X11_OUT=$out
    Xvfb :$display -screen 0 1280x800x24 -fbdir "$out/fb" -nolisten tcp > "$out/xvfb.log" 2>&1 &
    X11_PID=$!
    export DISPLAY=:$display
    for i in $(seq 50); do xdpyinfo > /dev/null 2>&1 && break; sleep 0.1; done
else
    x11_start "$out" || exit 1
fi
openbox > "$out/openbox.log" 2>&1 &
wm=$!
sleep 1
"$here/build/bin/privasweep" > "$out/app.log" 2>&1 &
pid=$!
sleep 3
x11_shot 01-main

# The top-left corner of the visible window whose title is $1.
origin() {
    local w
    w=$(xdotool search --onlyvisible --name "^$1\$" | tail -1)
    [ -n "$w" ] || return 1
    xdotool getwindowgeometry "$w" | sed -n 's/.*Position: \([0-9]*\),\([0-9]*\).*/\1 \2/p'
}
read -r mx my < <(origin "프리바스윕 2.0")
echo "main window at $mx,$my"

# 1. The settings button (1007) of the main window.
xdotool mousemove $((mx + 639 + 48)) $((my + 28 + 14)) click 1; sleep 2
read -r sx sy < <(origin "환경설정") || { echo "FAIL settings window not shown"; fail=1; }
echo "settings window at $sx,$sy"
x11_shot 02-settings-open
last0=$(q "select coalesce(max(EventID), 0) from EventInfo")
# The folder tree: the computer item, then the first drive below it.
xdotool mousemove $((sx + 142 + 20 + 80)) $((sy + 29 + 43 + 10)) click 1; sleep 0.3
xdotool key Down; sleep 0.3
xdotool key space; sleep 0.5
x11_shot 03-drive-unchecked
xdotool key Right; sleep 1
xdotool key Down; sleep 0.3
xdotool key space; sleep 0.5
x11_shot 04-folder-checked
# The six tabs, by mouse, from the last to the first.
for tab in 5 4 3 2 1 0; do
    xdotool mousemove $((sx + 70)) $((sy + 29 + 21 + 42 * tab)) click 1; sleep 0.5
    x11_shot "05-tab$tab"
done
# The account number box on the personal-information page.
xdotool mousemove $((sx + 70)) $((sy + 29 + 21 + 42)) click 1; sleep 0.5
xdotool mousemove $((sx + 142 + 26)) $((sy + 29 + 75 + 8)) click 1; sleep 0.5
x11_shot 06-account-unchecked
# OK (1068).
xdotool mousemove $((sx + 478 - 161 + 37)) $((sy + 400 - 31 + 10)) click 1; sleep 1
x11_shot 07-saved
check "the settings window closed on OK" "! xdotool search --onlyvisible --name '^환경설정\$' > /dev/null"
check "PersonalInfo stored without the account number" "[ \"\$(value PersonalInfo)\" = '1|0|1|1|1|1|1|' ]"
check "an excluded drive stored" "[ -n \"\$(value Exclude_1)\" ]"
check "events: folders, then personal information" \
    "[ \"\$(q \"select group_concat(Type) from (select Type from EventInfo where EventID > $last0 order by EventID)\")\" = 16777216,33554432 ]"

# 2. The main menu's settings item, then cancel.
events1=$(q "select count(*) from EventInfo")
xdotool mousemove $((mx + 633 + 8)) $((my + 6 + 8)) click 1; sleep 1
x11_shot 08-menu
xdotool mousemove $((mx + 633 + 40)) $((my + 6 + 8 + 14)) click 1; sleep 2
read -r sx sy < <(origin "환경설정") || { echo "FAIL settings window not shown from the menu"; fail=1; }
xdotool mousemove $((sx + 70)) $((sy + 29 + 21 + 42 * 2)) click 1; sleep 0.3
xdotool mousemove $((sx + 142 + 26)) $((sy + 29 + 50 + 8)) click 1; sleep 0.3
x11_shot 09-menu-settings-changed
xdotool mousemove $((sx + 478 - 85 + 37)) $((sy + 400 - 31 + 10)) click 1; sleep 1
x11_shot 10-cancelled
check "cancel closed the window" "! xdotool search --onlyvisible --name '^환경설정\$' > /dev/null"
check "cancel wrote no event" "[ \"\$(q 'select count(*) from EventInfo')\" = $events1 ]"
check "cancel kept the document kinds" "[ \"\$(value KindOfDocument)\" = '1|1|1|1|1|' ]"

# 2b. The exception page's 예외 목록 보기, the list's 닫기 (bottom right), then
# Escape: the settings window closes, as before the list was opened.
xdotool mousemove $((mx + 639 + 48)) $((my + 28 + 14)) click 1; sleep 2
read -r sx sy < <(origin "환경설정") || { echo "FAIL settings window not shown for the exception list"; fail=1; }
xdotool mousemove $((sx + 70)) $((sy + 29 + 21 + 42 * 4)) click 1; sleep 0.5
xdotool mousemove $((sx + 142 + 20 + 40)) $((sy + 29 + 90 + 10)) click 1; sleep 2
x11_shot 10a-exception-list
lw=$(xdotool getactivewindow)
eval "$(xdotool getwindowgeometry --shell "$lw")"
check "the exception list opened over the settings window (${WIDTH}x$HEIGHT)" "[ $WIDTH -gt 478 ]"
xdotool mousemove $((X + WIDTH - 10 - 30)) $((Y + HEIGHT - 10 - 10)) click 1; sleep 1
x11_shot 10b-list-closed
check "닫기 closed the exception list" "[ \"\$(xdotool getactivewindow)\" != '$lw' ]"
xdotool key Escape; sleep 1
x11_shot 10c-escape
check "Escape then closes the settings window" "! xdotool search --onlyvisible --name '^환경설정\$' > /dev/null"

# 3. Alt+F4 closes it without writing.
xdotool mousemove $((mx + 639 + 48)) $((my + 28 + 14)) click 1; sleep 2
read -r sx sy < <(origin "환경설정") || { echo "FAIL settings window not shown again"; fail=1; }
xdotool mousemove $((sx + 70)) $((sy + 29 + 21 + 42 * 5)) click 1; sleep 0.3
x11_shot 11-log-page
# Minimised by the window manager and restored.
sw=$(xdotool search --onlyvisible --name '^환경설정$' | tail -1)
xdotool windowminimize "$sw"; sleep 1
x11_shot 11a-minimised
check "minimised" "! xdotool search --onlyvisible --name '^환경설정\$' > /dev/null"
xdotool windowactivate "$sw" 2>/dev/null || xdotool windowmap "$sw"; sleep 1
x11_shot 11b-restored
check "restored" "xdotool search --onlyvisible --name '^환경설정\$' > /dev/null"
xdotool key alt+F4; sleep 1
x11_shot 12-closed
check "Alt+F4 closed the window" "! xdotool search --onlyvisible --name '^환경설정\$' > /dev/null"
check "Alt+F4 wrote no event" "[ \"\$(q 'select count(*) from EventInfo')\" = $events1 ]"

# 4. The exit button of the main window.
xdotool mousemove $((mx + 705 + 8)) $((my + 6 + 8)) click 1; sleep 2
check "the program ended" "! kill -0 $pid 2>/dev/null"
kill $pid 2>/dev/null
kill $wm 2>/dev/null
x11_stop
exit $fail
