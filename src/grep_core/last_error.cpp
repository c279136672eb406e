#include "grep_core/last_error.h"

#include <stdarg.h>
#include <stdio.h>

static thread_local char s_last_error[QG_LAST_ERROR_SIZE];

// Number of bytes of a UTF-8 sequence that starts with `lead`, or 0 when
// `lead` cannot start one.
static size_t utf8_sequence_length(unsigned char lead) {
  if (lead >= 0xC2 && lead <= 0xDF) return 2;
  if (lead >= 0xE0 && lead <= 0xEF) return 3;
  if (lead >= 0xF0 && lead <= 0xF4) return 4;
  return 0;
}

// Drops a UTF-8 sequence that the cut at `len` left incomplete.
static void drop_partial_sequence(char *text, size_t len) {
  size_t back = 0;
  while (back < 3 && back < len &&
         (static_cast<unsigned char>(text[len - 1 - back]) & 0xC0) == 0x80) {
    ++back;
  }
  if (back == len) return;
  size_t lead_at = len - 1 - back;
  size_t need = utf8_sequence_length(static_cast<unsigned char>(text[lead_at]));
  if (need > back + 1) text[lead_at] = '\0';
}

void qm_grep_set_last_error(const char *fmt, ...) {
  va_list args;
  va_start(args, fmt);
  int full = vsnprintf(s_last_error, sizeof s_last_error, fmt, args);
  va_end(args);
  if (full < 0) {
    s_last_error[0] = '\0';
  } else if (static_cast<size_t>(full) >= sizeof s_last_error) {
    drop_partial_sequence(s_last_error, sizeof s_last_error - 1);
  }
}

const char *qm_grep_get_last_error(void) { return s_last_error; }

void qm_grep_clear_last_error(void) { s_last_error[0] = '\0'; }
