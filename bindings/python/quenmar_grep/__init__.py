"""Search source trees and edit text files by line number.

A thin binding over the quenmar-grep shared library, on ctypes alone. Every
function runs on the calling thread, as the library's calls do, and reads the
library's status (and, on failure, its last-error text) on that same thread
right after the call: a failure raises :class:`QuenmarGrepError` (or its
:class:`NotFoundError` and :class:`SearchTimeout` forms) with the library's
message and status.

Texts handed to the library: ``str`` is encoded as UTF-8 (paths with
``os.fsencode``, so a file name that is not UTF-8 still reaches the file);
``bytes`` pass unchanged. A NUL character cannot be passed and raises
``ValueError``. Texts coming back are copied at once and decoded from UTF-8:
JSON documents with ``errors="replace"``, the numbered lines of
:func:`read_lines` with ``errors="surrogateescape"`` so that they can be
written back through :func:`replace_lines` byte for byte.
"""

from __future__ import annotations

import base64
import ctypes
import enum
import json
import os
import queue
import sys
import threading
from typing import (Any, Callable, Dict, Iterator, List, Mapping, Optional, Sequence, Tuple,
                    Union)

if sys.version_info >= (3, 8):
    from typing import TypedDict
else:  # pragma: no cover - the package asks for 3.8 or later
    TypedDict = dict

from . import _generated, _native
from ._generated import SearchOptions

__all__ = [
    "QuenmarGrepError", "NotFoundError", "SearchTimeout", "OutputLimited", "Status", "version", "last_error",
    "last_status", "search", "search_text", "search_stream", "iter_search", "list_files",
    "search_lines", "options_schema", "SearchOptions", "read_lines",
    "numbered_lines", "replace_lines", "edit_text", "batch_replace", "replace",
    "Match", "Submatch", "Group", "SearchDocument", "Edit", "FileDiff", "BatchResult", "Failure",
    "ReplacedFile", "ReplaceResult",
]

#: A path as the file system takes it: text, bytes or a path-like object.
PathArg = Union[str, bytes, "os.PathLike[str]", "os.PathLike[bytes]"]
#: A text handed to the library: str (encoded as UTF-8) or bytes (as they are).
TextArg = Union[str, bytes, bytearray]
#: Name globs: one glob, or a sequence of them.
Globs = Union[str, bytes, Sequence[Union[str, bytes]]]
#: An options document passed as it is: a mapping (written as JSON) or a JSON text.
OptionsArg = Union[Mapping[str, Any], str, bytes, bytearray, None]


class _MatchCore(TypedDict):
    file: str
    line: int
    col: int
    text: str
    context: List[str]


class _GroupCore(TypedDict):
    col: int
    length: int


class Group(_GroupCore, total=False):
    """Where one group took part in a match: 1-based byte column and length
    in bytes; ``name`` for a named group."""

    name: str


class _SubmatchCore(TypedDict):
    col: int
    length: int


class Submatch(_SubmatchCore, total=False):
    """One match within a line: 1-based byte column and length in bytes;
    ``groups`` when the search asked for ``captures``."""

    groups: List[Optional[Group]]


class Match(_MatchCore, total=False):
    """One match object: the file, the 1-based line and byte column, the
    line's text and its context window; ``length`` (the match's bytes) when
    the search asked for ``match_length``, ``submatches`` (every match of the
    line) when it asked for ``submatches``, ``groups`` (where each group of
    the pattern took part, None for one that took none) when it asked for
    ``captures``."""

    length: int
    submatches: List[Submatch]
    groups: List[Optional[Group]]


class _SearchCore(TypedDict):
    matches: List[Match]
    total_matches: int
    files_searched: int
    duration_ms: int


class SearchDocument(_SearchCore, total=False):
    """The search document; ``timed_out`` is present (true) when the search
    stopped at its time limit, ``output_limited`` when it stopped at its
    ``max_output_bytes``."""

    timed_out: bool
    output_limited: bool


class Edit(TypedDict, total=False):
    """One edit of a batch: a line edit (``start_line``, ``end_line``,
    ``new_text``, optionally ``expected_text``: what the lines hold now, joined
    with ``\\n``) or a text edit (``old_text``, ``new_text``, optionally
    ``replace_all``)."""

    file: str
    start_line: int
    end_line: int
    new_text: str
    expected_text: str
    old_text: str
    replace_all: bool


