#!/usr/bin/env bash
# The whole test suite: installs what is missing, then builds and runs every
# test twice, once in a normal build and once under AddressSanitizer and
# UndefinedBehaviorSanitizer. Fails when either run finds anything.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/setup.sh"
jobs=$(nproc 2>/dev/null || echo 2)

run_suite() {
  local dir=$1
  shift
  echo "== build $dir"
  "$root/scripts/build.sh" "$dir" "$@"
  echo "== test $dir"
  ctest --test-dir "$dir" --output-on-failure --parallel "$jobs" --timeout 600
}

run_suite "$root/build" -DCMAKE_BUILD_TYPE=RelWithDebInfo
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  run_suite "$root/build-asan" -DCMAKE_BUILD_TYPE=Debug -DQG_SANITIZER=asan-ubsan -DQG_BUILD_BENCH=OFF
