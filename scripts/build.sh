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
cmake -S "$(dirname "$0")/.." -B "$dir" -G Ninja "${options[@]}" >/dev/null
cmake --build "$dir" --parallel "${targets[@]}"
