#!/usr/bin/env bash
# Searches that must end early, each in a process of its own: a time limit on
# a file where every line matches (20 MB of "a" lines, 10,000,000 matches),
# alone and as two copies, on one thread and on four, for the document and
# the stream; the same limit with 10 lines of context, on that file and on 30
# lines of 1 MiB (each match carrying 21 MiB of context); a 3 s limit with 5
# lines of context on 200 MB of "a" lines; an output cap ("max_output_bytes")
# on the wide file without a time limit; a callback that stops at the first
# match of twenty dense files; and a pattern too large to compile. For each: the median and the worst wall
# time of the call over REPEAT runs (default 5) and the worst peak memory of
# the process, with what the call said. Writes bench/results/limits-DATE.md.
#
#   bench/limits_bench.sh [BUILD_DIR] [WORK_DIR]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build}
work=${2:-${TMPDIR:-/tmp}/quenmar-grep-limits-bench}
repeat=${REPEAT:-5}

if [ ! -f "$build/build.ninja" ]; then
  cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
ninja -C "$build" limits_bench >/dev/null
bench="$build/bench/limits_bench"

mkdir -p "$work/one" "$work/two" "$work/twenty" "$work/wide" "$work/big"
dense="$work/one/d.txt"
if [ ! -f "$dense" ] || [ "$(stat -c %s "$dense")" -ne 20000000 ]; then
  python3 -c "import sys; open(sys.argv[1], 'w').write('a\n' * 10000000)" "$dense"
fi
cp -f "$dense" "$work/two/d1.txt"
cp -f "$dense" "$work/two/d2.txt"
for i in $(seq 1 20); do cp -f "$dense" "$work/twenty/f$i.txt"; done
printf 'x\n' >"$work/one/small.txt"
wide="$work/wide/w.txt"
if [ ! -f "$wide" ] || [ "$(stat -c %s "$wide")" -ne $((30 * 1048577)) ]; then
  python3 -c "import sys; open(sys.argv[1], 'w').write(('a' * 1048576 + '\n') * 30)" "$wide"
fi
big="$work/big/b.txt"
if [ ! -f "$big" ] || [ "$(stat -c %s "$big")" -ne 200000000 ]; then
  python3 -c "import sys; open(sys.argv[1], 'w').write('a\n' * 100000000)" "$big"
fi
pattern_file="$work/pattern.txt"
python3 -c "import sys; open(sys.argv[1], 'w').write('a' * 10000000)" "$pattern_file"

out="$root/bench/results/limits-$(date +%Y-%m-%d).md"
{
  echo "# Searches that must end early, $(date +%Y-%m-%d)"
  echo
  echo "- machine: $(nproc) cores, $(awk '/MemTotal/ {printf "%.0f GiB", $2 / 1048576}' /proc/meminfo); kernel $(uname -r)"
  echo "- library $(git -C "$root" describe --always --dirty 2>/dev/null || echo unknown)"
  echo "- each case: \`$bench MODE ROOT PATTERN OPTIONS\` in a fresh process, $repeat runs;"
  echo "  wall time of the call (median / worst) and the worst peak memory of the process"
  echo "- status: 0 ok, 1 stopped by the callback, 2 time limit, 3 output cap, -1 refused argument"
  echo
  echo "| case | options | ms (median / worst) | peak MB | status | matches (last run) |"
  echo "|---|---|---|---|---|---|"
} >"$out"

run_case() {
  local title=$1 mode=$2 dir=$3 pattern=$4 options=$5
  local times=() peak=0 line status matches
  for _ in $(seq "$repeat"); do
    line=$("$bench" "$mode" "$dir" "$pattern" "$options")
    times+=("$(awk '{print $2}' <<<"$line")")
    local kb
    kb=$(awk '{print $4}' <<<"$line")
    [ "$kb" -gt "$peak" ] && peak=$kb
    status=$(awk '{print $6}' <<<"$line")
    matches=$(awk '{print $8}' <<<"$line")
  done
  local sorted median worst
  sorted=$(printf '%s\n' "${times[@]}" | sort -g)
  median=$(sed -n "$(((repeat + 1) / 2))p" <<<"$sorted")
  worst=$(tail -n 1 <<<"$sorted")
  printf '| %s | `%s` | %s / %s | %.0f | %s | %s |\n' "$title" "$options" "$median" "$worst" \
    "$(echo "$peak / 1024" | bc -l)" "$status" "$matches" | tee -a "$out"
}

for threads in 1 4; do
  t="\"threads\":$threads"
  run_case "dense file, document, 50 ms" doc "$work/one" a "{\"timeout_ms\":50,$t}"
  run_case "dense file, stream, 50 ms" stream "$work/one" a "{\"timeout_ms\":50,$t}"
  run_case "two dense files, document, 100 ms" doc "$work/two" a "{\"timeout_ms\":100,$t}"
  run_case "twenty dense files, stop at the first match" stop "$work/twenty" a "{$t}"
  for mode in doc stream; do
    run_case "dense file, $mode, 50 ms, context 10" $mode "$work/one" a \
      "{\"timeout_ms\":50,\"context_lines\":10,$t}"
    run_case "30 lines of 1 MiB, $mode, 50 ms, context 10" $mode "$work/wide" a \
      "{\"timeout_ms\":50,\"context_lines\":10,$t}"
    run_case "30 lines of 1 MiB, $mode, 500 ms, context 10" $mode "$work/wide" a \
      "{\"timeout_ms\":500,\"context_lines\":10,$t}"
    run_case "30 lines of 1 MiB, $mode, cap 32 MiB, context 10" $mode "$work/wide" a \
      "{\"max_output_bytes\":33554432,\"context_lines\":10,$t}"
  done
  run_case "200 MB dense file, document, 3 s, context 5" doc "$work/big" a \
    "{\"timeout_ms\":3000,\"context_lines\":5,$t}"
done
run_case "10 MB pattern, refused" doc "$work/one" "@$pattern_file" '{"regex":true,"threads":8}'
echo "results in $out"
