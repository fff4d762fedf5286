#!/bin/bash
# corpus-snapshot.sh OUT [BUILD] [CORPUS]: what this build makes of every
# document of the corpus, for comparing two builds byte for byte: each
# document's text digest and reader status (extract-text), the scan's
# status and counts (scan-folder), and what a search session reports over
# two runs, the second from stored results (session-scan). Compare two
# snapshots with `diff -r`.
set -euo pipefail
out=${1:?usage: corpus-snapshot.sh OUT [BUILD] [CORPUS]}
build=${2:-build}
corpus=${3:-$(cd "$(dirname "$0")/../.." && pwd)/shared/corpus}
bin=$(cd "$build/bin" && pwd)
mkdir -p "$out"
out=$(cd "$out" && pwd)
home=$(mktemp -d)
trap 'rm -rf "$home"' EXIT
export HOME=$home XDG_DOCUMENTS_DIR=$home/Documents
find "$corpus" -type f | LC_ALL=C sort | while IFS= read -r f; do
    status=0
    digest=$(timeout 120 "$bin/extract-text" "$f" 2>/dev/null | sha256sum | cut -c1-64) || true
    timeout 120 "$bin/extract-text" "$f" >/dev/null 2>&1 || status=$?
    printf '%s\t%s\t%s\n' "$status" "$digest" "${f#"$corpus"/}"
done >"$out/text.tsv"
"$bin/scan-folder" "$corpus" 2>/dev/null | sed "s|$corpus/||" >"$out/scan.tsv"
"$bin/session-scan" --runs 2 "$home/events.db" "$corpus" 2>/dev/null | sed "s|$corpus/||" >"$out/session.tsv"
wc -l "$out"/*.tsv
