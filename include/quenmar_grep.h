/*
 * quenmar-grep: search source trees and edit text files by line number.
 *
 * A plain C interface for host programs. Every function runs synchronously on
 * the calling thread. Texts passed in are NUL-terminated UTF-8; any pointer
 * argument may be NULL (the call then fails with a message, see below).
 *
 * Ownership of returned texts: every function that returns a text keeps the
 * last text it returned in a slot of its own on the calling thread and
 * releases it when the same function is next called on the same thread (or
 * when the thread ends); grep_version's text is static. Copy what you want to
 * keep, and never pass a result back into the next call of the same function.
 * These functions never return NULL.
 *
 * What happened: after every call, grep_last_status() on the same thread
 * says how it ended (GREP_OK, a stop or time limit, or the kind of failure).
 * Every failing call also writes a message into the calling thread's
 * last-error text, read with grep_last_error(). The pointer is never NULL and
 * stays valid for the life of the thread; the text is never freed by the
 * caller and never cleared by the library, so after a successful call it may
 * still hold the message of an earlier failure: it describes the most recent
 * call exactly when grep_last_status() is not GREP_OK. Branch on the status,
 * never on the text.
 */
#ifndef QUENMAR_GREP_H
#define QUENMAR_GREP_H

#if defined(_WIN32)
#if defined(QUENMAR_GREP_BUILDING)
#define QUENMAR_GREP_API __declspec(dllexport)
#else
#define QUENMAR_GREP_API __declspec(dllimport)
#endif
#elif defined(__GNUC__)
#define QUENMAR_GREP_API __attribute__((visibility("default")))
#else
#define QUENMAR_GREP_API
#endif

#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

/* How the calling thread's most recent call ended (see grep_last_status). */
typedef enum grep_status {
  GREP_OK = 0,             /* it did all it was asked */
  GREP_STOPPED = 1,        /* the host's callback asked the search to stop */
  GREP_TIMED_OUT = 2,      /* the search reached its time limit; what it found is delivered */
  GREP_OUTPUT_LIMITED = 3, /* the search reached its "max_output_bytes"; what fits is
                              delivered */
  GREP_E_ARGUMENT = -1,    /* a required argument null or empty, invalid JSON, a bad option
                              value, an invalid pattern, a line range the reader refuses */
  GREP_E_NOT_FOUND = -2,   /* the root, file or folder does not exist */
  GREP_E_IO = -3,          /* not permitted, not a regular file, too large, a read or write
                              failed, changed since it was read */
  GREP_E_CONFLICT = -4,    /* an edit's expected text differs, or its old_text is absent or
                              ambiguous */
  GREP_E_NO_MEMORY = -5    /* memory ran out */
} grep_status;

/* The name of a grep_status value as this header spells it, e.g.
 * "GREP_E_NOT_FOUND"; "" for a value it does not define. Static text.
 * Beyond the core functions. */
QUENMAR_GREP_API const char *grep_status_name(int status);

/* Receives one streamed match object (compact JSON). The text is valid only
 * during the call; copy it to keep it. Called on the thread that called
 * grep_search_stream, before that call returns, in match order. */
typedef void (*grep_match_callback)(const char *match_json);

/* Receives one streamed match object, as grep_match_callback does, with the
 * host's user_data. Returning non-zero stops the search at once: no further
 * line is matched and no further file is read. */
typedef int (*grep_match_callback_ctx)(const char *match_json, void *user_data);

/* The library's version, "1.0.0". Static text. */
QUENMAR_GREP_API const char *grep_version(void);

/* The calling thread's last-error text; "" before any failure. Never NULL. */
QUENMAR_GREP_API const char *grep_last_error(void);

/* The status (a grep_status value) of the calling thread's most recent call of
 * any other function of this header; grep_version, grep_last_error,
 * grep_last_status and grep_status_name leave it as it is. GREP_OK before
 * any call. A search that stopped (GREP_STOPPED), timed out (GREP_TIMED_OUT)
 * or reached its output cap (GREP_OUTPUT_LIMITED) still returns what it
 * found; a batch is GREP_OK when every file succeeded, else the status of
 * its first failed file. Beyond the core functions: hosts branch on this. */
QUENMAR_GREP_API int grep_last_status(void);

