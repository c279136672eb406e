"""Replacing by pattern across a tree, held against Python's re.sub on
generated trees: every encoding and line end, groups in the template,
previews that apply with patch, and hashes that guard the apply."""

import base64
import codecs
import os
import random
import re
import shutil
import subprocess
import tempfile
import unittest

import quenmar_grep as qg

WORDS = ["foo", "bar", "foo_bar", "FooBar", "FOO", "size_t", "ssize_t", "x1", "xy1", "42",
         "a", "b", "ab", "(c)", "()", "$", "\\", "é", "日本", " ", "  ", "\t", "-", "=", ";",
         "ΩMEGA", "ωmega", "Straße", "x²", "ſize_t"]
ENDINGS = ["\n", "\n", "\n", "\r\n", "\r"]
ENCODINGS = ["utf-8", "utf-8", "utf-8-sig", "utf-16-le", "utf-16-be"]
BOMS = {"utf-8": b"", "utf-8-sig": b"", "utf-16-le": codecs.BOM_UTF16_LE,
        "utf-16-be": codecs.BOM_UTF16_BE}

# (pattern in the standard syntax, its group names) for generated templates.
PATTERNS = [
    (r"foo", []), (r"(foo)_(bar)", []), (r"(?P<w>[a-z]+)(\d+)", ["w"]),
    (r"(size_t)", []), (r"(a)|(b)", []), (r"x(y)?1", []), (r"[A-Z][a-z]+", []),
    (r"(f)(o)(o)", []), (r"\$", []), (r"\(([^)]*)\)", []), (r"(?:fo|ba)(o|r)", []),
    (r"é", []), (r"\s+", []), (r"(?P<n>\d)(?P<m>\d)", ["n", "m"]), (r"(\w)(\w)*", []),
    (r"[^\s;]+;?", []), (r"\\", []), (r"(日)(本)", []),
]


def group_count(pattern):
    return re.compile(pattern).groups


def random_template(rng, pattern, names):
    """A template and its translation for re.sub."""
    ours, theirs = [], []
    groups = group_count(pattern)
    for _ in range(rng.randint(0, 4)):
        kind = rng.randrange(6)
        if kind == 0 or (kind in (2, 3) and groups == 0) or (kind == 4 and not names):
            text = rng.choice(["<", "z", "\\", "\\1", "'", " ", "é", "\n", "-"])
            ours.append(text)
            theirs.append(text.replace("\\", "\\\\"))
        elif kind == 1:
            ours.append("$0")
            theirs.append("\\g<0>")
        elif kind == 2:
            g = rng.randint(1, groups)
            # A bare reference before a digit would read two digits.
            ours.append("${%d}" % g if rng.random() < 0.5 else "$%d" % g)
            theirs.append("\\g<%d>" % g)
            if not ours[-1].startswith("${"):
                ours.append("-")
                theirs.append("-")
        elif kind == 3:
            g = rng.randint(1, groups)
            ours.append("${%d}" % g)
            theirs.append("\\g<%d>" % g)
        elif kind == 4:
            name = rng.choice(names)
            ours.append("${%s}" % name)
            theirs.append("\\g<%s>" % name)
        else:
            ours.append("$$")
            theirs.append("$")
    return "".join(ours), "".join(theirs)


def random_text(rng):
    lines = []
    for _ in range(rng.randint(0, 6)):
        line = "".join(rng.choice(WORDS) for _ in range(rng.randint(0, 7)))
        lines.append(line + rng.choice(ENDINGS))
    if lines and rng.random() < 0.3:
        lines[-1] = lines[-1].rstrip("\r\n")
    return "".join(lines)


def encode(text, encoding):
    return BOMS[encoding] + text.encode(encoding)


LINE = re.compile(r"([^\r\n]*)(\r\n|\r|\n|$)")


def expected_text(text, regex, template):
    """re.sub on each line's text (the line rule: CR LF, lone CR and LF end
    lines), the line ends kept as they are."""
    out = []
    for m in LINE.finditer(text):
        if m.group(0) == "" and m.start() == len(text):
            break
        out.append(regex.sub(template, m.group(1)) + m.group(2))
    return "".join(out)


