"""What Python's re finds, for the differential test of the standard syntax.

Reads lines "PATTERN_HEX LINE_HEX" from standard input and writes one line
per case: "E" when re refuses the pattern, "N" when it finds no match, "T"
when re takes over a second (its backtracking can take exponential time),
else "M COL LEN": the 1-based byte column and the length in bytes of the
first match. Patterns and lines are decoded from UTF-8 with surrogateescape, so a
byte that is no part of valid UTF-8 is one character of its own; patterns are
compiled with re.ASCII. With --serve each answer is flushed at once, so that
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


def answer(pattern_hex, line_hex, groups=False):
    pattern = bytes.fromhex(pattern_hex).decode("utf-8", "surrogateescape")
    line = bytes.fromhex(line_hex).decode("utf-8", "surrogateescape")
    try:
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
        fields = row.split()
        fields += [""] * (2 - len(fields))
        sys.stdout.write(answer(fields[0], fields[1], groups) + "\n")
        if serve:
            sys.stdout.flush()


if __name__ == "__main__":
    main()
