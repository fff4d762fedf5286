#!/usr/bin/env python3
"""Share of the words of reference texts that appear in extract-text's
output, per OOXML format.

    scripts/ooxml_word_share.py TOOL CORPUS/public [REFERENCES]

A document's reference is NAME.txt beside it, or, in REFERENCES/FORMAT/,
NAME.txt (a text conversion) or NAME-*.csv (one file per sheet). A word
counts as found when it is a word of our text or a part of it.
"""
import glob
import os
import subprocess
import sys

tool, corpus = sys.argv[1], sys.argv[2]
refs = sys.argv[3] if len(sys.argv) > 3 else None
formats = ["docx", "docm", "xlsx", "xlsm", "pptx", "pptm"]


def reference_words(fmt, folder, base):
    files = []
    beside = os.path.join(folder, base + ".txt")
    if os.path.exists(beside):
        files = [beside]
    elif refs:
        txt = os.path.join(refs, fmt, base + ".txt")
        files = [txt] if os.path.exists(txt) else sorted(glob.glob(os.path.join(refs, fmt, glob.escape(base) + "-*.csv")))
    if not files:
        return None
    words = []
    for f in files:
        text = open(f, encoding="utf-8", errors="replace").read().replace("\ufeff", "")
        if f.endswith(".csv"):
            text = text.replace('"', " ")
        words += text.split()
    return words


for fmt in formats:
    folder = os.path.join(corpus, fmt)
    if not os.path.isdir(folder):
        continue
    total = found = docs = unread = 0
    worst = []
    for name in sorted(os.listdir(folder)):
        if not name.endswith("." + fmt):
            continue
        words = reference_words(fmt, folder, name[: -len(fmt) - 1])
        if not words:
            continue
        try:
            run = subprocess.run([tool, os.path.join(folder, name)], capture_output=True, timeout=120)
        except subprocess.TimeoutExpired:
            run = None
        if run is None or run.returncode != 0:
            unread += 1  # not a package (an encrypted or binary document) or damaged
            continue
        text = run.stdout.decode("utf-8", errors="replace")
        ours = set(text.split())
        hit = sum(1 for w in words if w in ours or w in text)
        docs += 1
        total += len(words)
        found += hit
        worst.append((hit / len(words), len(words), name))
    if docs:
        worst.sort()
        print(f"{fmt}: {docs} documents, {found}/{total} words = {100.0 * found / total:.1f}%"
              f" ({unread} not read)")
        for share, n, name in worst[:4]:
            print(f"    lowest {100 * share:5.1f}% of {n:6d}  {name}")
