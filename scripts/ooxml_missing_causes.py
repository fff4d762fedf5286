#!/usr/bin/env python3
"""Where the words missing from our text come from, per OOXML format.

    scripts/ooxml_missing_causes.py CORPUS/public MISSING [FORMAT...]

MISSING is the folder written by ooxml_word_share.py --missing. Each missing
word is looked up in the text of the package's XML parts and counted under
the kind of the first part that holds it (slides, notes, charts, embedded
objects, ...); "nowhere" means the reference made it up (a field result,
a recalculated formula, a number shown another way).
"""
import html
import os
import re
import sys
import zipfile

KINDS = [
    ("notes", r"notesSlides/|notesMasters/"),
    ("handout", r"handoutMasters/"),
    ("chart", r"/charts/|/chartDrawing"),
    ("embedded", r"/embeddings/"),
    ("diagram-drawing", r"/diagrams/drawing"),
    ("diagram", r"/diagrams/"),
    ("comments", r"comments|commentAuthors"),
    ("drawing", r"/drawings/"),
    ("docProps", r"docProps/"),
    ("glossary", r"/glossary/"),
    ("main", r"."),
]


def part_texts(path):
    texts = {}
    try:
        with zipfile.ZipFile(path) as z:
            for info in z.infolist():
                if not (info.filename.endswith(".xml") or info.filename.endswith(".rels")) or info.file_size > 64 << 20:
                    continue
                try:
                    data = z.read(info).decode("utf-8", errors="replace")
                except Exception:
                    continue
                words = html.unescape(re.sub(r"<[^>]*>", " ", data))
                texts[info.filename] = (words, html.unescape(data))
    except (zipfile.BadZipFile, OSError, NotImplementedError):
        pass
    return texts


def kind_of(name):
    for kind, pattern in KINDS:
        if re.search(pattern, "/" + name):
            return kind
    return "main"


def main():
    corpus, missing = sys.argv[1], sys.argv[2]
    formats = sys.argv[3:] or ["docx", "docm", "xlsx", "xlsm", "pptx", "pptm"]
    for fmt in formats:
        folder = os.path.join(missing, fmt)
        if not os.path.isdir(folder):
            continue
        totals = {}
        examples = {}
        all_missing = 0
        for name in sorted(os.listdir(folder)):
            if not name.endswith(".missing"):
                continue
            doc = name[: -len(".missing")]
            lines = open(os.path.join(folder, name), encoding="utf-8").read().splitlines()[1:]
            if not lines:
                continue
            texts = part_texts(os.path.join(corpus, fmt, doc))
            for line in lines:
                n, word = line.split("\t", 1)
                n = int(n)
                all_missing += n
                kind = "nowhere"
                for part, (text, raw) in sorted(texts.items(), key=lambda kv: kind_of(kv[0]) != "main"):
                    if word in text:
                        kind = kind_of(part) + ("" if kind_of(part) != "main" else ":" + re.sub(r"\d+\.xml$", "N.xml", part))
                        break
                    if word in raw:
                        kind = "markup:" + kind_of(part)
                if kind == "nowhere" and any(c.isdigit() for c in word) and not any(c.isalpha() for c in word):
                    kind = "nowhere (number)"
                totals[kind] = totals.get(kind, 0) + n
                examples.setdefault(kind, []).append("%s(%s)" % (word, doc[:12]))
        if not all_missing:
            continue
        print("%s: %d missing words" % (fmt, all_missing))
        for kind, n in sorted(totals.items(), key=lambda kv: -kv[1]):
            print("  %6d %5.1f%%  %-40s e.g. %s" % (n, 100.0 * n / all_missing, kind, " ".join(examples[kind][:6])))


if __name__ == "__main__":
    main()
