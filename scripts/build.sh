#!/usr/bin/env bash
# Configures and builds one build folder: build.sh DIR [cmake options...]
# [-- target...]. Without targets, everything the configuration holds. The
# configure step is quick when nothing changed, so repeated runs are quick.
set -euo pipefail
dir=$1
shift
options=()
while [ "$#" -gt 0 ] && [ "$1" != "--" ]; do
  options+=("$1")
  shift
done
[ "$#" -gt 0 ] && shift
targets=()
for target in "$@"; do targets+=(--target "$target"); done
# Everything the clone holds (the tool, tests, benchmarks, addon) unless an
# option given says otherwise; a plain configure builds the library alone.
cmake -S "$(dirname "$0")/.." -B "$dir" -G Ninja -DQG_BUILD_ALL=ON "${options[@]}" >/dev/null
cmake --build "$dir" --parallel "${targets[@]}"
