// The edits of one file, from its read to its write: the file is locked for
// editing and read, its edits by matching text become line edits, every
// edit is checked (replacements that overlap, expected texts), and all are
// applied in memory in one pass; then the new contents are staged beside the
// file, to be flushed and put in place by the caller (alone, or with a
// batch's other files). Nothing reaches the disk before every edit of the
// file has been applied. A file_edit belongs to one thread; the file stays
// locked, against other editors of this library, until it is released.
#ifndef QG_FILE_EDIT_H
#define QG_FILE_EDIT_H

#include "edit_core/edit.h"
#include "edit_core/line_spans.h"
#include "grep_core/json_out.h"
#include "grep_core/text_read.h"
#include "platform/platform.h"

#include <stdbool.h>
#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

// What one file is to receive.
typedef struct file_edit_input {
  const char *path;
  line_edit *edits;  // sorted in place; may be null when count is 0
  int count;
  const text_edit *texts;  // may be null when text_count is 0
  int text_count;
  bool diff;  // make the unified diff of the change (a dry run)
} file_edit_input;

typedef struct file_edit {
  const char *path;
  plat_file file;  // open and locked from the read until release
  bool locked;
  plat_file_meta meta;  // what was read, for the write's check
  text_buffers buffers;  // the file's bytes and decoded text
  const char *text;
  size_t len;
  text_encoding encoding;
  line_ending ending;
  line_spans lines;   // the file's lines, then the edited ones
  line_edit *edits;   // the line edits and those made from text edits
  int count;
  char **owned;  // new texts made from text edits
  int owned_count;
  json_out diff;  // the unified diff, when asked for
  plat_replacement *staged;
} file_edit;

// Locks and reads the file, turns its text edits into line edits, checks
// every edit and applies them in memory; with in->diff, makes the diff of
// the change. False, with the message and its kind set, on failure; release
// `fe` in every case.
bool file_edit_prepare(file_edit *fe, const file_edit_input *in);

// Stages the write of the edited file in its own encoding and dominant line
// ending (see stage_file_pieces): it must still be the file that was read.
// Then releases the text, holding only the lock and the staged write. False
// with the message set.
bool file_edit_stage(file_edit *fe);

// Unlocks the file and releases everything, an uncommitted write included.
void file_edit_release(file_edit *fe);

#ifdef __cplusplus
}
#endif

#endif  // QG_FILE_EDIT_H
