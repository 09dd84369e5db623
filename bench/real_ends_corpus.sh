#!/usr/bin/env bash
# How well recovery gets whole files back, with and without real ends, on two disks made
# from real files: a FAT32 image whose files were written and deleted, and files planted
# at random sector-aligned places among random data. Prints, per disk and mode, how many
# originals came back whole, byte-exact, cut or missed, the junk files saved and the MB
# written; then scan and scan --real-ends throughput on the planted disk against
# `cat IMAGE > /dev/null` in the same run.
#   bench/real_ends_corpus.sh [TRAWLEX] [PLANT_MIB]
# TRAWLEX defaults to build/release/bin/trawlex, PLANT_MIB (the planted disk) to 256.
# MAX_MB (environment) is passed to --max-mb, 0 by default; KEEP=1 keeps the work folder.
set -euo pipefail
cd "$(dirname "$0")/.."
repo=$(pwd)
trawlex=$(realpath "${1:-build/release/bin/trawlex}")
plant_mib=${2:-256}
max_mb=${MAX_MB:-0}
python=/usr/bin/python3
[ -x "$trawlex" ] || { echo "no trawlex at $trawlex (build it: ninja -C build/release trawlex)" >&2; exit 2; }
work=$(mktemp -d)
if [ "${KEEP:-0}" = 1 ]; then echo "work folder: $work"; else trap 'rm -rf "$work"' EXIT; fi
corpus="$work/corpus"
manifest="$work/manifest.tsv"
mkdir -p "$corpus"
: > "$manifest"