/* Searches the file or directory tree at root_path for pattern, configured by
 * the JSON options document options_json (may be NULL). Returns the search
 * document {"matches":[...],"total_matches":N,"files_searched":N,
 * "duration_ms":N}; on failure a document of the same totals with an "error"
 * member holding the last-error text. With the option "max_output_bytes" the
 * document holds no match object that would take it past that many bytes: the
 * search ends there, with "output_limited":true after "duration_ms" and
 * GREP_OUTPUT_LIMITED (the document is never longer than the cap, unless the
 * cap is below 126 bytes, the size of a document without matches and with
 * the largest totals). A regular expression (either syntax) of more than
 * 262,144 bytes, or whose compiled program would pass 262,144 instructions,
 * is refused with GREP_E_ARGUMENT ("Pattern too large: ..."),
 * as is one in the standard syntax that is not valid ("Invalid pattern: WHAT
 * at byte N"). A regular expression's search holds, per thread, at most
 * 2 MiB of automaton states (RE_DFA_CACHE_BYTES in the sources) beside its
 * files and results. */
QUENMAR_GREP_API const char *grep_search_json(const char *root_path, const char *pattern,
                                              const char *options_json);

/* Searches the `length` bytes at `text` (a host's buffer, say an editor's
 * unsaved file; its encoding is recognised as a file's is, and binary text is
 * passed over) as one file called `name`, to which the options' globs apply,
 * and returns the search document that grep_search_json gives for such a
 * file. `text` may be NULL when `length` is 0. The result is kept in a slot of
 * its own on the calling thread, released by the next call of this function
 * there. Beyond the core functions. */
QUENMAR_GREP_API const char *grep_search_text(const char *name, const char *text, size_t length,
                                              const char *pattern, const char *options_json);

/* Lists the files that grep_search_json would read under root_path with the
 * same options document, in the same order, without reading any:
 * {"files":["src/a.c",...],"total_files":N,"duration_ms":N}, with
 * "timed_out":true after "duration_ms" when "timeout_ms" ended it (or
 * "output_limited":true when "max_output_bytes" did, as for a search). The keys
 * that concern matching have no effect. A root that is a file lists that
 * file. On failure (a root that is missing or cannot be walked, invalid
 * options) the same members with an "error" member holding the last-error
 * text. The result is kept in a slot of its own on the calling thread,
 * released by the next call of this function there. Beyond the core
 * functions. */
QUENMAR_GREP_API const char *grep_list_files_json(const char *root_path, const char *options_json);

/* Receives a piece of the printed lines of grep_search_lines: `length` bytes
 * at `text` (not NUL-terminated; the bytes of the files' lines as they are,
 * so not always UTF-8), ending at the end of a line. Valid only during the
 * call. A piece may be empty: while files print nothing, the callback still
 * comes every 10 ms or so. Returning non-zero stops the search. */
typedef int (*grep_lines_callback)(const char *text, size_t length, void *user_data);

/* Runs the search of grep_search_json and prints its results as the lines
 * people read, handing them to callback (may be NULL: then nothing is
 * printed) in pieces on the calling thread: PATH:LINE:COL:TEXT for a matched
 * line, PATH-LINE-TEXT for a context line (each line once, "--" between
 * groups that do not touch), or what the options' printer keys ask for
 * ("print": "lines", "matches", "files", "count" or "json"; "heading",
 * "color", "line_number", "column", "with_filename"; "before_context" and
 * "after_context"; see grep_options_schema_json). When `text` is not NULL,
 * the `length` bytes at `text` are searched as one file called root_path, as
 * grep_search_text searches them. Returns the summary
 * {"total_matches":N,"files_searched":N,"files_matched":N,"duration_ms":N},
 * with "timed_out":true after a time limit and "depth_limited":true under
 * "strict" when the walk met its depth limit; on failure the same members,
 * all 0, with an "error" member holding the last-error text. A non-zero
 * return of the callback stops the search (GREP_STOPPED). Beyond the core
 * functions. */
QUENMAR_GREP_API const char *grep_search_lines(const char *root_path, const char *text,
                                               size_t length, const char *pattern,
                                               const char *options_json,
                                               grep_lines_callback callback, void *user_data);

