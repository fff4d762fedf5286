#!/usr/bin/env python3
"""Share of the words of each reference text (NAME.txt beside NAME.docx and
the like) that appear in extract-text's output, per OOXML format.

    scripts/ooxml_word_share.py build/bin/extract-text CORPUS/public
"""
import os
import subprocess
import sys

tool, corpus = sys.argv[1], sys.argv[2]
formats = ["docx", "docm", "xlsx", "xlsm", "pptx", "pptm"]
for fmt in formats:
    folder = os.path.join(corpus, fmt)
    if not os.path.isdir(folder):
        continue
    total = found = docs = 0
    worst = []
    for name in sorted(os.listdir(folder)):
        if not name.endswith("." + fmt):
            continue
        ref = os.path.join(folder, name[: -len(fmt)] + "txt")
        if not os.path.exists(ref):
            continue
        words = open(ref, encoding="utf-8", errors="replace").read().split()
        if not words:
            continue
        try:
            out = subprocess.run([tool, os.path.join(folder, name)], capture_output=True, timeout=60).stdout
        except subprocess.TimeoutExpired:
            out = b""
        text = out.decode("utf-8", errors="replace")
        ours = set(text.split())
        hit = sum(1 for w in words if w in ours or w in text)
        docs += 1
        total += len(words)
        found += hit
        worst.append((hit / len(words), name))
    if docs:
        worst.sort()
        print(f"{fmt}: {docs} documents, {found}/{total} words = {100.0 * found / total:.1f}%")
        for share, name in worst[:3]:
            print(f"    lowest {100 * share:5.1f}%  {name}")
