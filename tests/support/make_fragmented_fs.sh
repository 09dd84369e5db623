#!/usr/bin/env bash
# Makes a file system image in which deleted files lie in pieces between files still in use:
# 64 KiB files are written, every other one is deleted, then the target files are written
# (so they fill the holes, several holes each) and deleted too.
#   make_fragmented_fs.sh fat32|ext4 IMAGE FILES_DIR [SOURCE_DIR]
# Leaves IMAGE and the deleted files' original bytes in FILES_DIR: seeded random t*.bin, or
# copies of the files in SOURCE_DIR when it is given.
set -euo pipefail
kind=${1:?kind}
image=${2:?image}
files=${3:?files dir}
source=${4:-}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$files" "$work/fill"

# Seeded bytes, so every run makes the same image.
python3 - "$work/fill" "$files" <<'PY'
import random, sys
fill, files = sys.argv[1], sys.argv[2]
rng = random.Random(18)
for i in range(40):
    open(f"{fill}/f{i:02d}.bin", "wb").write(rng.randbytes(65536))
for i, size in enumerate([150000, 200000, 90000, 260000, 131072, 70000]):
    open(f"{files}/t{i}.bin", "wb").write(rng.randbytes(size))
PY
if [ -n "$source" ]; then
  rm -f "$files"/t*.bin
  cp "$source"/* "$files"/
fi

rm -f "$image"
truncate -s 48M "$image"
case "$kind" in
  fat32)
    mkfs.vfat -F 32 -S 512 -s 1 -n FRAGMENTS "$image" >/dev/null
    export MTOOLS_SKIP_CHECK=1
    mcopy -i "$image" "$work"/fill/f*.bin ::/
    # The rest of the disk taken by one file, so that the holes are the only free space.
    free=$(mdir -i "$image" ::/ | awk '/bytes free/ { gsub(/ /, "", $0); sub(/bytesfree/, "", $0); print }')
    head -c "$free" /dev/zero > "$work/tail.bin"
    mcopy -i "$image" "$work/tail.bin" ::/
    for i in $(seq 1 2 39); do mdel -i "$image" "::/f$(printf %02d "$i").bin"; done
    mcopy -i "$image" "$files"/* ::/
    for f in "$files"/*; do mdel -i "$image" "::/$(basename "$f")"; done
    ;;
  ext4)
    mke2fs -q -F -t ext4 -b 4096 -O ^has_journal -d "$work/fill" "$image" >/dev/null
    {
      for i in $(seq 1 2 39); do echo "rm /f$(printf %02d "$i").bin"; done
      for f in "$files"/*; do echo "write $f $(basename "$f")"; done
      for f in "$files"/*; do echo "rm /$(basename "$f")"; done
    } > "$work/commands"
    debugfs -w -f "$work/commands" "$image" >/dev/null 2>&1
    ;;
  *) echo "unknown kind $kind" >&2; exit 2 ;;
esac
