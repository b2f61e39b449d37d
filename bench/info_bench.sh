#!/usr/bin/env bash
# Times `pagelume-cli info` against `pdfinfo` and `qpdf --show-npages` on the classic
# benchmark files of 100, 2,000 and 20,000 pages: the median wall time of RUNS runs of
# each tool per file, and the ratio of pagelume-cli to each peer.
#
#   bench/info_bench.sh [path/to/pagelume-cli]   (default: build-rel/pagelume-cli)
#   RUNS=7 by default.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
cli=${1:-$here/../build-rel/pagelume-cli}
runs=${RUNS:-7}
files=$here/out/files

if [[ ! -x $cli ]]; then
  echo "info_bench: no pagelume-cli at $cli; build it (cmake --build build-rel --target pagelume-cli) or pass its path" >&2
  exit 2
fi
for tool in pdfinfo qpdf; do
  command -v "$tool" > /dev/null || { echo "info_bench: $tool is not installed" >&2; exit 2; }
done
[[ -s $files/p20000-classic.pdf ]] || "$here/make_files.sh" "$files"

# Median of RUNS wall times of a command, in milliseconds with one decimal.
median_ms() {
  local times=() start end
  for ((i = 0; i < runs; ++i)); do
    start=$(date +%s%N)
    "$@" > /dev/null 2>&1
    end=$(date +%s%N)
    times+=($(( (end - start) / 1000 )))
  done
  printf '%s\n' "${times[@]}" | sort -n | awk -v n="$runs" '{a[NR]=$1} END {
    m = (n % 2) ? a[(n + 1) / 2] : (a[n / 2] + a[n / 2 + 1]) / 2; printf "%.1f", m / 1000 }'
}

printf '%-20s %10s %14s %12s %14s %14s %14s\n' file size pagelume-cli pdfinfo "qpdf npages" "vs pdfinfo" "vs qpdf"
for pages in 100 2000 20000; do
  f=$files/p$pages-classic.pdf
  ours=$(median_ms "$cli" info "$f")
  poppler=$(median_ms pdfinfo "$f")
  q=$(median_ms qpdf --show-npages "$f")
  size=$(du -h --apparent-size "$f" | cut -f1)
  awk -v f="p$pages-classic.pdf" -v s="$size" -v a="$ours" -v b="$poppler" -v c="$q" 'BEGIN {
    printf "%-20s %10s %11.1f ms %9.1f ms %11.1f ms %13.2fx %13.2fx\n", f, s, a, b, c, a / b, a / c }'
done
echo "median of $runs runs each; ratio = pagelume-cli time / peer time (below 1: faster)"
