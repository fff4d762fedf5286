#!/usr/bin/env python3
"""Share of the words of LibreOffice's text conversion that appear in our
text, for Excel 97-2003 workbooks (.xls) and PowerPoint 97-2003
presentations (.ppt).

    scripts/binoffice_word_share.py [--make-refs] [--missing DIR] [--timeout S]
                                    [--profile DIR] [--reverse] TOOL CORPUS/public REFS

TOOL is build/bin/extract-text. REFS holds the references:
  REFS/xls/NAME-SHEET.csv   every sheet as csv, cells formatted as shown
  REFS/ppt/NAME.txt         the text of the slides, notes and masters
--make-refs converts every document that has no reference yet with soffice
(one process per document, a time limit each; a document that LibreOffice
cannot convert is marked NAME.failed and skipped). --missing writes, per
document, the reference words not found in our text to DIR/FORMAT/NAME.txt.

A reference word counts as found when it is a word of our text or a part of
one (a substring of the text), as in scripts/ooxml_word_share.py.
"""
import argparse
import csv
import glob
import os
import shutil
import subprocess
import sys
import tempfile
import xml.etree.ElementTree as ET
import zipfile

FORMATS = ["xls", "ppt"]
# The compound-file signature D0 CF 11 E0 A1 B1 as LibreOffice writes it when
# it imports a file it cannot read as text (in UTF-8).
CFB_AS_TEXT = "\u00d0\u00cf\u0011\u00e0\u00a1\u00b1".encode("utf-8")
CSV_FILTER = "csv:Text - txt - csv (StarCalc):44,34,76,1,,0,false,true,true,false,false,-1"

TEXT_NS = "urn:oasis:names:tc:opendocument:xmlns:text:1.0"
STYLE_NS = "urn:oasis:names:tc:opendocument:xmlns:style:1.0"
OFFICE_NS = "urn:oasis:names:tc:opendocument:xmlns:office:1.0"
PRES_NS = "urn:oasis:names:tc:opendocument:xmlns:presentation:1.0"


def run_isolated(cmd, timeout):
    proc = subprocess.Popen(cmd, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, start_new_session=True)
    try:
        proc.wait(timeout=timeout)
        return True
    except subprocess.TimeoutExpired:
        os.killpg(proc.pid, 9)
        proc.wait()
        return False


PROFILE = "/tmp/binoffice-lo-profile"


def lo_command(args):
    return ["soffice", "--headless", "-env:UserInstallation=file://" + PROFILE] + args


# ---- ODP text ---------------------------------------------------------------

# Field elements whose content LibreOffice renders (page numbers, dates):
# not text of the document.
SKIPPED_FIELDS = {
    "{%s}page-number" % TEXT_NS, "{%s}page-count" % TEXT_NS,
    "{%s}date" % TEXT_NS, "{%s}time" % TEXT_NS,
}


def paragraph_text(element, out):
    if element.tag in SKIPPED_FIELDS:
        if element.tail:
            out.append(element.tail)
        return
    if element.tag == "{%s}s" % TEXT_NS:
        out.append(" " * int(element.get("{%s}c" % TEXT_NS, "1")))
    elif element.tag in ("{%s}tab" % TEXT_NS, "{%s}line-break" % TEXT_NS):
        out.append(" ")
    elif element.text:
        out.append(element.text)
    for child in element:
        paragraph_text(child, out)
    if element.tail:
        out.append(element.tail)


def paragraphs(root):
    lines = []
    for el in root.iter():
        if el.tag in ("{%s}p" % TEXT_NS, "{%s}h" % TEXT_NS):
            out = []
            if el.text:
                out.append(el.text)
            for child in el:
                paragraph_text(child, out)
            lines.append("".join(out))
    return lines


def odp_text(path):
    """Slides and their notes (content.xml), masters (styles.xml)."""
    lines = []
    with zipfile.ZipFile(path) as z:
        content = ET.fromstring(z.read("content.xml"))
        body = content.find("{%s}body" % OFFICE_NS)
        if body is not None:
            lines += paragraphs(body)
        styles = ET.fromstring(z.read("styles.xml"))
        for master in styles.iter("{%s}master-page" % STYLE_NS):
            lines += paragraphs(master)
    return "\n".join(lines) + "\n"


# ---- References ----------------------------------------------------------------