class FileDiff(TypedDict):
    """What a dry run would change in one file, as a unified diff."""

    file: str
    diff: str


class Failure(TypedDict):
    """One failed file of a batch: its path (None for an edit that names
    none), the status's name (``"GREP_E_CONFLICT"``, ...) and the message."""

    file: Optional[str]
    status: str
    message: str


class _BatchCore(TypedDict):
    success: bool
    files_modified: int
    total_edits: int
    errors: List[str]
    failures: List[Failure]


class BatchResult(_BatchCore, total=False):
    """The batch result document; ``diffs`` is present for a dry run."""

    diffs: List[FileDiff]


class _ReplacedFileCore(TypedDict):
    file: str
    replacements: int
    sha256: str


class ReplacedFile(_ReplacedFileCore, total=False):
    """One file a replace changed (or, in a dry run, would change): its
    path, the matches replaced, the SHA-256 of its bytes as they were read,
    and for a dry run the unified ``diff`` (``diff_base64`` where its bytes
    are not UTF-8)."""

    diff: str
    diff_base64: str


class _ReplaceCore(TypedDict):
    success: bool
    files_modified: int
    total_replacements: int
    files: List[ReplacedFile]
    errors: List[str]
    failures: List[Failure]
    files_searched: int


class ReplaceResult(_ReplaceCore, total=False):
    """The report of :func:`replace`; ``timed_out`` and ``output_limited``
    are there when a limit ended the search or cut the list of files."""

    timed_out: bool
    output_limited: bool


_INT32_MIN, _INT32_MAX = -2**31, 2**31 - 1


#: How a library call ended (the public header's ``grep_status``):
#: ``Status.OK``, ``Status.E_NOT_FOUND`` and the others, as the header names
#: them without ``GREP_``.
Status = enum.IntEnum("Status", _generated.STATUSES, module=__name__)


class QuenmarGrepError(Exception):
    """A failed library call; ``str(error)`` is the library's last-error text
    and ``error.status`` the :class:`Status` the call ended with."""

    status = Status.E_IO

    def __init__(self, message: str, status: int = Status.E_IO) -> None:
        super().__init__(message)
        self.status = Status(status)


class NotFoundError(QuenmarGrepError, FileNotFoundError):
    """The root, file or folder a call names does not exist."""


class SearchTimeout(QuenmarGrepError, TimeoutError):
    """A streamed search reached its ``timeout_ms``; every match it found was
    delivered before this was raised."""


class OutputLimited(QuenmarGrepError):
    """A streamed search reached its ``max_output_bytes``; every match that
    fitted was delivered before this was raised."""


def _lib() -> Any:
    return _native.library()


def _decode(raw: Optional[bytes], errors: str = "replace") -> str:
    return raw.decode("utf-8", errors) if raw is not None else ""


def version() -> str:
    """The library's version text, e.g. ``"1.0.0"``."""
    return _decode(_lib().grep_version())


def last_error() -> str:
    """The calling thread's last-error text ("" before any failure). The
    library never clears it: it describes the thread's last call exactly when
    :func:`last_status` is not ``Status.OK``."""
    return _decode(_lib().grep_last_error())


def last_status() -> Status:
    """How the calling thread's most recent library call ended."""
    return Status(_lib().grep_last_status())


def _error(status: Optional[int] = None) -> QuenmarGrepError:
    """The exception for the call that just ended on this thread."""
    status = Status(_lib().grep_last_status() if status is None else status)
    kind = {Status.E_NOT_FOUND: NotFoundError, Status.TIMED_OUT: SearchTimeout,
            Status.OUTPUT_LIMITED: OutputLimited}
    return kind.get(status, QuenmarGrepError)(last_error(), status)


#: The statuses of a search that returns what it found.
_ENDED_EARLY_OR_OK = (Status.OK, Status.TIMED_OUT, Status.OUTPUT_LIMITED)


def _check() -> None:
    """Raises for the call that just ended on this thread, unless it succeeded."""
    if _lib().grep_last_status() != Status.OK:
        raise _error()


