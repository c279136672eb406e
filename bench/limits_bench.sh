#!/usr/bin/env bash
# Searches that must end early, each in a process of its own: a time limit on
# a file where every line matches (20 MB of "a" lines, 10,000,000 matches),
# alone and as two copies, on one thread and on four, for the document and
# the stream; the same limit with 10 lines of context, on that file and on 30
# lines of 1 MiB (each match carrying 21 MiB of context); a 3 s limit with 5
# lines of context on 200 MB of "a" lines; an output cap ("max_output_bytes")
# on the wide file without a time limit; a callback that stops at the first
# match of twenty dense files; a pattern too large to compile; and hostile
# patterns for the lazy DFA (one whose DFA explodes on long random lines, one
# that needs a state per byte, 10,000-atom patterns over long lines, a
# counted repetition before a required literal), on one thread and on four.
# For each: the median and the worst wall time of the call over REPEAT runs
# (default 5) and the worst peak memory of the process, with what the call
# said; with QG_BASELINE_BENCH (the limits_bench of an older build) the
# hostile cases are timed with it too. Writes bench/results/limits-DATE.md.
#
#   bench/limits_bench.sh [BUILD_DIR] [WORK_DIR]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build}
work=${2:-${TMPDIR:-/tmp}/quenmar-grep-limits-bench}
repeat=${REPEAT:-5}

if [ ! -f "$build/build.ninja" ]; then
  cmake -S "$root" -B "$build" -G Ninja -DQG_BUILD_ALL=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
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
  local title=$1 mode=$2 dir=$3 pattern=$4 options=$5 bench=${6:-$bench}
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

# Hostile patterns: 64 lines of 16 KiB of random a and b; 64 lines of 16 KiB
# of random printable bytes; one line of 100 KiB of word bytes and a "!";
# one line of 1 MiB of x; and 1 MiB and 2 MiB lines of "a".
mkdir -p "$work/ab" "$work/printable" "$work/words" "$work/xs" "$work/a1" "$work/a2"
python3 - "$work" <<'PY'
import os, random, sys
work = sys.argv[1]
rng = random.Random(28)
def write(path, text):
    if not os.path.exists(path):
        with open(path, "w") as f:
            f.write(text)
write(work + "/ab/ab.txt", "".join("".join(rng.choice("ab") for _ in range(16384)) + "\n" for _ in range(64)))
printable = [chr(c) for c in range(32, 127)]
write(work + "/printable/p.txt", "".join("".join(rng.choice(printable) for _ in range(16384)) + "\n" for _ in range(64)))
write(work + "/words/w.txt", "w" * 102400 + "!\n")
write(work + "/xs/x.txt", "x" * (1 << 20) + "\n")
write(work + "/a1/a.txt", "a" * (1 << 20) + "\n")
write(work + "/a2/a.txt", "a" * (2 << 20) + "\n")
PY
atoms="$work/atoms.txt"
python3 -c "import sys; open(sys.argv[1], 'w').write('\\\\w' * 10000 + '!')" "$atoms"
words="$work/alternation.txt"
python3 -c "import sys; open(sys.argv[1], 'w').write('|'.join('w%dq' % i for i in range(10000)))" "$words"
hostile() {
  local title=$1 dir=$2 pattern=$3 options=$4
  run_case "$title" doc "$dir" "$pattern" "$options"
  if [ -n "${QG_BASELINE_BENCH:-}" ]; then
    run_case "$title (before the DFA)" doc "$dir" "$pattern" "$options" "$QG_BASELINE_BENCH"
  fi
}
for threads in 1 4; do
  std="\"syntax\":\"standard\",\"threads\":$threads"
  hostile "(a|b)*a(a|b){20}, random a/b lines" "$work/ab" '(a|b)*a(a|b){20}' "{$std}"
  hostile "[ab]*a[ab]{20}\$, random a/b lines" "$work/ab" '[ab]*a[ab]{20}$' "{$std}"
  hostile "[\\s\\S]*x.{200}, random printable lines" "$work/printable" '[\s\S]*x.{200}' "{$std}"
  hostile "[\\s\\S]*x.{200}z, 1 MiB of x" "$work/xs" '[\s\S]*x.{200}z' "{$std}"
  hostile "10,000 \\w then !, 100 KiB line" "$work/words" "@$atoms" "{$std}"
  hostile "10,000 words, 1 MiB line" "$work/xs" "@$words" "{$std}"
  hostile "a{1,1000}z, 1 MiB of a" "$work/a1" 'a{1,1000}z' "{$std}"
  hostile "(?i)A{1,1000}z, 2 MiB of a" "$work/a2" '(?i)A{1,1000}z' "{$std}"
done
echo "results in $out"