def make_refs(corpus, refs, timeout, reverse):
    for fmt in FORMATS:
        folder = os.path.join(corpus, fmt)
        out = os.path.join(refs, fmt)
        os.makedirs(out, exist_ok=True)
        for name in sorted(os.listdir(folder), reverse=reverse):
            if not name.lower().endswith("." + fmt):
                continue
            base = name[: -len(fmt) - 1]
            if os.path.exists(os.path.join(out, base + ".failed")) or reference_files(refs, fmt, base):
                continue
            src = os.path.join(folder, name)
            tmp = tempfile.mkdtemp(prefix="s-lo-")
            ok = False
            try:
                if fmt == "xls":
                    ok = run_isolated(lo_command(["--convert-to", CSV_FILTER, "--outdir", tmp, src]), timeout)
                    made = sorted(glob.glob(os.path.join(tmp, "*.csv")))
                    ok = ok and bool(made)
                    for f in made:
                        shutil.move(f, os.path.join(out, os.path.basename(f)))
                else:
                    ok = run_isolated(lo_command(["--convert-to", "odp", "--outdir", tmp, src]), timeout)
                    odp = os.path.join(tmp, base + ".odp")
                    ok = ok and os.path.exists(odp)
                    if ok:
                        try:
                            text = odp_text(odp)
                        except (zipfile.BadZipFile, ET.ParseError, KeyError):
                            ok = False
                        else:
                            with open(os.path.join(out, base + ".txt"), "w", encoding="utf-8") as f:
                                f.write(text)
            finally:
                shutil.rmtree(tmp, ignore_errors=True)
            if not ok:
                open(os.path.join(out, base + ".failed"), "w").close()
            print(f"{fmt} {'ok    ' if ok else 'FAILED'} {name}", file=sys.stderr, flush=True)


def reference_files(refs, fmt, base):
    if fmt == "xls":
        # NAME-SHEET.csv; a sheet name may itself hold "-", so the files of
        # another document whose name extends this one are told apart by
        # the list of documents (see documents()).
        return sorted(glob.glob(os.path.join(refs, fmt, glob.escape(base) + "-*.csv")))
    txt = os.path.join(refs, fmt, base + ".txt")
    return [txt] if os.path.exists(txt) else []


def reference_words(refs, fmt, base, others):
    files = [f for f in reference_files(refs, fmt, base)
             if not any(os.path.basename(f).startswith(o + "-") for o in others)]
    if not files:
        return None
    with open(files[0], "rb") as fh:
        if CFB_AS_TEXT in fh.read(16):
            return None  # LibreOffice did not know the workbook and read its bytes as text
    words = []
    for f in files:
        with open(f, encoding="utf-8", errors="replace", newline="") as fh:
            if f.endswith(".csv"):
                for row in csv.reader(fh):
                    for cell in row:
                        words += cell.split()
            else:
                words += fh.read().replace("\ufeff", "").split()
    return words


def main():
    global PROFILE
    ap = argparse.ArgumentParser()
    ap.add_argument("--make-refs", action="store_true")
    ap.add_argument("--missing")
    ap.add_argument("--timeout", type=float, default=120)
    # A second conversion run alongside the first needs a profile of its own.
    ap.add_argument("--profile", default="/tmp/binoffice-lo-profile")
    ap.add_argument("--reverse", action="store_true", help="convert in reverse order of names")
    ap.add_argument("tool")
    ap.add_argument("corpus")
    ap.add_argument("refs")
    args = ap.parse_args()
    if args.make_refs:
        PROFILE = args.profile
        make_refs(args.corpus, args.refs, args.timeout, args.reverse)

    for fmt in FORMATS:
        folder = os.path.join(args.corpus, fmt)
        if not os.path.isdir(folder):
            continue
        names = sorted(n for n in os.listdir(folder) if n.lower().endswith("." + fmt))
        bases = [n[: -len(fmt) - 1] for n in names]
        total = found = docs = unread = noref = 0
        text_total = text_found = 0
        worst = []
        for name, base in zip(names, bases):
            # Longer document names that start with this one and a "-".
            others = [b for b in bases if b != base and b.startswith(base + "-")]
            words = reference_words(args.refs, fmt, base, others)
            if not words:
                noref += 1
                continue
            try:
                run = subprocess.run([args.tool, os.path.join(folder, name)], capture_output=True, timeout=120)
            except subprocess.TimeoutExpired:
                run = None
            if run is None or run.returncode != 0:
                unread += 1  # encrypted, damaged, or not of this format
                continue
            text = run.stdout.decode("utf-8", errors="replace")
            ours = set(text.split())
            missing = [w for w in words if not (w in ours or w in text)]
            hit = len(words) - len(missing)
            lettered = [w for w in words if any(c.isalpha() for c in w)]
            text_total += len(lettered)
            text_found += sum(1 for w in lettered if w in ours or w in text)
            docs += 1
            total += len(words)
            found += hit
            worst.append((hit / len(words), len(words), len(missing), name))
            if args.missing:
                os.makedirs(os.path.join(args.missing, fmt), exist_ok=True)
                with open(os.path.join(args.missing, fmt, base + ".txt"), "w", encoding="utf-8") as f:
                    f.write("\n".join(missing) + ("\n" if missing else ""))
        if docs:
            print(f"{fmt}: {docs} documents, {found}/{total} words = {100.0 * found / total:.1f}%"
                  f" ({unread} not read, {noref} without reference); words with letters "
                  f"{text_found}/{text_total} = {100.0 * text_found / max(text_total, 1):.1f}%")
            worst.sort(key=lambda w: -w[2])
            for share, n, miss, name in worst[:8]:
                print(f"    missing {miss:6d} of {n:6d} ({100 * share:5.1f}% found)  {name}")


if __name__ == "__main__":
    main()
