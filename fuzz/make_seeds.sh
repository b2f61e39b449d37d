#!/usr/bin/env bash
# Builds the seed corpora of the fuzz targets into fuzz/corpus/<target>/ (not committed):
# a small document written by qpdf in every layout and encryption kind (user password
# "fuzz", the one the targets try), hand-made files of the shapes the reader must cope
# with (incremental update, cross-reference stream, junk before the header, damaged
# offsets, no cross-reference data), object texts for the parser and filter inputs.
# Needs qpdf and python3.
set -euo pipefail
cd "$(dirname "$0")"
out=corpus
rm -rf "$out"
mkdir -p "$out"/{parser,filters,xref,inspect,loadsave}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

python3 - "$work" <<'PY'
import sys, os, zlib, base64
work = sys.argv[1]

def build(objects, trailer_extra="", junk=b"", version=b"1.4", entry_end=b" \n"):
    out = bytearray(junk + b"%PDF-" + version + b"\n%\xe2\xe3\xcf\xd3\n")
    offsets = []
    for i, body in enumerate(objects, 1):
        offsets.append(len(out) - len(junk))
        out += b"%d 0 obj\n" % i + body + b"\nendobj\n"
    xref = len(out) - len(junk)
    out += b"xref\n0 %d\n0000000000 65535 f%s" % (len(objects) + 1, entry_end)
    for o in offsets:
        out += b"%010d 00000 n%s" % (o, entry_end)
    out += b"trailer\n<< /Size %d %s >>\nstartxref\n%d\n%%%%EOF\n" % (len(objects) + 1, trailer_extra, xref)
    return bytes(out)

info = (b"<< /Title (Seed Title) /Author <FEFF005A006F00EB> /Subject (Sub\\(ject\\) \\\\ back) "
        b"/Keywords (k1, k2) /Creator (Tool) /Producer (Lib) /CreationDate (D:20230115143000Z) "
        b"/ModDate (D:20240229235959+01'00') >>")
xmp = (b'<?xpacket begin="\xef\xbb\xbf" id="W5M0MpCehiHzreSzNTczkc9d"?><x:xmpmeta xmlns:x="adobe:ns:meta/">'
       b'<rdf:RDF xmlns:rdf="http://www.w3.org/1999/02/22-rdf-syntax-ns#"><rdf:Description rdf:about="" '
       b'xmlns:dc="http://purl.org/dc/elements/1.1/"><dc:title><rdf:Alt><rdf:li xml:lang="x-default">Seed'
       b'</rdf:li></rdf:Alt></dc:title></rdf:Description></rdf:RDF></x:xmpmeta><?xpacket end="w"?>')
page = b"<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Contents 6 0 R >>"
content = zlib.compress(b"BT /F1 12 Tf 72 712 Td (Hello) Tj ET")
base = [b"<< /Type /Catalog /Pages 2 0 R /Metadata 7 0 R /PageLayout /OneColumn "
        b"/ViewerPreferences << /HideToolbar true >> >>",
        b"<< /Type /Pages /Kids [3 0 R 4 0 R] /Count 2 >>", page, page, info,
        b"<< /Length %d /Filter /FlateDecode >>\nstream\n" % len(content) + content + b"\nendstream",
        b"<< /Type /Metadata /Subtype /XML /Length %d >>\nstream\n" % len(xmp) + xmp + b"\nendstream"]
ident = b"/Root 1 0 R /Info 5 0 R /ID [<0123456789ABCDEF0123456789ABCDEF> <0123456789ABCDEF0123456789ABCDEF>]"
files = {}
files["base"] = build(base, ident)
files["junk-header"] = build(base, ident, junk=b"garbage before the header\n")
files["crlf-entries"] = build(base, ident, entry_end=b"\r\n")
files["no-id"] = build(base, b"/Root 1 0 R /Info 5 0 R")
# Damaged: every offset wrong by a few bytes; no xref at all; no startxref.
d = bytearray(files["base"]); i = d.find(b"xref\n0 8\n") + 29; d[i:i+10] = b"0000000003"
files["bad-offset"] = bytes(d)
files["no-xref"] = files["base"][:files["base"].find(b"xref\n")] + b"trailer\n<< /Root 1 0 R >>\n%%EOF\n"
files["no-startxref"] = files["base"][:files["base"].rfind(b"startxref")]
# An incremental update that changes the title.
b = files["base"]; prev = int(b[b.rfind(b"startxref") + 10:].split()[0])
upd = bytearray(b); off = len(upd)
upd += b"5 0 obj\n<< /Title (Updated) >>\nendobj\n"
x = len(upd)
upd += b"xref\n0 1\n0000000000 65535 f \n5 1\n%010d 00000 n \n" % off
upd += b"trailer\n<< /Size 8 %s /Prev %d >>\nstartxref\n%d\n%%%%EOF\n" % (ident, prev, x)
files["incremental"] = bytes(upd)
for name, data in files.items():
    open(os.path.join(work, name + ".pdf"), "wb").write(data)

