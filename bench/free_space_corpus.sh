#!/usr/bin/env bash
# How whole deleted files come back when they were written into the holes between files still
# in use. A 320 MiB FAT32 image (4 KiB clusters) is filled with 64 KiB files, every other one
# deleted and the rest of the disk taken, so that 64 KiB holes alternate with files in use;
# the corpus files of 12 KiB and more (three clusters or more, so most land in several holes)
# are written into the holes with mtools and deleted. Each mode below recovers the image
# (--max-mb 0) and is scored: originals whole, byte-exact, cut and missed, saved files matching
# no original (junk), and of those the ones that start in clusters in use and the ones saved
# by a deleted name. The files in use each begin with one of the smaller corpus files, so a
# search that reads them finds real files there; the deleted fill files and the tail hold
# random bytes and zeros.
#   bench/free_space_corpus.sh [TRAWLEX]
# TRAWLEX defaults to build/release/bin/trawlex. NTFS=1 also scores an NTFS image of the same
# shape, written through ntfs-3g (root and /dev/fuse). KEEP=1 keeps the work folder.
set -euo pipefail
cd "$(dirname "$0")/.."
repo=$(pwd)
trawlex=$(realpath "${1:-build/release/bin/trawlex}")
python=/usr/bin/python3
[ -x "$trawlex" ] || { echo "no trawlex at $trawlex (build it: ninja -C build/release trawlex)" >&2; exit 2; }

# One mode a line: its label, then the options given to `trawlex recover`.
modes=(
  "whole disk|"
  "whole disk, real ends|--real-ends"
  "free space, real ends|--free-space --real-ends"
)

work=$(mktemp -d)
mounted=""
cleanup() {
  if [ -n "$mounted" ]; then umount "$work/mnt" 2>/dev/null || true; fi
  if [ "${KEEP:-0}" != 1 ]; then rm -rf "$work"; fi
}
trap cleanup EXIT
trap 'exit 1' INT TERM HUP PIPE  # a killed run unmounts too
[ "${KEEP:-0}" != 1 ] || echo "work folder: $work"
corpus="$work/corpus"
manifest="$work/manifest.tsv"
mkdir -p "$corpus"
: > "$manifest"
source "$repo/bench/corpus.sh"

image_mib=320
fill_files=2000  # 64 KiB each; every other one deleted leaves 62.5 MiB of holes

