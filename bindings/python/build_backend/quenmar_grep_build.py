"""A build backend for the quenmar-grep package, on the standard library alone.

`pip install ./bindings/python` calls build_wheel here. It builds the shared
library with CMake from the clone this folder belongs to (in
`build-python/` at the clone's top, reused by later installs), and writes a
wheel holding the package's modules, its type marker and that library. The
package loads the library from its own folder, so an installed package needs
no environment variable and no system-wide install of the library; the
library itself needs yyjson's shared library at run time (libyyjson0, which
the set-up script installs).

config_settings: `library=PATH` bundles an already built library instead of
building one (`pip install --config-settings library=PATH ./bindings/python`).
"""

import base64
import hashlib
import os
import re
import shutil
import subprocess
import sys
import sysconfig
import zipfile

_HERE = os.path.dirname(os.path.abspath(__file__))
_PACKAGE_ROOT = os.path.dirname(_HERE)  # bindings/python
_SOURCE_ROOT = os.path.dirname(os.path.dirname(_PACKAGE_ROOT))  # the clone's top
_DIST = "quenmar_grep"
_SUMMARY = "Search source trees and edit text files by line number"


def _project_version():
    """The version of the CMake project, the one place it is written."""
    with open(os.path.join(_SOURCE_ROOT, "CMakeLists.txt"), encoding="utf-8") as f:
        found = re.search(r"project\(\s*quenmar-grep\s+VERSION\s+([0-9.]+)", f.read())
    if not found:
        raise RuntimeError("no project version in %s/CMakeLists.txt" % _SOURCE_ROOT)
    return found.group(1)


def _library_names():
    """The file to build or take, and the name the package loads it by."""
    if sys.platform == "win32":
        return "quenmar-grep.dll", "quenmar-grep.dll"
    if sys.platform == "darwin":
        return "libquenmar-grep.dylib", "libquenmar-grep.1.dylib"
    return "libquenmar-grep.so", "libquenmar-grep.so.1"


def _run(command):
    try:
        subprocess.run(command, check=True, stdout=sys.stderr)
    except FileNotFoundError:
        raise RuntimeError("%s is not installed; run ./scripts/setup.sh in %s first"
                           % (command[0], _SOURCE_ROOT)) from None


def _forget_other_source(build, project):
    """Removes the configuration of a build folder made from another source folder."""
    cache = os.path.join(build, "CMakeCache.txt")
    if not os.path.isfile(cache):
        return
    with open(cache, encoding="utf-8", errors="replace") as f:
        homes = [line.split("=", 1)[1].strip() for line in f
                 if line.startswith("CMAKE_HOME_DIRECTORY:INTERNAL=")]
    if homes and os.path.realpath(homes[0]) == os.path.realpath(project):
        return
    os.remove(cache)
    shutil.rmtree(os.path.join(build, "CMakeFiles"), ignore_errors=True)


def _built_library():
    """Builds the shared library alone, in release form, and returns its path."""
    if not os.path.isfile(os.path.join(_SOURCE_ROOT, "CMakeLists.txt")):
        raise RuntimeError("the package is built from a clone of quenmar-grep: "
                           "no CMakeLists.txt at %s" % _SOURCE_ROOT)
    # The binding's CMake project builds the library as its subproject, with
    # the library's own defaults for one: the library alone.
    build = os.path.join(_SOURCE_ROOT, "build-python")
    project = os.path.join(_SOURCE_ROOT, "bindings", "python")
    _forget_other_source(build, project)
    generator = []
    if not os.path.isfile(os.path.join(build, "CMakeCache.txt")) and shutil.which("ninja"):
        generator = ["-G", "Ninja"]
    _run(["cmake", "-S", project, "-B", build, *generator,
          "-DCMAKE_BUILD_TYPE=Release"])
    _run(["cmake", "--build", build, "--target", "quenmar-grep", "--parallel"])
    built_name, _ = _library_names()
    path = os.path.join(build, "quenmar-grep", built_name)
    if sys.platform == "win32":
        path = os.path.join(build, "quenmar-grep", "bin", built_name)
    return os.path.realpath(path)


def _wheel_tag():
    platform = sysconfig.get_platform().replace("-", "_").replace(".", "_")
    return "py3-none-" + platform


def _record_line(name, data):
    digest = base64.urlsafe_b64encode(hashlib.sha256(data).digest()).rstrip(b"=").decode()
    return "%s,sha256=%s,%d" % (name, digest, len(data))


def _metadata(version):
    return ("Metadata-Version: 2.1\nName: quenmar-grep\nVersion: %s\nSummary: %s\n"
            "Requires-Python: >=3.8\n" % (version, _SUMMARY))


def get_requires_for_build_wheel(config_settings=None):
    return []


def prepare_metadata_for_build_wheel(metadata_directory, config_settings=None):
    version = _project_version()
    info = os.path.join(metadata_directory, "%s-%s.dist-info" % (_DIST, version))
    os.makedirs(info, exist_ok=True)
    with open(os.path.join(info, "METADATA"), "w", encoding="utf-8") as f:
        f.write(_metadata(version))
    return os.path.basename(info)


def build_wheel(wheel_directory, config_settings=None, metadata_directory=None):
    version = _project_version()
    library = (config_settings or {}).get("library") or _built_library()
    _, loaded_name = _library_names()
    tag = _wheel_tag()
    info = "%s-%s.dist-info" % (_DIST, version)
    files = []
    package = os.path.join(_PACKAGE_ROOT, "quenmar_grep")
    for name in sorted(os.listdir(package)):
        if name.endswith(".py") or name == "py.typed":
            with open(os.path.join(package, name), "rb") as f:
                files.append(("quenmar_grep/" + name, f.read()))
    with open(library, "rb") as f:
        files.append(("quenmar_grep/" + loaded_name, f.read()))
    files.append((info + "/METADATA", _metadata(version).encode()))
    files.append((info + "/WHEEL", ("Wheel-Version: 1.0\nGenerator: quenmar_grep_build\n"
                                     "Root-Is-Purelib: false\nTag: %s\n" % tag).encode()))
    record = [_record_line(name, data) for name, data in files]
    record.append(info + "/RECORD,,")
    files.append((info + "/RECORD", ("\n".join(record) + "\n").encode()))

    wheel_name = "%s-%s-%s.whl" % (_DIST, version, tag)
    with zipfile.ZipFile(os.path.join(wheel_directory, wheel_name), "w",
                         zipfile.ZIP_DEFLATED) as wheel:
        for name, data in files:
            entry = zipfile.ZipInfo(name, date_time=(2020, 1, 1, 0, 0, 0))
            entry.external_attr = (0o755 if name.endswith((".so.1", ".dylib", ".dll")) else 0o644) << 16
            wheel.writestr(entry, data, zipfile.ZIP_DEFLATED)
    return wheel_name
