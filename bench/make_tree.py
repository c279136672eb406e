#!/usr/bin/env python3
"""Makes the synthetic tree of bench/compare.sh: about 3000 source files (some
200 MB) of LF and CRLF lines drawn from a fixed pool, a few binary and UTF-16
files, and directories that the walk skips. Fixed by its seed, so every run
makes the same tree. Usage: make_tree.py DIR"""
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
