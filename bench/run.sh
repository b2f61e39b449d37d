#!/usr/bin/env bash
# The whole benchmark in one run: builds the benchmark files and, in Release, the bench
# programs and pagelume-cli, then prints side by side the median wall time and median
# peak resident size of Pagelume and its peers, with ratios, for
#   - inspection: pagelume-cli info vs pdfinfo, mutool show FILE trailer/Info, qpdf --show-npages
#   - full rewrite: pagelume-cli set --title X -o OUT vs mutool clean vs
#     qpdf --object-streams=disable --stream-data=preserve
#   - the window's open flow, in process (openflow_bench)
# on every file of the set. A peer that is not installed is reported and skipped.
#
#   bench/run.sh [BUILD_DIR]         (default build-bench; RUNS=5 by default)
#   FILES="p100-classic p20000-classic" bench/run.sh    a subset of the set
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/.." && pwd)
build=${1:-$root/build-bench}
runs=${RUNS:-5}
files_dir=$here/out/files
password=user  # the encrypted files' user password (make_files.sh)

"$here/make_files.sh" "$files_dir" > /dev/null
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DPAGELUME_BUILD_APP=OFF -DPAGELUME_BUILD_TESTS=OFF \
  > /dev/null
cmake --build "$build" -j"$(nproc 2> /dev/null || echo 2)" --target pagelume-cli openflow_bench > /dev/null
cli=$build/pagelume-cli

if [[ ! -x /usr/bin/time ]]; then
  echo "run.sh: GNU time (/usr/bin/time) is needed for the peak memory; install the 'time' package" >&2
  exit 2
fi
peers=()
for tool in pdfinfo mutool qpdf; do
  if command -v "$tool" > /dev/null 2>&1; then peers+=("$tool"); else echo "run.sh: $tool is not installed; its columns show '-'"; fi
done
have() { [[ " ${peers[*]} " == *" $1 "* ]]; }

if [[ -n ${FILES:-} ]]; then
  read -r -a names <<< "$FILES"
else
  names=()
  for pages in 100 2000 20000; do
    for variant in classic objstm linearized aes256 rc4-128; do names+=("p$pages-$variant"); done
  done
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# measure CMD...: "seconds KiB", the medians of $runs runs (wall time from bash's clock,
# which GNU time's 10 ms steps would blur, and peak resident size from GNU time), or
# "- -" when the command fails without writing its output.
measure() {
  local i start end
  : > "$work/times"
  for ((i = 0; i < runs; ++i)); do
    rm -f "$work/out.pdf"
    start=${EPOCHREALTIME/[.,]/}
    if ! /usr/bin/time -f "%M" -o "$work/one" "$@" > /dev/null 2> "$work/err"; then
      # qpdf exits with 3 after warnings; a rewrite counts when the file was written.
      if [[ ! -s $work/out.pdf ]]; then
        echo "run.sh: failed: $* ($(head -c 200 "$work/err"))" >&2
        echo "- -"
        return
      fi
    fi
    end=${EPOCHREALTIME/[.,]/}
    echo "$(awk -v u=$((end - start)) 'BEGIN { printf "%.3f", u / 1e6 }') $(tail -n 1 "$work/one")" >> "$work/times"
  done
  local t m
  t=$(cut -d' ' -f1 "$work/times" | sort -g | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}')
  m=$(cut -d' ' -f2 "$work/times" | sort -g | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}')
  echo "$t $m"
}

# GNU time's %e has 10 ms steps; inspection is timed with bash's own clock instead
# ($EPOCHREALTIME: no extra process is started around the one measured).
# median_ms CMD...: the median wall time in ms.
median_ms() {
  local i start end times=()
  for ((i = 0; i < runs; ++i)); do
    start=${EPOCHREALTIME/[.,]/}
    "$@" > /dev/null 2>&1 || true
    end=${EPOCHREALTIME/[.,]/}
    times+=($((end - start)))
  done
  printf '%s\n' "${times[@]}" | sort -n | awk '{a[NR]=$1} END {printf "%.1f", a[int((NR+1)/2)] / 1000}'
}

ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (a == "-" || b == "-" || b + 0 == 0) print "-"; else printf "%.2f", a / b }'; }
mib() { awk -v k="$1" 'BEGIN { if (k == "-") print "-"; else printf "%.1f", k / 1024 }'; }
pw_for() { [[ $1 == *aes256* || $1 == *rc4* ]] && echo "$password" || true; }

