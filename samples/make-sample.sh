#!/usr/bin/env bash
# Makes samples/FOUND.000: a folder as a disk check leaves it, with fragments
# named FILE0000.CHK, FILE0001.CHK, ... that hold small real files of many
# kinds, two text files, one fragment of random bytes (no kind) and one with
# cluster slack (zeros up to a 4096-byte cluster) after its file.
#
# The files come from tests/data/kinds, made by real programs; with --fresh
# they are made anew first (tests/data/make-kinds.sh, which needs the
# programs of scripts/packages/samples.txt).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
kinds=$here/../tests/data/kinds
if [ "${1:-}" = "--fresh" ]; then
  kinds=$(mktemp -d)
  trap 'rm -rf "$kinds"' EXIT
  bash "$here/../tests/data/make-kinds.sh" "$kinds" >/dev/null
fi
out=$here/FOUND.000
rm -rf "$out"
mkdir -p "$out"

# In no particular order, as a disk check finds them.
sources=(
  imagemagick.jpg libreoffice-docx.docx ffmpeg-id3.mp3 gzip.gz imagemagick.png
  libreoffice-pdf.pdf @text:letter flac.flac imagemagick-89a.gif libreoffice-xlsx.xlsx
  ffmpeg-h264.mp4 info-zip.zip imagemagick-v3.bmp libreoffice-doc.doc @random
  oggenc.ogg imagemagick.webp libreoffice-odt.odt ffmpeg.avi 7zip.7z
  imagemagick-intel.tif sox.wav libreoffice-pptx.pptx ffmpeg-vp8.webm plain.txt
  imagemagick.heic libreoffice-xls.xls lame-mpeg1.mp3 gnu.tar libreoffice.html
  @slack:ffmpeg-mjpeg.jpg ffmpeg.m4a libreoffice-rtf.rtf imagemagick.psd ffmpeg.mkv
  sqlite3.sqlite abc2midi.mid libreoffice-epub.epub fonttools-dejavu.ttf imagemagick.ico
  mingw.exe
)

n=0
for source in "${sources[@]}"; do
  target=$(printf '%s/FILE%04d.CHK' "$out" "$n")
  case "$source" in
    @text:letter)
      printf 'Dear Anna,\r\n\r\nthe photos from the lake are on the stick I gave you.\r\nLove, Jo\r\n' > "$target" ;;
    @random)
      # Random data of no kind, the same every time.
      python3 -c 'import random, sys; r = random.Random(2024); sys.stdout.buffer.write(bytes(r.randrange(256) for _ in range(6000)))' > "$target" ;;
    @slack:*)
      file=$kinds/${source#@slack:}
      cp "$file" "$target"
      size=$(stat -c %s "$file")
      head -c $(( (4096 - size % 4096) % 4096 )) /dev/zero >> "$target" ;;
    *)
      cp "$kinds/$source" "$target" ;;
  esac
  n=$((n + 1))
done
echo "made $n fragments in $out ($(du -sk "$out" | cut -f1) KiB)"
