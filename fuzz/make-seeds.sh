#!/usr/bin/env bash
# Writes the seed corpora of the fuzz targets into fuzz/corpus/. The results
# are committed; run this again only to change them. Small real files come
# from the programs that make such files (ffmpeg, zip, gzip, ...: see
# scripts/packages/samples.txt); files of tests/data/kinds/ join when present.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/.." && pwd)
cat_out=$here/corpus/catalogue
id_out=$here/corpus/identify
rm -rf "$cat_out" "$id_out"
mkdir -p "$cat_out" "$id_out"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
export SOURCE_DATE_EPOCH=1700000000 TZ=UTC

# ------------------------------------------------------------ catalogue seeds
# Whole catalogues, then each section of them alone.
n=0
for cfg in "$here/seed-catalogue.cfg" "$root/resources/tessaro.cfg"; do
  [ -f "$cfg" ] || continue
  cp "$cfg" "$cat_out/whole-$(basename "$cfg")"
  awk -v out="$cat_out/section-$(basename "$cfg" .cfg)-" '
    /^\[/ { n++ } n > 0 { print > (out sprintf("%03d", n)) }' "$cfg"
done

# The reader's edge cases, one line or a few each.
edge() { printf '%b' "$2" > "$cat_out/edge-$1"; }
edge key-before-header 'width = 3\n[Alpha]\nk = v\n'
edge empty-header '[]\nk = v\n[   ]\nk2 = v\n'
edge repeated-header '[Alpha]\na = 1\n[alpha]\nb = 2\n'
edge same-key-twice '[S]\nKey = 1\nkey = 2\n'
edge blanks-around-name '   [  name  ]   \n'
edge last-bracket-closes '[a] x ]\nk = v\n'
edge semicolon-in-name '[a;b]\nk = v\n'
edge remark-after-header '[name] ; remark\nk = v\n'
edge quoted-values "[S]\nk = 'two words'\nq = \"x\nr = 'x\n"
edge two-equals '[S]\nx = y = z\n'
edge value-comment '[S]\nk = y ;note\nh = y#z\n'
edge empty-key-and-value '[S]\n= v\nk =\n'
edge comment-line-first '[S]\n;k = v\n;[T]\n'
edge plain-text '[S]\njust some words\n'
edge crlf '[S]\r\nk = v\r\n[T]\r\nj = w'
edge tab-stops '[S]\nk = v\n\tk2 = v2\n[T]\n'
edge control-first '[S]\n\x01k = v\n'
edge bom '\xef\xbb\xbf[S]\nk = v\n'
edge high-bytes '[\xd5\xfd\xce\xc4]\n\xb2\xe2 = \xca\xd4\n'
edge no-section 'just text\n'
edge comment-before-section '; header\n# also\n[S]\n; after\nk = v\n; for k\n'
edge offsets '[S]\npostfix = .x\noffset = 0x20\nmagic = -4\nthird = \n'
edge addon-postfix '[S]\noffset = 0\nsig = 41\naddon_postfix = 42\nPostfix = 43\nADDON = 44\n'
edge two-postfix '[S]\npostfix = .a\npostfix2 = .b\n'
edge bad-hex '[S]\noffset = 0\nsig = XYZ\n'
edge odd-hex '[S]\noffset = 0\nsig = 504B3\n'
edge huge-offset '[S]\noffset = 99999999999999999999999\nsig = 41\n'
edge empty-section '[A]\n[B]\nk = v\n[C]\n'

# ------------------------------------------------------------- identify seeds
# The seed catalogue, the separator line, then a real file.
ffmpeg=(ffmpeg -nostdin -hide_banner -loglevel error -y)
"${ffmpeg[@]}" -f lavfi -i testsrc=s=16x16 -frames:v 1 -q:v 9 small.jpg
"${ffmpeg[@]}" -f lavfi -i testsrc=s=8x8 -frames:v 1 small.png
"${ffmpeg[@]}" -f lavfi -i testsrc=s=8x8 -frames:v 1 small.gif
"${ffmpeg[@]}" -f lavfi -i testsrc=s=8x8 -frames:v 1 -pix_fmt rgb24 small.bmp
"${ffmpeg[@]}" -f lavfi -i sine=d=0.01:r=8000 -ac 1 small.wav
printf 'A short letter someone lost.\n' > letter.txt
gzip -9nc letter.txt > small.gz
bzip2 -9c letter.txt > small.bz2
xz -9c letter.txt > small.xz
zip -qX small.zip letter.txt
mkdir -p doc/word && printf '<w:document/>' > doc/word/document.xml && printf '<Types/>' > 'doc/[Content_Types].xml'
(cd doc && zip -qX ../small.docx '[Content_Types].xml' word/document.xml)
sqlite3 small.sqlite 'create table t(a); insert into t values (1);'
printf '%%PDF-1.4\n1 0 obj << >> endobj\ntrailer << >>\n%%%%EOF\n' > small.pdf
for f in small.* letter.txt; do
  { cat "$here/seed-catalogue.cfg"; printf '\n--file--\n'; head -c 8000 "$f"; } > "$id_out/${f#small.}"
done
if [ -d "$root/tests/data/kinds" ]; then
  for f in "$root"/tests/data/kinds/*; do
    [ "$(stat -c %s "$f")" -le 8000 ] || continue
    { cat "$here/seed-catalogue.cfg"; printf '\n--file--\n'; cat "$f"; } > "$id_out/kind-$(basename "$f")"
  done
fi
# Stretched files (see fuzz_identify.cpp): past the head, and a content string
# that ends just after the first chunk boundary.
{ cat "$here/seed-catalogue.cfg"; printf '\n--file--\n\xfe\x00\x20\x00\x00'; cat small.zip; } > "$id_out/stretched-zip"
{ printf '[PDF]\noffset=0\nsig=25504446\naddon=2525454F46\npostfix=.pdf\n--file--\n\xfe\xf8\xff\x03\x20%%PDF-1.4 %%%%EOF'; } > "$id_out/stretched-boundary"
{ printf '[ISO]\noffset=32769\nsig=4344303031\npostfix=.iso\n\n--file--\n\xfe\x00\x80\x00\x00\x00CD001\x01'; } > "$id_out/stretched-iso"
# The identification's edge cases.
idc() { printf '%b' "$2" > "$id_out/edge-$1"; }
idc fit-exact '[Z]\noffset=0\nsig=504B0304\npostfix=.zip\n--file--\nPK\x03\x04'
idc fit-one-more '[Z]\noffset=0\nsig=504B0304\npostfix=.zip\n--file--\nPK\x03\x04\x00'
idc later-does-not-fit '[J]\noffset=0\nsig=FFD8\noffset2=6000\nsig2=4A464946\npostfix=.jpg\n--file--\n\xff\xd8 some bytes'
idc first-does-not-fit '[J]\noffset=6000\nsig2=4A464946\noffset=0\nsig=FFD8\npostfix=.jpg\n--file--\n\xff\xd8 some bytes'
idc zero-signature '[Z]\noffset=0\nsig=00000100\npostfix=.ico\n--file--\n\x00\x00\x01\x00\x01'
idc lower-case '[J]\noffset=0\nsig=ffd8\npostfix=.jpg\n--file--\n\xff\xd8\xff'
idc odd-length '[Z]\noffset=0\nsig=504B3\npostfix=.zip\n--file--\nPK\x05\x06'
idc negative-offset '[N]\noffset=-1\nsig=41\npostfix=.n\n--file--\nAAAA'
idc two-content '[D]\noffset=0\nsig=41\naddon=4243\naddon2=5859\npostfix=.d\n--file--\nA..XY....BC'
idc empty-content '[D]\noffset=0\nsig=41\naddon=\npostfix=.d\n--file--\nABC'
idc text '[J]\noffset=0\nsig=FFD8\npostfix=.jpg\n--file--\nplain words\nand lines\n'
idc text-with-nul '[J]\noffset=0\nsig=FFD8\npostfix=.jpg\n--file--\nplain\x00words\n'
idc empty-file '[J]\noffset=0\nsig=FFD8\npostfix=.jpg\n--file--\n'
idc no-offset '[K]\npostfix=.k\nsig=41\n--file--\nAAAA'
echo "catalogue seeds: $(ls "$cat_out" | wc -l), identify seeds: $(ls "$id_out" | wc -l)"

# Each real file of a folder as an input of the form "ext", a line feed, the
# bytes: alone and with the slack a disk leaves (zeros to the sector's end,
# then older data up to the cluster's end). Files over the size are left out.
seeds_from() {
  python3 - "$@" <<'PYTHON'
import os, random, sys
files, out, seed, largest = sys.argv[1], sys.argv[2], int(sys.argv[3]), int(sys.argv[4])
rng = random.Random(seed)
for name in sorted(os.listdir(files)):
    data = open(os.path.join(files, name), 'rb').read()
    ext = os.path.splitext(name)[1][1:].lower()
    if not ext or len(data) > largest:
        continue
    sector = (512 - len(data) % 512) % 512
    rest = (4096 - (len(data) + sector) % 4096) % 4096
    older = bytes(rng.randrange(256) for _ in range(rest))
    for suffix, body in (('', data), ('-slack', data + bytes(sector) + older)):
        with open(os.path.join(out, f'{name}{suffix}'), 'wb') as f:
            f.write(ext.encode() + b'\n' + body)
PYTHON
}

# ------------------------------------------------------------ format checker seeds
# Each real file of tests/data/kinds as a checker's input ("ext", a line feed,
# the bytes), alone and with the slack a disk leaves: zeros to the sector's end,
# then older data up to the cluster's end.
check_out=$here/corpus/check
rm -rf "$check_out"
mkdir -p "$check_out"
seeds_from "$root/tests/data/kinds" "$check_out" 11 16384

# ------------------------------------------------------------ metadata reader seeds
# Each real file of tests/data/names ("ext", a line feed, the bytes), alone and
# with slack as above.
names_out=$here/corpus/names
rm -rf "$names_out"
mkdir -p "$names_out"
seeds_from "$root/tests/data/names" "$names_out" 13 65536
echo "metadata reader seeds: $(ls "$names_out" | wc -l)"

# ------------------------------------------------------------ folder record seeds
# The real folders of tests/data/folders (tests/data/make-folders.sh), after
# the two bytes that choose where they are read: at the start, and a sector
# into a fragment that holds other bytes first.
records_out=$here/corpus/records
rm -rf "$records_out"
mkdir -p "$records_out"
for f in "$root"/tests/data/folders/*.dir; do
  name=$(basename "$f" .dir)
  { printf '\x00\x00'; cat "$f"; } > "$records_out/$name"
  { printf '\x10\x00'; head -c 512 "$here/seed-catalogue.cfg"; cat "$f"; } > "$records_out/$name-after-a-sector"
done
echo "folder record seeds: $(ls "$records_out" | wc -l)"

# ------------------------------------------------------------ split seeds
# Small synthetic exFAT rescues: a lost folder's entry sets and the real files
# they name, at their clusters (fuzz/split-seeds.py).
split_out=$here/corpus/split
rm -rf "$split_out"
python3 "$here/split-seeds.py" "$split_out" "$root/tests/data/kinds"
echo "split seeds: $(ls "$split_out" | wc -l)"
