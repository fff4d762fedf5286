#!/usr/bin/env python3
"""hwp3_word_share.py EXTRACT_TEXT FILE...

For each HWP 3 document, the share of the words of the office suite's own
text conversion (soffice --headless --convert-to txt) that appear in the
text of extract-text, counted with multiplicity; one line per file and the
overall share last."""
import collections
import os
import subprocess
import sys
import tempfile


def words(text):
    return collections.Counter(text.split())


def main():
    if any(a in ('-h', '--help') for a in sys.argv[1:]):
        print('usage: ' + __doc__)
        return 0
    if len(sys.argv) < 3:
        sys.stderr.write('usage: ' + __doc__ + '\n')
        return 3
    tool = sys.argv[1]
    total_ref = total_hit = 0
    with tempfile.TemporaryDirectory() as tmp:
        for path in sys.argv[2:]:
            subprocess.run(['soffice', '--headless', '-env:UserInstallation=file://' + tmp + '/profile',
                            '--convert-to', 'txt:Text (encoded):UTF8', '--outdir', tmp, path],
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=300)
            ref_path = os.path.join(tmp, os.path.splitext(os.path.basename(path))[0] + '.txt')
            try:
                with open(ref_path, encoding='utf-8', errors='replace') as f:
                    ref = words(f.read().lstrip('\ufeff'))
            except FileNotFoundError:
                print('%s: no reference text' % path)
                continue
            ours = words(subprocess.run([tool, path], capture_output=True).stdout.decode('utf-8', 'replace'))
            hit = sum(min(n, ours[w]) for w, n in ref.items())
            count = sum(ref.values())
            total_ref += count
            total_hit += hit
            share = 100.0 * hit / count if count else 100.0
            print('%6.1f%%  %5d of %5d words  %s' % (share, hit, count, os.path.basename(path)))
    if total_ref:
        print('%6.1f%%  %5d of %5d words  overall' % (100.0 * total_hit / total_ref, total_hit, total_ref))
    return 0


if __name__ == '__main__':
    sys.exit(main())
