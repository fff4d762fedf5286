#!/usr/bin/env python3
"""Share of the words of reference texts that appear in extract-text's
output, per format (the OOXML formats unless --formats names others: doc, rtf, ...).

    scripts/ooxml_word_share.py TOOL CORPUS/public [REFERENCES] [--missing DIR] [--formats F,...] [--whole-words]

A document's reference is, in REFERENCES/FORMAT/, NAME.txt (a text
conversion) or NAME-*.csv (one file per sheet); without REFERENCES, a
NAME.txt beside the document. A word
counts as found when it is a word of our text or a part of it.
scripts/make_lo_refs.py makes REFERENCES with LibreOffice.

With --missing, DIR/FORMAT/NAME.missing lists each document's reference
words that were not found (with their counts) and DIR/FORMAT/NAME.ours
holds our text, for looking at the causes.
"""
import csv
import glob
import io
import os
import subprocess
import sys

args = sys.argv[1:]
missing_dir = None
formats = ["docx", "docm", "xlsx", "xlsm", "pptx", "pptm"]
if "--missing" in args:
    i = args.index("--missing")
    missing_dir = args[i + 1]
    del args[i:i + 2]
# With --whole-words a word counts only as a whole word of our text (words
# glued together by a lost separator are then missing).
whole_words = "--whole-words" in args
if whole_words:
    args.remove("--whole-words")
if "--formats" in args:
    i = args.index("--formats")
    formats = args[i + 1].split(",")
    del args[i:i + 2]
tool, corpus = args[0], args[1]
# Folders whose documents carry another extension than the folder's name.
EXTENSIONS = {"word95": (".doc",), "word6": (".doc",), "hwp3": (".hwp",)}
refs = args[2] if len(args) > 2 else None


def reference_words(fmt, folder, base):
    files = []
    beside = os.path.join(folder, base + ".txt")
    if refs:
        txt = os.path.join(refs, fmt, base + ".txt")
        files = [txt] if os.path.exists(txt) else sorted(glob.glob(os.path.join(refs, fmt, glob.escape(base) + "-*.csv")))
    elif os.path.exists(beside):
        files = [beside]
    if not files:
        return None
    # A reference larger than this comes from a document that multiplies its
    # text (a shared-string bomb): it is not a measure of extraction.
    if sum(os.path.getsize(f) for f in files) > 50 * 1024 * 1024:
        return None
    words = []
    for f in files:
        text = open(f, encoding="utf-8", errors="replace").read().replace("\ufeff", "")
        if f.endswith(".csv"):
            # The words of each field; quotes and separators are not text.
            for row in csv.reader(io.StringIO(text, newline="")):
                for field in row:
                    words += field.split()
        else:
            words += text.split()
    return words


for fmt in formats:
    folder = os.path.join(corpus, fmt)
    if not os.path.isdir(folder):
        continue
    total = found = docs = unread = 0
    text_total = text_found = 0
    worst = []
    for name in sorted(os.listdir(folder)):
        base, ext = os.path.splitext(name)
        if ext.lower() not in EXTENSIONS.get(fmt, ("." + fmt,)):
            continue
        words = reference_words(fmt, folder, base)
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
        partial = "" if whole_words else text  # where a part of a word counts
        hit = sum(1 for w in words if w in ours or w in partial)
        if missing_dir:
            os.makedirs(os.path.join(missing_dir, fmt), exist_ok=True)
            lost = {}
            for w in words:
                if w not in ours and w not in partial:
                    lost[w] = lost.get(w, 0) + 1
            with open(os.path.join(missing_dir, fmt, name + ".missing"), "w", encoding="utf-8") as f:
                f.write("%d of %d words missing\n" % (len(words) - hit, len(words)))
                for w, n in sorted(lost.items(), key=lambda kv: -kv[1]):
                    f.write("%d\t%s\n" % (n, w))
            with open(os.path.join(missing_dir, fmt, name + ".ours"), "w", encoding="utf-8") as f:
                f.write(text)
        # Words holding a letter: the same measure without the numbers, whose
        # rendering (date and number formats) differs between programs.
        lettered = [w for w in words if any(c.isalpha() for c in w)]
        text_total += len(lettered)
        text_found += sum(1 for w in lettered if w in ours or w in partial)
        docs += 1
        total += len(words)
        found += hit
        worst.append((hit / len(words), len(words), name))
    if docs:
        worst.sort()
        print(f"{fmt}: {docs} documents, {found}/{total} words = {100.0 * found / total:.1f}%"
              f" ({unread} not read); words with letters {text_found}/{text_total} = "
              f"{100.0 * text_found / max(text_total, 1):.1f}%")
        for share, n, name in worst[:4]:
            print(f"    lowest {100 * share:5.1f}% of {n:6d}  {name}")
        worst.sort(key=lambda w: -(w[1] - round(w[0] * w[1])))
        for share, n, name in worst[:6]:
            print(f"    most missing {n - round(share * n):6d} of {n:6d}  {name}")
