#!/usr/bin/env python3
"""Damages a Matroska file in place, keeping every element's size, for the fault fixtures.

mkv_patch.py FILE avcc      the first CodecPrivate (the video's) claims an SPS longer than itself
mkv_patch.py FILE noaacpriv the 2-byte CodecPrivate of the AAC track becomes a Void element
mkv_patch.py FILE zlib N    the N-th zlib-compressed video frame gets garbage in its middle
"""
import sys


def vint(data, at):
    first = data[at]
    length = 1
    while length <= 8 and not first & (0x80 >> (length - 1)):
        length += 1
    value = first & ((0x80 >> (length - 1)) - 1)
    for b in data[at + 1:at + length]:
        value = value << 8 | b
    return length, value


def main():
    path, what = sys.argv[1], sys.argv[2]
    data = bytearray(open(path, 'rb').read())
    if what == 'avcc':
        at = data.index(b'\x63\xa2')
        length, _ = vint(data, at + 2)
        content = at + 2 + length
        data[content + 6:content + 8] = b'\xff\xff'
    elif what == 'noaacpriv':
        at = data.index(b'\x63\xa2', data.index(b'A_AAC'))
        length, size = vint(data, at + 2)
        total = 2 + length + size
        data[at:at + total] = bytes([0xEC, 0x80 | (total - 2)]) + bytes(total - 2)
    elif what == 'zlib':
        wanted, seen, at = int(sys.argv[3]), 0, 0
        while True:
            at = data.index(b'\xa3', at + 1)
            length, size = vint(data, at + 1)
            frame = at + 1 + length + 4
            if data[at + 1 + length] == 0x81 and data[frame] == 0x78 and size > 64 and \
                    (data[frame] << 8 | data[frame + 1]) % 31 == 0:
                seen += 1
                if seen == wanted:
                    data[frame + 20:frame + 40] = b'\xa5' * 20
                    break
    open(path, 'wb').write(data)


main()
