#!/usr/bin/env python3
"""Writes the seeds of fuzz_split: small synthetic exFAT rescues, a lost
folder's entry sets in its first cluster and real files of tests/data/kinds at
the clusters the sets name, zeros as slack.  Usage: split-seeds.py OUT KINDS"""
import os
import struct
import sys

out, kinds = sys.argv[1], sys.argv[2]


def rotate16(s, b):
    return ((0x8000 if s & 1 else 0) + (s >> 1) + b) & 0xFFFF


def entry_set(name, first, size, folder=False, contiguous=True):
    units = name.encode('utf-16-le')
    n = len(name)
    h = 0
    for c in name.upper().encode('utf-16-le'):
        h = rotate16(h, c)
    parts = (n + 14) // 15
    e = bytearray(b'\x85' + bytes([1 + parts]) + b'\0\0' + struct.pack('<H', 0x10 if folder else 0x20) + b'\0\0')
    e += struct.pack('<III', 0x5B8E0000, 0x5B8E0000, 0x5B8E0000) + bytes(12)
    flags = (3 if contiguous else 1) if first else 0
    e += b'\xC0' + bytes([flags, 0, n]) + struct.pack('<H', h) + b'\0\0' + struct.pack('<Q', size) + bytes(4)
    e += struct.pack('<IQ', first, size)
    for i in range(parts):
        e += b'\xC1\0' + units[i * 30:(i + 1) * 30].ljust(30, b'\0')
    s = 0
    for i, b in enumerate(e):
        if i not in (2, 3):
            s = rotate16(s, b)
    e[2:4] = struct.pack('<H', s)
    return bytes(e)


def kind(name):
    with open(os.path.join(kinds, name), 'rb') as f:
        return f.read()


def rescue(cluster, c0, top_at, top, sub_at=None, sub=(), files=()):
    frag = bytearray()

    def put(c, data):
        at = (c - c0) * cluster
        if len(frag) < at + len(data):
            frag.extend(bytes(at + len(data) - len(frag)))
        frag[at:at + len(data)] = data
    put(top_at, b''.join(entry_set(*r) for r in top) + bytes(32))
    if sub_at is not None:
        put(sub_at, b''.join(entry_set(*r) for r in sub) + bytes(32))
    for c, data in files:
        put(c, data)
    frag.extend(bytes(-len(frag) % cluster))
    return bytes(frag)


jpg, png, pdf = kind('imagemagick.jpg'), kind('ffmpeg.png'), kind('ghostscript.pdf')
gz, zipf = kind('gzip.gz'), kind('info-zip.zip')
odd = bytes((i * 151 + 7) % 251 + 1 for i in range(300))
seeds = {}
for cluster in (512, 4096):
    n = lambda b: (len(b) + cluster - 1) // cluster
    c = 41
    placed = []
    for data in (jpg, png, pdf, odd):
        placed.append((c, data))
        c += n(data)
    sub_at = c
    c += 1
    top = [('photo.jpg', placed[0][0], len(jpg)), ('chart.png', placed[1][0], len(png)),
           ('report.pdf', placed[2][0], len(pdf)), ('data.bin', placed[3][0], len(odd)),
           ('Trip', sub_at, cluster, True)]
    sub = [('notes.gz', c, len(gz)), ('bundle.zip', c + 1, len(zipf))]
    files = placed + [(c, gz), (c + 1, zipf)]
    seeds['rescue-%d' % cluster] = rescue(cluster, 40, 40, top, sub_at, sub, files)
    # Hostile records: names no path may hold, sizes past the fragment,
    # clusters 0, 1 and past the volume, two records on the same clusters, and
    # a subfolder naming its own parent.
    hostile = top + [('..', placed[1][0], len(png)), ('a/b', placed[3][0], len(odd)), ('\x01ctl', c + 2, 100),
                     ('huge.bin', c + 2, 2 ** 64 - 1), ('zero.bin', 0, 100), ('one.bin', 1, 100),
                     ('far.bin', 0xFFFFFFFF, 100), ('twice.bin', placed[2][0], 3000)]
    seeds['hostile-%d' % cluster] = rescue(cluster, 40, 40, hostile, sub_at, sub + [('Back', 40, cluster, True)],
                                           files + [(c + 2, odd)])
# The subfolder's records before the lost folder's.
seeds['subfolder-first-512'] = rescue(512, 40, 41, [('chart.png', 43, len(png)), ('notes.gz', 44, len(gz)),
                                                    ('Trip', 40, 512, True)],
                                      40, [('photo.jpg', 42, len(jpg))], [(42, jpg), (43, png), (44, gz)])
os.makedirs(out, exist_ok=True)
for name, data in seeds.items():
    with open(os.path.join(out, name), 'wb') as f:
        f.write(data)
