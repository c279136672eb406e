// The edits of one file, from its read to its write: the file is locked for
// editing and read, its edits by matching text become line edits, every
// edit is placed in the file as read and checked (edits that collide,
// expected texts), and all are applied in memory in one pass; then the new
// contents are staged beside the file, to be flushed and put in place by the
// caller (alone, or with a batch's other files). Nothing reaches the disk before every edit of the
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
  bool diff;   // make the unified diff of the change (a dry run)
  bool exact;  // keep every line end (see file_edit_prepare)
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
  line_ending ending;  // the dominant one of LF and CR LF
  const char *exact_fill;  // the dominant one of LF, CR LF and lone CR
  bool open_end;  // the file's last line has no ending
  line_spans lines;   // the file's lines, then the edited ones
  line_ends ends;     // how the edited lines are written
  line_edit *edits;   // the line edits and those made from text edits
  int count;
  edit_place *places;  // the edits placed in the file as read
  char **owned;  // new texts made from text edits and exact line ends
  int owned_count;
  int owned_capacity;
  json_out diff;  // the unified diff, when asked for
  const char *new_text;  // the whole new text of file_edit_set_text (owned), or null
  plat_replacement *staged;
} file_edit;

// Locks and reads the file, turns its text edits into line edits, places and
// checks every edit and applies them in memory; with in->diff, makes the
// diff of the change. Without in->exact every line is written with the
// file's dominant ending of LF and CR LF, the last one included. With it,
// every line that no edit names keeps its own ending (LF, CR LF or lone CR)
// and a last line without one keeps none; a new line takes the ending of the
// line it replaces (the ones beyond them that of the last line replaced),
// an inserted line, and a replaced line that had none, the dominant one of
// the three; a new last line (not empty) of a file whose last line had no
// ending has none either; and an edit that starts past the line after the last
// fails. False, with the message and its kind set, on failure; release `fe`
// in every case.
bool file_edit_prepare(file_edit *fe, const file_edit_input *in);

// Locks and reads the file at `path` (kept by the caller) into `fe`, for a
// caller that makes the new text itself: fe->text and fe->len hold it as the
// reader gives it (UTF-8, every line end as it stands), fe->buffers.raw the
// bytes as they are on the disk. Fails as file_edit_prepare does on a file
// that cannot be edited (NUL bytes, half a UTF-16 character). False with the
// message set; release `fe` in every case.
bool file_edit_read(file_edit *fe, const char *path);

// Makes the `len` bytes of `text` (in the reader's form, NUL-terminated,
// from malloc; owned by `fe` from now on, whatever the outcome) the whole
// new text of the file read by file_edit_read, to be written as it stands
// (its line ends included) in the file's encoding. With `diff`, makes the
// diff of the change. False with the message set.
bool file_edit_set_text(file_edit *fe, char *text, size_t len, bool diff);

// Stages the write of the edited file in its own encoding and the line
// endings file_edit_prepare chose (see stage_file_pieces): it must still be the file that was read.
// Then releases the text, holding only the lock and the staged write. False
// with the message set.
bool file_edit_stage(file_edit *fe);

// Unlocks the file and releases everything, an uncommitted write included.
void file_edit_release(file_edit *fe);

// Sorts the `n` indices of `order` (into `ids`) by the files' identities,
// the order in which the files of a chunk are locked: two calls that lock
// their files in the same order never wait for each other in a circle.
void file_edits_lock_order(const plat_file_id *ids, int32_t *order, int32_t n);

// Puts the `n` staged writes in place (null entries are passed over): all
// are flushed to the disk at once, then each replaces its file, then their
// directories are flushed once. results[k] says how staged[k] ended
// (PLAT_REPLACE_DONE: in place); report a failure with report_write_failure.
void file_edits_put_in_place(plat_replacement **staged, size_t n, plat_replace_result *results);

#ifdef __cplusplus
}
#endif

#endif  // QG_FILE_EDIT_H
