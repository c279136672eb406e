"""The Python binding against the real library (QUENMAR_GREP_LIBRARY)."""

import os
import queue
import re
import shutil
import tempfile
import threading
import unittest

import quenmar_grep as qg
from quenmar_grep import _native

SOURCE_ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.dirname(
    os.path.abspath(__file__)))))


class TempTree(unittest.TestCase):
    """Each test gets a fresh folder; write() puts exact bytes in it."""

    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="quenmar-grep-py-")
        self.addCleanup(shutil.rmtree, self.dir, ignore_errors=True)

    def write(self, relative, data):
        path = os.path.join(self.dir, relative)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(data if isinstance(data, bytes) else data.encode("utf-8"))
        return path

    def read(self, path):
        with open(path, "rb") as f:
            return f.read()


class VersionAndErrors(unittest.TestCase):
    def test_version_is_the_projects(self):
        with open(os.path.join(SOURCE_ROOT, "CMakeLists.txt"), encoding="utf-8") as f:
            project = re.search(r"project\(quenmar-grep VERSION ([0-9.]+)", f.read()).group(1)
        self.assertEqual(qg.version(), project)

    def test_declarations_are_the_headers(self):
        # Every function the public header exports, with as many arguments,
        # and nothing else: adding an export cannot leave the binding behind.
        with open(os.path.join(SOURCE_ROOT, "include", "quenmar_grep.h"), encoding="utf-8") as f:
            header = f.read()
        exports = {}
        for name, params in re.findall(r"\nQUENMAR_GREP_API [^(;#]*?\b(\w+)\(([^)]*)\)", header):
            params = params.strip()
            exports[name] = 0 if params in ("", "void") else params.count(",") + 1
        self.assertGreaterEqual(len(exports), 8)
        declared = {name: len(argtypes) for name, (argtypes, _) in _native.SIGNATURES.items()}
        self.assertEqual(declared, exports)

    def test_list_files_names_what_a_search_reads(self):
        with tempfile.TemporaryDirectory() as root:
            for name in ("a.c", "sub/b.h", "build/c.c", "empty.txt"):
                os.makedirs(os.path.dirname(os.path.join(root, name)), exist_ok=True)
                with open(os.path.join(root, name), "w", encoding="utf-8") as f:
                    f.write("" if name == "empty.txt" else "x\n")
            self.assertEqual(sorted(os.path.relpath(p, root) for p in qg.list_files(root)),
                             ["a.c", "empty.txt", os.path.join("sub", "b.h")])
            self.assertEqual(qg.list_files(root, include="*.h"), [os.path.join(root, "sub", "b.h")])
            self.assertEqual(qg.list_files(root, options={"path_globs": ["build", "build/*.c"]}),
                             [os.path.join(root, "build", "c.c")])
            with self.assertRaises(qg.NotFoundError):
                qg.list_files(os.path.join(root, "missing"))

    def test_error_carries_the_last_error_text_and_status(self):
        with self.assertRaises(qg.QuenmarGrepError) as caught:
            qg.read_lines("")
        self.assertEqual(str(caught.exception), "Missing file_path")
        self.assertEqual(caught.exception.status, qg.Status.E_ARGUMENT)
        self.assertEqual(qg.last_error(), "Missing file_path")
        self.assertEqual(qg.last_status(), qg.Status.E_ARGUMENT)

    def test_last_error_is_per_thread(self):
        with self.assertRaises(qg.QuenmarGrepError):
            qg.read_lines("")
        seen = []
        thread = threading.Thread(target=lambda: seen.append(qg.last_error()))
        thread.start()
        thread.join()
        self.assertEqual(seen, [""])

    def test_arguments_the_library_cannot_take(self):
        for call in (lambda: qg.read_lines("a\0b"),
                     lambda: qg.search(".", "x\0y"),
                     lambda: qg.read_lines("f", 2**31)):
            with self.assertRaises(ValueError):
                call()

    def test_keyword_options_are_read_strictly_by_the_library(self):
        # The keywords are the schema's: a misspelt one is a TypeError here,
        # and a value the library cannot take is refused by it, key named.
        with self.assertRaises(TypeError):
            qg.search(".", "x", ignor_case=True)
        rows = [
            (dict(max_results=-2**31 - 1), "Option 'max_results' takes an integer within 32 bits"),
            (dict(hidden="yes"), "Option 'hidden' takes true or false"),
            (dict(syntax="perl"), "Unknown syntax 'perl'"),
            (dict(context_lines="3"), "Option 'context_lines' takes an integer within 32 bits"),
        ]
        for keywords, message in rows:
            with self.subTest(keywords=keywords):
                with self.assertRaises(qg.QuenmarGrepError) as caught:
                    qg.search(".", "x", **keywords)
                self.assertEqual(str(caught.exception), message)
                self.assertEqual(caught.exception.status, qg.Status.E_ARGUMENT)
        schema = {o["keyword"] for o in qg.options_schema()} - {"strict"}
        self.assertEqual(set(qg.SearchOptions.__annotations__) - {"strict"}, schema)

    def test_statuses_are_the_headers(self):
        with open(os.path.join(SOURCE_ROOT, "include", "quenmar_grep.h"), encoding="utf-8") as f:
            header = f.read()
        enum_body = re.search(r"typedef enum grep_status \{(.*?)\} grep_status;", header, re.S)
        named = dict(re.findall(r"^\s*GREP_([A-Z_]+)\s*=\s*(-?\d+)", enum_body.group(1), re.M))
        self.assertEqual({s.name: s.value for s in qg.Status}, {k: int(v) for k, v in named.items()})
        lib = _native.library()
        for status in qg.Status:
            self.assertEqual(lib.grep_status_name(status.value).decode(), "GREP_" + status.name)
        self.assertEqual(lib.grep_status_name(77), b"")


