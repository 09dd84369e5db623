#!/usr/bin/env bash
# Makes small real files of today's kinds (ISO media, Matroska, WebP, MP3, FLAC, Ogg, 7z,
# xz, gzip, bzip2, zstd, SQLite and its WAL, SVG, office documents, EPUB, JAR, APK, JPEG
# with Exif and progressive JPEG) with the tools that write them, and lists them in
# OUT_DIR/manifest.tsv as "name<TAB>tag", the tag being the one a scan with real ends
# gives. Deterministic where the tools allow (fixed seeds, bit-exact muxing, fixed times);
# the office suite's files, the encrypted 7z and the WAL salts are not. Exits non-zero,
# saying which, when a tool is missing (3) or the office suite fails (4).
set -euo pipefail
out=${1:?usage: make_modern_files.sh OUT_DIR}

need=(ffmpeg heif-enc avifenc cwebp img2webp exiftool convert soffice 7z xz gzip bzip2 zstd pzstd
  sqlite3 mkvmerge zip javac jar python3)
missing=()
for tool in "${need[@]}"; do command -v "$tool" > /dev/null || missing+=("$tool"); done
encoders=$(ffmpeg -hide_banner -encoders 2> /dev/null || true)
for codec in libx264 libx265 libvpx libvpx-vp9 libopus libvorbis libmp3lame flac aac h263; do
  grep -qE "^ [A-Z.]{6} $codec " <<< "$encoders" || missing+=("ffmpeg encoder $codec")
