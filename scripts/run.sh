#!/usr/bin/env bash
# The main job: installs what is missing, builds, and runs the command-line
# tool with the given arguments (by default, it prints the first lines of the
# README through the library).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/setup.sh"
"$root/scripts/build.sh" "$root/build" -DCMAKE_BUILD_TYPE=Release >/dev/null
if [ "$#" -eq 0 ]; then
  set -- read "$root/README.md" 1 12
fi
exec "$root/build/tools/cli/quenmar-grep" "$@"
