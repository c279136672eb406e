#include "support/literal.h"

#include <string.h>

#include "grep_core/ascii_class.h"
#include "grep_core/byte_scan.h"
#include "grep_core/find_bytes.h"

// True when the `n` bytes at `hit` stand as a whole word: neither the byte
// before them (if any) nor the byte after them (the NUL at the end counts as
// a non-word byte) is a word byte.
static bool is_whole_word(const char *text, const char *hit, size_t n) {
  if (hit > text && qg_is_word((unsigned char)hit[-1])) return false;
  return !qg_is_word((unsigned char)hit[n]);
}

// True when the `n` bytes at `a` and `b` are equal after ASCII lowercasing.
static bool equal_folded(const char *a, const char *b, size_t n) {
  for (size_t i = 0; i < n; ++i) {
    if (qg_lower((unsigned char)a[i]) != qg_lower((unsigned char)b[i])) return false;
  }
  return true;
}

// The first acceptable occurrence, exact bytes: the C library's substring
// search, restarted one byte after a candidate the whole-word rule rejects.
static const char *find_exact(const char *pattern, size_t n, const char *text, bool whole_word) {
  for (const char *from = text;;) {
    const char *hit = strstr(from, pattern);
    if (hit == nullptr || !whole_word || is_whole_word(text, hit, n)) return hit;
    from = hit + 1;
  }
}

// The same with ASCII case ignored. Candidates are the positions of the
// pattern's first byte in either case (memchr), so results are those of a
// comparison at every position while most text bytes are only scanned.
static const char *find_folded(const char *pattern, size_t n, const char *text, bool whole_word) {
  const size_t text_len = strlen(text);
  if (n > text_len) return nullptr;
  qg_byte_scan scan;
  qg_byte_scan_init(&scan, text, text_len, (unsigned char)pattern[0], true);
  for (size_t s = 0;; ++s) {
    s = qg_byte_scan_next(&scan, s);
    if (s + n > text_len) return nullptr;
    const char *hit = text + s;
    if (!equal_folded(hit + 1, pattern + 1, n - 1)) continue;
    if (!whole_word || is_whole_word(text, hit, n)) return hit;
  }
}

bool fixed_find_first(const char *pattern, const char *text, bool case_sensitive, bool whole_word,
                      int32_t *out_col, int32_t *out_len) {
  if (pattern == nullptr || text == nullptr || *pattern == '\0' || *text == '\0') return false;
  const size_t n = strlen(pattern);
  const char *hit = case_sensitive ? find_exact(pattern, n, text, whole_word)
                                   : find_folded(pattern, n, text, whole_word);
  if (hit == nullptr) return false;
  if (out_col != nullptr) *out_col = (int32_t)(hit - text + 1);
  if (out_len != nullptr) *out_len = (int32_t)n;
  return true;
}
