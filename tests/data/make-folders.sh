#!/usr/bin/env bash
# Makes the real folder records of tests/data/folders/: the directories of a
# FAT32 and of an exFAT volume, each cut out of its image whole (its clusters
# in chain order), as a disk check leaves a lost folder's clusters.
#
#   fat32-root.dir       the root: a volume label, long names (spaces, Chinese,
#                        an emoji, dots), 8.3 names in lower case (case bits)
#                        and with a code-page letter, a subfolder
#   fat32-subfolder.dir  "Photos 2024": ".", "..", a file, a deleted file
#   exfat-root.dir       the root: label, allocation bitmap, up-case table,
#                        then entry sets of every sort of name and allocation
#   exfat-subfolder.dir  a subfolder's sets, a deleted set among them
#
# FAT32: mkfs.fat and mtools (no root needed). mtools drops a character past
# U+FFFF from a long name, so the emoji is written into its long-name entry
# afterwards (the checksum of the 8.3 name is unchanged). exFAT: mkfs.exfat
# makes the volume; no tool writes files into an exFAT image without mounting
# it, so the entry sets, clusters, FAT chain and allocation bitmap are written
# here by hand, by the exFAT specification. fsck.fat and fsck.exfat then check
# both images, so a set written wrongly here fails the script.
#
# The results are committed; the tests need none of these programs (packages
# dosfstools, mtools, exfatprogs).
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
out=${1:-$here/folders}
rm -rf "$out" && mkdir -p "$out"
work=$(mktemp -d) && trap 'rm -rf "$work"' EXIT && cd "$work"
export LC_ALL=C.UTF-8 TZ=UTC MTOOLS_SKIP_CHECK=1

# ------------------------------------------------------------------- FAT32
# 512-byte clusters, so the root runs over several clusters.
mkfs.fat -C -F 32 -s 1 -n TESTVOL -i 12345678 fat.img 40960 >/dev/null
head -c 1000 /dev/zero | tr '\0' 'x' > k1
head -c 70000 /dev/zero | tr '\0' 'y' > k70
: > empty
put() { mcopy -i fat.img -m "$1" "::/$2"; }
put k1 "Long file name with spaces.txt"
put k70 "中文文件名.txt"
put k1 "emoji X.jpg"
put k1 "lower.txt"
put k1 "UPPER.TXT"
put k1 "readme"
put empty "archive.tar.gz"
put k1 "café.txt"
put k1 "..hidden..dots"
mmd -i fat.img "::/Photos 2024"
put k1 "Photos 2024/IMG_0001.JPG"
put k70 "Photos 2024/gone.jpg"
put empty "Photos 2024/empty.bin"
mdel -i fat.img "::/Photos 2024/gone.jpg"

python3 - fat.img "$out" <<'EOF'
import struct, sys
img, out = sys.argv[1], sys.argv[2]
data = bytearray(open(img, 'rb').read())
bps, spc = struct.unpack_from('<HB', data, 11)
reserved, fats = struct.unpack_from('<H', data, 14)[0], data[16]
fat_size, root = struct.unpack_from('<I', data, 36)[0], struct.unpack_from('<I', data, 44)[0]
fat_at = reserved * bps
heap = (reserved + fats * fat_size) * bps
cluster = spc * bps
def chain(c):
    while 2 <= c < 0x0FFFFFF8:
        yield c
        c = struct.unpack_from('<I', data, fat_at + 4 * c)[0] & 0x0FFFFFFF
def read(first):
    return b''.join(bytes(data[heap + (c - 2) * cluster: heap + (c - 1) * cluster]) for c in chain(first))