# --- The corpus: real files from real tools, several sizes of each kind --------------------
add() { printf '%s\t%s\n' "$corpus/$1" "$2" >> "$manifest"; }
text_lines() {  # N: N lines of varied text
  for i in $(seq 1 "$1"); do printf 'Line %d of the minutes: item %d was agreed, %d votes.\n' "$i" $((i * 7)) $((i % 13)); done
}
make_corpus() {
  local s i
  cd "$work"
  for s in 1 2 3; do
    local w=$((160 * s * s)) h=$((120 * s * s))
    convert -seed "$s" -size ${w}x${h} plasma:steelblue-wheat -quality 90 "$corpus/photo$s.jpg"; add "photo$s.jpg" JPG
    convert -seed "$s" -size ${w}x${h} plasma:red-yellow "$corpus/chart$s.png";              add "chart$s.png" PNG
    convert -seed "$s" -size ${w}x${h} plasma:green-blue "$corpus/anim$s.gif";               add "anim$s.gif" GIF
    convert -size ${w}x${h} gradient:teal-white "BMP3:$corpus/logo$s.bmp";                   add "logo$s.bmp" BMP
    convert -seed "$s" -size ${w}x${h} plasma:navy-orange "$corpus/scan$s.tif";              add "scan$s.tif" TIF
    convert -seed "$s" -size ${w}x${h} plasma:gray-black "$corpus/layers$s.psd";             add "layers$s.psd" PSD
  done
  for s in 1 4 12; do
    { echo '%!PS-Adobe-3.0'; echo '/Helvetica findfont 12 scalefont setfont'
      for i in $(seq 1 "$s"); do
        for y in $(seq 60 14 740); do echo "72 $y moveto (Page $i, line $y: the backup plan was approved.) show"; done
        echo showpage
      done; } > "doc$s.ps"
    gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=pdfwrite -o "$corpus/report$s.pdf" "doc$s.ps"; add "report$s.pdf" PDF
    gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=ps2write -o "$corpus/poster$s.ps" "doc$s.ps";  add "poster$s.ps" EPSorPS
  done
  local ff=(ffmpeg -v error -y -f lavfi -i)
  for s in 1 3 6; do
    local v="testsrc=duration=$s:size=320x240:rate=25" a="sine=frequency=440:duration=$s"
    "${ff[@]}" "$v" -f lavfi -i "$a" -c:v mpeg4 -c:a pcm_s16le "$corpus/clip$s.avi";     add "clip$s.avi" AVI
    "${ff[@]}" "$v" -f lavfi -i "$a" -c:v mjpeg -c:a pcm_s16le "$corpus/clip$s.mov";     add "clip$s.mov" MOV
    "${ff[@]}" "$v" -f lavfi -i "$a" -c:v mpeg1video -c:a mp2 -f mpeg "$corpus/clip$s.mpg"; add "clip$s.mpg" MPG
    "${ff[@]}" "$v" -f lavfi -i "$a" -c:v wmv2 -c:a wmav2 "$corpus/clip$s.asf";          add "clip$s.asf" ASF
    "${ff[@]}" "$v" -f lavfi -i "$a" -c:v rv10 -c:a ac3 -ar 44100 "$corpus/clip$s.rm";   add "clip$s.rm" RM
    "${ff[@]}" "$a" -c:a pcm_s16le "$corpus/tone$s.wav";                                  add "tone$s.wav" WAV
    sox -n -r 22050 -c 2 -b 16 "$corpus/bell$s.wav" synth "$s" pluck C4 vol 0.5;          add "bell$s.wav" WAV
  done
  for s in 20 400 4000; do
    text_lines "$s" > "notes$s.txt"
    { printf '{\\rtf1\\ansi\\deff0 {\\fonttbl {\\f0 Times New Roman;}}\n'; text_lines "$s" | sed 's/^/\\par /'; printf '}\n'; } > "$corpus/minutes$s.rtf"; add "minutes$s.rtf" RTF
    { printf '<?xml version="1.0" encoding="UTF-8"?>\n<minutes>\n'; text_lines "$s" | sed 's|.*|  <item>&</item>|'; printf '</minutes>\n'; } > "$corpus/minutes$s.xml"; add "minutes$s.xml" XML
    { printf '<html>\n<head><title>Minutes</title></head>\n<body>\n'; text_lines "$s" | sed 's|.*|<p>&</p>|'; printf '</body>\n</html>\n'; } > "$corpus/minutes$s.html"; add "minutes$s.html" HTML
    cp "$corpus/minutes$s.rtf" "$corpus/minutes$s.xml" .
    zip -q -X "$corpus/papers$s.zip" "minutes$s.rtf" "minutes$s.xml" "notes$s.txt";                 add "papers$s.zip" ZIP
    arj a -y -i "$corpus/papers$s.arj" "minutes$s.rtf" "minutes$s.xml" "notes$s.txt" >/dev/null;   add "papers$s.arj" ARJ
    tar --format=ustar --mtime=2026-01-01 -cf "$corpus/papers$s.tar" "minutes$s.rtf" "minutes$s.xml" "notes$s.txt"; add "papers$s.tar" TAR
  done
  for s in 8 200 3000; do
    "$python" - "$corpus/tune$s.mid" "$s" <<'PY'
import struct, sys
path, n = sys.argv[1], int(sys.argv[2])
track = b""
for i in range(n):
    note = 48 + (i * 5) % 36
    track += bytes([0x00, 0x90, note, 0x60, 0x30, 0x80, note, 0x40])
track += bytes([0x00, 0xFF, 0x2F, 0x00])
data = b"MThd" + struct.pack(">IHHH", 6, 0, 1, 96) + b"MTrk" + struct.pack(">I", len(track)) + track
open(path, "wb").write(data)
PY
    add "tune$s.mid" MID
    "$python" - "$corpus/people$s.dbf" "$s" <<'PY'
import struct, sys
path, n = sys.argv[1], int(sys.argv[2])
fields = [(b"NAME", b"C", 20), (b"CITY", b"C", 16), (b"AGE", b"N", 3)]
header_len = 32 + 32 * len(fields) + 1
record_len = 1 + sum(f[2] for f in fields)
out = struct.pack("<BBBBIHH20x", 0x03, 126, 1, 1, n, header_len, record_len)
for name, kind, size in fields:
    out += name.ljust(11, b"\0") + kind + b"\0" * 4 + bytes([size, 0]) + b"\0" * 14
out += b"\r"
for i in range(n):
    out += b" " + (b"Person %d" % i).ljust(20) + (b"Town %d" % (i % 50)).ljust(16) + (b"%3d" % (18 + i % 70))
out += b"\x1a"
open(path, "wb").write(out)
PY
    add "people$s.dbf" DBF
  done
  # Whatever the format developers' corpus scripts make, when they are there.
  local script name tag
  for script in tests/support/make_media_files.sh tests/support/make_document_files.sh; do
    [ -f "$repo/$script" ] || continue
    local out
    out="$work/$(basename "$script" .sh)"
    if bash "$repo/$script" "$out" >/dev/null 2>&1 && [ -f "$out/manifest.tsv" ]; then
      while IFS=$'\t' read -r name tag; do
        [ -s "$out/$name" ] || continue
        cp "$out/$name" "$corpus/x-$name"
        add "x-$name" "$tag"
      done < "$out/manifest.tsv"
    else
      echo "note: $script failed; its files are left out" >&2
    fi
  done
  cd "$repo"
}