def _no_nul(data: bytes, what: str) -> bytes:
    if b"\0" in data:
        raise ValueError("%s holds a NUL byte, which the library cannot receive" % what)
    return data


def _path_arg(path: PathArg) -> bytes:
    return _no_nul(os.fsencode(path), "path")


def _text_arg(text: Any, what: str) -> bytes:
    if isinstance(text, (bytes, bytearray)):
        data = bytes(text)
    else:
        data = str(text).encode("utf-8", "surrogateescape")
    return _no_nul(data, what)


def _int32(value: Any, what: str) -> int:
    value = int(value)
    if not _INT32_MIN <= value <= _INT32_MAX:
        raise ValueError("%s must fit a signed 32-bit integer, not %d" % (what, value))
    return value


def _glob_list(globs: Globs) -> List[str]:
    if isinstance(globs, (str, bytes)):
        globs = [globs]
    result = []
    for glob in globs:
        result.append(os.fsdecode(glob) if isinstance(glob, bytes) else str(glob))
    return result


# keyword -> (key, type), from the library's options schema.
_KEYWORDS = {keyword: (key, kind) for keyword, key, kind, _, _, _ in _generated.OPTIONS
             if key != "strict"}


def _options_json(options: OptionsArg, keywords: Mapping[str, Any]) -> bytes:
    """The options document: ``options`` as it is (a dict is written as JSON,
    a text passed unchanged), or else the one the keyword options describe,
    read by the library under ``"strict"``, so that a value it cannot take is
    refused with its key named. TypeError for a keyword that is no option."""
    unknown = sorted(set(keywords) - set(_KEYWORDS))
    if unknown:
        raise TypeError("unknown keyword options: " + ", ".join(unknown))
    if options is not None:
        if keywords:
            raise ValueError("give either options or the keyword options, not both: "
                             + ", ".join(sorted(keywords)))
        if isinstance(options, dict):
            return json.dumps(options).encode("ascii")
        return _text_arg(options, "options")
    document: Dict[str, Any] = {"strict": True}
    for keyword, value in keywords.items():
        key, kind = _KEYWORDS[keyword]
        if kind in ("globs", "path_globs"):
            value = _glob_list(value)
        elif kind == "file_hashes" and isinstance(value, Mapping):
            value = dict(value)
        document[key] = value
    # regex=True is a regular expression in the standard syntax (Python's
    # re's) unless syntax names one; syntax="dialect" alone is the library's
    # own dialect.
    if document.get("regex") is True and "syntax" not in document:
        document["syntax"] = "standard"
    if document.get("syntax") == "dialect" and "regex" not in document:
        document["regex"] = True
    return json.dumps(document).encode("ascii")


def _search_result(raw: Optional[bytes]) -> Any:
    """The document of a search that just ended on this thread; raises for
    a search that failed."""
    status = _lib().grep_last_status()
    if status not in _ENDED_EARLY_OR_OK:
        raise _error(status)
    return json.loads(_decode(raw))


def search(root: PathArg, pattern: TextArg, *, options: OptionsArg = None,
           **keywords: Any) -> SearchDocument:
    """Searches the file or directory tree ``root`` for ``pattern`` and returns
    the search document as a dict: ``matches`` (each with ``file``, ``line``,
    ``col``, ``text``, ``context``), ``total_matches``, ``files_searched`` and
    ``duration_ms``. Raises :class:`NotFoundError` (a FileNotFoundError) when
    nothing is at ``root``, and QuenmarGrepError when the search fails.

    The keyword options are those of the library's options schema
    (:class:`SearchOptions`, and :func:`options_schema`), by the names it
    gives them: ``regex`` (a regular expression in the standard syntax, the
    one Python's own ``re`` takes; see docs/regex.md; ``syntax="dialect"``
    for the library's own dialect), ``ignore_case``, ``whole_word``,
    ``max_results``,
    ``context_lines``, ``include``, ``exclude`` and ``exclude_dirs`` (lists
    of name globs; a single string is one glob), ``timeout_ms`` (above 0 the
    document then holds what was found and ``"timed_out": True``),
    ``max_per_file``, ``threads``, ``hidden``, ``skip_dirs``,
    ``follow_links``, ``gitignore``, ``match_length``, ``submatches``,
    ``path_globs``, ``invert_match``, ``whole_line``, ``max_depth``,
    ``sort``, ``before_context``, ``after_context`` and the rest. A value the library cannot take raises
    QuenmarGrepError naming the key. ``options``, instead of the keyword
    options, is an options document passed as it is (a dict, or a JSON
    text)."""
    raw = _lib().grep_search_json(_path_arg(root), _text_arg(pattern, "pattern"),
                                  _options_json(options, keywords))
    return _search_result(raw)