class GeneratedTrees(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="quenmar-grep-replace-")
        self.addCleanup(shutil.rmtree, self.dir, ignore_errors=True)

    def make_tree(self, rng, root):
        """Writes a generated tree; returns {path: (text, encoding)}."""
        files = {}
        for k in range(rng.randint(1, 5)):
            rel = os.path.join("d%d" % (k % 2), "f%d.txt" % k) if k % 3 else "f%d.txt" % k
            path = os.path.join(root, rel)
            os.makedirs(os.path.dirname(path), exist_ok=True)
            text, encoding = random_text(rng), rng.choice(ENCODINGS)
            with open(path, "wb") as f:
                f.write(encode(text, encoding))
            files[path] = (text, encoding)
        return files

    def check_tree(self, rng, case, pattern, template, py_template, flags, keywords):
        root = os.path.join(self.dir, "t%d" % case)
        files = self.make_tree(rng, root)
        flags |= 0 if keywords.get("unicode") else re.ASCII
        regex = re.compile(pattern, flags)
        if keywords.get("whole_word"):
            regex = re.compile(r"\b(?:%s)\b" % pattern, flags)
        preview = qg.replace(root, pattern, template, regex=True, dry_run=True, **keywords)
        result = qg.replace(root, pattern, template, regex=True, **keywords)
        where = "case %d: %r -> %r %r" % (case, pattern, template, keywords)
        self.assertTrue(result["success"], where + repr(result))
        replaced = {f["file"]: f for f in result["files"]}
        previewed = {f["file"]: f for f in preview["files"]}
        self.assertEqual(replaced.keys(), previewed.keys(), where)
        for path, (text, encoding) in files.items():
            want_text = expected_text(text, regex, py_template)
            with open(path, "rb") as f:
                got = f.read()
            self.assertEqual(got, encode(want_text, encoding), "%s: %s %r" % (where, path, text))
            count = sum(len(regex.findall(m.group(1))) for m in LINE.finditer(text))
            self.assertEqual(replaced[path]["replacements"] if path in replaced else 0, count,
                             where + path)
        return preview, files

    def test_the_written_files_are_re_sub_of_each_line(self):
        rng = random.Random(20261211)
        for case in range(150):
            pattern, names = PATTERNS[case % len(PATTERNS)]
            template, py_template = random_template(rng, pattern, names)
            keywords = {}
            flags = 0
            if rng.random() < 0.3:
                keywords["ignore_case"] = True
                flags = re.IGNORECASE
            if rng.random() < 0.2:
                keywords["whole_word"] = True
            if rng.random() < 0.4:
                keywords["unicode"] = True  # Unicode's classes, words and folding, as re's
            self.check_tree(rng, case, pattern, template, py_template, flags, keywords)

    def test_the_dialect_and_literals_replace_what_search_reports(self):
        # The oracle is the search with the same options: every submatch of
        # every reported line, at its byte columns, replaced.
        rng = random.Random(11)
        cases = [("fo+", True), (r"\w+_\d", True), ("[a-c]x?", True), ("^foo", True),
                 ("bar$", True), ("a|(c)", True), (r"\$", True), ("foo", False),
                 ("(c)", False), ("size_t", False), ("é", False)]
        for case in range(60):
            pattern, dialect = cases[case % len(cases)]
            # A literal pattern reads $1 as text; the dialect has no groups to name.
            template = rng.choice(["", "X", "<$0>", "$$", "$0$0"] + ([] if dialect else ["$1"]))
            keywords = {"ignore_case": rng.random() < 0.3, "whole_word": rng.random() < 0.3}
            if dialect:
                keywords["syntax"] = "dialect"
            root = os.path.join(self.dir, "d%d" % case)
            files = self.make_tree(rng, root)
            found = qg.search(root, pattern, submatches=True, **keywords)
            spans = {}
            for m in found["matches"]:
                spans[(m["file"], m["line"])] = [(s["col"], s["length"]) for s in m["submatches"]]
            qg.replace(root, pattern, template, **keywords)
            expansion = template.replace("$$", "\0").replace("$0", "\1").replace("\0", "$")
            for path, (text, encoding) in files.items():
                lines = []
                for number, m in enumerate(LINE.finditer(text), 1):
                    if m.group(0) == "" and m.start() == len(text):
                        break
                    line = m.group(1).encode("utf-8")
                    out, at = b"", 0
                    for col, length in spans.get((path, number), []):
                        match = line[col - 1:col - 1 + length]
                        out += line[at:col - 1] + expansion.encode().replace(b"\1", match)
                        at = col - 1 + length
                    lines.append((out + line[at:]).decode("utf-8") + m.group(2))
                with open(path, "rb") as f:
                    self.assertEqual(f.read(), encode("".join(lines), encoding),
                                     "case %d: %r %r %r %s" % (case, pattern, template, keywords, path))

    def test_previews_apply_with_patch_to_give_the_written_files(self):
        if shutil.which("patch") is None:
            self.skipTest("patch is not installed")
        rng = random.Random(7)
        for case in range(40):
            pattern, names = PATTERNS[case % len(PATTERNS)]
            template, py_template = random_template(rng, pattern, names)
            state = rng.getstate()
            preview, files = self.check_tree(rng, case, pattern, template, py_template, 0, {})
            # The same tree again, as it was before the replace, patched.
            rng.setstate(state)
            root = os.path.join(self.dir, "p%d" % case)
            originals = self.make_tree(rng, root)
            self.assertEqual(len(originals), len(files))
            for entry in preview["files"]:
                source = entry["file"]
                target = os.path.join(root, os.path.relpath(source, os.path.join(self.dir, "t%d" % case)))
                diff = (base64.b64decode(entry["diff_base64"]) if "diff_base64" in entry
                        else entry["diff"].encode("utf-8"))
                encoding = originals[target][1]
                if not diff:  # replacements that leave the bytes as they were
                    with open(target, "rb") as f:
                        self.assertEqual(f.read(), encode(originals[target][0], encoding))
                    continue
                # A UTF-16 file's diff is of its text in UTF-8, as the reader gives it.
                if encoding.startswith("utf-16"):
                    with open(target, "wb") as f:
                        f.write(originals[target][0].encode("utf-8"))
                subprocess.run(["patch", "--quiet", "--binary", target], input=diff, check=True)
                with open(target, "rb") as f:
                    patched = f.read()
                if encoding.startswith("utf-16"):
                    patched = encode(patched.decode("utf-8"), encoding)
                with open(source, "rb") as f:
                    self.assertEqual(patched, f.read(), "case %d: %s" % (case, source))


