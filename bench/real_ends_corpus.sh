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
source "$repo/bench/corpus.sh"

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
echo
"$python" "$repo/bench/real_ends_score.py" --by-kind \
  "$work"/{planted-next-start,planted-real-ends,fat32-next-start,fat32-real-ends}.json

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
