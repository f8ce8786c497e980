#!/usr/bin/python3
"""Our codec, POI and olefile read the fixtures alike: usage DUMP_TOOL FIXTURE_DIR WORK_DIR JAVA POI_CLASSPATH"""
import glob
import io
import os
import pathlib
import shutil
import subprocess
import sys

import olefile

POI_DUMP = os.path.join(os.path.dirname(os.path.abspath(__file__)), 'PoiPropsDump.java')
IN_PLACE = ('2custom.doc', 'winUnicodeDictionary.doc', 'Office365BlankSample_v2507.doc',
            'LibreOfficeBlankSample_v25.8.xls', 'no_codepage.doc')


def run(cmd, skip=None):
    """The command's output; a failure ends the test, and the exit code `skip` ends it as skipped."""
    done = subprocess.run(cmd, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    if skip is not None and done.returncode == skip:
        print(done.stdout, end='')
        sys.exit(skip)
    if done.returncode != 0:
        sys.exit('failed (%d): %s\n%s%s' % (done.returncode, ' '.join(cmd), done.stdout, done.stderr))
    return done.stdout


FIXTURE_COUNT = 21  # the compound files of tests/fixtures/compound


def copy_fixtures(fixtures, work):
    """Writable copies of the compound files among the fixtures; their names. Fewer than all ends the test."""
    names = [os.path.basename(p) for p in sorted(glob.glob(os.path.join(fixtures, '*'))) if olefile.isOleFile(p)]
    if len(names) != FIXTURE_COUNT:
        sys.exit('expected the %d compound files of %s, found %d' % (FIXTURE_COUNT, fixtures, len(names)))
    for n in names:
        shutil.copyfile(os.path.join(fixtures, n), os.path.join(work, n))  # a new file: the fixture's mode stays behind
    return names


def streams(path):
    with olefile.OleFileIO(path) as ole:
        return {'/'.join(e): ole.openstream(e).read() for e in ole.listdir()}


class StreamBytes(olefile.OleFileIO):
    """olefile's property parser over one bare property-set stream."""

    def __init__(self, data):  # no container: only getproperties is used
        self._data, self.path_encoding, self.parsing_issues = data, None, []
        self._raise_defects_level = olefile.DEFECT_INCORRECT

    def openstream(self, filename):
        return io.BytesIO(self._data)


def olefile_view(data):
    return StreamBytes(data).getproperties('x', convert_time=False, no_conversion=None)


def main():
    tool, fixtures, work, java, classpath = sys.argv[1:6]
    poi = lambda *args: run([java, '-cp', classpath, POI_DUMP, *args])  # noqa: E731
    shutil.rmtree(work, ignore_errors=True)
    original, relaid = os.path.join(work, 'original'), os.path.join(work, 'relaid')
    for folder in (original, relaid):
        os.makedirs(folder)
    props = {doc + '.' + s[1:]: data for doc in copy_fixtures(fixtures, work)
             for s, data in streams(os.path.join(work, doc)).items() if s.startswith('\x05') and '/' not in s}
    for n, data in props.items():
        pathlib.Path(original, n).write_bytes(data)
    if len(props) < 19:
        sys.exit('expected the 19 property streams of the fixtures, found %d' % len(props))
    ours = run([tool, '--relayout', relaid] + [os.path.join(original, n) for n in props])
    theirs = poi(*[os.path.join(original, n) for n in props])
    failures = ['ours: %s\n  poi:  %s' % d for d in zip(ours.splitlines(), theirs.splitlines()) if d[0] != d[1]]
    if theirs != poi(*[os.path.join(relaid, n) for n in props]):
        failures.append('POI reads our re-laid streams differently')
    failures += ['olefile reads our re-laid %s differently' % n for n, data in props.items()
                 if olefile_view(data) != olefile_view(pathlib.Path(relaid, n).read_bytes())]

    docsum = '\x05DocumentSummaryInformation'
    for doc in IN_PLACE:
        before, after = os.path.join(work, doc), os.path.join(work, 'updated-' + doc)
        shutil.copyfile(before, after)
        run([tool, '--set-user', after, 'Quorvane Test', '\u00e9t\u00e9 \u4e2d\u6587'])
        expected = sorted(poi('--custom', before).splitlines() + ['Quorvane Test=\\u00e9t\\u00e9 \\u4e2d\\u6587'])
        got = poi('--custom', after).splitlines()
        a, b = streams(before), streams(after)
        changed = [s for s in set(a) | set(b) if a.get(s) != b.get(s) and s != docsum]
        failures += [doc + ': ' + text for bad, text in (
            (got != expected, 'POI reads the user-defined set as %s, expected %s' % (got, expected)),
            (changed, 'streams changed besides the property set: %s' % changed),
            (docsum in a and olefile_view(a[docsum]) != olefile_view(b[docsum]), 'the document summary changed'),
        ) if bad]
    print('\n'.join(failures))
    print('%d streams, %d lines compared, %d failures' % (len(props), len(theirs.splitlines()), len(failures)))
    return 1 if failures else 0


if __name__ == '__main__':
    sys.exit(main())
