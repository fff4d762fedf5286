#!/usr/bin/env python3
"""word_coverage.py TOOL REFDIR FILE...: for each FILE, the share of the words
of REFDIR/<stem>.txt (a reference text conversion) that appear in the text
TOOL prints for FILE, and the total over all files."""
import collections
import os
import subprocess
import sys


def words(text):
    return [w for w in text.split() if any(c.isalnum() for c in w)]


def main():
    if any(a in ('-h', '--help') for a in sys.argv[1:]):
        print('usage: ' + __doc__)
        return 0
    if len(sys.argv) < 3:
        sys.stderr.write('usage: ' + __doc__ + '\n')
        return 2
    tool, refdir, files = sys.argv[1], sys.argv[2], sys.argv[3:]
    total_ref = total_hit = 0
    for f in files:
        ref_path = os.path.join(refdir, os.path.splitext(os.path.basename(f))[0] + '.txt')
        if not os.path.exists(ref_path):
            continue
        with open(ref_path, encoding='utf-8', errors='replace') as r:
            ref = words(r.read().replace('\ufeff', ''))
        ours = subprocess.run([tool, f], capture_output=True, timeout=120).stdout.decode('utf-8', 'replace')
        have = collections.Counter(words(ours))
        joined = ' '.join(ours.split())
        hit = 0
        for w in ref:
            if have[w] > 0 or w in joined:
                hit += 1
        total_ref += len(ref)
        total_hit += hit
        share = 100.0 * hit / len(ref) if ref else 100.0
        print(f'{share:6.1f}% {hit:6d}/{len(ref):<6d} {os.path.basename(f)}')
    if total_ref:
        print(f'total {100.0 * total_hit / total_ref:.1f}% ({total_hit}/{total_ref})')
    return 0


if __name__ == '__main__':
    sys.exit(main())
