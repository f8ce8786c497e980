#!/usr/bin/python3
"""Cross-reading of property sets between our Linux engine and Wine's ole32
(the code path of the Windows build).

One tool, PropertySetCross.cpp, is built twice: for Linux over our engine
and for Windows over ole32. On copies of the compound fixtures and on
documents that each side writes in code pages 1252, 65001 and 1200, both
builds dump every summary, document summary and user-defined set, and the
dumps of each file are compared set by set.

A disagreement that matches a known difference below is printed with its
explanation and does not fail the test; any other one does.

usage: cross_read.py LINUX_TOOL WINDOWS_TOOL WINE_STATE FIXTURE_DIR
"""
import glob
import os
import re
import shutil
import subprocess
import sys
import tempfile

import olefile

HERE = os.path.dirname(os.path.abspath(__file__))
WINE_RUN = os.path.join(HERE, '..', 'windows', 'wine-run.sh')
CODE_PAGES = ('1252', '65001', '1200')
DOCSUM_SETS = ('document', 'user')

# Known differences: (id, whose fault, explanation, matcher). A matcher gets
# the file name, the set name and the two blocks (lists of dump lines, the
# set's header first; None when the side has no such set).


def _wine_cannot_open_docsum(name, s, ours, wine):
    return s in DOCSUM_SETS and wine is not None and wine[0].endswith('open 0x80030008')


def _wine_stream_short_of_padding(name, s, ours, wine):
    return name.startswith('wine-') and ours is not None and ours[0].endswith('open 0x80030109')


def _wine_user_set_layout(name, s, ours, wine):
    if not name.startswith('wine-') or s not in DOCSUM_SETS:
        return False
    return ours is None or (wine is not None and re.search(r'open 0x800300(FB|1E)$', wine[0]) is not None)


def _wine_faults(name, s, ours, wine):
    return s == '-' and wine is not None and any(line.startswith('crash ') for line in wine)


def _after_wine_fault(name, s, ours, wine):
    return wine is None and ours is not None and _WINE_FAULTED.get(name, False)


_WINE_FAULTED = {}


def _both_refuse(name, s, ours, wine):
    return (s == '-' and ours is not None and wine is not None and ours[0].startswith('open 0x8003')
            and wine[0].startswith('open 0x8003'))


def _without_vectors(block):
    return [l for l in block if not re.search(r' vt=(4108|4126) ', l)]


def _wine_drops_variant_vectors(name, s, ours, wine):
    return (ours is not None and wine is not None and ours != wine
            and [l for l in ours if ' vt=4108 ' not in l] == wine)


def _wine_user_set_is_first_section(name, s, ours, wine):
    return s == 'user' and ours is None and wine is not None and _WINE_DOCUMENT.get(name) is not None \
        and _without_vectors(wine[1:]) == _without_vectors(_WINE_DOCUMENT[name][1:])


_WINE_DOCUMENT = {}


def _wine_no_code_page_is_unicode(name, s, ours, wine):
    if ours is None or wine is None or not ours[0].endswith(' cp=0') or not wine[0].endswith(' cp=1200'):
        return False
    return all(a == b or (' vt=30 ' in a and ' vt=0 -' in b) for a, b in zip(ours[1:], wine[1:]))


def _wine_ansi_names(name, s, ours, wine):
    if ours is None or wine is None or len(ours) != len(wine) or _code_page(wine) == 1200:
        return False
    return all(_mask_name(a) == _mask_name(b) for a, b in zip(ours, wine)) and ours != wine


KNOWN = [
    ('W1', 'Wine', "Wine's ole32 cannot open either set of a DocumentSummaryInformation stream that holds two "
     "sections (document summary, then user-defined), as Office and our engine write it: "
     "IPropertySetStorage::Open answers STG_E_INSUFFICIENTMEMORY. The layout is the one [MS-OLEPS] "
     "requires, and POI and olefile read these streams (props_poi).", _wine_cannot_open_docsum),
    ('W2', 'Wine', "Wine writes a section's size with the final padding to four bytes but leaves the padding "
     "bytes out of the stream, so the section runs past the stream's end; our engine refuses the set "
     "(STG_E_DOCFILECORRUPT), POI and olefile read it.", _wine_stream_short_of_padding),
    ('W3', 'Wine', "Wine writes the user-defined set as the only section of DocumentSummaryInformation, "
     "with no document summary section before it as [MS-OLEPS] requires: our engine finds neither set there, "
     "and Wine itself answers STG_E_INVALIDHEADER (1252) or STG_E_READFAULT (1200) when it opens the set "
     "again, or reads it under both FMTIDs (65001).", _wine_user_set_layout),
    ('W6', 'Wine', "Wine's ole32 faults reading a set of this document (page fault in PropVariantCopy, "
     "called from PropertyStorage_ReadFromStream); POI, olefile and our engine read it.", _wine_faults),
    ('W6', 'Wine', "Wine's ole32 faults reading a set of this document: the sets after the fault.",
     _after_wine_fault),
    ('W7', 'Wine', "Wine's reader leaves out VT_VECTOR|VT_VARIANT values (the HeadingPairs of the "
     "document summary), which [MS-OLEPS] allows and POI, olefile and our engine read.",
     _wine_drops_variant_vectors),
    ('W8', 'Wine', "Asked for the user-defined set of a document that has none, Wine answers the document "
     "summary section (it does not check the section's FMTID); our engine answers STG_E_FILENOTFOUND.",
     _wine_user_set_is_first_section),
    ('W9', 'Wine', "Wine takes a set without a code page property as Unicode (1200) and reads its VT_LPSTR "
     "values as VT_EMPTY; POI and our engine read them as ANSI text.", _wine_no_code_page_is_unicode),
    ('X1', 'neither', "Both refuse this damaged compound file, with different codes (ours "
     "STG_E_DOCFILECORRUPT, Wine STG_E_READFAULT).", _both_refuse),
    ('W4', 'Wine', "Wine's IEnumSTATPROPSTG hands out the names of an ANSI set as its narrow bytes instead "
     "of UTF-16 (\"Client\" arrives as U+6C43 U+6569 U+746E); the values agree.", _wine_ansi_names),

]


