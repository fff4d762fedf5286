#!/bin/sh
# One brief run of a fuzz target:
#   smoke.sh TARGET WORK RUNS CORPUS SEED...
# WORK is emptied and receives the new inputs; each SEED is a folder of
# CORPUS read as it is, or "xml:docx", "xml:pptx", "xml:xlsx": the part
# targets' raw XML, taken once from the packages of the corpus (into
# WORK.seeds, kept between runs). Extra libFuzzer options may follow in
# FUZZ_OPTIONS (e.g. FUZZ_OPTIONS=-max_total_time=3600 for a long run).
set -eu
target=$1 work=$2 runs=$3 corpus=$4
shift 4
dirs=""
for s in "$@"; do
  case "$s" in
    xml:*)
      kind=${s#xml:}
      out=$work.seeds
      if [ ! -d "$out" ]; then
        mkdir -p "$out.tmp"
        n=0
        for f in "$corpus/$kind"/* "$corpus/${kind%x}m"/*; do
          [ -f "$f" ] || continue
          n=$((n + 1))
          case "$kind" in
            docx) unzip -p "$f" word/document.xml > "$out.tmp/$n.xml" 2>/dev/null || true ;;
            pptx) unzip -p "$f" ppt/slides/slide1.xml > "$out.tmp/$n.xml" 2>/dev/null || true ;;
            xlsx) { unzip -p "$f" xl/worksheets/sheet1.xml; printf '\0';
                    unzip -p "$f" xl/sharedStrings.xml; printf '\0';
                    unzip -p "$f" xl/styles.xml; } > "$out.tmp/$n.xml" 2>/dev/null || true ;;
          esac
          [ -s "$out.tmp/$n.xml" ] || rm -f "$out.tmp/$n.xml"
        done
        mv "$out.tmp" "$out"
      fi
      dirs="$dirs $out" ;;
    *) [ -d "$corpus/$s" ] && dirs="$dirs $corpus/$s" ;;
  esac
done
rm -rf "$work"
mkdir -p "$work"
# shellcheck disable=SC2086
exec "$target" -runs="$runs" -max_len=${FUZZ_MAX_LEN:-16384} -rss_limit_mb=2048 -timeout=20 ${FUZZ_OPTIONS:-} "$work" $dirs
