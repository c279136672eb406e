// The dialect's named operations, on top of the compiled programs: what its
// definition calls regex_find_first, re_match_here, re_match_star and
// re_atom_match, each answered by the library's own compiled automaton, so
// that tests can hold the library against the definition's reference.
#include "support/regex_named_ops.h"

#include "grep_core/regex.h"

#include "grep_core/ascii_class.h"
#include "grep_core/regex_dialect_parts.h"
#include "grep_core/regex_program.h"
#include "support/regex_search.h"

#include <string.h>

namespace {

// Runs `program` once, anchored at the NUL-terminated text `t`.
bool match_once(re_program *program, const char *t, size_t *out_len) {
  if (program == nullptr) return false;
  re_scratch *scratch = re_scratch_new(program);
  bool ok = scratch != nullptr && qg_test::match_at_start(program, scratch, t, strlen(t), out_len) == RE_MATCH;
  re_scratch_free(scratch);
  re_program_free(program);
  return ok;
}

bool escape_match(unsigned char x, unsigned char c) {
  switch (x) {
    case 'd':
      return qg_is_digit(c);
    case 'D':
      return !qg_is_digit(c);
    case 'w':
      return qg_is_word(c);
    case 'W':
      return !qg_is_word(c);
    case 's':
      return qg_is_space(c);
    case 'S':
      return !qg_is_space(c);
    default:
      return x == c;  // never case-folded
  }
}

}  // namespace

bool regex_find_first(const char *pattern, const char *text, bool case_sensitive, int32_t *out_col,
                      int32_t *out_len) {
  if (pattern == nullptr || text == nullptr) return false;
  re_program *program = re_compile(pattern, case_sensitive);
  if (program == nullptr) return false;
  re_scratch *scratch = re_scratch_new(program);
  bool found = scratch != nullptr &&
               re_find(program, scratch, text, strlen(text), out_col, out_len) == RE_MATCH;
  re_scratch_free(scratch);
  re_program_free(program);
  return found;
}

bool re_match_here(const char *p, const char *p_end, const char *t, re_state *st, size_t *out_len) {
  return match_once(re_compile_part(p, p, p_end, !st->ignore_case, false), t, out_len);
}

bool re_match_star(const char *atom, const char *rest, const char *rest_end, const char *t,
                   re_state *st, size_t *out_len) {
  return match_once(re_compile_part(atom, rest, rest_end, !st->ignore_case, true), t, out_len);
}

bool re_atom_match(const char *atom, const char *p_end, unsigned char c, bool ignore_case) {
  const unsigned char x = static_cast<unsigned char>(atom[0]);
  if (x == '.') return true;
  if (x == '\\' && atom + 1 < p_end) return escape_match(static_cast<unsigned char>(atom[1]), c);
  if (x == '[') {
    const char *members, *members_end;
    bool negated;
    re_class_extent(atom, p_end, &members, &members_end, &negated);
    return qg_class_members_match(members, members_end, c, ignore_case) != negated;
  }
  return ignore_case ? qg_lower(x) == qg_lower(c) : x == c;
}
