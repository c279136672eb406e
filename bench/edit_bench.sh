#!/usr/bin/env bash
# Edits of a 1,000,000-line file by the library and by `sed -i`, side by side
# in the same run on copies of the same file: one single-line replacement, and
# a batch of 1,000 non-overlapping single-line replacements (lines 1000, 2000,
# ... 1000000). Each figure is the best wall time of REPEAT runs (default 3)
# of a whole process, each on a fresh copy; the two results are compared byte
# for byte so both tools are known to make the same change.
#
#   bench/edit_bench.sh [BUILD_DIR] [WORK_DIR]
#
# BUILD_DIR defaults to ./build (edit_bench is built there); WORK_DIR, where
# the 70 MB test file is made once and kept, to $TMPDIR/quenmar-grep-edit-bench.
# The library flushes every file to the disk (fsync) before renaming it into
# place; sed -i renames without flushing, so the comparison favours sed.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build}
work=${2:-${TMPDIR:-/tmp}/quenmar-grep-edit-bench}
repeat=${REPEAT:-3}
lines=1000000
step=1000

if [ ! -f "$build/build.ninja" ]; then
  cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
ninja -C "$build" edit_bench >/dev/null
bench="$build/bench/edit_bench"

mkdir -p "$work"
base="$work/base.txt"
if [ ! -f "$base" ] || [ "$(wc -l <"$base")" -ne "$lines" ]; then
  awk -v n="$lines" 'BEGIN { for (i = 1; i <= n; i++)
    printf "line %07d: the quick brown fox jumps over the lazy dog\n", i }' >"$base"
fi
sed_batch="$work/batch.sed"
awk -v n="$lines" -v s="$step" 'BEGIN { for (i = s; i <= n; i += s)
  printf "%ds/.*/edited %d/\n", i, i }' >"$sed_batch"

# Prints the best wall time in ms of REPEAT runs of "$@" with FILE replaced by
# a fresh copy of the base file at $2 (the copy is made outside the timing).
best_ms() {
  local copy=$1
  shift
  local best=""
  for _ in $(seq "$repeat"); do
    cp "$base" "$copy"
    local args=("${@//FILE/$copy}")
    local t0 t1
    t0=$(date +%s%N)
    "${args[@]}" >/dev/null
    t1=$(date +%s%N)
    local ms=$(((t1 - t0) / 1000000))
    if [ -z "$best" ] || [ "$ms" -lt "$best" ]; then best=$ms; fi
  done
  echo "$best"
}

compare() {
  local name=$1 lib=$2 sed_ms=$3
  if ! cmp -s "$work/lib.txt" "$work/sed.txt"; then
    echo "$name: the library and sed disagree on the result" >&2
    exit 1
  fi
  awk -v n="$name" -v l="$lib" -v s="$sed_ms" 'BEGIN {
    printf "%-34s %10d %10d %12.2f\n", n, l, s, (l > 0 ? s / l : 0) }'
}

echo "machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ *//')"
echo "kernel: $(uname -sr); $(sed --version | head -1); file system of $work: $(df -T "$work" | awk 'NR==2 {print $2}')"
echo "file: $lines lines, $(stat -c %s "$base") bytes; best of $repeat runs each"
printf "%-34s %10s %10s %12s\n" "case" "library ms" "sed ms" "sed/library"

mid=$((lines / 2))
lib=$(best_ms "$work/lib.txt" "$bench" one FILE "$mid" "edited $mid")
sed_ms=$(best_ms "$work/sed.txt" sed -i "${mid}s/.*/edited $mid/" FILE)
compare "one replacement (line $mid)" "$lib" "$sed_ms"

lib=$(best_ms "$work/lib.txt" "$bench" batch FILE "$step" $((lines / step)))
sed_ms=$(best_ms "$work/sed.txt" sed -i -f "$sed_batch" FILE)
compare "batch of $((lines / step)) single-line edits" "$lib" "$sed_ms"
