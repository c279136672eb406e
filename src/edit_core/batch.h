// Batch edits over many files, described by a JSON document.
#ifndef QG_BATCH_H
#define QG_BATCH_H

#ifdef __cplusplus
extern "C" {
#endif

// Applies the edits of `instructions_json` file by file and returns the report
// document, which the caller frees. Null only when that text cannot be
// allocated.
char *grep_core_batch_replace_json(const char *instructions_json);

#ifdef __cplusplus
}
#endif

#endif  // QG_BATCH_H