def _code_page(block):
    m = re.search(r' cp=(\d+)$', block[0])
    return int(m.group(1)) if m else None


def _mask_name(line):
    return re.sub(r'^(prop \d+) "[^"]*"', r'\1 "?"', line)


def run(cmd):
    done = subprocess.run(cmd, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    if done.returncode != 0:
        sys.exit('failed (%d): %s\n%s%s' % (done.returncode, ' '.join(cmd), done.stdout, done.stderr))
    return done.stdout


def blocks(dump):
    """{file: {set: [lines]}}; a file's open failure is kept as set '-'."""
    files, current, sets = {}, None, None
    for line in dump.splitlines():
        if line.startswith('file '):
            sets = files.setdefault(line[5:], {})
            current = None
        elif line.startswith('set '):
            current = line.split(' ')[1]
            sets[current] = [line]
        elif line.startswith('prop ') and current is not None:
            sets[current].append(line)
        elif sets is not None and re.match(r'(open|property sets|crash) ', line):
            sets.setdefault('-', []).append(line)
    return files


def main():
    linux_tool, windows_tool, state, fixtures = sys.argv[1:5]
    work = tempfile.mkdtemp(prefix='qv-cross-')
    try:
        names = []
        for path in sorted(glob.glob(os.path.join(fixtures, '*'))):
            if olefile.isOleFile(path):
                shutil.copyfile(path, os.path.join(work, os.path.basename(path)))
                os.chmod(os.path.join(work, os.path.basename(path)), 0o644)
                names.append(os.path.basename(path))
        wine = ['bash', WINE_RUN, state, windows_tool]
        for cp in CODE_PAGES:
            print(run([linux_tool, 'write', os.path.join(work, 'linux-%s.doc' % cp), cp]), end='')
            # Wine's writer has no VT_BOOL or VT_R8 (a failed commit would lose the whole set).
            print(run(wine + ['write', os.path.join(work, 'wine-%s.doc' % cp), cp, 'no-bool-double']), end='')
            names += ['linux-%s.doc' % cp, 'wine-%s.doc' % cp]
        paths = [os.path.join(work, n) for n in names]
        ours = blocks(run([linux_tool, 'dump'] + paths))
        # One Wine process per file: Wine's ole32 faults on some documents.
        theirs = {}
        for path in paths:
            done = subprocess.run(wine + ['dump', path], stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
            found = blocks(done.stdout)
            if done.returncode != 0:
                found.setdefault(os.path.basename(path), {}).setdefault('-', []).append(
                    'crash %d' % done.returncode)
            theirs.update(found)

        for name in names:
            _WINE_DOCUMENT[name] = theirs.get(name, {}).get('document')
            _WINE_FAULTED[name] = any(l.startswith('crash ') for l in theirs.get(name, {}).get('-', []))
        compared = agreed = 0
        explained, unexplained, agreeing = {}, [], []
        for name in names:
            a, b = ours.get(name, {}), theirs.get(name, {})
            for s in sorted(set(a) | set(b)):
                compared += 1
                if a.get(s) == b.get(s):
                    agreed += 1
                    if s != '-' or a.get(s):
                        agreeing.append('%s/%s' % (name, s))
                    continue
                known = [k for k in KNOWN if k[3](name, s, a.get(s), b.get(s))]
                if known:
                    explained.setdefault(known[0][0], []).append('%s/%s' % (name, s))
                else:
                    unexplained.append((name, s, a.get(s), b.get(s)))
        print('read alike by both: %s' % ', '.join(agreeing))
        known = sum(len(v) for v in explained.values())
        for kid, whose, text, _ in KNOWN:
            if kid in explained:
                print('expected difference %s (%s): %s\n  in %s' % (kid, whose, text, ', '.join(explained.pop(kid))))
        for name, s, a, b in unexplained:
            print('DISAGREEMENT in %s, set %s:\n  our engine: %s\n  Wine ole32: %s' % (
                name, s, '\n              '.join(a or ['(no such set)']), '\n              '.join(b or ['(no such set)'])))
        print('%d files, %d sets compared: %d agree, %d known differences, %d disagreements' % (
            len(names), compared, agreed, known, len(unexplained)))
        return 1 if unexplained else 0
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == '__main__':
    sys.exit(main())
