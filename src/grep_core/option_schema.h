// The one definition of every key of the options document: its name, the
// type of value it takes, its range and default, whether it is one of the
// core keys or an opt-in extension, which calls read it, one line of
// documentation, and where its value is kept in grep_opts. The reader
// (options.cpp) works from this table, grep_options_schema_json writes it
// out, and the bindings' keywords and types, the tool server's input
// schemas and the tool's flags are generated from or checked against that
// output. The table is constant data; any thread may read it.
#ifndef QG_OPTION_SCHEMA_H
#define QG_OPTION_SCHEMA_H

#include "grep_core/options.h"

#include <stdbool.h>
#include <stddef.h>
#include <stdint.h>

// What a key takes.
enum class option_type : uint8_t {
  boolean,      // true or false
  integer,      // a JSON integer within [min, max]
  globs,        // a string (cut at commas, semicolons and spaces) or an array of strings
  path_globs,   // a string (one glob) or an array of strings
  choice,       // one of the texts of `choices`
  file_hashes,  // an object of path -> SHA-256 in hex (the grep_file_hash array at `offset`)
  text,         // a string without NUL (a char * at `offset`, owned; null when not given)
};

// Where a key comes from: the core keys keep their lenient reading (a value
// of the wrong type is ignored, integers are cut to 32 bits, lists to
// GREP_OPTS_MAX_GLOBS) unless "strict" is given; every other key refuses a
// value it cannot take.
enum class option_origin : uint8_t { core, extension };

// Which calls a key has an effect on; every call accepts every key.
enum class option_scope : uint8_t {
  search,   // the search and its reports (and what the walk reads)
  walk,     // which files are read: the searches and the file listing
  lines,    // the line printer (grep_search_lines) alone
  call,     // how the options themselves are read
  replace,  // replacing by pattern (grep_replace_json) alone
};

typedef struct option_row {
  const char *key;
  const char *keyword;  // the bindings' keyword for it (Python), when it differs from `key`
  option_type type;
  option_origin origin;
  option_scope scope;
  int64_t min, max;     // integer: the range a value must lie in
  int64_t fallback;     // the default: 0/1 for a boolean, the number, or the index of a choice
  const char *choices;  // choice: the texts, separated by '|'
  const char *doc;      // one line for the documentation and the schemas
  // Where the value goes in grep_opts: a bool, an integer of
  // `integer_bytes` (4: int32_t, 8: int64_t) or a uint8_t (a choice's index)
  // at `offset`; for a list, the char *[] at `offset` and its int32_t count
  // at `count_offset`. A boolean with `invert` stores the opposite of its
  // value.
  size_t offset;
  size_t count_offset;
  bool invert;
  uint8_t integer_bytes;
} option_row;

// Every key, in the order the reader reads them: where two keys write one
// field, the later one wins.
const option_row *option_rows(size_t *count);

// The row of `key` (`len` bytes), or null.
const option_row *option_row_find(const char *key, size_t len);

// The text of choice `index` of `key_row` into `out` (`cap` bytes, NUL-terminated,
// cut to fit); its length.
size_t option_choice_text(const option_row *key_row, int64_t index, char *out, size_t cap);

// The index of the choice spelt by the `len` bytes at `text`, or -1.
int64_t option_choice_index(const option_row *key_row, const char *text, size_t len);

// The table as a compact JSON document (see grep_options_schema_json in the
// public header); the caller frees it. Null when memory runs out.
char *option_schema_json(void);

// Every key of the table with the value `opts` holds for it, as a compact
// JSON object in the table's order (see grep_options_read_json); the caller
// frees it. Null when memory runs out.
char *option_values_json(const grep_opts *opts);

#endif  // QG_OPTION_SCHEMA_H
