"""Where the binding looks for the shared library, checked in fresh
interpreters so that each sees only the environment it is given."""

import os
import shutil
import subprocess
import sys
import tempfile
import unittest

import quenmar_grep

PACKAGE_DIR = os.path.dirname(os.path.abspath(quenmar_grep.__file__))
LIBRARY = os.environ.get("QUENMAR_GREP_LIBRARY", "")


def run_python(code, env_changes, pythonpath):
    env = {k: v for k, v in os.environ.items() if k not in ("QUENMAR_GREP_LIBRARY", "PYTHONPATH")}
    env.update(env_changes)
    env["PYTHONPATH"] = pythonpath
    env["PYTHONDONTWRITEBYTECODE"] = "1"
    return subprocess.run([sys.executable, "-c", code], env=env, capture_output=True, text=True,
                          timeout=60)


@unittest.skipUnless(os.path.isfile(LIBRARY), "QUENMAR_GREP_LIBRARY names no built library")
class Loading(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="quenmar-grep-py-load-")
        self.addCleanup(shutil.rmtree, self.dir, ignore_errors=True)
        self.package = os.path.join(self.dir, "quenmar_grep")
        shutil.copytree(PACKAGE_DIR, self.package)

    def test_the_environment_variable_comes_first(self):
        result = run_python("import quenmar_grep as q; print(q.version())",
                            {"QUENMAR_GREP_LIBRARY": LIBRARY}, self.dir)
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertEqual(result.stdout, "1.0.0\n")

    def test_a_wrong_environment_variable_is_an_error_not_a_fallback(self):
        shutil.copy(LIBRARY, os.path.join(self.package, "libquenmar-grep.so.1"))
        missing = os.path.join(self.dir, "nowhere.so")
        result = run_python("import quenmar_grep as q; q.version()",
                            {"QUENMAR_GREP_LIBRARY": missing}, self.dir)
        self.assertNotEqual(result.returncode, 0)
        self.assertIn("OSError", result.stderr)
        self.assertIn(missing, result.stderr)
        self.assertIn("QUENMAR_GREP_LIBRARY", result.stderr)

    @unittest.skipUnless(sys.platform.startswith("linux"), "library file name of Linux")
    def test_a_copy_in_the_package_folder_is_found(self):
        shutil.copy(LIBRARY, os.path.join(self.package, "libquenmar-grep.so.1"))
        code = ("import quenmar_grep as q, quenmar_grep._native as n; print(q.version()); "
                "print(n.library()._name)")
        result = run_python(code, {}, self.dir)
        self.assertEqual(result.returncode, 0, result.stderr)
        version, loaded = result.stdout.splitlines()
        self.assertEqual(version, "1.0.0")
        self.assertEqual(loaded, os.path.join(self.package, "libquenmar-grep.so.1"))


if __name__ == "__main__":
    unittest.main()