/* Every key the options document may hold, as JSON:
 * {"options":[{"key":K,"keyword":K2,"type":T,...,"default":V,"origin":O,
 * "scope":S,"doc":D},...]} in the order they are read. "type" is "boolean",
 * "integer" (with "minimum" and "maximum"), "globs" (a text cut at commas,
 * semicolons and spaces, or an array of texts), "path_globs" (a text that is
 * one glob, or an array) or "choice" (with "choices"); lists carry
 * "max_items". "origin" is "core" (read leniently: a value of the wrong type
 * is ignored, integers are cut to 32 bits, lists to their limit) or
 * "extension" (a value it cannot take fails the call with GREP_E_ARGUMENT);
 * "strict": true reads every key as an extension's and refuses unknown and
 * repeated keys. "scope" says which calls the key has an effect on
 * ("search", "walk", "lines": grep_search_lines alone, "call": how the
 * options are read). "keyword" is the name the language bindings give it.
 * Beyond the core functions. */
QUENMAR_GREP_API const char *grep_options_schema_json(void);

/* The options document options_json (may be NULL) as the searches would read
 * it: every key of grep_options_schema_json with the value in force, as a
 * JSON object. On failure (invalid JSON, a value refused) {"error":MESSAGE},
 * with the status and last-error text set as a search would set them.
 * Beyond the core functions. */
QUENMAR_GREP_API const char *grep_options_read_json(const char *options_json);

/* Runs the same search, handing each match object to callback (may be NULL,
 * then matches are only counted). Returns the number of matches, or -1 when
 * the search could not start. With "max_output_bytes", a match object that
 * would take the match texts handed over past that many bytes (terminators
 * not counted) is not handed over nor counted: the search ends there, with
 * GREP_OUTPUT_LIMITED. */
QUENMAR_GREP_API int grep_search_stream(const char *root_path, const char *pattern,
                                        const char *options_json, grep_match_callback callback);

/* Runs the search of grep_search_stream (same match objects, same order, same
 * failures and -1), calling callback(match_json, user_data) per match; a
 * non-zero return stops the search, and the result then counts the matches up
 * to and including the stopping one. A NULL callback only counts. Beyond the
 * core functions above: hosts that need a search they can stop use this one. */
QUENMAR_GREP_API int grep_search_stream_ctx(const char *root_path, const char *pattern,
                                            const char *options_json,
                                            grep_match_callback_ctx callback, void *user_data);

/* Replaces lines start_line..end_line (1-based, inclusive) of file_path with
 * the lines of new_text; start_line > end_line inserts before start_line.
 * Returns 0 on success, -1 on failure.
 *
 * Every edit (here and in grep_batch_replace_json) reads, changes and writes
 * a file under an exclusive advisory lock that every edit through this
 * library takes, so concurrent edits of one file, from threads or processes,
 * run one after the other and none is lost. Programs that take no such lock
 * are not held up; a change they make between the read and the write is
 * found and fails the edit ("changed since it was read", GREP_E_IO) with the
 * file left as they wrote it. The file is replaced whole through a temporary
 * file beside it that takes its mode, owner and extended attributes, so it
 * holds either its old or its new contents, durably, when the call returns
 * (a file with several hard links, or whose attributes the new file cannot
 * take, is written in place, once the room for it is secured). Every line is
 * written with the file's most common line ending; grep_replace_lines_exact
 * keeps the endings of the lines it does not name. */
QUENMAR_GREP_API int grep_replace_lines(const char *file_path, int start_line, int end_line,
                                        const char *new_text);

/* grep_replace_lines that changes only the lines it names: every other line
 * keeps its bytes and its own line end (LF, CR LF or a lone CR), and a last
 * line without one keeps none; each new line takes the line end of the line
 * it replaces, an inserted line the file's most common one. A start_line past
 * the line after the last fails ("File has only N lines, requested start at
 * line M", GREP_E_ARGUMENT); start_line below 1 and end_line past the end are
 * brought into range as in grep_replace_lines. The same as a batch edit with
 * "exact": true. Beyond the core functions. */
QUENMAR_GREP_API int grep_replace_lines_exact(const char *file_path, int start_line, int end_line,
                                              const char *new_text);

