#!/usr/bin/env bash
# Configures and builds one build folder: build.sh DIR [cmake options...].
# Reconfigures only when the folder is new, so repeated runs are quick.
set -euo pipefail
dir=$1
shift
if [ ! -f "$dir/build.ninja" ]; then
  cmake -S "$(dirname "$0")/.." -B "$dir" -G Ninja "$@" >/dev/null
fi
cmake --build "$dir" --parallel
