#!/usr/bin/env bash
# Patterns that make a backtracking matcher take exponential time, and
# patterns of 1,000 and 10,000 atoms over lines of 100 KiB and 1 MiB, timed
# in process (compile and one search each); the last column but one shows
# that the time per S * (n + 1) steps stays flat, the engine's bound.
#
#   bench/regex_bench.sh [BUILD_DIR]      (default: ./build)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build}
if [ ! -f "$build/build.ninja" ]; then
  cmake -S "$root" -B "$build" -G Ninja -DQG_BUILD_ALL=ON -DCMAKE_BUILD_TYPE=Release >/dev/null
fi
ninja -C "$build" regex_bench >/dev/null
echo "machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ *//')"
"$build/bench/regex_bench"
