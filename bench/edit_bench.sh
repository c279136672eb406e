#!/usr/bin/env bash
# Edits of a 1,000,000-line file by the library and by `sed -i`, side by side
# in the same run on copies of the same file: one single-line replacement; a
# batch of 1,000 non-overlapping single-line replacements (lines 1000, 2000,
# ... 1000000); and batches of 100,000 insertions and of 100,000 replacements
# (every tenth line, sed's 10~10 address). Each figure is the best wall time
# of REPEAT runs (default 5) of a whole process, each on a fresh copy; the two
# results are compared byte for byte so both tools are known to make the same
# change.
#
#   bench/edit_bench.sh [BUILD_DIR] [WORK_DIR]
#
# BUILD_DIR defaults to ./build (edit_bench is built there); WORK_DIR, where
# the 70 MB test file is made once and kept, to $TMPDIR/quenmar-grep-edit-bench.
# The library flushes every file to the disk (fsync) before renaming it into
# place; sed -i renames without flushing, so each case is also timed as
# `sed -i ... && sync FILE`, which adds that flush.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build}
work=${2:-${TMPDIR:-/tmp}/quenmar-grep-edit-bench}
repeat=${REPEAT:-5}
lines=1000000
step=1000

if [ ! -f "$build/build.ninja" ]; then
  cmake -S "$root" -B "$build" -G Ninja -DQG_BUILD_ALL=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
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
# a fresh copy of the base file at $2. The copy is made, and flushed to the
# disk so that no run pays for another's writes, outside the timing. When the
# command prints a number (edit_bench prints the time of the library call
# alone), the best of those is printed after the wall time.
best_ms() {
  local copy=$1
  shift
  local best="" best_call=""
  for _ in $(seq "$repeat"); do
    cp "$base" "$copy"
    sync "$copy"
    local args=("${@//FILE/$copy}")
    local t0 t1 out
    t0=$(date +%s%N)
    out=$("${args[@]}")
    t1=$(date +%s%N)
    local ms=$(((t1 - t0) / 1000000))
    if [ -z "$best" ] || [ "$ms" -lt "$best" ]; then best=$ms; fi
    if [[ "$out" =~ ^[0-9.]+$ ]]; then
      best_call=$(awk -v a="$out" -v b="$best_call" 'BEGIN { print (b == "" || a < b) ? a : b }')
    fi
  done
  echo "$best $best_call"
}

# compare NAME LIB_MS SED_ARGS...: times sed alone and sed with the flush,
# checks that sed and the library made the same file, prints one row.
compare() {
  local name=$1 lib call
  read -r lib call <<<"$2"
  shift 2
  local sed_ms sync_ms
  sed_ms=$(best_ms "$work/sed.txt" sed -i "$@" FILE)
  if ! cmp -s "$work/lib.txt" "$work/sed.txt"; then
    echo "$name: the library and sed disagree on the result" >&2
    exit 1
  fi
  local quoted
  quoted=$(printf ' %q' "$@")
  sync_ms=$(best_ms "$work/sed.txt" sh -c "sed -i$quoted \"\$1\" && sync \"\$1\"" sh FILE)
  awk -v n="$name" -v l="$lib" -v c="$call" -v s="$sed_ms" -v y="$sync_ms" 'BEGIN {
    printf "%-36s %8d %8.0f %8d %12d %10.2f %10.2f\n", n, l, c, s, y, l / s, l / y }'
}

echo "machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ *//')"
echo "kernel: $(uname -sr); $(sed --version | head -1); file system of $work: $(df -T "$work" | awk 'NR==2 {print $2}')"
echo "file: $lines lines, $(stat -c %s "$base") bytes; best of $repeat runs each; library: whole process, call: the library call alone"
printf "%-36s %8s %8s %8s %12s %10s %10s\n" "case (ms)" "library" "call" "sed -i" \
  "sed -i+sync" "lib/sed" "lib/(sed+sync)"

mid=$((lines / 2))
lib=$(best_ms "$work/lib.txt" "$bench" one FILE "$mid" "edited $mid")
compare "one replacement (line $mid)" "$lib" "${mid}s/.*/edited $mid/"

lib=$(best_ms "$work/lib.txt" "$bench" batch FILE "$step" $((lines / step)))
compare "batch of $((lines / step)) single-line edits" "$lib" -f "$sed_batch"

lib=$(best_ms "$work/lib.txt" "$bench" every FILE 10 "$lines" insert inserted)
compare "batch of $((lines / 10)) insertions" "$lib" "10~10i inserted"

lib=$(best_ms "$work/lib.txt" "$bench" every FILE 10 "$lines" replace edited)
compare "batch of $((lines / 10)) replacements" "$lib" "10~10c edited"
