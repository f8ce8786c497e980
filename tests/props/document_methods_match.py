#!/usr/bin/python3
"""The four compound-document methods give the same answers from the Linux library in a real JVM and from a
Windows DLL under Wine, over every fixture; where they differ, a plain Windows-API program under the same Wine shows
the difference is Wine's own.

usage: document_methods_match.py linux OUT JAVA LIBRARY_DIR CLASSPATH FIXTURES
       document_methods_match.py wine LINUX_DUMP DUMP_TOOL CROSS_TOOL WINE_STATE FIXTURES

Both sides print "FILE STEP 0xRESULT name=value ..." (tests/props/DocumentMethodsDump.java,
tests/windows/DocumentMethodsDump.cpp). Time stamps the methods make while running (the save marks stamp the
last-save time of a document without one) differ by run: a date-time value within two days of the comparison is
shown as <stamped now> on both sides, and their count is printed. Nothing else is changed or left out."""
import datetime
import os
import re
import subprocess
import sys
import tempfile

sys.dont_write_bytecode = True  # no __pycache__ in the source tree
from compare_with_poi import copy_fixtures  # noqa: E402
from cross_read import blocks, wine_run  # noqa: E402

HERE = os.path.dirname(os.path.abspath(__file__))
PRIVATE_ENV = os.path.join(HERE, '..', 'private-env.sh')
STEPS = ['user', 'user-checked', 'summary', 'copy', 'set', 'reread', 'reread-checked', 'summary-after']
READS = {'user': 'user', 'user-checked': 'user', 'summary': 'summary', 'reread': 'user', 'reread-checked': 'user',
         'summary-after': 'summary'}
BEFORE = {'reread': 'user', 'reread-checked': 'user-checked', 'summary-after': 'summary'}
JNI_WARNING = re.compile(r'WARNING in native method|FATAL ERROR in native method|WARNING: JNI|JNI (warning|error)')


def lines(dump):
    """{(file, step): (result, rest)} of a dump's result lines."""
    out = {}
    for line in dump.splitlines():
        parts = line.split(' ', 3)
        if len(parts) >= 3 and parts[1] in STEPS and parts[2].startswith('0x'):
            out[(parts[0], parts[1])] = (parts[2], parts[3] if len(parts) > 3 else '')
    return out


def normalise(dump):
    """Date-times within two days of now become <stamped now>; the count of them."""
    now = datetime.datetime.utcnow()
    count = 0

    def stamp(m):
        nonlocal count
        when = datetime.datetime.strptime(m.group(1), '%Y-%m-%dT%H:%M:%S')
        if abs((when - now).total_seconds()) > 2 * 86400:
            return m.group(0)
        count += 1
        return '=<stamped\\u0020now>'
    return re.sub(r'=(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d)(?= |$)', stamp, dump, flags=re.M), count


