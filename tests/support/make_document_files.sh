#!/bin/bash
# Makes small document, archive, program and text files in OUT_DIR and lists them in
# OUT_DIR/manifest.tsv as name<TAB>tag. Real tools where Debian has a writer; the rest
# (RAR, LZH, compound documents, PST, HLP, DBF, programs) are built byte by byte here.
set -euo pipefail
out=${1:?usage: make_document_files.sh OUT_DIR}
mkdir -p "$out"
cd "$out"
export SOURCE_DATE_EPOCH=1700000000 TZ=UTC LC_ALL=C
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
: > manifest.tsv
add() { printf '%s\t%s\n' "$1" "$2" >> manifest.tsv; }

# Members: some text and a JPEG picture.
for i in 1 2 3; do seq 1 $((i * 900)) > "$work/part$i.txt"; done
convert -size 96x64 gradient:red-blue -quality 80 "$work/photo.jpg"
touch -d @1700000000 "$work"/*

# PostScript, EPS and PDF from ghostscript; a PDF with an incremental update appended.
cat > "$work/page.ps" <<'PS'
%!PS
/Helvetica findfont 24 scalefont setfont
72 720 moveto (Trawlex test page) show
72 680 moveto (second line) show
showpage
PS
gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=pdfwrite -o page.pdf "$work/page.ps"
gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=ps2write -o page.ps "$work/page.ps"
gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=eps2write -o page.eps "$work/page.ps"
add page.pdf PDF
add page.ps EPSorPS
add page.eps EPSorPS
python3 - page.pdf updated.pdf <<'PY'
import re, sys
base = open(sys.argv[1], 'rb').read()
start = int(re.findall(rb'startxref\s+(\d+)', base)[-1])
size = int(re.findall(rb'/Size\s+(\d+)', base)[-1])
root = re.findall(rb'/Root\s+(\d+ \d+ R)', base)[-1]
obj = b'%d 0 obj\n<< /Title (updated) >>\nendobj\n' % size
at = len(base)
xref = b'xref\n%d 1\n%010d 00000 n \n' % (size, at)
trailer = b'trailer\n<< /Size %d /Root %s /Info %d 0 R /Prev %d >>\nstartxref\n%d\n%%%%EOF\n' % (
    size + 1, root, size, start, at + len(obj))
open(sys.argv[2], 'wb').write(base + obj + xref + trailer)
PY
add updated.pdf PDF

# ZIP: plain, commented, and streamed with data descriptors; ARJ; tar in ustar, pax and GNU forms.
(cd "$work" && zip -q -X "$out/plain.zip" part1.txt part2.txt photo.jpg)
(cd "$work" && zip -q -X -fd "$out/described.zip" part1.txt part3.txt)
(cd "$work" && cat part2.txt | zip -q -X - - > "$out/streamed.zip")
(cd "$work" && zip -q -X -z "$out/commented.zip" part1.txt <<< "an archive comment")
add plain.zip ZIP
add described.zip ZIP
add streamed.zip ZIP
add commented.zip ZIP
# ZIP64 entries from Python's zipfile: sizes in the extra field, and streamed to a pipe
# (64-bit data descriptors).
python3 - "$work/part2.txt" <<'PY'
import sys, zipfile
data = open(sys.argv[1], 'rb').read()
def write(target):
    with zipfile.ZipFile(target, 'w', zipfile.ZIP_DEFLATED) as z:
        info = zipfile.ZipInfo('part2.txt', (2023, 11, 14, 22, 13, 20))
        info.compress_type = zipfile.ZIP_DEFLATED
        with z.open(info, 'w', force_zip64=True) as member:
            member.write(data)
with open('zip64.zip', 'wb') as f:
    write(f)
class Pipe:
    def __init__(self, f): self.f = f
    def write(self, b): return self.f.write(b)
    def flush(self): self.f.flush()
    def tell(self): raise OSError('not seekable')
    def seekable(self): return False
with open('zip64s.zip', 'wb') as f:
    write(Pipe(f))
PY
add zip64.zip ZIP
add zip64s.zip ZIP
(cd "$work" && arj a -i -y "$out/files.arj" part1.txt part2.txt > /dev/null)
add files.arj ARJ
(cd "$work" && tar --format=ustar --owner=0 --group=0 --mtime=@1700000000 -cf "$out/photo.tar" photo.jpg part1.txt)
(cd "$work" && tar --format=pax --owner=0 --group=0 --mtime=@1700000000 -cf "$out/pax.tar" part3.txt)
add photo.tar TAR
add pax.tar TAR
# GNU tar's own format, what `tar -cf` writes by default.
(cd "$work" && tar --format=gnu --owner=0 --group=0 --mtime=@1700000000 -cf "$out/gnu.tar" part1.txt part3.txt)
add gnu.tar TAR

# No Debian package writes RAR or LZH, compound documents without an office suite,
# personal folders or help files: these are built here from their published layouts.
python3 - "$work/part1.txt" <<'PY'
import struct, sys, zlib
payload = open(sys.argv[1], 'rb').read()

def rar4_block(kind, flags, body=b'', data=b''):
    head = struct.pack('<BHH', kind, flags, 7 + len(body)) + body
    return struct.pack('<H', zlib.crc32(head) & 0xFFFF) + head + data

name = b'part1.txt'
file_body = struct.pack('<IIBIIBBHI', len(payload), len(payload), 0, zlib.crc32(payload),
                        0x57000000, 20, 0x30, len(name), 0x20) + name
rar4 = (b'Rar!\x1a\x07\x00' + rar4_block(0x73, 0, b'\0' * 6)
        + rar4_block(0x74, 0x8000, file_body, payload) + rar4_block(0x7B, 0x4000))
open('files.rar', 'wb').write(rar4)

def vint(n):
    out = b''
    while True:
        b = n & 0x7F
        n >>= 7
        out += bytes([b | (0x80 if n else 0)])
        if not n: return out

def rar5_block(fields, data=b''):
    head = vint(len(fields)) + fields
    return struct.pack('<I', zlib.crc32(head)) + head + data

main = rar5_block(vint(1) + vint(0) + vint(0))
entry = (vint(2) + vint(2) + vint(len(payload)) + vint(0) + vint(0) + vint(len(payload))
         + vint(0x20) + struct.pack('<I', zlib.crc32(payload)) + vint(0) + vint(0)
         + vint(len(name)) + name)
rar5 = b'Rar!\x1a\x07\x01\x00' + main + rar5_block(entry, payload) + rar5_block(vint(5) + vint(0) + vint(0))
open('files5.rar', 'wb').write(rar5)

# ZIP entries with data descriptors that lack their optional signature (older writers).
def unsigned_zip():
    out, central = b'', b''
    for i, data in enumerate((payload, payload[:777])):
        nm = b'part%d.txt' % i
        crc = zlib.crc32(data)
        local = struct.pack('<IHHHHHIIIHH', 0x04034B50, 10, 8, 0, 0, 0x21, 0, 0, 0, len(nm), 0) + nm
        central += struct.pack('<IHHHHHHIIIHHHHHII', 0x02014B50, 10, 10, 8, 0, 0, 0x21, crc, len(data),
                               len(data), len(nm), 0, 0, 0, 0, 0, len(out)) + nm
        out += local + data + struct.pack('<III', crc, len(data), len(data))
    end = struct.pack('<IHHHHIIH', 0x06054B50, 0, 0, 2, 2, len(central), len(out), 0)
    return out + central + end
open('unsigned.zip', 'wb').write(unsigned_zip())

def lzh(level):
    if level == 0:
        rest = b'-lh0-' + struct.pack('<IIIBB', len(payload), len(payload), 0x57000000, 0x20, 0)
        rest += bytes([len(name)]) + name + struct.pack('<H', zlib.crc32(payload) & 0xFFFF)
        return bytes([len(rest), sum(rest) & 0xFF]) + rest + payload + b'\0'
    ext = struct.pack('<HB', 3 + len(name), 1) + name + struct.pack('<H', 0)
    head = b'-lh0-' + struct.pack('<IIIBB', len(payload), len(payload), 1700000000, 0x20, 2)
    head += struct.pack('<HB', 0, ord('U'))
    whole = 2 + len(head) + len(ext)
    return struct.pack('<H', whole) + head + ext + payload + b'\0'
open('files.lzh', 'wb').write(lzh(0))
open('files2.lzh', 'wb').write(lzh(2))

def ole(streams, first_stream_sector=True):
    """A version-3 compound document: FAT at sector 0 (or after the streams), one
    directory sector, then each stream in whole 512-byte sectors."""
    sectors, chains = [], []
    for name, data in streams:
        n = (len(data) + 511) // 512
        chains.append((name, len(sectors), n, len(data)))
        sectors += [data[i * 512:(i + 1) * 512].ljust(512, b'\0') for i in range(n)]
    if first_stream_sector:
        # Streams first so that the first stream's bytes open the file's first sector.
        order = ['s%d' % i for i in range(len(sectors))] + ['dir', 'fat']
    else:
        order = ['fat', 'dir'] + ['s%d' % i for i in range(len(sectors))]
    where = {k: i for i, k in enumerate(order)}
    fat = [0xFFFFFFFF] * 128
    fat[where['fat']] = 0xFFFFFFFD
    fat[where['dir']] = 0xFFFFFFFE
    for name, first, n, size in chains:
        for k in range(n):
            fat[where['s%d' % (first + k)]] = where['s%d' % (first + k + 1)] if k + 1 < n else 0xFFFFFFFE
    def entry(name, kind, start, size, child=0xFFFFFFFF, right=0xFFFFFFFF):
        raw = (name + '\0').encode('utf-16-le')
        return (raw.ljust(64, b'\0') + struct.pack('<HBBIII', len(raw), kind, 1, 0xFFFFFFFF, right, child)
                + b'\0' * 36 + struct.pack('<III', start, size, 0))
    entries = [entry('Root Entry', 5, 0xFFFFFFFE, 0, child=1)]
    for i, (name, first, n, size) in enumerate(chains):
        entries.append(entry(name, 2, where['s%d' % first], size,
                             right=i + 2 if i + 1 < len(chains) else 0xFFFFFFFF))
    directory = b''.join(entries).ljust(512, b'\0')
    body = {'fat': struct.pack('<128I', *fat), 'dir': directory}
    body.update({'s%d' % i: s for i, s in enumerate(sectors)})
    header = (bytes.fromhex('D0CF11E0A1B11AE1') + b'\0' * 16 + struct.pack('<HHHHH', 0x3E, 3, 0xFFFE, 9, 6)
              + b'\0' * 6 + struct.pack('<IIIIIIIII', 0, 1, where['dir'], 0, 4096, 0xFFFFFFFE, 0, 0xFFFFFFFE, 0)
              + struct.pack('<I', where['fat']) + b'\xff' * 4 * 108)
    return header + b''.join(body[k] for k in order)

word = b'\xec\xa5\xc1\x00' + bytes(range(256)) * 20
book = b'\x09\x08\x10\x00' + bytes(range(256)) * 20
show = bytes(range(256)) * 20
open('letter.doc', 'wb').write(ole([('WordDocument', word), ('1Table', show)]))
open('sheet.xls', 'wb').write(ole([('Workbook', book)]))
open('slides.ppt', 'wb').write(ole([('Current User', show), ('PowerPoint Document', show)], False))
open('other.doc', 'wb').write(ole([('WordDocument', show)], False))
open('drawing.vsd', 'wb').write(ole([('VisioDocument', show)], False))

# Unicode personal folders: version 23, file size in 64 bits at 184.
pst = bytearray(8192)
pst[0:4] = b'!BDN'
pst[8:10] = b'SM'
struct.pack_into('<H', pst, 10, 23)
struct.pack_into('<Q', pst, 184, len(pst))
open('mail.pst', 'wb').write(bytes(pst))
# ANSI personal folders: version 14, file size in 32 bits at 168.
ansi = bytearray(6144)
ansi[0:4] = b'!BDN'
ansi[8:10] = b'SM'
struct.pack_into('<H', ansi, 10, 14)
struct.pack_into('<I', ansi, 168, len(ansi))
open('ansi.pst', 'wb').write(bytes(ansi))

# A help file: magic, directory start, first free block, file size.
hlp = bytearray(5000)
struct.pack_into('<IiiI', hlp, 0, 0x00035F3F, 1024, -1, len(hlp))
open('guide.hlp', 'wb').write(bytes(hlp))

# A dBASE III table with two fields and the end mark.
fields = [(b'NAME', b'C', 10), (b'QTY', b'N', 5)]
header = struct.pack('<BBBBIHH', 3, 124, 5, 17, 3, 32 + 32 * len(fields) + 1, 16) + b'\0' * 20
for fname, kind, size in fields:
    header += fname.ljust(11, b'\0') + kind + b'\0' * 4 + bytes([size, 0]) + b'\0' * 14
records = b''.join(b' ' + n.ljust(10) + q.rjust(5) for n, q in ((b'bolt', b'12'), (b'nut', b'7'), (b'gear', b'3')))
open('stock.dbf', 'wb').write(header + b'\r' + records + b'\x1a')

# A PE program with two sections and a certificate table after them; a DOS program.
def pe():
    b = bytearray(0x400 + 0x200 + 0x80)
    b[0:2] = b'MZ'
    struct.pack_into('<HH', b, 2, 0x90, 3)
    struct.pack_into('<H', b, 8, 4)
    struct.pack_into('<H', b, 0x18, 0x40)
    struct.pack_into('<I', b, 0x3C, 0x80)
    b[0x80:0x84] = b'PE\0\0'
    struct.pack_into('<HHIIIHH', b, 0x84, 0x14C, 2, 0, 0, 0, 224, 0x102)
    opt = 0x98
    struct.pack_into('<H', b, opt, 0x10B)
    struct.pack_into('<I', b, opt + 92, 16)
    struct.pack_into('<II', b, opt + 96 + 4 * 8, 0x600, 0x80)
    table = opt + 224
    for i, (nm, raw) in enumerate(((b'.text', 0x200), (b'.data', 0x400))):
        s = table + 40 * i
        b[s:s + 8] = nm.ljust(8, b'\0')
        struct.pack_into('<IIII', b, s + 8, 0x200, 0x1000 * (i + 1), 0x200, raw)
    b[0x200:0x202] = b'\xc3\x90'
    return bytes(b)
open('tool.exe', 'wb').write(pe())
dos = bytearray(1000)
dos[0:2] = b'MZ'
struct.pack_into('<HHHH', dos, 2, 1000 % 512, 2, 0, 2)
struct.pack_into('<H', dos, 0x18, 0x1C)
open('dos.exe', 'wb').write(bytes(dos))
PY
for f in unsigned.zip:ZIP files.rar:RAR files5.rar:RAR files.lzh:LZH files2.lzh:LZH letter.doc:DOC sheet.xls:XLS \
         slides.ppt:PPT other.doc:DOC drawing.vsd:VSD mail.pst:PST ansi.pst:PST guide.hlp:HLP stock.dbf:DBF \
         tool.exe:EXE dos.exe:EXE; do
  add "${f%%:*}" "${f##*:}"
done

# Compound documents from the office suite: their directories name them.
if command -v soffice > /dev/null; then
  printf 'A letter from the office suite\n%s\n' "$(seq -s ' ' 1 300)" > "$work/letter.txt"
  printf 'item,count\nbolt,12\nnut,7\ngear,3\n' > "$work/sheet.csv"
  cat > "$work/slides.fodp" <<'FODP'
<?xml version="1.0" encoding="UTF-8"?>
<office:document xmlns:office="urn:oasis:names:tc:opendocument:xmlns:office:1.0"
 xmlns:draw="urn:oasis:names:tc:opendocument:xmlns:drawing:1.0"
 xmlns:text="urn:oasis:names:tc:opendocument:xmlns:text:1.0"
 xmlns:svg="urn:oasis:names:tc:opendocument:xmlns:svg-compatible:1.0"
 office:version="1.2" office:mimetype="application/vnd.oasis.opendocument.presentation">
 <office:body><office:presentation><draw:page draw:name="one">
  <draw:frame svg:x="2cm" svg:y="2cm" svg:width="10cm" svg:height="3cm">
   <draw:text-box><text:p>Trawlex test slide</text:p></draw:text-box></draw:frame>
 </draw:page></office:presentation></office:body>
</office:document>
FODP
  for job in doc:letter.txt xls:sheet.csv ppt:slides.fodp; do
    HOME="$work" soffice --headless --convert-to "${job%%:*}" --outdir "$work/office" "$work/${job##*:}" > /dev/null 2>&1
  done
  cp "$work/office/letter.doc" office.doc
  cp "$work/office/sheet.xls" office.xls
  cp "$work/office/slides.ppt" office.ppt
  add office.doc DOC
  add office.xls XLS
  add office.ppt PPT
fi

# Text from the shell.
printf '<html>\n<head><title>Test</title></head>\n<body><p>%s</p></body>\n</html>\n' "$(seq -s ' ' 1 200)" > page.html
printf '<?xml version="1.0" encoding="UTF-8"?>\n<!-- a list -->\n<list>\n%s</list>\n' \
  "$(for i in $(seq 1 50); do printf '  <item n="%d">thing %d</item>\n' "$i" "$i"; done)" > list.xml
printf '{\\rtf1\\ansi{\\fonttbl{\\f0 Times;}}\\f0 Hello \\{braces\\} and \\\\ back {\\b bold}\\par\n}\r\n' > note.rtf
printf '.ray\nrtsp://example.com/one.rm\nrtsp://example.com/two.rm\n' > play.ram
add page.html HTML
add list.xml XML
add note.rtf RTF
add play.ram RAM
