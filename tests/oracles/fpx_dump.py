#!/usr/bin/python3
# Lists a FlashPix file the way olefile reads it, for the fpxwrite tests:
# every storage and stream with its size and bytes, every property of every
# property-set stream (as olefile's own property parser sees them, plus the
# raw id/type pairs), the subimage headers and tile tables.
# One record per line, tab-separated; names escape bytes below 0x20 as \xNN.
import struct
import sys

import olefile


def esc(name):
    return ''.join('\\x%02x' % ord(c) if ord(c) < 0x20 else c for c in name)


def main(path):
    ole = olefile.OleFileIO(path)
    out = []
    for entry in ole.listdir(streams=True, storages=True):
        name = '/'.join(entry)
        kind = ole.get_type(entry)
        if kind == olefile.STGTY_STORAGE:
            out.append('storage\t%s' % esc(name))
            continue
        data = ole.openstream(entry).read()
        out.append('stream\t%s\t%d\t%s' % (esc(name), len(data), data.hex()))
        leaf = entry[-1]
        if leaf.startswith('\x05'):
            # olefile's parser: id -> value for the first section.
            props = ole.getproperties(entry, convert_time=False, no_conversion=None)
            for pid in sorted(props):
                out.append('olefileprop\t%s\t%08x' % (esc(name), pid))
            offset = struct.unpack_from('<I', data, 44)[0]
            count = struct.unpack_from('<I', data, offset + 4)[0]
            for k in range(count):
                pid, at = struct.unpack_from('<II', data, offset + 8 + 8 * k)
                vt = struct.unpack_from('<I', data, offset + at)[0]
                out.append('prop\t%s\t%08x\t%x' % (esc(name), pid, vt))
        elif leaf == 'Subimage 0000 Header':
            values = struct.unpack_from('<9I', data, 28)
            out.append('subimage\t%s\t%s' % (esc(name), ' '.join(str(v) for v in values)))
            for k in range(values[3]):
                at = 28 + values[7] + 16 * k
                offset, length, kind = struct.unpack_from('<3I', data, at)
                out.append('tile\t%s\t%d\t%d\t%d\t%d\t%s' %
                           (esc(name), k, offset, length, kind, data[at + 12:at + 16].hex()))
    ole.close()
    sys.stdout.write('\n'.join(out) + '\n')


if __name__ == '__main__':
    main(sys.argv[1])
