"""The tool beside ripgrep on generated trees: both run from the tree's top
with the same arguments and no others, and what they print must agree.

Each tree is drawn from a seeded generator: nested folders (some named
`target`, `build`, `node_modules`, some hidden), files of a few words a
line, binary files (a NUL among the text), names that are not UTF-8,
lines that are not UTF-8, `.gitignore` and `.ignore` files with plain, anchored, negated and folder
rules, links to files and to folders outside the tree (each folder reached
by one link), a dangling link;
half of the trees are git work trees. For each tree and each row of
COMMANDS, standard output is compared: as a set of lines where ripgrep
prints in the order its threads finish, exactly where the walk is sorted.
The rows of JSON_COMMANDS compare `--json` message by message, each parsed
and without its time values (which no two runs share); unsorted, as a set of
files, each file's messages in their order, the summary last.

Usage: rg_differential_test.py TOOL [SEEDS]
"""

import json
import os
import random
import shutil
import subprocess
import sys
import tempfile

WORDS = ["alpha", "beta", "Gamma", "delta", "size_t", "spin_lock", "x", "foo", "Foo", "bar",
         "Привет", "привет", "École", "école", "Straße", "ſpin_lock", "ΣΑΣ", "σας", "日本語",
         "\u212aelvin", "mañana"]
DIR_NAMES = ["src", "lib", "target", "build", "node_modules", ".hidden", "docs", "sub", "a b"]
FILE_NAMES = ["main.c", "util.h", "notes.txt", "a.log", "keep.log", ".env", "README.md",
              "data.bin", "x.rs"]
IGNORE_RULES = ["*.log", "!keep.log", "build/", "/docs", "sub/*.txt", "*.md", "target",
                "notes.txt", "lib/**/util.h", "#comment", ".env"]

# (arguments, sorted output): the arguments after the tool's name, the same
# for ripgrep; True where the output's order must match too.
COMMANDS = [
    (["--files"], False),
    (["-l", "alpha"], False),
    (["-c", "foo"], False),
    (["--column", "beta"], False),
    (["--vimgrep", "foo"], False),
    (["--column", "-i", "foo"], False),
    (["--column", "-S", "foo"], False),
    (["--column", "-S", "Foo"], False),
    (["--column", "-s", "-i", "Foo"], False),
    (["--column", "-w", "x"], False),
    (["--column", "-x", "x"], False),
    (["--column", "-v", "a"], False),
    (["-c", "-v", "-x", "foo"], False),
    (["-l", "-L", "delta"], False),
    (["--files", "-L"], False),
    (["--files", "--max-depth", "1"], False),
    (["--files", "--max-depth", "2"], False),
    (["-l", "--max-depth", "0", "alpha"], False),
    (["--files", "--sort", "path"], True),
    (["--files", "--sortr", "path"], True),
    (["--column", "--sort", "path", "alpha"], True),
    (["--files", "--no-ignore"], False),
    (["--files", "-u"], False),
    (["--files", "-uu"], False),
    (["-l", "-uu", "alpha"], False),
    (["-l", "-0", "beta"], False),
    (["--files", "-0"], False),
    (["--column", "-I", "Gamma"], False),
    (["--column", "-F", "-e", "size_t", "-e", "x.rs"], False),
    (["-l", "-f", "{patterns}"], False),
    (["-l", "--type-add", "mine:*.log", "--type-add", "mine:*.rs", "-t", "mine", "alpha"], False),
    (["-l", "-g", "!*.h", "alpha"], False),
    (["-c", "--hidden", "alpha"], False),
    (["--vimgrep", "-e", "al?pha|ga", "-e", "[dD]el+ta"], False),
    (["--column", "-r", "<$0>", "-e", "a"], False),
    (["--column", "-r", "${2}_$1$$", "-e", "(spin)_(lock)|(size)"], False),
    # ripgrep's columns with -o and -r count in the replaced line: a
    # replacement as long as its match keeps them the match's own.
    (["-o", "--column", "-r", "<${w}>", "-e", "(?P<w>[a-z])[a-z]{2}"], False),
    (["--column", "-r", "", "-i", "-w", "foo"], False),
    (["--vimgrep", "-r", "X", "-F", "x"], False),
    # Unicode, on by default as in ripgrep: classes, case folding and words.
    (["--column", "-i", "привет"], False),
    (["--column", "-i", "-F", "ÉCOLE"], False),
    (["--column", "-i", "SPIN_LOCK"], False),
    (["--column", "-i", "-e", "σας|kelvin"], False),
    (["--column", "-w", "école"], False),
    (["--column", "-S", "привет"], False),
    (["--column", "-S", "Привет"], False),
    (["--column", "-w", "-i", "ΣΑΣ"], False),
    (["-o", "--column", "-e", "\\w+"], False),
    (["-o", "--column", "-e", "\\p{Cyrillic}+|\\p{Han}"], False),
    (["-o", "--column", "-e", "\\b\\w{5}\\b"], False),
    (["-o", "--column", "--no-unicode", "-e", "\\w+"], False),
]