def list_files(root: PathArg, *, options: OptionsArg = None, **keywords: Any) -> List[str]:
    """The files that :func:`search` of ``root`` with the same keyword options
    would read, in the same order, without reading them (``path_globs``
    chooses paths below the root in git's glob syntax). The options that
    concern matching have no effect. Raises as :func:`search` does."""
    raw = _lib().grep_list_files_json(_path_arg(root), _options_json(options, keywords))
    return list(_search_result(raw)["files"])


def search_text(name: PathArg, text: TextArg, pattern: TextArg, *, options: OptionsArg = None,
                **keywords: Any) -> SearchDocument:
    """Searches ``text`` (a host's buffer, say an editor's unsaved file: str,
    encoded as UTF-8, or bytes in any encoding a file may have) as one file
    called ``name``, to which the glob options apply, and returns the search
    document that :func:`search` gives for such a file. The keyword options
    are those of :func:`search`."""
    data = _buffer_arg(text)
    raw = _lib().grep_search_text(_path_arg(name), data, len(data), _text_arg(pattern, "pattern"),
                                  _options_json(options, keywords))
    return _search_result(raw)


def _buffer_arg(text: TextArg) -> bytes:
    return bytes(text) if isinstance(text, (bytes, bytearray)) else \
        str(text).encode("utf-8", "surrogateescape")


def search_lines(root: PathArg, pattern: TextArg, callback: Optional[Callable[[str], Any]] = None,
                 *, text: Optional[TextArg] = None, options: OptionsArg = None,
                 **keywords: Any) -> Tuple[str, Dict[str, Any]]:
    """Runs the search of :func:`search` and has the library print it as the
    lines people read (``path:line:col:text``, context as ``path-line-text``
    with each line once and ``--`` between groups; ``print="files"``,
    ``"count"``, ``"matches"`` or ``"json"``, ``heading``, ``color``,
    ``line_number``, ``column``, ``with_filename`` choose what and how).
    With ``callback``, each printed piece (whole lines, decoded with
    ``errors="surrogateescape"``) is handed to it as it comes and the first
    item returned is ""; otherwise the whole text is returned. The second
    item is the summary (``total_matches``, ``files_searched``,
    ``files_matched``, ``duration_ms``). With ``text``, that buffer is
    searched as one file called ``root``. When ``callback`` raises, the
    search stops and the exception is raised from here; otherwise raises as
    :func:`search` does."""
    pieces: List[str] = []
    failure: List[BaseException] = []

    def deliver(data, length, _user_data):
        if length == 0:  # the library's call between files that print nothing
            return 0
        piece = ctypes.string_at(data, length).decode("utf-8", "surrogateescape")
        if callback is None:
            pieces.append(piece)
            return 0
        try:
            callback(piece)
            return 0
        except BaseException as error:  # re-raised below, once the search returns
            failure.append(error)
            return 1

    buffer = None if text is None else _buffer_arg(text)
    raw = _lib().grep_search_lines(_path_arg(root), buffer, 0 if buffer is None else len(buffer),
                                   _text_arg(pattern, "pattern"), _options_json(options, keywords),
                                   _native.LINES_CALLBACK(deliver), None)
    if failure:
        raise failure[0]
    return "".join(pieces), _search_result(raw)


def options_schema() -> List[Dict[str, Any]]:
    """Every option key the library knows, with its type, default, origin,
    keyword and one line of documentation (the library's
    grep_options_schema_json)."""
    return list(json.loads(_decode(_lib().grep_options_schema_json()))["options"])


