// Replacing by pattern across a tree: the search's walk and matching pick
// the files and lines, and each file is then edited with the guarantees of
// a batch edit.
//
// The call runs in two steps on the caller's thread (the search may use
// helper threads, as a search does). First the tree is searched as
// grep_search_json searches it with the same options, which gives the files
// that hold a match (each file once, under the first path that names it)
// and, where a cap applies, how many lines of each the search took. Then,
// in chunks, each file is locked and read, its bytes hashed (SHA-256), held
// against "expect" when given, searched again as read under the lock, and
// every match of every selected line (up to the same number of lines) is
// replaced by the template's expansion; every other byte stays as it was.
// The files of a chunk are staged, flushed at once, put in place and their
// directories flushed once. A file that fails leaves the others as they are
// and itself untouched; a binary file is never written. No state of its own.
#ifndef QG_PATTERN_REPLACE_H
#define QG_PATTERN_REPLACE_H

#ifdef __cplusplus
extern "C" {
#endif

// Replaces `pattern` by `replacement` in the files below `root_path` (see
// grep_replace_json in the public header) and returns the report document,
// which the caller frees. Null, with the message and the status set, when
// the call cannot start (an argument, the options, the pattern or the
// template refused) or memory runs out before any file is touched.
char *grep_core_replace_json(const char *root_path, const char *pattern, const char *replacement,
                             const char *options_json);

#ifdef __cplusplus
}
#endif

#endif  // QG_PATTERN_REPLACE_H
