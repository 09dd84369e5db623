#!/usr/bin/env bash
# Builds the Debian package from a build folder, unpacks it into a scratch root and runs
# both programs from there: what an installed copy holds, and that it works.
#
# Usage: package_test.sh BUILD_FOLDER
set -euo pipefail
build=$(cd "$1" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "package test: $*" >&2; exit 1; }

(cd "$build" && cpack -G DEB -B "$work/pkg" >"$work/cpack.log" 2>&1) ||
  { cat "$work/cpack.log" >&2; fail "cpack failed"; }
deb=$(ls "$work"/pkg/trawlex_*_*.deb)
info=$(dpkg-deb --field "$deb" Package Depends)
# The dependencies come from the libraries the programs link.
for lib in libewf libqt6widgets6 libc6 libchm1; do
  grep -q "$lib" <<<"$info" || fail "Depends lacks $lib: $info"
done

root="$work/root"
dpkg -x "$deb" "$root"
usr="$root/usr"
for f in bin/trawlex bin/trawlex-finder \
  share/applications/io.github.ostrel.TrawlexFinder.desktop \
  share/metainfo/io.github.ostrel.TrawlexFinder.metainfo.xml \
  share/polkit-1/actions/io.github.ostrel.TrawlexFinder.policy \
  share/man/man1/trawlex.1.gz share/man/man1/trawlex-finder.1.gz \
  share/icons/hicolor/48x48/apps/trawlex-finder.png \
  share/icons/hicolor/256x256/apps/trawlex-finder.png; do
  [ -e "$usr/$f" ] || fail "the package lacks /usr/$f"
done
[ -f "$usr/share/trawlex/OstrelTrawlexFinder.chm" ] || fail "the package lacks the help file"
for size in 16 32 48 128 512; do
  got=$(identify -format '%wx%h' "$usr/share/icons/hicolor/${size}x${size}/apps/trawlex-finder.png")
  [ "$got" = "${size}x${size}" ] || fail "the ${size}px icon is $got"
done
desktop-file-validate "$usr/share/applications/io.github.ostrel.TrawlexFinder.desktop"
appstreamcli validate --no-net --pedantic "$usr/share/metainfo/io.github.ostrel.TrawlexFinder.metainfo.xml" >/dev/null ||
  fail "the metainfo does not validate"
xmllint --noout "$usr/share/polkit-1/actions/io.github.ostrel.TrawlexFinder.policy"
grep -q '>/usr/bin/trawlex-finder<' "$usr/share/polkit-1/actions/io.github.ostrel.TrawlexFinder.policy" ||
  fail "the polkit action does not name /usr/bin/trawlex-finder"
for page in trawlex trawlex-finder; do
  MANWIDTH=80 man -l "$usr/share/man/man1/$page.1.gz" 2>&1 | grep -q "^NAME" || fail "man -l $page shows no page"
done

# The command line from the scratch root: a planted JPEG in an image is found.
python3 - "$work/disk.img" <<'PY'
import sys
with open(sys.argv[1], "wb") as f:
    f.write(bytes(4096) + b"\xff\xd8\xff\xe0" + bytes(1 << 20))
PY
[ "$("$usr/bin/trawlex" types | sed '/^with --real-ends/q' | wc -l)" = 46 ] ||
  fail "trawlex types does not list the 45 types of every scan first"
out=$("$usr/bin/trawlex" scan "$work/disk.img" --format tsv)
grep -q $'^8\t' <<<"$out" || fail "trawlex scan found no JPEG at sector 8: $out"
"$usr/bin/trawlex" --help | grep -q "Usage" || fail "trawlex --help printed no usage"

# The window from the scratch root: it starts, shows itself and stays up until stopped.
status=0
QT_QPA_PLATFORM=offscreen timeout -s TERM 10 "$usr/bin/trawlex-finder" "$work/disk.img" \
  >"$work/finder.log" 2>&1 || status=$?
[ "$status" = 124 ] || { cat "$work/finder.log" >&2; fail "trawlex-finder ended with $status"; }
echo "package test: $(basename "$deb") installs and runs"
