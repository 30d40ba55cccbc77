#!/usr/bin/env bash
# Makes the small real files whose own metadata names them, into
# tests/data/names/: a date the picture or the film was taken, a song's
# artist and title, a document's title. Each file is named
# <what made it>[-<what is special>].<extension>.
#
# The files are made by the programs people's files come from (ImageMagick and
# exiftool, ffmpeg, flac, oggenc, LibreOffice, ghostscript, qpdf). The results
# are committed, so the tests need none of these programs; the packages are in
# scripts/packages/samples.txt.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
out=${1:-$here/names}  # another folder: fresh files for a measurement
rm -rf "$out" && mkdir -p "$out"
work=$(mktemp -d) && trap 'rm -rf "$work"' EXIT && cd "$work"
# The real ImageMagick (/usr/local/bin/convert may be a stand-in).
IM=(magick)
command -v magick >/dev/null || IM=(/usr/bin/convert)
[ "${IM[0]}" = magick ] || [ -x /usr/bin/convert ] || { echo "ImageMagick is missing" >&2; exit 1; }
FF=(ffmpeg -nostdin -hide_banner -loglevel error -y)
EX=(exiftool -q -overwrite_original)
export SOURCE_DATE_EPOCH=1700000000 TZ=UTC
put() { cp "$1" "$out/$2"; }

# ---------------------------------------------------------------- pictures
"${IM[@]}" -size 16x12 gradient:'#2060c0'-'#f0c020' -quality 70 -strip im.jpg
cp im.jpg dated.jpg
"${EX[@]}" -DateTimeOriginal='2019:07:14 15:30:12' dated.jpg ; put dated.jpg exiftool.jpg
# Only the time the file was changed: taken as no date of the picture.
cp im.jpg changed.jpg
"${EX[@]}" -ModifyDate='2020:01:02 03:04:05' changed.jpg ; put changed.jpg exiftool-modify-date.jpg
# A camera without a clock writes blanks or zeros.
cp im.jpg zeros.jpg
"${EX[@]}" -DateTimeOriginal#='0000:00:00 00:00:00' zeros.jpg ; put zeros.jpg exiftool-zero-date.jpg
put im.jpg imagemagick-no-exif.jpg
"${IM[@]}" -size 16x12 gradient: -compress lzw -endian MSB im.tif
"${EX[@]}" -DateTimeOriginal='2018:12:31 23:59:58' im.tif ; put im.tif exiftool-motorola.tif
"${IM[@]}" -size 16x12 gradient: -compress lzw -endian LSB iml.tif
"${EX[@]}" -DateTimeOriginal='2017:02:03 04:05:06' iml.tif ; put iml.tif exiftool-intel.tif
cp iml.tif raw.dng
"${EX[@]}" -DNGVersion=1.4.0.0 -DateTimeOriginal='2016:05:06 07:08:09' raw.dng ; put raw.dng exiftool.dng
"${IM[@]}" -size 16x12 gradient: -quality 50 im.heic
"${EX[@]}" -DateTimeOriginal='2022:08:09 10:11:12' im.heic ; put im.heic exiftool.heic

# ---------------------------------------------------------------- films
"${FF[@]}" -f lavfi -i testsrc=s=16x16:d=0.1:r=10 -c:v mpeg4 -metadata creation_time=2021-03-04T05:06:07Z f.mp4
put f.mp4 ffmpeg.mp4
"${FF[@]}" -f lavfi -i testsrc=s=16x16:d=0.1:r=10 -c:v mpeg4 -metadata creation_time=2021-03-04T05:06:07Z f.mov
put f.mov ffmpeg.mov
# The index after the data, as cameras write it.
"${FF[@]}" -f lavfi -i testsrc=s=16x16:d=0.1:r=10 -c:v mpeg4 -metadata creation_time=2020-10-11T12:13:14Z \
  -movflags +faststart f-fast.mp4
"${FF[@]}" -i f-fast.mp4 -c copy -metadata creation_time=2020-10-11T12:13:14Z f-late.3gp
put f-late.3gp ffmpeg-moov-last.3gp
"${FF[@]}" -f lavfi -i testsrc=s=16x16:d=0.1:r=10 -c:v mpeg4 -fflags +bitexact f-none.mp4
put f-none.mp4 ffmpeg-no-date.mp4

# ---------------------------------------------------------------- songs
tone=(-f lavfi -i sine=d=0.05:r=8000)
"${FF[@]}" "${tone[@]}" -c:a libmp3lame -b:a 8k -id3v2_version 3 \
  -metadata artist='Ünal Çelik' -metadata title='Şarkı №1' v3.mp3 ; put v3.mp3 ffmpeg-id3v23.mp3
"${FF[@]}" "${tone[@]}" -c:a libmp3lame -b:a 8k -id3v2_version 4 \
  -metadata artist='The Band' -metadata title='Song: "Two"?' v4.mp3 ; put v4.mp3 ffmpeg-id3v24.mp3
