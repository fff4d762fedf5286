#!/usr/bin/python3
"""Lists every stream of every compound file under a folder with an
independent reader, one line per stream:
    <file>\t<stream path>\t<size>\t<crc32 of the contents>
and <file>\t!<reason> for a file the reader rejects or a stream it cannot read.
Names are UTF-8 with control characters, '%' and '/' written as %XX."""
import os
import sys
import zlib

import olefile

NOSTREAM = 0xFFFFFFFF


def directory_damaged(ole):
    """True when the directory tree has a link outside the directory, an
    entry reached twice or an entry of an unknown type (the other reader
    patches over these; ours rejects the file), or a damaged name."""
    raw = ole.direntries
    count = len(raw)
    seen = set()
    todo = [0]
    while todo:
        sid = todo.pop()
        if sid >= count or sid in seen:
            return True
        seen.add(sid)
        e = raw[sid] if raw[sid] is not None else ole._load_direntry(sid)
        if e.entry_type not in (0, 1, 2, 5) or (sid != 0 and e.entry_type == 5):
            return True
        # Names of an odd byte length or with a zero inside are read
        # differently by the two readers.
        if e.entry_type != 0 and (e.namelength % 2 or '\x00' in e.name):
            return True
        for link in (e.sid_left, e.sid_right) if sid != 0 else ():
            if link != NOSTREAM:
                todo.append(link)
        if e.entry_type in (1, 5) and e.sid_child != NOSTREAM:
            todo.append(e.sid_child)
    return False


def chain_damaged(ole, entry):
    """True when the stream's sector chain loops or leaves its table."""
    sid = ole._find(entry)
    e = ole.direntries[sid]
    if e.size < ole.minisectorcutoff:
        ole.loadminifat()
        table, unit = ole.minifat, ole.minisectorsize
    else:
        table, unit = ole.fat, ole.sectorsize
    need = (e.size + unit - 1) // unit
    sect, seen = e.isectStart, set()
    for _ in range(need):
        if sect >= len(table) or sect in seen:
            return True
        seen.add(sect)
        sect = table[sect]
    return False


def esc(name):
    out = []
    for ch in name:
        if 0xD800 <= ord(ch) <= 0xDFFF:
            ch = '\ufffd'
        if ord(ch) < 0x20 or ch in '%/\t':
            out.append('%%%02X' % ord(ch))
        else:
            out.append(ch)
    return ''.join(out)


def main(root):
    out = sys.stdout
    for dirpath, _, files in sorted(os.walk(root)):
        for fn in sorted(files):
            path = os.path.join(dirpath, fn)
            try:
                with open(path, 'rb') as f:
                    if f.read(8) != b'\xd0\xcf\x11\xe0\xa1\xb1\x1a\xe1':
                        continue
            except OSError:
                continue
            try:
                ole = olefile.OleFileIO(path)
            except Exception as e:  # noqa: BLE001 - any rejection counts
                out.write('%s\t!open %s\n' % (path, type(e).__name__))
                continue
            if directory_damaged(ole):
                out.write('%s\t!open damaged directory\n' % path)
                ole.close()
                continue
            for entry in ole.listdir(streams=True, storages=False):
                name = '/'.join(esc(p) for p in entry)
                try:
                    size = ole.get_size(entry)
                    if chain_damaged(ole, entry):
                        raise EOFError
                    data = ole.openstream(entry).read()
                    if len(data) != size:
                        # Damaged chain that the reader patched over: no reference.
                        raise EOFError
                    out.write('%s\t%s\t%d\t%08x\n' % (path, name, size, zlib.crc32(data) & 0xFFFFFFFF))
                except Exception as e:  # noqa: BLE001
                    out.write('%s\t%s\t!read %s\n' % (path, name, type(e).__name__))
            ole.close()


if __name__ == '__main__':
    main(sys.argv[1])
