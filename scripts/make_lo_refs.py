#!/usr/bin/env python3
"""Reference texts of OOXML documents made by LibreOffice, for
scripts/ooxml_word_share.py.

    scripts/make_lo_refs.py CORPUS/public OUT [FORMAT...] [-j N] [--slides-only]

FORMAT is a folder of the corpus: the OOXML formats by default, or the
binary and other word-processing ones (doc, word95, word6, rtf, hml, hwp3,
xls, ppt). Writes OUT/FORMAT/NAME.txt for word-processing documents (LibreOffice's
text export) and presentations (the text of the slides, notes and masters
of an ODF conversion), and OUT/FORMAT/NAME-SHEET.csv for every sheet of a
spreadsheet (cells as shown). Each conversion runs with a time limit and
its own profile; a document LibreOffice cannot convert gets no reference.
Existing references are kept (delete OUT to make them again).
--slides-only leaves the notes and handout pages out of the presentations'
references (slides and masters only).
"""
import concurrent.futures
import glob
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import zipfile
import xml.etree.ElementTree as ET

TIMEOUT = 180
WRITER = "txt:Text (encoded):UTF8"
# Separator ',', quote '"', UTF-8, from line 1, no column types, language
# default, quoted text, detect numbers, save as shown, no formulas, no
# spaces trimmed, every sheet into its own file.
CALC = "csv:Text - txt - csv (StarCalc):44,34,76,1,,0,false,true,true,false,false,-1"
IMPRESS = "odp"
# The conversion of each corpus folder (presentations otherwise), and the
# extensions of its documents where they differ from the folder's name.
FILTERS = {"docx": WRITER, "docm": WRITER, "doc": WRITER, "word95": WRITER, "word6": WRITER, "rtf": WRITER,
           "hml": WRITER, "hwp3": WRITER, "xlsx": CALC, "xlsm": CALC, "xls": CALC}
EXTENSIONS = {"word95": (".doc",), "word6": (".doc",), "hwp3": (".hwp",)}

TEXT = "urn:oasis:names:tc:opendocument:xmlns:text:1.0"
PRESENTATION = "urn:oasis:names:tc:opendocument:xmlns:presentation:1.0"
STYLE = "urn:oasis:names:tc:opendocument:xmlns:style:1.0"
# The folder of the workers' LibreOffice profiles (made for each run).
PROFILES = [None]
# With --slides-only, presentations leave out their notes and handouts.
SKIPPED = set()
PARAGRAPHS = {"{%s}p" % TEXT, "{%s}h" % TEXT}


def odf_text(data):
    """The text of every paragraph of an ODF XML part, a line each."""
    try:
        root = ET.fromstring(data)
    except ET.ParseError:
        return ""
    lines = []

    def inline(node, out):
        if node.text:
            out.append(node.text)
        for child in node:
            tag = child.tag
            if tag == "{%s}s" % TEXT:
                out.append(" " * int(child.get("{%s}c" % TEXT, "1") or 1))
            elif tag in ("{%s}tab" % TEXT, "{%s}line-break" % TEXT):
                out.append(" ")
            elif tag == "{%s}page-number" % TEXT:
                pass  # a field LibreOffice shows as "<number>" on masters
            elif tag in PARAGRAPHS:
                walk(child)
            else:
                inline(child, out)
            if child.tail:
                out.append(child.tail)

    def walk(node):
        if node.tag in SKIPPED:
            return
        if node.tag in PARAGRAPHS:
            out = []
            inline(node, out)
            lines.append("".join(out))
            return
        for child in node:
            walk(child)

    walk(root)
    return "\n".join(lines) + "\n"


def soffice(filt, out, inputs, worker, timeout):
    """Converts inputs into out; False when the time ran out."""
    # Its own session, so that a conversion that hangs is ended with every
    # process it started and nothing else.
    run = subprocess.Popen(["soffice", "--headless", "--norestore",
                            "-env:UserInstallation=file://%s/profile-%d" % (PROFILES[0], worker),
                            "--convert-to", filt, "--outdir", out] + inputs,
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, start_new_session=True)
    try:
        run.wait(timeout=timeout)
        return True
    except subprocess.TimeoutExpired:
        os.killpg(run.pid, signal.SIGKILL)
        run.wait()
        return False


