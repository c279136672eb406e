#!/usr/bin/env bash
# Runs the Windows build of the tool under Wine on a small tree: a search that
# finds a line in a file with a non-ASCII name and writes the paths the
# Windows way (for roots written either way), a numbered read, and an edit read back.
# Usage: smoke.sh PATH/TO/quenmar-grep.exe
set -euo pipefail
exe=$1
wine=$(command -v wine64 || echo /usr/lib/wine/wine64)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/src/sub"
printf 'alpha\r\nneedle here\r\n' >"$work/src/café.txt"
printf 'no\nneedle two\n' >"$work/src/sub/b.c"
mkdir -p "$work/src/données"
printf 'un thé\n' >"$work/src/données/thé.txt"

fail() {
  echo "smoke: $*" >&2
  exit 1
}
run() { "$wine" "$exe" "$@" 2>&1 | tr -d '\r'; }

root="Z:${work//\//\\}\\src"
out=$(run search needle "$root" --color=never)
echo "$out"
echo "$out" | grep -qxF "$root\\café.txt:2:1:needle here" || fail "search did not report café.txt:2"
echo "$out" | grep -qxF "$root\\sub\\b.c:2:1:needle two" || fail "search did not report sub\\b.c:2"

# The root's own form is kept and a backslash joins each entry to it: the
# root D:\src\ gives D:\src\\a.c, the root D:/src gives D:/src\a.c.
out=$(run search needle "$root\\" --color=never)
echo "$out" | grep -qxF "$root\\\\café.txt:2:1:needle here" || fail "root with a trailing backslash gave: $out"
slashed="Z:$work/src"
out=$(run search needle "$slashed" --color=never)
echo "$out" | grep -qxF "$slashed\\sub\\b.c:2:1:needle two" || fail "root with slashes gave: $out"

# Non-ASCII in the root, the pattern and the names, all passed as arguments.
out=$(run search 'thé' "$root\\données" --color=never)
[ "$out" = "$root\\données\\thé.txt:1:4:un thé" ] || fail "non-ASCII search gave: $out"

read_out=$(run read "$root\\café.txt" 2 2)
[ "$read_out" = "2: needle here" ] || fail "read gave: $read_out"

run replace "$root\\café.txt" 1 1 'ALPHA' >/dev/null || fail "replace failed"
[ "$(od -An -c "$work/src/café.txt" | tr -s ' ')" = "$(printf 'ALPHA\r\nneedle here\r\n' | od -An -c | tr -s ' ')" ] ||
  fail "replace wrote: $(od -c "$work/src/café.txt")"
echo "smoke: search, read and replace work under Wine"