def linux(out, java, libdir, classpath, fixtures):
    with tempfile.TemporaryDirectory(prefix='qv-docmethods-') as work:
        done = subprocess.run([PRIVATE_ENV, java, '-Xcheck:jni', '-Djava.library.path=' + libdir, '-cp', classpath,
                               os.path.join(HERE, 'DocumentMethodsDump.java'), fixtures, work],
                              stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
    print(done.stdout, end='')
    if done.returncode != 0 or JNI_WARNING.search(done.stdout):
        print('FAILED: the JVM run failed or reported JNI problems')
        return 1
    with open(out, 'w') as f:
        f.write(done.stdout)
    return 0


# Differences that are Wine's own: (id, explanation, matcher(step, ours, wine's, proof, wine's lines of the file)).
# The proof is the plain program's (tests/props/PropertySetCross.cpp) output for a pristine copy of the file:
# 'dump' (ole32's own reading of the three sets) and 'writelock' (the writing methods' open and lock).
def entries(rest):
    return dict(e.split('=', 1) for e in rest.split(' ') if '=' in e)


def proof_sets(proof):
    """{set: [prop lines]} of the plain program's dump of one file."""
    return {s: lines[1:] for f in blocks(proof).values() for s, lines in f.items() if s != '-'}


def known():
    def refused_lock(proof):
        return 'writelock 0x80004001' in proof
    return [
        ('W10', "Wine's IDirectWriterLock::WaitForWriteAccess is not implemented (E_NOTIMPL): the writing methods "
         "answer 0x80004001 and write nothing, so the later reads answer what the first ones did.",
         lambda s, a, b, p, w: refused_lock(p) and (
             (s in ('copy', 'set') and b[0] == '0x80004001') or
             (s in BEFORE and w.get(BEFORE[s]) == b))),
        ('W1', "Wine cannot open a DocumentSummaryInformation stream of two sections (as Office and LibreOffice "
         "write it): the user-defined set's read fails with ole32's STG_E_INSUFFICIENTMEMORY or "
         "STG_E_INVALIDPOINTER.",
         lambda s, a, b, p, w: READS.get(s) == 'user' and re.match(r'0x8003000[89]$', b[0]) and
         re.search(r'^set (document|user) open %s$' % b[0], p, re.M)),
        ('X1', "Both refuse this damaged file, with different codes (ours STG_E_DOCFILECORRUPT, Wine's "
         "STG_E_READFAULT).",
         lambda s, a, b, p, w: a[0].startswith('0x8003') and b[0].startswith('0x8003') and
         re.search(r'^open 0x8003', p, re.M)),
        ('X2', "Wine's ole32 may loop for ever on this file's looping sector chain, or refuse it (STG_E_READFAULT); "
         "the plain program's open does either, from run to run. Ours refuses it (STG_E_DOCFILECORRUPT).",
         lambda s, a, b, p, w: a[0].startswith('0x8003') and b == ('crash', 'hung') and
         re.search(r'^(open 0x8003|crash hung)', p, re.M)),
        ('W8', "Asked for the user-defined set of a document without one, Wine's ole32 answers the document summary "
         "section (the plain program reads the same properties under both), whose ids have no names here.",
         lambda s, a, b, p, w: READS.get(s) == 'user' and a[0] == '0x00000001' and b[0] == '0x00000000' and
         proof_sets(p).get('user') is not None and proof_sets(p).get('user') == proof_sets(p).get('document')),
        ('W9', "Wine takes a summary set without a code page as Unicode (the plain program reads cp=1200) and its "
         "VT_LPSTR values as empty or other text; the dates agree.",
         lambda s, a, b, p, w: READS.get(s) == 'summary' and a[0] == b[0] == '0x00000000' and
         re.search(r'^set summary cp=1200$', p, re.M) and set(entries(b[1])) <= set(entries(a[1])) and
         all(v == entries(a[1])[k] for k, v in entries(b[1]).items() if re.match(r'\d{4}-', v))),
        ('W6', "Wine's ole32 faults reading report.xls's document summary (PropVariantCopy past a value): the DLL's "
         "process ends there, as the plain program's does.",
         lambda s, a, b, p, w: b[0] == 'crash' and 'crash' in p),
    ]


def wine(linux_dump, tool, cross, state, fixtures):
    with open(linux_dump) as f:
        ours, stamped_ours = normalise(f.read())
    ours = lines(ours)
    stamped = stamped_ours
    theirs, proofs = {}, {}
    with tempfile.TemporaryDirectory(prefix='qv-docmethods-') as work:
        names = copy_fixtures(fixtures, work)
        os.mkdir(os.path.join(work, 'dll'))
        for n in names:  # one Wine process per file: Wine's ole32 faults on some
            out, code = wine_run([tool, os.path.join(work, 'dll'), os.path.join(work, n)], state, 40)
            print(out, end='')
            if re.search(r'^fault', out, re.M):
                print('FAILED: JNI misuse in %s' % n)
                return 1
            dump, count = normalise(out)
            stamped += count
            theirs[n] = {step: v for (f, step), v in lines(dump).items() if f == n}
            for step in STEPS:
                if code != 0 and step not in theirs[n]:
                    theirs[n][step] = ('crash', str(code))
            proof_dump, code = wine_run([cross, 'dump', os.path.join(work, n)], state, 40)
            proof_lock, _ = wine_run([cross, 'writelock', os.path.join(work, n)], state, 40)
            proofs[n] = proof_dump + ('crash %s\n' % code if code != 0 else '') + proof_lock
    agree, explained, unexplained = 0, {}, []
    for n in names:
        for step in STEPS:
            a, b = ours.get((n, step)), theirs[n].get(step)
            if a is None or b is None:
                unexplained.append('MISSING %s %s: linux %s, wine %s' % (n, step, a, b))
            elif a == b:
                agree += 1
            else:
                ids = [k for k, _, match in known() if match(step, a, b, proofs[n], theirs[n])]
                if ids:
                    explained.setdefault(ids[0], []).append('%s/%s' % (n, step))
                else:
                    unexplained.append('DIFFERENCE %s %s:\n  linux: %s %s\n  wine:  %s %s\n  proof: %s'
                                       % (n, step, a[0], a[1], b[0], b[1], proofs[n].replace('\n', ' | ')))
    for kid, text, _ in known():
        if kid in explained:
            print('allowed difference %s: %s\n  in %s' % (kid, text, ', '.join(explained[kid])))
    print('\n'.join(unexplained))
    compared = agree + sum(len(v) for v in explained.values()) + len(unexplained)
    print('%d files, %d methods, %d results compared: %d agree, %d allowed differences, %d unexplained; '
          '%d time stamps shown as <stamped now>' % (len(names), len(STEPS), compared, agree,
                                                     compared - agree - len(unexplained), len(unexplained), stamped))
    return 1 if unexplained or compared < len(names) * len(STEPS) else 0


if __name__ == '__main__':
    if len(sys.argv) == 7 and sys.argv[1] == 'linux':
        sys.exit(linux(*sys.argv[2:]))
    if len(sys.argv) == 7 and sys.argv[1] == 'wine':
        sys.exit(wine(*sys.argv[2:]))
    sys.exit(__doc__)
