#!/bin/sh
# Installs a build into a temporary prefix, checks the installed files, and
# builds the C host of this folder against the installed tree alone, once
# with pkg-config and once with CMake's find_package; both hosts must run.
# Usage: install_test.sh BUILD_DIR THIS_DIR CMAKE C_COMPILER GENERATOR VERSION
set -eu
build=$(cd "$1" && pwd)
here=$(cd "$2" && pwd)
cmake=$3
cc=$4
generator=$5
version=$6
major=${version%%.*}
source_root=$(cd "$here/../.." && pwd)

fail() {
  echo "install_test: $*" >&2
  exit 1
}

work=$(mktemp -d "${TMPDIR:-/tmp}/quenmar-grep-install-XXXXXX")
trap 'rm -rf "$work"' EXIT
prefix=$work/prefix
"$cmake" --install "$build" --prefix "$prefix" >/dev/null

pc=$(find "$prefix" -name quenmar-grep.pc)
[ -n "$pc" ] || fail "no quenmar-grep.pc installed"
pcdir=$(dirname "$pc")
libdir=$(dirname "$pcdir")
for f in include/quenmar_grep.h bin/quenmar-grep; do
  [ -f "$prefix/$f" ] || fail "missing $f"
done
for f in "libquenmar-grep.so.$version" "libquenmar-grep.so.$major" libquenmar-grep.so \
         cmake/quenmar-grep/quenmar-grepConfig.cmake \
         cmake/quenmar-grep/quenmar-grepConfigVersion.cmake \
         cmake/quenmar-grep/quenmar-grepTargets.cmake; do
  [ -e "$libdir/$f" ] || fail "missing $libdir/$f"
done
[ -L "$libdir/libquenmar-grep.so" ] || fail "libquenmar-grep.so is not a link"
soname=$(readelf -d "$libdir/libquenmar-grep.so.$version" | sed -n 's/.*SONAME.*\[\(.*\)\].*/\1/p')
[ "$soname" = "libquenmar-grep.so.$major" ] || fail "SONAME is '$soname'"
if grep -rl "$source_root" "$libdir/cmake" "$pc" >/dev/null 2>&1; then
  fail "installed package files refer to the source tree $source_root"
fi

sample=$work/sample.txt
printf 'hello from the installed tree\nsecond\n' >"$sample"
expected="1: hello from the installed tree"

# pkg-config, seeing only the installed tree.
pc_version=$(PKG_CONFIG_LIBDIR=$pcdir pkg-config --modversion quenmar-grep)
[ "$pc_version" = "$version" ] || fail "pkg-config version '$pc_version'"
flags=$(PKG_CONFIG_LIBDIR=$pcdir pkg-config --cflags --libs quenmar-grep)
# shellcheck disable=SC2086
"$cc" -std=c99 -Wall -Wextra -pedantic -Werror "$here/host.c" $flags -o "$work/host-pc"
out=$(LD_LIBRARY_PATH=$libdir "$work/host-pc" "$sample" "$version") || fail "pkg-config host failed"
[ "$out" = "$expected" ] || fail "pkg-config host printed '$out'"

# CMake package; the build tree of the host carries the library's folder as
# its run path.
"$cmake" -S "$here/consumer" -B "$work/consumer" -G "$generator" \
  -DCMAKE_PREFIX_PATH="$prefix" -DCMAKE_C_COMPILER="$cc" -DQG_HOST_SOURCE="$here/host.c" \
  -DCMAKE_FIND_PACKAGE_NO_PACKAGE_REGISTRY=ON >/dev/null
"$cmake" --build "$work/consumer" >/dev/null
out=$("$work/consumer/host" "$sample" "$version") || fail "CMake host failed"
[ "$out" = "$expected" ] || fail "CMake host printed '$out'"

# The installed tool finds the installed library by its run path alone.
out=$("$prefix/bin/quenmar-grep" read "$sample" 1 1) || fail "installed CLI failed"
[ "$out" = "$expected" ] || fail "installed CLI printed '$out'"
echo "install_test: ok ($prefix)"