def at_of(first, index):
    clusters = list(chain(first))
    return heap + (clusters[index // (cluster // 32)] - 2) * cluster + index % (cluster // 32) * 32
# "emoji X.jpg" becomes "emoji 😀.jpg": the X and the dot after it move over
# for the surrogate pair, in its one long-name entry.
units = 'emoji \U0001F600.jpg'.encode('utf-16-le')
units = units + b'\0\0' + b'\xff' * (26 - len(units) - 2)
slots = [1, 3, 5, 7, 9, 14, 16, 18, 20, 22, 24, 28, 30]
rootdir = read(root)
for i in range(0, len(rootdir), 32):
    e = rootdir[i:i + 32]
    if e[11] == 0x0F and e[1:11].decode('utf-16-le', 'replace').startswith('emoji'):
        at = at_of(root, i // 32)
        for k, slot in enumerate(slots):
            data[at + slot: at + slot + 2] = units[2 * k: 2 * k + 2]
open(img, 'wb').write(data)
sub = next(i for i in range(0, len(rootdir), 32) if rootdir[i:i + 11] == b'PHOTOS~1   ')
sub_cluster = struct.unpack_from('<H', rootdir, sub + 20)[0] << 16 | struct.unpack_from('<H', rootdir, sub + 26)[0]
open(out + '/fat32-root.dir', 'wb').write(read(root))
open(out + '/fat32-subfolder.dir', 'wb').write(read(sub_cluster))
EOF
fsck.fat -n fat.img >/dev/null
# What mtools reads back, for the tests' expectations: names, sizes, clusters.
mdir -i fat.img -a ::/ "::/Photos 2024" > "$work/fat-listing.txt"
for f in "Long file name with spaces.txt" "中文文件名.txt" EMOJIX~1.JPG lower.txt UPPER.TXT readme \
         "café.txt" "..hidden..dots" "Photos 2024" "Photos 2024/IMG_0001.JPG"; do
  printf '%s: %s\n' "$f" "$(mshowfat -i fat.img "::/$f")"
done >> "$work/fat-listing.txt"

# ------------------------------------------------------------------- exFAT
truncate -s 8M exfat.img && mkfs.exfat -c 4096 -L TESTVOL exfat.img >/dev/null
python3 - exfat.img "$out" <<'EOF'
import struct, sys
img, out = sys.argv[1], sys.argv[2]
data = bytearray(open(img, 'rb').read())
fat_at = struct.unpack_from('<I', data, 80)[0] << data[108]
heap_at = struct.unpack_from('<I', data, 88)[0] << data[108]
count, root = struct.unpack_from('<II', data, 92)
cluster = 1 << (data[108] + data[109])

def at(c): return heap_at + (c - 2) * cluster
def entries(c):
    return [at(c) + i for i in range(0, cluster, 32)]
# The allocation bitmap: its first cluster and length from the root's 0x81.
bitmap_at = next(at(root) + i for i in range(0, cluster, 32) if data[at(root) + i] == 0x81)
bitmap = at(struct.unpack_from('<I', data, bitmap_at + 20)[0])
def used(c): return data[bitmap + (c - 2) // 8] >> ((c - 2) % 8) & 1
def take(n, contiguous=True, gap=False):
    """n free clusters: a run of them when contiguous, else a FAT chain (with
    gap, one free cluster left between each two)."""
    got, c = [], 2
    while len(got) < n:
        if used(c) or (got and c == got[-1] + 1 and gap):
            if contiguous:
                got = []
        else:
            got.append(c)
        c += 1
    for g in got:
        data[bitmap + (g - 2) // 8] |= 1 << ((g - 2) % 8)
    if not contiguous:
        for a, b in zip(got, got[1:] + [0xFFFFFFFF]):
            struct.pack_into('<I', data, fat_at + 4 * a, b)
    return got

def upcase(u):
    c = chr(u)
    up = c.upper()
    return ord(up) if len(up) == 1 and ord(up) < 0x10000 else u

def name_hash(units):
    h = 0
    for u in units:
        u = upcase(u)
        for b in (u & 0xFF, u >> 8):
            h = ((h >> 1) | ((h & 1) << 15)) + b & 0xFFFF
    return h

def set_checksum(raw):
    s = 0
    for i, b in enumerate(raw):
        if i in (2, 3):
            continue
        s = ((s >> 1) | ((s & 1) << 15)) + b & 0xFFFF
    return s

def entry_set(name, attributes, first, size, valid, contiguous, deleted=False, vendor=0):
    units = list(struct.unpack('<%dH' % (len(name.encode('utf-16-le')) // 2), name.encode('utf-16-le')))
    names = (len(units) + 14) // 15
    file = bytearray(32)
    file[0], file[1] = 0x85, 1 + names + vendor
    struct.pack_into('<H', file, 4, attributes)
    struct.pack_into('<III', file, 8, 0x5B8E0000, 0x5B8E0000, 0x5B8E0000)  # 2025-12-14 00:00
    stream = bytearray(32)
    stream[0] = 0xC0
    stream[1] = 0x01 | (0x02 if contiguous else 0) if first else 0
    stream[3] = len(units)
    struct.pack_into('<H', stream, 4, name_hash(units))
    struct.pack_into('<Q', stream, 8, valid)
    struct.pack_into('<IQ', stream, 20, first, size)
    if not deleted:
        print('exFAT %-32s first %-6d size %-6d valid %-6d %s' % (name[:32], first, size, valid, 'contiguous' if contiguous and first else 'chained'))
    raw = file + stream
    for i in range(names):
        part = units[15 * i: 15 * i + 15]
        raw += bytes([0xC1, 0]) + struct.pack('<%dH' % len(part), *part) + bytes(30 - 2 * len(part))
    for i in range(vendor):
        raw += bytes([0xE0]) + bytes(31)  # a vendor extension, GUID zero
    struct.pack_into('<H', raw, 2, set_checksum(raw))
    if deleted:
        for i in range(0, len(raw), 32):
            raw[i] &= 0x7F
    return bytes(raw)

def write_file(size, contiguous=True, gap=False):
    n = (size + cluster - 1) // cluster
    got = take(n, contiguous, gap) if n else [0]
    for i, c in enumerate(got if n else []):
        data[at(c): at(c) + min(cluster, size - i * cluster)] = bytes([0x41 + i % 26]) * min(cluster, size - i * cluster)
    return got[0]

def write_folder(first, sets):
    raw = b''.join(sets)
    assert len(raw) <= cluster
    data[at(first): at(first) + len(raw)] = raw

# A subfolder of one cluster, its first entries a deleted set.
sub = take(1)[0]
c1 = write_file(5000, contiguous=True)
c2 = write_file(9000, contiguous=False, gap=True)
write_folder(sub, [
    entry_set('old draft.doc', 0x20, 0, 0, 0, True, deleted=True),
    entry_set('notes.txt', 0x20, c1, 5000, 5000, True),
    entry_set('scattered.bin', 0x20, c2, 9000, 9000, False),
])
big = write_file(3 * cluster, contiguous=True)
sets = [
    entry_set('Long file name with spaces.txt', 0x20, write_file(1000), 1000, 1000, True),
    entry_set('中文文件名.txt', 0x20, write_file(70000, contiguous=False), 70000, 70000, False),
    entry_set('emoji \U0001F600 photo.jpg', 0x20, write_file(1000), 1000, 1000, True),
    entry_set('lower.txt', 0x20, write_file(1000), 1000, 1000, True),
    entry_set('empty file', 0x20, 0, 0, 0, True),
    entry_set('Café Ünïcödé.txt', 0x20, write_file(1000), 1000, 1000, True),
    entry_set('preallocated.mp4', 0x20, big, 3 * cluster, 5000, True),
    entry_set('deleted.txt', 0x20, 0, 0, 0, True, deleted=True),
    entry_set('Sub Folder', 0x10, sub, cluster, cluster, True),
    entry_set('%s' % ('N' * 200 + '.txt'), 0x20, write_file(1), 1, 1, True),
]
free = next(i for i in range(0, cluster, 32) if data[at(root) + i] == 0)
raw = b''.join(sets)
assert free + len(raw) <= cluster
data[at(root) + free: at(root) + free + len(raw)] = raw
open(img, 'wb').write(data)
open(out + '/exfat-root.dir', 'wb').write(bytes(data[at(root): at(root) + cluster]))
open(out + '/exfat-subfolder.dir', 'wb').write(bytes(data[at(sub): at(sub) + cluster]))
EOF
# The bitmap's count of free clusters in the boot sector is only a hint that
# fsck may correct; everything else must be right.
fsck.exfat -n exfat.img || { cp exfat.img /tmp/records-exfat.img; exit 1; }
ls -l "$out"
cat "$work/fat-listing.txt"
