#!/usr/bin/env bash
# Makes the sample disk image: a 32 MiB FAT disk that held real files of 19 kinds,
# written and then deleted, as after an unlucky "delete folder".
#   scripts/make_sample_image.sh OUT_DIR
# Leaves OUT_DIR/sample.img, the original files in OUT_DIR/files/ and
# OUT_DIR/manifest.tsv: file name, the tag a scan gives its first sector ("-" when only a
# scan with real ends finds it) and the tag a scan with real ends gives it.
set -euo pipefail
out=${1:?usage: make_sample_image.sh OUT_DIR}
mkdir -p "$out"
out=$(cd "$out" && pwd)
files="$out/files"
rm -rf "$files" "$out/sample.img" "$out/manifest.tsv"
mkdir -p "$files"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"

manifest() { printf '%s\t%s\t%s\n' "$1" "$2" "${3:-$2}" >> "$out/manifest.tsv"; }

# Pictures, from ImageMagick's built-in patterns (seeded, so every run is the same).
convert -seed 7 -size 640x480 plasma:steelblue-wheat "$files/harbour.jpg";  manifest harbour.jpg JPG
convert -size 320x240 gradient:navy-orange "$files/sunset.png";            manifest sunset.png PNG
convert -size 200x120 pattern:checkerboard "$files/board.gif";             manifest board.gif GIF
convert -size 300x200 gradient:teal-white "BMP3:$files/logo.bmp";          manifest logo.bmp BMP
convert -seed 3 -size 256x256 plasma:red-blue "$files/scan.tif";           manifest scan.tif TIF
convert -size 128x128 gradient:gray-black "$files/layers.psd";             manifest layers.psd PSD

# Documents.
cat > page.ps <<'PS'
%!PS-Adobe-3.0
/Helvetica findfont 24 scalefont setfont
72 700 moveto (Ostrel Trawlex sample document) show
72 660 moveto (Recovered files start at sector boundaries.) show
showpage
PS
gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=pdfwrite -o "$files/report.pdf" page.ps; manifest report.pdf PDF
gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=ps2write -o "$files/poster.ps" page.ps;  manifest poster.ps EPSorPS
{
  printf '{\\rtf1\\ansi\\deff0 {\\fonttbl {\\f0 Times New Roman;}}\n'
  for i in $(seq 1 40); do printf '\\par Minutes of meeting %d: the backup plan was approved.\n' "$i"; done
  printf '}\n'
} > "$files/minutes.rtf";                                                   manifest minutes.rtf RTF
{
  printf '<?xml version="1.0" encoding="UTF-8"?>\n<contacts>\n'
  for i in $(seq 1 60); do printf '  <contact id="%d"><name>Person %d</name></contact>\n' "$i" "$i"; done
  printf '</contacts>\n'
} > "$files/contacts.xml";                                                  manifest contacts.xml XML
{
  printf '<html>\n<head><title>Holiday</title></head>\n<body>\n'
  for i in $(seq 1 50); do printf '<p>Day %d: sun, sea and a camera full of pictures.</p>\n' "$i"; done
  printf '</body>\n</html>\n'
} > "$files/holiday.html";                                                  manifest holiday.html HTML

# Sound and music.
sox -n -r 8000 -c 1 -b 16 "$files/doorbell.wav" synth 1.5 sine 660 vol 0.5; manifest doorbell.wav WAV
/usr/bin/python3 - "$files/tune.mid" <<'PY'
import struct, sys
notes = [60, 62, 64, 65, 67, 69, 71, 72] * 4
track = b""
for n in notes:
    track += bytes([0x00, 0x90, n, 0x60]) + bytes([0x60, 0x80, n, 0x40])
track += bytes([0x00, 0xFF, 0x2F, 0x00])
data = b"MThd" + struct.pack(">IHHH", 6, 0, 1, 96) + b"MTrk" + struct.pack(">I", len(track)) + track
open(sys.argv[1], "wb").write(data)
PY
manifest tune.mid MID

# Archives of the text files.
cp "$files/minutes.rtf" "$files/contacts.xml" .
zip -q -X "$files/papers.zip" minutes.rtf contacts.xml;                     manifest papers.zip ZIP
arj a -y -i "$files/papers.arj" minutes.rtf contacts.xml >/dev/null;         manifest papers.arj ARJ
tar --format=ustar --mtime=2026-01-01 -cf "$files/papers.tar" minutes.rtf contacts.xml; manifest papers.tar TAR

# Today's files: a phone's photo with its Exif block and thumbnail, a video clip, a song and
# a letter written by an office suite.
convert -seed 11 -size 800x600 plasma:olive-skyblue -quality 88 "$files/phone.jpg"
convert "$files/phone.jpg" -resize 160x120 thumb.jpg
exiftool -q -overwrite_original -Make=Ostrel -Model="Trawlex Phone" \
  -DateTimeOriginal="2026:06:01 12:00:00" "-ThumbnailImage<=thumb.jpg" "$files/phone.jpg"
manifest phone.jpg JPG
ff() { ffmpeg -nostdin -v error -y -threads 1 "$@"; }
ff -f lavfi -i testsrc=size=320x240:rate=25:duration=2 -f lavfi \
  -i sine=frequency=523:sample_rate=44100:duration=2 -c:v libx264 -preset fast -pix_fmt yuv420p \
  -c:a aac -b:a 64k -fflags +bitexact -flags:v +bitexact -flags:a +bitexact -movflags +faststart \
  "$files/clip.mp4"
manifest clip.mp4 - MP4
ff -f lavfi -i sine=frequency=440:sample_rate=44100:duration=3 -c:a libmp3lame -b:a 128k \
  -fflags +bitexact -flags:a +bitexact -metadata title="Sample tune" "$files/song.mp3"
manifest song.mp3 - MP3
{
  printf 'Dear reader,\n\n'
  for i in $(seq 1 20); do printf 'Line %d of the letter about the backup that was never made.\n' "$i"; done
} > letter.txt
HOME="$work" soffice --headless --convert-to docx:"MS Word 2007 XML" --outdir "$work" letter.txt \
  >/dev/null 2>&1
mv letter.docx "$files/letter.docx"
manifest letter.docx ZIP DOCX

# The disk: a FAT file system holding every file, then emptied again.
mkfs.vfat -C -n TRAWLEXDEMO -i 0AC0FFEE "$out/sample.img" 32768 >/dev/null
export MTOOLS_SKIP_CHECK=1
mmd -i "$out/sample.img" ::/Holiday ::/Papers
for f in "$files"/*; do
  case "$f" in
    *.jpg|*.png|*.gif|*.bmp|*.tif|*.psd|*.wav|*.mid|*.mp4|*.mp3) mcopy -i "$out/sample.img" "$f" ::/Holiday/ ;;
    *) mcopy -i "$out/sample.img" "$f" ::/Papers/ ;;
  esac
done
mdeltree -i "$out/sample.img" ::/Holiday ::/Papers
echo "sample image: $out/sample.img ($(wc -l < "$out/manifest.tsv") files written and deleted)"
