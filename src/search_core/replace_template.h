// The replacement of a pattern replace: a template read once per call, then
// expanded for each match, and the case shapes "preserve_case" carries from
// a match to a plain-word replacement.
//
// In a template of a pattern with groups (any regular expression), "$0" is
// the whole match, "$1".."$99" and "${N}" a group by number (at most two
// digits after a bare "$": "$123" is group 12 and "3"), "${name}" a named
// group, "$$" one dollar; a group that took no part gives the empty text. A
// "$" before a letter or '_' is refused (write "${name}"), so a reference is
// never read as plain text by mistake; one before anything else stays a
// dollar. For a literal pattern only "$$" and "$0" are read; the rest stands
// as written. A template belongs to one call; its pieces point into the
// text it was read from.
#ifndef QG_REPLACE_TEMPLATE_H
#define QG_REPLACE_TEMPLATE_H

#include "grep_core/json_out.h"
#include "grep_core/regex.h"
#include "search_core/scan.h"

#include <stdbool.h>
#include <stddef.h>
#include <stdint.h>

// One piece of a template: text as written, or group `group` (0: the match).
typedef struct template_piece {
  const char *text;  // null for a group
  size_t len;
  uint32_t group;
} template_piece;

typedef struct replace_template {
  template_piece *pieces;
  size_t count;
  bool plain;          // only ASCII letters, digits, '_' and '-' (what "preserve_case" adapts)
  uint32_t max_group;  // the highest group it names (0: none beyond the match)
} replace_template;

// Reads `text` against `program` (null for a literal pattern; a program
// compiled with captures, for its groups and their names). False, with the
// message set (GREP_E_ARGUMENT, naming the reference; GREP_E_NO_MEMORY), on
// a reference to a group the pattern lacks or a malformed one; the template
// then owns nothing.
bool replace_template_read(replace_template *t, const char *text, const re_program *program);

void replace_template_free(replace_template *t);

// True when `text` names a group other than the whole match ("$1", "${x}"),
// so that the pattern must be compiled to tell where its groups matched.
bool replace_template_names_groups(const char *text);

// Appends the expansion of `t` for the match of `match_len` bytes at
// `match` to `out`. `groups` holds `group_count` spans in `line`, the
// match's line (col from 1; col 0: the group took no part); a group beyond
// them gives the empty text.
void replace_template_expand(const replace_template *t, json_out *out, const char *line,
                             const char *match, size_t match_len, const match_span *groups,
                             uint32_t group_count);

// Appends `replacement` (plain: letters, digits, '_' and '-') to `out` in
// the case shape of `match`: its words (cut at '_', '-' and where the case
// changes) in lower case joined by '_' for snake_case, in upper case for
// UPPER_CASE, capitalised and joined for PascalCase, the same after a first
// lower-case word for camelCase, with '-' where the match uses '-'; a match
// all in one case with no separator gives the replacement in that case as
// written; any other match, the replacement as written.
void append_in_case_of(json_out *out, const char *replacement, size_t n, const char *match,
                       size_t match_len);

#endif  // QG_REPLACE_TEMPLATE_H
