#!/usr/bin/env bash
# Edits over many files: a rename across the Linux 6.1 source's fs/ tree by
# the library (one search, then one batch replacing the word in every file
# found) beside `grep -rlF WORD | xargs sed -i s/WORD/NEW/g` followed by
# `sync`, on fresh copies of the same tree; then one batch over 10,000 and
# over 100,000 distinct files (1,000 a folder), as a dry run (the library's
# own work: grouping, locking, reading, applying, diffing) and written,
# beside sed -i on the same files (how the file system itself scales).
#
#   bench/rename_bench.sh [BUILD_DIR]
#
# Then a rename of a whole word across the whole tree, for a word in about
# 500 files and one in about 3,500: the library's grep_replace_json, the
# same by hand (one search, then one batch of line edits), and `grep -rlw
# WORD | xargs sed -i 's/\bWORD\b/NEW/g'` followed by `sync`; each run
# starts from the same tree (the rename is undone, untimed, after each), and
# the three must leave the renamed files identical.
#
# BUILD_DIR defaults to ./build (rename_bench is built there). Environment:
# QG_BENCH_CACHE (where the kernel tree is unpacked once; default
# /var/cache/quenmar-grep-bench), WORK (default $TMPDIR/quenmar-grep-rename-bench),
# REPEAT (runs per case, default 5; each figure is the best and the median),
# WORDS (the words renamed across the tree, default "dma_map_single
# spin_lock_irqsave"), THREADS (the library's, default: every processor).
# Both tools must leave identical trees (diff -r), else the run fails.
# Installs linux-source-6.1 from Debian when missing.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build}
cache=${QG_BENCH_CACHE:-/var/cache/quenmar-grep-bench}
work=${WORK:-${TMPDIR:-/tmp}/quenmar-grep-rename-bench}
repeat=${REPEAT:-5}
word=spin_lock
export LC_ALL=C

if ! dpkg-query -W -f='${Status}' linux-source-6.1 2>/dev/null | grep -q 'install ok installed'; then
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo=sudo
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq linux-source-6.1 >/dev/null
fi
mkdir -p "$cache" "$work"
tree=$cache/linux-source-6.1
if [ ! -f "$tree/MAINTAINERS" ]; then
  echo "== unpacking the kernel source into $cache" >&2
  tar -xJf /usr/src/linux-source-6.1.tar.xz -C "$cache"
fi

if [ ! -f "$build/build.ninja" ]; then
  cmake -S "$root" -B "$build" -G Ninja -DQG_BUILD_ALL=ON -DCMAKE_BUILD_TYPE=Release >/dev/null
fi
ninja -C "$build" rename_bench >/dev/null
bench=$build/bench/rename_bench

# Fresh copies of fs/ for both tools, flushed so that no run pays for the
# copy's writes.
fresh_copies() {
  rm -rf "$work/lib" "$work/sed"
  cp -a "$tree/fs" "$work/lib"
  cp -a "$tree/fs" "$work/sed"
  sync
}

ms_since() { echo $((($(date +%s%N) - $1) / 1000000)); }

# min and median of the numbers on standard input.
summary() { sort -n | awk '{ v[NR] = $1 } END { printf "%d %d\n", v[1], v[int((NR + 1) / 2)] }'; }

lib_runs=() sed_runs=() files=""
for _ in $(seq "$repeat"); do
  fresh_copies
  t0=$(date +%s%N)
  out=$("$bench" rename "$work/lib" "$word" "${word}_x")
  lib_runs+=("$(ms_since "$t0")")
  files=$(awk '{ print $2 }' <<<"$out")
  t0=$(date +%s%N)
  (cd "$work/sed" && grep -rlF "$word" . | xargs sed -i "s/$word/${word}_x/g" && sync)
  sed_runs+=("$(ms_since "$t0")")
  if ! diff -r "$work/lib" "$work/sed" >/dev/null; then
    echo "the library and sed left different trees" >&2
    exit 1
  fi
done
read -r lib_min lib_med < <(printf '%s\n' "${lib_runs[@]}" | summary)
read -r sed_min sed_med < <(printf '%s\n' "${sed_runs[@]}" | summary)
rm -rf "$work/lib" "$work/sed"