# --- The disks -------------------------------------------------------------------------------
make_fat_image() {  # the corpus written to a FAT32 file system, then deleted
  local bytes
  bytes=$(du -cb "$corpus" | tail -1 | cut -f1)
  local kib=$(((bytes * 5 / 4) / 1024 + 64 * 1024))
  mkfs.vfat -F 32 -C -n TRAWLEXB "$work/fat32.img" "$kib" >/dev/null
  MTOOLS_SKIP_CHECK=1 mmd -i "$work/fat32.img" ::/Files
  MTOOLS_SKIP_CHECK=1 mcopy -i "$work/fat32.img" "$corpus"/* ::/Files/
  MTOOLS_SKIP_CHECK=1 mdeltree -i "$work/fat32.img" ::/Files
}

make_planted_image() {  # the corpus at random sector-aligned places among random data
  "$python" - "$manifest" "$work/planted.img" "$plant_mib" <<'PY'
import os, random, sys
manifest, path, mib = sys.argv[1], sys.argv[2], int(sys.argv[3])
files = [open(line.split("\t")[0], "rb").read() for line in open(manifest)]
size = mib << 20
need = sum((len(d) + 511) // 512 * 512 for d in files)
if need > size // 2:
    sys.exit("the planted disk is too small for the corpus: use more than %d MiB" % (2 * need >> 20))
rng = random.Random(20261210)
rng.shuffle(files)
# Split the free space into random gaps, one before each file and one at the end.
free_sectors = (size - need) // 512
cuts = sorted(rng.randrange(free_sectors + 1) for _ in files)
gaps = [b - a for a, b in zip([0] + cuts, cuts + [free_sectors])]
noise = rng.randbytes(64 << 20)
with open(path, "wb") as f:
    def fill(n):
        while n > 0:
            part = min(n, len(noise))
            at = rng.randrange(len(noise) - part + 1)
            f.write(noise[at:at + part])
            n -= part
    for gap, data in zip(gaps, files):
        fill(gap * 512)
        f.write(data)
        f.write(rng.randbytes(-len(data) % 512))  # the rest of its last sector
    fill(gaps[-1] * 512)
    f.truncate(size)
PY
}

# --- Recovery and scoring --------------------------------------------------------------------
real_ends_refused=0
truncate -s 1M "$work/probe.img"
if ! "$trawlex" recover --real-ends "$work/probe.img" -o "$work/probe" --max-mb 1 >/dev/null 2>&1; then
  real_ends_refused=1
fi

recover_and_score() {  # IMAGE LABEL [FLAGS...]
  local image=$1 label=$2
  shift 2
  local out="$work/out"
  rm -rf "$out"
  local t0 t1
  t0=$(date +%s.%N)
  "$trawlex" recover "$image" -o "$out" --max-mb "$max_mb" "$@" > "$work/recover.log" 2>&1 || {
    echo "$label: trawlex recover failed:" >&2; tail -3 "$work/recover.log" >&2; return 0; }
  t1=$(date +%s.%N)
  if [ "$(find "$out" -type f | head -1)" = "" ] && grep -q '^saved 0 files' "$work/recover.log"; then
    echo "note: --max-mb $max_mb saved nothing with this trawlex; scoring --max-mb 4095 instead" >&2
    rm -rf "$out"
    t0=$(date +%s.%N)
    "$trawlex" recover "$image" -o "$out" --max-mb 4095 "$@" > "$work/recover.log" 2>&1
    t1=$(date +%s.%N)
  fi
  "$python" "$repo/bench/real_ends_score.py" "$manifest" "$out" "$label" "$(echo "$t1 - $t0" | bc -l)" --json "$work/${label//\//-}.json"
  rm -rf "$out"
}

start=$(date +%s)
make_corpus
make_fat_image
make_planted_image
count=$(wc -l < "$manifest")
kinds=$(cut -f2 "$manifest" | sort -u | wc -l)
printf 'corpus: %d files of %d kinds, %.1f MB; FAT32 image %d MiB, planted image %d MiB (made in %d s)\n\n' \
  "$count" "$kinds" "$(echo "$(du -cb "$corpus" | tail -1 | cut -f1) / 1000000" | bc -l)" \
  $(($(stat -c %s "$work/fat32.img") >> 20)) "$plant_mib" $(($(date +%s) - start))

printf '%-20s %5s %6s %6s %5s %6s %6s %9s %9s\n' "disk / mode" files whole exact cut missed junk "MB saved" "recover s"
for image in fat32 planted; do
  recover_and_score "$work/$image.img" "$image/next-start"
  if [ "$real_ends_refused" = 0 ]; then
    recover_and_score "$work/$image.img" "$image/real-ends" --real-ends
  else
    printf '%-20s (skipped: this trawlex refuses --real-ends)\n' "$image/real-ends"
  fi
done

# Per kind: whole/exact/cut/missed of each run.
"$python" - "$work" <<'PY'
import json, os, sys
work = sys.argv[1]
runs = [r for r in ("planted/next-start", "planted/real-ends", "fat32/next-start", "fat32/real-ends")
        if os.path.exists(os.path.join(work, r.replace("/", "-") + ".json"))]
if runs:
    data = {r: json.load(open(os.path.join(work, r.replace("/", "-") + ".json")))["by_kind"] for r in runs}
    print("\nper kind, whole/exact/cut/missed of the files of that kind:")
    print("%-8s" % "kind" + "".join("%22s" % r for r in runs))
    for kind in sorted(data[runs[0]]):
        cells = []
        for r in runs:
            k = data[r].get(kind, {"whole": 0, "exact": 0, "cut": 0, "missed": 0, "n": 0})
            cells.append("%22s" % ("%d/%d/%d/%d of %d" % (k["whole"], k["exact"], k["cut"], k["missed"], k["n"])))
        print("%-8s" % kind + "".join(cells))
PY

# --- Throughput on the planted disk, page-cached ------------------------------------------
best() {  # the best of five runs, in seconds
  local best=999 t0 t1 t
  for _ in 1 2 3 4 5; do
    t0=$(date +%s.%N)
    "$@" > /dev/null 2>&1
    t1=$(date +%s.%N)
    t=$(echo "$t1 - $t0" | bc -l)
    best=$(echo "if ($t < $best) $t else $best" | bc -l)
  done
  echo "$best"
}
image="$work/planted.img"
cat "$image" > /dev/null
cat_s=$(best cat "$image")
scan_s=$(best "$trawlex" scan "$image")
mb=$(echo "$plant_mib * 1.048576" | bc -l)
printf '\nthroughput on the planted image (%d MiB, page-cached):\n' "$plant_mib"
printf '  cat IMAGE > /dev/null:  %.3f s (%.0f MB/s)\n' "$cat_s" "$(echo "$mb / $cat_s" | bc -l)"
printf '  trawlex scan:           %.3f s (%.0f MB/s), ratio to cat %.2f\n' "$scan_s" \
  "$(echo "$mb / $scan_s" | bc -l)" "$(echo "$cat_s / $scan_s" | bc -l)"
if [ "$real_ends_refused" = 0 ]; then
  real_s=$(best "$trawlex" scan --real-ends "$image")
  printf '  trawlex scan --real-ends: %.3f s (%.0f MB/s), ratio to cat %.2f\n' "$real_s" \
    "$(echo "$mb / $real_s" | bc -l)" "$(echo "$cat_s / $real_s" | bc -l)"
else
  echo "  trawlex scan --real-ends: skipped (this trawlex refuses --real-ends)"
fi
printf '\ntotal time: %d s\n' $(($(date +%s) - start))