# (arguments, sorted output) for --json, which is added before them.
JSON_COMMANDS = [
    (["--sort", "path", "foo"], True),
    (["--sort", "path", "-C", "1", "alpha"], True),
    (["--sort", "path", "-A", "2", "-B", "1", "beta"], True),
    (["--sort", "path", "-i", "foo"], True),
    (["--sort", "path", "-w", "x"], True),
    (["--sort", "path", "-e", "a"], True),  # several matches on most lines
    (["--sort", "path", "-e", "caf|Gamma"], True),  # lines that are not UTF-8
    (["--sort", "path", "-v", "-x", "foo"], True),
    (["--sort", "path", "-uu", "delta"], True),
    (["-F", "-e", "size_t", "-e", "spin_lock"], False),
    (["no such word"], False),
]

# The keys of the messages that hold a time.
TIME_KEYS = {"elapsed", "elapsed_total"}


def random_line(rng):
    line = " ".join(rng.choice(WORDS) for _ in range(rng.randint(0, 5)))
    if rng.random() < 0.05:
        line = "caf\udce9 " + line  # a byte that is not UTF-8, 0xE9
    return line


def write_file(path, rng):
    lines = [random_line(rng) for _ in range(rng.randint(0, 8))]
    data = "\n".join(lines).encode(errors="surrogateescape")
    if lines and rng.random() < 0.8:
        data += b"\n"
    if path.endswith(b".bin") or rng.random() < 0.1:
        # The NUL comes first: ripgrep prints the lines of a binary file
        # that come before its first NUL, where this library reads none.
        data = b"\0" + data
    with open(path, "wb") as f:
        f.write(data)


def make_tree(top, outside, rng, depth=0):
    for _ in range(rng.randint(1, 5)):
        name = rng.choice(FILE_NAMES).encode()
        if rng.random() < 0.1:
            name = b"caf\xe9-" + name  # a name that is not UTF-8
        write_file(os.path.join(top, name), rng)
    if rng.random() < 0.4:
        rules = rng.sample(IGNORE_RULES, rng.randint(1, 3))
        with open(os.path.join(top, rng.choice([b".gitignore", b".ignore"])), "w") as f:
            f.write("\n".join(rules) + "\n")
    if rng.random() < 0.3:
        os.symlink(os.path.join(outside, b"linked.txt"), os.path.join(top, b"file-link.txt"))
    if rng.random() < 0.2:
        # A folder of its own for each link: this walk lists a folder once
        # however many links reach it, where ripgrep -L lists it for each.
        target = os.path.join(outside, b"dir-%d" % rng.randrange(1 << 30))
        os.makedirs(target)
        write_file(os.path.join(target, b"other.c"), rng)
        os.symlink(target, os.path.join(top, b"dir-link"))
    if rng.random() < 0.1:
        os.symlink(b"missing", os.path.join(top, b"dangling"))
    if depth < 3:
        for name in rng.sample(DIR_NAMES, rng.randint(0, 3)):
            sub = os.path.join(top, name.encode())
            os.makedirs(sub, exist_ok=True)
            make_tree(sub, outside, rng, depth + 1)


