#!/usr/bin/env python3
"""Checks that exports are well-formed and hold nothing the complete export lacks.

    check_export.py COMPLETE.reg EXPORT.reg...

Each export must be REGEDIT4 text with CRLF line ends, made of blocks of a
key header, value lines (hex lines continued by a backslash) and a blank
line; every key it names, and every value name within a key, must also be in
COMPLETE.reg. Prints one line per export that fails; exit status 1 then.
"""
import sys


def parse(path):
    """Returns {key header: set of value names}, or raises ValueError."""
    data = open(path, 'rb').read()
    if not data.startswith(b'REGEDIT4\r\n\r\n'):
        raise ValueError('does not start with the REGEDIT4 header and a blank line')
    if data.replace(b'\r\n', b'').count(b'\r') or data.replace(b'\r\n', b'').count(b'\n'):
        raise ValueError('a line end other than CRLF')
    if not data.endswith(b'\r\n'):
        raise ValueError('the last line has no line end')
    lines = data[len(b'REGEDIT4\r\n\r\n'):].split(b'\r\n')[:-1]
    keys = {}
    key = None
    continued = False
    for number, line in enumerate(lines, 3):
        if continued:
            if not line.startswith(b'  '):
                raise ValueError('line %d: a continuation without its indent' % number)
            continued = line.endswith(b'\\')
        elif key is None:
            if not (line.startswith(b'[') and line.endswith(b']')):
                raise ValueError('line %d: a block that does not start with a key header' % number)
            key = line
            if key in keys:
                raise ValueError('line %d: key written twice' % number)
            keys[key] = set()
        elif line == b'':
            key = None
        elif line.startswith(b'@='):
            keys[key].add(b'@')
            continued = line.endswith(b'\\')
        elif line.startswith(b'"'):
            end = line.find(b'"=')
            while end > 0 and line[end - 1:end] == b'\\' and line[end - 2:end] != b'\\\\':
                end = line.find(b'"=', end + 1)
            if end < 0:
                raise ValueError('line %d: a value line without "=' % number)
            keys[key].add(line[:end + 1])
            continued = line.endswith(b'\\')
        else:
            raise ValueError('line %d: neither value nor blank line inside a block' % number)
    if key is not None or continued:
        raise ValueError('the last block is not closed by a blank line')
    return keys


def main():
    complete = parse(sys.argv[1])
    failed = 0
    for path in sys.argv[2:]:
        try:
            keys = parse(path)
            for key, names in keys.items():
                if key not in complete:
                    raise ValueError('key %r is not in the complete export' % key)
                extra = names - complete[key]
                if extra:
                    raise ValueError('values %r of %r are not in the complete export' % (sorted(extra), key))
        except ValueError as error:
            print('%s: %s' % (path, error))
            failed = 1
    return failed


if __name__ == '__main__':
    sys.exit(main())
