#!/usr/bin/env python3
"""Writes the hostile prefixes too big to keep in git, with the export each must give.

    generate.py KIND PREFIX_DIR EXPECTED_FILE

The expected export is built here from the export format's rules, not from
the tool, so a fault in the tool shows up as a difference.
"""
import os
import sys

HEADER = (b'WINE REGISTRY Version 2\n'
          b';; All keys relative to REGISTRY\\\\User\\\\S-1-5-21-0-0-0-1000\n\n#arch=win64\n\n')
CRLF = b'\r\n'
EXPORT_START = b'REGEDIT4' + CRLF + CRLF + b'[HKEY_CURRENT_USER\\Software]' + CRLF + CRLF
T = b'HKEY_CURRENT_USER\\Software\\T'
MAX_DEPTH = 512  # levels below the exported key that the walk descends


def block(path, *values):
    return b'[' + path + b']' + CRLF + b''.join(v + CRLF for v in values) + CRLF


def hex_lines(prefix, data, first=None, separator=b',\\' + CRLF + b'  '):
    """The hex form: a line is continued once it has gone past column 76, so
    the first line holds as many bytes as fit and every later one 25."""
    if first is None:
        first = (76 - len(prefix)) // 3 + 1
    text = data.hex(',').encode()
    # Byte n takes the three characters from 3n on, its comma included.
    pieces = [text[:3 * first - 1]] + [text[at:at + 74] for at in range(3 * first, len(text), 75)]
    return prefix + separator.join(pieces)


def deep(levels, write, expected):
    """A chain T\\a\\d\\d... `levels` keys deep, one line in the file as Wine writes
    it (only the deepest key has a section), and a sibling T\\b after it."""
    write(b'[Software\\\\T\\\\a' + b'\\\\d' * (levels - 1) + b'] 1700000000\n"bottom"="reached"\n')
    write(b'[Software\\\\T\\\\b] 1700000000\n"after"="the deep branch"\n')
    expected.write(EXPORT_START + block(T))
    path = T + b'\\a'
    expected.write(block(path))
    for depth in range(2, min(levels, MAX_DEPTH) + 1):
        path += b'\\d'
        expected.write(block(path, *([b'"bottom"="reached"'] if depth == levels else [])))
    expected.write(block(T + b'\\b', b'"after"="the deep branch"'))


def million_siblings(write, expected):
    count = 1_000_000
    # Scattered order: the export sorts, whatever order the file has.
    step = 7919
    write(b'[Software\\\\T] 1700000000\n"count"=dword:000f4240\n')
    write(b''.join(b'[Software\\\\T\\\\k%07d] 1700000000\n' % (index * step % count) for index in range(count)))
    expected.write(EXPORT_START + block(T, b'"count"=dword:000f4240'))
    expected.write(b''.join(b'[' + T + b'\\k%07d]\r\n\r\n' % index for index in range(count)))


def value_100mb(write, expected):
    size = 100 << 20
    text = b'v' * size
    write(b'[Software\\\\T] 1700000000\n"big"="' + text + b'"\n"small"="after"\n')
    expected.write(EXPORT_START + block(T, b'"big"="' + text + b'"', b'"small"="after"'))


def hex_100mb(write, expected):
    size = 100 << 20
    data = bytes(range(256)) * (size // 256)
    # Continued every 25 bytes, as Wine writes long data.
    write(b'[Software\\\\T] 1700000000\n' + hex_lines(b'"big"=hex:', data, 25, b',\\\n  ') + b'\n')
    expected.write(EXPORT_START + block(T, hex_lines(b'"big"=hex:', data)))


def line_1mb(write, expected):
    data = bytes((index * 7) & 0xFF for index in range((1 << 20) // 3))
    write(b'[Software\\\\T] 1700000000\n"Data"=hex:' + data.hex(',').encode() + b'\n"z"="after"\n')
    expected.write(EXPORT_START + block(T, hex_lines(b'"Data"=hex:', data), b'"z"="after"'))


def names_16383(write, expected):
    longest = b'n' * 16383
    write(b'[Software\\\\T] 1700000000\n"' + longest + b'"="16383"\n"' + b'o' * 16384 + b'"="16384"\n')
    # A key name that long is refused, and with it the values of its section.
    write(b'[Software\\\\T\\\\' + b'k' * 16383 + b'] 1700000000\n"lost"="with its key"\n')
    write(b'[Software\\\\T\\\\Sub] 1700000000\n"' + longest + b'"=dword:00000001\n')
    expected.write(EXPORT_START + block(T, b'"' + longest + b'"="16383"'))
    expected.write(block(T + b'\\Sub', b'"' + longest + b'"=dword:00000001'))


def many_keys(write, expected):
    """Keys enough that the export fills a pipe many times over, each with a
    value of its own name: a value under another key shows by its name."""
    count = 50_000
    write(b''.join(b'[Software\\\\T\\\\k%05d] 1700000000\n"v%05d"="of k%05d"\n' % (i, i, i) for i in range(count)))
    expected.write(EXPORT_START + block(T))
    expected.write(b''.join(block(T + b'\\k%05d' % i, b'"v%05d"="of k%05d"' % (i, i)) for i in range(count)))


KINDS = {
    'many_keys': many_keys,
    'million_siblings': million_siblings,
    'value_100mb': value_100mb,
    'hex_100mb': hex_100mb,
    'line_1mb': line_1mb,
    'names_16383': names_16383,
    'deep_600': lambda w, e: deep(600, w, e),
    'deep_512': lambda w, e: deep(512, w, e),
    'deep_513': lambda w, e: deep(513, w, e),
    'chain_100000': lambda w, e: deep(100_000, w, e),
}


def main():
    kind, prefix, expected_path = sys.argv[1:4]
    os.makedirs(prefix, exist_ok=True)
    with open(os.path.join(prefix, 'user.reg'), 'wb') as user, open(expected_path, 'wb') as expected:
        user.write(HEADER)
        KINDS[kind](user.write, expected)


if __name__ == '__main__':
    main()
