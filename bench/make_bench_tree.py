#!/usr/bin/env python3
"""Builds a benchmark tree of documents from the test corpora.

    make_bench_tree.py DEST COUNT [--per-folder N] [--fanout N] [--kinds EXT,...] [SOURCE...]

DEST receives COUNT documents taken in turn from the SOURCE folders (default:
the public corpus beside the project), hard-linked where the file system
allows and copied otherwise, N to a folder (default 100) and folders grouped
FANOUT to a parent (default 100): DEST/g0000/f0000/000000-name.docx. Only the
documents a search reads are taken (the eight extensions, or the ones given
with --kinds). DEST must not exist; the tree is benchmark input, never
project data: put it in a temporary folder and remove it after use.
"""
import argparse
import os
import shutil
import sys

KINDS = ("doc", "docx", "hwp", "pdf", "ppt", "pptx", "xls", "xlsx")


def sources(folders, kinds):
    found = []
    for top in folders:
        for root, dirs, files in os.walk(top):
            dirs.sort()
            for name in sorted(files):
                ext = name.rsplit(".", 1)[-1].lower() if "." in name else ""
                path = os.path.join(root, name)
                if ext in kinds and os.path.isfile(path) and not os.path.islink(path):
                    found.append(path)
    return found


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    default = os.path.normpath(os.path.join(here, "..", "..", "shared", "corpus", "public"))
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("dest")
    ap.add_argument("count", type=int)
    ap.add_argument("--per-folder", type=int, default=100)
    ap.add_argument("--fanout", type=int, default=100)
    ap.add_argument("--kinds", default=",".join(KINDS))
    ap.add_argument("source", nargs="*")
    a = ap.parse_args()
    kinds = tuple(k.strip().lower() for k in a.kinds.split(",") if k.strip())
    docs = sources(a.source or [default], kinds)
    if not docs:
        sys.exit("make_bench_tree: no documents in " + ", ".join(a.source or [default]))
    if os.path.exists(a.dest):
        sys.exit("make_bench_tree: %s exists" % a.dest)
    linked = copied = 0
    for i in range(a.count):
        folder = i // a.per_folder
        parent = os.path.join(a.dest, "g%04d" % (folder // a.fanout), "f%04d" % folder)
        if i % a.per_folder == 0:
            os.makedirs(parent)
        src = docs[i % len(docs)]
        dst = os.path.join(parent, "%06d-%s" % (i, os.path.basename(src)))
        try:
            os.link(src, dst)
            linked += 1
        except OSError:
            shutil.copyfile(src, dst)
            copied += 1
    print("%s: %d documents (%d linked, %d copied) from %d sources" % (a.dest, a.count, linked, copied, len(docs)))


if __name__ == "__main__":
    main()
