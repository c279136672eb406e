#include "grep_core/json_escape.h"

#include "grep_core/utf8.h"

#include <string.h>

// The two-character escape of a control byte, or 0 when it has none.
static char short_escape(unsigned char c) {
  switch (c) {
    case '\b':
      return 'b';
    case '\t':
      return 't';
    case '\n':
      return 'n';
    case '\f':
      return 'f';
    case '\r':
      return 'r';
    case '"':
      return '"';
    case '\\':
      return '\\';
    default:
      return 0;
  }
}

static bool append_escaped_byte(qm_strbuf *sb, unsigned char c) {
  char esc = short_escape(c);
  if (esc != 0) {
    char pair[2] = {'\\', esc};
    return qm_strbuf_append_len(sb, pair, 2);
  }
  return qm_strbuf_printf(sb, "\\u%04X", c);
}

bool qg_json_escape_append(qm_strbuf *sb, const char *s) {
  return s == nullptr || qg_json_escape_append_len(sb, s, strlen(s));
}

bool qg_json_escape_append_len(qm_strbuf *sb, const char *s, size_t len) {
  auto *p = reinterpret_cast<const unsigned char *>(s);
  size_t i = 0;
  while (i < len) {
    // Copy the longest run that needs no escaping in one append.
    size_t run = i;
    while (run < len && p[run] >= 0x20 && p[run] < 0x80 && p[run] != '"' && p[run] != '\\') {
      ++run;
    }
    if (!qm_strbuf_append_len(sb, s + i, run - i)) return false;
    i = run;
    if (i >= len) break;
    if (p[i] < 0x80) {
      if (!append_escaped_byte(sb, p[i])) return false;
      ++i;
      continue;
    }
    size_t n = qg_utf8_sequence_length(p + i, len - i);
    if (n == 0) {
      if (!qm_strbuf_append(sb, "\\ufffd")) return false;
      ++i;
    } else {
      if (!qm_strbuf_append_len(sb, s + i, n)) return false;
      i += n;
    }
  }
  return true;
}
