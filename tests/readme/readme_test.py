"""Runs the examples of the README and of docs/*.md as written, so that they
cannot drift.

A copy of the clone's files (what git tracks or would track, no build
output) stands in for a fresh clone, with the build under test as its
`build/` folder, and a fresh home folder. Then, the README first and each page of docs/ in
name order, in each file's order:

- a fenced code block whose first line is a comment naming a file
  (`// host.c: ...`, `# example.py: ...`, `# my_host/CMakeLists.txt`) is
  written to that file in the home folder;
- a `console` block runs as one bash script from the copy's top, its `$ `
  lines being the commands; everything it prints (standard output and
  error) must be the block's other lines, in any order (a directory lists
  its entries in the file system's order).

Usage: readme_test.py SOURCE_DIR BUILD_DIR
"""

import os
import re
import shutil
import subprocess
import sys
import tempfile

NETWORK_SETTINGS = {"NODE_EXTRA_CA_CERTS", "SSL_CERT_FILE", "SSL_CERT_DIR", "http_proxy",
                    "https_proxy", "no_proxy", "HTTP_PROXY", "HTTPS_PROXY", "NO_PROXY"}

FILE_LINE = re.compile(r"^(?://|#)\s*([\w./-]+\.(?:c|py|js|txt)|[\w./-]*CMakeLists\.txt)\b")


def blocks(readme):
    """(info string, lines) of each fenced block."""
    found, inside, info, lines = [], False, "", []
    for line in readme.splitlines():
        if line.startswith("```"):
            if inside:
                found.append((info, lines))
            inside, info, lines = not inside, line[3:].strip(), []
        elif inside:
            lines.append(line)
    return found


def copy_clone(source, build, target):
    listed = subprocess.run(["git", "-C", source, "ls-files", "-co", "--exclude-standard", "-z"],
                            check=True, capture_output=True).stdout.decode().split("\0")
    for name in filter(None, listed):
        origin = os.path.join(source, name)
        if not os.path.lexists(origin):
            continue  # deleted in the work tree
        os.makedirs(os.path.dirname(os.path.join(target, name)), exist_ok=True)
        shutil.copy2(origin, os.path.join(target, name), follow_symlinks=False)
    os.symlink(build, os.path.join(target, "build"))


def run_console(lines, clone, env):
    commands = [line[2:] for line in lines if line.startswith("$ ")]
    expected = sorted(line for line in lines if line.strip() and not line.startswith("$ "))
    script = "\n".join(commands) + "\n"  # a search that finds nothing exits with 1
    result = subprocess.run(["bash", "-c", script], cwd=clone, env=env, stdout=subprocess.PIPE,
                            stderr=subprocess.STDOUT, text=True, timeout=900)
    printed = sorted(line for line in result.stdout.splitlines() if line.strip())
    if result.returncode != 0 or printed != expected:
        return ("console block failed (status %d):\n%s\n--- printed:\n%s\n--- expected:\n%s"
                % (result.returncode, script, result.stdout, "\n".join(expected)))
    return None


def main():
    source, build = (os.path.abspath(a) for a in sys.argv[1:3])
    pages = [os.path.join(source, "README.md")]
    docs = os.path.join(source, "docs")
    pages += sorted(os.path.join(docs, n) for n in os.listdir(docs) if n.endswith(".md"))
    examples = []
    for page in pages:
        with open(page, encoding="utf-8") as f:
            examples += [(os.path.relpath(page, source), info, lines) for info, lines in blocks(f.read())]
    scratch = tempfile.mkdtemp(prefix="quenmar-grep-readme-")
    try:
        clone, home = os.path.join(scratch, "clone"), os.path.join(scratch, "home")
        os.makedirs(home)
        copy_clone(source, build, clone)
        env = {"HOME": home, "PATH": os.environ.get("PATH", "/usr/bin:/bin"), "LANG": "C.UTF-8",
               "PIP_DISABLE_PIP_VERSION_CHECK": "1", "NPM_CONFIG_UPDATE_NOTIFIER": "false",
               "TMPDIR": scratch}
        # How this machine reaches the network (proxies, its certificate
        # authorities), which a fresh home folder does not say.
        env.update((k, v) for k, v in os.environ.items() if k in NETWORK_SETTINGS)
        ran, failures = 0, []
        for page, info, lines in examples:
            named = FILE_LINE.match(lines[0]) if lines else None
            if named and info in ("c", "python", "js", "cmake"):
                path = os.path.join(home, named.group(1))
                os.makedirs(os.path.dirname(path), exist_ok=True)
                with open(path, "w", encoding="utf-8") as f:
                    f.write("\n".join(lines) + "\n")
            elif info == "console":
                ran += 1
                failure = run_console(lines, clone, env)
                if failure:
                    failures.append("%s: %s" % (page, failure))
        for failure in failures:
            print(failure, file=sys.stderr)
        print("readme_test: %d console blocks, %d failed" % (ran, len(failures)))
        return 1 if failures or ran < 8 else 0
    finally:
        shutil.rmtree(scratch, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
