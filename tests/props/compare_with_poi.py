#!/usr/bin/python3
"""Property sets of the compound fixtures, read by our codec, by Apache POI
and by olefile: all three must agree, and the streams our codec lays out
afresh must read in POI and olefile exactly as the originals do.

usage: compare_with_poi.py DUMP_TOOL FIXTURE_DIR WORK_DIR JAVA POI_CLASSPATH
"""
import glob
import io
import os
import shutil
import subprocess
import sys

import olefile


def extract(fixtures, out):
    files = []
    for path in sorted(glob.glob(os.path.join(fixtures, '*'))):
        if not olefile.isOleFile(path):
            continue
        ole = olefile.OleFileIO(path)
        for entry in ole.listdir():
            if len(entry) == 1 and entry[0].startswith('\x05'):
                name = os.path.basename(path) + '.' + entry[0][1:]
                with open(os.path.join(out, name), 'wb') as f:
                    f.write(ole.openstream(entry).read())
                files.append(name)
        ole.close()
    return files


class StreamBytes(olefile.OleFileIO):
    """olefile's property parser over bare stream bytes."""

    def __init__(self, data):  # no container: only getproperties is used
        self._data = data
        self.path_encoding = None
        self._raise_defects_level = olefile.DEFECT_INCORRECT
        self.parsing_issues = []

    def openstream(self, filename):
        return io.BytesIO(self._data)


def olefile_view(path):
    with open(path, 'rb') as f:
        data = f.read()
    return StreamBytes(data).getproperties('x', convert_time=False, no_conversion=None)


def run(cmd):
    done = subprocess.run(cmd, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    if done.returncode != 0:
        sys.exit('failed: %s\n%s' % (' '.join(cmd), done.stderr))
    return done.stdout


def streams_of(path):
    ole = olefile.OleFileIO(path)
    out = {'/'.join(e): ole.openstream(e).read() for e in ole.listdir()}
    first = ole.getproperties('\x05DocumentSummaryInformation', convert_time=False) \
        if ole.exists('\x05DocumentSummaryInformation') else None
    ole.close()
    return out, first


def poi_custom(java, classpath, here, path):
    return run([java, '-cp', classpath, os.path.join(here, 'PoiPropsDump.java'), '--custom', path]).splitlines()


def check_in_place_updates(tool, fixtures, work, java, classpath, here):
    """A user-defined property set through StgOpenStorage changes nothing else
    in the file, and POI sees it next to the properties that were there."""
    failures = 0
    name, value = 'Quorvane Test', '\u00e9t\u00e9 \u4e2d\u6587'
    escaped = 'Quorvane Test=\\u00e9t\\u00e9 \\u4e2d\\u6587'
    for doc in ('2custom.doc', 'winUnicodeDictionary.doc', 'Office365BlankSample_v2507.doc',
                'LibreOfficeBlankSample_v25.8.xls', 'no_codepage.doc'):
        original = os.path.join(fixtures, doc)
        copy = os.path.join(work, 'updated-' + doc)
        shutil.copyfile(original, copy)
        os.chmod(copy, 0o644)
        run([tool, '--set-user', copy, name, value])
        expected = sorted(poi_custom(java, classpath, here, original) + [escaped])
        got = poi_custom(java, classpath, here, copy)
        if got != expected:
            failures += 1
            print('%s: POI reads the user-defined set as %s, expected %s' % (doc, got, expected))
        before, first_before = streams_of(original)
        after, first_after = streams_of(copy)
        changed = [s for s in set(before) | set(after)
                   if before.get(s) != after.get(s) and s != '\x05DocumentSummaryInformation']
        if changed:
            failures += 1
            print('%s: streams changed besides the property set: %s' % (doc, changed))
        if first_before is not None and first_before != first_after:
            failures += 1
            print('%s: the document summary section changed' % doc)
    return failures


def main():
    tool, fixtures, work, java, classpath = sys.argv[1:6]
    here = os.path.dirname(os.path.abspath(__file__))
    original = os.path.join(work, 'original')
    relaid = os.path.join(work, 'relaid')
    os.makedirs(original, exist_ok=True)
    os.makedirs(relaid, exist_ok=True)
    names = extract(fixtures, original)
    if len(names) < 19:
        sys.exit('expected the 19 property streams of the fixtures, found %d' % len(names))
    paths = [os.path.join(original, n) for n in names]
    ours = run([tool, '--relayout', relaid] + paths)
    poi = run([java, '-cp', classpath, os.path.join(here, 'PoiPropsDump.java')] + paths)
    poi_relaid = run([java, '-cp', classpath, os.path.join(here, 'PoiPropsDump.java')] +
                     [os.path.join(relaid, n) for n in names])
    failures = 0
    if ours != poi:
        failures += 1
        print('our codec and POI disagree:')
        for a, b in zip(ours.splitlines(), poi.splitlines()):
            if a != b:
                print('  ours: %s\n  poi:  %s' % (a, b))
    if poi != poi_relaid:
        failures += 1
        print('POI reads our re-laid streams differently')
    for n in names:
        if olefile_view(os.path.join(original, n)) != olefile_view(os.path.join(relaid, n)):
            failures += 1
            print('olefile reads our re-laid %s differently' % n)
    failures += check_in_place_updates(tool, fixtures, work, java, classpath, here)
    print('%d streams, %d lines compared, %d failures' % (len(names), len(poi.splitlines()), failures))
    return 1 if failures else 0


if __name__ == '__main__':
    sys.exit(main())