class ReadLines(TempTree):
    def test_selection(self):
        path = self.write("five.txt", b"a\r\nb\n\nc\r\r\nd")
        rows = [
            ((), "1: a\n2: b\n3: \n4: c\n5: \n6: d\n"),
            ((2, 3), "2: b\n3: \n"),
            ((3, 0), "3: \n4: c\n5: \n6: d\n"),
            ((0, 2), "1: a\n2: b\n3: \n4: c\n5: \n6: d\n"),
            ((6, 9), "6: d\n"),
        ]
        for args, expected in rows:
            with self.subTest(args=args):
                self.assertEqual(qg.read_lines(path, *args), expected)

    def test_failures_raise_with_the_message(self):
        path = self.write("five.txt", b"1\n2\n3\n4\n5\n")
        rows = [
            ((6, 9), "File has only 5 lines, requested start at line 6"),
            ((4, 2), "start_line (4) must be <= end_line (2)"),
        ]
        for args, message in rows:
            with self.subTest(args=args):
                with self.assertRaises(qg.QuenmarGrepError) as caught:
                    qg.read_lines(path, *args)
                self.assertEqual(str(caught.exception), message)

    def test_empty_file_is_empty_not_an_error(self):
        path = self.write("empty.txt", b"")
        self.assertEqual(qg.read_lines(path), "")
        with self.assertRaises(qg.QuenmarGrepError):
            qg.read_lines(path, 1)

    def test_whole_read_failure_is_told_from_an_empty_file_despite_an_old_error(self):
        empty = self.write("empty.txt", b"")
        missing = os.path.join(self.dir, "missing.txt")
        # A stale message from an earlier failure must not make an empty file fail ...
        with self.assertRaises(qg.QuenmarGrepError):
            qg.read_lines(missing)
        self.assertEqual(qg.read_lines(empty), "")
        # ... and a failing whole read must not pass for an empty file.
        with self.assertRaises(qg.QuenmarGrepError) as caught:
            qg.read_lines(missing)
        self.assertIn("missing.txt", str(caught.exception))

    def test_bytes_that_are_not_utf8_survive_a_read_and_write_back(self):
        path = self.write("latin1.txt", b"caf\xe9\nplain\n")
        text = qg.read_lines(path, 1, 1)
        self.assertEqual(text.encode("utf-8", "surrogateescape"), b"1: caf\xe9\n")
        qg.replace_lines(path, 2, 2, text[len("1: "):])
        self.assertEqual(self.read(path), b"caf\xe9\ncaf\xe9\n")

    def test_returned_text_is_a_copy(self):
        path = self.write("f.txt", b"one\ntwo\n")
        first = qg.read_lines(path, 1, 1)
        qg.read_lines(path, 2, 2)
        self.assertEqual(first, "1: one\n")

    def test_path_like_and_bytes_paths(self):
        path = self.write("f.txt", b"x\n")
        import pathlib
        self.assertEqual(qg.read_lines(pathlib.Path(path)), "1: x\n")
        self.assertEqual(qg.read_lines(os.fsencode(path)), "1: x\n")


