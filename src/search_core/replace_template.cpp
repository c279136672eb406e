#include "search_core/replace_template.h"

#include "grep_core/grow_array.h"
#include "grep_core/last_error.h"

#include <stdlib.h>
#include <string.h>

namespace {

bool is_digit(char c) { return c >= '0' && c <= '9'; }
bool is_lower(char c) { return c >= 'a' && c <= 'z'; }
bool is_upper(char c) { return c >= 'A' && c <= 'Z'; }
bool is_letter(char c) { return is_lower(c) || is_upper(c); }
bool is_word(char c) { return is_letter(c) || is_digit(c) || c == '_'; }
char to_lower(char c) { return is_upper(c) ? static_cast<char>(c - 'A' + 'a') : c; }
char to_upper(char c) { return is_lower(c) ? static_cast<char>(c - 'a' + 'A') : c; }

// The group named by the `n` bytes at `name`: a number up to the pattern's
// groups, or the name of one; -1 when there is none.
int64_t group_by_name(const char *name, size_t n, const re_program *program) {
  const uint32_t count = program != nullptr ? re_group_count(program) : 0;
  bool number = n > 0 && n <= 10;
  for (size_t k = 0; k < n && number; ++k) number = is_digit(name[k]);
  if (number) {
    int64_t g = 0;
    for (size_t k = 0; k < n; ++k) g = g * 10 + (name[k] - '0');
    return g <= count ? g : -1;
  }
  for (uint32_t g = 1; g <= count; ++g) {
    const char *own = re_group_name(program, g);
    if (own != nullptr && strlen(own) == n && memcmp(own, name, n) == 0) return g;
  }
  return -1;
}

struct piece_list {
  grow_array<template_piece> pieces;
  bool push_text(const char *text, size_t len) {
    if (len == 0) return true;
    // Text beside text is one piece.
    if (pieces.count > 0) {
      template_piece &last = pieces.items[pieces.count - 1];
      if (last.text != nullptr && last.text + last.len == text) {
        last.len += len;
        return true;
      }
    }
    return pieces.push(template_piece{text, len, 0});
  }
  bool push_group(uint32_t group) { return pieces.push(template_piece{nullptr, 0, group}); }
};

bool refuse_reference(const char *reference, size_t n, const char *why) {
  qg_fail(GREP_E_ARGUMENT, "Replacement refers to %.*s, %s", static_cast<int>(n), reference, why);
  return false;
}

// Reads the reference after the '$' at `p` into `list`; moves `p` past it.
bool read_reference(const char *&p, const re_program *program, piece_list *list) {
  const char *const dollar = p++;
  if (*p == '$') {
    ++p;
    return list->push_text(dollar + 1, 1);
  }
  if (program == nullptr) {  // a literal pattern: only $0 and $$
    if (*p == '0') {
      ++p;
      return list->push_group(0);
    }
    return list->push_text(dollar, 1);
  }
  if (is_digit(*p)) {
    const size_t n = is_digit(p[1]) ? 2 : 1;
    const int64_t g = group_by_name(p, n, program);
    p += n;
    if (g < 0) return refuse_reference(dollar, 1 + n, "a group the pattern does not have");
    return list->push_group(static_cast<uint32_t>(g));
  }
  if (*p == '{') {
    const char *close = strchr(p, '}');
    if (close == nullptr)
      return refuse_reference(dollar, strlen(dollar), "which has no closing '}'");
    const char *name = p + 1;
    const size_t n = static_cast<size_t>(close - name);
    bool word = n > 0;
    for (size_t k = 0; k < n && word; ++k) word = is_word(name[k]);
    if (!word) {
      return refuse_reference(dollar, n + 3, "which is not a group number or a group's name");
    }
    const int64_t g = group_by_name(name, n, program);
    p = close + 1;
    if (g < 0) return refuse_reference(dollar, n + 3, "a group the pattern does not have");
    return list->push_group(static_cast<uint32_t>(g));
  }
  if (is_letter(*p) || *p == '_') {
    size_t n = 0;
    while (is_word(p[n])) ++n;
    return refuse_reference(dollar, n + 1,
                            "which names a group only as ${name} (write $$ for a dollar)");
  }
  return list->push_text(dollar, 1);
}

bool is_plain(const char *text) {
  if (*text == '\0') return false;
  for (const char *p = text; *p != '\0'; ++p) {
    if (!is_word(*p) && *p != '-') return false;
  }
  return true;
}

// ---- Case shapes ----

// The end of the word of `s` (`n` bytes) that starts at `at`: at a '_' or
// '-', before an upper-case letter after a lower-case one or a digit, and
// before the last upper-case letter of a run that a lower-case one follows.
size_t word_end(const char *s, size_t n, size_t at) {
  size_t k = at + 1;
  for (; k < n; ++k) {
    const char c = s[k], prev = s[k - 1];
    if (c == '_' || c == '-') break;
    if (is_upper(c) && (is_lower(prev) || is_digit(prev))) break;
    if (is_upper(c) && is_upper(prev) && k + 1 < n && is_lower(s[k + 1])) break;
  }
  return k;
}

enum class word_case : uint8_t { lower, upper, capitalised };

void append_word(json_out *out, const char *w, size_t n, word_case c) {
  for (size_t k = 0; k < n; ++k) {
    const bool up = c == word_case::upper || (c == word_case::capitalised && k == 0);
    json_out_char(out, up ? to_upper(w[k]) : to_lower(w[k]));
  }
}

// Appends the words of `s` in case `first` (the first word) and `rest`,
// joined by `joiner` ('\0': none).
void append_words(json_out *out, const char *s, size_t n, word_case first, word_case rest,
                  char joiner) {
  bool first_word = true;
  for (size_t at = 0; at < n;) {
    if (s[at] == '_' || s[at] == '-') {
      ++at;
      continue;
    }
    const size_t end = word_end(s, n, at);
    if (!first_word && joiner != '\0') json_out_char(out, joiner);
    append_word(out, s + at, end - at, first_word ? first : rest);
    first_word = false;
    at = end;
  }
}

void append_all_in(json_out *out, const char *s, size_t n, bool upper) {
  for (size_t k = 0; k < n; ++k) json_out_char(out, upper ? to_upper(s[k]) : to_lower(s[k]));
}

// True when every word of `m` is capitalised (Foo_Bar, Foo-Bar).
bool words_capitalised(const char *m, size_t n) {
  for (size_t at = 0; at < n;) {
    if (m[at] == '_' || m[at] == '-') {
      ++at;
      continue;
    }
    const size_t end = word_end(m, n, at);
    if (!is_upper(m[at])) return false;
    for (size_t k = at + 1; k < end; ++k) {
      if (is_upper(m[k])) return false;
    }
    at = end;
  }
  return true;
}

}  // namespace

