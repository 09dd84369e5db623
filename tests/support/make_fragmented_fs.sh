#!/usr/bin/env bash
# Makes a file system image in which deleted files lie in pieces between files still in use:
# 64 KiB files are written, every other one is deleted, then the target files are written
# (so they fill the holes, several holes each) and deleted too.
#   make_fragmented_fs.sh fat32|ext4|ntfs IMAGE FILES_DIR [SOURCE_DIR]
# Leaves IMAGE and the deleted files' original bytes in FILES_DIR: seeded random t*.bin, or
# copies of the files in SOURCE_DIR when it is given.
# Exits 77, saying why on stderr, when this machine cannot make that kind (a tool missing; NTFS
# is written through ntfs-3g, which needs root and /dev/fuse).
set -euo pipefail
kind=${1:?kind}
image=${2:?image}
files=${3:?files dir}
source=${4:-}

cannot() { echo "make_fragmented_fs.sh: no $kind image can be made here: $*" >&2; exit 77; }
need() { for tool in "$@"; do command -v "$tool" >/dev/null || cannot "no $tool"; done; }
case "$kind" in
  fat32) need mkfs.vfat mcopy mdel mdir ;;
  ext4) need mke2fs debugfs ;;
  ntfs)
    need mkntfs ntfs-3g mountpoint
    [ "$(id -u)" -eq 0 ] || cannot "mounting through FUSE needs root"
    [ -c /dev/fuse ] || cannot "no /dev/fuse"
    ;;
  *) echo "unknown kind $kind" >&2; exit 2 ;;
esac
need python3 truncate

work=$(mktemp -d)
mounted=""
cleanup() {
  if [ -n "$mounted" ]; then umount "$work/mnt" 2>/dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 1' INT TERM HUP PIPE  # a killed run unmounts too
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

# Mounts $image on $work/mnt through ntfs-3g, in the foreground so that the volume is known to be
# written and closed once $daemon exits.
mount_ntfs() {
  ntfs-3g -o no_detach "$image" "$work/mnt" >/dev/null 2>&1 &
  daemon=$!
  mounted=1
  for _ in $(seq 1 100); do
    mountpoint -q "$work/mnt" && return 0
    kill -0 "$daemon" 2>/dev/null || cannot "ntfs-3g could not mount the image"
    sleep 0.1
  done
  cannot "ntfs-3g did not mount the image"
}

# The names of every other file of DIR in the order their bytes lie in IMAGE.
every_other_on_disk() {
  python3 - "$1" "$2" <<'PY'
import os, sys
disk = open(sys.argv[1], "rb").read()
names = sorted(os.listdir(sys.argv[2]))
at = {n: disk.find(open(os.path.join(sys.argv[2], n), "rb").read()) for n in names}
print(" ".join(sorted(names, key=at.get)[1::2]))
PY
}

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
  ntfs)
    # ntfs-3g searches its cluster bitmap in pieces of 4096 clusters and, where a file cannot go
    # on in place, goes on in the next piece: on a larger volume a file's parts would lie 16 MiB
    # apart and out of disk order. 16 MiB keeps the whole volume in one piece.
    rm -f "$image"
    truncate -s 16M "$image"
    mkntfs -q -F -f -c 4096 -s 512 -p 0 -H 0 -S 0 -L FRAGMENTS "$image" >/dev/null 2>&1
    mkdir "$work/mnt"
    mount_ntfs
    for f in "$work"/fill/f*.bin; do cp "$f" "$work/mnt/"; done
    # The rest of the disk taken, so that the holes are the only free space: large writes
    # until the disk is full, then single clusters for what is left.
    dd if=/dev/zero of="$work/mnt/tail.bin" bs=1M status=none 2>/dev/null || true
    dd if=/dev/zero of="$work/mnt/tail.bin" bs=4096 oflag=append conv=notrunc status=none \
      2>/dev/null || true
    # New files do not go in name order: every other one in disk order is deleted.
    for name in $(every_other_on_disk "$image" "$work/fill"); do rm "$work/mnt/$name"; done
    for f in "$files"/*; do cp "$f" "$work/mnt/"; done
    for f in "$files"/*; do rm "$work/mnt/$(basename "$f")"; done
    umount "$work/mnt"
    mounted=""
    wait "$daemon"
    ;;
esac
