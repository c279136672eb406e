#!/usr/bin/env bash
# The library's searches beside GNU grep and ripgrep, on the Linux 6.1 source
# tree and on a synthetic tree; run by hand, not by CI.
#
#   bench/compare.sh [kernel|synthetic|tool|all]      (default: all)
#
# `tool`: the command-line tool with its defaults against rg with its
# defaults, on the kernel tree (run_tool below).
#
# Environment: QG_BUILD_DIR (default build/), QG_BENCH_CACHE (where the trees
# live, outside the repository; default /var/cache/quenmar-grep-bench), RUNS
# (timed runs per case, default 5, after one warm-up run), QG_THREADS (when
# set, the library's cases also run with {"threads":N}), QG_RESULTS (default
# bench/results), QG_CASES (when set, only the cases whose label matches this
# extended regular expression).
#
# Installs what it needs from Debian when missing (ripgrep, hyperfine,
# gnuplot-nox, linux-source-6.1), unpacks the kernel tree once, makes the
# synthetic tree once. For every case it first checks that the library and
# grep report the same (file, line) pairs, then times: the library in process
# (bench/search_bench), grep -rnI, rg -j1 -n (and rg -j1 --json where the
# library must build a document of many matches), and the floor: reading
# every file the walk scans into one reused buffer (bench/read_floor). Each
# tool gets the same skip rules: no entry beginning with '.', none of the
# directories node_modules, bin, obj, target, dist, build, __pycache__.
# The library follows links and lists each directory once; grep -r and rg
# (without -L) do not follow links met in the tree, which in these trees (whose
# links point inside them) gives each tool the same files to read. Pairs are
# compared by real path. Results (min, median, max and the ratios) go to
# $QG_RESULTS/<tree>-<date>.md with the machine, the versions and the exact
# commands, and a plot of the ratios to docs/bench-<tree>.png.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${QG_BUILD_DIR:-$root/build}
cache=${QG_BENCH_CACHE:-/var/cache/quenmar-grep-bench}
runs=${RUNS:-5}
results=${QG_RESULTS:-$root/bench/results}
which_trees=${1:-all}
export LC_ALL=C

need() {
  local missing=()
  for pkg in "$@"; do
    dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed' ||
      missing+=("$pkg")
  done
  if [ "${#missing[@]}" -gt 0 ]; then
    echo "== installing ${missing[*]}"
    local sudo=""
    [ "$(id -u)" -eq 0 ] || sudo=sudo
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}" >/dev/null
  fi
}
need ripgrep hyperfine gnuplot-nox grep
mkdir -p "$cache" "$results" "$root/docs"

kernel_tree() {
  local tree=$cache/linux-source-6.1
  if [ ! -f "$tree/MAINTAINERS" ]; then
    need linux-source-6.1
    echo "== unpacking the kernel source into $cache" >&2
    tar -xJf /usr/src/linux-source-6.1.tar.xz -C "$cache"
  fi
  echo "$tree"
}

synthetic_tree() {
  local tree=$cache/synthetic
  if [ ! -f "$tree/.complete" ]; then
    echo "== making the synthetic tree in $tree" >&2
    python3 "$root/bench/make_tree.py" "$tree"
  fi
  echo "$tree"
}

cmake --build "$build" --target search_bench read_floor >/dev/null
bench=$build/bench/search_bench
floor=$build/bench/read_floor

skip_grep=(--exclude-dir=node_modules --exclude-dir=bin --exclude-dir=obj --exclude-dir=target
           --exclude-dir=dist --exclude-dir=build --exclude-dir=__pycache__ --exclude-dir='.*'
           --exclude='.*')
skip_rg=(--no-ignore -g '!{node_modules,bin,obj,target,dist,build,__pycache__}/')

