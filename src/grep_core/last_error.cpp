#include "grep_core/last_error.h"

#include "grep_core/utf8.h"

#include <errno.h>
#include <stdarg.h>
#include <stdio.h>

namespace {

thread_local char s_last_error[QG_LAST_ERROR_SIZE];
thread_local int s_failure_kind = GREP_E_IO;
thread_local int s_status = GREP_OK;

void set_message(const char *fmt, va_list args) {
  const int full = vsnprintf(s_last_error, sizeof s_last_error, fmt, args);
  if (full < 0) {
    s_last_error[0] = '\0';
  } else if (static_cast<size_t>(full) >= sizeof s_last_error) {
    const size_t kept = qg_utf8_cut_boundary(s_last_error, sizeof s_last_error - 1);
    s_last_error[kept] = '\0';
  }
}

}  // namespace

void qm_grep_set_last_error(const char *fmt, ...) {
  va_list args;
  va_start(args, fmt);
  set_message(fmt, args);
  va_end(args);
}

const char *qm_grep_get_last_error(void) { return s_last_error; }

void qm_grep_clear_last_error(void) { s_last_error[0] = '\0'; }

void qg_fail(int status, const char *fmt, ...) {
  va_list args;
  va_start(args, fmt);
  set_message(fmt, args);
  va_end(args);
  s_failure_kind = status;
}

int qg_failure_kind(void) { return s_failure_kind; }

int qg_status_of_error(int error) {
  switch (error) {
    case ENOENT:
    case ENOTDIR:
      return GREP_E_NOT_FOUND;
    case ENOMEM:
      return GREP_E_NO_MEMORY;
    case ENAMETOOLONG:
    case EILSEQ:
      return GREP_E_ARGUMENT;
    default:
      return GREP_E_IO;
  }
}

void qg_set_status(int status) { s_status = status; }

int qg_get_status(void) { return s_status; }

void qg_status_from_failure(void) { s_status = s_failure_kind; }

void qg_fail_call(int status, const char *fmt, ...) {
  va_list args;
  va_start(args, fmt);
  set_message(fmt, args);
  va_end(args);
  s_failure_kind = status;
  s_status = status;
}

const char *qg_status_name(int status) {
  switch (status) {
    case GREP_OK:
      return "GREP_OK";
    case GREP_STOPPED:
      return "GREP_STOPPED";
    case GREP_TIMED_OUT:
      return "GREP_TIMED_OUT";
    case GREP_OUTPUT_LIMITED:
      return "GREP_OUTPUT_LIMITED";
    case GREP_E_ARGUMENT:
      return "GREP_E_ARGUMENT";
    case GREP_E_NOT_FOUND:
      return "GREP_E_NOT_FOUND";
    case GREP_E_IO:
      return "GREP_E_IO";
    case GREP_E_CONFLICT:
      return "GREP_E_CONFLICT";
    case GREP_E_NO_MEMORY:
      return "GREP_E_NO_MEMORY";
  }
  return "";
}