"${FF[@]}" "${tone[@]}" -c:a libmp3lame -b:a 8k -id3v2_version 3 -metadata title='Only a Title' t.mp3
put t.mp3 ffmpeg-title-only.mp3
"${FF[@]}" "${tone[@]}" -c:a libmp3lame -b:a 8k -id3v2_version 0 -write_xing 0 bare.mp3
put bare.mp3 ffmpeg-no-tag.mp3
sox -n -r 8000 -c 1 -b 16 tone.wav synth 0.05 sine 440
# ID3v1 alone, after frames whose Xing/Info header counts their bytes.
lame --quiet -b 8 --id3v1-only --ta 'Old Player' --tt 'Version One' tone.wav v1.mp3 ; put v1.mp3 lame-id3v1.mp3
flac -s --best -T ARTIST='Flac Artist' -T title='Flac Title' -o f.flac tone.wav ; put f.flac flac.flac
oggenc -Q -a 'Ogg Artist' -t 'Ogg Title' -o f.ogg tone.wav ; put f.ogg oggenc.ogg
"${FF[@]}" -i tone.wav -c:a libopus -b:a 8k -metadata artist='Opus Artist' -metadata title='Opus Title' f.opus
put f.opus ffmpeg.opus
speexenc --quiet --author 'Speex Artist' --title 'Speex Title' tone.wav f.spx ; put f.spx speexenc.spx
"${FF[@]}" -f lavfi -i testsrc=s=16x16:d=0.1:r=10 -c:v libtheora -metadata artist='Film Maker' \
  -metadata title='Film Title' f.ogv ; put f.ogv ffmpeg-theora.ogv
"${FF[@]}" -i tone.wav -c:a aac -b:a 16k -metadata artist='M4A Artist' -metadata title='M4A Title' \
  -metadata creation_time=2023-04-05T06:07:08Z f.m4a ; put f.m4a ffmpeg.m4a
# A song without tags is named by its recording's date.
"${FF[@]}" -i tone.wav -c:a aac -b:a 16k -metadata creation_time=2022-01-02T03:04:05Z n.m4a ; put n.m4a ffmpeg-no-tags.m4a

# ---------------------------------------------------------------- documents
# LibreOffice converts flat XML documents that carry a title into each format.
lo() { soffice --headless --norestore --convert-to "$@" >/dev/null 2>&1; }
meta='<office:meta><dc:title>Quarterly report &amp; plans — 2024</dc:title></office:meta>'
ns='xmlns:office="urn:oasis:names:tc:opendocument:xmlns:office:1.0" xmlns:dc="http://purl.org/dc/elements/1.1/" xmlns:text="urn:oasis:names:tc:opendocument:xmlns:text:1.0" xmlns:table="urn:oasis:names:tc:opendocument:xmlns:table:1.0" office:version="1.2"'
cat > report.fodt <<XML
<?xml version="1.0" encoding="UTF-8"?>
<office:document $ns office:mimetype="application/vnd.oasis.opendocument.text">$meta
 <office:body><office:text><text:p>Figures for the quarter.</text:p></office:text></office:body></office:document>
XML
cat > budget.fods <<XML
<?xml version="1.0" encoding="UTF-8"?>
<office:document $ns office:mimetype="application/vnd.oasis.opendocument.spreadsheet"><office:meta><dc:title>Budget 2025</dc:title></office:meta>
 <office:body><office:spreadsheet><table:table table:name="Sheet1"><table:table-row><table:table-cell><text:p>7</text:p></table:table-cell></table:table-row></table:table></office:spreadsheet></office:body></office:document>
XML
lo odt report.fodt; lo docx report.fodt; lo doc report.fodt; lo pdf report.fodt
lo ods budget.fods; lo xlsx budget.fods; lo xls budget.fods
printf 'Nothing but text.\n' > plain.txt ; lo odt plain.txt
put report.odt libreoffice.odt ; put report.docx libreoffice.docx ; put report.doc libreoffice.doc
put report.pdf libreoffice.pdf ; put budget.ods libreoffice.ods ; put budget.xlsx libreoffice.xlsx
put budget.xls libreoffice.xls ; put plain.odt libreoffice-no-title.odt

# PDF: a title set by pdfmark, in a literal string with escapes, and one in UTF-16.
cat > mark.ps <<'PS'
[ /Title (Annual \(draft\) report\040one) /Author (Someone) /DOCINFO pdfmark
/Helvetica findfont 12 scalefont setfont 72 720 moveto (Hello) show showpage
PS
gs -q -dNOPAUSE -dBATCH -sDEVICE=pdfwrite -o gs.pdf mark.ps ; put gs.pdf ghostscript.pdf
cat > mark16.ps <<'PS'
[ /Title <FEFF004300F40074006500200064002700E9007400E9> /DOCINFO pdfmark
/Helvetica findfont 12 scalefont setfont 72 720 moveto (Hello) show showpage
PS
gs -q -dNOPAUSE -dBATCH -sDEVICE=pdfwrite -o gs16.pdf mark16.ps ; put gs16.pdf ghostscript-utf16.pdf
# The Info dictionary inside a compressed object stream, with a cross-reference stream.
qpdf --object-streams=generate --compress-streams=y report.pdf objstm.pdf ; put objstm.pdf qpdf-object-streams.pdf

# ---------------------------------------------------------------- web pages
printf '<!DOCTYPE html>\n<html><head><meta charset="utf-8">\n<TITLE>\n  Caf&eacute; &amp; Bar &#8211; Men&#xFC;\n</TITLE></head><body>x</body></html>\n' > page.html
put page.html handmade-utf8.html
printf '<html><head><title>Gr\xfc\xdfe aus K\xf6ln</title></head><body>x</body></html>\n' > latin.htm
put latin.htm handmade-latin1.htm
lo html report.odt ; put report.html libreoffice.html

ls -l "$out"
