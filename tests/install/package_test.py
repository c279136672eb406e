"""The packages as a user installs them, away from the clone.

scripts/package.sh builds the wheel and the npm tarball from a copy of this
build's library and addon; the wheel goes into a fresh virtual environment
(pip install with no package index), the tarball into a fresh home folder
(npm install of the file: its files are copied in, its dependencies
installed as it declares them). The copy and the packages are then removed,
and the README's Python and Node.js examples and docs/mcp.md's tool-server
client run from those installs, in the root folder, printing what their
pages say they print.

Usage: package_test.py SOURCE_DIR BUILD_DIR
"""

import glob
import os
import shutil
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "readme"))
import readme_test  # noqa: E402  (its block reader)


def examples(page):
    """(file name, its text, the lines the next console block expects) of
    each fenced block of `page` that names a file."""
    found, pending = [], None
    for info, lines in readme_test.blocks(open(page, encoding="utf-8").read()):
        named = readme_test.FILE_LINE.match(lines[0]) if lines else None
        if named and info in ("python", "js"):
            pending = (named.group(1), "\n".join(lines) + "\n")
        elif info == "console" and pending is not None:
            printed = sorted(line for line in lines if line.strip() and not line.startswith("$ "))
            found.append((pending[0], pending[1], printed))
            pending = None
    return found


def run(command, **kwargs):
    return subprocess.run(command, check=True, capture_output=True, text=True, **kwargs)


def main():
    source, build = sys.argv[1], sys.argv[2]
    work = tempfile.mkdtemp()
    try:
        home = os.path.join(work, "home")
        os.makedirs(home)
        env = {"HOME": home, "PATH": os.environ.get("PATH", "/usr/bin:/bin"), "LANG": "C.UTF-8",
               "PIP_DISABLE_PIP_VERSION_CHECK": "1", "NPM_CONFIG_UPDATE_NOTIFIER": "false",
               "TMPDIR": work}
        # How this machine reaches the network, which a fresh home does not say.
        env.update((k, v) for k, v in os.environ.items() if k in readme_test.NETWORK_SETTINGS)
        # The built library and addon, copied, so that the build they come
        # from can be removed before the packages are used.
        copied = os.path.join(work, "built")
        os.makedirs(copied)
        for name in ("libquenmar-grep.so.1", "quenmar_grep.node"):
            found = glob.glob(os.path.join(build, "**", name), recursive=True)
            shutil.copy(os.path.realpath(found[0]), os.path.join(copied, name))
        dist = os.path.join(work, "dist")
        run([os.path.join(source, "scripts", "package.sh"), dist, copied], env=env)
        wheel = glob.glob(os.path.join(dist, "*.whl"))[0]
        tarball = glob.glob(os.path.join(dist, "*.tgz"))[0]

        venv = os.path.join(work, "venv")
        run([sys.executable, "-m", "venv", venv], env=env)
        run([os.path.join(venv, "bin", "pip"), "install", "--quiet", "--no-index", wheel], env=env)
        run(["npm", "install", "--prefix", home, "--no-audit", "--no-fund", "--loglevel=error",
             tarball], env=env, cwd=home)
        installed = os.path.join(home, "node_modules", "quenmar-grep")
        if os.path.islink(installed):
            print("the npm package was linked, not installed: %s" % installed)
            return 1
        shutil.rmtree(copied)
        shutil.rmtree(dist)

        # The client finds the SDK the package brought along.
        env["NODE_PATH"] = os.path.join(home, "node_modules")
        runners = {".py": [os.path.join(venv, "bin", "python")], ".js": ["node"]}
        failures = 0
        pages = [os.path.join(source, "README.md"), os.path.join(source, "docs", "mcp.md")]
        found = [e for page in pages for e in examples(page)]
        for name, text, expected in found:
            path = os.path.join(home, name)
            os.makedirs(os.path.dirname(path), exist_ok=True)
            with open(path, "w", encoding="utf-8") as f:
                f.write(text)
            result = subprocess.run(runners[os.path.splitext(name)[1]] + [path], cwd="/", env=env,
                                    capture_output=True, text=True, timeout=300)
            printed = sorted(line for line in (result.stdout + result.stderr).splitlines()
                             if line.strip())
            if result.returncode != 0 or printed != expected:
                failures += 1
                print("%s (status %d):\n--- printed:\n%s\n--- expected:\n%s"
                      % (name, result.returncode, "\n".join(printed), "\n".join(expected)))
        print("package_test: %d examples, %d failed" % (len(found), failures))
        if len(found) < 3:
            print("package_test: the README's and docs/mcp.md's examples were not found")
            return 1
        return 1 if failures else 0
    except subprocess.CalledProcessError as error:
        print("%s failed:\n%s%s" % (" ".join(error.cmd), error.stdout, error.stderr))
        return 1
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
