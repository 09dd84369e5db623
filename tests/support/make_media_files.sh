#!/usr/bin/env bash
# Makes small real pictures, sounds and videos with ImageMagick, ffmpeg, sox and python,
# and lists them in OUT_DIR/manifest.tsv as "name<TAB>tag". Deterministic: fixed seeds and
# bit-exact muxing.
set -euo pipefail
out=${1:?usage: make_media_files.sh OUT_DIR}
mkdir -p "$out"
cd "$out"
manifest=manifest.tsv
: >"$manifest"
add() { printf '%s\t%s\n' "$1" "$2" >>"$manifest"; }

# Pictures. Plasma with a fixed seed gives textured (poorly compressible) pixels.
convert -seed 7 -size 96x72 plasma:fractal base.ppm
convert base.ppm -quality 85 plain.jpg && add plain.jpg JPG
convert base.ppm -interlace JPEG -quality 80 progressive.jpg && add progressive.jpg JPG
convert base.ppm -resize 16x12 -quality 70 thumb.jpg
# An EXIF block (IFD0 with a next-IFD link, IFD1 naming the thumbnail) put into a
# JPEG; ImageMagick then writes the picture again and carries the block along.
python3 - <<'PY'
import struct
thumb = open("thumb.jpg", "rb").read()
tiff = bytearray(b"II*\x00" + struct.pack("<I", 8))
ifd0 = struct.pack("<H", 1) + struct.pack("<HHII", 0x0112, 3, 1, 1) + struct.pack("<I", 8 + 18)
ifd1_at = 8 + len(ifd0)
thumb_at = ifd1_at + 2 + 2 * 12 + 4
ifd1 = struct.pack("<H", 2) + struct.pack("<HHII", 0x0201, 4, 1, thumb_at) \
    + struct.pack("<HHII", 0x0202, 4, 1, len(thumb)) + struct.pack("<I", 0)
payload = b"Exif\x00\x00" + bytes(tiff) + ifd0 + ifd1 + thumb
jpeg = open("plain.jpg", "rb").read()
app1 = b"\xff\xe1" + struct.pack(">H", len(payload) + 2) + payload
open("spliced.jpg", "wb").write(jpeg[:2] + app1 + jpeg[2:])
PY
convert spliced.jpg -quality 90 exif.jpg && add exif.jpg JPG
convert base.ppm png24:picture.png && add picture.png PNG
convert base.ppm -colors 64 picture.gif && add picture.gif GIF
convert -delay 10 -size 24x24 xc:red xc:green xc:blue -loop 0 animated.gif && add animated.gif GIF
convert base.ppm -crop 61x47+0+0 +repage bmp3:picture.bmp && add picture.bmp BMP
convert base.ppm -compress lzw -define tiff:rows-per-strip=8 strips.tif && add strips.tif TIF
convert base.ppm -compress zip -define tiff:tile-geometry=32x32 tiled.tif && add tiled.tif TIF
convert base.ppm -compress jpeg -quality 80 jpeg.tif && add jpeg.tif TIF
convert base.ppm \( base.ppm -flip \) -compress lzw pages.tif && add pages.tif TIF
# 16-bit, uncompressed, a short last strip, the strip counts written before the offsets
convert -size 96x64 -seed 3 plasma:navy-orange -depth 16 -compress none \
  -define tiff:rows-per-strip=24 deep.tif && add deep.tif TIF
convert base.ppm -compress RLE picture.psd && add picture.psd PSD
convert base.ppm -compress None raw.psd && add raw.psd PSD

# Sound and video.
ff() { ffmpeg -nostdin -v error -y "$@"; }
video=(-f lavfi -i testsrc=size=64x48:rate=25:duration=0.6)
sound=(-f lavfi -i sine=frequency=440:sample_rate=22050:duration=0.6)
ff "${sound[@]}" -fflags +bitexact -c:a pcm_s16le tone.wav && add tone.wav WAV
sox -n -r 8000 -c 1 -b 16 noise.wav synth 0.3 whitenoise && add noise.wav WAV
ff "${video[@]}" "${sound[@]}" -fflags +bitexact -c:v mpeg4 -c:a pcm_s16le clip.avi && add clip.avi AVI
ff "${video[@]}" -fflags +bitexact -c:v mpeg4 -f mov clip.mov && add clip.mov MOV
ff "${video[@]}" -fflags +bitexact -c:v mpeg1video -f mpeg clip1.mpg && add clip1.mpg MPG
ff "${video[@]}" "${sound[@]}" -fflags +bitexact -c:v mpeg2video -c:a mp2 -f vob clip2.mpg && add clip2.mpg MPG
# Elementary video streams, which ffmpeg writes without an end code.
ff -f lavfi -i testsrc=size=320x240:rate=25:duration=1 -fflags +bitexact -c:v mpeg1video \
  -f mpeg1video video1.mpg && add video1.mpg MPG
ff -f lavfi -i testsrc=size=176x144:rate=25:duration=1 -fflags +bitexact -c:v mpeg2video -g 12 \
  -bf 2 -f mpeg2video video2.mpg && add video2.mpg MPG
ff "${video[@]}" "${sound[@]}" -fflags +bitexact -c:v wmv2 -c:a wmav2 -f asf clip.asf && add clip.asf ASF
ff "${video[@]}" "${sound[@]}" -fflags +bitexact -c:v rv10 -c:a ac3 -f rm clip.rm && add clip.rm RM

# A two-track MIDI file.
python3 - <<'PY'
import struct
def track(events):
    return b"MTrk" + struct.pack(">I", len(events)) + events
notes = b"".join(bytes([0, 0x90, 60 + i, 100, 0x60, 0x80, 60 + i, 0]) for i in range(8))
tempo = b"\x00\xff\x51\x03\x07\xa1\x20\x00\xff\x2f\x00"
data = b"MThd" + struct.pack(">IHHH", 6, 1, 2, 96) + track(tempo) + track(notes + b"\x00\xff\x2f\x00")
open("tune.mid", "wb").write(data)
PY
add tune.mid MID
rm -f base.ppm thumb.jpg spliced.jpg
