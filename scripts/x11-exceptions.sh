#!/bin/bash
# Drives the error report and the exception list under a virtual X server
# with a window manager, the way a person would, and checks what they wrote:
#   1. a start after a run that ended inside a document: the error report
#      names it; Enter and Escape leave it open; "open folder" opens the
#      document's folder (no file manager on the bus here: the folder
#      itself); "except" runs the exception window;
#   2. the exception list from the settings window's exception page: two
#      rows (one from the error report); one released through its right-click
#      menu, the other by its check box and the release button;
#   3. a start whose document has vanished: "except" says so and writes
#      nothing;
#   4. a start where the report is closed: lastCheckFile is cleared.
# Screenshots of each step go to OUTDIR. Needs Xvfb, openbox, xdotool,
# ImageMagick and sqlite3.
#   scripts/x11-exceptions.sh [OUTDIR]
set -u
here=$(cd "$(dirname "$0")/.." && pwd)
. "$here/scripts/x11-lib.sh"
out=${1:-/tmp/x11-exceptions}
rm -rf "$out"; mkdir -p "$out/home" "$out/fb" "$out/bin" "$out/docs/보고서"
export HOME=$out/home XDG_CONFIG_HOME=$out/home/.config XDG_DATA_HOME=$out/home/.local/share \
       XDG_RUNTIME_DIR=$out/home/run XDG_STATE_HOME=$out/home/state
unset DBUS_SESSION_BUS_ADDRESS
mkdir -p "$XDG_RUNTIME_DIR" "$XDG_CONFIG_HOME/Norvane/Privasweep"; chmod 700 "$XDG_RUNTIME_DIR"
# What the desktop is asked to open is noted instead.
cat > "$out/bin/xdg-open" <<EOF
#!/bin/sh
printf '%s\n' "\$*" >> "$out/opened.log"
EOF
chmod +x "$out/bin/xdg-open"
export PATH=$out/bin:$PATH
db=$XDG_DATA_HOME/Norvane/Privasweep/Privasweep.db
side=$XDG_CONFIG_HOME/Norvane/Privasweep/registry.conf-lastcheckfile
fail=0
check() { if eval "$2"; then echo "ok   $1"; else echo "FAIL $1"; fail=1; fi; }
q() { sqlite3 -separator $'\t' "$db" "$1"; }
# lastCheckFile as the analysis leaves it: the documents in hand, one a line.
set_last() { printf 'PSV1 %d\n%s' "$(printf '%s' "$1" | wc -c)" "$1" > "$side"; }
last() { x11_last_check_file; }
visible() { xdotool search --onlyvisible --name "^$1\$" > /dev/null; }
# The top-left corner of the visible window whose title is $1.
origin() {
    local w
    w=$(xdotool search --onlyvisible --name "^$1\$" | tail -1)
    [ -n "$w" ] || return 1
    xdotool getwindowgeometry "$w" | sed -n 's/.*Position: \([0-9]*\),\([0-9]*\).*/\1 \2/p'
}
start() {
    "$here/build/bin/privasweep" >> "$out/app.log" 2>&1 &
    pid=$!
    sleep 3
}
# Closes a finished action window with its close button.
close_action() {
    local ax ay
    sleep 2
    read -r ax ay < <(origin "$1") || { echo "FAIL action window '$1' not shown"; fail=1; return; }
    x11_shot "$2"
    xdotool mousemove $((ax + 200)) $((ay + 128)) click 1; sleep 1
}
exit_program() {
    local mx my
    read -r mx my < <(origin "프리바스윕 2.0") || return
    xdotool mousemove $((mx + 705 + 8)) $((my + 6 + 8)) click 1; sleep 2
    kill $pid 2>/dev/null
}

doc="$out/docs/보고서/손상된 문서.hwp"
head -c 1234 /dev/urandom > "$doc"
second=$out/docs/second.pdf
head -c 999 /dev/urandom > "$second"

x11_start "$out" || exit 1
trap x11_stop EXIT
x11_wm || exit 1

# 1. The error report.
set_last "$doc"$'\n'"$second"$'\n'
start
x11_shot 01-error-report
read -r rx ry < <(origin "프리바스윕 오류 알림") || { echo "FAIL error report not shown"; fail=1; }
echo "error report at $rx,$ry"
xdotool key Return; sleep 0.5
xdotool key Escape; sleep 0.5
check "Enter and Escape leave the report open" "visible '프리바스윕 오류 알림'"
xdotool mousemove $((rx + 172 + 47)) $((ry + 298 - 32 + 10)) click 1; sleep 1
check "open folder opened the document's folder" "grep -q 'docs/%EB%B3%B4%EA%B3%A0%EC%84%9C\|docs/보고서' '$out/opened.log'"
x11_shot 02-folder-opened
xdotool mousemove $((rx + 76 + 47)) $((ry + 298 - 32 + 10)) click 1
close_action "예외 처리 적용" 03-except-finished
x11_shot 04-report-closed
check "the report closed after except" "! visible '프리바스윕 오류 알림'"
check "events 0x70000 and 0x90000" "[ \"\$(q 'select group_concat(Type) from EventInfo where Type in (458752, 589824)')\" = 458752,589824 ]"
check "one exception row for the document" "[ \"\$(q \"select count(*) from ExceptionInfo E join FileInfo F on E.FileIndex = F.FileIndex where F.Name = '손상된 문서.hwp'\")\" = 1 ]"
check "except left lastCheckFile" "[ -n \"\$(last)\" ]"