# Filter inputs: one header byte, six bytes per stage, then the data (see FuzzFilters).
def stage(name_index, params=False, predictor_index=0, colors=1, bits_index=0, columns=0):
    flags = (1 if params else 0) | (predictor_index << 1)
    return bytes([name_index, flags, colors - 1, bits_index, columns >> 8, columns & 255])
text = b"The quick brown fox jumps over the lazy dog. " * 20
rows = b"".join(b"\x02" + bytes((i * 7 + j) & 255 for j in range(12)) for i in range(16))
a85 = base64.a85encode(text) + b"~>"
rl = bytes([len(text[:100]) - 1]) + text[:100] + bytes([256 - 20, ord("x"), 128])
fil = {
    "flate": bytes([0]) + stage(0) + zlib.compress(text),
    "flate-png": bytes([0]) + stage(0, True, 3, 1, 0, 12) + zlib.compress(rows),
    "flate-tiff": bytes([0]) + stage(0, True, 1, 3, 0, 4) + zlib.compress(text),
    "hex-flate": bytes([1]) + stage(3) + stage(0) + zlib.compress(text).hex().encode() + b">",
    "a85": bytes([0]) + stage(2) + a85,
    "a85-flate": bytes([1]) + stage(2) + stage(0) + base64.a85encode(zlib.compress(text)) + b"~>",
    "runlength": bytes([0]) + stage(4) + rl,
    "lzw": bytes([0]) + stage(1) + bytes.fromhex("800B6050220C0C8501"),
    "unknown": bytes([0]) + stage(10) + text,
}
for name, data in fil.items():
    open(os.path.join(work, "filter-" + name), "wb").write(data)

objs = [b"<< /Type /Catalog /Pages 2 0 R /Names << /Dests 4 0 R >> >>",
        b"[1 2.5 -3 .5 +7 (str\\(ing\\)\\n\\101) <48656C6C6F> /Na#20me true false null 12 0 R]",
        b"<< /Length 5 /Filter [/FlateDecode /ASCIIHexDecode] /DecodeParms [null << /Predictor 12 >>] >>",
        b"(nested (paren) \\\\ and \\) escapes \\\r\n continued)", b"<FEFF00E9 20AC>", b"/A#42C",
        b"[[[[<< /K [<< >>] >>]]]]", b"<< /a 1 /a 2 /b [ ] /c << >> % comment\n /d 3 0 R >>",
        b"-0.00005 123456789012 1e5 --3", b"<< /Key (value) >> trailing 1 0 obj"]
for i, data in enumerate(objs):
    open(os.path.join(work, "object-%d" % i), "wb").write(data)
PY

cp "$work"/object-* "$out/parser/"
cp "$work"/filter-* "$out/filters/"
for f in "$work"/*.pdf; do cp "$f" "$out/xref/"; cp "$f" "$out/inspect/"; cp "$f" "$out/loadsave/"; done

variants=(
  "classic|--object-streams=disable"
  "objstm|--object-streams=generate"
  "linearized|--linearize"
  "qdf|--qdf"
  "rc4-40|--allow-weak-crypto --encrypt fuzz owner 40 --"
  "rc4-128|--allow-weak-crypto --encrypt fuzz owner 128 --use-aes=n --"
  "aes128|--encrypt fuzz owner 128 --use-aes=y --"
  "aes256-r5|--allow-weak-crypto --encrypt fuzz owner 256 --force-R5 --"
  "aes256|--encrypt fuzz owner 256 --"
  "aes256-objstm|--object-streams=generate --encrypt fuzz owner 256 --"
  "rc4-128-objstm|--allow-weak-crypto --object-streams=generate --encrypt fuzz owner 128 --use-aes=n --"
  "aes128-empty-user|--encrypt '' owner 128 --use-aes=y --"
)
for v in "${variants[@]}"; do
  name=${v%%|*}
  args=${v#*|}
  # qpdf exits with 3 for warnings; the file is written all the same.
  eval qpdf $args "$work/base.pdf" "$work/q-$name.pdf" || [ $? -eq 3 ]
  for t in xref inspect loadsave; do cp "$work/q-$name.pdf" "$out/$t/$name.pdf"; done
done
for t in parser filters xref inspect loadsave; do echo "$t: $(ls "$out/$t" | wc -l) seeds"; done
