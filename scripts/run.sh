#!/usr/bin/env bash
# The main job: installs what is missing, builds the library and the
# command-line tool (nothing else: scripts/test.sh builds the rest), and runs
# the tool with the given arguments (by default, it prints the first lines of
# the README through the library).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/setup.sh"
# Quiet when the build succeeds; its whole output when it does not.
if ! log=$("$root/scripts/build.sh" "$root/build" -- quenmar-grep-cli 2>&1); then
  printf '%s\n' "$log" >&2
  exit 2
fi
if [ "$#" -eq 0 ]; then
  set -- read "$root/README.md" 1 12
fi
exec "$root/build/tools/cli/quenmar-grep" "$@"