# 2. The exception list. A second document excepted from a search.
q "insert into EventInfo (Year, Month, Day, Time, Type, User) values (2026, 12, 11, '010000', 65536, 'tester');
   insert into FileInfo (Hash, Path, Name, ID, Account, CreditCard, PhoneNumber, Address, EMail, IPAddress)
     values ('K2', '$out/docs', 'second.pdf', 3, 0, 1, 2, 0, 5, 0);
   insert into ExceptionInfo (FileIndex, EventID) values (last_insert_rowid(), (select max(EventID) from EventInfo));"
read -r mx my < <(origin "프리바스윕 2.0")
xdotool mousemove $((mx + 639 + 48)) $((my + 28 + 14)) click 1; sleep 2
read -r sx sy < <(origin "환경설정") || { echo "FAIL settings window not shown"; fail=1; }
xdotool mousemove $((sx + 70)) $((sy + 29 + 21 + 42 * 4)) click 1; sleep 0.5
x11_shot 05-exception-page
xdotool mousemove $((sx + 142 + 20 + 55)) $((sy + 29 + 90 + 10)) click 1; sleep 2
read -r lx ly < <(origin "예외처리관리") || { echo "FAIL exception list not shown"; fail=1; }
echo "exception list at $lx,$ly"
x11_shot 06-exception-list
# Release with nothing checked: only the message.
xdotool mousemove $((lx + 730 - 2 * 94 - 15 + 47)) $((ly + 480 - 31 + 10)) click 1; sleep 1
x11_shot 06a-nothing-checked
xdotool key Return; sleep 0.5
# The second row: its detail panel, then its menu's release item.
row1=$((ly + 75 + 26 + 10)); row2=$((row1 + 21))
xdotool mousemove $((lx + 200)) $row2 click 1; sleep 0.5
x11_shot 07-second-selected
xdotool mousemove $((lx + 200)) $row2 click 3; sleep 1
x11_shot 08-row-menu
xdotool key Down Down Return
close_action "처리해제" 09-release-one-finished
x11_shot 10-one-row-left
check "the menu released one document" "[ \"\$(q 'select count(*) from ExceptionInfo')\" = 1 ]"
# The first row by its check box and the release button.
xdotool mousemove $((lx + 12 + 9)) $row1 click 1; sleep 0.5
x11_shot 11-row-checked
xdotool mousemove $((lx + 730 - 2 * 94 - 15 + 47)) $((ly + 480 - 31 + 10)) click 1
close_action "처리해제" 12-release-checked-finished
x11_shot 13-list-empty
check "no exception left" "[ \"\$(q 'select count(*) from ExceptionInfo')\" = 0 ]"
check "both keys emptied" "[ \"\$(q \"select count(*) from FileInfo where Hash = ''\")\" = 2 ]"
check "events 0x40000 and 0x60000 twice" "[ \"\$(q 'select group_concat(Type) from EventInfo where Type in (262144, 393216)')\" = 262144,393216,262144,393216 ]"
xdotool mousemove $((lx + 730 - 23 + 8)) $((ly + 6 + 8)) click 1; sleep 1
check "the X button closed the list" "! visible '예외처리관리'"
xdotool key alt+F4; sleep 1
check "the settings window closed" "! visible '환경설정'"
exit_program
check "the exit cleared lastCheckFile" "[ -z \"\$(last)\" ]"

# 3. The document has vanished since.
events=$(q 'select count(*) from EventInfo')
set_last "$out/docs/gone.hwp"
start
x11_shot 14-vanished-report
read -r rx ry < <(origin "프리바스윕 오류 알림") || { echo "FAIL error report not shown"; fail=1; }
xdotool mousemove $((rx + 76 + 47)) $((ry + 298 - 32 + 10)) click 1; sleep 1
x11_shot 15-vanished-message
xdotool key Return; sleep 1
x11_shot 16-vanished-closed
check "the report closed" "! visible '프리바스윕 오류 알림'"
check "nothing written for a vanished document" "[ \"\$(q 'select count(*) from EventInfo')\" = $events ]"
exit_program

# 4. Closed with its close button.
set_last "$doc"
start
read -r rx ry < <(origin "프리바스윕 오류 알림") || { echo "FAIL error report not shown"; fail=1; }
xdotool mousemove $((rx + 268 + 47)) $((ry + 298 - 32 + 10)) click 1; sleep 1
x11_shot 17-closed
check "close cleared lastCheckFile" "[ -z \"\$(last)\" ]"
check "the main window is there" "visible '프리바스윕 2.0'"
exit_program
check "the program ended" "! kill -0 $pid 2>/dev/null"
exit $fail
