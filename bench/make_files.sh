#!/usr/bin/env bash
# Builds the benchmark files into bench/out/files (or $1): a 100-page text document
# made by ghostscript, copied with qpdf to 100, 2,000 and 20,000 pages, each in the
# variants classic xref, object streams, AES-256, RC4-128 and linearized.
# Files that exist already are kept.
set -euo pipefail
out=${1:-$(dirname "$0")/out/files}
mkdir -p "$out"
cd "$out"

if [[ ! -s base100.pdf ]]; then
  {
    echo '%!PS'
    echo '/Times-Roman findfont 11 scalefont setfont'
    for page in $(seq 1 100); do
      y=760
      for line in $(seq 1 60); do
        printf '50 %d moveto (Page %d line %d: the quick brown fox jumps over the lazy dog, 0123456789.) show\n' \
          "$y" "$page" "$line"
        y=$((y - 12))
      done
      echo 'showpage'
    done
  } > base100.ps
  # Uncompressed page content puts the 20,000-page file near 100 MB, the size class
  # the goals were set for.
  gs -q -dBATCH -dNOPAUSE -dSAFER -sDEVICE=pdfwrite -dCompressPages=false -sOutputFile=base100.pdf base100.ps
  rm -f base100.ps
fi

make_pages() {  # pages -> p<pages>-classic.pdf
  local pages=$1 copies=$(( $1 / 100 ))
  local target="p${pages}-classic.pdf"
  [[ -s $target ]] && return
  local args=() i
  # Distinct file names make qpdf copy every page's objects instead of sharing them.
  mkdir -p copies
  for i in $(seq 1 "$copies"); do
    [[ -e copies/c$i.pdf ]] || ln base100.pdf "copies/c$i.pdf"
    args+=("copies/c$i.pdf")
  done
  qpdf --empty --object-streams=disable --compress-streams=n --pages "${args[@]}" -- "$target"
}

for pages in 100 2000 20000; do
  make_pages "$pages"
  src="p${pages}-classic.pdf"
  [[ -s p${pages}-objstm.pdf ]] || qpdf --compress-streams=n --object-streams=generate "$src" "p${pages}-objstm.pdf"
  [[ -s p${pages}-aes256.pdf ]] || qpdf --compress-streams=n --encrypt user owner 256 -- "$src" "p${pages}-aes256.pdf"
  [[ -s p${pages}-rc4-128.pdf ]] || qpdf --compress-streams=n --allow-weak-crypto --encrypt user owner 128 --use-aes=n -- "$src" "p${pages}-rc4-128.pdf"
  [[ -s p${pages}-linearized.pdf ]] || qpdf --compress-streams=n --linearize "$src" "p${pages}-linearized.pdf"
done
rm -rf copies
ls -l
