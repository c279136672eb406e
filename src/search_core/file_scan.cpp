#include "search_core/file_scan.h"

#include "grep_core/last_error.h"

#include <string.h>

bool file_scanner_init(file_scanner *fs, const char *pattern, const grep_opts *opts,
                       const re_program *program, scan_should_stop stop, void *stop_ctx) {
  *fs = file_scanner{opts, nullptr, {}, stop, stop_ctx};
  fs->scan = scanner_new(pattern, opts, program, stop, stop_ctx);
  return fs->scan != nullptr;
}

void file_scanner_free(file_scanner *fs) {
  scanner_free(fs->scan);
  text_buffers_free(&fs->buffers);
  fs->scan = nullptr;
}

namespace {

// The receiver's matches, counted against the per-file cap.
struct capped {
  const match_receiver *r;
  int64_t taken;
  int64_t cap;  // 0: none
  bool cap_reached;
};

bool take(void *ctx, const scan_match *m) {
  auto *c = static_cast<capped *>(ctx);
  if (!c->r->match(c->r->ctx, m)) return false;
  if (c->cap > 0 && ++c->taken >= c->cap) {
    c->cap_reached = true;  // this file has given all it may; the search goes on
    return false;
  }
  return true;
}

// Cuts `*len` at the text's first NUL, looked for a window at a time with a
// look at the stop check between windows; false when the check said stop.
bool cut_at_nul(const file_scanner *fs, const char *text, size_t *len) {
  for (size_t at = 0; at < *len; at += QG_SCAN_STOP_WINDOW) {
    const size_t n = *len - at < QG_SCAN_STOP_WINDOW ? *len - at : QG_SCAN_STOP_WINDOW;
    const auto *nul = static_cast<const char *>(memchr(text + at, '\0', n));
    if (nul != nullptr) {
      *len = static_cast<size_t>(nul - text);
      return true;
    }
    if (at + n < *len && fs->stop != nullptr && fs->stop(fs->stop_ctx)) return false;
  }
  return true;
}

// The scan of a decoded text: the binary test, then every line's match.
file_outcome scan_text(file_scanner *fs, const char *name, const char *text, size_t len,
                       const match_receiver *r) {
  if (is_binary_buffer(text, len)) return FILE_BINARY;
  if (!r->begin(r->ctx)) {
    r->end(r->ctx);
    return FILE_STOPPED;
  }
  // The lines end at the text's first NUL.
  if (!cut_at_nul(fs, text, &len)) {
    r->end(r->ctx);
    return FILE_STOPPED;
  }
  capped c = {r, 0, fs->opts->max_per_file > 0 ? fs->opts->max_per_file : 0, false};
  const scan_result result = scanner_scan(fs->scan, text, len, take, &c);
  r->end(r->ctx);
  if (result == SCAN_NO_MEMORY) {
    qg_fail(GREP_E_NO_MEMORY, "Out of memory searching '%s'", name);
    return FILE_NO_MEMORY;
  }
  return result == SCAN_STOPPED && !c.cap_reached ? FILE_STOPPED : FILE_SCANNED;
}

}  // namespace

file_outcome search_file_content(file_scanner *fs, const char *path, const match_receiver *r) {
  if (fs->stop != nullptr && fs->stop(fs->stop_ctx)) return FILE_STOPPED;
  const char *text = nullptr;
  size_t len = 0;
  bool stopped = false;
  if (!read_file_reusing(path, &fs->buffers, &text, &len, nullptr, fs->stop, fs->stop_ctx,
                         &stopped)) {
    if (stopped) return FILE_STOPPED;
    return qg_failure_kind() == GREP_E_NO_MEMORY ? FILE_NO_MEMORY : FILE_UNREADABLE;
  }
  return scan_text(fs, path, text, len, r);
}

file_outcome search_text_content(file_scanner *fs, const char *name, const char *data, size_t len,
                                 const match_receiver *r) {
  const char *text = nullptr;
  size_t text_len = 0;
  if (!decode_text_reusing(name, data, len, &fs->buffers, &text, &text_len, nullptr)) {
    return qg_failure_kind() == GREP_E_NO_MEMORY ? FILE_NO_MEMORY : FILE_UNREADABLE;
  }
  return scan_text(fs, name, text, text_len, r);
}

file_outcome search_decoded_content(file_scanner *fs, const char *name, const char *text,
                                    size_t len, const match_receiver *r) {
  return scan_text(fs, name, text, len, r);
}