def search_stream(root: PathArg, pattern: TextArg, callback: Callable[[Match], Any], *,
                  options: OptionsArg = None, **keywords: Any) -> int:
    """Runs the same search as :func:`search`, calling ``callback(match)`` with
    each match as a dict, in match order, on the calling thread, while the
    search runs. Returns the number of matches.

    When ``callback`` raises, the search stops at once (no further line is
    matched, no further file read) and the exception is raised from here.
    Raises :class:`SearchTimeout` (a TimeoutError) once every match found
    within ``timeout_ms`` was delivered, and QuenmarGrepError when the search
    fails. The options are those of :func:`search`."""
    document_text = _options_json(options, keywords)
    failure = []

    def deliver(address, _user_data):
        try:
            callback(json.loads(_decode(ctypes.string_at(address))))
            return 0
        except BaseException as error:  # re-raised below, once the search returns
            failure.append(error)
            return 1

    count = _lib().grep_search_stream_ctx(_path_arg(root), _text_arg(pattern, "pattern"),
                                          document_text, _native.MATCH_CALLBACK_CTX(deliver),
                                          None)
    if failure:
        raise failure[0]
    _check()
    return count


class _Closed(Exception):
    """Raised inside the worker's callback to stop a search nobody reads."""


_DONE = object()


def iter_search(root: PathArg, pattern: TextArg, *, queue_size: int = 256,
                **options: Any) -> Iterator[Match]:
    """Yields the matches of the search (dicts, as :func:`search_stream` gives
    them) while it runs, without holding them all.

    The search runs on a worker thread that hands each match through a queue
    of at most ``queue_size`` entries; when the queue is full the search waits
    for the consumer. Closing the generator early (``break``, ``close()``)
    stops the search within milliseconds: the worker's next hand-over fails,
    and the library reads no further file. Raises from the loop what
    :func:`search_stream` raises: :class:`NotFoundError` when nothing is at
    ``root``, :class:`SearchTimeout` after the last match found in time,
    QuenmarGrepError when the search fails. The keyword options are those of
    :func:`search`."""
    return _matches_from_worker(root, pattern, queue_size, options)


def _matches_from_worker(root: PathArg, pattern: TextArg, queue_size: int,
                         options: Dict[str, Any]) -> Iterator[Match]:
    channel = queue.Queue(maxsize=max(1, int(queue_size)))
    closed = threading.Event()

    def put(item):
        while not closed.is_set():
            try:
                channel.put(item, timeout=0.01)
                return
            except queue.Full:
                pass
        raise _Closed()

    def worker():
        try:
            count = search_stream(root, pattern, put, **options)
            put((_DONE, count, None))
        except _Closed:
            pass
        except BaseException as error:  # handed to the consumer's thread
            try:
                put((_DONE, None, error))
            except _Closed:
                pass

    thread = threading.Thread(target=worker, name="quenmar-grep-search", daemon=True)
    thread.start()
    try:
        while True:
            item = _next_from(channel, thread)
            if isinstance(item, tuple) and item[0] is _DONE:
                if item[2] is not None:
                    raise item[2]
                return
            yield item
    finally:
        closed.set()


def _next_from(channel: "queue.Queue[Any]", thread: threading.Thread) -> Any:
    """The worker's next item; raises rather than waits for ever when the
    worker ended without handing over its end (it could not, say, for lack
    of memory)."""
    while True:
        try:
            return channel.get(timeout=0.05)
        except queue.Empty:
            if not thread.is_alive() and channel.empty():
                raise QuenmarGrepError("The search thread ended without its result",
                                       Status.E_NO_MEMORY) from None


def read_lines(path: PathArg, start: int = 0, end: int = 0) -> str:
    """Returns lines ``start``..``end`` of the file, each as ``"N: text\\n"``;
    ``start`` below 1 reads the whole file, ``end`` below 1 reads to its end
    ("" for an empty file). Raises QuenmarGrepError when the file cannot be
    read or the range is wrong."""
    raw = _lib().grep_read_lines(_path_arg(path), _int32(start, "start"), _int32(end, "end"))
    _check()
    return _decode(raw, "surrogateescape")


def numbered_lines(path: PathArg, start: int = 0, end: int = 0) -> List[Tuple[int, str]]:
    """The lines :func:`read_lines` selects, as ``(number, text)`` pairs, the
    text without its line break. Raises as :func:`read_lines` does."""
    pairs = []
    for row in read_lines(path, start, end).split("\n"):
        if row:
            number, _, text = row.partition(": ")
            pairs.append((int(number), text))
    return pairs


