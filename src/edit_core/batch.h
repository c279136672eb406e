// Batch edits over many files, described by a JSON document.
//
// The edits are grouped by file, in the order files first appear: by path
// text, and paths that name one file (a.txt, ./a.txt, a link to it) by the
// file's identity, so every file is read once, its line numbers all refer
// to it as read, and it is written once, under the first path given. Each
// edit object is checked: members of the wrong type, members the batch does
// not take, or none that says what to do, fail the file's group with a
// message naming the edit; an element that names no file is a failed group
// of its own, without a path. Files stand or fall one by one: a failed group
// leaves its file as it was, and the others are still edited. Files are
// edited in chunks: each file of a chunk is locked, read, edited in memory
// and staged beside itself; then all are flushed to the disk at once, put in
// place, and their directories flushed once. With "dry_run" nothing is
// written, and the result carries each file's unified diff instead; with
// "exact" every line end that no edit names is kept. Runs on the caller's
// thread; no state of its own.
#ifndef QG_BATCH_H
#define QG_BATCH_H

#include "grep_core/json_out.h"

#include <stdbool.h>
#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

// Applies the edits of `instructions_json` (null or empty, invalid JSON and a
// missing edits array each give a fixed failure document and touch no file)
// and returns the report document, which the caller frees. Sets the thread's
// status: GREP_OK when every group succeeded, else that of the first group
// that failed (or of the fixed failure). Null only when memory runs out:
// while grouping, before any file is touched, or for the report itself.
char *grep_core_batch_replace_json(const char *instructions_json);

// Appends to `errors` one report error string: the `path_len` bytes of `path`
// (NULs included) and ": ", unless `path` is null (an element that names no
// file), then `message`, as a quoted JSON string, each byte that is not
// valid UTF-8 written as U+FFFD so the report always parses. A null message
// counts as empty. Running out of memory shows in errors->failed.
void batch_append_group_error(json_out *errors, const char *path, size_t path_len,
                              const char *message);

#ifdef __cplusplus
}
#endif

#endif  // QG_BATCH_H
