#!/bin/bash
# Drives the program under a virtual X server the way a person would, and
# checks what it stored:
#   1. user search of FOLDER (default: the PII corpus) chosen in the folder
#      tree with the keyboard; the counts stored per document are compared
#      with FOLDER/expected.tsv when there is one;
#   2. the same search again, which must take the stored results (no new
#      document rows);
#   3. a search of the public corpus stopped with the stop button;
#   4. a search of the public corpus ended by closing its window;
#   5. the program closed from its main window.
# Screenshots of each step go to OUTDIR. Needs Xvfb, xdotool, ImageMagick
# and sqlite3.
#   scripts/x11-user-search.sh [OUTDIR] [FOLDER]
set -u
here=$(cd "$(dirname "$0")/.." && pwd)
. "$here/scripts/x11-lib.sh"
out=${1:-/tmp/x11-user-search}
folder=${2:-$(cd "$here/../shared/corpus/pii" && pwd -P)}
public=$(cd "$here/../shared/corpus/public" 2>/dev/null && pwd -P)
rm -rf "$out"; mkdir -p "$out/home"
export HOME=$out/home XDG_CONFIG_HOME=$out/home/.config XDG_DATA_HOME=$out/home/.local/share \
       XDG_RUNTIME_DIR=$out/home/run XDG_STATE_HOME=$out/home/state
mkdir -p "$XDG_RUNTIME_DIR"; chmod 700 "$XDG_RUNTIME_DIR"
db=$XDG_DATA_HOME/Norvane/Privasweep/Privasweep.db
conf=$XDG_CONFIG_HOME/Norvane/Privasweep/registry.conf
fail=0
check() { if eval "$2"; then echo "ok   $1"; else echo "FAIL $1"; fail=1; fi; }
q() { sqlite3 -separator $'\t' "$db" "$1"; }

x11_start "$out" || exit 1
"$here/build/bin/privasweep" > "$out/app.log" 2>&1 &
pid=$!
sleep 3
x11_shot 01-main

# Opens the user search window and checks the folder DIR (an absolute path
# below the drive 시스템) by walking the tree with the keyboard.
choose() {
    xdotool mousemove 813 511 click 1; sleep 2
    xdotool mousemove 376 265 click 1; sleep 0.3
    xdotool key Right; sleep 0.5
    local part
    IFS=/ read -ra parts <<< "${1#/}"
    local n=${#parts[@]} i=0
    for part in "${parts[@]}"; do
        i=$((i + 1))
        xdotool type --delay 60 "$part"; sleep 0.3
        [ $i -lt $n ] && { xdotool key Right; sleep 0.5; }
    done
    xdotool key space; sleep 0.5
}
wait_done() { x11_wait_search_end "$@"; }

# 1. The first search.
choose "$folder"
x11_shot 02-chosen
events0=$(q "select count(*) from EventInfo")
xdotool mousemove 936 577 click 1
sleep 0.5; x11_shot 03-searching
wait_done $events0 300 || echo "search did not end"
x11_shot 04-done
xdotool key Return; sleep 0.5
x11_shot 05-results
for tab in 2 3 4 5 6; do
    xdotool mousemove $((264 + (tab - 1) * 121 + 60)) 275 click 1; sleep 0.5
    x11_shot 06-tab$tab
done
q "select Name,ID,Account,CreditCard,PhoneNumber,Address,EMail,IPAddress from FileInfo order by Name" > "$out/found.tsv"
rows1=$(wc -l < "$out/found.tsv")
echo "first search: $rows1 documents"
if [ -f "$folder/expected.tsv" ]; then
    # Only the extensions the search looks at.
    tail -n +2 "$folder/expected.tsv" | grep -i -E '\.(hwp|doc|docx|xls|xlsx|ppt|pptx|pdf)	' | sort > "$out/expected.tsv"
    check "counts per document equal expected.tsv" "diff -q '$out/expected.tsv' '$out/found.tsv' > /dev/null"
fi
check "start and end events of the first search" \
    "[ \"\$(q \"select group_concat(Type) from (select Type from EventInfo where EventID > $events0 order by EventID)\")\" = 4,6 ]"
totals=$(q "select ID+Account+CreditCard+PhoneNumber+Address+EMail+IPAddress, HWP+DOC+XLS+PPT+PDF from SearchEventLog order by EventID desc limit 1")
echo "totals stored with the end event (items, documents): $totals"
xdotool mousemove 990 123 click 1; sleep 1

# 2. The same search again takes the stored results.
choose "$folder"
events1=$(q "select count(*) from EventInfo")
xdotool mousemove 936 577 click 1
wait_done $events1 300 || echo "second search did not end"
x11_shot 07-second
xdotool key Return; sleep 0.5
check "second search adds no document rows" "[ \$(q 'select count(*) from FileInfo') -eq $rows1 ]"
check "second search's totals equal the first's" \
    "[ \"\$(q 'select ID+Account+CreditCard+PhoneNumber+Address+EMail+IPAddress, HWP+DOC+XLS+PPT+PDF from SearchEventLog order by EventID desc limit 1')\" = '$totals' ]"
xdotool mousemove 990 123 click 1; sleep 1

if [ -n "$public" ]; then
    # 3. Stop.
    choose "$public"
    events2=$(q "select max(EventID) from EventInfo")
    xdotool mousemove 936 577 click 1; sleep 1
    xdotool mousemove 933 220 click 1; sleep 0.5
    x11_shot 08-stop-question
    xdotool key Return; sleep 2
    x11_shot 09-stopped
    # The search may complete under the question: its completion stands.
    check "stop writes a start and a cancel event (or the search completed under the question)" \
        "[[ \"\$(q \"select group_concat(Type) from (select Type from EventInfo where EventID > $events2 order by EventID)\")\" =~ ^4,[56]$ ]]"
    check "no lastCheckFile after the stop" '[ -z "$(x11_last_check_file)" ]'
    xdotool mousemove 990 123 click 1; sleep 1

    # 4. Close during a search.
    choose "$public"
    events3=$(q "select max(EventID) from EventInfo")
    xdotool mousemove 936 577 click 1; sleep 1
    xdotool mousemove 990 123 click 1; sleep 0.5
    x11_shot 10-close-question
    xdotool key Return; sleep 2
    x11_shot 10-closed
    # A search that completes while the question is open keeps its window
    # (the completion message replaced the question): closed again, idle.
    ends=$(q "select group_concat(Type) from (select Type from EventInfo where EventID > $events3 order by EventID)")
    if [ "$ends" = 4,6 ]; then xdotool mousemove 990 123 click 1; sleep 1; x11_shot 10-closed-after-completion; fi
    check "close writes a start and a cancel event (or the search completed under the question)" \
        "[ '$ends' = 4,5 ] || [ '$ends' = 4,6 ]"
    check "no lastCheckFile after the close" '[ -z "$(x11_last_check_file)" ]'
fi

# 5. Quit from the main window.
x11_shot 11-main-again
xdotool mousemove 978 134 click 1
for i in $(seq 20); do kill -0 $pid 2>/dev/null || break; sleep 0.5; done
if kill -0 $pid 2>/dev/null; then echo "FAIL the program did not end"; fail=1; kill -TERM $pid; fi
wait $pid; echo "program exit status $?"

x11_stop
q "select * from EventInfo" > "$out/events.tsv"
echo "screenshots and logs in $out"
exit $fail