done
if ((${#missing[@]})); then
  printf 'make_modern_files.sh: missing: %s (scripts/setup.sh installs them)\n' "${missing[*]}" >&2
  exit 3
fi

mkdir -p "$out"
out=$(realpath "$out")
cd "$out"
export SOURCE_DATE_EPOCH=1700000000 TZ=UTC LC_ALL=C
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
: > manifest.tsv
add() {  # NAME TAG
  [ -s "$1" ] || { echo "make_modern_files.sh: $1 was not made" >&2; exit 4; }
  printf '%s\t%s\n' "$1" "$2" >> manifest.tsv
}
stamp() { touch -d @1700000000 "$@"; }

# --- Pictures -----------------------------------------------------------------------------
# Test pattern with fixed-seed noise (so it does not compress to nothing), a copy with an
# alpha channel and one of 16 bits a channel.
ff() { ffmpeg -nostdin -v error -y "$@"; }
ff -f lavfi -i testsrc2=size=320x240 -vf noise=alls=24:allf=u:all_seed=7 -frames:v 1 "$work/base.png"
ff -i "$work/base.png" -vf "format=rgba,geq=r='r(X,Y)':g='g(X,Y)':b='b(X,Y)':a='255*lt(hypot(X-160,Y-120),100)'" \
  "$work/alpha.png"
ff -i "$work/base.png" -pix_fmt rgb48be "$work/deep.png"
ff -i "$work/base.png" -vf scale=96:72 -frames:v 1 "$work/small.png"
ff -f lavfi -i mandelbrot=size=320x240:end_pts=1 -frames:v 1 "$work/other.png"

heif-enc -q 60 "$work/base.png" -o picture.heic > /dev/null
add picture.heic HEIC
heif-enc -q 50 -t 64 "$work/base.png" -o thumbed.heic > /dev/null
add thumbed.heic HEIC
heif-enc -q 50 -b 10 "$work/deep.png" -o deep.heic > /dev/null
add deep.heic HEIC
heif-enc -q 40 "$work/base.png" "$work/small.png" -o two.heic > /dev/null
add two.heic HEIC
# heif-enc always names "heic" first; a HEIF file of no particular coding names only the
# structure brands "mif1" and "miaf": the same file with those brands.
python3 - picture.heic picture.heif <<'PY'
import struct, sys
data = bytearray(open(sys.argv[1], "rb").read())
assert data[4:12] == b"ftypheic"
size = struct.unpack(">I", data[0:4])[0]
for at in range(8, size, 4):
    if data[at:at + 4] == b"heic":
        data[at:at + 4] = b"mif1" if at == 8 else b"miaf"
open(sys.argv[2], "wb").write(data)
PY
add picture.heif HEIF
avifenc -s 8 -j 1 "$work/base.png" picture.avif > /dev/null
add picture.avif AVIF
avifenc -s 8 -j 1 -y 420 "$work/alpha.png" alpha.avif > /dev/null
add alpha.avif AVIF

cwebp -quiet -q 75 "$work/base.png" -o lossy.webp
add lossy.webp WEBP
cwebp -quiet -lossless -z 3 "$work/small.png" -o lossless.webp
add lossless.webp WEBP
cwebp -quiet -q 70 -alpha_q 80 -metadata none "$work/alpha.png" -o alpha.webp
add alpha.webp WEBP
img2webp -loop 0 -lossy -q 60 -d 100 "$work/base.png" "$work/alpha.png" -lossless "$work/other.png" \
  -o animated.webp > /dev/null 2>&1
add animated.webp WEBP

convert "$work/base.png" -quality 85 "$work/plain.jpg"
convert "$work/small.png" -quality 70 "$work/thumb.jpg"
cp "$work/plain.jpg" exif.jpg
exiftool -q -overwrite_original -Make=Trawlex -Model="Bench One" -Artist="Test" \
  -DateTimeOriginal="2023:11:14 22:13:20" -GPSLatitude=47.5 -GPSLatitudeRef=N \
  "-ThumbnailImage<=$work/thumb.jpg" exif.jpg
add exif.jpg JPG
convert "$work/base.png" -interlace JPEG -quality 80 progressive.jpg
add progressive.jpg JPG
cp progressive.jpg progressive_exif.jpg
exiftool -q -overwrite_original -Make=Trawlex -Orientation#=6 progressive_exif.jpg
add progressive_exif.jpg JPG

# SVG written by hand: with an XML declaration and doctype, and bare (the office suite's
# export is made below).
cat > drawing.svg <<'SVG'
<?xml version="1.0" encoding="UTF-8" standalone="no"?>
<!DOCTYPE svg PUBLIC "-//W3C//DTD SVG 1.1//EN" "http://www.w3.org/Graphics/SVG/1.1/DTD/svg11.dtd">
<svg xmlns="http://www.w3.org/2000/svg" width="200" height="120" viewBox="0 0 200 120">
  <title>A test drawing</title>
  <rect x="10" y="10" width="80" height="60" fill="#4080c0" stroke="black"/>
  <circle cx="140" cy="60" r="40" fill="orange"/>
  <text x="20" y="110" font-size="14">Trawlex</text>
</svg>
SVG
add drawing.svg SVG
{
  printf '<svg xmlns="http://www.w3.org/2000/svg" viewBox="0 0 400 400">\n'
  for i in $(seq 1 300); do
    printf '<circle cx="%d" cy="%d" r="%d" fill="#%06x"/>\n' $((i * 37 % 400)) $((i * 91 % 400)) $((i % 17 + 2)) $((i * 2654435 % 16777216))
  done
  printf '</svg>\n'
} > dots.svg
add dots.svg SVG

# --- Sound and video --------------------------------------------------------------------------
bitexact=(-fflags +bitexact -flags:v +bitexact -flags:a +bitexact -map_metadata -1)
x264=(-c:v libx264 -preset veryfast -crf 26 -x264-params threads=1:sliced-threads=0 -pix_fmt yuv420p)
video=(-f lavfi -i "testsrc2=size=160x120:rate=15:duration=2,noise=alls=10:allf=t+u:all_seed=3")
tone=(-f lavfi -i "sine=frequency=440:sample_rate=22050:duration=2")
noise="anoisesrc=color=pink:amplitude=0.2:duration=1.5:sample_rate=44100"
music=(-f lavfi -i "$noise:seed=11[l];$noise:seed=12[r];[l][r]amerge[out0]")
ff "${video[@]}" "${tone[@]}" "${bitexact[@]}" "${x264[@]}" -c:a aac -b:a 48k -f mp4 moov_last.mp4
add moov_last.mp4 MP4
ff "${video[@]}" "${tone[@]}" "${bitexact[@]}" "${x264[@]}" -c:a aac -b:a 48k -movflags +faststart -f mp4 moov_first.mp4
add moov_first.mp4 MP4
ff "${video[@]}" "${tone[@]}" "${bitexact[@]}" "${x264[@]}" -c:a aac -b:a 48k -g 10 \
  -movflags frag_keyframe+empty_moov+default_base_moof -f mp4 fragmented.mp4
add fragmented.mp4 MP4
ff "${video[@]}" "${bitexact[@]}" -c:v libx265 -preset ultrafast -crf 30 -tag:v hvc1 \
  -x265-params pools=1:frame-threads=1:log-level=error -f mp4 hevc.mp4
add hevc.mp4 MP4
ff "${video[@]}" "${tone[@]}" "${bitexact[@]}" "${x264[@]}" -c:a aac -b:a 48k -f ipod clip.m4v
add clip.m4v M4V
ff "${music[@]}" "${bitexact[@]}" -c:a aac -b:a 96k -f ipod song.m4a
add song.m4a M4A
ff "${video[@]}" "${tone[@]}" "${bitexact[@]}" -vf scale=176:144 -c:v h263 -q:v 8 -c:a aac -ac 1 -ar 8000 -b:a 12k \
  -f 3gp phone.3gp
add phone.3gp 3GP
ff "${video[@]}" "${tone[@]}" "${bitexact[@]}" "${x264[@]}" -c:a aac -ac 1 -b:a 24k -f 3g2 phone.3g2
add phone.3g2 3G2
ff "${video[@]}" "${tone[@]}" "${bitexact[@]}" "${x264[@]}" -c:a pcm_s16le -f mov movie.mov
add movie.mov MOV
ff "${video[@]}" "${bitexact[@]}" -c:v mjpeg -q:v 6 -movflags +faststart -f mov moov_first.mov
add moov_first.mov MOV

ff "${video[@]}" "${tone[@]}" "${bitexact[@]}" "${x264[@]}" -c:a libvorbis -q:a 2 -f matroska clip.mkv
add clip.mkv MKV
mkvmerge -q --deterministic 7 -o remuxed.mkv clip.mkv
add remuxed.mkv MKV
ff "${video[@]}" "${tone[@]}" "${bitexact[@]}" -c:v libvpx-vp9 -b:v 200k -deadline realtime -cpu-used 8 -threads 1 \
  -c:a libopus -b:a 32k -f webm clip.webm
add clip.webm WEBM
# Written to a pipe: the segment's size is unknown and no cues are written at the end.
ff "${video[@]}" "${tone[@]}" "${bitexact[@]}" -c:v libvpx -b:v 200k -deadline realtime -cpu-used 8 -threads 1 \
  -c:a libvorbis -q:a 1 -f webm pipe:1 > live.webm
add live.webm WEBM
mkvmerge -q --deterministic 9 --webm -o mkvmerge.webm clip.webm
add mkvmerge.webm WEBM

ff "${music[@]}" "${bitexact[@]}" -c:a libmp3lame -b:a 128k cbr.mp3
add cbr.mp3 MP3
ff "${music[@]}" "${bitexact[@]}" -c:a libmp3lame -q:a 5 vbr.mp3
add vbr.mp3 MP3
ff "${music[@]}" "${bitexact[@]}" -c:a libmp3lame -b:a 96k -id3v2_version 3 -write_id3v1 1 -metadata title="Tail tag" \
  -metadata artist="Trawlex" id3v1.mp3
add id3v1.mp3 MP3
ff "${music[@]}" -i "$work/thumb.jpg" -map 0:a -map 1:v "${bitexact[@]}" -c:a libmp3lame -q:a 7 -c:v copy -id3v2_version 3 \
  -metadata:s:v comment="Cover (front)" cover.mp3
add cover.mp3 MP3

ff "${music[@]}" "${bitexact[@]}" -c:a flac -sample_fmt s16 sound.flac
add sound.flac FLAC
ff "${tone[@]}" "${bitexact[@]}" -c:a flac -compression_level 12 -sample_fmt s32 -ar 48000 deep.flac
add deep.flac FLAC
ff "${music[@]}" -i "$work/thumb.jpg" -map 0:a -map 1:v "${bitexact[@]}" -c:a flac -compression_level 0 -sample_fmt s16 -c:v copy \
  -disposition:v attached_pic cover.flac
add cover.flac FLAC

ff "${music[@]}" "${bitexact[@]}" -c:a libvorbis -q:a 3 -f ogg music.ogg
add music.ogg OGG
ff "${tone[@]}" "${bitexact[@]}" -c:a libvorbis -q:a 0 -ac 1 -f ogg tone.ogg
add tone.ogg OGG
ff "${music[@]}" "${bitexact[@]}" -c:a libopus -b:a 64k -f ogg music.opus
add music.opus OPUS
ff "${tone[@]}" "${bitexact[@]}" -c:a libopus -b:a 16k -application voip -f opus voice.opus
add voice.opus OPUS

# --- Archives and compressed streams ---------------------------------------------------------
mkdir -p "$work/tree/docs"
for i in 1 2 3; do
  seq -f "line %g of the ledger: entry $i" 1 $((i * 1500)) > "$work/tree/docs/ledger$i.txt"
done
cp "$work/plain.jpg" "$work/tree/photo.jpg"
head -c 30000 /dev/zero | tr '\0' 'x' > "$work/tree/filler.txt"
find "$work/tree" -exec touch -d @1700000000 {} +
tar --format=gnu --owner=0 --group=0 --mtime=@1700000000 --sort=name -C "$work" -cf "$work/tree.tar" tree
stamp "$work/tree.tar"
(cd "$work" && 7z a -bd -bso0 -mx=5 "$out/files.7z" tree > /dev/null)
add files.7z 7Z
(cd "$work" && 7z a -bd -bso0 -mx=1 -mhe=on -pSecret "$out/hidden.7z" tree > /dev/null)
add hidden.7z 7Z
(cd "$work" && 7z a -bd -bso0 -mx=0 "$out/stored.7z" tree/docs/ledger1.txt tree/docs/ledger2.txt > /dev/null)
add stored.7z 7Z
(cd "$work" && 7z a -bd -bso0 -m0=bzip2 -ms=off "$out/bzip.7z" tree/docs > /dev/null)
add bzip.7z 7Z

xz -6 -c "$work/tree.tar" > tree.tar.xz
add tree.tar.xz XZ
xz -c -T1 --check=sha256 --block-size=32KiB "$work/tree.tar" > blocks.xz
add blocks.xz XZ
{ xz -1 -c "$work/tree/docs/ledger1.txt"; xz -1 -c --check=crc32 "$work/tree/docs/ledger2.txt"; } > joined.xz
add joined.xz XZ

gzip -n -9 -c "$work/tree.tar" > tree.tar.gz
add tree.tar.gz GZ
(cd "$work/tree/docs" && gzip -9 -c ledger3.txt) > named.gz
add named.gz GZ
{ gzip -n -c "$work/tree/docs/ledger1.txt"; gzip -n -1 -c "$work/tree/docs/ledger2.txt"; } > joined.gz
add joined.gz GZ

bzip2 -9 -c "$work/tree.tar" > tree.tar.bz2
add tree.tar.bz2 BZ2
{ bzip2 -1 -c "$work/tree/docs/ledger1.txt"; bzip2 -1 -c "$work/tree/docs/ledger3.txt"; } > joined.bz2
add joined.bz2 BZ2

zstd -q -19 -c "$work/tree.tar" > tree.tar.zst
add tree.tar.zst ZST
{ zstd -q -3 -c "$work/tree/docs/ledger1.txt"; zstd -q -3 --no-check -c "$work/tree/docs/ledger2.txt"; } > joined.zst
add joined.zst ZST
# pzstd cuts its input into frames of a few MB, each led by a skippable frame that gives its size.
for i in $(seq 1 14); do seq -f "line %g of the journal: entry $i" 1 9000; done > "$work/journal.txt"
pzstd -q -p 2 -1 -c "$work/journal.txt" > parallel.zst
add parallel.zst ZST
zstd -q -1 --no-check --no-content-size -c < "$work/tree/docs/ledger3.txt" > streamed.zst
add streamed.zst ZST

# --- SQLite: databases and a write-ahead log taken while its connection is open ----------------
rm -f ledger.sqlite small.sqlite journal.sqlite journal.sqlite-wal journal.sqlite-shm pages.sqlite pages.sqlite-*
sqlite3 ledger.sqlite <<'SQL'
PRAGMA page_size = 4096;
CREATE TABLE entry (id INTEGER PRIMARY KEY, day TEXT, amount INTEGER, note TEXT);
WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 1500)
INSERT INTO entry SELECT i, date('2023-01-01', '+' || (i % 365) || ' days'), (i * 7919) % 10007,
  printf('entry %d of the ledger, %x', i, i * 2654435761) FROM n;
CREATE INDEX entry_day ON entry(day);
SQL
add ledger.sqlite SQLITE
# Small pages, rows deleted afterwards so that free pages stay in the file.
sqlite3 small.sqlite <<'SQL'
PRAGMA page_size = 1024;
PRAGMA auto_vacuum = NONE;
CREATE TABLE t (k INTEGER PRIMARY KEY, v BLOB);
WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 400)
INSERT INTO t SELECT i, zeroblob(100 + i % 300) FROM n;
DELETE FROM t WHERE k % 3 = 0;
SQL
add small.sqlite SQLITE
python3 - <<'PY'
import shutil, sqlite3
con = sqlite3.connect("journal.sqlite", isolation_level=None)
con.execute("PRAGMA journal_mode=WAL")
con.execute("PRAGMA wal_autocheckpoint=0")
con.execute("CREATE TABLE log (id INTEGER PRIMARY KEY, line TEXT)")
con.execute("PRAGMA wal_checkpoint(TRUNCATE)")
for batch in range(6):
    con.execute("BEGIN")
    for i in range(120):
        con.execute("INSERT INTO log (line) VALUES (?)", ("batch %d line %d " % (batch, i) * 3,))
    con.execute("COMMIT")
shutil.copyfile("journal.sqlite-wal", "journal.wal")
# A database of small pages: its log's frames are 1048 bytes.
small = sqlite3.connect("pages.sqlite", isolation_level=None)
small.execute("PRAGMA page_size=1024")
small.execute("PRAGMA journal_mode=WAL")
small.execute("PRAGMA wal_autocheckpoint=0")
small.execute("CREATE TABLE t (v TEXT)")
for i in range(40):
    small.execute("INSERT INTO t VALUES (?)", ("row %d " % i * 20,))
shutil.copyfile("pages.sqlite-wal", "pages.wal")
small.close()
con.close()
PY
rm -f pages.sqlite journal.sqlite-wal journal.sqlite-shm
add journal.sqlite SQLITE
add journal.wal WAL
add pages.wal WAL

# --- Java and Android packages ---------------------------------------------------------------
mkdir -p "$work/java/org/trawlex" "$work/classes"
cat > "$work/java/org/trawlex/Hello.java" <<'JAVA'
package org.trawlex;

public final class Hello {
  public static void main(String[] args) {
    for (int i = 0; i < 3; i++) {
      System.out.println("Hello from a test program, round " + i);
    }
  }
}
JAVA
javac -nowarn --release 11 -d "$work/classes" "$work/java/org/trawlex/Hello.java"
cp "$work/tree/docs/ledger1.txt" "$work/classes/org/trawlex/ledger.txt"
jar --create --date=2023-11-14T22:13:20Z --file hello.jar --main-class org.trawlex.Hello -C "$work/classes" .
add hello.jar JAR
# A JAR zipped by hand, as build scripts often do: its manifest first, then the classes.
mkdir -p "$work/jarmeta/META-INF"
printf 'Manifest-Version: 1.0\r\nCreated-By: 17 (Trawlex)\r\n\r\n' > "$work/jarmeta/META-INF/MANIFEST.MF"
cp -r "$work/classes/org" "$work/jarmeta/"
find "$work/jarmeta" -exec touch -d @1700000000 {} +
(cd "$work/jarmeta" && zip -q -X -r "$out/library.jar" META-INF/MANIFEST.MF org)
add library.jar JAR

# An Android package: a binary XML manifest, a dex file and resources, zipped; a second one
# signed the old way, its META-INF entries first as jarsigner writes them.
python3 - "$work/apk" <<'PY'
import os, struct, sys, zlib
root = sys.argv[1]
os.makedirs(os.path.join(root, "res", "drawable"), exist_ok=True)
os.makedirs(os.path.join(root, "META-INF"), exist_ok=True)
# Binary XML: the chunk header of a document, a string pool, the end.
strings = ["manifest", "package", "org.trawlex.app", "versionCode"]
pool = b"".join(struct.pack("<HH", len(s), len(s)) + s.encode() + b"\0" for s in strings)
pool += b"\0" * (-len(pool) % 4)
offsets = b""
at = 0
for s in strings:
    offsets += struct.pack("<I", at)
    at += 4 + len(s) + 1
pool_chunk = struct.pack("<HHIIIIII", 1, 28, 28 + len(offsets) + len(pool), len(strings), 0, 0x100,
                         28 + len(offsets), 0) + offsets + pool
body = pool_chunk + struct.pack("<HHIII", 0x0102, 16, 36, 1, 0xFFFFFFFF) + b"\0" * 20
axml = struct.pack("<HHI", 3, 8, 8 + len(body)) + body
open(os.path.join(root, "AndroidManifest.xml"), "wb").write(axml)
# A dex file: its header with the Adler-32 of what follows the checksum field.
dex = bytearray(0x70 + 256)
dex[0:8] = b"dex\n035\0"
struct.pack_into("<III", dex, 32, len(dex), 0x70, 0x12345678)
dex[0x70:] = bytes((i * 37) & 0xFF for i in range(256))
struct.pack_into("<I", dex, 8, zlib.adler32(bytes(dex[12:])))
open(os.path.join(root, "classes.dex"), "wb").write(bytes(dex))
open(os.path.join(root, "resources.arsc"), "wb").write(struct.pack("<HHII", 2, 12, 12, 0))
open(os.path.join(root, "META-INF", "MANIFEST.MF"), "w").write("Manifest-Version: 1.0\r\nCreated-By: 1.0 (Android)\r\n\r\n")
open(os.path.join(root, "META-INF", "CERT.SF"), "w").write("Signature-Version: 1.0\r\n\r\n")
PY
cp "$work/small.png" "$work/apk/res/drawable/icon.png"
find "$work/apk" -exec touch -d @1700000000 {} +
(cd "$work/apk" && zip -q -X "$out/app.apk" AndroidManifest.xml classes.dex resources.arsc res/drawable/icon.png)
add app.apk APK
(cd "$work/apk" && zip -q -X "$out/signed.apk" META-INF/MANIFEST.MF META-INF/CERT.SF AndroidManifest.xml classes.dex \
  resources.arsc res/drawable/icon.png)
add signed.apk APK

# --- Office documents and a book from the office suite -----------------------------------------
# The suite's first two starts set up its profile (the second puts back the macro library);
# a macro then converts every document in a third start, where starting the suite once per
# format would take seconds each.
mkdir -p "$work/office"
para() { for i in $(seq 1 "$1"); do printf '<text:p>Paragraph %d of the minutes: item %d was agreed.</text:p>\n' "$i" $((i * 7)); done; }
{
  cat <<'XML'
<?xml version="1.0" encoding="UTF-8"?>
<office:document xmlns:office="urn:oasis:names:tc:opendocument:xmlns:office:1.0"
 xmlns:text="urn:oasis:names:tc:opendocument:xmlns:text:1.0"
 xmlns:draw="urn:oasis:names:tc:opendocument:xmlns:drawing:1.0"
 xmlns:svg="urn:oasis:names:tc:opendocument:xmlns:svg-compatible:1.0"
 xmlns:xlink="http://www.w3.org/1999/xlink"
 office:version="1.3" office:mimetype="application/vnd.oasis.opendocument.text">
 <office:body><office:text>
<text:h text:outline-level="1">Minutes</text:h>
<text:p><draw:frame draw:name="photo" svg:width="4cm" svg:height="3cm"><draw:image><office:binary-data>
XML
  base64 "$work/small.png"
  printf '</office:binary-data></draw:image></draw:frame></text:p>\n'
  para 200
  printf ' </office:text></office:body>\n</office:document>\n'
} > "$work/office/minutes.fodt"
{
  cat <<'XML'
<?xml version="1.0" encoding="UTF-8"?>
<office:document xmlns:office="urn:oasis:names:tc:opendocument:xmlns:office:1.0"
 xmlns:table="urn:oasis:names:tc:opendocument:xmlns:table:1.0"
 xmlns:text="urn:oasis:names:tc:opendocument:xmlns:text:1.0"
 office:version="1.3" office:mimetype="application/vnd.oasis.opendocument.spreadsheet">
 <office:body><office:spreadsheet><table:table table:name="Ledger">
XML
  for i in $(seq 1 300); do
    printf '<table:table-row><table:table-cell office:value-type="float" office:value="%d"/><table:table-cell office:value-type="string"><text:p>item %d</text:p></table:table-cell><table:table-cell office:value-type="float" office:value="%d"/></table:table-row>\n' \
      "$i" "$i" $((i * 7919 % 10007))
  done
  printf ' </table:table></office:spreadsheet></office:body>\n</office:document>\n'
} > "$work/office/ledger.fods"
slides() {  # MIMETYPE ELEMENT
  cat <<XML
<?xml version="1.0" encoding="UTF-8"?>
<office:document xmlns:office="urn:oasis:names:tc:opendocument:xmlns:office:1.0"
 xmlns:draw="urn:oasis:names:tc:opendocument:xmlns:drawing:1.0"
 xmlns:text="urn:oasis:names:tc:opendocument:xmlns:text:1.0"
 xmlns:svg="urn:oasis:names:tc:opendocument:xmlns:svg-compatible:1.0"
 office:version="1.3" office:mimetype="application/vnd.oasis.opendocument.$1">
 <office:body><office:$2>
XML
  for p in 1 2 3; do
    printf '<draw:page draw:name="page%d">\n' "$p"
    printf ' <draw:frame svg:x="2cm" svg:y="2cm" svg:width="12cm" svg:height="3cm"><draw:text-box><text:p>Page %d of the review</text:p></draw:text-box></draw:frame>\n' "$p"
    printf ' <draw:ellipse svg:x="%dcm" svg:y="8cm" svg:width="4cm" svg:height="4cm"/>\n' $((p * 3))
    printf '</draw:page>\n'
  done
  printf ' </office:%s></office:body>\n</office:document>\n' "$2"
}
slides presentation presentation > "$work/office/review.fodp"
slides graphics drawing > "$work/office/plan.fodg"

office=(env HOME="$work/office/home" timeout 180 soffice --headless --norestore --nologo)
"${office[@]}" --terminate_after_init > /dev/null 2>&1
"${office[@]}" --terminate_after_init > /dev/null 2>&1
basic="$work/office/home/.config/libreoffice/4/user/basic/Standard"
[ -f "$basic/Module1.xba" ] || { echo "make_modern_files.sh: the office suite made no profile" >&2; exit 4; }
cat > "$basic/Module1.xba" <<'XBA'
<?xml version="1.0" encoding="UTF-8"?>
<!DOCTYPE script:module PUBLIC "-//OpenOffice.org//DTD OfficeDocument 1.0//EN" "module.dtd">
<script:module xmlns:script="http://openoffice.org/2000/script" script:name="Module1" script:language="StarBasic">
Sub Jobs(list As String)
  Dim n As Integer, line As String, f() As String, doc As Object
  Dim load(0) As New com.sun.star.beans.PropertyValue
  Dim save(0) As New com.sun.star.beans.PropertyValue
  On Error Goto done
  load(0).Name = &quot;Hidden&quot; : load(0).Value = True
  save(0).Name = &quot;FilterName&quot;
  n = FreeFile
  Open list For Input As #n
  Do While Not EOF(n)
    Line Input #n, line
    f = Split(line, Chr(9))
    If UBound(f) = 2 Then
      doc = StarDesktop.loadComponentFromURL(ConvertToURL(f(0)), &quot;_blank&quot;, 0, load())
      save(0).Value = f(2)
      doc.storeToURL(ConvertToURL(f(1)), save())
      doc.close(True)
    End If
  Loop
  Close #n
done:
  StarDesktop.terminate()
End Sub
</script:module>
XBA
o="$work/office"
{
  printf '%s\t%s\t%s\n' "$o/minutes.fodt" "$o/out/minutes.odt" "writer8"
  printf '%s\t%s\t%s\n' "$o/minutes.fodt" "$o/out/minutes.docx" "MS Word 2007 XML"
  printf '%s\t%s\t%s\n' "$o/minutes.fodt" "$o/out/minutes.epub" "EPUB"
  printf '%s\t%s\t%s\n' "$o/ledger.fods" "$o/out/ledger.xlsx" "Calc MS Excel 2007 XML"
  printf '%s\t%s\t%s\n' "$o/ledger.fods" "$o/out/ledger.ods" "calc8"
  printf '%s\t%s\t%s\n' "$o/review.fodp" "$o/out/review.pptx" "Impress MS PowerPoint 2007 XML"
  printf '%s\t%s\t%s\n' "$o/review.fodp" "$o/out/review.odp" "impress8"
  printf '%s\t%s\t%s\n' "$o/plan.fodg" "$o/out/plan.odg" "draw8"
  printf '%s\t%s\t%s\n' "$o/plan.fodg" "$o/out/plan.svg" "draw_svg_Export"
} > "$o/jobs.tsv"
"${office[@]}" "macro:///Standard.Module1.Jobs(\"$o/jobs.tsv\")" > /dev/null 2>&1 || true
for job in minutes.odt:ODT minutes.docx:DOCX minutes.epub:EPUB ledger.xlsx:XLSX ledger.ods:ODS review.pptx:PPTX \
           review.odp:ODP plan.odg:ODG plan.svg:SVG; do
  name=${job%%:*}
  [ -s "$o/out/$name" ] || { echo "make_modern_files.sh: the office suite did not write $name" >&2; exit 4; }
  cp "$o/out/$name" "$name"
  add "$name" "${job##*:}"
done