bool replace_template_read(replace_template *t, const char *text, const re_program *program) {
  *t = replace_template{};
  piece_list list;
  for (const char *p = text; *p != '\0';) {
    bool ok = true;
    if (*p == '$') {
      ok = read_reference(p, program, &list);
    } else {
      const char *next = strchr(p, '$');
      const size_t n = next != nullptr ? static_cast<size_t>(next - p) : strlen(p);
      ok = list.push_text(p, n);
      p += n;
    }
    if (!ok) {
      if (qg_failure_kind() != GREP_E_ARGUMENT) {
        qg_fail(GREP_E_NO_MEMORY, "Out of memory reading the replacement");
      }
      return false;
    }
  }
  t->plain = is_plain(text);
  for (uint32_t k = 0; k < list.pieces.count; ++k) {
    if (list.pieces.items[k].text == nullptr && list.pieces.items[k].group > t->max_group) {
      t->max_group = list.pieces.items[k].group;
    }
  }
  t->count = list.pieces.count;
  t->pieces = list.pieces.items;
  list.pieces.items = nullptr;
  return true;
}

bool replace_template_names_groups(const char *text) {
  for (const char *p = strchr(text, '$'); p != nullptr; p = strchr(p, '$')) {
    if (p[1] == '$') {
      p += 2;
    } else if (p[1] == '{' || (is_digit(p[1]) && !(p[1] == '0' && !is_digit(p[2])))) {
      return true;
    } else {
      ++p;
    }
  }
  return false;
}

void replace_template_free(replace_template *t) {
  free(t->pieces);
  *t = replace_template{};
}

void replace_template_expand(const replace_template *t, json_out *out, const char *line,
                             const char *match, size_t match_len, const match_span *groups,
                             uint32_t group_count) {
  for (size_t k = 0; k < t->count; ++k) {
    const template_piece &piece = t->pieces[k];
    if (piece.text != nullptr) {
      json_out_bytes(out, piece.text, piece.len);
    } else if (piece.group == 0) {
      json_out_bytes(out, match, match_len);
    } else if (piece.group <= group_count && groups[piece.group - 1].col > 0) {
      const match_span &g = groups[piece.group - 1];
      json_out_bytes(out, line + g.col - 1, static_cast<size_t>(g.length));
    }
  }
}

void append_in_case_of(json_out *out, const char *replacement, size_t n, const char *match,
                       size_t match_len) {
  bool lower = false, upper = false, other = false;
  char sep = '\0';
  for (size_t k = 0; k < match_len; ++k) {
    const char c = match[k];
    lower |= is_lower(c);
    upper |= is_upper(c);
    if ((c == '_' || c == '-') && sep == '\0') sep = c;
    other |= !is_word(c) && c != '-';
  }
  if (other || (!lower && !upper)) {
    json_out_bytes(out, replacement, n);
  } else if (!upper || !lower) {
    // One case throughout: snake_case, UPPER_CASE, or one word.
    if (sep != '\0') {
      const word_case c = upper ? word_case::upper : word_case::lower;
      append_words(out, replacement, n, c, c, sep);
    } else {
      append_all_in(out, replacement, n, upper);
    }
  } else if (sep == '\0') {
    // PascalCase or camelCase: the first letter decides.
    size_t first = 0;
    while (!is_letter(match[first])) ++first;
    const word_case c = is_upper(match[first]) ? word_case::capitalised : word_case::lower;
    append_words(out, replacement, n, c, word_case::capitalised, '\0');
  } else if (words_capitalised(match, match_len)) {
    append_words(out, replacement, n, word_case::capitalised, word_case::capitalised, sep);
  } else {
    json_out_bytes(out, replacement, n);
  }
}
