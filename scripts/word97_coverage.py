#!/usr/bin/env python3
"""Share of the words of a reference text conversion that appear in ours.

usage: word97_coverage.py EXTRACT_TEXT REFERENCE_DIR FILE.doc...

REFERENCE_DIR holds one UTF-8 text per document, named after it with ".txt"
(for example made with: soffice --headless --convert-to "txt:Text (encoded):UTF8").
Words are runs of letters and digits; each reference word counts as found as
often as it occurs in our text. Prints one line per file and the total.
"""
import collections
import os
import re
import subprocess
import sys

WORD = re.compile(r"\w+", re.UNICODE)


def words(text):
    return collections.Counter(w.lower() for w in WORD.findall(text))


def main():
    if len(sys.argv) < 4:
        print(__doc__)
        return 2
    tool, refdir, files = sys.argv[1], sys.argv[2], sys.argv[3:]
    total_ref = total_found = 0
    for f in files:
        ref_path = os.path.join(refdir, os.path.splitext(os.path.basename(f))[0] + ".txt")
        if not os.path.exists(ref_path):
            continue
        with open(ref_path, encoding="utf-8", errors="replace") as h:
            ref = words(h.read())
        run = subprocess.run([tool, f], capture_output=True, timeout=120)
        ours = words(run.stdout.decode("utf-8", errors="replace").replace("\u2010", "-"))
        n = sum(ref.values())
        found = sum(min(c, ours[w]) for w, c in ref.items())
        total_ref += n
        total_found += found
        share = 100.0 * found / n if n else 100.0
        print(f"{share:6.1f}%  {found:7d}/{n:<7d} status {run.returncode}  {os.path.basename(f)}")
    share = 100.0 * total_found / total_ref if total_ref else 100.0
    print(f"total {share:.2f}% ({total_found}/{total_ref} words)")
    return 0


if __name__ == "__main__":
    sys.exit(main())
