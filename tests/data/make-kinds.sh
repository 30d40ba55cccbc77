#!/usr/bin/env bash
# Makes the small real files that prove each kind of the shipped catalogue,
# into tests/data/kinds/ (or the folder given as the first argument).
#
# Each file is named <what made it>.<extension the catalogue must give it>,
# without the dot. The files are made by the real programs that people's files
# come from (ImageMagick, ffmpeg, LibreOffice, the archivers, ...). The few
# kinds that no program in Debian writes (camera raw, RAR, AMR, ...) are
# written here byte by byte, as small well-formed files; each says so.
#
# The results are committed, so the tests need none of these programs. Run it
# again after adding a kind; the packages it uses are in
# scripts/packages/samples.txt.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
out=${1:-$here/kinds}
# The committed folder is made anew as a whole, so no file of an old name stays.
if [ $# -eq 0 ]; then rm -rf "$here/kinds"; fi
mkdir -p "$out"
out=$(cd "$out" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"

# /usr/local/bin/convert may be a stand-in; the real ImageMagick is wanted.
if command -v magick >/dev/null; then IM=(magick)
elif [ -x /usr/bin/convert ]; then IM=(/usr/bin/convert)
else echo "ImageMagick is missing" >&2; exit 1; fi
PY=/usr/bin/python3
FF=(ffmpeg -nostdin -hide_banner -loglevel error -y)
export SOURCE_DATE_EPOCH=1700000000 TZ=UTC

put() { cp "$1" "$out/$2"; }

# ---------------------------------------------------------------- pictures
"${IM[@]}" -size 48x32 gradient:'#2060c0'-'#f0c020' -quality 80 base.png
"${IM[@]}" base.png -strip im.jpg ; put im.jpg imagemagick.jpg
"${FF[@]}" -f lavfi -i testsrc=s=32x24 -frames:v 1 ff.jpg ; put ff.jpg ffmpeg-mjpeg.jpg
"${IM[@]}" base.png -strip im.png ; put im.png imagemagick.png
"${FF[@]}" -f lavfi -i testsrc=s=32x24 -frames:v 1 ff.png ; put ff.png ffmpeg.png
"${IM[@]}" base.png -colors 16 im.gif ; put im.gif imagemagick-89a.gif
"${IM[@]}" base.png -colors 16 gif87:im87.gif ; put im87.gif imagemagick-87a.gif
"${IM[@]}" base.png im.bmp ; put im.bmp imagemagick-v5.bmp
"${IM[@]}" base.png bmp3:im3.bmp ; put im3.bmp imagemagick-v3.bmp
"${FF[@]}" -f lavfi -i testsrc=s=16x16 -frames:v 1 ff.bmp ; put ff.bmp ffmpeg.bmp
"${IM[@]}" base.png -compress lzw -endian LSB im-le.tif ; put im-le.tif imagemagick-intel.tif
"${IM[@]}" base.png -compress zip -define tiff:endian=msb im-be.tif ; put im-be.tif imagemagick-motorola.tif
"${IM[@]}" base.png -quality 60 im.webp ; put im.webp imagemagick.webp
"${IM[@]}" base.png -quality 50 im.heic ; put im.heic imagemagick.heic
"${IM[@]}" base.png -quality 50 im.avif ; put im.avif imagemagick.avif
"${IM[@]}" base.png im.psd ; put im.psd imagemagick.psd
"${IM[@]}" base.png im.psb ; put im.psb imagemagick.psb
"${IM[@]}" base.png -resize 16x16! im.ico ; put im.ico imagemagick.ico
"${IM[@]}" base.png im.jp2 ; put im.jp2 imagemagick.jp2
"${IM[@]}" base.png im.j2k ; put im.j2k imagemagick.j2k
"${IM[@]}" base.png im.pcx ; put im.pcx imagemagick.pcx
"${IM[@]}" base.png im.exr ; put im.exr imagemagick.exr
"${IM[@]}" base.png im.hdr ; put im.hdr imagemagick.hdr
"${IM[@]}" base.png -define dds:compression=none im.dds ; put im.dds imagemagick.dds
"${IM[@]}" base.png -depth 8 im.ppm ; put im.ppm imagemagick.ppm
"${IM[@]}" base.png -colorspace gray -depth 8 im.pgm ; put im.pgm imagemagick.pgm
"${IM[@]}" base.png -monochrome im.pbm ; put im.pbm imagemagick.pbm
"${IM[@]}" base.png -colors 8 -resize 16x16! im.xpm ; put im.xpm imagemagick.xpm

# ---------------------------------------------------------------- documents
# LibreOffice converts one source into each office format. Sources are tiny
# text, a CSV table and a flat-XML presentation.
lo() { soffice --headless --norestore --convert-to "$@" >/dev/null 2>&1; }
printf 'A short letter\n\nDear reader, these lines stand for a letter someone lost.\n' > letter.txt
printf 'item,count\napples,3\npears,5\n' > sheet.csv
cat > talk.fodp <<'XML'
<?xml version="1.0" encoding="UTF-8"?>
<office:document xmlns:office="urn:oasis:names:tc:opendocument:xmlns:office:1.0" xmlns:draw="urn:oasis:names:tc:opendocument:xmlns:drawing:1.0" xmlns:text="urn:oasis:names:tc:opendocument:xmlns:text:1.0" xmlns:svg="urn:oasis:names:tc:opendocument:xmlns:svg-compatible:1.0" xmlns:presentation="urn:oasis:names:tc:opendocument:xmlns:presentation:1.0" office:version="1.2" office:mimetype="application/vnd.oasis.opendocument.presentation">
 <office:body><office:presentation><draw:page draw:name="page1"><draw:frame svg:x="2cm" svg:y="2cm" svg:width="10cm" svg:height="3cm"><draw:text-box><text:p>A slide</text:p></draw:text-box></draw:frame></draw:page></office:presentation></office:body></office:document>
XML
lo odt letter.txt
lo docx letter.odt; lo doc letter.odt; lo rtf letter.odt; lo epub letter.odt; lo pdf letter.odt
lo html letter.odt; lo fodt letter.odt
lo ods sheet.csv; lo xlsx sheet.ods; lo xls sheet.ods
lo odp talk.fodp; lo pptx talk.fodp; lo ppt talk.fodp
soffice --headless --norestore --infilter=draw_pdf_import --convert-to odg letter.pdf >/dev/null 2>&1
lo svg letter.odg; lo emf letter.odg; lo wmf letter.odg
for f in letter.odt letter.docx letter.doc letter.rtf letter.epub letter.pdf sheet.ods sheet.xlsx \
         sheet.xls talk.odp talk.pptx talk.ppt letter.odg; do
  put "$f" "libreoffice-${f#*.}.${f#*.}"
done
put letter.html libreoffice.html
put letter.fodt libreoffice-flat-odt.xml
put letter.svg libreoffice.svg
put letter.emf libreoffice.emf
put letter.wmf libreoffice.wmf
gs -q -dBATCH -dNOPAUSE -dSAFER -sDEVICE=pdfwrite -o gs.pdf -c '/Helvetica findfont 12 scalefont setfont 72 720 moveto (Hello) show showpage' \
  ; put gs.pdf ghostscript.pdf
# ImageMagick's policy forbids writing PostScript; groff and Ghostscript write it.
printf '.LP\nA short note.\n' | groff -Tps > groff.ps ; put groff.ps groff.ps
ps2epsi groff.ps groff.epsi ; put groff.epsi ghostscript.eps
# PostScript programs and web icons are often written by hand, like these.
printf '%%!\n/Helvetica findfont 12 scalefont setfont\n72 720 moveto (Hello) show\nshowpage\n' > hand.ps
put hand.ps handwritten-program.ps
printf '<svg xmlns="http://www.w3.org/2000/svg" width="16" height="16"><circle cx="8" cy="8" r="6"/></svg>\n' > icon.svg
put icon.svg handwritten-icon.svg

# ---------------------------------------------------------------- archives
printf 'one\n' > one.txt; printf 'two\n' > two.txt
cp letter.txt readme.txt
zip -q -X a.zip one.txt two.txt ; put a.zip info-zip.zip
7z a -bd -bso0 a7.zip one.txt two.txt ; put a7.zip 7zip.zip
7z a -bd -bso0 a.7z one.txt two.txt ; put a.7z 7zip.7z
mkdir -p jar/demo && printf 'class Hello { public static void main(String[] a) { System.out.println("hi"); } }\n' > jar/Hello.java
javac -d jar jar/Hello.java
(cd jar && jar cfe ../a.jar Hello Hello.class) ; put a.jar openjdk.jar
put jar/Hello.class openjdk.class
gzip -9 -n -c readme.txt > a.gz ; put a.gz gzip.gz
tar --mtime=@0 --owner=0 --group=0 -cf a.tar one.txt two.txt ; put a.tar gnu.tar
tar --format=posix --mtime=@0 --owner=0 --group=0 -cf p.tar one.txt two.txt ; put p.tar posix.tar
gzip -9 -n -c a.tar > a.tgz ; put a.tgz gzip-tar.gz
bzip2 -9 -c readme.txt > a.bz2 ; put a.bz2 bzip2.bz2
xz -c readme.txt > a.xz ; put a.xz xz.xz
zstd -q -c readme.txt > a.zst ; put a.zst zstd.zst
lz4 -q -c readme.txt > a.lz4 ; put a.lz4 lz4.lz4
lzip -c readme.txt > a.lz ; put a.lz lzip.lz
gcab -c a.cab one.txt two.txt ; put a.cab gcab.cab
mkdir -p iso && cp one.txt two.txt iso/
genisoimage -quiet -no-pad -V TESSARO -o a.iso iso ; put a.iso genisoimage.iso
mkdir -p deb/DEBIAN && printf 'Package: tessaro-test\nVersion: 1.0\nArchitecture: all\nMaintainer: Tessaro <tessaro@example.org>\nDescription: test\n' > deb/DEBIAN/control
dpkg-deb --root-owner-group -Zxz --build deb a.deb >/dev/null ; put a.deb dpkg-deb.deb
printf '%s\n' one.txt two.txt | cpio --quiet -o -H newc --reproducible > a.cpio ; put a.cpio gnu.cpio
ar rcD a.a one.txt two.txt ; put a.a binutils-ar.a
msibuild a.msi -s "Tessaro test" "Tessaro" ";1033" "{6A3B8E2C-0D4F-4C55-9E1A-2B7C5D8F9A10}" ; put a.msi msitools.msi

# ---------------------------------------------------------------- sound
sox -n -r 22050 -c 1 -b 16 tone.wav synth 0.3 sine 440 ; put tone.wav sox.wav
"${FF[@]}" -f lavfi -i sine=f=660:d=0.2 -ar 11025 ff.wav ; put ff.wav ffmpeg.wav
sox tone.wav tone.aiff ; put tone.aiff sox.aiff
sox tone.wav -t aifc tone.aifc ; put tone.aifc sox.aifc
sox tone.wav tone.au ; put tone.au sox.au
sox tone.wav tone.voc ; put tone.voc sox.voc
flac -s -f -o tone.flac tone.wav ; put tone.flac flac.flac
oggenc -Q -q 0 -o tone.ogg tone.wav ; put tone.ogg oggenc.ogg
"${FF[@]}" -i tone.wav -c:a libopus -b:a 16k tone.opus ; put tone.opus ffmpeg.opus
speexenc --quiet tone.wav tone.spx ; put tone.spx speexenc.spx
"${FF[@]}" -i tone.wav -c:a flac ogg-flac.oga ; put ogg-flac.oga ffmpeg-flac.oga
# MP3 with an ID3v2 tag in front (ffmpeg writes one) and without (lame by
# default starts with its Info frame), in MPEG-1 and MPEG-2 sample rates.
"${FF[@]}" -i tone.wav -c:a libmp3lame -b:a 32k id3.mp3 ; put id3.mp3 ffmpeg-id3.mp3
lame --quiet -b 32 tone.wav l22.mp3 ; put l22.mp3 lame-mpeg2.mp3
sox -n -r 44100 -c 2 -b 16 tone44.wav synth 0.3 sine 440
lame --quiet tone44.wav l44.mp3 ; put l44.mp3 lame-mpeg1.mp3
lame --quiet -V 4 tone44.wav l44v.mp3 ; put l44v.mp3 lame-vbr.mp3
"${FF[@]}" -i tone44.wav -c:a libmp3lame -id3v2_version 0 -write_xing 0 bare.mp3 ; put bare.mp3 ffmpeg-bare.mp3
"${FF[@]}" -i tone.wav -c:a aac -b:a 24k tone.m4a ; put tone.m4a ffmpeg.m4a
"${FF[@]}" -i tone.wav -c:a aac -b:a 24k tone.aac ; put tone.aac ffmpeg-adts.aac
"${FF[@]}" -i tone44.wav -c:a ac3 -b:a 96k tone.ac3 ; put tone.ac3 ffmpeg.ac3
"${FF[@]}" -i tone44.wav -c:a mp2 -b:a 128k tone.mp2 ; put tone.mp2 ffmpeg.mp2
"${FF[@]}" -i tone.wav -c:a wmav2 -b:a 32k tone.wma ; put tone.wma ffmpeg.wma
"${FF[@]}" -i tone.wav -c:a pcm_s16be tone.caf ; put tone.caf ffmpeg.caf
"${FF[@]}" -i tone.wav -c:a wavpack tone.wv ; put tone.wv ffmpeg.wv
"${FF[@]}" -i tone.wav -c:a tta tone.tta ; put tone.tta ffmpeg.tta
printf 'X:1\nT:Scale\nM:4/4\nL:1/4\nK:C\nCDEF|GABc|\n' > scale.abc
abc2midi scale.abc -o scale.mid >/dev/null ; put scale.mid abc2midi.mid

# ---------------------------------------------------------------- video
src=(-f lavfi -i testsrc=s=32x24:r=25:d=0.2 -f lavfi -i sine=f=440:d=0.2)
"${FF[@]}" "${src[@]}" -c:v libx264 -preset ultrafast -c:a aac -b:a 16k v.mp4 ; put v.mp4 ffmpeg-h264.mp4
"${FF[@]}" "${src[@]}" -c:v mpeg4 -c:a aac -b:a 16k -brand mp42 v42.mp4 ; put v42.mp4 ffmpeg-mp42.mp4
"${FF[@]}" "${src[@]}" -c:v libx264 -preset ultrafast -c:a aac -b:a 16k -brand 'M4V ' v.m4v ; put v.m4v ffmpeg.m4v
"${FF[@]}" "${src[@]}" -c:v mpeg4 -c:a aac -b:a 16k v.mov ; put v.mov ffmpeg.mov
"${FF[@]}" "${src[@]}" -c:v h263 -s 128x96 -c:a aac -ar 8000 -ac 1 -b:a 12k v.3gp ; put v.3gp ffmpeg.3gp
"${FF[@]}" "${src[@]}" -c:v h263 -s 128x96 -c:a aac -ar 8000 -ac 1 -b:a 12k -f 3g2 v.3g2 ; put v.3g2 ffmpeg.3g2
"${FF[@]}" "${src[@]}" -c:v mpeg4 -c:a libmp3lame -b:a 32k v.avi ; put v.avi ffmpeg.avi
"${FF[@]}" "${src[@]}" -c:v mpeg4 -c:a libvorbis v.mkv ; put v.mkv ffmpeg.mkv
"${FF[@]}" -i tone.wav -c:a flac a.mka ; put a.mka ffmpeg-audio.mkv
"${FF[@]}" "${src[@]}" -c:v libvpx -b:v 50k -c:a libopus -b:a 16k v.webm ; put v.webm ffmpeg-vp8.webm
"${FF[@]}" "${src[@]}" -c:v flv1 -c:a libmp3lame -ar 22050 -b:a 32k v.flv ; put v.flv ffmpeg.flv
"${FF[@]}" "${src[@]}" -c:v mpeg1video -c:a mp2 -b:a 64k -f mpeg v.mpg ; put v.mpg ffmpeg-mpeg1.mpg
"${FF[@]}" "${src[@]}" -c:v mpeg2video -c:a mp2 -b:a 64k -f vob v.vob ; put v.vob ffmpeg-dvd.mpg
"${FF[@]}" "${src[@]}" -c:v mpeg2video -an -f mpeg2video v.m2v ; put v.m2v ffmpeg.m2v
"${FF[@]}" "${src[@]}" -c:v mpeg2video -c:a mp2 -b:a 64k -f mpegts v.ts ; put v.ts ffmpeg.ts
"${FF[@]}" "${src[@]}" -c:v libx264 -preset ultrafast -c:a aac -b:a 16k -f mpegts -mpegts_m2ts_mode 1 v.m2ts ; put v.m2ts ffmpeg.mts
"${FF[@]}" "${src[@]}" -c:v wmv2 -c:a wmav2 -b:a 32k v.wmv ; put v.wmv ffmpeg.wmv
"${FF[@]}" "${src[@]}" -c:v libtheora -c:a libvorbis v.ogv ; put v.ogv ffmpeg.ogv
"${FF[@]}" "${src[@]}" -c:v rv10 -s 32x32 -c:a ac3 -b:a 64k -f rm v.rm ; put v.rm ffmpeg.rm
"${FF[@]}" -f lavfi -i testsrc=s=32x24:r=10:d=0.5 -c:v libvpx -b:v 50k -f ivf v.ivf ; put v.ivf ffmpeg.ivf
"${FF[@]}" -f lavfi -i testsrc=s=16x16:r=5:d=0.4 -pix_fmt yuv420p -f yuv4mpegpipe v.y4m ; put v.y4m ffmpeg.y4m
"${FF[@]}" "${src[@]}" -c:v mpeg2video -c:a pcm_s16le -ar 48000 -f mxf v.mxf ; put v.mxf ffmpeg.mxf
"${FF[@]}" -f lavfi -i testsrc=s=32x24:r=10:d=0.5 -c:v flv1 -f swf v.swf ; put v.swf ffmpeg.swf

# ---------------------------------------------------------------- programs, data, fonts, text
printf 'int main(void) { return 0; }\n' > true.c
gcc -Os -s -o true.elf true.c ; put true.elf gcc.elf
printf 'int next(int x) { return x + 1; }\n' > next.c
clang --target=wasm32 -O2 -c next.c -o next.wasm ; put next.wasm clang.wasm
# A Windows program without a C runtime: assembled and linked by MinGW binutils.
printf '\t.text\n\t.globl start\nstart:\n\txorl %%eax, %%eax\n\tret\n' > start.s
x86_64-w64-mingw32-as start.s -o start.o
x86_64-w64-mingw32-ld --subsystem console -e start -s -o start.exe start.o ; put start.exe mingw.exe
sqlite3 a.sqlite 'create table photo(name text, taken int); insert into photo values ("beach", 2019);'
put a.sqlite sqlite3.sqlite
$PY -m fontTools.subset /usr/share/fonts/truetype/dejavu/DejaVuSans.ttf --text=Tessaro --output-file=sub.ttf
put sub.ttf fonttools-dejavu.ttf
$PY -m fontTools.subset /usr/share/fonts/truetype/dejavu/DejaVuSans.ttf --text=Tessaro --flavor=woff --output-file=sub.woff
put sub.woff fonttools-dejavu.woff
woff2_compress sub.ttf >/dev/null ; put sub.woff2 woff2-dejavu.woff2
$PY -m fontTools.subset /usr/share/fonts/opentype/urw-base35/C059-Roman.otf --text=Tessaro --output-file=sub.otf
put sub.otf fonttools-c059.otf
$PY -m fontTools.subset /usr/share/fonts/truetype/dejavu/DejaVuSerif.ttf --text=Tessaro --output-file=sub2.ttf
$PY -c 'import sys; from fontTools.ttLib import TTFont; from fontTools.ttLib.ttCollection import TTCollection
c = TTCollection(); c.fonts = [TTFont(sys.argv[1]), TTFont(sys.argv[2])]; c.save(sys.argv[3])' sub.ttf sub2.ttf sub.ttc
put sub.ttc fonttools-dejavu.ttc
put readme.txt plain.txt
iconv -f UTF-8 -t UTF-16 readme.txt > utf16.txt ; put utf16.txt iconv-utf16.txt
printf '<!doctype html>\n<html><head><title>x</title></head><body><p>x</p></body></html>\n' > lower.html
put lower.html handwritten-lowercase-doctype.html
printf '<html>\n<head><title>x</title></head>\n<body>x</body>\n</html>\n' > bare.html
put bare.html handwritten-no-doctype.html

# Address books and calendars are written by many programs, none of them a
# command of its own; these follow RFC 6350 and RFC 5545.
printf 'BEGIN:VCARD\r\nVERSION:4.0\r\nFN:Anna Example\r\nTEL:+1-555-0100\r\nEND:VCARD\r\n' > anna.vcf
put anna.vcf handwritten.vcf
printf 'BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//Tessaro//Test//EN\r\nBEGIN:VEVENT\r\nUID:1@example.org\r\nDTSTAMP:20240101T000000Z\r\nDTSTART:20240102T100000Z\r\nSUMMARY:Lake\r\nEND:VEVENT\r\nEND:VCALENDAR\r\n' > lake.ics
put lake.ics handwritten.ics

# ---------------------------------------------------------------- written by hand
# No program in Debian writes these. Each is the smallest well-formed file of
# its kind, laid out here byte by byte from the published format.
"${IM[@]}" base.png -resize 16x16! -quality 70 -strip thumb.jpg
$PY - "$out" thumb.jpg <<'PYTHON'
import struct, sys, zlib
out, thumb = sys.argv[1], open(sys.argv[2], 'rb').read()

def save(name, data):
    open(f'{out}/{name}', 'wb').write(data)

def tiff(order, entries, magic=42, header_extra=b'', pixels=bytes(64)):
    """A TIFF-structured file: one IFD of `entries` (tag, type, values) whose
    strip holds `pixels`. `magic` and `header_extra` give the camera makers'
    variants of the header."""
    e = '<' if order == b'II' else '>'
    head = order + struct.pack(e + 'HI', magic, 8 + len(header_extra)) + header_extra
    entries = sorted(entries + [(0x111, 4, [0]), (0x117, 4, [len(pixels)])])
    ifd_at = len(head)
    data_at = ifd_at + 2 + 12 * len(entries) + 4
    blob = b''
    packed = []
    sizes = {1: 1, 2: 1, 3: 2, 4: 4, 5: 8}
    for tag, typ, values in entries:
        if typ == 2:
            raw = values.encode() + b'\0'
            count = len(raw)
        else:
            fmt = {1: 'B', 3: 'H', 4: 'I'}[typ]
            raw = struct.pack(e + fmt * len(values), *values)
            count = len(values)
        packed.append([tag, typ, count, raw])
    strip_at = None
    # Values longer than four bytes go after the IFD; the strip goes last.
    for p in packed:
        if len(p[3]) > 4:
            p.append(data_at + len(blob))
            blob += p[3] + (b'\0' if len(p[3]) % 2 else b'')
    strip_at = data_at + len(blob)
    ifd = struct.pack(e + 'H', len(packed))
    for p in packed:
        tag, typ, count, raw = p[:4]
        if tag == 0x111:
            raw = struct.pack(e + 'I', strip_at)
        if len(raw) > 4:
            ifd += struct.pack(e + 'HHII', tag, typ, count, p[4])
        else:
            ifd += struct.pack(e + 'HHI', tag, typ, count) + raw.ljust(4, b'\0')
    ifd += struct.pack(e + 'I', 0)
    return head + ifd + blob + pixels

def basic(make, model):
    return [(0x100, 3, [8]), (0x101, 3, [8]), (0x102, 3, [8]), (0x103, 3, [1]),
            (0x106, 3, [32803]), (0x10F, 2, make), (0x110, 2, model), (0x115, 3, [1])]

# Canon CR2: a TIFF whose header carries "CR", version 2.0 and the raw IFD's offset.
save('handmade-canon.cr2', tiff(b'II', basic('Canon', 'Canon EOS 5D Mark III'),
                                header_extra=b'CR\x02\x00' + struct.pack('<I', 0)))
# Nikon NEF: a big-endian TIFF from a Nikon camera.
save('handmade-nikon.nef', tiff(b'MM', basic('NIKON CORPORATION', 'NIKON D750')))
# Sony ARW: a little-endian TIFF from a Sony camera.
save('handmade-sony.arw', tiff(b'II', basic('SONY', 'ILCE-7M3')))
# Adobe DNG: a TIFF with the DNGVersion tag (1.4.0.0).
save('handmade-adobe.dng', tiff(b'II', basic('Canon', 'Canon EOS 5D Mark III')
                                + [(0xC612, 1, [1, 4, 0, 0]), (0xC614, 2, 'Canon EOS 5D Mark III')]))
# DNG in Motorola byte order, from a Nikon: the DNGVersion tag tells it from a NEF.
save('handmade-adobe-motorola.dng', tiff(b'MM', basic('NIKON CORPORATION', 'NIKON D750')
                                         + [(0xC612, 1, [1, 4, 0, 0]), (0xC614, 2, 'NIKON D750')]))
# Nikon NEF in Intel byte order, as some Nikon cameras write it.
save('handmade-nikon-intel.nef', tiff(b'II', basic('NIKON CORPORATION', 'NIKON D3')))
# Olympus ORF: TIFF layout with the magic "RO" in place of 42.
save('handmade-olympus.orf', tiff(b'II', basic('OLYMPUS IMAGING CORP.', 'E-M5'), magic=0x4F52))
# Panasonic RW2: see the camera raws' layouts at the end.

# Fujifilm RAF: a 16-byte magic, format and camera ids, the camera name, then
# a directory of offsets to the embedded JPEG and the raw data.
name = b'X-T3'.ljust(32, b'\0')
head = b'FUJIFILMCCD-RAW 0201FF129502' + name + b'0100' + bytes(20)
jpeg_at = len(head) + 24
cfa = bytes(64)
head += struct.pack('>IIIIII', jpeg_at, len(thumb), jpeg_at + len(thumb), 0, jpeg_at + len(thumb), len(cfa))
save('handmade-fujifilm.raf', head + thumb + cfa)

# Canon CR3: ISO base media, brand "crx ", a moov with Canon's uuid box, an mdat.
def box(kind, payload):
    return struct.pack('>I', 8 + len(payload)) + kind + payload
canon_uuid = bytes.fromhex('85c0b687820f11e08111f4ce462b6a48')
cmt = box(b'CMT1', tiff(b'II', basic('Canon', 'Canon EOS R5'))[:0] + b'II*\x00\x08\x00\x00\x00\x00\x00\x00\x00\x00\x00')
cr3 = box(b'ftyp', b'crx ' + struct.pack('>I', 1) + b'crx isom')
cr3 += box(b'moov', box(b'uuid', canon_uuid + box(b'CNCV', b'CanonCR3_001/00.09.00/00.00.00') + cmt))
cr3 += box(b'mdat', thumb)
save('handmade-canon.cr3', cr3)

# RAR 5: signature, main header, one stored file, end of archive. Each header
# begins with the CRC32 of the rest of the header; sizes are variable-length.
def vint(n):
    out = b''
    while True:
        b = n & 0x7F
        n >>= 7
        out += bytes([b | (0x80 if n else 0)])
        if not n:
            return out
def rar5_header(body):
    sized = vint(len(body)) + body
    return struct.pack('<I', zlib.crc32(sized)) + sized
content = b'a file kept in a RAR 5 archive\n'
fname = b'note.txt'
file_body = (vint(2) + vint(0x02) + vint(len(content)) + vint(0x04) + vint(len(content)) + vint(0x20)
             + struct.pack('<I', zlib.crc32(content)) + vint(0) + vint(1) + vint(len(fname)) + fname)
rar5 = (b'Rar!\x1a\x07\x01\x00' + rar5_header(vint(1) + vint(0) + vint(0))
        + rar5_header(file_body) + content + rar5_header(vint(5) + vint(0) + vint(0)))
save('handmade-v5.rar', rar5)

# RAR 4: marker block, archive header, one stored file, end block. HEAD_CRC is
# the low 16 bits of the CRC32 of the header from its type byte on.
def rar4_block(kind, flags, rest):
    body = struct.pack('<BHH', kind, flags, 7 + len(rest)) + rest
    return struct.pack('<H', zlib.crc32(body) & 0xFFFF) + body
content = b'a file kept in a RAR 4 archive\n'
file_rest = (struct.pack('<IIBIIBBHI', len(content), len(content), 3, zlib.crc32(content),
                         0x5A6B0000, 29, 0x30, len(fname), 0x81A4) + fname)
rar4 = (b'Rar!\x1a\x07\x00' + rar4_block(0x73, 0, bytes(6))
        + rar4_block(0x74, 0x8000, file_rest) + content + rar4_block(0x7B, 0x4000, b''))
save('handmade-v4.rar', rar4)

# AMR narrow band and wide band: the magic line, then speech frames, each a
# table-of-contents byte (frame type, quality bit) and its bits.
import random
rng = random.Random(7)
frames = b''.join(b'\x3c' + bytes(rng.randrange(256) for _ in range(31)) for _ in range(25))
save('handmade-nb.amr', b'#!AMR\n' + frames)
frames = b''.join(b'\x44' + bytes(rng.randrange(256) for _ in range(60)) for _ in range(25))
save('handmade-wb.awb', b'#!AMR-WB\n' + frames)
PYTHON

# ---------------------------------------------------------------- added with the disk checks
# Targa in each of its usual forms: true colour with and without alpha, run-length
# coded, grey.
"${IM[@]}" base.png -alpha off -type TrueColor t24.tga ; put t24.tga imagemagick-24.tga
"${IM[@]}" base.png -alpha set -type TrueColorAlpha t32.tga ; put t32.tga imagemagick-32.tga
"${IM[@]}" base.png -alpha off -type TrueColor -compress RLE r24.tga ; put r24.tga imagemagick-rle-24.tga
"${IM[@]}" base.png -alpha set -type TrueColorAlpha -compress RLE r32.tga ; put r32.tga imagemagick-rle-32.tga
"${IM[@]}" base.png -type Grayscale g.tga ; put g.tga imagemagick-grey.tga
"${IM[@]}" base.png -type Grayscale -compress RLE gr.tga ; put gr.tga imagemagick-rle-grey.tga
# MP3 at 8 kHz is MPEG 2.5; lame starts it with its Xing (VBR) or Info (CBR) frame.
sox -n -r 8000 -c 1 -b 16 tone8.wav synth 0.5 sine 440
lame --quiet -V 6 tone8.wav m25v.mp3 ; put m25v.mp3 lame-mpeg25-vbr.mp3
lame --quiet -b 32 tone8.wav m25.mp3 ; put m25.mp3 lame-mpeg25.mp3
# Windows libraries from MinGW, 64-bit and 32-bit, with debugging information
# and without (its flag "no debug data" set), and from LLVM's linker for
# Microsoft's toolchain, which puts the PE header at 78.
printf 'int __declspec(dllexport) next(int x) { return x + 1; }\n' > lib.c
x86_64-w64-mingw32-gcc -shared -nostdlib -e 0 -O2 -g -o lib64g.dll lib.c ; put lib64g.dll mingw-64-debug.dll
x86_64-w64-mingw32-gcc -shared -nostdlib -e 0 -O2 -s -o lib64.dll lib.c ; put lib64.dll mingw-64.dll
i686-w64-mingw32-gcc -shared -nostdlib -e 0 -O2 -g -o lib32g.dll lib.c ; put lib32g.dll mingw-32-debug.dll
i686-w64-mingw32-gcc -shared -nostdlib -e 0 -O2 -s -o lib32.dll lib.c ; put lib32.dll mingw-32.dll
clang --target=x86_64-pc-windows-msvc -fuse-ld=lld -shared -nostdlib -Wl,-noentry -o ms64.dll lib.c
put ms64.dll lld-link-64.dll
clang --target=i686-pc-windows-msvc -fuse-ld=lld -shared -nostdlib -Wl,-noentry -o ms32.dll lib.c
put ms32.dll lld-link-32.dll
# Microsoft's own linker puts a "Rich" block of build records between the DOS
# stub and the PE header, which lands between D8 and 118; Wine's stand-in
# libraries put it at 60. The LLVM libraries with the header moved there (the
# header area has room to spare) stand in.
$PY - "$out" ms64.dll ms32.dll <<'PYTHON'
import struct, sys
out = sys.argv[1]
for source, bits in ((sys.argv[2], 64), (sys.argv[3], 32)):
    d = bytearray(open(source, 'rb').read())
    pe = struct.unpack_from('<I', d, 0x3C)[0]
    sections = struct.unpack_from('<H', d, pe + 6)[0]
    optional = struct.unpack_from('<H', d, pe + 20)[0]
    end = pe + 24 + optional + 40 * sections
    headers = struct.unpack_from('<I', d, pe + 24 + 60)[0]
    places = [(at, 'msvc') for at in range(0xD8, 0x120, 8)] + ([(0x60, 'wine')] if bits == 32 else [])
    for at, who in places:
        assert end + at - pe <= headers and not d[end:headers].strip(b'\0')
        moved = bytearray(d)
        # The header area keeps its size: the sections stay where they are.
        moved[min(at, pe):headers] = (bytes(max(at - pe, 0)) + d[pe:end]).ljust(headers - min(at, pe), b'\0')
        struct.pack_into('<I', moved, 0x3C, at)
        open(f'{out}/handmade-{who}-layout-{bits}-{at:x}.dll', 'wb').write(moved)
PYTHON
# Python bytecode of each layout: 3.7 on (16-byte header), 3.5 and 3.6 (12),
# Python 2; stamped with the source's time, as installed modules are. The interpreters are taken where they are found (pyenv keeps old ones).
printf 'def next(x):\n    return x + 1\n' > mod.py
for py in python3.11 python3.6 python2.7; do
  bin=$(ls /usr/bin/"$py" "${PYENV_ROOT:-$HOME/.pyenv}"/versions/*/bin/"$py" 2>/dev/null | head -1 || true)
  [ -n "$bin" ] || { echo "no $py: its bytecode is not made" >&2; continue; }
  env -u SOURCE_DATE_EPOCH "$bin" -c 'import py_compile, sys; py_compile.compile("mod.py", cfile="mod.pyc")'
  put mod.pyc "$py.pyc"
done
# XHTML: an XML declaration before the html element, as XHTML writers put it.
printf '<?xml version="1.0" encoding="UTF-8"?>\n<!DOCTYPE html PUBLIC "-//W3C//DTD XHTML 1.0 Strict//EN"\n  "http://www.w3.org/TR/xhtml1/DTD/xhtml1-strict.dtd">\n<html xmlns="http://www.w3.org/1999/xhtml"><head><title>x</title></head><body><p>x</p></body></html>\n' > x.html
put x.html handwritten-xhtml.html
# The first clusters of Office files whose directory lies at their end, as a
# disk check leaves them when the rest of the chain is lost: LibreOffice writes
# the directory last, after the streams.
seq 1 4000 | awk '{printf "<p>Line %d of a long letter about the lake.</p>\n", $1}' > long.html
soffice --headless --convert-to 'doc:MS Word 97' long.html >/dev/null 2>&1
head -c 8192 long.doc > long-head.doc ; put long-head.doc libreoffice-doc-first-clusters.doc
seq 1 3000 | awk '{printf "%d,%d,lake %d\n", $1, $1 * 7, $1}' > long.csv
soffice --headless --convert-to 'xls:MS Excel 97' long.csv >/dev/null 2>&1
head -c 8192 long.xls > long-head.xls ; put long-head.xls libreoffice-xls-first-clusters.xls
head -c 8192 "$out/libreoffice-ppt.ppt" > ppt-head.ppt ; put ppt-head.ppt libreoffice-ppt-first-clusters.ppt
# A first cluster that holds only the compound file's header and allocation
# table: no stream begins in it, so nothing tells what it was.
head -c 4096 long.doc > long-4k.doc ; put long-4k.doc libreoffice-compound-first-cluster.doc
# Pages and pictures that begin otherwise: an upper-case element, a comment.
printf '<HTML>\n<HEAD><TITLE>x</TITLE></HEAD>\n<BODY>x</BODY>\n</HTML>\n' > upper.html
put upper.html handwritten-upper-case.html
printf '<!-- Saved from the lake trip page -->\n<html>\n<head><title>x</title></head>\n<body>x</body>\n</html>\n' > comment.html
put comment.html handwritten-comment-first.html
printf '<!-- Made with a drawing program -->\n<svg xmlns="http://www.w3.org/2000/svg" width="8" height="8"><rect width="8" height="8"/></svg>\n' > comment.svg
put comment.svg handwritten-comment-first.svg
# The first cluster of a LibreOffice DOCX whose page has form fields: their
# controls come before word/document.xml, so only the document's relations
# tell what it is.
{ echo '<html><body><form>'
  for i in $(seq 1 12); do echo "<p>Field $i <input type=\"text\" name=\"f$i\" value=\"lake $i\"></p>"; done
  echo '</form>'; seq 1 500 | awk '{printf "<p>Line %d of a long letter about the lake.</p>\n", $1}'
  echo '</body></html>'; } > form.html
soffice --headless --convert-to 'docx:MS Word 2007 XML' form.html >/dev/null 2>&1
head -c 4096 form.docx > form-head.docx ; put form-head.docx libreoffice-docx-first-cluster.docx
# A shared library, beside the program above.
gcc -Os -s -shared -fPIC -o next.so next.c ; put next.so gcc.so
# Microsoft Word writes C1 00 as the version of its file information block,
# where LibreOffice writes 01 01; no program here writes Word's own, so the
# LibreOffice file's first clusters with Word's version stand in. Likewise the
# Python bytecode of 3.14 (magic 3627), which Debian has no interpreter for.
$PY - "$out" <<'PYTHON'
import sys
out = sys.argv[1]
doc = bytearray(open(f'{out}/libreoffice-doc-first-clusters.doc', 'rb').read())
fib = doc.find(b'\xec\xa5\x01\x01')
doc[fib + 2:fib + 4] = b'\xc1\x00'
open(f'{out}/handmade-word-first-clusters.doc', 'wb').write(doc)
pyc = bytearray(open(f'{out}/python3.11.pyc', 'rb').read())
pyc[0:2] = (3627).to_bytes(2, 'little')
open(f'{out}/handmade-python3.14.pyc', 'wb').write(pyc)
PYTHON

# ---------------------------------------------------------------- PDF layouts
# A linearized PDF (its last startxref points back at the first page's
# cross-reference) and one whose cross-reference is a stream, from qpdf.
qpdf --deterministic-id --linearize "$out/libreoffice-pdf.pdf" lin.pdf ; put lin.pdf qpdf-linearized.pdf
qpdf --deterministic-id --object-streams=generate "$out/ghostscript.pdf" xs.pdf ; put xs.pdf qpdf-xref-stream.pdf
# Incremental updates as exiftool appends them, a comment between the trailer
# and its startxref: after a cross-reference table, and as a stream after one.
cp "$out/ghostscript.pdf" up.pdf ; exiftool -q -overwrite_original -Title=Update up.pdf ; put up.pdf exiftool-update.pdf
cp xs.pdf up-xs.pdf ; exiftool -q -overwrite_original -Title=Update up-xs.pdf ; put up-xs.pdf exiftool-xref-stream-update.pdf

# ---------------------------------------------------------------- picture checkers
# A progressive JPEG: several scans, with tables between them.
"${IM[@]}" base.png -interlace Plane -quality 80 -strip progressive.jpg ; put progressive.jpg imagemagick-progressive.jpg
# TIFFs of two pages (an IFD chain) and of tiles.
"${IM[@]}" base.png \( base.png -negate \) -compress lzw pages.tif ; put pages.tif imagemagick-pages.tif
"${IM[@]}" base.png -define tiff:tile-geometry=16x16 -compress zip tiles.tif ; put tiles.tif imagemagick-tiles.tif
# A JPEG with an EXIF thumbnail: the thumbnail's own end of image lies inside
# APP1, long before the picture's.
"${IM[@]}" base.png -quality 85 -strip exif.jpg
exiftool -q -overwrite_original -Make=Tessaro -Model=Lake -DateTimeOriginal='2023:11:14 22:13:20' \
  "-ThumbnailImage<=thumb.jpg" exif.jpg ; put exif.jpg exiftool-thumbnail.jpg
# An animated GIF, a BMP of run-length pixels, an icon of two sizes.
"${IM[@]}" -delay 10 base.png \( base.png -negate \) \( base.png -flip \) -loop 0 anim.gif ; put anim.gif imagemagick-animated.gif
"${IM[@]}" base.png -colors 16 -compress RLE bmp3:rle8.bmp ; put rle8.bmp imagemagick-rle8.bmp
"${IM[@]}" base.png -define icon:auto-resize=32,16 multi.ico ; put multi.ico imagemagick-two-sizes.ico

# ---------------------------------------------------------------- archives written as streams
# Info-ZIP writing to a pipe with ZIP64 forced: it cannot seek back, so each
# member's sizes follow its data in a 64-bit data descriptor, and the archive
# ends with the ZIP64 end records. gzip members one after another, as
# appending to a log leaves them.
printf 'one\n' > one.txt; printf 'two two two two two two two\n' > two.txt
zip -q -X -fz - one.txt two.txt | cat > streamed.zip ; put streamed.zip info-zip-zip64-streamed.zip
seq 1 60 | sed 's/^/line /' > log.txt
{ gzip -9 -n -c one.txt; gzip -9 -n -c log.txt; } > two.gz ; put two.gz gzip-two-members.gz

# Sound and video written to a pipe, as a live recorder writes them: the
# Matroska Segment's size is left unknown, so its elements say where it ends.
src=(-f lavfi -i testsrc=s=32x24:r=25:d=0.2 -f lavfi -i sine=f=440:d=0.2)
"${FF[@]}" "${src[@]}" -c:v mpeg4 -c:a libvorbis -f matroska - > pipe.mkv ; put pipe.mkv ffmpeg-pipe.mkv

# ---------------------------------------------------------------- camera raws' layouts
# The raws as cameras lay them out, following the published descriptions of
# each format (IFDs, maker notes, heaps, blocks): previews and maker notes
# first, the raw data last. Only the pictures are tiny.
$PY - "$out" <<'PYTHON'
import struct, sys
out = sys.argv[1]
jpeg = open(f'{out}/imagemagick.jpg', 'rb').read()
raw = bytes((i * 37 + 11) & 0xFF for i in range(512))

def save(name, data):
    open(f'{out}/{name}', 'wb').write(data)

def ifd(e, at, entries, next_ifd=0, base=0):
    """An IFD at `at` with its values right after it; offsets count from
    `base`. A value ('ext', offset, count) is data kept elsewhere."""
    entries = sorted(entries, key=lambda x: x[0])
    data_at = at + 2 + 12 * len(entries) + 4
    head, blob = struct.pack(e + 'H', len(entries)), b''
    for tag, typ, vals in entries:
        if isinstance(vals, tuple):
            head += struct.pack(e + 'HHII', tag, typ, vals[2], vals[1] - base)
            continue
        if typ in (2, 7):
            value = vals if isinstance(vals, bytes) else vals.encode() + b'\0'
            count = len(value)
        else:
            value = struct.pack(e + {1: 'B', 3: 'H', 4: 'I', 5: 'I', 13: 'I'}[typ] * len(vals), *vals)
            count = len(vals) // 2 if typ == 5 else len(vals)
        if len(value) > 4:
            head += struct.pack(e + 'HHII', tag, typ, count, data_at + len(blob) - base)
            blob += value + (b'\0' if len(value) % 2 else b'')
        else:
            head += struct.pack(e + 'HHI', tag, typ, count) + value.ljust(4, b'\0')
    return head + struct.pack(e + 'I', next_ifd) + blob

class Offsets(dict):
    def __missing__(self, key):
        return 0

def layout(order, magic, extra, items):
    """A TIFF-structured file: its header (`extra` after it), then `items`,
    (name, function of the items' offsets giving their bytes) in order; the
    header points at the first."""
    e = '<' if order == b'II' else '>'
    offsets = Offsets()
    at = 8 + len(extra(offsets))
    for name, fn in items:
        offsets[name] = at
        size = len(fn(offsets))
        offsets[name + '.size'] = size
        at += size + size % 2
    data = order + struct.pack(e + 'HI', magic, offsets[items[0][0]]) + extra(offsets)
    for name, fn in items:
        data += fn(offsets)
        data += b'\0' * (len(data) % 2 if name != items[-1][0] else 0)
    return data

def ext(o, name):
    return ('ext', o[name], o[name + '.size'])

# Canon CR2 (EOS 5D Mark III): IFD0 the big JPEG preview, IFD1 the thumbnail,
# IFD2 a small RGB picture, IFD3 (also named in the header) the raw data. The
# Canon maker note is a bare IFD whose offsets count from the file's start.
rgb = bytes(range(48))
cr2 = layout(b'II', 42, lambda o: b'CR\x02\x00' + struct.pack('<I', o['ifd3']), [
    ('ifd0', lambda o: ifd('<', o['ifd0'], [
        (0x100, 3, [48]), (0x101, 3, [32]), (0x102, 3, [8, 8, 8]), (0x103, 3, [6]),
        (0x10F, 2, 'Canon'), (0x110, 2, 'Canon EOS 5D Mark III'), (0x111, 4, [o['preview']]),
        (0x112, 3, [1]), (0x117, 4, [len(jpeg)]), (0x11A, 5, [72, 1]), (0x11B, 5, [72, 1]),
        (0x128, 3, [2]), (0x132, 2, '2023:11:14 22:13:20'), (0x8769, 4, [o['exif']])], o['ifd1'])),
    ('exif', lambda o: ifd('<', o['exif'], [
        (0x829A, 5, [1, 200]), (0x829D, 5, [8, 1]), (0x8827, 3, [400]), (0x9000, 7, b'0230'),
        (0x927C, 7, ext(o, 'note'))])),
    ('note', lambda o: ifd('<', o['note'], [
        (0x1, 3, [92] + [0] * 45), (0x6, 2, 'Canon EOS 5D Mark III'), (0x7, 2, 'Firmware Version 1.3.3'),
        (0x10, 4, [0x80000285])])),
    ('ifd1', lambda o: ifd('<', o['ifd1'], [
        (0x103, 3, [6]), (0x201, 4, [o['thumb']]), (0x202, 4, [len(jpeg)])], o['ifd2'])),
    ('ifd2', lambda o: ifd('<', o['ifd2'], [
        (0x100, 3, [4]), (0x101, 3, [4]), (0x102, 3, [8, 8, 8]), (0x103, 3, [1]), (0x106, 3, [2]),
        (0x111, 4, [o['rgb']]), (0x115, 3, [3]), (0x116, 3, [4]), (0x117, 4, [len(rgb)]),
        (0x11C, 3, [1]), (0xC5D9, 4, [2]), (0xC6C5, 4, [3]), (0xC6DC, 4, [577, 638, 5275, 3514])], o['ifd3'])),
    ('ifd3', lambda o: ifd('<', o['ifd3'], [
        (0x103, 3, [6]), (0x111, 4, [o['raw']]), (0x117, 4, [len(raw)]), (0xC5D8, 4, [1]),
        (0xC5E0, 4, [1]), (0xC640, 3, [1, 8, 8])])),
    ('preview', lambda o: jpeg), ('thumb', lambda o: jpeg), ('rgb', lambda o: rgb), ('raw', lambda o: raw)])
save('camera-layout-canon.cr2', cr2)

# Nikon NEF (D750), big-endian: IFD0 a small RGB thumbnail and two SubIFDs,
# the JPEG preview and the raw data; the maker note holds a TIFF of its own
# (offsets from its header) whose preview IFD names a JPEG inside the note.
def nikon_note(at):
    tiff_at = at + 10
    note_ifd = ifd('>', tiff_at + 8, [(0x1, 7, b'0211'), (0x4, 2, 'RAW    '), (0x11, 4, [0])], base=tiff_at)
    preview_ifd_at = tiff_at + 8 + len(note_ifd)
    preview_ifd = ifd('>', preview_ifd_at, [(0x103, 3, [6]), (0x201, 4, [0]), (0x202, 4, [len(jpeg)]),
                                            (0x213, 3, [2])], base=tiff_at)
    jpeg_at = preview_ifd_at + len(preview_ifd)
    note_ifd = ifd('>', tiff_at + 8, [(0x1, 7, b'0211'), (0x4, 2, 'RAW    '),
                                      (0x11, 4, [preview_ifd_at - tiff_at])], base=tiff_at)
    preview_ifd = ifd('>', preview_ifd_at, [(0x103, 3, [6]), (0x201, 4, [jpeg_at - tiff_at]),
                                            (0x202, 4, [len(jpeg)]), (0x213, 3, [2])], base=tiff_at)
    return b'Nikon\0\x02\x10\0\0MM\0\x2a' + struct.pack('>I', 8) + note_ifd + preview_ifd + jpeg
nef = layout(b'MM', 42, lambda o: b'', [
    ('ifd0', lambda o: ifd('>', o['ifd0'], [
        (0xFE, 4, [1]), (0x100, 4, [4]), (0x101, 4, [4]), (0x102, 3, [8, 8, 8]), (0x103, 3, [1]),
        (0x106, 3, [2]), (0x10F, 2, 'NIKON CORPORATION'), (0x110, 2, 'NIKON D750'), (0x111, 4, [o['rgb']]),
        (0x112, 3, [1]), (0x115, 3, [3]), (0x116, 4, [4]), (0x117, 4, [len(rgb)]), (0x11A, 5, [300, 1]),
        (0x11B, 5, [300, 1]), (0x11C, 3, [1]), (0x128, 3, [2]), (0x131, 2, 'Ver.1.10'),
        (0x132, 2, '2023:11:14 22:13:20'), (0x14A, 4, [o['sub0'], o['sub1']]), (0x8769, 4, [o['exif']]),
        (0x9216, 1, [1, 0, 0, 0])])),
    ('sub0', lambda o: ifd('>', o['sub0'], [
        (0xFE, 4, [1]), (0x103, 3, [6]), (0x11A, 5, [300, 1]), (0x11B, 5, [300, 1]), (0x128, 3, [2]),
        (0x201, 4, [o['preview']]), (0x202, 4, [len(jpeg)]), (0x213, 3, [2])])),
    ('sub1', lambda o: ifd('>', o['sub1'], [
        (0xFE, 4, [0]), (0x100, 4, [16]), (0x101, 4, [16]), (0x102, 3, [14]), (0x103, 3, [34713]),
        (0x106, 3, [32803]), (0x111, 4, [o['raw']]), (0x115, 3, [1]), (0x116, 4, [16]),
        (0x117, 4, [len(raw)]), (0x11A, 5, [300, 1]), (0x11B, 5, [300, 1]), (0x11C, 3, [1]),
        (0x128, 3, [2]), (0x828D, 3, [2, 2]), (0x828E, 1, [1, 2, 0, 1]), (0x9217, 3, [2])])),
    ('exif', lambda o: ifd('>', o['exif'], [
        (0x829A, 5, [1, 250]), (0x829D, 5, [56, 10]), (0x8827, 3, [100]), (0x9000, 7, b'0230'),
        (0x927C, 7, ext(o, 'note'))])),
    ('note', lambda o: nikon_note(o['note'])),
    ('rgb', lambda o: rgb), ('preview', lambda o: jpeg), ('raw', lambda o: raw)])
save('camera-layout-nikon.nef', nef)

# Sony's cipher of the SR2 block: words (big-endian) XORed with a pad grown
# from the key; the same steps decipher.
def sony_cipher(data, key):
    pad = []
    for _ in range(4):
        key = (key * 48828125 + 1) & 0xFFFFFFFF
        pad.append(key)
    pad[3] = (pad[3] << 1 | (pad[0] ^ pad[2]) >> 31) & 0xFFFFFFFF
    for i in range(4, 127):
        pad.append(((pad[i - 4] ^ pad[i - 2]) << 1 | (pad[i - 3] ^ pad[i - 1]) >> 31) & 0xFFFFFFFF)
    pad.append(0)
    words = list(struct.unpack('>%dI' % (len(data) // 4), data))
    for j in range(len(words)):
        i = 0x7F + j
        pad[i & 0x7F] = pad[(i + 1) & 0x7F] ^ pad[(i + 65) & 0x7F]
        words[j] ^= pad[i & 0x7F]
    return struct.pack('>%dI' % len(words), *words)

def sr2_block(at):
    """The SR2SubIFD (white balance and black levels), enciphered."""
    plain = ifd('<', at, [(0x7303, 3, [512, 256, 256, 640]), (0x7310, 3, [512, 512, 512, 512]),
                          (0x7313, 3, [640, 256, 256, 512])])
    return sony_cipher(plain + bytes(-len(plain) % 4), 0x12345678)

# Sony ARW (ILCE-7M3): IFD0 the JPEG preview, a SubIFD the raw data and
# DNGPrivateData (four bytes of type BYTE) the SR2Private IFD, which names
# the enciphered SR2 block;
# IFD1 the thumbnail; the maker note an IFD after "SONY DSC ".
arw = layout(b'II', 42, lambda o: b'', [
    ('ifd0', lambda o: ifd('<', o['ifd0'], [
        (0xFE, 4, [1]), (0x103, 3, [6]), (0x10E, 2, ' ' * 31), (0x10F, 2, 'SONY'), (0x110, 2, 'ILCE-7M3'),
        (0x112, 3, [1]), (0x11A, 5, [350, 1]), (0x11B, 5, [350, 1]), (0x128, 3, [2]),
        (0x131, 2, 'ILCE-7M3 v3.01'), (0x132, 2, '2023:11:14 22:13:20'), (0x14A, 4, [o['rawifd']]),
        (0x201, 4, [o['preview']]), (0x202, 4, [len(jpeg)]), (0x213, 3, [2]), (0x8769, 4, [o['exif']]),
        (0xC634, 1, list(struct.pack('<I', o['sr2'])))], o['ifd1'])),
    ('exif', lambda o: ifd('<', o['exif'], [
        (0x829A, 5, [1, 160]), (0x829D, 5, [40, 10]), (0x8827, 3, [200]), (0x9000, 7, b'0231'),
        (0x927C, 7, ext(o, 'note'))])),
    ('note', lambda o: b'SONY DSC \0\0\0' + ifd('<', o['note'] + 12, [
        (0x102, 4, [5]), (0xB020, 2, 'Standard'), (0xB041, 3, [0])])),
    ('ifd1', lambda o: ifd('<', o['ifd1'], [
        (0x103, 3, [6]), (0x201, 4, [o['thumb']]), (0x202, 4, [len(jpeg)]), (0x213, 3, [2])])),
    ('sr2', lambda o: ifd('<', o['sr2'], [
        (0x7200, 4, [o['sr2block']]), (0x7201, 4, [o['sr2block.size']]), (0x7221, 4, [0x12345678])])),
    ('rawifd', lambda o: ifd('<', o['rawifd'], [
        (0xFE, 4, [0]), (0x100, 4, [16]), (0x101, 4, [16]), (0x102, 3, [16]), (0x103, 3, [1]),
        (0x106, 3, [32803]), (0x111, 4, [o['raw']]), (0x115, 3, [1]), (0x116, 4, [16]),
        (0x117, 4, [len(raw)]), (0x11C, 3, [1]), (0x828D, 3, [2, 2]), (0x828E, 1, [0, 1, 1, 2]),
        (0x7000, 3, [0]), (0x7010, 3, [0, 4096, 8192, 16383])])),
    ('thumb', lambda o: jpeg), ('preview', lambda o: jpeg), ('sr2block', lambda o: sr2_block(o['sr2block'])),
    ('raw', lambda o: raw)])
save('camera-layout-sony.arw', arw)

# Olympus ORF (E-M5): "IIRO"; IFD0 the raw data; the maker note "OLYMPUS\0II"
# with sub-IFDs of offsets from the note, CameraSettings naming a preview.
def olympus_note(at):
    top = lambda eq, cs: ifd('<', at + 12, [(0x0, 7, b'0100'), (0x2010, 13, [eq]), (0x2020, 13, [cs])], base=at)
    eq_at = 12 + len(top(0, 0))
    equipment = lambda: ifd('<', at + eq_at, [(0x0, 7, b'0100'), (0x100, 7, b'\x04\x00\x00\x00\x00\x00')], base=at)
    cs_at = eq_at + len(equipment())
    settings = lambda p: ifd('<', at + cs_at, [(0x0, 7, b'0100'), (0x100, 4, [1]), (0x101, 4, [p]),
                                               (0x102, 4, [len(jpeg)])], base=at)
    preview_at = cs_at + len(settings(0))
    return b'OLYMPUS\0II\x03\0' + top(eq_at, cs_at) + equipment() + settings(preview_at) + jpeg
orf = layout(b'II', 0x4F52, lambda o: b'', [
    ('ifd0', lambda o: ifd('<', o['ifd0'], [
        (0xFE, 4, [0]), (0x100, 4, [16]), (0x101, 4, [16]), (0x102, 3, [16]), (0x103, 3, [1]),
        (0x106, 3, [32803]), (0x10F, 2, 'OLYMPUS IMAGING CORP.  '), (0x110, 2, 'E-M5'),
        (0x111, 4, [o['raw']]), (0x112, 3, [1]), (0x115, 3, [1]), (0x116, 4, [16]), (0x117, 4, [len(raw)]),
        (0x11A, 5, [314, 1]), (0x11B, 5, [314, 1]), (0x11C, 3, [1]), (0x128, 3, [2]),
        (0x131, 2, 'Version 1.0'), (0x132, 2, '2023:11:14 22:13:20'), (0x8769, 4, [o['exif']])])),
    ('exif', lambda o: ifd('<', o['exif'], [
        (0x829A, 5, [1, 320]), (0x829D, 5, [28, 10]), (0x8827, 3, [200]), (0x9000, 7, b'0230'),
        (0x927C, 7, ext(o, 'note'))])),
    ('note', lambda o: olympus_note(o['note'])),
    ('raw', lambda o: raw)])
save('camera-layout-olympus.orf', orf)

# Panasonic RW2 (DMC-GH4): "IIU\0", the IFD's offset and RW2's 16-byte
# signature; IFD0 with Panasonic's own tags (sensor 16 x 16, 12 bits, its
# compression: 14 pixels in 16 bytes), the JPEG (with its EXIF) kept whole in
# tag 0x2E, the raw data after RawDataOffset.
rw2_sig = bytes.fromhex('88e774d8f8251d4d947a6e77822b5d6a')
rw2 = layout(b'II', 0x55, lambda o: rw2_sig, [
    ('ifd0', lambda o: ifd('<', o['ifd0'], [
        (0x1, 7, b'0410'), (0x2, 3, [16]), (0x3, 3, [16]), (0x4, 3, [0]), (0x5, 3, [0]), (0x6, 3, [16]),
        (0x7, 3, [16]), (0x9, 3, [1]), (0xA, 3, [12]), (0xB, 3, [34316]), (0x17, 3, [200]),
        (0x2E, 7, jpeg), (0x10F, 2, 'Panasonic'), (0x110, 2, 'DMC-GH4'), (0x111, 4, [o['raw']]),
        (0x112, 3, [1]), (0x116, 4, [16]), (0x117, 4, [304]), (0x118, 4, [o['raw']])])),
    ('raw', lambda o: raw[:304])])
save('handmade-panasonic.rw2', rw2)

# Fujifilm RAF (X-T3): the header names the JPEG, the CFA header (a count of
# records: tag, size, data) and the CFA data, one after another.
records = [(0x100, struct.pack('>HH', 16, 16)), (0x110, struct.pack('>HH', 0, 0)),
           (0x111, struct.pack('>HH', 16, 16)), (0x130, bytes(36))]
cfa_header = struct.pack('>I', len(records)) + b''.join(struct.pack('>HH', t, len(d)) + d for t, d in records)
head = b'FUJIFILMCCD-RAW 0201FF129502' + b'X-T3'.ljust(32, b'\0') + b'0100' + bytes(20)
at = len(head) + 24 + 16
head += struct.pack('>IIIIII', at, len(jpeg), at + len(jpeg), len(cfa_header),
                    at + len(jpeg) + len(cfa_header), len(raw)) + bytes(16)
save('camera-layout-fujifilm.raf', head + jpeg + cfa_header + raw)

# Canon CRW (CIFF, EOS D60): "II", the header's length, "HEAPCCDR", version
# 1.2; the root heap holds the JPEG, the raw data and the ImageProps heap, its
# offset table at its end.
def heap(records):
    """Records (type, data) or (type, 8 inline bytes) for types stored in the entry."""
    data, entries = b'', b''
    for kind, value in records:
        if kind & 0xC000 == 0x4000:
            entries += struct.pack('<H', kind) + value
        else:
            entries += struct.pack('<HII', kind, len(value), len(data))
            data += value
    return data + struct.pack('<H', len(records)) + entries + struct.pack('<I', len(data))
props = heap([(0x080A, b'Canon\0Canon EOS D60\0'), (0x1810, struct.pack('<IIfII', 16, 16, 1.0, 0, 12)),
              (0x5029, struct.pack('<HHHH', 0, 50, 0, 0))])
root = heap([(0x2007, jpeg), (0x2005, raw), (0x300A, props)])
save('handmade-canon.crw', b'II' + struct.pack('<I', 26) + b'HEAPCCDR' + struct.pack('<HH', 2, 1) + bytes(8) + root)

# Minolta MRW (DYNAX 7D): "\0MRM" and the blocks' length; PRD (firmware,
# sensor and picture size, 16 bits a pixel stored unpacked), TTW (the TIFF
# tags, big-endian), WBG (white balance), RIF (settings); then the raw data,
# 16 x 16 pixels of 2 bytes.
ttw_ifd = ifd('>', 8, [(0x10F, 2, 'KONICA MINOLTA'), (0x110, 2, 'DYNAX 7D'), (0x112, 3, [1])])
blocks = [(b'PRD', b'21860002' + struct.pack('>HHHHBBBBBBH', 16, 16, 16, 16, 16, 12, 0x52, 0, 0, 0, 1)),
          (b'TTW', b'MM\0\x2a' + struct.pack('>I', 8) + ttw_ifd),
          (b'WBG', bytes([0, 0, 0, 0]) + struct.pack('>HHHH', 474, 256, 256, 404)),
          (b'RIF', bytes(52))]
body = b''.join(b'\0' + t + struct.pack('>I', len(d)) + d for t, d in blocks)
save('handmade-minolta.mrw', b'\0MRM' + struct.pack('>I', len(body)) + body + raw)
PYTHON
# ---------------------------------------------------------------- MPEG program stream with its end code
# ffmpeg leaves the program end code out; mplex (mjpegtools) writes it, as the
# authoring programs of video discs do.
src=(-f lavfi -i testsrc=s=32x24:r=25:d=0.2 -f lavfi -i sine=f=440:d=0.2)
"${FF[@]}" "${src[@]}" -map 0:v -c:v mpeg2video -f mpeg2video mux.m2v
"${FF[@]}" "${src[@]}" -map 1:a -c:a mp2 -b:a 64k -f mp2 mux.mp2
mplex -v 0 -f 3 -r 2000 -o mux.mpg mux.m2v mux.mp2 ; put mux.mpg mplex.mpg
# ---------------------------------------------------------------- EPS with a DOS binary header
# epstool puts a TIFF preview beside the PostScript, behind the binary header
# that Windows programs read.
epstool --quiet --add-tiff-preview --device tiffg3 "$out/ghostscript.eps" epstool.eps >/dev/null
put epstool.eps epstool.eps
# ---------------------------------------------------------------- what other people's programs write
# Bitmaps whose reserved header bytes are not zero, as several programs write
# them: ImageMagick's bitmaps of each header size, the reserved bytes then set.
"${IM[@]}" base.png bmp3:r40.bmp
"${IM[@]}" base.png r124.bmp
"${IM[@]}" base.png bmp2:r12.bmp
for b in r40 r124 r12; do
  printf '\x4e\x41\x00\x00' | dd of=$b.bmp bs=1 seek=6 conv=notrunc status=none
  put $b.bmp imagemagick-reserved-$b.bmp
done
# HEIC and AVIF with the general brands first, as phones write them: libheif's
# pictures with their major brand changed to mif1 (msf1, heix, hevc).
"${IM[@]}" base.png -quality 50 brand.heic
"${IM[@]}" base.png -quality 50 brand.avif
for brand in mif1 msf1 heix hevc; do
  cp brand.heic $brand.heic
  printf '%s' $brand | dd of=$brand.heic bs=1 seek=8 conv=notrunc status=none
  put $brand.heic imagemagick-brand-$brand.heic
done
cp brand.avif mif1.avif
printf 'mif1' | dd of=mif1.avif bs=1 seek=8 conv=notrunc status=none
put mif1.avif imagemagick-brand-mif1.avif
# The netpbm pictures in their text form.
"${IM[@]}" base.png -compress none ascii.ppm ; put ascii.ppm imagemagick-text.ppm
"${IM[@]}" base.png -colorspace gray -compress none ascii.pgm ; put ascii.pgm imagemagick-text.pgm
"${IM[@]}" base.png -monochrome -compress none ascii.pbm ; put ascii.pbm imagemagick-text.pbm
# ARJ.
arj a -y -i a.arj one.txt two.txt >/dev/null ; put a.arj arj.arj
# Mail and saved web pages: the usual first headers, written here.
printf 'Return-Path: <anna@example.org>\r\nFrom: Anna <anna@example.org>\r\nTo: Ben <ben@example.org>\r\nSubject: Lake\r\nDate: Mon, 1 Jan 2024 10:00:00 +0000\r\n\r\nSee you at the lake.\r\n' > rp.eml ; put rp.eml handmade-return-path.eml
printf 'Received: from mail.example.org by mx.example.org; Mon, 1 Jan 2024 10:00:01 +0000\r\nFrom: anna@example.org\r\nSubject: Lake\r\n\r\nSee you.\r\n' > rc.eml ; put rc.eml handmade-received.eml
printf 'Delivered-To: ben@example.org\r\nFrom: anna@example.org\r\nSubject: Lake\r\n\r\nSee you.\r\n' > dt.eml ; put dt.eml handmade-delivered.eml
printf 'MIME-Version: 1.0\r\nFrom: anna@example.org\r\nSubject: Lake\r\nContent-Type: text/plain\r\n\r\nSee you.\r\n' > mv.eml ; put mv.eml handmade-mime.eml
printf 'From: anna@example.org\r\nTo: ben@example.org\r\nSubject: Lake\r\nDate: Mon, 1 Jan 2024 10:00:00 +0000\r\n\r\nSee you.\r\n' > fr.eml ; put fr.eml handmade-from.eml
mht_body='Subject: x\r\nMIME-Version: 1.0\r\nContent-Type: multipart/related; boundary="b"\r\n\r\n--b\r\nContent-Type: text/html\r\nContent-Location: http://example.org/\r\n\r\n<html><body>x</body></html>\r\n--b--\r\n'
printf "From: <Saved by Blink>\r\n$mht_body" > blink.mht ; put blink.mht handmade-blink.mht
printf "From: \"Saved by Internet Explorer 11\"\r\n$mht_body" > ie.mht ; put ie.mht handmade-ie.mht
printf 'MIME-Version: 1.0\r\nContent-Type: multipart/related; boundary="b"\r\n\r\n--b\r\nContent-Type: text/html\r\nContent-Location: http://example.org/\r\n\r\n<html><body>x</body></html>\r\n--b--\r\n' > mime.mht ; put mime.mht handmade-mime.mht
# ---------------------------------------------------------------- containers of other programs, written here
# An Outlook message (no program of Debian writes one): a compound file of
# 512-byte sectors whose small streams live in the mini stream, as Outlook
# writes it: the property stream, the subject, the body and the message
# class, and the named-property storage every message has.
$PY - "$out" <<'PYTHON'
import struct, sys
out = sys.argv[1]

def compound(tree, clsid=bytes(16)):
    """A compound file of `tree`: {name: bytes (a stream) or dict (a storage)}."""
    entries = []  # [name, type, children, data]
    def add(name, node):
        i = len(entries)
        entries.append([name, 1 if isinstance(node, dict) else 2, [], node])
        if isinstance(node, dict):
            entries[i][2] = [add(n, c) for n, c in node.items()]
        return i
    entries.append(['Root Entry', 5, [], None])
    entries[0][2] = [add(n, c) for n, c in tree.items()]
    # Small streams into the mini stream, 64 bytes a mini sector.
    mini, minifat, big = b'', [], []
    for e in entries:
        if e[1] != 2:
            continue
        data = e[3]
        if len(data) < 4096:
            first = len(minifat)
            n = max(1, -(-len(data) // 64)) if data else 0
            e.append(first if n else 0xFFFFFFFE)
            minifat += [first + k + 1 for k in range(n - 1)] + ([0xFFFFFFFE] if n else [])
            mini += data.ljust(n * 64, b'\0')
        else:
            e.append(None)
            big.append(e)
    # Sectors: FAT (1), directory, mini FAT, mini stream, big streams.
    dir_sectors = -(-len(entries) // 4)
    minifat_sectors = -(-len(minifat) * 4 // 512) if minifat else 0
    mini_sectors = -(-len(mini) // 512)
    fat = [0xFFFFFFFD]
    def chain(n):
        start = len(fat)
        fat.extend(start + k + 1 for k in range(n - 1))
        fat.append(0xFFFFFFFE)
        return start
    dir_start = chain(dir_sectors)
    minifat_start = chain(minifat_sectors) if minifat_sectors else 0xFFFFFFFE
    mini_start = chain(mini_sectors) if mini_sectors else 0xFFFFFFFE
    body = b''
    for e in big:
        e[4] = chain(-(-len(e[3]) // 512))
        body += e[3].ljust(-(-len(e[3]) // 512) * 512, b'\0')
    assert len(fat) <= 128
    def key(i):
        n = entries[i][0]
        return (len(n), n.upper())
    def tree_of(ids):
        """Siblings as a balanced binary tree: (root, {id: (left, right)})."""
        ids = sorted(ids, key=key)
        links = {}
        def build(lo, hi):
            if lo >= hi:
                return 0xFFFFFFFF
            mid = (lo + hi) // 2
            links[ids[mid]] = (build(lo, mid), build(mid + 1, hi))
            return ids[mid]
        return build(0, len(ids)), links
    left_right, child = {}, {}
    for i, e in enumerate(entries):
        if e[1] in (1, 5):
            child[i], links = tree_of(e[2])
            left_right.update(links)
    directory = b''
    for i, e in enumerate(entries):
        name = e[0].encode('utf-16-le') + b'\0\0'
        left, right = left_right.get(i, (0xFFFFFFFF, 0xFFFFFFFF))
        if e[1] == 5:
            start, size = mini_start, len(mini)
        elif e[1] == 2:
            start, size = e[4], len(e[3])
        else:
            start, size = 0, 0
        directory += (name.ljust(64, b'\0') + struct.pack('<HBB3I', len(name), e[1], 1, left, right,
                      child.get(i, 0xFFFFFFFF)) + (clsid if e[1] == 5 else bytes(16)) + bytes(4 + 16)
                      + struct.pack('<IQ', start, size))
    directory = directory.ljust(dir_sectors * 512, b'\0')
    fat_sector = b''.join(struct.pack('<I', v) for v in fat).ljust(512, b'\xff')
    minifat_bytes = b''.join(struct.pack('<I', v) for v in minifat).ljust(minifat_sectors * 512, b'\xff')
    header = (b'\xd0\xcf\x11\xe0\xa1\xb1\x1a\xe1' + bytes(16) + struct.pack('<HHHHH', 0x3E, 3, 0xFFFE, 9, 6)
              + bytes(6) + struct.pack('<9I', 0, 1, dir_start, 0, 4096, minifat_start, minifat_sectors,
                                       0xFFFFFFFE, 0) + struct.pack('<I', 0) + b'\xff' * (4 * 108))
    assert len(header) == 512
    return header + fat_sector + directory + minifat_bytes + mini.ljust(mini_sectors * 512, b'\0') + body

def utf16(text):
    return text.encode('utf-16-le')

subject, body, klass = utf16('Lake'), utf16('See you at the lake.'), utf16('IPM.Note')
props = bytes(8) + struct.pack('<IIII', 0, 0, 0, 0) + bytes(8)
for tag, value in ((0x0037001F, subject), (0x1000001F, body), (0x001A001F, klass)):
    props += struct.pack('<III', tag, 6, len(value) + 2) + bytes(4)
props += struct.pack('<II', 0x0E070003, 6) + struct.pack('<Q', 1)
msg = compound({
    '__nameid_version1.0': {'__substg1.0_00020102': b'', '__substg1.0_00030102': b'',
                            '__substg1.0_00040102': b''},
    '__properties_version1.0': props,
    '__substg1.0_0037001F': subject,
    '__substg1.0_1000001F': body,
    '__substg1.0_001A001F': klass,
}, clsid=bytes.fromhex('0B0D020000000000C000000000000046'))
open(f'{out}/handmade-outlook.msg', 'wb').write(msg)

# A Visio drawing as Visio 2003 writes it (no program of Debian writes one):
# the root entry's class, and the "VisioDocument" stream that opens with its
# banner and, at 26, the file format's version (11).
visio = bytearray(4608)
visio[0:20] = b'Visio (TM) Drawing\r\n'
visio[26] = 11
struct.pack_into('<I', visio, 28, len(visio))
vsd = compound({'VisioDocument': bytes(visio)}, clsid=bytes.fromhex('141A020000000000C000000000000046'))
open(f'{out}/handmade-visio.vsd', 'wb').write(vsd)
PYTHON
# A TAK file (Debian has no TAK encoder): its metadata as the format lays it
# out, the stream's information (CD audio, no samples), the encoder's version
# and the end block, each block closed by its CRC-24; no frames follow.
$PY - "$out" <<'PYTHON'
import struct, sys
out = sys.argv[1]

def crc24(data):
    crc = 0xB704CE
    for b in data:
        crc ^= b << 16
        for _ in range(8):
            crc <<= 1
            if crc & 0x1000000:
                crc ^= 0x1864CFB
    return crc & 0xFFFFFF

def bits_le(fields):
    value, shift = 0, 0
    for width, v in fields:
        value |= v << shift
        shift += width
    return value.to_bytes((shift + 7) // 8, 'little')

def block(kind, data):
    body = data + crc24(data).to_bytes(3, 'little')
    return bytes([kind]) + len(body).to_bytes(3, 'little') + body

samples = 0
info = bits_le([(6, 0), (4, 0), (4, 2), (35, samples), (3, 0), (18, 44100 - 6000), (5, 16 - 8), (4, 2 - 1), (1, 0)])
tak = b'tBaK' + block(1, info) + block(4, (0x020300).to_bytes(3, 'little')) + bytes(4)
open(f'{out}/handmade.tak', 'wb').write(tak)
PYTHON
# An XPS document (no program of Debian writes one): its parts as the XPS
# specification lays them out, packed by Info-ZIP with [Content_Types].xml first.
mkdir -p xps/_rels xps/Documents/1/Pages
cat > 'xps/[Content_Types].xml' <<'XML'
<?xml version="1.0" encoding="utf-8"?><Types xmlns="http://schemas.openxmlformats.org/package/2006/content-types"><Default Extension="rels" ContentType="application/vnd.openxmlformats-package.relationships+xml"/><Default Extension="fdseq" ContentType="application/vnd.ms-package.xps-fixeddocumentsequence+xml"/><Default Extension="fdoc" ContentType="application/vnd.ms-package.xps-fixeddocument+xml"/><Default Extension="fpage" ContentType="application/vnd.ms-package.xps-fixedpage+xml"/></Types>
XML
cat > xps/_rels/.rels <<'XML'
<?xml version="1.0" encoding="utf-8"?><Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships"><Relationship Type="http://schemas.microsoft.com/xps/2005/06/fixedrepresentation" Target="/FixedDocumentSequence.fdseq" Id="R0"/></Relationships>
XML
cat > xps/FixedDocumentSequence.fdseq <<'XML'
<FixedDocumentSequence xmlns="http://schemas.microsoft.com/xps/2005/06"><DocumentReference Source="/Documents/1/FixedDocument.fdoc"/></FixedDocumentSequence>
XML
cat > xps/Documents/1/FixedDocument.fdoc <<'XML'
<FixedDocument xmlns="http://schemas.microsoft.com/xps/2005/06"><PageContent Source="/Documents/1/Pages/1.fpage"/></FixedDocument>
XML
cat > xps/Documents/1/Pages/1.fpage <<'XML'
<FixedPage Width="816" Height="1056" xmlns="http://schemas.microsoft.com/xps/2005/06" xml:lang="en-US"><Path Data="M 96,96 L 400,96 400,300 96,300 Z" Fill="#FF2060C0"/></FixedPage>
XML
(cd xps && TZ=UTC touch -d @1700000000 -- * _rels/.rels Documents/1/FixedDocument.fdoc Documents/1/Pages/1.fpage &&
 zip -X -q ../a.xps '[Content_Types].xml' _rels/.rels FixedDocumentSequence.fdseq Documents/1/FixedDocument.fdoc Documents/1/Pages/1.fpage)
put a.xps handmade.xps
# QuickTime movies as QuickTime wrote them before the ftyp box existed: the
# movie's own boxes first. ffmpeg's movies with the ftyp box (and the wide
# box) taken out and every chunk offset moved back by as many bytes.
src=(-f lavfi -i testsrc=s=32x24:r=25:d=0.2)
"${FF[@]}" "${src[@]}" -c:v mjpeg qt-late.mov
"${FF[@]}" "${src[@]}" -c:v mjpeg -movflags +faststart qt-fast.mov
$PY - "$out" <<'PYTHON'
import struct, sys
out = sys.argv[1]

def boxes(data, at, end):
    while at + 8 <= end:
        size, kind = struct.unpack('>I4s', data[at:at + 8])
        yield at, size, kind
        at += size

def moved(data, drop):
    """`data` without its first `drop` bytes, every stco/co64 offset moved back."""
    data = bytearray(data)
    def walk(at, end):
        for b, size, kind in boxes(data, at, end):
            if kind in (b'moov', b'trak', b'mdia', b'minf', b'stbl'):
                walk(b + 8, b + size)
            elif kind == b'stco':
                n = struct.unpack('>I', data[b + 12:b + 16])[0]
                for k in range(n):
                    p = b + 16 + 4 * k
                    data[p:p + 4] = struct.pack('>I', struct.unpack('>I', data[p:p + 4])[0] - drop)
    walk(0, len(data))
    return bytes(data[drop:])

late = open('qt-late.mov', 'rb').read()   # ftyp, wide, mdat, moov
fast = open('qt-fast.mov', 'rb').read()   # ftyp, moov, wide, mdat
ftyp = struct.unpack('>I', late[:4])[0]
open(f'{out}/ffmpeg-wide-first.mov', 'wb').write(moved(late, ftyp))
open(f'{out}/ffmpeg-mdat-first.mov', 'wb').write(moved(late, ftyp + 8))
open(f'{out}/ffmpeg-moov-first.mov', 'wb').write(moved(fast, struct.unpack('>I', fast[:4])[0]))
PYTHON
# A program without a DOS program in front, as small linkers write it: the PE
# header right after the 64-byte DOS header, the DOS header's other fields zero.
# Size-optimising linkers lay it over the DOS header itself: MinGW's 32-bit
# linker's program with its PE header moved to 12, where the DOS header's
# pointer to it (at 60) is the optional header's BaseOfData, set to 12; and,
# linked with sections aligned to 4 bytes, moved to 4, where that pointer is
# the SectionAlignment, 4. Every section stays where it was.
printf '\t.text\n\t.globl _start\n_start:\n\txorl %%eax, %%eax\n\tret\n' > tiny.s
i686-w64-mingw32-as tiny.s -o tiny.o
i686-w64-mingw32-ld --subsystem console -e _start -s -o tiny.exe tiny.o
i686-w64-mingw32-ld --subsystem console -e _start -s --section-alignment 4 --file-alignment 4 -o tiny4.exe tiny.o
$PY - "$out" start.exe tiny.exe tiny4.exe <<'PYTHON'
import struct, sys
out = sys.argv[1]
def moved(d, at, name):
    pe = struct.unpack_from('<I', d, 0x3C)[0]
    sections = struct.unpack_from('<H', d, pe + 6)[0]
    optional = struct.unpack_from('<H', d, pe + 20)[0]
    end = pe + 24 + optional + 40 * sections
    headers = struct.unpack_from('<I', d, pe + 24 + 60)[0]
    small = bytearray(d)
    small[2:headers] = d[pe:end].rjust(end - pe + at - 2, b'\0').ljust(headers - 2, b'\0')
    struct.pack_into('<I', small, 0x3C, at)
    open(f'{out}/{name}', 'wb').write(small)
def read(path):
    return bytearray(open(path, 'rb').read())
moved(read(sys.argv[2]), 0x40, 'handmade-no-dos-program.exe')
tiny = read(sys.argv[3])
struct.pack_into('<I', tiny, struct.unpack_from('<I', tiny, 0x3C)[0] + 24 + 24, 12)  # BaseOfData
moved(tiny, 12, 'handmade-pe-header-at-12.exe')
tiny4 = read(sys.argv[4])
assert struct.unpack_from('<I', tiny4, struct.unpack_from('<I', tiny4, 0x3C)[0] + 24 + 32)[0] == 4
moved(tiny4, 4, 'handmade-pe-header-at-4.exe')
PYTHON
# Windows Write and Word for DOS: no program of Debian writes either, so a
# letter is written here as each: the 128-byte header (fcMac at 14, the pages
# of the paragraph formatting and of the tables after it at 18 to 28, the
# count of all pages at 96 for Write, at 106 for Word for DOS), the text,
# then one page of
# character and one of paragraph formatting, each a single run with the
# default properties. LibreOffice reads all three; libmagic names the two
# without objects.
$PY - "$out" <<'PYTHON'
import struct, sys
out = sys.argv[1]
text = (b"Dear reader,\r\nthese lines were written long ago, on a machine with two floppy drives.\r\n"
        b"The letter goes on for a while so that it fills more than one page of 128 bytes.\r\n")
fc_mac = 128 + len(text)
pn_char = (fc_mac + 127) // 128
pn_para = pn_char + 1
after = pn_para + 1
def page():
    p = bytearray(128)
    struct.pack_into('<IIH', p, 0, 128, fc_mac, 0xFFFF)
    p[127] = 1
    return bytes(p)
for name, ident, write in (('handmade-write.wri', 0xBE31, True), ('handmade-write-objects.wri', 0xBE32, True),
                           ('handmade-word-dos.doc', 0xBE31, False)):
    header = struct.pack('<HHH', ident, 0, 0xAB00) + bytes(8) + struct.pack('<I', fc_mac)
    header += struct.pack('<6H', pn_para, after, after, after, after, after)
    header = header.ljust(96, b'\0') + struct.pack('<H', after if write else 0)
    header = header.ljust(106, b'\0') + struct.pack('<H', 0 if write else after)
    body = text.ljust((pn_char - 1) * 128, b'\0')
    open(f'{out}/{name}', 'wb').write(header.ljust(128, b'\0') + body + page() + page())
PYTHON
# MP3 with a CRC after each frame header, at 44.1 and 22.05 kHz, without tags.
sox -n -r 44100 -c 1 -b 16 crc44.wav synth 0.3 sine 440
sox -n -r 22050 -c 1 -b 16 crc22.wav synth 0.3 sine 440
lame --quiet -p -t -b 64 crc44.wav crc44.mp3 ; put crc44.mp3 lame-crc.mp3
lame --quiet -p -t -b 32 crc22.wav crc22.mp3 ; put crc22.mp3 lame-crc-low-rate.mp3
# Access databases: no program in Debian writes one, so a Jet 4 database
# (Access 2000) and an ACE one (Access 2007) are written here page by page as
# small well-formed files: the header page (its block under the fixed RC4
# key), a page of usage maps, the MSysObjects table with its catalogue rows,
# and a table "Lake" of two rows. mdbtools reads both back (mdb-tables,
# mdb-export, mdb-schema).
$PY - "$out" <<'PYTHON'
import struct, sys
out = sys.argv[1]
PAGE = 4096

def rc4(key, data):
    s = list(range(256)); j = 0
    for i in range(256):
        j = (j + s[i] + key[i % len(key)]) & 255; s[i], s[j] = s[j], s[i]
    i = j = 0; res = bytearray()
    for b in data:
        i = (i + 1) & 255; j = (j + s[i]) & 255; s[i], s[j] = s[j], s[i]
        res.append(b ^ s[(s[i] + s[j]) & 255])
    return bytes(res)

def header(version, magic):
    p = bytearray(PAGE)
    p[0:4] = b'\0\1\0\0'
    p[4:20] = magic
    struct.pack_into('<I', p, 0x14, version)
    plain = bytearray(128)
    struct.pack_into('<H', plain, 0x3C - 0x18, 1252)      # code page
    struct.pack_into('<I', plain, 0x6E - 0x18, 0x409)     # sort order: General
    p[0x18:0x18 + 128] = rc4(b'\xc7\xda\x39\x6b', plain)
    return p

def data_page(tdef, rows):
    """A data page (type 1) of `tdef`'s rows, stored from the page's end down."""
    p = bytearray(PAGE)
    p[0], p[1] = 1, 1
    struct.pack_into('<I', p, 4, tdef)
    struct.pack_into('<H', p, 12, len(rows))
    end = PAGE
    for k, row in enumerate(rows):
        end -= len(row)
        p[end:end + len(row)] = row
        struct.pack_into('<H', p, 14 + 2 * k, end)
    struct.pack_into('<H', p, 2, end - (14 + 2 * len(rows)))
    return p

def usage_map(pages):
    """A usage map that keeps its bitmap within (type 0), from page 0."""
    bits = bytearray(64 - 5)
    for n in pages:
        bits[n // 8] |= 1 << (n % 8)
    return b'\0' + struct.pack('<I', 0) + bytes(bits)

# Column types.
LONG, INT, TEXT, OLE = 0x04, 0x03, 0x0A, 0x0B
FIXED = {LONG: 4, INT: 2}

def tdef(columns, rows, used, free, system):
    """A table definition (type 2): `columns` is [(name, type, length)]."""
    p = bytearray(PAGE)
    p[0], p[1] = 2, 1
    n = len(columns)
    nvar = sum(1 for c in columns if c[1] not in FIXED)
    struct.pack_into('<I', p, 12, rows)
    struct.pack_into('<I', p, 16, rows)
    p[40] = 0x53 if system else 0x4E
    struct.pack_into('<HHHII', p, 41, n, nvar, n, 0, 0)
    struct.pack_into('<II', p, 55, used, free)
    at, fixed_at, var_at = 63, 0, 0
    for k, (name, kind, length) in enumerate(columns):
        e = bytearray(25)
        e[0] = kind
        struct.pack_into('<H', e, 5, k)
        if kind in FIXED:
            e[15] = 0x01 | 0x02
            struct.pack_into('<H', e, 21, fixed_at)
            fixed_at += FIXED[kind]
        else:
            e[15] = 0x02
            struct.pack_into('<H', e, 7, var_at)
            var_at += 1
            if kind == TEXT:
                struct.pack_into('<H', e, 11, 0x409)
        struct.pack_into('<H', e, 9, k)
        struct.pack_into('<H', e, 23, length)
        p[at:at + 25] = e
        at += 25
    for name, _, _ in columns:
        u = name.encode('utf-16-le')
        p[at:at + 2 + len(u)] = struct.pack('<H', len(u)) + u
        at += 2 + len(u)
    struct.pack_into('<I', p, 8, at - 8)
    struct.pack_into('<H', p, 2, PAGE - at - 8)
    return p

def row(columns, values):
    """A Jet 4 row: fixed columns, variable ones, their offsets backwards, the null mask."""
    n = len(columns)
    fixed, var, offsets, mask = b'', b'', [], bytearray((n + 7) // 8)
    for k, ((name, kind, _), v) in enumerate(zip(columns, values)):
        if kind in FIXED:
            fixed += struct.pack('<i' if kind == LONG else '<h', v or 0)
        else:
            offsets.append(len(var))
            if v is not None:
                var += v.encode('utf-16-le')
        if v is not None:
            mask[k // 8] |= 1 << (k % 8)
    start = 2 + len(fixed)
    offsets = [start + o for o in offsets]
    eod = start + len(var)
    body = struct.pack('<H', n) + fixed + var
    body += struct.pack('<H', eod) + b''.join(struct.pack('<H', o) for o in reversed(offsets))
    body += struct.pack('<H', len(offsets)) + bytes(mask)
    return body

def database(version, magic):
    objects = [('Id', LONG, 4), ('ParentId', LONG, 4), ('Name', TEXT, 510), ('Type', INT, 2),
               ('Flags', LONG, 4), ('LvProp', OLE, 0)]
    lake = [('Name', TEXT, 100), ('Depth', LONG, 4)]
    catalogue = [row(objects, [2, 0x0F000000, 'MSysObjects', 1, -2147483646, None]),
                 row(objects, [4, 0x0F000000, 'Lake', 1, 0, None])]
    maps = data_page(0, [usage_map(range(6)),          # the database's own
                         usage_map([3]), usage_map([]),  # MSysObjects: its pages, those with room
                         usage_map([5]), usage_map([])]) # Lake
    pages = [header(version, magic), maps,
             tdef(objects, len(catalogue), 1 << 8 | 1, 1 << 8 | 2, True),
             data_page(2, catalogue),
             tdef(lake, 2, 1 << 8 | 3, 1 << 8 | 4, False),
             data_page(4, [row(lake, ['Anna', 12]), row(lake, ['Ben', 7])])]
    return b''.join(pages)

open(f'{out}/handmade-jet4.mdb', 'wb').write(database(1, b'Standard Jet DB\0'))
open(f'{out}/handmade-ace12.accdb', 'wb').write(database(2, b'Standard ACE DB\0'))
PYTHON
# DSD audio: no program in Debian writes it, so a DSF file (Sony's, as sold
# by download shops) and a DSDIFF file (Philips') are written here as small
# well-formed files: 1-bit stereo at 2.8224 MHz, a tone through a
# first-order sigma-delta modulator. The DSF file carries its ID3v2 tag at
# the end, where the pointer in its header says; ffmpeg decodes both.
$PY - "$out" <<'PYTHON'
import math, struct, sys
out = sys.argv[1]
RATE, SAMPLES = 2822400, 20000

def bits(freq):
    acc, y = 0.0, []
    for n in range(SAMPLES):
        acc += 0.5 * math.sin(2 * math.pi * freq * n / RATE) - (1 if acc >= 0 else -1) * 1.0
        y.append(1 if acc < 0 else 0)
    return y

def pack(b, lsb_first):
    res = bytearray((len(b) + 7) // 8)
    for n, v in enumerate(b):
        if v:
            res[n // 8] |= 1 << (n % 8 if lsb_first else 7 - n % 8)
    return bytes(res)

left, right = bits(1000), bits(1500)
# DSF: "DSD " (28 bytes: file size, metadata pointer), "fmt " (52), "data" of
# 4096-byte blocks per channel in turn, the last ones padded with zeros.
block = 4096
lb, rb = pack(left, True), pack(right, True)
blocks = -(-len(lb) // block)
data = b''.join(lb[k * block:(k + 1) * block].ljust(block, b'\0') + rb[k * block:(k + 1) * block].ljust(block, b'\0')
                for k in range(blocks))
fmt = b'fmt ' + struct.pack('<QIIIIIIQII', 52, 1, 0, 2, 2, RATE, 1, SAMPLES, block, 0)
frames = b'TIT2' + struct.pack('>IH', 6, 0) + b'\x03Lake' + b'\0' + b'TPE1' + struct.pack('>IH', 5, 0) + b'\x03Ben' + b'\0'
tag = b'ID3\x04\0\0' + bytes([0, 0, len(frames) >> 7, len(frames) & 0x7F]) + frames
meta = 28 + len(fmt) + 12 + len(data)
dsd = b'DSD ' + struct.pack('<QQQ', 28, meta + len(tag), meta)
open(f'{out}/handmade.dsf', 'wb').write(dsd + fmt + b'data' + struct.pack('<Q', 12 + len(data)) + data + tag)
# DSDIFF: a FRM8 form of big-endian chunks with 64-bit sizes: the version,
# the properties (rate, channels, no compression, start time), then the
# sound, a byte of each channel in turn, most significant bit first.
def chunk(kind, body):
    return kind + struct.pack('>Q', len(body)) + body + (b'\0' if len(body) % 2 else b'')
lm, rm = pack(left, False), pack(right, False)
sound = bytes(b for pair in zip(lm, rm) for b in pair)
prop = b'SND ' + chunk(b'FS  ', struct.pack('>I', RATE)) + chunk(b'CHNL', struct.pack('>H', 2) + b'SLFTSRGT') \
       + chunk(b'CMPR', b'DSD ' + bytes([14]) + b'not compressed' + b'\0') + chunk(b'ABSS', struct.pack('>HBBI', 0, 0, 0, 0))
form = b'DSD ' + chunk(b'FVER', struct.pack('>I', 0x01050000)) + chunk(b'PROP', prop) + chunk(b'DSD ', sound)
open(f'{out}/handmade.dff', 'wb').write(b'FRM8' + struct.pack('>Q', len(form)) + form)
PYTHON
# Monkey's Audio: no encoder in Debian, so a file of version 3.99 is written
# here as a small well-formed one: a tenth of a second of stereo silence,
# which the encoder stores as one frame that says so (its CRC of the decoded
# sound, the silence flags, the range coder's last bytes), then an APEv2 tag
# with its header. ffmpeg decodes it with its CRC checked.
$PY - "$out" <<'PYTHON'
import hashlib, struct, sys, zlib
out = sys.argv[1]
RATE, CHANNELS, BITS, BLOCKS = 44100, 2, 16, 4410
pcm = BLOCKS * CHANNELS * BITS // 8
wav = b'RIFF' + struct.pack('<I', 36 + pcm) + b'WAVEfmt ' + struct.pack('<IHHIIHH', 16, 1, CHANNELS, RATE,
      RATE * CHANNELS * BITS // 8, CHANNELS * BITS // 8, BITS) + b'data' + struct.pack('<I', pcm)
crc = (zlib.crc32(bytes(pcm)) & 0xFFFFFFFF) >> 1
frame = struct.pack('<II', crc | 0x80000000, 3) + bytes(4)
first = 52 + 24 + 4 + len(wav)
header = struct.pack('<HHIIIHHI', 2000, 0, 73728 * 4, BLOCKS, 1, BITS, CHANNELS, RATE)
seek = struct.pack('<I', first)
md5 = hashlib.md5(wav + frame + header + seek).digest()
descriptor = b'MAC ' + struct.pack('<HHIIIIIII', 3990, 0, 52, 24, len(seek), len(wav), len(frame), 0, 0) + md5
def item(key, value):
    return struct.pack('<II', len(value), 0) + key + b'\0' + value
items = item(b'Title', b'Lake') + item(b'Artist', b'Ben')
def tagpart(flags):
    return b'APETAGEX' + struct.pack('<IIII', 2000, len(items) + 32, 2, flags) + bytes(8)
tag = tagpart(0xA0000000) + items + tagpart(0x80000000)
open(f'{out}/handmade.ape', 'wb').write(descriptor + header + seek + wav + frame + tag)
PYTHON
# Musepack SV8 from its own encoder, with the APEv2 tag it writes after the
# stream end packet.
sox -n -r 44100 -c 2 -b 16 mpc-tone.wav synth 0.3 sine 440 sine 660
mpcenc --silent --quality 3 --artist Ben --title Lake --overwrite mpc-tone.wav mpc.mpc ; put mpc.mpc mpcenc.mpc
# Musepack SV7 (Debian's mpcenc writes only SV8, and no program of Debian
# SV7): 0.3 s of silence at 44.1 kHz. The header's seven little-endian words
# ("MP+" and the version, the frame count, the flags with band 0 the last
# coded, two replay gains, the last frame's valid samples, the encoder's
# version in the top byte of the 7th), then the bit stream, most significant
# bit of each word first, from the 7th word's 8th bit: per frame a 20-bit
# count of its bits, then its bits (band 0 at resolution 0 in both channels),
# after the last frame 11 bits of its valid samples, zeros to the word's end.
# Version 7.1 with the count of the last frame's samples in the header, 7.0
# without, and with an APEv2 tag after it. ffmpeg decodes both.
$PY - "$out" <<'PYTHON'
import struct, sys
out = sys.argv[1]
SAMPLES, FRAME = 13230, 1152
frames = (SAMPLES + FRAME - 1) // FRAME
last = SAMPLES - (frames - 1) * FRAME
bits = format(116, '08b') + (format(8, '020b') + '0' * 8) * frames + format(last, '011b')
bits += '0' * (-len(bits) % 32)
stream = b''.join(struct.pack('<I', int(bits[i:i + 32], 2)) for i in range(0, len(bits), 32))
def header(version, gapless):
    return b'MP+' + bytes([version]) + struct.pack('<IIIII', frames, 0xA << 20, 0, 0, gapless)
item = struct.pack('<II', 4, 0) + b'Title\0Lake'
def tagpart(flags):
    return b'APETAGEX' + struct.pack('<IIII', 2000, len(item) + 32, 1, flags) + bytes(8)
open(f'{out}/handmade-sv7.1.mpc', 'wb').write(header(0x17, 1 << 31 | last << 20) + stream)
open(f'{out}/handmade-sv7.0.mpc', 'wb').write(header(0x07, 0) + stream + tagpart(0xA0000000) + item + tagpart(0x80000000))
PYTHON
# Windows metafiles as programs store them without the placeable header (the
# clipboard's, and those of many older programs): LibreOffice's metafile with
# its first 22 bytes taken off, as a memory metafile (type 1, as written) and
# as a disk metafile (type 2, what GDI records into a file). LibreOffice
# draws the first; it does not take the second for a metafile at all.
$PY - "$out" <<'PYTHON'
import sys
out = sys.argv[1]
plain = open(f'{out}/libreoffice.wmf', 'rb').read()[22:]
assert plain[:6] == b'\1\0\x09\0\0\3'
open(f'{out}/handmade-plain-memory.wmf', 'wb').write(plain)
open(f'{out}/handmade-plain-disk.wmf', 'wb').write(b'\2' + plain[1:])
PYTHON
# Compiled HTML help from Free Pascal's help compiler.
mkdir -p chm
printf '[OPTIONS]\nCompatibility=1.1 or later\nCompiled file=lake.chm\nDefault topic=index.html\nLanguage=0x409 English (United States)\nTitle=Lake\n\n[FILES]\nindex.html\n' > chm/lake.hhp
printf '<html><head><title>Lake</title></head><body><h1>Lake</h1><p>See you at the lake.</p></body></html>\n' > chm/index.html
(cd chm && chmcmd lake.hhp >/dev/null 2>&1) ; put chm/lake.chm chmcmd.chm
# A DICOM image from DCMTK: ImageMagick's JPEG wrapped as a secondary capture.
"${IM[@]}" -size 32x24 gradient:'#2060c0'-'#f0c020' -quality 80 dicom.jpg
img2dcm -k "PatientName=Lake^Anna" dicom.jpg dicom.dcm ; put dicom.dcm img2dcm.dcm
# A Kindle book from calibre's converter. calibre is large (some 60 MB and
# 70 packages) and is not among the packages the tests install: install it
# before making the samples anew, or this one is left out.
printf '<html><head><title>Lake</title></head><body><h1>Lake</h1><p>See you at the lake.</p></body></html>\n' > book.html
if command -v ebook-convert >/dev/null; then
  ebook-convert book.html book.mobi --title Lake --authors Anna --no-inline-toc >/dev/null 2>&1 ; put book.mobi calibre.mobi
else
  echo "no ebook-convert (calibre): calibre.mobi is left out; install calibre and run again" >&2
fi
# A Visio drawing (no program of Debian writes one): one page with one shape,
# its parts as Visio 2013's format lays them out, packed by Info-ZIP with
# [Content_Types].xml first. LibreOffice opens it and draws the shape.
NS='http://schemas.microsoft.com/office/visio/2012/main'
RNS='http://schemas.openxmlformats.org/officeDocument/2006/relationships'
REL='http://schemas.microsoft.com/visio/2010/relationships'
PKG='http://schemas.openxmlformats.org/package/2006'
mkdir -p vsdx/_rels vsdx/visio/_rels vsdx/visio/pages/_rels
head='<?xml version="1.0" encoding="UTF-8" standalone="yes"?>'
printf '%s\n<Types xmlns="%s/content-types"><Default Extension="rels" ContentType="application/vnd.openxmlformats-package.relationships+xml"/><Default Extension="xml" ContentType="application/xml"/><Override PartName="/visio/document.xml" ContentType="application/vnd.ms-visio.drawing.main+xml"/><Override PartName="/visio/pages/pages.xml" ContentType="application/vnd.ms-visio.pages+xml"/><Override PartName="/visio/pages/page1.xml" ContentType="application/vnd.ms-visio.page+xml"/><Override PartName="/visio/windows.xml" ContentType="application/vnd.ms-visio.windows+xml"/></Types>\n' "$head" "$PKG" > 'vsdx/[Content_Types].xml'
printf '%s\n<Relationships xmlns="%s/relationships"><Relationship Id="rId1" Type="%s/document" Target="visio/document.xml"/></Relationships>\n' "$head" "$PKG" "$REL" > vsdx/_rels/.rels
printf '%s\n<VisioDocument xmlns="%s" xmlns:r="%s"><DocumentSettings/><Colors/><FaceNames/><StyleSheets/></VisioDocument>\n' "$head" "$NS" "$RNS" > vsdx/visio/document.xml
printf '%s\n<Relationships xmlns="%s/relationships"><Relationship Id="rId1" Type="%s/pages" Target="pages/pages.xml"/><Relationship Id="rId2" Type="%s/windows" Target="windows.xml"/></Relationships>\n' "$head" "$PKG" "$REL" "$REL" > vsdx/visio/_rels/document.xml.rels
printf '%s\n<Pages xmlns="%s" xmlns:r="%s"><Page ID="0" NameU="Page-1" Name="Page-1"><PageSheet><Cell N="PageWidth" V="8.5"/><Cell N="PageHeight" V="11"/></PageSheet><Rel r:id="rId1"/></Page></Pages>\n' "$head" "$NS" "$RNS" > vsdx/visio/pages/pages.xml
printf '%s\n<Relationships xmlns="%s/relationships"><Relationship Id="rId1" Type="%s/page" Target="page1.xml"/></Relationships>\n' "$head" "$PKG" "$REL" > vsdx/visio/pages/_rels/pages.xml.rels
printf '%s\n<PageContents xmlns="%s" xmlns:r="%s"><Shapes><Shape ID="1" Type="Shape"><Cell N="PinX" V="4"/><Cell N="PinY" V="5"/><Cell N="Width" V="2"/><Cell N="Height" V="1"/><Cell N="LocPinX" V="1"/><Cell N="LocPinY" V="0.5"/><Section N="Geometry" IX="0"><Row T="MoveTo" IX="1"><Cell N="X" V="0"/><Cell N="Y" V="0"/></Row><Row T="LineTo" IX="2"><Cell N="X" V="2"/><Cell N="Y" V="0"/></Row><Row T="LineTo" IX="3"><Cell N="X" V="2"/><Cell N="Y" V="1"/></Row><Row T="LineTo" IX="4"><Cell N="X" V="0"/><Cell N="Y" V="1"/></Row><Row T="LineTo" IX="5"><Cell N="X" V="0"/><Cell N="Y" V="0"/></Row></Section><Text>Lake</Text></Shape></Shapes></PageContents>\n' "$head" "$NS" "$RNS" > vsdx/visio/pages/page1.xml
printf '%s\n<Windows xmlns="%s" xmlns:r="%s" ClientWidth="800" ClientHeight="600"><Window ID="0" WindowType="Drawing" WindowState="1073741824" ViewScale="1" ViewCenterX="4" ViewCenterY="5.5" Page="0"/></Windows>\n' "$head" "$NS" "$RNS" > vsdx/visio/windows.xml
(cd vsdx && find . -type f -exec touch -d @1700000000 {} + &&
 zip -X -q ../a.vsdx '[Content_Types].xml' _rels/.rels visio/document.xml visio/_rels/document.xml.rels \
   visio/pages/pages.xml visio/pages/_rels/pages.xml.rels visio/pages/page1.xml visio/windows.xml)
put a.vsdx handmade.vsdx
# An Excel binary workbook (no program of Debian writes one): one sheet named
# Lake whose cell A1 holds 42, the workbook and the sheet as their binary
# records (a type and a size in 7-bit groups, then the record), packed by
# Info-ZIP with [Content_Types].xml first. LibreOffice reads the 42 back.
mkdir -p xlsb/_rels xlsb/xl/_rels xlsb/xl/worksheets
$PY - xlsb <<'PYTHON'
import struct, sys
root = sys.argv[1]
def var(n):
    out = b''
    while True:
        b, n = n & 0x7F, n >> 7
        out += bytes([b | 0x80]) if n else bytes([b])
        if not n:
            return out
def record(kind, data=b''):
    return var(kind) + var(len(data)) + data
def wide(text):
    return struct.pack('<I', len(text)) + text.encode('utf-16-le')
# BeginBook, BeginBundleShs, BundleSh (visible, tab 1, rId1, "Lake"), EndBundleShs, EndBook.
book = record(131) + record(143) + record(156, struct.pack('<II', 0, 1) + wide('rId1') + wide('Lake')) + record(144) + record(132)
# BeginSheet, WsDim (A1), BeginSheetData, RowHdr (row 0, one column span), CellReal (A1 = 42), EndSheetData, EndSheet.
row = struct.pack('<IIH', 0, 0, 300) + bytes(3) + struct.pack('<III', 1, 0, 0)
sheet = (record(129) + record(148, struct.pack('<IIII', 0, 0, 0, 0)) + record(145) + record(0, row)
         + record(5, struct.pack('<II', 0, 0) + struct.pack('<d', 42.0)) + record(146) + record(130))
open(f'{root}/xl/workbook.bin', 'wb').write(book)
open(f'{root}/xl/worksheets/sheet1.bin', 'wb').write(sheet)
PYTHON
printf '%s\n<Types xmlns="%s/content-types"><Default Extension="bin" ContentType="application/vnd.ms-excel.sheet.binary.macroEnabled.main"/><Default Extension="rels" ContentType="application/vnd.openxmlformats-package.relationships+xml"/><Default Extension="xml" ContentType="application/xml"/><Override PartName="/xl/worksheets/sheet1.bin" ContentType="application/vnd.ms-excel.worksheet"/></Types>\n' "$head" "$PKG" > 'xlsb/[Content_Types].xml'
printf '%s\n<Relationships xmlns="%s/relationships"><Relationship Id="rId1" Type="%s/officeDocument" Target="xl/workbook.bin"/></Relationships>\n' "$head" "$PKG" "$RNS" > xlsb/_rels/.rels
printf '%s\n<Relationships xmlns="%s/relationships"><Relationship Id="rId1" Type="%s/worksheet" Target="worksheets/sheet1.bin"/></Relationships>\n' "$head" "$PKG" "$RNS" > xlsb/xl/_rels/workbook.bin.rels
(cd xlsb && find . -type f -exec touch -d @1700000000 {} + &&
 zip -X -q ../a.xlsb '[Content_Types].xml' _rels/.rels xl/workbook.bin xl/_rels/workbook.bin.rels xl/worksheets/sheet1.bin)
put a.xlsb handmade.xlsb
# AAC in ADTS as other encoders write it. ffmpeg's MPEG-2 header (its muxer's
# write_mpeg2), and a file of two frames. Encoders with a CRC after each header
# or a buffer fullness other than "variable" (0x7FF) are not in Debian: their
# files are ffmpeg's frames with the header rewritten, the protection bit
# cleared, the 16-bit CRC after the header (CRC-16, polynomial 0x8005, from
# 0xFFFF, over the 7 header bytes and the first 192 bits of the frame's data,
# as the error check of a frame of one raw data block asks), and the
# fullness of a constant-rate encoder's bit reservoir. ffmpeg decodes them.
"${FF[@]}" -i tone.wav -c:a aac -b:a 24k -write_mpeg2 1 -f adts adts-m2.aac ; put adts-m2.aac ffmpeg-mpeg2.aac
sox -n -r 22050 -c 1 -b 16 short.wav synth 0.02 sine 440
"${FF[@]}" -i short.wav -c:a aac -b:a 24k adts-short.aac ; put adts-short.aac ffmpeg-two-frames.aac
# And MP3 as short: lame's Info frame and one frame of sound.
lame --quiet -b 32 short.wav short.mp3 ; put short.mp3 lame-short.mp3
$PY - "$out" tone.aac adts-m2.aac <<'PYTHON'
import sys
out, mpeg4, mpeg2 = sys.argv[1], open(sys.argv[2], 'rb').read(), open(sys.argv[3], 'rb').read()
def frames(d):
    at = 0
    while at < len(d):
        n = (d[at + 3] & 3) << 11 | d[at + 4] << 3 | d[at + 5] >> 5
        yield bytearray(d[at:at + n])
        at += n
    assert at == len(d)
def crc16(data):
    crc = 0xFFFF
    for b in data:
        crc ^= b << 8
        for _ in range(8):
            crc = (crc << 1 ^ 0x8005 if crc & 0x8000 else crc << 1) & 0xFFFF
    return crc
def with_crc(d, bitrate, rate):
    # A reservoir of 6144 bits per channel, in 32-bit words: what a frame
    # spends below the mean rate fills it, what it spends above drains it.
    out, fullness, mean = b'', 6144 // 2, bitrate * 1024 // rate
    for f in frames(d):
        n = len(f) + 2
        fullness = max(0, min(6144, fullness + mean - n * 8))
        h = bytearray(f[:7])
        h[1] &= 0xFE
        h[3] = (h[3] & 0xFC) | (n >> 11)
        h[4] = (n >> 3) & 0xFF
        words = fullness // 32
        h[5] = (n & 7) << 5 | words >> 6
        h[6] = (words & 0x3F) << 2 | (h[6] & 3)
        crc = crc16(bytes(h) + bytes(f[7:7 + 24]))
        out += bytes(h) + crc.to_bytes(2, 'big') + bytes(f[7:])
    return out
open(f'{out}/handmade-crc.aac', 'wb').write(with_crc(mpeg4, 24000, 22050))
open(f'{out}/handmade-mpeg2-crc.aac', 'wb').write(with_crc(mpeg2, 24000, 22050))
PYTHON
