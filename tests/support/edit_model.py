"""The model of a batch's edits of one file, for the generated-batch tests.

Every line number counts the lines of the file as it was read. A line edit
(start_line, end_line, new_text) with start <= end replaces the lines of that
range that the file has; if it has none, or start > end (an insertion), the
new lines go before line `start`, raised to the first line and lowered to
just after the last. A text edit (old_text, new_text, replace_all) replaces
the lines from the one holding its first byte to the one holding the byte
after its last (the last line at the end of the text), in the file's text
with every line ending read as LF; occurrences whose lines touch are one
edit. A batch fails whole when a text is not found, or found more than once
without replace_all; with "exact", when a line edit starts past the line
after the last; then when two replacements share a line or an insertion
stands strictly inside a replaced range. Otherwise the new file is: at each
place, the insertions there in list order, then the new lines of the
replacement that starts there, then the file's next line.

Line ends: without "exact" every line ends with CR LF when CR LF pairs
outnumber lone LFs, else LF. With it, the file's lines keep their own ends;
the j-th new line of a replacement takes the end of the j-th line it
replaces (lines beyond them that of the last one replaced); inserted lines,
and lines whose line had none, take the most common of LF, CR LF and lone CR
(LF or CR LF on a tie, as before); a line with no end that is no longer the
last takes that one too; and a new line, not empty, that ends a file whose
last line had no end has none either.

  python3 edit_model.py generate SEED COUNT

writes COUNT generated cases, one JSON object per line: "file" (the file's
bytes in hex), "exact", "edits" (the batch's edit objects without "file")
and "expect": {"ok": true, "result": HEX} or {"ok": false, "failure": one of
"not_found", "ambiguous", "past_end", "overlap"}.
"""

import json
import random
import sys

INT32_MAX = 2 ** 31 - 1
INT32_MIN = -2 ** 31


class Refused(Exception):
    def __init__(self, failure):
        super().__init__(failure)
        self.failure = failure


def split_lines(data):
    """[(text, end)] of bytes: CR LF, lone CR and LF end a line; an end at the
    very end opens no empty line."""
    lines, start, i = [], 0, 0
    while i < len(data):
        c = data[i:i + 1]
        if c in (b"\r", b"\n"):
            width = 2 if data[i:i + 2] == b"\r\n" else 1
            lines.append((data[start:i], data[i:i + width]))
            i += width
            start = i
        else:
            i += 1
    if start < len(data):
        lines.append((data[start:], b""))
    return lines


def text_edit_places(lines, old, new, replace_all):
    """The replacements (first, last, new bytes) of one text edit."""
    reader = b"".join(t + (b"\n" if e else b"") for t, e in lines)
    starts = [0]
    for t, e in lines:
        starts.append(starts[-1] + len(t) + (1 if e else 0))
    hits, at = [], 0
    while True:
        hit = reader.find(old, at)
        if hit < 0:
            break
        hits.append(hit)
        at = hit + len(old)
    if not hits:
        raise Refused("not_found")
    if len(hits) > 1 and not replace_all:
        raise Refused("ambiguous")

    def line_at(offset):
        if offset >= len(reader):
            return len(lines) - 1
        return max(k for k in range(len(lines)) if starts[k] <= offset)

    places, k = [], 0
    while k < len(hits):
        first, last, group = line_at(hits[k]), line_at(hits[k] + len(old)), [hits[k]]
        k += 1
        while k < len(hits) and line_at(hits[k]) <= last:
            last = line_at(hits[k] + len(old))
            group.append(hits[k])
            k += 1
        segment = reader[starts[first]:starts[last + 1]]
        base, out, cut = starts[first], b"", 0
        for hit in group:
            out += segment[cut:hit - base] + new
            cut = hit - base + len(old)
        places.append((first, last, out + segment[cut:]))
    return places