class Edits(TempTree):
    def test_replace_insert_delete(self):
        path = self.write("f.txt", b"a\r\nb\r\nc\r\n")
        qg.replace_lines(path, 2, 2, "B")
        self.assertEqual(self.read(path), b"a\r\nB\r\nc\r\n")
        qg.replace_lines(path, 1, 0, "top\n")
        self.assertEqual(self.read(path), b"top\r\na\r\nB\r\nc\r\n")
        qg.replace_lines(path, 2, 3, "")
        self.assertEqual(self.read(path), b"top\r\nc\r\n")

    def test_replace_failure_raises(self):
        missing = os.path.join(self.dir, "missing.txt")
        with self.assertRaises(qg.QuenmarGrepError) as caught:
            qg.replace_lines(missing, 1, 1, "x")
        self.assertIn(missing, str(caught.exception))

    def test_batch_forms_and_report(self):
        one = self.write("one.txt", b"1\n2\n3\n")
        two = self.write("two.txt", b"x\n")
        missing = os.path.join(self.dir, "missing.txt")
        result = qg.batch_replace([
            {"file": one, "start_line": 2, "end_line": 2, "new_text": "deux"},
            {"file": missing, "start_line": 1, "end_line": 1, "new_text": "x"},
            {"file_path": two, "start_line": 1, "end_line": 1, "new_text": "X"},
        ])
        self.assertFalse(result["success"])
        self.assertEqual(result["files_modified"], 2)
        self.assertEqual(result["total_edits"], 3)
        self.assertEqual(len(result["errors"]), 1)
        self.assertTrue(result["errors"][0].startswith(missing + ": "))
        self.assertEqual(result["failures"], [{"file": missing, "status": "GREP_E_NOT_FOUND",
                                               "message": result["errors"][0][len(missing) + 2:]}])
        self.assertEqual(self.read(one), b"1\ndeux\n3\n")
        self.assertEqual(self.read(two), b"X\n")

        result = qg.batch_replace({"edits": [{"file": one, "start_line": 1}]})
        self.assertEqual(result, {"success": True, "files_modified": 1, "total_edits": 1,
                                  "errors": [], "failures": []})
        self.assertEqual(self.read(one), b"deux\n3\n")

        text = '[{"file": %s, "start_line": 1, "new_text": "\u00e9t\u00e9"}]' % (
            qg.json.dumps(one))
        self.assertTrue(qg.batch_replace(text)["success"])
        self.assertEqual(self.read(one), "été\n3\n".encode("utf-8"))

    def test_expected_text_guards_a_replacement(self):
        path = self.write("f.txt", b"a\r\nb\r\nc\r\n")
        with self.assertRaises(qg.QuenmarGrepError) as caught:
            qg.replace_lines(path, 2, 3, "X", expected="b\nC")
        self.assertEqual(caught.exception.status, qg.Status.E_CONFLICT)
        self.assertEqual(self.read(path), b"a\r\nb\r\nc\r\n")
        qg.replace_lines(path, 2, 3, "X", expected=b"b\nc")
        self.assertEqual(self.read(path), b"a\r\nX\r\n")

    def test_edit_text_unique_all_and_dry_run(self):
        path = self.write("f.txt", "x = 1\ny = 1\n")
        with self.assertRaises(qg.QuenmarGrepError) as caught:
            qg.edit_text(path, "1", "2")
        self.assertEqual(caught.exception.status, qg.Status.E_CONFLICT)
        self.assertIn("occurs 2 times", str(caught.exception))
        diff = qg.edit_text(path, "y = 1", "y = 2", dry_run=True)
        self.assertEqual(diff, "--- %s\n+++ %s\n@@ -1,2 +1,2 @@\n x = 1\n-y = 1\n+y = 2\n"
                         % (path, path))
        self.assertEqual(self.read(path), b"x = 1\ny = 1\n")
        self.assertIsNone(qg.edit_text(path, "1", "\u00e9", replace_all=True))
        self.assertEqual(self.read(path), "x = \u00e9\ny = \u00e9\n".encode("utf-8"))
        with self.assertRaises(ValueError):
            qg.edit_text(path, b"\xff", "x")

    def test_batch_dry_run_in_every_form(self):
        path = self.write("f.txt", b"1\n2\n")
        edit = {"file": path, "old_text": "2", "new_text": "two"}
        want = [{"file": path, "diff": "--- %s\n+++ %s\n@@ -1,2 +1,2 @@\n 1\n-2\n+two\n"
                 % (path, path)}]
        for form in ([edit], {"edits": [edit]}, qg.json.dumps([edit])):
            result = qg.batch_replace(form, dry_run=True)
            self.assertTrue(result["success"], result)
            self.assertEqual(result["diffs"], want)
        self.assertEqual(self.read(path), b"1\n2\n")
        self.assertNotIn("diffs", qg.batch_replace([edit]))
        self.assertEqual(self.read(path), b"1\ntwo\n")

    def test_edits_change_only_what_they_name(self):
        path = self.write("f.txt", b"a\r\nb\nc\rd")
        qg.replace_lines(path, 2, 2, "B")
        self.assertEqual(self.read(path), b"a\r\nB\nc\rd")
        qg.edit_text(path, "c", "C")
        self.assertEqual(self.read(path), b"a\r\nB\nC\rd")
        with self.assertRaises(qg.QuenmarGrepError) as caught:
            qg.replace_lines(path, 9, 9, "x")
        self.assertEqual(str(caught.exception), "File has only 4 lines, requested start at line 9")
        edit = {"file": path, "start_line": 1, "new_text": "A"}
        for form in ([edit], {"edits": [edit]}, qg.json.dumps([edit]),
                     ' {"edits": %s}' % qg.json.dumps([edit]), qg.json.dumps([edit]).encode()):
            self.write("f.txt", b"a\r\nB\nC\rd")
            self.assertTrue(qg.batch_replace(form)["success"], form)
            self.assertEqual(self.read(path), b"A\r\nB\nC\rd", form)
        for form in ({"edits": [edit], "exact": False}, '{"exact":false,"edits":[%s]}'
                     % qg.json.dumps(edit)):
            self.write("f.txt", b"a\r\nB\nC\rd")
            self.assertTrue(qg.batch_replace(form)["success"], form)
            self.assertEqual(self.read(path), b"A\nB\nC\nd\n", form)
        self.write("f.txt", b"a\r\nb\n")
        qg.replace_lines(path, 1, 1, "x", exact=False)
        self.assertEqual(self.read(path), b"x\nb\n")

    def test_misspelt_members_and_diffs_of_other_bytes(self):
        path = self.write("f.txt", b"caf\xe9\nx\n")
        result = qg.batch_replace([{"file": path, "start_lin": 2, "new_text": "y"}])
        self.assertFalse(result["success"])
        self.assertIn("unknown member 'start_lin'", result["errors"][0])
        result = qg.batch_replace({"edits": [], "dryrun": True})
        self.assertFalse(result["success"])
        self.assertIn("Unknown member 'dryrun'", result["errors"][0])
        diff = qg.edit_text(path, "x", "y", dry_run=True)
        self.assertEqual(diff.encode("utf-8", "surrogateescape"),
                         b"--- %s\n+++ %s\n@@ -1,2 +1,2 @@\n caf\xe9\n-x\n+y\n"
                         % (path.encode(), path.encode()))
        self.assertEqual(self.read(path), b"caf\xe9\nx\n")

    def test_batch_of_invalid_json_is_a_failed_report(self):
        result = qg.batch_replace('[{"file":')
        self.assertFalse(result["success"])
        self.assertTrue(result["errors"])