def store(filt, out, stem, outdir, base):
    """Moves the output of input STEM to its reference; False when none."""
    made = sorted(n for n in os.listdir(out) if n == stem or n.startswith(stem + ".") or n.startswith(stem + "-"))
    if not made:
        return False
    if filt == IMPRESS:
        text = ""
        try:
            with zipfile.ZipFile(os.path.join(out, made[0])) as z:
                for part in ("content.xml", "styles.xml"):
                    if part in z.namelist():
                        text += odf_text(z.read(part))
        except zipfile.BadZipFile:
            return False
        with open(os.path.join(outdir, base + ".txt"), "w", encoding="utf-8") as f:
            f.write(text)
        os.remove(os.path.join(out, made[0]))
    elif filt == WRITER:
        shutil.move(os.path.join(out, made[0]), os.path.join(outdir, base + ".txt"))
    else:
        for name in made:
            sheet = name[len(stem):]  # "-SHEET.csv" or ".csv"
            if sheet.startswith("."):
                sheet = "-1" + sheet
            shutil.move(os.path.join(out, name), os.path.join(outdir, base + sheet))
    return True


def convert_batch(batch, worker):
    """Converts a batch of (format, source, outdir) with one LibreOffice run;
    after a time-out, the documents not done are converted one by one."""
    results = {}
    todo = []
    for fmt, src, outdir in batch:
        base = os.path.splitext(os.path.basename(src))[0]
        if glob.glob(os.path.join(outdir, glob.escape(base) + ".txt")) or \
                glob.glob(os.path.join(outdir, glob.escape(base) + "-*.csv")):
            results[src] = "kept"
        else:
            todo.append((fmt, src, outdir, base))
    if not todo:
        return results
    fmt = todo[0][0]
    filt = FILTERS.get(fmt, IMPRESS)
    tmp = tempfile.mkdtemp(prefix="lo-ref-")
    try:
        # Private copies with plain names: LibreOffice names its output after
        # the input, and some corpus names hold odd characters.
        inputs = []
        for i, (fmt, src, outdir, base) in enumerate(todo):
            plain = os.path.join(tmp, "d%03d%s" % (i, os.path.splitext(src)[1].lower()))
            shutil.copyfile(src, plain)
            inputs.append(plain)
        out = os.path.join(tmp, "out")
        os.mkdir(out)
        finished = soffice(filt, out, inputs, worker, TIMEOUT if len(inputs) == 1 else 60 + 30 * len(inputs))
        for i, (fmt, src, outdir, base) in enumerate(todo):
            stem = "d%03d" % i
            if store(filt, out, stem, outdir, base):
                results[src] = "made"
                continue
            if not finished and len(todo) > 1:
                alone = soffice(filt, out, [inputs[i]], worker, TIMEOUT)
                if store(filt, out, stem, outdir, base):
                    results[src] = "made"
                    continue
                results[src] = "failed" if alone else "timeout"
            else:
                results[src] = "failed" if finished else "timeout"
        return results
    finally:
        shutil.rmtree(tmp, ignore_errors=True)


def main():
    args = sys.argv[1:]
    workers = 2
    if "-j" in args:
        i = args.index("-j")
        workers = int(args[i + 1])
        del args[i:i + 2]
    if "--slides-only" in args:
        args.remove("--slides-only")
        SKIPPED.update({"{%s}notes" % PRESENTATION, "{%s}handout-master" % STYLE})
    corpus, refs = args[0], args[1]
    formats = args[2:] or ["docx", "docm", "xlsx", "xlsm", "pptx", "pptm"]
    jobs = []
    for fmt in formats:
        folder = os.path.join(corpus, fmt)
        if not os.path.isdir(folder):
            continue
        outdir = os.path.join(refs, fmt)
        os.makedirs(outdir, exist_ok=True)
        for name in sorted(os.listdir(folder)):
            if os.path.splitext(name)[1].lower() in EXTENSIONS.get(fmt, ("." + fmt,)):
                jobs.append((fmt, os.path.join(folder, name), outdir))
    # Batches of one format, a few documents each; one profile per worker
    # (LibreOffice refuses a second instance on a profile).
    batches = []
    for job in jobs:
        if batches and batches[-1][-1][0] == job[0] and len(batches[-1]) < 8:
            batches[-1].append(job)
        else:
            batches.append([job])
    results = {}

    def run_slot(w):
        done = {}
        for b in batches[w::workers]:
            done.update(convert_batch(b, w))
        return done

    PROFILES[0] = tempfile.mkdtemp(prefix="lo-refs-")
    try:
        with concurrent.futures.ThreadPoolExecutor(workers) as pool:
            for done in pool.map(run_slot, range(workers)):
                results.update(done)
    finally:
        shutil.rmtree(PROFILES[0], ignore_errors=True)
    for src, status in sorted(results.items()):
        if status not in ("made", "kept"):
            print("%-8s %s" % (status, src))
    counts = {}
    for status in results.values():
        counts[status] = counts.get(status, 0) + 1
    print(", ".join("%s %d" % kv for kv in sorted(counts.items())))


if __name__ == "__main__":
    main()
