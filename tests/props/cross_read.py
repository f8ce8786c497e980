#!/usr/bin/python3
"""Our engine and Wine's ole32 read each other's documents alike: usage LINUX_TOOL WINDOWS_TOOL WINE_STATE FIXTURES"""
import os
import re
import subprocess
import sys
import tempfile

sys.dont_write_bytecode = True  # no __pycache__ in the source tree
from compare_with_poi import copy_fixtures, run  # noqa: E402

# Held to 2 GiB of data: Wine's ole32 takes memory without end on FatChainLoop_v3.cfs's looping chain.
WINE = ['prlimit', '--data=%d' % (2 << 30), 'bash',
        os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', 'windows', 'wine.sh'), 'run']
DOCSUM = ('document', 'user')
MIN_SETS = 49  # every set of the 21 fixtures and the 6 written documents, as either side finds them
SKIPPED = 77  # wine.sh: this machine cannot run this build's programs
no_vectors = lambda block: [l for l in block if not re.search(r' vt=(4108|4126) ', l)]  # noqa: E731,E741


# (id, explanation, matcher(file, set, our lines, Wine's lines, Wine's whole dump)); None: no such set.
KNOWN = [
    ('W1', "Wine cannot open either set of a two-section DocumentSummaryInformation stream (as Office and our "
     "engine write it): STG_E_INSUFFICIENTMEMORY from 32-bit Wine, STG_E_INVALIDPOINTER from 64-bit Wine; POI and "
     "olefile read it.",
     lambda n, s, a, b, w: s in DOCSUM and b is not None and re.search(r'open 0x8003000[89]$', b[0]) is not None),
    ('W2', "Wine counts a section's final padding in its size but leaves it out of the stream; our engine refuses "
     "the set (STG_E_DOCFILECORRUPT), POI and olefile read it.",
     lambda n, s, a, b, w: n.startswith('wine-') and a is not None and a[0].endswith('open 0x80030109')),
    ('W3', "Wine writes the user-defined set as the only section of DocumentSummaryInformation: our engine finds "
     "neither set, Wine refuses it again (STG_E_INVALIDHEADER, STG_E_READFAULT) or reads it under both FMTIDs.",
     lambda n, s, a, b, w: n.startswith('wine-') and s in DOCSUM and (
         a is None or (b is not None and re.search(r'open 0x800300(FB|1E)$', b[0]) is not None))),
    ('W6', "Wine's ole32 reads past a value of report.xls's document summary (PropVariantCopy): it faults and has no "
     "later sets, or without a fault (the bytes there vary) finds no such set; POI, olefile and our engine read it.",
     lambda n, s, a, b, w: (s == '-' or b is None) and (any(l.startswith('crash ') for l in w.get('-', []))
                                                        or (n == 'report.xls' and s == 'document'))),
    ('W7', "Wine's reader leaves out VT_VECTOR|VT_VARIANT values (the document summary's HeadingPairs).",
     lambda n, s, a, b, w: a and b and a != b and [l for l in a if ' vt=4108 ' not in l] == b),
    ('W8', "Asked for the user-defined set of a document without one, Wine answers the document summary section.",
     lambda n, s, a, b, w: s == 'user' and a is None and b is not None and 'document' in w
     and no_vectors(b[1:]) == no_vectors(w['document'][1:])),
    ('W9', "Wine takes a set without a code page as Unicode and reads its VT_LPSTR values as VT_EMPTY, or (64-bit "
     "Wine, a value of one character) as other text.",
     lambda n, s, a, b, w: a and b and a[0].endswith(' cp=0') and b[0].endswith(' cp=1200') and all(
         x == y or (' vt=30 ' in x and re.search(r' vt=(0 -|30 ")', y)) for x, y in zip(a[1:], b[1:]))),
    ('X1', "Both refuse this damaged file, with different codes (ours STG_E_DOCFILECORRUPT, Wine STG_E_READFAULT).",
     lambda n, s, a, b, w: s == '-' and a and b and a[0].startswith('open 0x8003') and b[0].startswith('open 0x8003')),
]


def blocks(dump):
    """{file: {set: [lines]}}; a file's open failure or crash is kept as set '-'."""
    files, sets, current = {}, None, None
    for line in dump.splitlines():
        if line.startswith('file '):
            sets, current = files.setdefault(line[5:], {}), None
        elif line.startswith('set '):
            current = line.split(' ')[1]
            sets[current] = [line]
        elif line.startswith('prop ') and current is not None:
            sets[current].append(line)
        elif sets is not None and re.match(r'(open|property sets|crash) ', line):
            sets.setdefault('-', []).append(line)
    return files


def wine_run(cmd, state, timeout):
    """Output and exit code of a program under Wine; a test this machine cannot run is skipped."""
    try:
        done = subprocess.run(WINE + [state] + cmd, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True,
                              timeout=timeout)
        out, code = done.stdout, done.returncode
    except subprocess.TimeoutExpired as hung:  # a faulting Wine process may never close its output
        out, code = hung.stdout.decode(errors='replace') if hung.stdout else '', 'hung'
    if code == SKIPPED:
        print(out, end='')
        sys.exit(SKIPPED)
    return out, code


def main():
    linux_tool, windows_tool, state, fixtures = sys.argv[1:5]
    with tempfile.TemporaryDirectory(prefix='qv-cross-') as work:
        names = copy_fixtures(fixtures, work)
        for cp in ('1252', '65001', '1200'):
            print(run([linux_tool, 'write', os.path.join(work, 'linux-%s.doc' % cp), cp]), end='')
            # Wine's writer has no VT_BOOL or VT_R8 (a failed commit would lose the whole set).
            print(run(WINE + [state, windows_tool, 'write', os.path.join(work, 'wine-%s.doc' % cp), cp,
                              'no-bool-double'], skip=SKIPPED), end='')
            names += ['linux-%s.doc' % cp, 'wine-%s.doc' % cp]
        ours = blocks(run([linux_tool, 'dump'] + [os.path.join(work, n) for n in names]))
        theirs = {}
        for n in names:  # one Wine process per file: Wine's ole32 faults on some
            out, code = wine_run([windows_tool, 'dump', os.path.join(work, n)], state, 120)
            theirs[n] = blocks(out).get(n, {})
            if code != 0:
                theirs[n].setdefault('-', []).append('crash %s' % code)
        agreeing, explained, unexplained = [], {}, []
        shown = lambda lines: '\n              '.join(lines or ['(no such set)'])  # noqa: E731
        for n in names:
            a, b = ours.get(n, {}), theirs[n]
            for s in sorted(set(a) | set(b)):
                known = [k[0] for k in KNOWN if a.get(s) != b.get(s) and k[2](n, s, a.get(s), b.get(s), b)]
                if a.get(s) == b.get(s):
                    agreeing.append('%s/%s' % (n, s))
                elif known:
                    explained.setdefault(known[0], []).append('%s/%s' % (n, s))
                else:
                    unexplained.append('DISAGREEMENT in %s, set %s:\n  our engine: %s\n  Wine ole32: %s'
                                       % (n, s, shown(a.get(s)), shown(b.get(s))))
        compared = len(agreeing) + sum(len(v) for v in explained.values()) + len(unexplained)
        print('read alike by both: %s' % ', '.join(agreeing))
        for kid, text, _ in KNOWN:
            if kid in explained:
                print('expected difference %s: %s\n  in %s' % (kid, text, ', '.join(explained.pop(kid))))
        print('\n'.join(unexplained))
        print('%d files, %d sets compared: %d agree, %d expected differences, %d disagreements'
              % (len(names), compared, len(agreeing), compared - len(agreeing) - len(unexplained), len(unexplained)))
        if compared < MIN_SETS:
            print('FAILED: fewer sets than the %d the fixtures and written documents hold' % MIN_SETS)
            return 1
        return 1 if unexplained else 0


if __name__ == '__main__':
    sys.exit(main())
