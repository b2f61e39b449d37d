#!/bin/sh
# Load and save: our whole-document save (save_bench: load, then SaveToFile) next to
# qpdf and mutool rewriting the same file, measured in the same run. Each command runs
# RUNS times under /usr/bin/time; the table shows the median wall time and the median
# peak resident size, and ours divided by each peer's.
#
#   bench/save_bench.sh [BUILD_DIR] [FILE...]
#   RUNS=5 bench/save_bench.sh build-rel bench/out/files/p2000-classic.pdf
set -eu

here=$(cd "$(dirname "$0")" && pwd)
build=${1:-"$here/../build-rel"}
[ $# -gt 0 ] && shift
if [ $# -eq 0 ]; then
  set -- "$here/out/files/p2000-classic.pdf" "$here/out/files/p20000-classic.pdf"
fi
runs=${RUNS:-3}
bench="$build/save_bench"
if [ ! -x "$bench" ]; then
  echo "build it first: cmake --build $build --target save_bench" >&2
  exit 2
fi
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT

# measure NAME CMD...: prints "seconds KiB", the medians of $runs runs.
measure() {
  name=$1
  shift
  : > "$out/$name.times"
  i=0
  while [ $i -lt "$runs" ]; do
    rm -f "$out/target.pdf"
    if ! /usr/bin/time -f "%e %M" -o "$out/one" "$@" > /dev/null 2> "$out/err"; then
      # qpdf exits with 3 after warnings; the file is written all the same.
      if [ ! -s "$out/target.pdf" ]; then
        echo "$name failed: $(cat "$out/err")" >&2
        echo "- -"
        return
      fi
    fi
    tail -n 1 "$out/one" >> "$out/$name.times"
    i=$((i + 1))
  done
  t=$(cut -d' ' -f1 "$out/$name.times" | sort -n | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}')
  m=$(cut -d' ' -f2 "$out/$name.times" | sort -n | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}')
  echo "$t $m"
}

ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (b == "-" || a == "-" || b + 0 == 0) print "-"; else printf "%.2f", a / b }'; }
mib() { awk -v k="$1" 'BEGIN { if (k == "-") print "-"; else printf "%.1f", k / 1024 }'; }

have_mutool=no
command -v mutool > /dev/null 2>&1 && have_mutool=yes

printf '| file | MiB | ours s | ours MiB | qpdf s | qpdf MiB | mutool s | mutool MiB | time x qpdf | mem x qpdf | time x mutool | mem x mutool |\n'
printf '|---|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|\n'
for f in "$@"; do
  size=$(stat -c %s "$f")
  set -- $(measure ours "$bench" "$f" "$out/target.pdf")
  ot=$1 om=$2
  set -- $(measure qpdf qpdf --object-streams=disable --stream-data=preserve "$f" "$out/target.pdf")
  qt=$1 qm=$2
  mt=- mm=-
  if [ $have_mutool = yes ]; then
    set -- $(measure mutool mutool clean "$f" "$out/target.pdf")
    mt=$1 mm=$2
  fi
  printf '| %s | %s | %s | %s | %s | %s | %s | %s | %s | %s | %s | %s |\n' "$(basename "$f")" \
    "$(awk -v s="$size" 'BEGIN { printf "%.1f", s / 1048576 }')" "$ot" "$(mib "$om")" "$qt" "$(mib "$qm")" \
    "$mt" "$(mib "$mm")" "$(ratio "$ot" "$qt")" "$(ratio "$om" "$qm")" "$(ratio "$ot" "$mt")" "$(ratio "$om" "$mm")"
done
