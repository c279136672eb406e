#!/usr/bin/env bash
# Times the document search over a synthetic source tree, side by side with
# GNU grep on the same tree in the same run.
#
#   bench/search_tree.sh              # tree under /tmp, build in build/
#   QG_BENCH_DIR=/data QG_BUILD_DIR=/path/to/build bench/search_tree.sh
#
# The tree (about 3000 source files, some 200 MB, LF and CRLF files, a few
# binary and UTF-16 files, and directories the search skips) is made once and
# reused; delete it to make it again. Each search runs three times and the
# best wall time counts, so the file cache is warm for every tool.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${QG_BUILD_DIR:-$root/build}
tree=${QG_BENCH_DIR:-/tmp}/quenmar-grep-bench-tree
runs=3

if [ ! -f "$tree/.complete" ]; then
  echo "== making the tree in $tree"
  rm -rf "$tree"
  python3 - "$tree" <<'PY'
import os, random, sys
root = sys.argv[1]
rng = random.Random(20261209)
words = ["int", "return", "static", "const", "char", "buffer", "length", "index", "value",
         "result", "error", "size_t", "struct", "void", "node", "list", "next", "count",
         "config", "handler", "context", "path", "name", "file", "open", "close", "read"]
def line(i):
    r = rng.random()
    if r < 0.0005:
        return "    call(quenmar_needle, %d);" % i
    if r < 0.0010:
        return "    // QUENMAR_Needle marks item %d" % i
    if r < 0.0100:
        return "    ptr = alloc_%s(%d);" % (rng.choice(words), rng.randrange(1000))
    n = rng.randrange(0, 12)
    return "    " * rng.randrange(0, 4) + " ".join(rng.choice(words) for _ in range(n))
pool = [line(i) for i in range(20000)]
def text(n_lines):
    return rng.choices(pool, k=n_lines)
def write(rel, data):
    path = os.path.join(root, rel)
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data)
exts = [".c", ".h", ".py", ".rs", ".js", ".txt"]
for i in range(3000):
    rel = "src/mod%02d/sub%02d/file%04d%s" % (i % 40, i % 7, i, exts[i % len(exts)])
    lines = text(rng.randrange(300, 3000))
    eol = "\r\n" if i % 3 == 0 else "\n"
    write(rel, (eol.join(lines) + eol).encode())
for i in range(40):  # binary: a NUL among the first bytes
    write("src/mod%02d/blob%02d.bin" % (i, i), b"\x7fELF\x00" + os.urandom(200000))
for i in range(10):  # UTF-16 little-endian with a byte-order mark
    write("src/mod%02d/wide%02d.txt" % (i, i), "\ufeff".encode("utf-16-le") +
          "\n".join(text(500)).encode("utf-16-le"))
for skipped in ["node_modules/pkg", "build/obj", ".git/objects", "target/debug", "__pycache__"]:
    for i in range(100):
        write("%s/f%03d.js" % (skipped, i), "\n".join(text(1000)).encode())
open(os.path.join(root, ".complete"), "w").close()
PY
fi
echo "== tree: $(find "$tree" -type f | wc -l) files, $(du -sh "$tree" | cut -f1)"

ninja -C "$build" search_bench >/dev/null
bench="$build/bench/search_bench"

# Best wall time in ms of `runs` runs of a command.
best_of() {
  local best=""
  for _ in $(seq "$runs"); do
    local start end ms
    start=$(date +%s%N)
    "$@" >/dev/null
    end=$(date +%s%N)
    ms=$(( (end - start) / 1000000 ))
    if [ -z "$best" ] || [ "$ms" -lt "$best" ]; then best=$ms; fi
  done
  echo "$best"
}

# The library's best time for one search, from the driver's own report.
ours() {
  "$bench" "$tree" "$1" "$2" "$runs" | tee /dev/stderr | awk '/^best_ms/ {printf "%d", $2}'
}

echo "== machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //')"
echo "== $(grep --version | head -1)"
skip=(--exclude-dir=node_modules --exclude-dir=bin --exclude-dir=obj --exclude-dir=target
      --exclude-dir=dist --exclude-dir=build --exclude-dir=__pycache__ --exclude-dir='.*'
      --exclude='.*')

literal=$(ours quenmar_needle '{}')
nocase=$(ours quenmar_needle '{"ignore_case":true}')
pattern=$(ours 'alloc_\w+\(\d+' '{"regex":true}')
grep_ms=$(best_of grep -rn "${skip[@]}" quenmar_needle "$tree")
grep_matches=$(grep -rn "${skip[@]}" quenmar_needle "$tree" | grep -vc '^Binary file' || true)

echo
printf '%-34s %8s\n' "search" "best ms"
printf '%-34s %8s\n' "literal quenmar_needle" "$literal"
printf '%-34s %8s\n' "literal, ignore_case" "$nocase"
printf '%-34s %8s\n' "pattern alloc_\\w+\\(\\d+" "$pattern"
printf '%-34s %8s  (%s matching lines)\n' "grep -rn quenmar_needle" "$grep_ms" "$grep_matches"
awk -v a="$literal" -v b="$grep_ms" 'BEGIN { printf "ratio literal / grep -rn: %.2f\n", a / (b > 0 ? b : 1) }'
