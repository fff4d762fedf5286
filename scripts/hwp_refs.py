#!/usr/bin/env python3
"""Reference texts of HWP documents, which LibreOffice does not read, for
scripts/ooxml_word_share.py.

    scripts/hwp_refs.py CORPUS/public OUT

Writes OUT/hwp/NAME.txt, the preview text that an HWP 5 document stores
beside its body (the "PrvText" stream: the start of the document as its
writer saw it, tables and boxes in angle brackets), and OUT/hml/NAME.txt,
the characters of every paragraph of an HWPML document (a line each; tabs,
line breaks and the fixed blanks as blanks), taken from the XML itself.
A document without a preview (or one that cannot be parsed) gets none.
"""
import os
import struct
import sys
import xml.etree.ElementTree as ET

FREE, END = 0xFFFFFFFF, 0xFFFFFFFE


def cfb_stream(data, wanted):
    """The bytes of the root-level stream named wanted, or None."""
    if data[:8] != b"\xd0\xcf\x11\xe0\xa1\xb1\x1a\xe1":
        return None
    ssz = 1 << struct.unpack_from("<H", data, 30)[0]
    msz = 1 << struct.unpack_from("<H", data, 32)[0]
    nfat, dirstart, _, cutoff, minifat, nmini, difat, ndifat = struct.unpack_from("<IIIIIIII", data, 44)

    def sector(i):
        return data[(i + 1) * ssz:(i + 2) * ssz]

    fatsecs = list(struct.unpack_from("<109I", data, 76))
    d = difat
    for _ in range(ndifat):
        if d >= END:
            break
        s = sector(d)
        n = ssz // 4 - 1
        fatsecs += struct.unpack_from("<%dI" % n, s)
        d = struct.unpack_from("<I", s, n * 4)[0]
    fat = []
    for f in fatsecs[:nfat]:
        s = sector(f)
        fat += struct.unpack_from("<%dI" % (len(s) // 4), s)

    def chain(start, limit=1 << 20):
        out, seen = [], set()
        while start < END and start < len(fat) and start not in seen and len(out) < limit:
            seen.add(start)
            out.append(start)
            start = fat[start]
        return out

    def read(start):
        return b"".join(sector(i) for i in chain(start))

    dirs = read(dirstart)
    entries = []
    for off in range(0, len(dirs) - 127, 128):
        e = dirs[off:off + 128]
        nlen = struct.unpack_from("<H", e, 64)[0]
        name = e[:max(nlen - 2, 0)].decode("utf-16-le", "replace")
        etype = e[66]
        start, size = struct.unpack_from("<IQ", e, 116)
        entries.append((name, etype, start, size & 0xFFFFFFFF))
    if not entries:
        return None
    root = entries[0]
    ministream = read(root[2])
    mfat = []
    if nmini:
        m = read(minifat)
        mfat = list(struct.unpack_from("<%dI" % (len(m) // 4), m))
    for name, etype, start, size in entries:
        if etype != 2 or name != wanted:
            continue
        if size < cutoff:
            out, seen, i = [], set(), start
            while i < END and i < len(mfat) and i not in seen:
                seen.add(i)
                out.append(ministream[i * msz:(i + 1) * msz])
                i = mfat[i]
            return b"".join(out)[:size]
        return read(start)[:size]
    return None


def hwpml_text(path):
    try:
        root = ET.parse(path).getroot()
    except ET.ParseError:
        return None
    lines = []

    def paragraph(p):
        parts = []
        for child in p:
            if child.tag != "TEXT":
                continue
            for ch in child:
                if ch.tag != "CHAR":
                    continue
                if ch.text:
                    parts.append(ch.text)
                for sub in ch:
                    if sub.tag in ("TAB", "LINEBREAK", "NBSPACE", "FWSPACE"):
                        parts.append(" ")
                    if sub.tail:
                        parts.append(sub.tail)
        lines.append("".join(parts))

    for p in root.iter("P"):
        paragraph(p)
    return "\n".join(lines) + "\n"


def main():
    corpus, out = sys.argv[1], sys.argv[2]
    made = 0
    folder = os.path.join(corpus, "hwp")
    if os.path.isdir(folder):
        os.makedirs(os.path.join(out, "hwp"), exist_ok=True)
        for name in sorted(os.listdir(folder)):
            try:
                data = open(os.path.join(folder, name), "rb").read()
                prv = cfb_stream(data, "PrvText")
            except (struct.error, IndexError):
                prv = None
            if not prv:
                continue
            text = prv.decode("utf-16-le", "replace").split("\x00")[0]
            # The preview marks tables and boxes with angle brackets.
            text = text.replace("<", " ").replace(">", " ")
            with open(os.path.join(out, "hwp", os.path.splitext(name)[0] + ".txt"), "w", encoding="utf-8") as f:
                f.write(text)
            made += 1
    folder = os.path.join(corpus, "hml")
    if os.path.isdir(folder):
        os.makedirs(os.path.join(out, "hml"), exist_ok=True)
        for name in sorted(os.listdir(folder)):
            text = hwpml_text(os.path.join(folder, name))
            if text is None:
                continue
            with open(os.path.join(out, "hml", os.path.splitext(name)[0] + ".txt"), "w", encoding="utf-8") as f:
                f.write(text)
            made += 1
    print("made %d references" % made)


if __name__ == "__main__":
    main()
