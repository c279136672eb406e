"""What Python's re finds, for the differential test of the standard syntax.

Reads lines "PATTERN_HEX LINE_HEX [u]" from standard input and writes one line
per case: "E" when re refuses the pattern, "N" when it finds no match, "T"
when re takes over a second (its backtracking can take exponential time),
else "M COL LEN": the 1-based byte column and the length in bytes of the
first match. Patterns and lines are decoded from UTF-8 with surrogateescape, so a
byte that is no part of valid UTF-8 is one character of its own; patterns are
compiled with re.ASCII, except those marked "u" (Unicode mode), whose
properties (\\p{Greek}, \\PL and the like, which re lacks) are first spelled
out, with the third-party regex module, as classes of the characters of the
line and their case partners: on that line they mean the same. With --serve each answer is flushed at once, so that
a program can ask one case at a time. With --groups a match's answer goes on
with one word per group of the pattern: "COL:LEN" in bytes as above, or "-"
for a group that took no part.
"""

import re
import signal
import sys
import warnings


class TooLong(Exception):
    pass


def too_long(signum, frame):
    raise TooLong()


def byte_len(text):
    return len(text.encode("utf-8", "surrogateescape"))


NEVER = "\U0010fffe"  # a member that no generated line holds


def case_key(c):
    """What every character that re's IGNORECASE takes as c's equal shares
    with it: its lower case, or that of its upper case."""
    upper = c.upper()
    return (upper if len(upper) == 1 else c).lower()


_partners = {}


def case_partners():
    """Every character, by case_key (made on first use)."""
    if not _partners:
        for cp in range(0x110000):
            c = chr(cp)
            key = case_key(c)
            if len(key) == 1:
                _partners.setdefault(key, []).append(c)
                if c.lower() != key and len(c.lower()) == 1:
                    _partners.setdefault(c.lower(), []).append(c)
    return _partners


def spell_out_properties(pattern, line):
    """The pattern with each Unicode property replaced by the characters of
    `line` (and their case partners) that have it, as a class or, inside a
    class, as members."""
    import regex

    pool = set(line)
    for c in list(pool):
        pool.update(case_partners().get(case_key(c), ()))
    out, i, in_class, class_start = [], 0, False, False
    while i < len(pattern):
        c = pattern[i]
        if c == "\\" and i + 1 < len(pattern):
            if pattern[i + 1] not in "pP":
                out.append(pattern[i:i + 2])
                i += 2
                class_start = False
                continue
            negated = pattern[i + 1] == "P"
            if pattern[i + 2] == "{":
                close = pattern.index("}", i + 2)
                name, i = pattern[i + 3:close], close + 1
            else:
                name, i = pattern[i + 2], i + 3
            if name.startswith("^"):
                negated, name = not negated, name[1:]
            has = regex.compile(r"\p{%s}" % name)
            members = "".join(re.escape(ch) for ch in sorted(pool)
                              if (has.match(ch) is not None) != negated) or NEVER
            out.append(members if in_class else "[" + members + "]")
            class_start = False
            continue
        out.append(c)
        i += 1
        if in_class:
            if c == "]" and not class_start:
                in_class = False
            class_start = class_start and c == "^" and pattern[i - 2] == "["
        elif c == "[":
            in_class, class_start = True, True
    return "".join(out)


def answer(pattern_hex, line_hex, groups=False, unicode=False):
    pattern = bytes.fromhex(pattern_hex).decode("utf-8", "surrogateescape")
    line = bytes.fromhex(line_hex).decode("utf-8", "surrogateescape")
    try:
        if unicode:
            compiled = re.compile(spell_out_properties(pattern, line))
        else:
            compiled = re.compile(pattern, re.ASCII)
    except (re.error, RecursionError, OverflowError):
        return "E"
    signal.setitimer(signal.ITIMER_REAL, 1.0)
    try:
        match = compiled.search(line)
    except TooLong:
        return "T"
    finally:
        signal.setitimer(signal.ITIMER_REAL, 0)
    if match is None:
        return "N"
    words = ["M %d %d" % (byte_len(line[: match.start()]) + 1, byte_len(match.group(0)))]
    for i in range(1, compiled.groups + 1 if groups else 1):
        start, end = match.span(i)
        words.append("-" if start < 0 else "%d:%d" % (byte_len(line[:start]) + 1,
                                                      byte_len(line[start:end])))
    return " ".join(words)


def main():
    warnings.simplefilter("ignore")
    signal.signal(signal.SIGALRM, too_long)
    serve = "--serve" in sys.argv[1:]
    groups = "--groups" in sys.argv[1:]
    for row in sys.stdin:
        fields = row.rstrip("\n").split(" ")
        fields += [""] * (3 - len(fields))
        sys.stdout.write(answer(fields[0], fields[1], groups, fields[2] == "u") + "\n")
        if serve:
            sys.stdout.flush()


if __name__ == "__main__":
    main()