def _json_text(text: Any, what: str) -> str:
    """``text`` as a str that a JSON document can carry to the library: valid
    UTF-8 without NUL (a JSON text cannot hold other bytes)."""
    if isinstance(text, (bytes, bytearray)):
        try:
            text = bytes(text).decode("utf-8")
        except UnicodeDecodeError:
            raise ValueError("%s is not UTF-8, which this call requires" % what) from None
    elif isinstance(text, os.PathLike):
        text = os.fsdecode(text)
    text = str(text)
    try:
        text.encode("utf-8")
    except UnicodeEncodeError:
        raise ValueError("%s is not UTF-8, which this call requires" % what) from None
    if "\0" in text:
        raise ValueError("%s holds a NUL byte, which the library cannot receive" % what)
    return text


def _run_batch(instructions: Any) -> BatchResult:
    data = _no_nul(json.dumps(instructions).encode("ascii"), "edits")
    return json.loads(_decode(_lib().grep_batch_replace_json(data)))


def _diff_text(diff: Dict[str, Any]) -> str:
    """A dry run's diff of one file as text: one of lines that are not UTF-8
    from its own bytes (``diff_base64``), their bytes kept as surrogates."""
    if "diff_base64" in diff:
        return base64.b64decode(diff["diff_base64"]).decode("utf-8", "surrogateescape")
    return diff["diff"]


def _run_one_edit(edit: Dict[str, Any], dry_run: bool, exact: bool) -> Optional[str]:
    """Applies one edit through a batch of one; raises the library's error
    for it, else returns its diff on a dry run ("" when nothing would change)."""
    instructions: Dict[str, Any] = {"edits": [edit], "exact": bool(exact)}
    if dry_run:
        instructions["dry_run"] = True
    result = _run_batch(instructions)
    _check()
    if not dry_run:
        return None
    return "".join(_diff_text(d) for d in result.get("diffs", []))


def replace_lines(path: PathArg, start: int, end: int, text: TextArg, *,
                  expected: Optional[TextArg] = None, exact: bool = True) -> None:
    """Replaces lines ``start``..``end`` (1-based, inclusive) of the file with
    the lines of ``text``; ``start > end`` inserts before line ``start``, and an
    empty text deletes. The file keeps its encoding. With ``exact`` (the
    default) every line the edit does not name keeps its bytes and its own
    line ending (and a last line without one keeps none), the new lines take
    the ending of the lines they replace, and a ``start`` past the line after
    the last raises; ``exact=False`` writes every line with the file's most
    common ending. With ``expected``, the lines must hold that text now
    (joined with ``\\n``, no ending after the last; ``""`` for an insertion),
    else the file is left as it is and the error's status is
    ``Status.E_CONFLICT``. Raises QuenmarGrepError on failure."""
    start, end = _int32(start, "start"), _int32(end, "end")
    if expected is None:
        replace = _lib().grep_replace_lines_exact if exact else _lib().grep_replace_lines
        replace(_path_arg(path), start, end, _text_arg(text, "text"))
        _check()
        return
    _run_one_edit({"file": _json_text(path, "path"), "start_line": start, "end_line": end,
                   "new_text": _json_text(text, "text"),
                   "expected_text": _json_text(expected, "expected")}, False, exact)


def edit_text(path: PathArg, old: TextArg, new: TextArg, replace_all: bool = False,
              dry_run: bool = False, exact: bool = True) -> Optional[str]:
    """Replaces the text ``old`` by ``new`` in the file, whose every line
    ending reads as ``\\n`` here; the file keeps its encoding and, with
    ``exact`` (the default), every line ending but those of the lines it
    changes. ``old`` must occur exactly once, unless ``replace_all`` replaces
    every occurrence; otherwise the error's status is ``Status.E_CONFLICT``.
    With ``dry_run`` nothing is written and the change comes back as a
    unified diff (of the file's own bytes: those that are not UTF-8 as
    surrogates, which ``errors="surrogateescape"`` writes back). Raises
    QuenmarGrepError on failure."""
    return _run_one_edit({"file": _json_text(path, "path"), "old_text": _json_text(old, "old"),
                          "new_text": _json_text(new, "new"),
                          "replace_all": bool(replace_all)}, dry_run, exact)


