"""Unicode mode held against Python's re over every code point: a file of
one character a line, searched with each class and with case folding, must
give the lines that re.fullmatch accepts without re.ASCII. Code points that
Python's own Unicode database leaves unassigned are not compared (the
library's tables may be of a later version)."""

import os
import re
import shutil
import tempfile
import unicodedata
import unittest

import quenmar_grep as qg

# Where simple case folding and Python's re part ways on purpose: re folds
# dotted and dotless i with i, simple case folding does not.
NOT_COMPARED_FOLDING = {0x130, 0x131}


def compared(cp):
    return unicodedata.category(chr(cp)) != "Cn"


class EveryCodePoint(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.dir = tempfile.mkdtemp()
        cls.path = os.path.join(cls.dir, "all.txt")
        # Every scalar value but NUL (a binary file's mark) and the line ends
        # LF and CR: line N holds cls.points[N - 1].
        cls.points = [cp for cp in range(1, 0x110000)
                      if cp not in (0x0A, 0x0D) and not 0xD800 <= cp <= 0xDFFF]
        cls.text = "".join(chr(cp) + "\n" for cp in cls.points)
        with open(cls.path, "w", encoding="utf-8") as f:
            f.write(cls.text)

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.dir)

    def lines_found(self, pattern, **options):
        found = qg.search(self.path, pattern, syntax="standard", unicode=True, max_results=0,
                          **options)
        self.assertFalse(found.get("output_limited", False))
        return {self.points[m["line"] - 1] for m in found["matches"]}

    def lines_python_finds(self, pattern):
        """The points whose line re finds `pattern` on (every line is one
        character and its LF: two characters of the text)."""
        return {self.points[m.start() // 2]
                for m in re.finditer("(?m)" + pattern, self.text)}

    def test_classes_match_python_for_every_code_point(self):
        # The complements (\W, \D, \S) are these sets' complements by
        # construction, and would make documents of a million matches.
        for cls in [r"\w", r"\d", r"\s", r"\w\b", r"[[:digit:]]", r"[[:word:]]"]:
            with self.subTest(cls=cls):
                ours = self.lines_found("^" + cls + ("$" if "b" not in cls else ""))
                python = cls.replace("[[:digit:]]", r"\d").replace("[[:word:]]", r"\w")
                theirs = self.lines_python_finds("^" + python + ("$" if "b" not in cls else ""))
                differ = sorted(cp for cp in (ours ^ theirs) if compared(cp))
                self.assertEqual([hex(cp) for cp in differ[:10]], [], "%d differ" % len(differ))

    def test_case_folding_matches_python_for_every_cased_letter(self):
        cased = [cp for cp in self.points if compared(cp) and cp not in NOT_COMPARED_FOLDING
                 and chr(cp).lower() != chr(cp).upper()]
        # Every partner of a sample of letters across the scripts.
        for cp in cased[:: max(1, len(cased) // 60)] + [0x3C3, 0x4B, 0x73, 0xDF, 0x1C5]:
            letter = re.escape(chr(cp))
            with self.subTest(letter=hex(cp)):
                ours = {p for p in self.lines_found("(?i)^" + letter + "$") if compared(p)}
                theirs = {p for p in self.lines_python_finds("(?i:^" + letter + "$)")
                          if p not in NOT_COMPARED_FOLDING and compared(p)}
                self.assertEqual(sorted(map(hex, ours)), sorted(map(hex, theirs)))

    def test_literal_ignore_case_folds_as_the_pattern_does(self):
        for word in ["ß", "Σ", "k", "ǅ", "Ω"]:
            with self.subTest(word=word):
                literal = qg.search(self.path, word, ignore_case=True, unicode=True,
                                    whole_line=True)
                pattern = self.lines_found("(?i)^" + re.escape(word) + "$")
                self.assertEqual({self.points[m["line"] - 1] for m in literal["matches"]}, pattern)
                self.assertGreater(len(pattern), 1)


if __name__ == "__main__":
    unittest.main()