# --- The files: targets (deleted later) and the files in use ----------------------------------
# Splits the corpus: files of 12 KiB and more become the targets (targets.tsv, the scored
# manifest); the 64 KiB fill files are made in fill/, even ones (kept) beginning with one of the
# smaller corpus files, odd ones (deleted) random.
split_corpus() {
  "$python" - "$manifest" "$work" "$fill_files" <<'PY'
import os, random, sys
manifest, work, count = sys.argv[1], sys.argv[2], int(sys.argv[3])
rows = [line.rstrip("\n").split("\t") for line in open(manifest)]
small = [p for p, _ in rows if os.path.getsize(p) < 12288]
with open(os.path.join(work, "targets.tsv"), "w") as out:
    for p, kind in rows:
        if os.path.getsize(p) >= 12288:
            out.write("%s\t%s\n" % (p, kind))
os.makedirs(os.path.join(work, "fill"))
rng = random.Random(20261211)
for i in range(count):
    data = open(small[(i // 2) % len(small)], "rb").read() if i % 2 == 0 else b""
    data += rng.randbytes(65536 - len(data))
    open(os.path.join(work, "fill", "F%04d.BIN" % i), "wb").write(data)
PY
  mkdir -p "$work/targets" "$work/in-use"
  cut -f1 "$work/targets.tsv" | xargs -d '\n' cp -t "$work/targets"
  for ((i = 0; i < fill_files; i += 2)); do cp "$work/fill/F$(printf %04d "$i").BIN" "$work/in-use/"; done
}

# --- The disks ---------------------------------------------------------------------------------
make_fat_image() {
  local img="$work/fat32.img" free i
  export MTOOLS_SKIP_CHECK=1
  rm -f "$img"
  mkfs.vfat -F 32 -S 512 -s 8 -n HOLES -C "$img" $((image_mib * 1024)) >/dev/null
  # The targets' folder first, with an entry for each of them, so that it does not grow into a
  # hole when they are written.
  mmd -i "$img" ::/Files
  mkdir -p "$work/empty"
  for f in "$work"/targets/*; do : > "$work/empty/$(basename "$f")"; done
  mcopy -i "$img" "$work"/empty/* ::/Files/
  mdel -i "$img" "::/Files/*"
  mcopy -i "$img" "$work"/fill/* ::/
  free=$(mdir -i "$img" ::/ | awk '/bytes free/ { gsub(/ /, "", $0); sub(/bytesfree/, "", $0); print }')
  head -c "$free" /dev/zero > "$work/tail.bin"
  mcopy -i "$img" "$work/tail.bin" ::/
  rm "$work/tail.bin"
  for ((i = 1; i < fill_files; i += 2)); do echo "::/F$(printf %04d "$i").BIN"; done | xargs mdel -i "$img"
  mcopy -i "$img" "$work"/targets/* ::/Files/
  mdel -i "$img" "::/Files/*"
}

# The same shape on NTFS. ntfs-3g does not place files in name order, so the kept and deleted
# fill files are chosen by where they lie: every other one in disk order is deleted, and the
# kept ones then get their contents (written in place).
make_ntfs_image() {
  local img="$work/ntfs.img" name
  if [ "$(id -u)" -ne 0 ] || [ ! -c /dev/fuse ] || ! command -v ntfs-3g >/dev/null; then
    echo "NTFS: skipped (needs root, /dev/fuse and ntfs-3g)" >&2
    return 1
  fi
  rm -f "$img"
  truncate -s "${image_mib}M" "$img"
  mkntfs -q -F -f -c 4096 -s 512 -p 0 -H 0 -S 0 -L HOLES "$img" >/dev/null 2>&1
  mkdir -p "$work/mnt" "$work/ntfs-fill"
  ntfs-3g -o no_detach "$img" "$work/mnt" >/dev/null 2>&1 &
  local daemon=$!
  mounted=1
  for _ in $(seq 1 100); do mountpoint -q "$work/mnt" && break; sleep 0.1; done
  mountpoint -q "$work/mnt" || { echo "NTFS: ntfs-3g did not mount the image" >&2; return 1; }
  mkdir "$work/mnt/Files"
  "$python" - "$work/ntfs-fill" "$fill_files" <<'PY'
import os, random, sys
rng = random.Random(20261212)
for i in range(int(sys.argv[2])):
    open(os.path.join(sys.argv[1], "F%04d.BIN" % i), "wb").write(rng.randbytes(65536))
PY
  for f in "$work"/ntfs-fill/*; do cp "$f" "$work/mnt/"; done
  dd if=/dev/zero of="$work/mnt/tail.bin" bs=1M status=none 2>/dev/null || true
  dd if=/dev/zero of="$work/mnt/tail.bin" bs=4096 oflag=append conv=notrunc status=none 2>/dev/null || true
  # Names in disk order, found by their first 4 KiB in the image.
  "$python" - "$img" "$work/ntfs-fill" > "$work/ntfs-order" <<'PY'
import os, sys
first = {open(os.path.join(sys.argv[2], n), "rb").read(4096): n for n in os.listdir(sys.argv[2])}
with open(sys.argv[1], "rb") as disk:
    while len(block := disk.read(4096)) == 4096:
        if block in first:
            print(first.pop(block))
PY
  local i=0
  rm -rf "$work/ntfs-in-use"
  mkdir "$work/ntfs-in-use"
  while read -r name; do
    if ((i % 2)); then
      rm "$work/mnt/$name"
    else  # in place: the kept file's first bytes become the ones its FAT32 counterpart has
      dd if="$work/fill/F$(printf %04d "$i").BIN" of="$work/mnt/$name" bs=64k conv=notrunc status=none
      cp "$work/fill/F$(printf %04d "$i").BIN" "$work/ntfs-in-use/$name"
    fi
    i=$((i + 1))
  done < "$work/ntfs-order"
  for f in "$work"/targets/*; do cp "$f" "$work/mnt/Files/"; done
  rm "$work"/mnt/Files/*
  umount "$work/mnt"
  mounted=""
  wait "$daemon"
}

# Where the targets' pieces lie: found by their 4 KiB clusters in the image (clusters whose
# bytes occur more than once are left out).
describe_layout() {  # IMAGE NAME
  "$python" - "$1" "$2" "$work/targets" <<'PY'
import collections, os, statistics, sys
image, name, targets = sys.argv[1:4]
where = collections.defaultdict(list)
with open(image, "rb") as f:
    c = 0
    while len(block := f.read(4096)) == 4096:
        where[block].append(c)
        c += 1
several = backwards = 0
gaps = []
for n in os.listdir(targets):
    data = open(os.path.join(targets, n), "rb").read()
    found = [(i, where.get(data[i * 4096:(i + 1) * 4096], [])) for i in range(len(data) // 4096)]
    known = [(i, w[0]) for i, w in found if len(w) == 1]
    # Clusters between where the file's next known cluster lies and where it would lie if whole.
    steps = [(b - a) - (j - i) for (i, a), (j, b) in zip(known, known[1:]) if b - a != j - i]
    several += bool(steps)
    backwards += any(s < 0 for s in steps)
    gaps += steps
print("%s: %d of %d files in several pieces, %d with a piece placed before the one it "
      "follows; from one piece to the next, a median %d clusters skipped" % (
          name, several, len(os.listdir(targets)), backwards,
          statistics.median(map(abs, gaps)) if gaps else 0))
PY
}

# --- Recovery and scoring ----------------------------------------------------------------------
score_modes() {  # IMAGE NAME IN_USE_DIR: every mode on IMAGE, its JSON as NAME-<n>.json
  local image=$1 name=$2 in_use=$3 n=0 line label flags out
  for line in "${modes[@]}"; do
    label=${line%%|*}
    read -r -a flags <<< "${line#*|}"
    out="$work/out"
    rm -rf "$out"
    n=$((n + 1))
    if ! "$trawlex" recover "$image" -o "$out" --max-mb 0 "${flags[@]}" > "$work/recover.log" 2>&1; then
      echo "$name, $label: trawlex recover failed:" >&2
      tail -3 "$work/recover.log" >&2
      continue
    fi
    "$python" "$repo/bench/real_ends_score.py" "$work/targets.tsv" "$out" "$name, $label" \
      --in-use "$in_use" --json "$work/$name-$n.json" > /dev/null
  done
  rm -rf "$out"
}

make_corpus
split_corpus
make_fat_image
printf 'FAT32 image %d MiB, 4 KiB clusters: %d files in use and %d holes of 64 KiB; ' \
  "$image_mib" $((fill_files / 2)) $((fill_files / 2))
printf '%d files of %d kinds written into the holes and deleted (%.1f MB)\n' \
  "$(wc -l < "$work/targets.tsv")" \
  "$(cut -f2 "$work/targets.tsv" | sort -u | wc -l)" \
  "$(echo "$(du -cb "$work/targets" | tail -1 | cut -f1) / 1000000" | bc -l)"
describe_layout "$work/fat32.img" FAT32
score_modes "$work/fat32.img" FAT32 "$work/in-use"
runs=("$work"/FAT32-*.json)
if [ "${NTFS:-0}" = 1 ] && make_ntfs_image; then
  describe_layout "$work/ntfs.img" NTFS
  score_modes "$work/ntfs.img" NTFS "$work/ntfs-in-use"
  runs+=("$work"/NTFS-*.json)
fi
echo
"$python" "$repo/bench/real_ends_score.py" --table "${runs[@]}"
echo
"$python" "$repo/bench/real_ends_score.py" --by-kind "${runs[@]}"
# Which files each free-space run did not give back whole, and how.
"$python" - "${runs[@]}" <<'PY'
import json, sys
for path in sys.argv[1:]:
    run = json.load(open(path))
    if "free space" not in run["label"]:
        continue
    lost = sorted((v, n) for n, v in run["files"].items() if v not in ("exact", "whole"))
    print("\n%s: not whole: %s" % (run["label"], ", ".join("%s (%s)" % (n, v) for v, n in lost) or "none"))
PY