class Search(TempTree):
    def setUp(self):
        super().setUp()
        self.write("tree/a.c", "int alpha;\nint beta;\n")
        self.write("tree/b.h", "// Beta here\n")
        self.write("tree/sub/c.md", "beta\nbetamax\n")
        self.root = os.path.join(self.dir, "tree")

    def found(self, document_or_matches):
        matches = document_or_matches
        if isinstance(matches, dict):
            matches = matches["matches"]
        return sorted((os.path.relpath(m["file"], self.root), m["line"], m["col"]) for m in matches)

    def test_document_and_keyword_options(self):
        rows = [
            ({}, [("a.c", 2, 5), ("sub/c.md", 1, 1), ("sub/c.md", 2, 1)]),
            ({"ignore_case": True},
             [("a.c", 2, 5), ("b.h", 1, 4), ("sub/c.md", 1, 1), ("sub/c.md", 2, 1)]),
            ({"whole_word": True}, [("a.c", 2, 5), ("sub/c.md", 1, 1)]),
            ({"regex": True, "ignore_case": True},
             [("a.c", 2, 5), ("b.h", 1, 4), ("sub/c.md", 1, 1), ("sub/c.md", 2, 1)]),
            ({"include": ("*.c", "*.h"), "ignore_case": True}, [("a.c", 2, 5), ("b.h", 1, 4)]),
            ({"include": "*.md"}, [("sub/c.md", 1, 1), ("sub/c.md", 2, 1)]),
            ({"exclude": ["*.md"]}, [("a.c", 2, 5)]),
            ({"exclude_dirs": ["sub"]}, [("a.c", 2, 5)]),
        ]
        for options, expected in rows:
            with self.subTest(options=options):
                pattern = "b[e]ta" if options.get("regex") else "beta"
                document = qg.search(self.root, pattern, **options)
                self.assertEqual(self.found(document), expected)
                self.assertEqual(document["total_matches"], len(expected))
                self.assertEqual(document["files_searched"] > 0, True)

    def test_missing_root_raises_the_librarys_not_found(self):
        missing = os.path.join(self.dir, "nosuchdir")
        for start in (lambda: qg.search(missing, "x"),
                      lambda: qg.search_stream(missing, "x", print),
                      lambda: list(qg.iter_search(missing, "x"))):
            with self.assertRaises(FileNotFoundError) as caught:
                start()
            self.assertIsInstance(caught.exception, qg.NotFoundError)
            self.assertEqual(caught.exception.status, qg.Status.E_NOT_FOUND)
            self.assertIn("nosuchdir", str(caught.exception))

    def test_numbered_lines_are_the_readers_pairs(self):
        path = self.write("n.txt", b"a\r\nb: c\n\nd")
        self.assertEqual(qg.numbered_lines(path), [(1, "a"), (2, "b: c"), (3, ""), (4, "d")])
        self.assertEqual(qg.numbered_lines(path, 2, 3), [(2, "b: c"), (3, "")])
        self.assertEqual(qg.numbered_lines(self.write("e.txt", b"")), [])

    def test_walk_keywords_send_the_documents_keys(self):
        self.write("tree/.hid/d.c", "beta\n")
        self.write("tree/build/e.c", "beta\n")
        self.write("tree/.gitignore", "*.md\n")
        rows = [
            (dict(hidden=True), {"hidden": True}),
            (dict(skip_dirs=False), {"skip_dirs": False}),
            (dict(gitignore=True), {"gitignore": True}),
            (dict(max_per_file=1), {"max_per_file": 1}),
            (dict(match_length=True, threads=2), {"match_length": True, "threads": 2}),
        ]
        plain = qg.search(self.root, "beta")
        for keywords, document in rows:
            with self.subTest(keywords=keywords):
                by_keywords = qg.search(self.root, "beta", **keywords)
                by_document = qg.search(self.root, "beta", options=document)
                self.assertEqual(by_keywords["matches"], by_document["matches"])
                self.assertNotEqual(by_keywords["matches"], plain["matches"])
        self.assertEqual({m["length"] for m in by_keywords["matches"]}, {4})
        # Defaults send nothing new: the same search as before these keys.
        self.assertEqual(qg.search(self.root, "beta", skip_dirs=True, follow_links=True)["matches"],
                         plain["matches"])

    def test_max_results_and_context(self):
        document = qg.search(os.path.join(self.root, "a.c"), "int", max_results=1,
                             context_lines=1)
        self.assertEqual(document["total_matches"], 1)
        self.assertEqual(document["matches"][0]["context"], ["int alpha;", "int beta;"])

    def test_failures_raise_the_library_message(self):
        message = 'Invalid JSON in options: {"regex":tru'
        with self.assertRaises(qg.QuenmarGrepError) as caught:
            qg.search(self.root, "beta", options='{"regex":tru')
        self.assertEqual(str(caught.exception), message)
        with self.assertRaises(qg.QuenmarGrepError) as caught:
            qg.search_stream(self.root, "beta", print, options='{"regex":tru')
        self.assertEqual(str(caught.exception), message)
        with self.assertRaises(qg.QuenmarGrepError):
            next(qg.iter_search(self.root, "beta", options='{"regex":tru'))

    def test_options_document_as_it_is(self):
        document = qg.search(self.root, "BETA", options={"ignore_case": True,
                                                         "include_globs": "*.c;*.h"})
        self.assertEqual(self.found(document), [("a.c", 2, 5), ("b.h", 1, 4)])
        with self.assertRaises(ValueError):
            qg.search(self.root, "beta", options="{}", regex=True)
        with self.assertRaises(ValueError):
            qg.search(self.root, "beta", options="{}", include=["*.c"])
        with self.assertRaises(ValueError):
            qg.search(self.root, "beta", options="{}", include=[])
        self.assertEqual(qg.search(self.root, "beta", options="{}")["total_matches"], 3)

    def test_search_lines_prints_as_the_tool_does(self):
        text, summary = qg.search_lines(self.root, "beta", context_lines=1, print="lines")
        document = qg.search(self.root, "beta", context_lines=1)
        self.assertEqual(summary["total_matches"], document["total_matches"])
        for m in document["matches"]:
            self.assertIn("%s:%d:%d:%s\n" % (m["file"], m["line"], m["col"], m["text"]), text)
        pieces = []
        empty, again = qg.search_lines(self.root, "beta", pieces.append, print="count")
        self.assertEqual(empty, "")
        counts = {}
        for m in document["matches"]:
            counts[m["file"]] = counts.get(m["file"], 0) + 1
        self.assertEqual(sorted("".join(pieces).splitlines()),
                         sorted("%s:%d" % item for item in counts.items()))
        self.assertEqual(again["files_matched"], len(counts))
        buffered, _ = qg.search_lines("buf.txt", "x", text="x\ny x\n", print="matches")
        self.assertEqual(buffered, "buf.txt:1:1:x\nbuf.txt:2:3:x\n")

    def test_stream_calls_back_in_document_order(self):
        seen = []
        count = qg.search_stream(self.root, "beta", seen.append, context_lines=1)
        document = qg.search(self.root, "beta", context_lines=1)
        self.assertEqual(count, 3)
        self.assertEqual(seen, document["matches"])

    def test_stream_callback_exception_is_raised_after_the_search(self):
        calls = []

        def callback(match):
            calls.append(match)
            raise RuntimeError("stop")

        with self.assertRaises(RuntimeError):
            qg.search_stream(self.root, "beta", callback)
        self.assertEqual(len(calls), 1)

    def test_iterator_yields_every_match_through_a_small_queue(self):
        for i in range(50):
            self.write("many/f%02d.txt" % i, "hit\n" * 3)
        many = os.path.join(self.dir, "many")
        got = list(qg.iter_search(many, "hit", queue_size=2))
        self.assertEqual(len(got), 150)
        self.assertEqual(sorted(got, key=lambda m: (m["file"], m["line"])),
                         sorted(qg.search(many, "hit")["matches"],
                                key=lambda m: (m["file"], m["line"])))

    def test_raising_callback_stops_the_search_at_once(self):
        for i in range(20):
            self.write("stop/f%02d.txt" % i, "hit\n" * 10)
        seen = []

        def callback(match):
            seen.append(match)
            if len(seen) == 3:
                raise KeyError("enough")

        with self.assertRaises(KeyError):
            qg.search_stream(os.path.join(self.dir, "stop"), "hit", callback)
        self.assertEqual(len(seen), 3)

    def test_timeout_returns_what_was_found(self):
        self.write("slow/long.txt", "a" * 40000 + "b\n")
        self.write("slow/a.txt", "ab\n")
        slow = os.path.join(self.dir, "slow")
        pattern = "a" * 20000 + "b|ab"
        document = qg.search(slow, pattern, regex=True, timeout_ms=30)
        self.assertTrue(document["timed_out"])
        self.assertEqual(qg.last_status(), qg.Status.TIMED_OUT)
        self.assertNotIn("timed_out", qg.search(slow, "zzz"))
        self.assertEqual(qg.last_status(), qg.Status.OK)
        # The streams deliver what was found, then raise TimeoutError.
        for run in (lambda seen: qg.search_stream(slow, pattern, seen.append, regex=True,
                                                  timeout_ms=30),
                    lambda seen: seen.extend(qg.iter_search(slow, pattern, regex=True,
                                                            timeout_ms=30))):
            seen = []
            with self.assertRaises(TimeoutError) as caught:
                run(seen)
            self.assertIsInstance(caught.exception, qg.SearchTimeout)
            self.assertEqual(str(caught.exception), "Search stopped at the time limit of 30 ms")
            self.assertEqual([m["text"] for m in seen], [m["text"] for m in document["matches"]])

    def test_output_cap_returns_what_fitted(self):
        self.write("cap/a.txt", "hit one\nhit two\nhit three\nhit four\n")
        root = os.path.join(self.dir, "cap")
        whole = qg.search(root, "hit")
        document = qg.search(root, "hit", max_output_bytes=300)
        self.assertTrue(document["output_limited"])
        self.assertEqual(qg.last_status(), qg.Status.OUTPUT_LIMITED)
        kept = document["matches"]
        self.assertTrue(0 < len(kept) < 4)
        self.assertEqual(kept, whole["matches"][:len(kept)])
        self.assertNotIn("output_limited", qg.search(root, "hit", max_output_bytes=0))
        for run in (lambda seen: qg.search_stream(root, "hit", seen.append, max_output_bytes=200),
                    lambda seen: seen.extend(qg.iter_search(root, "hit", max_output_bytes=200))):
            seen = []
            with self.assertRaises(qg.OutputLimited) as caught:
                run(seen)
            self.assertEqual(caught.exception.status, qg.Status.OUTPUT_LIMITED)
            self.assertEqual(str(caught.exception), "Search stopped at the output limit of 200 bytes")
            self.assertTrue(0 < len(seen) < 4)
            self.assertEqual(seen, whole["matches"][:len(seen)])

    def test_a_worker_that_ends_without_its_result_raises(self):
        # A worker that could not hand over its end (it ran out of memory
        # doing so) leaves an empty queue: the consumer raises, it does not
        # wait for ever.
        worker = threading.Thread(target=lambda: None)
        worker.start()
        worker.join()
        with self.assertRaises(qg.QuenmarGrepError) as caught:
            qg._next_from(queue.Queue(), worker)
        self.assertEqual(caught.exception.status, qg.Status.E_NO_MEMORY)
        ready = queue.Queue()
        ready.put("last")
        self.assertEqual(qg._next_from(ready, worker), "last")

    def test_search_text_and_submatches(self):
        document = qg.search_text("buf.py", "x = 1\nneedle, needle\n", "needle",
                                  submatches=True)
        self.assertEqual([(m["file"], m["line"], m["submatches"]) for m in document["matches"]],
                         [("buf.py", 2, [{"col": 1, "length": 6}, {"col": 9, "length": 6}])])
        utf16 = "needle\n".encode("utf-16")  # with its byte-order mark
        self.assertEqual(qg.search_text("u.txt", utf16, "needle")["total_matches"], 1)
        skipped = qg.search_text("buf.py", "needle", "needle", include=["*.c"])
        self.assertEqual((skipped["files_searched"], skipped["total_matches"]), (0, 0))
        with self.assertRaises(TypeError):
            qg.search_text("b", "x", "x", no_such_option=True)

    def test_captures_give_the_spans_python_gives(self):
        lines = ["call(12) and f(x)", "g()", "h_1(7) h_2(88)", "none here"]
        pattern = r"(?P<fn>\w+)\((\d+)?(\))?"
        document = qg.search_text("b.c", "\n".join(lines) + "\n", pattern, regex=True,
                                  captures=True, submatches=True)
        found = {m["line"]: m for m in document["matches"]}
        for number, line in enumerate(lines, 1):
            expected = list(re.finditer(pattern, line, re.ASCII))
            self.assertEqual(number in found, bool(expected), line)
            if not expected:
                continue
            for sub, match in zip(found[number]["submatches"], expected):
                spans = [None if match.start(i) < 0 else
                         dict(({"name": "fn"} if i == 1 else {}),
                              col=match.start(i) + 1, length=match.end(i) - match.start(i))
                         for i in range(1, 4)]
                self.assertEqual(sub["groups"], spans, line)
            self.assertEqual(found[number]["groups"], found[number]["submatches"][0]["groups"])

    def test_iterator_closed_early_stops_the_search(self):
        for i in range(20):
            self.write("many/f%02d.txt" % i, "hit\n" * 10)
        iterator = qg.iter_search(os.path.join(self.dir, "many"), "hit", queue_size=1)
        first = next(iterator)
        self.assertEqual(first["text"], "hit")
        iterator.close()
        workers = [t for t in threading.enumerate() if t.name == "quenmar-grep-search"]
        for worker in workers:
            worker.join(timeout=30)
            self.assertFalse(worker.is_alive())

    def test_invalid_utf8_in_a_matched_line_does_not_crash(self):
        self.write("latin/l.txt", b"caf\xe9 beta\n")
        document = qg.search(os.path.join(self.dir, "latin"), "beta")
        self.assertEqual(document["total_matches"], 1)
        self.assertEqual(len(document["matches"]), 1)
        self.assertIn("beta", document["matches"][0]["text"])

    def test_regex_means_the_standard_syntax_and_dialect_is_named(self):
        def found(**keywords):
            # What was found, without the time the search took.
            document = qg.search(self.root, pattern, **keywords)
            document.pop("duration_ms")
            return document

        pattern = r"\bbeta\b|alp(ha|ine)"
        standard = found(syntax="standard")
        self.assertGreater(standard["total_matches"], 0)
        self.assertEqual(found(regex=True), standard)
        # In the dialect the same text means something else; it is named to get it.
        self.assertEqual(found(syntax="dialect"), found(regex=True, syntax="dialect"))
        self.assertNotEqual(found(syntax="dialect")["total_matches"], standard["total_matches"])

    def test_standard_syntax(self):
        doc = qg.search(self.root, r"\bbeta\b|alp(ha|ine)", syntax="standard")
        self.assertEqual(sorted((os.path.basename(m["file"]), m["line"]) for m in doc["matches"]),
                         [("a.c", 1), ("a.c", 2), ("c.md", 1)])
        with self.assertRaises(qg.QuenmarGrepError) as caught:
            qg.search(self.root, "a{2,1}", syntax="standard")
        self.assertEqual(caught.exception.status, qg.Status.E_ARGUMENT)
        self.assertEqual(str(caught.exception),
                         "Invalid pattern: min repeat greater than max repeat at byte 1")
        with self.assertRaises(qg.QuenmarGrepError) as caught:
            qg.search_text("x.txt", "x", "x", syntax="perl")
        self.assertEqual(str(caught.exception), "Unknown syntax 'perl'")


if __name__ == "__main__":
    unittest.main()