echo "machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ *//')"
echo "kernel: $(uname -sr); $(sed --version | head -1); file system of $work: $(df -T "$work" | awk 'NR==2 {print $2}')"
echo "rename of '$word' in linux-6.1/fs ($files files), best and median of $repeat runs (ms):"
printf "  %-44s %6s %6s\n" "" best median
printf "  %-44s %6d %6d\n" "library: one search + one batch (process)" "$lib_min" "$lib_med"
printf "  %-44s %6d %6d\n" "grep -rlF | xargs sed -i && sync" "$sed_min" "$sed_med"
awk -v a="$lib_min" -v b="$sed_min" -v c="$lib_med" -v d="$sed_med" \
  'BEGIN { printf "  library / (sed + sync): %.2f best, %.2f median\n", a / b, c / d }'

echo "one batch over many distinct files, 1,000 a folder (ms; library: the call, best of $repeat;"
echo "sed: find | xargs sed -i && sync on the same files, one run, for the file system's own scaling):"
printf "  %7s %12s %12s %12s\n" files "library dry" "library" "sed -i+sync"
for n in 10000 100000; do
  dir=$work/group-$n
  rm -rf "$dir"
  mkdir -p "$dir"
  row=()
  for mode in dry write; do
    best=""
    for _ in $(seq "$repeat"); do
      ms=$("$bench" group "$dir" "$n" ${mode/write/})
      best=$(awk -v a="$ms" -v b="$best" 'BEGIN { print (b == "" || a < b) ? a : b }')
    done
    row+=("$best")
  done
  sync
  t0=$(date +%s%N)
  (cd "$dir" && find . -name '*.txt' -print0 | xargs -0 sed -i '1s/.*/sed/' && sync)
  row+=("$(ms_since "$t0")")
  printf "  %7d %12.1f %12.1f %12d\n" "$n" "${row[@]}"
  rm -rf "$dir"
done

# ---- A whole word renamed across the whole tree ----

words=${WORDS:-"dma_map_single spin_lock_irqsave"}
threads=${THREADS:-$(nproc)}
whole=$work/whole
rm -rf "$whole"
cp -a "$tree" "$whole"
sync

# The checksums of the files that hold `word`, as listed in $work/listed.
checksums() { (cd "$whole" && tr '\n' '\0' <"$work/listed" | xargs -0 sha256sum); }

# Undoes a rename of $1 to $2 (the new word occurs nowhere else), untimed.
undo() {
  "$bench" replace "$whole" "$2" "$1" "$threads" >/dev/null
  sync
}

echo "rename of a whole word across linux-6.1 (every file, hidden ones too; links left alone),"
echo "best and median of $repeat runs (ms); the library on $threads threads:"
printf "  %-22s %6s %-38s %6s %6s\n" word files way best median
for word in $words; do
  new=${word}_qgx
  (cd "$whole" && grep -rlw "$word" . | sort) >"$work/listed"
  count=$(wc -l <"$work/listed")
  declare -A runs=() sums=()
  for _ in $(seq "$repeat"); do
    for way in replace searchbatch sed; do
      t0=$(date +%s%N)
      if [ "$way" = sed ]; then
        (cd "$whole" && grep -rlw "$word" . | xargs sed -i "s/\\b$word\\b/$new/g" && sync)
      else
        "$bench" "$way" "$whole" "$word" "$new" "$threads" >/dev/null
        sync
      fi
      runs[$way]+="$(ms_since "$t0") "
      sums[$way]=$(checksums | sha256sum)
      undo "$word" "$new"
    done
    if [ "${sums[replace]}" != "${sums[sed]}" ] || [ "${sums[searchbatch]}" != "${sums[sed]}" ]; then
      echo "the three ways left different files for '$word'" >&2
      exit 1
    fi
  done
  for way in replace searchbatch sed; do
    read -r best median < <(tr ' ' '\n' <<<"${runs[$way]}" | grep . | summary)
    case $way in
      replace) label="library: grep_replace_json" ;;
      searchbatch) label="library: search + batch of line edits" ;;
      sed) label="grep -rlw | xargs sed -i && sync" ;;
    esac
    printf "  %-22s %6d %-38s %6d %6d\n" "$word" "$count" "$label" "$best" "$median"
  done
  unset runs sums
done
rm -rf "$whole"