/* Applies a JSON list of line edits over many files and returns the report
 * {"success":B,"files_modified":N,"total_edits":N,"errors":[...]}.
 *
 * The instructions are an array of edit objects, or {"edits":[...]} with the
 * optional "dry_run", "diffs" and "exact" (true or false each; any other
 * member fails the whole call before a file is touched). An edit object holds
 * "file" and either a line edit ("start_line", "end_line": integers within
 * 32 bits; "new_text": a string; "expected_text": the text the lines must
 * hold now, joined with \n, for the edit to apply) or a text edit
 * ("old_text": a non-empty text that must occur exactly once in the file,
 * with every line ending read as \n; "new_text"; "replace_all": true to
 * replace every occurrence), and no other member. Every line number refers
 * to the file as it was read. Edits naming one file by several paths are one
 * group, reported under the first path. A group whose edit is malformed,
 * holds a member the batch does not take, collides with another (replacements
 * sharing a line, an insertion strictly inside a replaced range), or expects
 * what the file does not hold fails whole and nothing of its file is written;
 * an element that names no file is an error string of its own. With "exact":
 * true every line that no edit names keeps its bytes and line end, and an
 * edit starting past the line after the last fails. With "dry_run": true
 * nothing is written, and the report gains "diffs": [{"file":P,"diff":D}],
 * one unified diff of the file's own bytes per file that would change (with
 * "diff_base64", those bytes in base64, when they are not UTF-8); with
 * "diffs": true the files are written and the report lists the diff of each
 * one written. */
QUENMAR_GREP_API const char *grep_batch_replace_json(const char *instructions_json);

/* Replaces every match of `pattern` in every line that grep_search_json,
 * given the same root and options, would report, by `replacement`, and
 * writes each file once, with the guarantees of grep_batch_replace_json's
 * exact edits: the file locked while it is read and written, refused when
 * another program changed it between the two, its encoding, byte-order
 * mark, line ends and permissions kept, the new contents staged beside it,
 * flushed and put in place atomically, one flush of the disk for all the
 * files of the call. Every byte outside the matches stays as it was; a
 * binary file is never written; a file that fails leaves the others as they
 * are. Returns {"success":B,"files_modified":N,"total_replacements":N,
 * "files":[{"file":P,"replacements":N,"sha256":H}...],"errors":[...],
 * "failures":[{"file":P,"status":S,"message":M}...],"files_searched":N},
 * with "timed_out":true when "timeout_ms" ended the search (the files found
 * until then are replaced) and "output_limited":true when "max_output_bytes"
 * cut the list of files. "sha256" is the hash of the file's bytes as read.
 * The result is kept in this export's own slot of the calling thread.
 *
 * The replacement is a template. With a regular expression, "$0" is the
 * whole match, "$1".."$99" (two digits at most) and "${N}" a group by
 * number, "${name}" a named group, "$$" a dollar; a group that took no part
 * gives the empty text; a reference to a group the pattern does not have,
 * and "$" before a letter or '_', fail the call before any file is read. With
 * a literal pattern only "$$" and "$0" are read. The options are those of
 * grep_search_json, "invert_match" excepted (refused: it selects no match),
 * and three of their own: "dry_run": true writes nothing and adds "diff"
 * (and "diff_base64" for bytes that are not UTF-8), the unified diff of the
 * file's own bytes, to each entry of "files"; "expect": {"PATH":"HASH",...}
 * (paths as "files" gives them) replaces only in those files, each only
 * while its bytes still hash to HASH, else that file fails with "File 'P'
 * changed since it was read" (GREP_E_IO); "preserve_case": true gives a
 * replacement of plain words (letters, digits, '_' and '-') the case shape
 * of each match: foo_bar, FOO_BAR, FooBar and fooBar become new_name,
 * NEW_NAME, NewName and newName for "new_name". The status is that of the
 * first file that failed, else GREP_TIMED_OUT or GREP_OUTPUT_LIMITED as
 * above, else GREP_OK. A call that cannot start returns success false with
 * the message in "errors" and nothing touched. */
QUENMAR_GREP_API const char *grep_replace_json(const char *root_path, const char *pattern,
                                               const char *replacement, const char *options_json);

/* Returns lines start_line..end_line of file_path, each as "N: text\n";
 * start_line below 1 reads the whole file, end_line below 1 reads to the end.
 * Returns "" on failure (see grep_last_error) and when nothing is selected. */
QUENMAR_GREP_API const char *grep_read_lines(const char *file_path, int start_line, int end_line);

#ifdef __cplusplus
}
#endif

#endif /* QUENMAR_GREP_H */
