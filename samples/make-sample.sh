#!/usr/bin/env bash
# Makes samples/FOUND.000 as a real disk check leaves it: small real files of
# many kinds, a letter and a file of random bytes are written into a FAT32
# image, the folder's entry is lost and one file's cluster chain is broken,
# and fsck.fat salvages the pieces (scripts/make-disk-check). So every fragment
# is whole clusters with slack after its file (zeros, or older data), one file
# comes back as a head and a tail, and the folder's own clusters come back
# too; the fragments are named FILE0000.CHK, ... as a Windows disk check names
# them. samples/truth.tsv says what each fragment holds.
#
# The files come from tests/data/kinds, made by real programs; with --fresh
# they are made anew first (tests/data/make-kinds.sh, which needs the
# programs of scripts/packages/samples.txt).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
kinds=$here/../tests/data/kinds
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
if [ "${1:-}" = "--fresh" ]; then
  kinds=$work/kinds
  bash "$here/../tests/data/make-kinds.sh" "$kinds" >/dev/null
fi

# Small files of the kinds people lose most, and one of six clusters (the
# presentation) whose chain breaks.
sources=(
  imagemagick.jpg libreoffice-docx.docx ffmpeg-id3.mp3 gzip.gz imagemagick.png
  libreoffice-pdf.pdf flac.flac imagemagick-89a.gif libreoffice-xlsx.xlsx
  ffmpeg-h264.mp4 info-zip.zip imagemagick-v3.bmp libreoffice-doc.doc
  oggenc.ogg imagemagick.webp libreoffice-odt.odt ffmpeg.avi 7zip.7z
  imagemagick-intel.tif sox.wav libreoffice-pptx.pptx ffmpeg-vp8.webm plain.txt
  imagemagick.heic libreoffice-xls.xls lame-mpeg1.mp3 gnu.tar libreoffice.html
  ffmpeg-mjpeg.jpg ffmpeg.m4a libreoffice-rtf.rtf imagemagick.psd ffmpeg.mkv
  sqlite3.sqlite abc2midi.mid libreoffice-epub.epub fonttools-dejavu.ttf imagemagick.ico
  mingw.exe
)
mkdir "$work/files"
for source in "${sources[@]}"; do cp "$kinds/$source" "$work/files/"; done
printf 'Dear Anna,\r\n\r\nthe photos from the lake are on the stick I gave you.\r\nLove, Jo\r\n' > "$work/files/letter.txt"

"$here/../scripts/make-disk-check" --fs fat32 --seed 3 --slack mixed --broken 0.01 --random 1 --names chk \
  "$work/files" "$work/out"
rm -rf "$here/FOUND.000" "$here/truth.tsv"
mv "$work/out/FOUND.000" "$work/out/truth.tsv" "$here/"
echo "made $(ls "$here/FOUND.000" | wc -l) fragments in $here/FOUND.000 ($(du -sk "$here/FOUND.000" | cut -f1) KiB)"