def apply(data, edits, exact):
    """The new bytes of the file, or Refused."""
    lines = split_lines(data)
    n = len(lines)
    items = []  # (position, removed, new bytes, order)
    texts = [e for e in edits if "old_text" in e]
    for e in texts:
        for first, last, content in text_edit_places(
                lines, e["old_text"].encode(), e.get("new_text", "").encode(),
                e.get("replace_all", False)):
            items.append((first, last - first + 1, content))
    line_edits = [e for e in edits if "old_text" not in e]
    placed = []
    for order, e in enumerate(line_edits):
        start = e.get("start_line", 1)
        end = e.get("end_line", start)
        if exact and start > n + 1:
            raise Refused("past_end")
        position, removed = min(max(start, 1), n + 1) - 1, 0
        if start <= end and max(start, 1) <= min(end, n):
            removed = min(end, n) - max(start, 1) + 1
        placed.append((position, removed, e.get("new_text", "").encode(), order))
    placed += [(p, r, c, len(line_edits) + k) for k, (p, r, c) in enumerate(items)]
    for a in placed:
        for b in placed:
            if a is b or a[1] == 0:
                continue
            if (b[1] > 0 and a[0] < b[0] + b[1] and b[0] < a[0] + a[1]) or \
                    (b[1] == 0 and a[0] < b[0] < a[0] + a[1]):
                raise Refused("overlap")

    lf = sum(1 for _, e in lines if e == b"\n")
    crlf = sum(1 for _, e in lines if e == b"\r\n")
    cr = sum(1 for _, e in lines if e == b"\r")
    two_way = b"\r\n" if crlf > lf else b"\n"
    fill = b"\r" if exact and cr > lf and cr > crlf else two_way
    out = []  # (text, end, new)
    g = 0
    while g <= n:
        for position, removed, content, order in sorted(placed, key=lambda p: p[3]):
            if position == g and removed == 0:
                out += [(t, fill, True) for t, _ in split_lines(content)]
        replacement = [p for p in placed if p[0] == g and p[1] > 0]
        if replacement:
            position, removed, content, _ = replacement[0]
            for j, (t, _) in enumerate(split_lines(content)):
                own = lines[position + min(j, removed - 1)][1]
                out.append((t, own or fill, True))
            g += removed
            continue
        if g < n:
            out.append((lines[g][0], lines[g][1], False))
        g += 1
    if not exact:
        return b"".join(t + fill for t, _, _ in out)
    ended = [(t, e or fill) for t, e, _ in out[:-1]]
    if out:
        t, e, new = out[-1]
        open_end = n > 0 and lines[-1][1] == b""
        ended.append((t, b"" if open_end and new and t else e))
    return b"".join(t + e for t, e in ended)


def model(data, edits, exact):
    try:
        return {"ok": True, "result": apply(data, edits, exact).hex()}
    except Refused as refused:
        return {"ok": False, "failure": refused.failure}


# ---- Generated cases ----

SHAPES = ["", "x", "x\ny", "\n", "x\r\ny\rz", "x\n", "x\n\ny"]


def new_text(rng, k):
    shape = rng.choice(SHAPES)
    return "".join("N%d%s" % (k, c) if c in "xyz" else c for c in shape)


def generated_case(rng):
    n = rng.randrange(7)
    style = rng.choice(["\n", "\r\n", "\r", "mixed"])
    data = b""
    for i in range(1, n + 1):
        end = rng.choice(["\n", "\r\n", "\r"]) if style == "mixed" else style
        if i == n and rng.randrange(3) == 0:
            end = ""
        data += ("L%d%s" % (i, end)).encode()
    reader = b"".join(t + (b"\n" if e else b"") for t, e in split_lines(data)).decode()
    edits = []
    for k in range(rng.randrange(1, 5)):
        if rng.randrange(10) < 3 and reader:
            at = rng.randrange(len(reader))
            old = rng.choice([reader[at:at + rng.randrange(1, 8)]] * 4 + ["L9", "L"])
            edit = {"old_text": old, "new_text": new_text(rng, k)}
            if rng.randrange(2):
                edit["replace_all"] = True
        else:
            start = rng.randrange(-2, n + 5)
            end = start + rng.randrange(-3, 4)
            if rng.randrange(20) == 0:
                start, end = rng.choice([(INT32_MAX, INT32_MAX), (INT32_MIN, INT32_MAX),
                                         (start, INT32_MAX), (INT32_MAX, 0)])
            edit = {"start_line": start, "end_line": end}
            if rng.randrange(6):
                edit["new_text"] = new_text(rng, k)
        edits.append(edit)
    exact = rng.randrange(2) == 0
    return {"file": data.hex(), "exact": exact, "edits": edits,
            "expect": model(data, edits, exact)}


def main(argv):
    if len(argv) != 4 or argv[1] != "generate":
        sys.stderr.write("usage: edit_model.py generate SEED COUNT\n")
        return 2
    rng = random.Random(int(argv[2]))
    for _ in range(int(argv[3])):
        sys.stdout.write(json.dumps(generated_case(rng)) + "\n")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
