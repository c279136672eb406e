#!/usr/bin/env bash
# The whole test suite: installs what is missing, then builds and runs every
# test twice, once in a normal build and once under AddressSanitizer and
# UndefinedBehaviorSanitizer. Fails when either run finds anything.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/setup.sh"

# The tool server's npm packages, exactly as the lock file pins them; done
# again only when the lock file changes.
node_dir="$root/bindings/node"
lock_sum=$(sha256sum "$node_dir/package-lock.json" | cut -d' ' -f1)
if [ "$(cat "$node_dir/node_modules/.lock-sum" 2>/dev/null)" != "$lock_sum" ]; then
  (cd "$node_dir" && npm ci --ignore-scripts --no-audit --no-fund --loglevel=error >/dev/null)
  echo "$lock_sum" >"$node_dir/node_modules/.lock-sum"
fi
jobs=$(nproc 2>/dev/null || echo 2)

run_suite() {
  local dir=$1
  shift
  echo "== build $dir"
  "$root/scripts/build.sh" "$dir" "$@"
  echo "== test $dir"
  ctest --test-dir "$dir" --output-on-failure --parallel "$jobs" --timeout 600
}

run_suite "$root/build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQG_WARNINGS_AS_ERRORS=ON
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  run_suite "$root/build-asan" -DCMAKE_BUILD_TYPE=Debug -DQG_SANITIZER=asan-ubsan -DQG_BUILD_BENCH=OFF \
  -DQG_WARNINGS_AS_ERRORS=ON

# ThreadSanitizer over the test programs that run the library on several
# threads: parallel searches, and edits of one file from several threads (the
# rest of the suite runs on one).
echo "== build $root/build-tsan (tests on several threads)"
"$root/scripts/build.sh" "$root/build-tsan" -DCMAKE_BUILD_TYPE=Debug -DQG_SANITIZER=tsan \
  -DQG_BUILD_BENCH=OFF -DQG_WARNINGS_AS_ERRORS=ON -- scan_test report_test report_lines_test status_test \
  text_edit_test
echo "== test $root/build-tsan"
for t in scan_test report_test report_lines_test status_test text_edit_test; do
  TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 "$root/build-tsan/tests/$t" --gtest_brief=1
done
