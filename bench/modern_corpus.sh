#!/usr/bin/env bash
# How recovery with real ends gets today's kinds of files back: ISO media (MP4, MOV, M4A, 3GP,
# HEIC, AVIF...), Matroska and WebM, WebP, MP3, FLAC, Ogg, 7z, xz, gzip, bzip2, zstd, SQLite and
# its WAL, SVG, office documents, EPUB, JAR, APK and JPEG with Exif. The corpus comes from the
# tools that write these kinds: the small files of tests/support/make_modern_files.sh, and
# larger ones made here (a 720p H.264 video of about 25 MB in four containers, a large FLAC,
# zstd and SQLite files over 20 MB, and files of a few MB).
#
# Three disks are recovered with `trawlex recover IMAGE -o DIR --real-ends --max-mb 0`:
#   planted  the files at random sector-aligned places among random data, 0-2 MiB of random
#            bytes before each, then random data up to PLANT_MIB (1024 by default);
#   exfat    an exFAT image, the files written through exfat-fuse on a loop device, then
#            deleted;
#   quick    the same image quick-formatted again, so no file system names them any more.
# Each recovery is scored against the originals and printed as one Markdown table row:
#   whole       some saved file is the original, or begins with all of it
#   byte-exact  some saved file is the original
#   right tag   of the byte-exact ones, those saved under the original's tag (FILE_n.TAG)
#   cut         not whole, but a saved file of 4 KiB or more is a first part of it
#   missed      neither
#   junk        saved files that are no original, begin with none and are the first part of
#               none; of them, those starting at a sector inside an original are counted apart
# and MB written against MB planted. Then scan throughput with and without real ends on the
# planted disk, page-cached, as "real-ends / plain speed ratio", and the peak memory of both.
#
#   bench/modern_corpus.sh
# Environment: TRAWLEX (default build/release/bin/trawlex), WORK (work folder, default
# out/modern-corpus; the corpus is kept there and reused, REMAKE=1 makes it again), PLANT_MIB,
# KEEP=1 keeps the disk images and the saved files too.
# Needs root, a free loop device, /dev/fuse, mkfs.exfat (exfatprogs) and mount.exfat-fuse
# (exfat-fuse); without them it says what is missing and stops.
set -euo pipefail
cd "$(dirname "$0")/.."
repo=$(pwd)
trawlex=$(realpath -m "${TRAWLEX:-build/release/bin/trawlex}")
work=$(realpath -m "${WORK:-out/modern-corpus}")
plant_mib=${PLANT_MIB:-1024}
python=/usr/bin/python3
[ -x "$trawlex" ] || { echo "no trawlex at $trawlex (build it: ninja -C build/release trawlex)" >&2; exit 2; }

missing=()
[ "$(id -u)" -eq 0 ] || missing+=("root")
for tool in losetup mkfs.exfat mount.exfat-fuse; do command -v "$tool" > /dev/null || missing+=("$tool"); done
[ -c /dev/fuse ] || missing+=("/dev/fuse")
if [ "$(id -u)" -eq 0 ] && command -v losetup > /dev/null && ! losetup -f > /dev/null 2>&1; then
  missing+=("a free loop device")