def run(program, args, cwd):
    done = subprocess.run([program] + args, cwd=cwd, stdin=subprocess.DEVNULL,
                          capture_output=True, timeout=120)
    return done.stdout


def split(output):
    sep = b"\0" if b"\0" in output else b"\n"
    return [line for line in output.split(sep) if line]


def without_times(value):
    """`value` with every member that holds a time left out, at any depth."""
    if isinstance(value, dict):
        return {k: without_times(v) for k, v in value.items() if k not in TIME_KEYS}
    if isinstance(value, list):
        return [without_times(v) for v in value]
    return value


def messages(output, ordered):
    """The messages of a --json output, each parsed and without its times;
    unordered, each file's messages (begin to end) as one item of a sorted
    list, the summary last. Key order is kept: it must match too."""
    parsed = [without_times(json.loads(line)) for line in output.splitlines() if line]
    if ordered:
        return parsed
    files, current = [], []
    for message in parsed:
        current.append(message)
        if message["type"] in ("end", "summary"):
            files.append(current)
            current = []
    files.append(current)
    rest = files[-1:] if files[-1] and files[-1][0]["type"] == "summary" else []
    body = files[:len(files) - len(rest)]
    return sorted(body, key=lambda f: json.dumps(f)) + rest


def key_order(value):
    """The keys of `value` in the order they stand, at any depth."""
    if isinstance(value, dict):
        return [(k, key_order(v)) for k, v in value.items()]
    if isinstance(value, list):
        return [key_order(v) for v in value]
    return None


def check_json(tool, top, seed, failures):
    for args, ordered in JSON_COMMANDS:
        args = ["--json"] + args
        ours, theirs = run(tool, args, top), run("rg", args, top)
        a, b = messages(ours, ordered), messages(theirs, ordered)
        if a != b or key_order(a) != key_order(b):
            first = next((i for i, (x, y) in enumerate(zip(a, b)) if x != y or
                          key_order(x) != key_order(y)), min(len(a), len(b)))
            failures.append(f"seed {seed}, {' '.join(args)}: message {first} differs: ours "
                            f"{a[first:first + 1]}, rg's {b[first:first + 1]}")


def check_tree(tool, seed, scratch):
    rng = random.Random(seed)
    base = os.path.join(scratch, str(seed).encode())
    top, outside = os.path.join(base, b"tree"), os.path.join(base, b"outside")
    os.makedirs(top)
    os.makedirs(outside)
    write_file(os.path.join(outside, b"linked.txt"), rng)
    if seed % 2 == 0:
        subprocess.run(["git", "init", "-q", top], check=True)
    make_tree(top, outside, rng)
    patterns = os.path.join(base, b"patterns")
    with open(patterns, "w") as f:
        f.write("beta\nsize_t\n")
    failures = []
    for args, ordered in COMMANDS:
        args = [a.replace("{patterns}", patterns.decode()) for a in args]
        ours, theirs = run(tool, args, top), run("rg", args, top)
        a, b = split(ours), split(theirs)
        if not ordered:
            a, b = sorted(a), sorted(b)
        if a != b:
            only_ours = [x for x in a if x not in b][:5]
            only_rg = [x for x in b if x not in a][:5]
            failures.append(f"seed {seed}, {' '.join(args)}: only ours {only_ours}, "
                            f"only rg's {only_rg}")
    check_json(tool, top, seed, failures)
    return failures


def main():
    tool = sys.argv[1]
    seeds = int(sys.argv[2]) if len(sys.argv) > 2 else 24
    if shutil.which("rg") is None:
        print("rg is not installed: ./scripts/setup.sh installs it")
        return 1
    scratch = tempfile.mkdtemp().encode()
    try:
        failures = []
        for seed in range(seeds):
            failures += check_tree(tool, seed, scratch)
    finally:
        shutil.rmtree(scratch)
    for f in failures:
        print(f)
    commands = len(COMMANDS) + len(JSON_COMMANDS)
    print(f"{seeds} trees x {commands} commands: {len(failures)} differ")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