# median and min/max of hyperfine's runs of one command, in ms: "MIN MEDIAN MAX".
time_command() {
  local json
  json=$(mktemp)
  hyperfine -N --warmup 1 --runs "$runs" --export-json "$json" --output=null -- "$1" >/dev/null 2>&1 ||
    hyperfine --warmup 1 --runs "$runs" --export-json "$json" --output=null -- "$1" >/dev/null
  python3 - "$json" <<'PY'
import json, sys
r = json.load(open(sys.argv[1]))["results"][0]
t = sorted(x * 1000 for x in r["times"])
print("%.1f %.1f %.1f" % (t[0], t[len(t) // 2], t[-1]))
PY
  rm -f "$json"
}

# "realpath:line" of every line grep reports as matching (grep -Z puts a NUL
# after the file name, so names with ':' or '-' cannot confuse the parse).
grep_pairs() {
  grep "$@" -Z 2>/dev/null | python3 -c '
import os, sys
for raw in sys.stdin.buffer:
    name, _, rest = raw.partition(b"\0")
    line = rest.split(b":", 1)[0]
    if line.isdigit():
        sys.stdout.buffer.write(os.path.realpath(name) + b":" + line + b"\n")
' | sort -u
}

# The same form for the library's "file:line" list in place.
real_pairs() {
  python3 -c '
import os, sys
for raw in open(sys.argv[1], "rb"):
    name, _, line = raw.rstrip(b"\n").rpartition(b":")
    sys.stdout.buffer.write(os.path.realpath(name) + b":" + line + b"\n")
' "$1" | sort -u -o "$1"
}

run_tree() {
  local name=$1 tree=$2
  local stamp out plotdata
  stamp=$(date +%Y-%m-%d)
  out=$results/$name-$stamp.md
  plotdata=$(mktemp)
  {
    echo "# Search benchmark: $name tree, $stamp"
    echo
    echo "- machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ *//'), $(free -g | awk '/Mem:/ {print $2}') GiB; kernel $(uname -r)"
    echo "- $(grep --version | head -1); $(rg --version | head -1); library $(git -C "$root" describe --always --dirty)"
    echo "- tree: $tree"
    echo "- $runs timed runs per case after one warm-up; times in ms (min / median / max); warm file cache"
    echo "- library: \`$bench --runs $runs ROOT PATTERN OPTIONS\` (in process, document search)"
    echo "- floor: \`$floor --runs $runs ROOT\` (every scanned file read once into one reused buffer)"
    echo
  } >"$out"
  local floor_out floor_t files commands threads_out
  floor_out=$("$floor" --runs "$runs" "$tree")
  floor_t=$(echo "$floor_out" | awk '/^summary/ {print $2, $3, $4}')
  files=$(echo "$floor_out" | awk '/^files/ {print $2 " files, " $4 " bytes"}')
  commands=$(mktemp)
  threads_out=$(mktemp)
  echo "- scanned: $files" >>"$out"
  echo >>"$out"
  {
    echo "| case | matches | library | grep | rg -j1 | rg -j1 --json | floor | lib/grep | lib/rg | lib/rg --json | lib/floor |"
    echo "|---|---|---|---|---|---|---|---|---|---|---|"
  } >>"$out"

  # label @ library pattern @ library options @ grep flags @ grep pattern @
  # rg flags @ rg pattern @ many matches (then rg --json is timed too)
  local cases=(
    "literal, few@PM_RESUME@{}@-F@PM_RESUME@-F@PM_RESUME@no"
    "literal, many@return@{}@-F@return@-F@return@yes"
    "ignore case@pm_resume@{\"ignore_case\":true}@-F -i@pm_resume@-F -i@pm_resume@no"
    "whole word@size@{\"whole_word\":true}@-F -w@size@-F -w@size@yes"
    "pattern@\\w+_SUSPEND@{\"regex\":true}@-E@\\w+_SUSPEND@@(?-u)\\w+_SUSPEND@no"
    "pattern, standard@\\w+_SUSPEND@{\"syntax\":\"standard\"}@-E@\\w+_SUSPEND@@(?-u)\\w+_SUSPEND@no"
    "alternation, dialect@obj|cmd_@{\"regex\":true}@-E@obj|cmd_@@obj|cmd_@yes"
    "alternation, standard@obj|cmd_@{\"syntax\":\"standard\"}@-E@obj|cmd_@@obj|cmd_@yes"
    "three names, dialect@PM_RESUME|PM_SUSPEND|PM_FREEZE@{\"regex\":true}@-E@PM_RESUME|PM_SUSPEND|PM_FREEZE@@PM_RESUME|PM_SUSPEND|PM_FREEZE@no"
    "three names, standard@PM_RESUME|PM_SUSPEND|PM_FREEZE@{\"syntax\":\"standard\"}@-E@PM_RESUME|PM_SUSPEND|PM_FREEZE@@PM_RESUME|PM_SUSPEND|PM_FREEZE@no"
    "group alternation@pthread_(mutex|cond)_lock@{\"syntax\":\"standard\"}@-E@pthread_(mutex|cond)_lock@@pthread_(mutex|cond)_lock@no"
    "globs *.c;*.h@PM_RESUME@{\"include_globs\":\"*.c;*.h\"}@--include=*.c --include=*.h -F@PM_RESUME@-g *.c -g *.h -F@PM_RESUME@no"
    "context 2@PM_RESUME@{\"context_lines\":2}@-F -C2@PM_RESUME@-F -C2@PM_RESUME@no"
    "camel words@[A-Z][a-z]+[A-Z][a-z]+[A-Z][a-z]+@{\"syntax\":\"standard\"}@-E@[A-Z][a-z]+[A-Z][a-z]+[A-Z][a-z]+@@[A-Z][a-z]+[A-Z][a-z]+[A-Z][a-z]+@no"
    "camel words, dialect@[A-Z][a-z]+[A-Z][a-z]+[A-Z][a-z]+@{\"regex\":true}@-E@[A-Z][a-z]+[A-Z][a-z]+[A-Z][a-z]+@@[A-Z][a-z]+[A-Z][a-z]+[A-Z][a-z]+@no"
    "long name, =@\\w{24,}\\s*=@{\"syntax\":\"standard\"}@-E@\\w{24,}\\s*=@@(?-u)\\w{24,}\\s*=@no"
    "capitals, digits@[A-Z]{4,}[0-9]+@{\"syntax\":\"standard\"}@-E@[A-Z]{4,}[0-9]+@@[A-Z]{4,}[0-9]+@yes"
    "letters, digits, -i@[a-z]{6}[0-9]{2}@{\"syntax\":\"standard\",\"ignore_case\":true}@-E -i@[a-z]{6}[0-9]{2}@-i@(?-u)[a-z]{6}[0-9]{2}@no"
    "word with 3 digits@\\b[a-z]+[0-9]{3}\\b@{\"syntax\":\"standard\"}@-E@\\b[a-z]+[0-9]{3}\\b@@(?-u)\\b[a-z]+[0-9]{3}\\b@no"
    "capitals, whole word@[A-Z]{3,}@{\"syntax\":\"standard\",\"whole_word\":true}@-E -w@[A-Z]{3,}@-w@(?-u)[A-Z]{3,}@yes"
    "dates@\\d{4}-\\d{2}-\\d{2}@{\"syntax\":\"standard\"}@-E@[0-9]{4}-[0-9]{2}-[0-9]{2}@@(?-u)\\d{4}-\\d{2}-\\d{2}@no"
    "snake call@[a-z]+_[a-z]+\\(@{\"syntax\":\"standard\"}@-E@[a-z]+_[a-z]+\\(@@[a-z]+_[a-z]+\\(@yes"
    # Unicode mode beside ripgrep's own (grep reads the C locale: ASCII).
    "ignore case, Unicode@pm_resume@{\"ignore_case\":true,\"unicode\":true}@-F -i@pm_resume@-F -i@pm_resume@no"
    "whole word, Unicode@return@{\"whole_word\":true,\"unicode\":true}@-F -w@return@-F -w@return@yes"
    "pattern, Unicode@\\w+_SUSPEND@{\"syntax\":\"standard\",\"unicode\":true}@-E@\\w+_SUSPEND@@\\w+_SUSPEND@no"
    "long name, =, Unicode@\\w{24,}\\s*=@{\"syntax\":\"standard\",\"unicode\":true}@-E@\\w{24,}\\s*=@@\\w{24,}\\s*=@no"
    "letters, digits, -i, Unicode@[a-z]{6}[0-9]{2}@{\"syntax\":\"standard\",\"ignore_case\":true,\"unicode\":true}@-E -i@[a-z]{6}[0-9]{2}@-i@[a-z]{6}[0-9]{2}@no"
  )
  if [ "$name" = synthetic ]; then
    cases=(
      "literal, few@quenmar_needle@{}@-F@quenmar_needle@-F@quenmar_needle@no"
      "literal, many@return@{}@-F@return@-F@return@yes"
      "ignore case@QUENMAR_NEEDLE@{\"ignore_case\":true}@-F -i@QUENMAR_NEEDLE@-F -i@QUENMAR_NEEDLE@no"
      "pattern@alloc_\\w+\\(\\d+@{\"regex\":true}@-E@alloc_\\w+\\([0-9]+@@(?-u)alloc_\\w+\\(\\d+@no"
    )
  fi
  local row
  for row in "${cases[@]}"; do
    local label pattern options gflags gpat rflags rpat many
    IFS='@' read -r label pattern options gflags gpat rflags rpat many <<<"$row"
    if [ -n "${QG_CASES:-}" ] && ! [[ $label =~ $QG_CASES ]]; then continue; fi
    # shellcheck disable=SC2206
    local gf=($gflags) rf=($rflags)
    # Globs come first: grep takes a file no glob matches unless the first
    # glob option is --include.
    local gcmd=(grep -rnI "${gf[@]}" "${skip_grep[@]}" "$gpat" "$tree")
    local rcmd=(rg -j1 -n "${skip_rg[@]}" "${rf[@]}" "$rpat" "$tree")
    local rjcmd=(rg -j1 --json "${skip_rg[@]}" "${rf[@]}" "$rpat" "$tree")

    # The (file, line) pairs agree with grep's before anything is timed
    # (context lines, which grep marks with '-', are left out of the parse).
    local lib_pairs grep_list
    lib_pairs=$(mktemp)
    grep_list=$(mktemp)
    "$bench" --warmup 0 --runs 1 --pairs "$lib_pairs" "$tree" "$pattern" "$options" >/dev/null
    real_pairs "$lib_pairs"
    grep_pairs "${gcmd[@]:1}" >"$grep_list" || true
    # grep reads a UTF-16 file as binary; the library decodes it. Pairs in
    # such files are the only difference allowed, and are counted.
    local disagree
    disagree=$(comm -3 "$lib_pairs" "$grep_list" | python3 -c '
import sys
utf16 = 0
for raw in sys.stdin.buffer:
    line = raw.strip()
    name = line.rpartition(b":")[0]
    try:
        with open(name, "rb") as f:
            mark = f.read(2)
    except OSError:
        mark = b""
    if raw[:1] != b"\t" and mark in (b"\xff\xfe", b"\xfe\xff"):
        utf16 += 1
    else:
        sys.stdout.buffer.write(line + b"\n")
sys.stderr.write("%d\n" % utf16)
' 2>"$grep_list.utf16")
    if [ -n "$disagree" ]; then
      echo "$label: the library and grep disagree on $(echo "$disagree" | wc -l) (file, line) pairs:" >&2
      echo "$disagree" | head -5 >&2
      exit 1
    fi
    local utf16_pairs
    utf16_pairs=$(cat "$grep_list.utf16")
    rm -f "$grep_list.utf16"
    [ "$utf16_pairs" = 0 ] || echo "    $label: $utf16_pairs matches in UTF-16 files, which grep reads as binary" >>"$commands"
    local matches
    matches=$(wc -l <"$lib_pairs")
    rm -f "$lib_pairs" "$grep_list"

    local lib_t grep_t rg_t rgj_t="- - -"
    lib_t=$("$bench" --runs "$runs" "$tree" "$pattern" "$options" | awk '/^summary/ {print $2, $3, $4}')
    grep_t=$(time_command "$(printf '%q ' "${gcmd[@]}")")
    rg_t=$(time_command "$(printf '%q ' "${rcmd[@]}")")
    if [ "$many" = yes ]; then rgj_t=$(time_command "$(printf '%q ' "${rjcmd[@]}")"); fi
    {
      echo "    library: $bench --runs $runs $tree $(printf '%q' "$pattern") '$options'"
      echo "    grep:    $(printf '%q ' "${gcmd[@]}")"
      echo "    rg:      $(printf '%q ' "${rcmd[@]}")"
    } >>"$commands"
    python3 - "$label" "$matches" "$lib_t" "$grep_t" "$rg_t" "$rgj_t" "$floor_t" >>"$out" 3>>"$plotdata" <<'PY'
import os, sys
label, matches = sys.argv[1], sys.argv[2]
def med(s):
    parts = s.split()
    return float(parts[1]) if parts[1] != "-" else None
def show(s):
    return "/".join(s.split()) if s.split()[0] != "-" else "-"
lib, grep, rg, rgj, floor = (med(s) for s in sys.argv[3:8])
def ratio(x):
    return "%.2f" % (lib / x) if x else "-"
print("| %s | %s | %s | %s | %s | %s | %s | %s | %s | %s | %s |" % (
    label, matches, show(sys.argv[3]), show(sys.argv[4]), show(sys.argv[5]), show(sys.argv[6]),
    show(sys.argv[7]), ratio(grep), ratio(rg), ratio(rgj), ratio(floor)))
with os.fdopen(3, "w") as plot:
    plot.write('"%s" %s %s %s %s\n' % (label, lib / grep, lib / rg,
                                      (lib / rgj) if rgj else "NaN", lib / floor))
PY
    if [ -n "${QG_THREADS:-}" ]; then
      local threaded lib_p
      if [ "$options" = "{}" ]; then
        threaded="{\"threads\":$QG_THREADS}"
      else
        threaded="${options%\}},\"threads\":$QG_THREADS}"
      fi
      lib_p=$("$bench" --runs "$runs" "$tree" "$pattern" "$threaded" | awk '/^summary/ {print $2, $3, $4}')
      python3 - "$label" "$QG_THREADS" "$lib_t" "$lib_p" >>"$threads_out" <<'PY'
import sys
label, n, one, many = sys.argv[1:5]
print("| %s | %s | %s | %.2f |" % (label, "/".join(one.split()), "/".join(many.split()),
                                  float(many.split()[1]) / float(one.split()[1])))
PY
    fi
    echo "$label done" >&2
  done
  if [ -n "${QG_THREADS:-}" ]; then
    {
      echo
      echo "With \"threads\": $QG_THREADS (library only, ms min/median/max):"
      echo
      echo "| case | 1 thread | $QG_THREADS threads | ratio |"
      echo "|---|---|---|---|"
      cat "$threads_out"
    } >>"$out"
  fi
  {
    echo
    echo "Commands, exactly:"
    echo
    cat "$commands"
  } >>"$out"
  rm -f "$commands" "$threads_out"
  gnuplot <<GP
set terminal pngcairo size 1000,520 noenhanced
set output "$root/docs/bench-$name.png"
set title "quenmar-grep / peer, median times, $name tree ($stamp); below 1 is faster"
set style data histograms
set style histogram clustered gap 1
set style fill solid 0.8 border -1
set yrange [0:*]
set ylabel "library time / peer time"
set xtics rotate by -20
set grid ytics
set key top left
plot "$plotdata" using 2:xtic(1) title "grep -rnI", '' using 3 title "rg -j1", \
     '' using 4 title "rg -j1 --json", '' using 5 title "read floor", 1 with lines lw 2 lc rgb "black" notitle
GP
  rm -f "$plotdata"
  cat "$out"
  echo "== written $out and docs/bench-$name.png"
}

# The tool as a ripgrep user runs it, beside rg: both from the tree's top
# with their own defaults (the tool's walk is ripgrep's, on every
# processor), output to /dev/null. Writes $QG_RESULTS/tool-<date>.md.
run_tool() {
  local tree=$1 tool=$build/tools/cli/quenmar-grep stamp out
  stamp=$(date +%Y-%m-%d)
  out=$results/tool-$stamp.md
  {
    echo "# The tool beside rg, each with its defaults: kernel tree, $stamp"
    echo
    echo "- machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ *//'); kernel $(uname -r)"
    echo "- $(rg --version | head -1); library $(git -C "$root" describe --always --dirty)"
    echo "- run from $tree; $runs timed runs after one warm-up; ms (min / median / max); warm file cache"
    echo
    echo "| command | lines | tool | rg | tool/rg |"
    echo "|---|---|---|---|---|"
  } >"$out"
  local args
  for args in "spin_lock_irqsave" "-w size_t" "-i pm_resume" "-l EXPORT_SYMBOL_GPL" "-c return" "--files"; do
    local lines t r
    lines=$(cd "$tree" && "$tool" $args | wc -l)
    t=$(cd "$tree" && time_command "$tool $args")
    r=$(cd "$tree" && time_command "rg $args")
    read -r _ tm _ <<<"$t"
    read -r _ rm _ <<<"$r"
    printf '| `%s` | %s | %s | %s | %s |\n' "$args" "$lines" "${t// / \/ }" "${r// / \/ }" \
      "$(awk -v a="$tm" -v b="$rm" 'BEGIN { printf "%.2f", a / b }')" >>"$out"
  done
  cat "$out"
  echo "== written $out"
}

case "$which_trees" in
  tool) run_tool "$(kernel_tree)" ;;
  kernel) run_tree kernel "$(kernel_tree)" ;;
  synthetic) run_tree synthetic "$(synthetic_tree)" ;;
  all)
    run_tree kernel "$(kernel_tree)"
    run_tree synthetic "$(synthetic_tree)"
    ;;
  *) echo "usage: $0 [kernel|synthetic|tool|all]" >&2; exit 2 ;;
esac