fi
if ((${#missing[@]})); then
  echo "modern_corpus.sh: skipped: it needs ${missing[*]}" >&2
  exit 0
fi

corpus="$work/corpus"
manifest="$corpus/manifest.tsv"
images="$work/images"
mnt="$work/mnt"
loop=""
mounted=0
cleanup() {
  if [ "$mounted" = 1 ]; then umount "$mnt" 2> /dev/null || umount -l "$mnt" 2> /dev/null || true; fi
  if [ -n "$loop" ]; then losetup -d "$loop" 2> /dev/null || true; fi
  if [ "${KEEP:-0}" != 1 ]; then rm -rf "$images" "$work/saved"; fi
}
trap cleanup EXIT
trap 'exit 1' INT TERM HUP PIPE # a killed run unmounts and frees the loop device too
mkdir -p "$work" "$images"

# --- The corpus -------------------------------------------------------------------------------
ff() { ffmpeg -nostdin -v error -y "$@"; }

# Files of a few MB and over 20 MB, in $corpus/large, listed as "name<TAB>tag".
make_large() {
  local d="$corpus/large" t="$work/tmp"
  rm -rf "$d" "$t"
  mkdir -p "$d" "$t"
  : > "$d/manifest.tsv"
  add() {  # NAME TAG
    [ -s "$d/$1" ] || { echo "modern_corpus.sh: $1 was not made" >&2; exit 1; }
    printf '%s\t%s\n' "$1" "$2" >> "$d/manifest.tsv"
  }
  # A 720p H.264 video of about 25 MB, then the same streams in other containers.
  ff -f lavfi -i "testsrc2=size=1280x720:rate=25:duration=32,noise=alls=8:allf=t+u:all_seed=5" \
    -f lavfi -i "sine=frequency=330:sample_rate=48000:duration=32" -c:v libx264 -preset veryfast \
    -b:v 6M -maxrate 7M -bufsize 12M -pix_fmt yuv420p -c:a aac -b:a 128k "$d/trip.mp4"
  add trip.mp4 MP4
  ff -i "$d/trip.mp4" -c copy -f mov "$d/trip.mov"
  add trip.mov MOV
  ff -i "$d/trip.mp4" -c copy -movflags frag_keyframe+empty_moov+default_base_moof -f mp4 "$d/trip_fragments.mp4"
  add trip_fragments.mp4 MP4
  mkvmerge -q -o "$d/trip.mkv" "$d/trip.mp4"
  add trip.mkv MKV
  # Shorter ones, a few MB each.
  local v360="testsrc2=size=640x360:rate=25:duration=12,noise=alls=10:allf=t+u:all_seed=6"
  ff -f lavfi -i "$v360" -f lavfi -i "sine=frequency=500:sample_rate=48000:duration=12" -c:v libvpx-vp9 -b:v 1500k \
    -deadline realtime -cpu-used 8 -c:a libopus -b:a 64k -f webm "$d/talk.webm"
  add talk.webm WEBM
  ff -f lavfi -i "$v360" -f lavfi -i "sine=frequency=500:sample_rate=44100:duration=12" -c:v libvpx -b:v 1500k \
    -deadline realtime -cpu-used 8 -c:a libvorbis -f webm pipe:1 > "$d/stream.webm"
  add stream.webm WEBM
  ff -f lavfi -i "$v360" -f lavfi -i "sine=frequency=500:sample_rate=44100:duration=12" -c:v libx264 -preset veryfast \
    -b:v 1500k -c:a aac -f ipod "$d/episode.m4v"
  add episode.m4v M4V
  ff -f lavfi -i "$v360" -f lavfi -i "sine=frequency=500:sample_rate=16000:duration=12" -c:v libx264 -preset veryfast \
    -b:v 800k -c:a aac -ac 1 -b:a 32k -f 3gp "$d/phone_video.3gp"
  add phone_video.3gp 3GP
  ff -f lavfi -i "$v360" -c:v libx264 -preset veryfast -b:v 1000k -movflags +faststart -f mov "$d/screen.mov"
  add screen.mov MOV
  # Sound: a large FLAC (over 20 MB) and songs of a minute or more.
  local n="anoisesrc=color=pink:amplitude=0.25:sample_rate=44100"
  ff -f lavfi -i "$n:duration=170:seed=1[l];$n:duration=170:seed=2[r];[l][r]amerge[out0]" -c:a flac -sample_fmt s16 \
    "$d/concert.flac"
  add concert.flac FLAC
  local song=(-f lavfi -i "$n:duration=100:seed=3[l];$n:duration=100:seed=4[r];[l][r]amerge[out0]")
  ff "${song[@]}" -c:a libmp3lame -b:a 192k -write_id3v1 1 -metadata title="Song" "$d/song_cbr.mp3"
  add song_cbr.mp3 MP3
  ff "${song[@]}" -c:a libmp3lame -q:a 2 "$d/song_vbr.mp3"
  add song_vbr.mp3 MP3
  ff "${song[@]}" -c:a aac -b:a 160k -f ipod "$d/album.m4a"
  add album.m4a M4A
  ff "${song[@]}" -c:a libvorbis -q:a 5 -f ogg "$d/song.ogg"
  add song.ogg OGG
  ff "${song[@]}" -c:a libopus -b:a 96k -f ogg "$d/song.opus"
  add song.opus OPUS
  # Photos of 1920x1080.
  ff -f lavfi -i testsrc2=size=1920x1080 -vf noise=alls=20:allf=u:all_seed=8 -frames:v 1 "$t/photo.png"
  heif-enc -q 70 "$t/photo.png" -o "$d/photo.heic" > /dev/null
  add photo.heic HEIC
  avifenc -s 9 -j 2 "$t/photo.png" "$d/photo.avif" > /dev/null
  add photo.avif AVIF
  cwebp -quiet -q 80 "$t/photo.png" -o "$d/photo.webp"
  add photo.webp WEBP
  convert "$t/photo.png" -quality 92 "$d/photo_exif.jpg"
  exiftool -q -overwrite_original -Make=Trawlex -Model="Bench Two" -DateTimeOriginal="2024:05:01 10:00:00" "$d/photo_exif.jpg"
  add photo_exif.jpg JPG
  convert "$t/photo.png" -interlace JPEG -quality 90 "$d/photo_progressive.jpg"
  add photo_progressive.jpg JPG
  # Archives and compressed tars: text that compresses about 4:3 (base64 of random bytes), and
  # a few pictures.
  "$python" - "$t" <<'PY'
import base64, os, random, sys
rng = random.Random(20261212)
for name, mib in (("big", 28), ("medium", 9)):
    folder = os.path.join(sys.argv[1], name)
    os.makedirs(folder)
    with open(os.path.join(folder, "readings.txt"), "wb") as f:
        for _ in range(mib):
            f.write(base64.encodebytes(rng.randbytes(768 * 1024)))
PY
  cp "$d/photo.webp" "$d/photo_exif.jpg" "$t/big/"
  cp "$d/photo.heic" "$t/medium/"
  tar --format=pax --owner=0 --group=0 --mtime=@1700000000 -C "$t" -cf "$t/big.tar" big
  tar --format=pax --owner=0 --group=0 --mtime=@1700000000 -C "$t" -cf "$t/medium.tar" medium
  zstd -q -3 -T2 -c "$t/big.tar" > "$d/backup.tar.zst"
  add backup.tar.zst ZST
  xz -0 -T2 -c "$t/medium.tar" > "$d/backup.tar.xz"
  add backup.tar.xz XZ
  gzip -n -6 -c "$t/medium.tar" > "$d/backup.tar.gz"
  add backup.tar.gz GZ
  bzip2 -6 -c "$t/medium.tar" > "$d/backup.tar.bz2"
  add backup.tar.bz2 BZ2
  (cd "$t" && 7z a -bd -bso0 -mx=1 -mmt=2 "$d/backup.7z" medium > /dev/null)
  add backup.7z 7Z
  (cd "$t" && 7z a -bd -bso0 -mx=1 -mmt=2 -mhe=on -pSecret "$d/secret.7z" medium > /dev/null)
  add secret.7z 7Z
  # A database of about 30 MB, and the write-ahead log of another taken while it is open.
  "$python" - "$d" <<'PY'
import os, random, shutil, sqlite3, sys
d = sys.argv[1]
rng = random.Random(9)
con = sqlite3.connect(os.path.join(d, "sensors.sqlite"))
con.execute("CREATE TABLE reading (id INTEGER PRIMARY KEY, sensor INTEGER, at REAL, value REAL, raw BLOB)")
con.executemany("INSERT INTO reading VALUES (?, ?, ?, ?, ?)",
                ((i, rng.randrange(50), 1.7e9 + i * 0.5, rng.random(), rng.randbytes(rng.randrange(40, 200)))
                 for i in range(180000)))
con.execute("CREATE INDEX reading_sensor ON reading(sensor, at)")
con.commit()
con.close()
log = sqlite3.connect(os.path.join(d, "events.sqlite"), isolation_level=None)
log.execute("PRAGMA journal_mode=WAL")
log.execute("PRAGMA wal_autocheckpoint=0")
log.execute("CREATE TABLE event (id INTEGER PRIMARY KEY, kind TEXT, body BLOB)")
for batch in range(40):
    log.execute("BEGIN")
    for i in range(200):
        log.execute("INSERT INTO event (kind, body) VALUES (?, ?)", ("batch %d" % batch, rng.randbytes(200)))
    log.execute("COMMIT")
shutil.copyfile(os.path.join(d, "events.sqlite-wal"), os.path.join(d, "events.wal"))
log.close()
os.remove(os.path.join(d, "events.sqlite"))
PY
  add sensors.sqlite SQLITE
  add events.wal WAL
  rm -rf "$t"
}

make_corpus() {
  rm -rf "$corpus"
  mkdir -p "$corpus"
  bash "$repo/tests/support/make_modern_files.sh" "$corpus/small" > /dev/null
  make_large
  local part name tag
  : > "$manifest"
  for part in small large; do
    while IFS=$'\t' read -r name tag; do
      [ -s "$corpus/$part/$name" ] || { echo "modern_corpus.sh: $part/$name was not made" >&2; exit 1; }
      printf '%s\t%s\n' "$corpus/$part/$name" "$tag" >> "$manifest"
    done < "$corpus/$part/manifest.tsv"
  done
  # The exFAT disk holds them in one folder: names must not repeat.
  if [ "$(cut -f1 "$manifest" | xargs -n1 basename | sort | uniq -d | wc -l)" != 0 ]; then
    echo "modern_corpus.sh: two corpus files have the same name" >&2
    exit 1
  fi
  touch "$corpus/complete"
}

# --- The disks --------------------------------------------------------------------------------
make_planted() {  # IMAGE: the files among random data, 0-2 MiB of it before each
  "$python" - "$manifest" "$1" "$plant_mib" <<'PY'
import random, sys
manifest, path, mib = sys.argv[1], sys.argv[2], int(sys.argv[3])
paths = [line.split("\t")[0] for line in open(manifest)]
rng = random.Random(20261213)
rng.shuffle(paths)
noise = rng.randbytes(64 << 20)
size = mib << 20
with open(path, "wb") as f:
    def fill(n):
        while n > 0:
            part = min(n, len(noise))
            at = rng.randrange(len(noise) - part + 1)
            f.write(noise[at:at + part])
            n -= part
    for p in paths:
        fill(rng.randrange(4097) * 512)  # 0 to 2 MiB, in whole sectors
        data = open(p, "rb").read()
        f.write(data)
        f.write(rng.randbytes(-len(data) % 512))  # the rest of its last sector
    if f.tell() > size:
        sys.exit("the corpus and its gaps take %d MiB: set PLANT_MIB higher" % (f.tell() >> 20))
    fill(size - f.tell())
PY
}

make_exfat() {  # IMAGE: an exFAT disk whose files were written through exfat-fuse, then deleted
  local img=$1 bytes mib path
  bytes=$(cut -f1 "$manifest" | xargs -d '\n' du -cb | tail -1 | cut -f1)
  mib=$((bytes * 5 / 4 / 1048576 + 64))
  rm -f "$img"
  truncate -s "${mib}M" "$img"
  mkfs.exfat -L TRAWLEX "$img" > /dev/null
  loop=$(losetup -f --show "$img")
  mkdir -p "$mnt"
  mount.exfat-fuse "$loop" "$mnt" > /dev/null 2>&1
  mounted=1
  mkdir "$mnt/Files"
  # In a fixed random order, so that kinds mix on the disk.
  cut -f1 "$manifest" | shuf --random-source=<(yes) > "$work/exfat-order"
  while read -r path; do cp "$path" "$mnt/Files/"; done < "$work/exfat-order"
  sync
  rm -rf "$mnt/Files"
  umount "$mnt"
  mounted=0
  losetup -d "$loop"
  loop=""
}

# --- Recovery and scoring -----------------------------------------------------------------------
cat > "$work/score.py" <<'PY'
"""score.py MANIFEST SAVED_DIR LABEL SECONDS EXIT_CODE JSON: one Markdown row for a recovery.
score.py --by-kind JSON...: whole/exact/cut/missed per tag, and the tags byte-exact files got."""
import collections, hashlib, json, os, sys

KEY = 16        # bytes that file an original's start in the index
MIN_CUT = 4096  # a first part shorter than this does not count as a cut file
SECTOR = 512
RANK = {"exact": 4, "whole": 3, "cut": 2, "short": 1, None: 0}


def digest(b):
    return hashlib.blake2b(b, digest_size=16).digest()


def same_start(f, data, n):
    """Whether the first n bytes of open file f are data[:n]."""
    f.seek(0)
    view = memoryview(data)
    at = 0
    while at < n:
        part = f.read(min(1 << 20, n - at))
        if not part or part != view[at:at + len(part)]:
            return False
        at += len(part)
    return True


def score(manifest, saved_dir, label, seconds, code, out):
    originals, seen = [], set()
    for line in open(manifest):
        path, tag = line.rstrip("\n").split("\t")[:2]
        data = open(path, "rb").read()
        if not data or digest(data) in seen:
            continue
        seen.add(digest(data))
        originals.append((os.path.basename(path), tag, data))
    starts, inner = collections.defaultdict(list), set()
    for i, (_, _, data) in enumerate(originals):
        starts[data[:KEY]].append(i)
        for at in range(SECTOR, len(data) - SECTOR + 1, SECTOR):
            inner.add(digest(data[at:at + SECTOR]))
    best = [None] * len(originals)
    right_tag = [False] * len(originals)
    given = collections.Counter()  # (tag, saved tag) of byte-exact files
    junk = junk_inside = junk_start = short = 0
    written = 0
    saved = [os.path.join(d, n) for d, _, names in os.walk(saved_dir) for n in names] \
        if os.path.isdir(saved_dir) else []
    for path in saved:
        if os.path.relpath(path, saved_dir) == "report.xml" or not os.path.isfile(path):
            continue
        size = os.path.getsize(path)
        written += size
        ext = os.path.splitext(path)[1][1:].upper()
        matched = False
        with open(path, "rb") as f:
            head = f.read(SECTOR)
            for i in starts.get(head[:KEY], []) if len(head) >= KEY else []:
                data = originals[i][2]
                if not same_start(f, data, min(size, len(data))):
                    continue
                matched = True
                if size >= len(data):
                    verdict = "exact" if size == len(data) else "whole"
                else:
                    verdict = "cut" if size >= MIN_CUT else "short"
                if verdict == "exact":
                    given[(originals[i][1], ext)] += 1
                    right_tag[i] = right_tag[i] or ext == originals[i][1].upper()
                if RANK[verdict] > RANK[best[i]]:
                    best[i] = verdict
        if matched:
            continue
        junk += 1
        if len(head) == SECTOR and digest(head) in inner:
            junk_inside += 1
        elif head[:KEY] in starts:
            junk_start += 1
    totals = collections.Counter()
    by_kind = collections.defaultdict(collections.Counter)
    files = {}
    for (name, tag, _), verdict, tagged in zip(originals, best, right_tag):
        v = {"exact": "exact", "whole": "whole", "cut": "cut"}.get(verdict, "missed")
        files[name] = v
        for c in (totals, by_kind[tag]):
            c["n"] += 1
            c[v] += 1
            c["whole+exact"] += v in ("exact", "whole")
            c["right tag"] += v == "exact" and tagged
        short += verdict == "short"
    planted = sum(len(d) for _, _, d in originals)
    note = "" if code == "0" else " (recover exited %s)" % code
    print("| %s%s | %d | %d | %d | %d | %d | %d | %d | %d | %.1f | %.1f | %.1f |" % (
        label, note, len(originals), totals["whole+exact"], totals["exact"], totals["right tag"],
        totals["cut"], totals["missed"], junk, junk_inside, written / 1e6, planted / 1e6, float(seconds)))
    json.dump(dict(label=label, by_kind=by_kind, files=files, short=short, junk_start=junk_start,
                   given={"%s>%s" % k: n for k, n in given.items()}), open(out, "w"))


def by_kind(paths):
    runs = [json.load(open(p)) for p in paths if os.path.exists(p)]
    if not runs:
        return
    print("\nper tag, whole/byte-exact/right tag/cut/missed of its files:\n")
    print("| tag | files | " + " | ".join(r["label"] for r in runs) + " |")
    print("|---|---|" + "---|" * len(runs))
    for tag in sorted(runs[0]["by_kind"]):
        cells = []
        for r in runs:
            k = collections.Counter(r["by_kind"].get(tag, {}))
            cells.append("%d/%d/%d/%d/%d" % (k["whole+exact"], k["exact"], k["right tag"], k["cut"], k["missed"]))
        print("| %s | %d | %s |" % (tag, runs[0]["by_kind"][tag]["n"], " | ".join(cells)))
    for r in runs:
        wrong = sorted((n, k) for k, n in r["given"].items() if k.split(">")[0].upper() != k.split(">")[1])
        print("\n%s: byte-exact files saved under another tag: %s" % (
            r["label"], ", ".join("%s as %s x%d" % (*k.split(">"), n) for n, k in reversed(wrong)) or "none"))
        print("%s: first parts under 4 KiB only: %d; junk beginning like an original: %d" % (
            r["label"], r["short"], r["junk_start"]))


if __name__ == "__main__":
    if sys.argv[1] == "--by-kind":
        by_kind(sys.argv[2:])
    else:
        score(*sys.argv[1:7])
PY

recover_and_score() {  # IMAGE LABEL
  local image=$1 label=$2 out="$work/saved/$2" code=0 t0 t1
  rm -rf "$out"
  mkdir -p "$work/saved"
  t0=$(date +%s.%N)
  "$trawlex" recover "$image" -o "$out" --real-ends --max-mb 0 > "$work/recover-$label.log" 2>&1 || code=$?
  t1=$(date +%s.%N)
  if [ "$code" != 0 ]; then
    echo "$label: trawlex recover exited $code:" >&2
    tail -3 "$work/recover-$label.log" >&2
  fi
  "$python" "$work/score.py" "$manifest" "$out" "$label" "$(echo "$t1 - $t0" | bc -l)" "$code" "$work/$label.json"
  [ "${KEEP:-0}" = 1 ] || rm -rf "$out"
}

start=$(date +%s)
if [ "${REMAKE:-0}" = 1 ] || [ ! -f "$corpus/complete" ]; then
  make_corpus
  made="made in $(($(date +%s) - start)) s"
else
  made="reused from $corpus (REMAKE=1 makes it again)"
fi
t=$(date +%s)
make_planted "$images/planted.img"
make_exfat "$images/exfat.img"
cp --sparse=always "$images/exfat.img" "$images/quick.img"
mkfs.exfat -L TRAWLEX "$images/quick.img" > /dev/null  # a quick format: only the metadata is written
bytes=$(cut -f1 "$manifest" | xargs -d '\n' du -cb | tail -1 | cut -f1)
printf 'corpus: %d files of %d kinds, %.1f MB, %s; %d of them over 20 MB\n' "$(wc -l < "$manifest")" \
  "$(cut -f2 "$manifest" | sort -u | wc -l)" "$(echo "$bytes / 1000000" | bc -l)" "$made" \
  "$(cut -f1 "$manifest" | xargs -d '\n' stat -c %s | awk '$1 > 20000000' | wc -l)"
printf 'disks: planted %d MiB, exFAT %d MiB (%s clusters), made in %d s\n\n' "$plant_mib" \
  $(($(stat -c %s "$images/exfat.img") >> 20)) \
  "$("$python" -c 'import sys; b = open(sys.argv[1], "rb").read(512); print("%d KiB" % ((1 << (b[108] + b[109])) >> 10))' "$images/exfat.img")" \
  $(($(date +%s) - t))

echo "| disk | files | whole | byte-exact | right tag | cut | missed | junk | junk starting inside an original | MB written | MB planted | recover s |"
echo "|---|---|---|---|---|---|---|---|---|---|---|---|"
recover_and_score "$images/planted.img" planted
recover_and_score "$images/exfat.img" exfat
recover_and_score "$images/quick.img" quick
"$python" "$work/score.py" --by-kind "$work"/{planted,exfat,quick}.json

# --- Throughput on the planted disk, page-cached -----------------------------------------------
timed() {  # seconds one run of the command takes; empty if it fails
  local t0 t1
  t0=$(date +%s.%N)
  "$@" > /dev/null 2>&1 || return 0
  t1=$(date +%s.%N)
  echo "$t1 - $t0" | bc -l
}
faster() {  # the smaller of two times, an empty one meaning failed
  if [ -z "$1" ] || [ -z "$2" ]; then echo ""; elif [ "$(echo "$1 < $2" | bc -l)" = 1 ]; then echo "$1"; else echo "$2"; fi
}
image="$images/planted.img"
cat "$image" > /dev/null
mb=$(echo "$(stat -c %s "$image") / 1000000" | bc -l)
# Five runs of each, taken in turn so that other load on the machine hits both alike; the fastest counts.
plain_s=999 real_s=999
for _ in 1 2 3 4 5; do
  plain_s=$(faster "$plain_s" "$(timed "$trawlex" scan "$image" --format tsv)")
  real_s=$(faster "$real_s" "$(timed "$trawlex" scan "$image" --real-ends --format tsv)")
done
printf '\nscan of the planted disk (%.0f MB, page-cached, best of 5):\n' "$mb"
if [ -n "$plain_s" ] && [ -n "$real_s" ]; then
  printf '  plain:     %.3f s (%.0f MB/s)\n' "$plain_s" "$(echo "$mb / $plain_s" | bc -l)"
  printf '  real ends: %.3f s (%.0f MB/s)\n' "$real_s" "$(echo "$mb / $real_s" | bc -l)"
  printf 'real-ends / plain speed ratio: %.2f\n' "$(echo "$plain_s / $real_s" | bc -l)"
else
  echo "  trawlex scan failed (plain: ${plain_s:-failed}, real ends: ${real_s:-failed})"
fi
if [ -x /usr/bin/time ]; then
  for mode in plain real-ends; do
    flags=(--format tsv)
    [ "$mode" = plain ] || flags+=(--real-ends)
    /usr/bin/time -v -o "$work/time-$mode.txt" "$trawlex" scan "$image" "${flags[@]}" > /dev/null 2>&1 || true
    printf '  peak memory, %s: %s MB\n' "$mode" \
      "$(awk -F': ' '/Maximum resident/ { printf "%.1f", $2 / 1024 }' "$work/time-$mode.txt")"
  done
else
  echo "  peak memory: skipped (no /usr/bin/time)"
fi
printf '\ntotal time: %d s\n' $(($(date +%s) - start))
