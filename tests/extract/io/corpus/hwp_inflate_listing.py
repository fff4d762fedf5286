#!/usr/bin/python3
"""For every compressed HWP 5 document under a folder, decompresses DocInfo
and BodyText/Section* with an independent raw-deflate decoder and prints
    <file>\t<stream>\t<decompressed size>\t<crc32>
or <file>\t<stream>\t! when the stream does not decode to its end."""
import os
import sys
import zlib

import olefile


def main(root):
    out = sys.stdout
    for dirpath, _, files in sorted(os.walk(root)):
        for fn in sorted(files):
            path = os.path.join(dirpath, fn)
            try:
                if not olefile.isOleFile(path):
                    continue
                ole = olefile.OleFileIO(path)
            except Exception:  # noqa: BLE001
                continue
            try:
                if not ole.exists('FileHeader'):
                    continue
                header = ole.openstream('FileHeader').read()
                if len(header) < 40 or not header.startswith(b'HWP Document File') or not header[36] & 1:
                    continue
                names = ['DocInfo'] + ['BodyText/' + e[1] for e in ole.listdir()
                                       if len(e) == 2 and e[0] == 'BodyText']
                for name in names:
                    if not ole.exists(name):
                        continue
                    try:
                        data = ole.openstream(name).read()
                        d = zlib.decompressobj(-15)
                        plain = d.decompress(data)
                        if not d.eof:
                            raise ValueError
                        out.write('%s\t%s\t%d\t%08x\n' % (path, name, len(plain), zlib.crc32(plain) & 0xFFFFFFFF))
                    except Exception:  # noqa: BLE001
                        out.write('%s\t%s\t!\n' % (path, name))
            finally:
                ole.close()


if __name__ == '__main__':
    main(sys.argv[1])