_JSON_SPACE = b" \t\n\r"


def _with_members(text: bytes, dry_run: bool, exact: bool) -> bytes:
    """The instructions ``text`` kept byte for byte, with "dry_run": true (when
    asked) and "exact": true (when asked and the text does not say) in front
    of its own members, where the first member of a name counts; an array
    becomes the edits of an object. A text that is not JSON is left for the
    library to refuse."""
    try:
        parsed = json.loads(text)
    except ValueError:
        return text
    members = []
    if dry_run:
        members.append(b'"dry_run":true')
    if exact and not (isinstance(parsed, dict) and "exact" in parsed):
        members.append(b'"exact":true')
    if not members:
        return text
    if isinstance(parsed, list):
        return b'{"edits":' + text + b"," + b",".join(members) + b"}"
    if not isinstance(parsed, dict):
        return text
    at = len(text) - len(text.lstrip(_JSON_SPACE)) + 1
    return text[:at] + b",".join(members) + (b"," if parsed else b"") + text[at:]


def batch_replace(edits: Union[Sequence[Edit], Mapping[str, Any], TextArg], *,
                  dry_run: bool = False, exact: bool = True) -> BatchResult:
    """Applies many edits (see :class:`Edit`) over many files and returns the
    result document as a dict: ``success``, ``files_modified``,
    ``total_edits`` and ``errors`` (one ``"path: message"`` per failed file,
    or a message alone for an element that names no file). ``edits`` is a
    list of edit dicts, a dict with such a list under ``"edits"``, or the
    instructions as a JSON text. Files stand or fall one by one, so this does
    not raise for a failed file: check ``result["success"]``. With ``exact``
    (the default) "exact": true is sent unless the instructions say: every
    line that no edit names keeps its bytes and line ending. With
    ``dry_run`` nothing is written and ``result["diffs"]`` holds one
    ``{"file", "diff"}`` per file that would change (with ``"diff_base64"``,
    the diff's own bytes, where they are not UTF-8)."""
    if isinstance(edits, (str, bytes, bytearray)):
        instructions = _with_members(_text_arg(edits, "edits"), dry_run, exact)
        return json.loads(_decode(_lib().grep_batch_replace_json(instructions)))
    if isinstance(edits, Mapping):
        document = dict(edits)
    elif isinstance(edits, Sequence):
        document = {"edits": list(edits)}
    else:
        return _run_batch(edits)  # not instructions: the library's own report
    if dry_run:
        document["dry_run"] = True
    if exact:
        document.setdefault("exact", True)
    return _run_batch(document)


def replace(root: PathArg, pattern: TextArg, replacement: TextArg, *,
            options: OptionsArg = None, **keywords: Any) -> ReplaceResult:
    """Replaces every match of ``pattern`` in the lines that :func:`search`
    would report under ``root`` with the same options, and writes each file
    once, atomically, keeping its encoding, line endings and every byte
    outside the matches. Returns the report as a dict: ``success``,
    ``files_modified``, ``total_replacements``, ``files`` (see
    :class:`ReplacedFile`), ``errors`` and ``failures``.

    ``replacement`` is a template: ``$0`` is the match, ``$1``..``$99`` and
    ``${N}`` a group, ``${name}`` a named group, ``$$`` a dollar (a literal
    pattern reads only ``$$`` and ``$0``). The keyword options are the
    search's, and ``dry_run`` (write nothing; each file's entry gains its
    ``diff``), ``expect`` (a mapping of path to the ``sha256`` a dry run gave:
    only those files are replaced, each only while it still has that hash)
    and ``preserve_case``. Files stand or fall one by one, so a failed file
    does not raise: check ``result["success"]``. Raises QuenmarGrepError when
    the call cannot start (a pattern, template or option refused, nothing at
    ``root``), with nothing written."""
    raw = _lib().grep_replace_json(_path_arg(root), _text_arg(pattern, "pattern"),
                                   _text_arg(replacement, "replacement"),
                                   _options_json(options, keywords))
    status = _lib().grep_last_status()
    document = json.loads(_decode(raw))
    if "files_searched" not in document:
        raise _error(status)
    return document
