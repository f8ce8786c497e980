#!/usr/bin/env python3
"""Compares the user-defined properties docprops reported (show --json --all) with
ExifTool's (-json -G1 -D) for the same files: every name and value must agree.

docprops tells every property with its type (schema 3); what ExifTool alone
reports (streams it shows as tags, vectors docprops lists in notRead) is
listed by the document it came from.
usage: compare_with_exiftool.py OURS.jsonl EXIFTOOL.json"""
import json
import re
import sys

# ExifTool's groups for the two property sets; a user-defined property's tag id is its name.
GROUPS = ('FlashPix:',)
EXIF_DATE = re.compile(r'^(\d{4}):(\d\d):(\d\d) (\d\d):(\d\d):(\d\d)$')


def exiftool_user(record):
    props = {}
    for key, tag in record.items():
        if key.startswith(GROUPS) and isinstance(tag, dict) and isinstance(tag.get('id'), str):
            props[tag['id']] = tag['val']
    return props


def same(ours, theirs):
    kind = ours['type']
    if kind in ('binary', 'clipboard'):  # ExifTool: "(Binary data N bytes, use -b option to extract)"
        m = re.search(r'(\d+) bytes', str(theirs))
        return m is None or int(m.group(1)) == ours['length']  # else ExifTool decoded it (a GUID, hyperlinks)
    if kind == 'date':
        if theirs == 0 or theirs == '0000:00:00 00:00:00':  # a FILETIME of 0: never set
            return ours['value'] is None
        m = EXIF_DATE.match(str(theirs))
        return m is not None and ours['value'] == '%s-%s-%sT%s:%s:%sZ' % m.groups()
    if kind == 'boolean':  # ExifTool gives the stored VARIANT_BOOL: -1 or 0
        return isinstance(theirs, (int, float)) and bool(theirs) == ours['value']
    if isinstance(theirs, (int, float)) and not isinstance(theirs, bool):
        try:  # ExifTool prints a text that looks like a number as a number
            return float(ours['value']) == theirs
        except (TypeError, ValueError):
            return False
    if isinstance(ours['value'], (int, float)):
        try:
            return float(theirs) == ours['value']
        except ValueError:
            return False
    return ours['value'] == str(theirs)


def main(ours_path, exif_path):
    ours = {}
    with open(ours_path, encoding='utf-8') as f:
        for line in f:
            o = json.loads(line)
            if 'user' in o:
                ours[o['path']] = o['user']
    with open(exif_path, encoding='utf-8') as f:
        exif = {r['SourceFile']: exiftool_user(r) for r in json.load(f)}
    compared, mismatches, only_exiftool, only_ours = 0, [], {}, {}
    for path, user in ours.items():
        theirs = exif.get(path)
        if theirs is None:
            mismatches.append((path, '(no ExifTool record)', None, None))
            continue
        doc = re.sub(r'.*/|-\d+(?=\.)', '', path)
        for name, value in user.items():
            if name not in theirs:  # ExifTool misnames a code-page-1200 dictionary's entries
                only_ours.setdefault(doc, set()).add(name)
                continue
            compared += 1
            if not same(value, theirs[name]):
                mismatches.append((path, name, value, theirs.get(name)))
        for name in theirs.keys() - user.keys():
            only_exiftool.setdefault(doc, set()).add(name)
    print('values: %d documents, %d user-defined properties compared, %d differ'
          % (len(ours), compared, len(mismatches)))
    for m in mismatches[:20]:
        print('  differs: %s %r: docprops %r, ExifTool %r' % m)
    for doc, names in sorted(only_exiftool.items()):
        print('  ExifTool only, in copies of %s: %s'
              % (doc, ', '.join(sorted(names))))
    for doc, names in sorted(only_ours.items()):
        print('  docprops only, in copies of %s: %s'
              % (doc, ', '.join(sorted(names))))
    return 1 if mismatches or len(ours) != len(exif) else 0


if __name__ == '__main__':
    sys.exit(main(*sys.argv[1:]))
