#!/usr/bin/env python3
"""Writes tests/platform/data/codec_cases.tsv: conversion cases for code
pages 949 and 1361 taken from Python's own 'cp949' and 'johab' codecs.

Each line: code page, direction, input, expected output.
  dec  <bytes in hex>        <UTF-16 units in hex, space separated>
  enc  <UTF-16 units in hex> <bytes in hex>
Decoding uses errors='replace' (U+FFFD marks a substituted byte), encoding
errors='replace' ('?' for a character without an encoding). The cases are a
fixed sample, so re-running the script gives the same file.
"""
import os
import random
import sys

OUT = os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', 'tests', 'platform', 'data',
                   'codec_cases.tsv')


def units(text):
    data = text.encode('utf-16-le')
    return ' '.join('%04X' % int.from_bytes(data[i:i + 2], 'little') for i in range(0, len(data), 2))


def valid_pairs(enc):
    pairs = []
    for lead in range(0x80, 0x100):
        for trail in range(0x00, 0x100):
            b = bytes([lead, trail])
            try:
                t = b.decode(enc)
            except UnicodeDecodeError:
                continue
            if len(t) == 1:
                pairs.append(b)
    return pairs


def main():
    rows = []
    rnd = random.Random(949)
    for cp, enc in ((949, 'cp949'), (1361, 'johab')):
        pairs = valid_pairs(enc)
        dec = set(pairs[::37])
        if cp == 1361:
            dec.update(p for p in pairs if p[0] == 0x84 and p[1] < 0x80)  # lone final consonants
            dec.update(p for p in pairs if p[1] == 0x5C)  # trail byte 0x5C inside a pair
        # Every single byte, alone and between ASCII letters.
        for b in range(0x100):
            dec.add(bytes([b]))
            dec.add(b'a' + bytes([b]) + b'z')
        # Broken sequences: lone lead bytes, bad trail bytes, cut pairs.
        alphabet = [0x00, 0x20, 0x41, 0x5C, 0x61, 0x7F, 0x80, 0x81, 0x84, 0x88, 0xA1, 0xB0, 0xC9, 0xD9,
                    0xE8, 0xFE, 0xFF, 0x31]
        for _ in range(300):
            n = rnd.randrange(2, 8)
            dec.add(bytes(rnd.choice(alphabet) if rnd.random() < 0.7 else rnd.randrange(256)
                          for _ in range(n)))
        for b in sorted(dec):
            rows.append('%d\tdec\t%s\t%s' % (cp, b.hex().upper(), units(b.decode(enc, 'replace'))))

        encodable = [p.decode(enc) for p in pairs]
        chars = set(encodable[::41])
        chars.update('\\~\u20a9\u00a5\u3000\u00a0\u00b7\u2015\u20ac\u30fb\uffe6\u327e')
        for _ in range(150):
            cpnt = rnd.randrange(0x80, 0x10000)
            if not 0xD800 <= cpnt < 0xE000:
                chars.add(chr(cpnt))
        chars.add('\U0001F600')
        for ch in sorted(chars):
            rows.append('%d\tenc\t%s\t%s' % (cp, units(ch), ch.encode(enc, 'replace').hex().upper()))
    os.makedirs(os.path.dirname(OUT), exist_ok=True)
    with open(OUT, 'w', encoding='ascii', newline='\n') as f:
        f.write('# code page\tdirection\tinput\texpected (made by scripts/make_codec_table.py)\n')
        f.write('\n'.join(rows) + '\n')
    print('%d cases written to %s' % (len(rows), os.path.relpath(OUT)), file=sys.stderr)


if __name__ == '__main__':
    main()
