"""Finding, loading and declaring the shared library.

The library is looked for, in this order:

1. the path in the environment variable ``QUENMAR_GREP_LIBRARY`` (when it is
   set, it is the only place looked at, so a wrong setting is an error rather
   than a silent fallback to another copy);
2. the package's own folder (a copy of the library shipped beside this file);
3. the system's search path (``ctypes.util.find_library`` and then the
   library's SONAME, which the dynamic loader looks up itself).
"""

import ctypes
import ctypes.util
import os
import sys
import threading

ENV_VAR = "QUENMAR_GREP_LIBRARY"

if sys.platform == "win32":
    _LOCAL_NAMES = ("quenmar-grep.dll", "libquenmar-grep.dll")
    _SYSTEM_NAMES = ("quenmar-grep.dll",)
elif sys.platform == "darwin":
    _LOCAL_NAMES = ("libquenmar-grep.1.dylib", "libquenmar-grep.dylib")
    _SYSTEM_NAMES = ("libquenmar-grep.1.dylib",)
else:
    _LOCAL_NAMES = ("libquenmar-grep.so.1", "libquenmar-grep.so")
    _SYSTEM_NAMES = ("libquenmar-grep.so.1",)

#: The host's streaming callback: one argument, the match object as UTF-8
#: bytes (ctypes copies the text into a bytes object before the Python
#: function runs, so it stays valid after the callback returns).
MATCH_CALLBACK = ctypes.CFUNCTYPE(None, ctypes.c_char_p)

#: The stoppable stream's callback: the match object and the host's pointer;
#: a non-zero return stops the search. The text comes as its address, copied
#: inside the Python function (``ctypes.string_at``), so that a failure to
#: copy it (MemoryError) is the function's own, stops the search and is
#: raised, rather than being printed by ctypes while the search goes on.
MATCH_CALLBACK_CTX = ctypes.CFUNCTYPE(ctypes.c_int, ctypes.c_void_p, ctypes.c_void_p)

#: The line printer's callback: a piece of printed text (not NUL-terminated),
#: its length and the host's pointer; a non-zero return stops the search.
LINES_CALLBACK = ctypes.CFUNCTYPE(ctypes.c_int, ctypes.c_void_p, ctypes.c_size_t,
                                  ctypes.c_void_p)

_lock = threading.Lock()
_library = None


def _candidates():
    """The places to try, in order, as (description, path-or-name) pairs."""
    explicit = os.environ.get(ENV_VAR)
    if explicit:
        return [(ENV_VAR, explicit)]
    here = os.path.dirname(os.path.abspath(__file__))
    found = [("package folder", os.path.join(here, n)) for n in _LOCAL_NAMES
             if os.path.exists(os.path.join(here, n))]
    system = ctypes.util.find_library("quenmar-grep")
    if system:
        found.append(("system path", system))
    found.extend(("system path", n) for n in _SYSTEM_NAMES)
    return found


_c_char_p, _c_int, _c_size_t = ctypes.c_char_p, ctypes.c_int, ctypes.c_size_t

#: Every export of the public header with its exact C signature, as
#: (argument types, result type). A test holds this against the header.
SIGNATURES = {
    "grep_version": ([], _c_char_p),
    "grep_last_error": ([], _c_char_p),
    "grep_last_status": ([], _c_int),
    "grep_search_json": ([_c_char_p, _c_char_p, _c_char_p], _c_char_p),
    "grep_search_text": ([_c_char_p, _c_char_p, _c_size_t, _c_char_p, _c_char_p], _c_char_p),
    "grep_search_stream": ([_c_char_p, _c_char_p, _c_char_p, MATCH_CALLBACK], _c_int),
    "grep_search_stream_ctx": ([_c_char_p, _c_char_p, _c_char_p, MATCH_CALLBACK_CTX,
                                ctypes.c_void_p], _c_int),
    "grep_replace_lines": ([_c_char_p, _c_int, _c_int, _c_char_p], _c_int),
    "grep_replace_lines_exact": ([_c_char_p, _c_int, _c_int, _c_char_p], _c_int),
    "grep_batch_replace_json": ([_c_char_p], _c_char_p),
    "grep_replace_json": ([_c_char_p, _c_char_p, _c_char_p, _c_char_p], _c_char_p),
    "grep_read_lines": ([_c_char_p, _c_int, _c_int], _c_char_p),
    "grep_list_files_json": ([_c_char_p, _c_char_p], _c_char_p),
    "grep_search_lines": ([_c_char_p, _c_char_p, _c_size_t, _c_char_p, _c_char_p,
                           LINES_CALLBACK, ctypes.c_void_p], _c_char_p),
    "grep_options_schema_json": ([], _c_char_p),
    "grep_options_read_json": ([_c_char_p], _c_char_p),
    "grep_status_name": ([_c_int], _c_char_p),
}


def _declare(lib):
    """Gives every export its exact C signature.

    Text results are declared ``c_char_p``: ctypes copies them into a bytes
    object as the call returns, before any other call can release the
    thread's result slot.
    """
    for name, (argtypes, restype) in SIGNATURES.items():
        function = getattr(lib, name)
        function.argtypes = argtypes
        function.restype = restype
    return lib


def library():
    """The loaded library, loaded on first use. Raises OSError when no
    candidate loads, naming every place tried."""
    global _library
    with _lock:
        if _library is None:
            tried = []
            for where, path in _candidates():
                try:
                    _library = _declare(ctypes.CDLL(path))
                    break
                except (OSError, AttributeError) as error:
                    tried.append("%s (%s): %s" % (path, where, error))
            else:
                raise OSError("quenmar-grep library not found; tried: " + "; ".join(tried)
                              + ". Set %s to the library's path." % ENV_VAR)
        return _library