echo
echo "## Inspection (median of $runs runs, ms; process start included)"
echo
echo "| file | MiB | pagelume-cli info | pdfinfo | mutool show trailer/Info | qpdf --show-npages | x pdfinfo | x fastest peer |"
echo "|---|---:|---:|---:|---:|---:|---:|---:|"
for name in "${names[@]}"; do
  f=$files_dir/$name.pdf
  pw=$(pw_for "$name")
  ours=$(median_ms "$cli" info ${pw:+--password "$pw"} "$f")
  pi=- mu=- qp=-
  have pdfinfo && pi=$(median_ms pdfinfo ${pw:+-upw "$pw"} "$f")
  have mutool && mu=$(median_ms mutool show ${pw:+-p "$pw"} "$f" trailer/Info)
  have qpdf && qp=$(median_ms qpdf ${pw:+--password="$pw"} --show-npages "$f")
  fastest=$(printf '%s\n' "$pi" "$mu" "$qp" | grep -v '^-$' | sort -g | head -n 1 || true)
  printf '| %s | %s | %s | %s | %s | %s | %s | %s |\n' "$name" "$(mib $(($(stat -c %s "$f") / 1024)))" \
    "$ours" "$pi" "$mu" "$qp" "$(ratio "$ours" "$pi")" "$(ratio "$ours" "${fastest:--}")"
done

echo
echo "## Full rewrite (median of $runs runs: seconds, peak MiB)"
echo
echo "| file | MiB | ours s | ours MiB | mutool s | mutool MiB | qpdf s | qpdf MiB | t x mutool | t x qpdf | MiB/s | mem / (1.2 file + 32) |"
echo "|---|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|"
for name in "${names[@]}"; do
  f=$files_dir/$name.pdf
  pw=$(pw_for "$name")
  size=$(stat -c %s "$f")
  read -r ot om <<< "$(measure "$cli" set ${pw:+--password "$pw"} --title X -o "$work/out.pdf" "$f")"
  mt=- mm=- qt=- qm=-
  if have mutool; then read -r mt mm <<< "$(measure mutool clean ${pw:+-p "$pw"} "$f" "$work/out.pdf")"; fi
  if have qpdf; then
    read -r qt qm <<< "$(measure qpdf ${pw:+--password="$pw"} --object-streams=disable --stream-data=preserve \
      "$f" "$work/out.pdf")"
  fi
  rate=$(awk -v s="$size" -v t="$ot" 'BEGIN { if (t == "-" || t + 0 == 0) print "-"; else printf "%.0f", s / 1048576 / t }')
  budget=$(awk -v s="$size" -v m="$om" 'BEGIN { if (m == "-") print "-"; else printf "%.2f", m * 1024 / (1.2 * s + 33554432) }')
  printf '| %s | %s | %s | %s | %s | %s | %s | %s | %s | %s | %s | %s |\n' "$name" "$(mib $((size / 1024)))" \
    "$ot" "$(mib "$om")" "$mt" "$(mib "$mm")" "$qt" "$(mib "$qm")" "$(ratio "$ot" "$mt")" "$(ratio "$ot" "$qt")" \
    "$rate" "$budget"
done

echo
echo "## Open flow in process (openflow_bench, median of $runs runs)"
echo
plain=() crypt=()
for name in "${names[@]}"; do
  if [[ -n $(pw_for "$name") ]]; then crypt+=("$files_dir/$name.pdf"); else plain+=("$files_dir/$name.pdf"); fi
done
((${#plain[@]})) && "$build/openflow_bench" --runs "$runs" "${plain[@]}"
((${#crypt[@]})) && "$build/openflow_bench" --runs "$runs" --password "$password" "${crypt[@]}"
echo
echo "goals: info <= 0.5 x pdfinfo and <= fastest peer; info at 20,000 pages <= 1.5 x at 2,000;"
echo "rewrite <= 0.25 x mutool and <= 0.1 x qpdf (> 150 MiB/s), memory <= 1.2 x file + 32 MiB;"
echo "open flow of p20000-classic <= 200 ms"