class Guards(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="quenmar-grep-replace-")
        self.addCleanup(shutil.rmtree, self.dir, ignore_errors=True)

    def write(self, name, data):
        path = os.path.join(self.dir, name)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(data)
        return path

    def read(self, path):
        with open(path, "rb") as f:
            return f.read()

    def test_expect_applies_what_was_previewed_and_nothing_else(self):
        a = self.write("a.c", b"int size_t;\n")
        b = self.write("b.c", b"size_t b;\n")
        c = self.write("c.c", b"size_t c;\n")
        preview = qg.replace(self.dir, r"\bsize_t\b", "usize", regex=True, dry_run=True)
        hashes = {f["file"]: f["sha256"] for f in preview["files"]}
        self.assertEqual(sorted(hashes), [a, b, c])
        for path in (a, b, c):  # a dry run writes nothing
            self.assertIn(b"size_t", self.read(path))
        self.write("b.c", b"size_t b; size_t again;\n")  # changed since its preview
        del hashes[c]  # not previewed
        result = qg.replace(self.dir, r"\bsize_t\b", "usize", regex=True, expect=hashes)
        self.assertFalse(result["success"])
        self.assertEqual([f["file"] for f in result["files"]], [a])
        self.assertEqual(result["failures"], [{
            "file": b, "status": "GREP_E_IO",
            "message": "File '%s' changed since it was read" % b}])
        self.assertEqual(qg.last_status(), qg.Status.E_IO)
        self.assertEqual(self.read(a), b"int usize;\n")
        self.assertEqual(self.read(b), b"size_t b; size_t again;\n")
        self.assertEqual(self.read(c), b"size_t c;\n")
        # A previewed file that is gone fails alone too.
        os.remove(a)
        result = qg.replace(self.dir, "size_t", "x", expect={a: "0" * 64})
        self.assertEqual([f["file"] for f in result["failures"]], [a])
        self.assertEqual(self.read(c), b"size_t c;\n")

    def test_hashes_are_of_the_bytes_as_read(self):
        import hashlib
        data = codecs.BOM_UTF16_LE + "name = 1\r\n".encode("utf-16-le")
        path = self.write("u.txt", data)
        preview = qg.replace(self.dir, "name", "n", dry_run=True)
        self.assertEqual(preview["files"][0]["sha256"], hashlib.sha256(data).hexdigest())
        qg.replace(self.dir, "name", "n")
        self.assertEqual(self.read(path), codecs.BOM_UTF16_LE + "n = 1\r\n".encode("utf-16-le"))

    def test_binary_files_and_second_paths_are_left_alone(self):
        binary = self.write("bin.dat", b"size_t\x00size_t\n")
        text = self.write("t.c", b"size_t\n")
        os.symlink(text, os.path.join(self.dir, "link.c"))
        result = qg.replace(self.dir, "size_t", "z")
        self.assertEqual(result["total_replacements"], 1, result)
        self.assertEqual(self.read(binary), b"size_t\x00size_t\n")
        self.assertEqual(self.read(text), b"z\n")

    def test_templates_refused_before_anything_is_read(self):
        path = self.write("a.c", b"ab\n")
        for pattern, template, message in [
                (r"(a)", "$2", "Replacement refers to $2, a group the pattern does not have"),
                (r"(a)", "${nope}", "Replacement refers to ${nope}, a group the pattern does not have"),
                (r"(a)", "$x", "Replacement refers to $x, which names a group only as ${name} "
                               "(write $$ for a dollar)"),
                (r"(a)", "${1", "Replacement refers to ${1, which has no closing '}'"),
                (r"(a)", "${-}", "Replacement refers to ${-}, which is not a group number or a "
                                 "group's name")]:
            with self.assertRaises(qg.QuenmarGrepError) as raised:
                qg.replace(self.dir, pattern, template, regex=True)
            self.assertEqual(str(raised.exception), message)
            self.assertEqual(raised.exception.status, qg.Status.E_ARGUMENT)
        self.assertEqual(self.read(path), b"ab\n")
        with self.assertRaises(qg.QuenmarGrepError):
            qg.replace(self.dir, "a", "b", invert_match=True)
        # A literal pattern reads only $$ and $0.
        qg.replace(self.dir, "a", "$1${x}$$[$0]")
        self.assertEqual(self.read(path), b"$1${x}$[a]b\n")

    def test_preserve_case_gives_each_match_its_shape(self):
        rows = [("foo_bar", "new_name"), ("FOO_BAR", "NEW_NAME"), ("FooBar", "NewName"),
                ("fooBar", "newName"), ("foobar", "new_name"), ("FOOBAR", "NEW_NAME"),
                ("Foo_Bar", "New_Name"), ("foo-bar", "new-name"), ("FOO-BAR", "NEW-NAME"),
                ("fOO_bAR", "new_name")]
        path = self.write("a.c", "\n".join(m for m, _ in rows).encode() + b"\n")
        qg.replace(self.dir, r"foo[-_]?bar", "new_name", regex=True, ignore_case=True,
                   preserve_case=True)
        self.assertEqual(self.read(path).decode().splitlines(), [w for _, w in rows])
        # A template with references is expanded as written.
        path = self.write("a.c", b"FOO_BAR\n")
        qg.replace(self.dir, r"(foo)_bar", "$1_x", regex=True, ignore_case=True,
                   preserve_case=True)
        self.assertEqual(self.read(path), b"FOO_x\n")


if __name__ == "__main__":
    unittest.main()
