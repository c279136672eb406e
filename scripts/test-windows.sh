#!/usr/bin/env bash
# The Windows leg: installs what it needs (mingw-w64, Wine, CMake, Ninja,
# GoogleTest's sources, CLI11), builds GoogleTest for the target into a
# private prefix, cross-builds the library (with yyjson built from its
# release source), the tool and the test programs with mingw-w64, and runs the
# suite under Wine, then the tool on a small tree. Fails when any test fails.
# Idempotent: what is installed or built already is kept.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$root/build-windows
deps=$build/deps

. "$root/scripts/lib/packages.sh"
install_missing test-windows cmake ninja-build mingw-w64 g++-mingw-w64-x86-64-posix \
  gcc-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 wine wine64 googletest libcli11-dev

# A copy of yyjson's release source kept beside the project's checkout, if
# there is one (next to this checkout, next to the one it was cloned from, or
# where QG_THIRD_PARTY says): the build uses it instead of fetching the
# release.
find_third_party() {
  local candidates=()
  [ -n "${QG_THIRD_PARTY:-}" ] && candidates+=("$QG_THIRD_PARTY")
  candidates+=("$root/../shared/third_party")
  local origin
  origin=$(git -C "$root" config --get remote.origin.url 2>/dev/null || true)
  if [ -n "$origin" ] && [ -d "$origin" ]; then candidates+=("$origin/../shared/third_party"); fi
  for dir in "${candidates[@]}"; do
    if [ -f "$dir/yyjson-0.12.0/CMakeLists.txt" ]; then
      (cd "$dir" && pwd)
      return 0
    fi
  done
  return 1
}

toolchain=$root/cmake/mingw-w64-x86_64.cmake
mkdir -p "$deps"

# Builds the CMake project at SOURCE for the target and installs it into the
# private prefix, once: NAME's mark in the prefix says it is there.
# Usage: build_dependency NAME TITLE SOURCE [CMAKE-OPTION...]
build_dependency() {
  local name=$1 title=$2 source=$3
  shift 3
  [ -f "$deps/.$name-done" ] && return 0
  echo "== $title for Windows"
  cmake -S "$source" -B "$build/$name" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
    -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$deps" "$@" >/dev/null
  cmake --build "$build/$name" >/dev/null
  cmake --install "$build/$name" >/dev/null
  touch "$deps/.$name-done"
}

build_dependency gtest GoogleTest /usr/src/googletest -Dgtest_disable_pthreads=OFF
if [ ! -f "$deps/.cli11-done" ]; then
  # CLI11 is header-only: its headers, and a package file naming them.
  mkdir -p "$deps/include" "$deps/lib/cmake/CLI11"
  cp -r /usr/include/CLI "$deps/include/"
  cat >"$deps/lib/cmake/CLI11/CLI11Config.cmake" <<'CMAKE'
add_library(CLI11::CLI11 INTERFACE IMPORTED)
get_filename_component(_cli11_prefix "${CMAKE_CURRENT_LIST_DIR}/../../.." ABSOLUTE)
set_target_properties(CLI11::CLI11 PROPERTIES INTERFACE_INCLUDE_DIRECTORIES "${_cli11_prefix}/include")
CMAKE
  touch "$deps/.cli11-done"
fi

echo "== build $build"
yyjson_source=()
if third_party=$(find_third_party); then
  yyjson_source=(-DFETCHCONTENT_SOURCE_DIR_YYJSON="$third_party/yyjson-0.12.0")
fi
cmake -S "$root" -B "$build/project" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_PREFIX_PATH="$deps" -DQG_BUILD_ALL=ON -DQG_BUILD_BENCH=OFF \
  -DQG_WARNINGS_AS_ERRORS=ON "${yyjson_source[@]}" >/dev/null
cmake --build "$build/project" --parallel

# A Wine prefix of the build's own, and one Wine server for the whole run, so
# that each test program starts in a fraction of a second. A server left from
# an earlier run is stopped first: a second one would not start, and the old
# one would not stay.
export WINEPREFIX=$build/wine WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
mkdir -p "$WINEPREFIX"
wineserver=$(command -v wineserver || echo /usr/lib/wine/wineserver)
[ -x "$wineserver" ] || wineserver=/usr/lib/wine/wineserver64
wine64=$(command -v wine64 || echo /usr/lib/wine/wine64)
"$wineserver" -k >/dev/null 2>&1 || true
"$wineserver" -w >/dev/null 2>&1 || true
"$wineserver" -p >/dev/null 2>&1 </dev/null # returns once the server runs in the background
trap '"$wineserver" -k >/dev/null 2>&1 || true' EXIT
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  echo "== preparing the Wine prefix"
  "$wine64" wineboot --init >/dev/null 2>&1 </dev/null || true
fi
# The first program of a session starts Wine's background services, which
# keep its standard output open: started here, they hold /dev/null rather
# than the pipe of a test whose end CTest would then wait for forever.
"$wine64" cmd /c exit >/dev/null 2>&1 </dev/null || true

echo "== test $build (under Wine)"
ctest --test-dir "$build/project" --output-on-failure --timeout 600

echo "== the tool on a small tree (under Wine)"
bash "$root/tests/windows/smoke.sh" "$build/project/bin/quenmar-grep.exe"
