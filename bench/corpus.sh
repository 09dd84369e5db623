# shellcheck shell=bash disable=SC2154  # the variables are the sourcing script's
# Sourced by the benchmarks. make_corpus fills $corpus with real files made by real tools,
# several sizes of each kind, and lists them in $manifest, one "path<TAB>kind" a line.
# The sourcing script sets repo (the repository root), work (a scratch folder), corpus,
# manifest and python.

add() { printf '%s\t%s\n' "$corpus/$1" "$2" >> "$manifest"; }
text_lines() {  # N: N lines of varied text
  for i in $(seq 1 "$1"); do printf 'Line %d of the minutes: item %d was agreed, %d votes.\n' "$i" $((i * 7)) $((i % 13)); done
}
make_corpus() {
  local s i
  cd "$work" || return
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
  cd "$repo" || return
}
