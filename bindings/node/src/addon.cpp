// The Node.js addon: the library's calls on Node-API, each run off the
// JavaScript thread (a libuv pool thread) so that the event loop never waits
// for a file or a search. Results come back as Promises; a streamed search
// hands each match object to JavaScript through a thread-safe function and
// waits while too many are unread, so memory stays bounded.
//
// The library's status and last-error text are per thread: every call reads
// them on the same pool thread, right after the call, before the work ends.
// A failure rejects with an Error whose `code` names the status
// ("GREP_E_NOT_FOUND", ...) and whose `status` is its number. Every Promise
// settles: a result that cannot be copied or made into a JavaScript value (a
// text past the engine's longest string) rejects with GREP_E_NO_MEMORY and a
// message that says so, and a stream that cannot deliver a match ends with
// that error.
#include <quenmar_grep.h>

#include <node_api.h>

#include <atomic>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>

namespace {

// Throws a JavaScript Error for a failed Node-API call and returns null.
#define NAPI_CHECK(env, call)                                   \
  do {                                                          \
    if ((call) != napi_ok) {                                    \
      napi_throw_error((env), nullptr, "Node-API call failed"); \
      return nullptr;                                           \
    }                                                           \
  } while (0)

// Reads argument `v` as UTF-8 text into `out`; false (with a TypeError
// thrown) when it is not a string or holds a NUL, which the library's C
// strings cannot carry.
bool read_string(napi_env env, napi_value v, const char *what, std::string &out) {
  size_t len = 0;
  if (napi_get_value_string_utf8(env, v, nullptr, 0, &len) != napi_ok) {
    napi_throw_type_error(env, nullptr, (std::string(what) + " must be a string").c_str());
    return false;
  }
  out.resize(len + 1);
  napi_get_value_string_utf8(env, v, out.data(), len + 1, &len);
  out.resize(len);
  if (out.find('\0') != std::string::npos) {
    napi_throw_type_error(env, nullptr, (std::string(what) + " holds a NUL character").c_str());
    return false;
  }
  return true;
}

bool read_int32(napi_env env, napi_value v, const char *what, int32_t &out) {
  if (napi_get_value_int32(env, v, &out) != napi_ok) {
    napi_throw_type_error(env, nullptr, (std::string(what) + " must be a number").c_str());
    return false;
  }
  return true;
}

// A JavaScript string of the `n` bytes of UTF-8 at `p`; null when the engine
// cannot make it (longer than its longest string, or out of memory), with
// any exception that left pending cleared.
napi_value make_string(napi_env env, const char *p, size_t n) {
  napi_value v = nullptr;
  if (napi_create_string_utf8(env, p, n, &v) != napi_ok) {
    bool pending = false;
    napi_value ignored = nullptr;
    if (napi_is_exception_pending(env, &pending) == napi_ok && pending) {
      napi_get_and_clear_last_exception(env, &ignored);
    }
    return nullptr;
  }
  return v;
}

napi_value make_string(napi_env env, const std::string &s) {
  return make_string(env, s.data(), s.size());
}

// The message of a text of `n` bytes that cannot become a JavaScript string,
// with what to do instead.
std::string too_large_message(const char *what, size_t n, const char *instead) {
  return std::string("The ") + what + " (" + std::to_string(n) +
         " bytes) is too large for a JavaScript string; " + instead;
}

// The name of a status, as the public header spells it; a value the header
// does not define (which the library never gives) keeps its number.
std::string status_name(int status) {
  const char *name = grep_status_name(status);
  return name[0] != '\0' ? name : "GREP_STATUS_" + std::to_string(status);
}

// An Error with the library's message, its status's name as `code` and the
// status itself as `status`. Where even that cannot be made (no memory), a
// plain value that still rejects: the message alone, or undefined.
napi_value make_error(napi_env env, const std::string &message, int status) {
  napi_value error = nullptr, number = nullptr;
  napi_value text = make_string(env, message);
  napi_value code = make_string(env, status_name(status));
  if (text != nullptr && code != nullptr && napi_create_error(env, code, text, &error) == napi_ok) {
    if (napi_create_int32(env, status, &number) == napi_ok) {
      napi_set_named_property(env, error, "status", number);
    }
    return error;
  }
  if (text != nullptr) return text;
  napi_get_undefined(env, &error);
  return error;
}

// Settles `deferred`: resolved with `value`, or, when `value` could not be
// made (null), rejected with `failure` as GREP_E_NO_MEMORY. A Promise is
// never left pending.
void settle(napi_env env, napi_deferred deferred, napi_value value, const std::string &failure) {
  if (value != nullptr && napi_resolve_deferred(env, deferred, value) == napi_ok) return;
  napi_reject_deferred(env, deferred, make_error(env, failure, GREP_E_NO_MEMORY));
}

// ---- One-shot calls: a Promise settled with a text, or an Error ----

enum class call_kind {
  search_json,
  search_text,
  search_lines,
  list_files,
  read_lines,
  replace_lines,
  batch,
  edit,
  replace
};

struct call {
  call_kind kind = call_kind::search_json;
  std::string a, b, c, d;  // root/path/name/instructions, pattern/text, options, text searched
  int32_t start = 0, end = 0;
  bool exact = false;  // replaceLines: every line end kept
  char *result = nullptr;  // a copy of the library's text (malloc), or null
  size_t result_len = 0;
  std::string error;  // the failure's message when `failed`
  bool has_text = false;  // search_lines: `d` is searched as one file called `a`
  std::string printed;    // search_lines: the lines the library printed
  // search_lines: a byte that JavaScript sets to stop the search (the first
  // of a Uint8Array, held by `stop_ref` until the call completes), or null.
  unsigned char *stop_flag = nullptr;
  napi_ref stop_ref = nullptr;
  int status = GREP_OK;
  bool failed = false;
  napi_deferred deferred = nullptr;
  napi_async_work work = nullptr;

  call() = default;
  call(const call &) = delete;
  call &operator=(const call &) = delete;
  ~call() { std::free(result); }
};

// The name of what a call of `kind` returns, for messages.
const char *result_name(call_kind kind) {
  switch (kind) {
    case call_kind::search_json:
    case call_kind::search_text:
      return "search document";
    case call_kind::search_lines:
      return "search summary";
    case call_kind::list_files:
      return "file list";
    case call_kind::read_lines:
      return "text of the lines read";
    case call_kind::replace:
      return "replace report";
    default:
      return "batch report";
  }
}

// What to do when the result of a call of `kind` is too large.
const char *smaller_result(call_kind kind) {
  switch (kind) {
    case call_kind::search_json:
    case call_kind::search_text:
    case call_kind::search_lines:
    case call_kind::list_files:
      return "narrow the search or set max_output_bytes";
    case call_kind::read_lines:
      return "read fewer lines";
    case call_kind::replace:
      return "replace in fewer files, or set max_output_bytes";
    default:
      return "apply the edits in smaller batches";
  }
}

// Keeps a copy of `text` (the library's, valid until the next call of its
// export on this thread) in `c`; a copy that cannot be had fails the call.
void keep_result(call *c, const char *text) {
  const size_t n = std::strlen(text);
  c->result = static_cast<char *>(std::malloc(n + 1));
  if (c->result == nullptr) {
    c->failed = true;
    c->status = GREP_E_NO_MEMORY;
    c->error = "Out of memory copying the " + std::string(result_name(c->kind)) + " (" +
               std::to_string(n) + " bytes)";
    return;
  }
  std::memcpy(c->result, text, n + 1);
  c->result_len = n;
}

call *new_call(call_kind kind) {
  auto *c = new call;
  c->kind = kind;
  return c;
}

// The text a library call produced, or its failure. Runs on the pool
// thread, so the status and last-error text read here are this call's. A
// batch resolves to its report whatever its status (its files stand or fall
// one by one), unless it carries one edit that the caller wants settled as a
// call of its own; a search that timed out resolves to what it found.
// Appends a piece of printed lines to the call's text; stops the search
// when the text can grow no more.
int keep_lines(const char *text, size_t length, void *user_data) {
  auto *c = static_cast<call *>(user_data);
  if (c->stop_flag != nullptr && __atomic_load_n(c->stop_flag, __ATOMIC_RELAXED) != 0) return 1;
  if (c->printed.max_size() - c->printed.size() < length) return 1;
  c->printed.append(text, length);
  return 0;
}

void execute_call(napi_env, void *data) {
  auto *c = static_cast<call *>(data);
  const char *text = nullptr;
  bool settled_by_status = true;
  switch (c->kind) {
    case call_kind::search_json:
      text = grep_search_json(c->a.c_str(), c->b.c_str(), c->c.c_str());
      break;
    case call_kind::search_text:
      text = grep_search_text(c->a.c_str(), c->d.data(), c->d.size(), c->b.c_str(), c->c.c_str());
      break;
    case call_kind::search_lines:
      text = grep_search_lines(c->a.c_str(), c->has_text ? c->d.data() : nullptr, c->d.size(),
                               c->b.c_str(), c->c.c_str(), keep_lines, c);
      break;
    case call_kind::list_files:
      text = grep_list_files_json(c->a.c_str(), c->c.c_str());
      break;
    case call_kind::batch:
      text = grep_batch_replace_json(c->a.c_str());
      settled_by_status = false;
      break;
    case call_kind::edit:
      text = grep_batch_replace_json(c->a.c_str());
      break;
    case call_kind::replace:
      // Resolves to the report whenever files were walked (they stand or
      // fall one by one); a call that could not start has no
      // "files_searched" in its document, and rejects.
      text = grep_replace_json(c->a.c_str(), c->b.c_str(), c->d.c_str(), c->c.c_str());
      settled_by_status = text == nullptr || std::strstr(text, "\"files_searched\":") == nullptr;
      break;
    case call_kind::replace_lines:
      if (c->exact) {
        grep_replace_lines_exact(c->a.c_str(), c->start, c->end, c->b.c_str());
      } else {
        grep_replace_lines(c->a.c_str(), c->start, c->end, c->b.c_str());
      }
      break;
    case call_kind::read_lines:
      text = grep_read_lines(c->a.c_str(), c->start, c->end);
      break;
  }
  c->status = grep_last_status();
  if (settled_by_status && c->status < 0) {
    c->failed = true;
    c->error = grep_last_error();
    return;
  }
  if (text != nullptr) keep_result(c, text);
}

void complete_call(napi_env env, napi_status, void *data) {
  auto *c = static_cast<call *>(data);
  if (c->stop_ref != nullptr) napi_delete_reference(env, c->stop_ref);
  if (c->failed) {
    napi_reject_deferred(env, c->deferred, make_error(env, c->error, c->status));
  } else if (c->kind == call_kind::replace_lines) {
    napi_value undefined = nullptr;
    napi_get_undefined(env, &undefined);
    settle(env, c->deferred, undefined, "Cannot settle the call");
  } else if (c->kind == call_kind::search_lines) {
    napi_value pair = nullptr, text = make_string(env, c->printed);
    napi_value summary = make_string(env, c->result, c->result_len);
    if (text != nullptr && summary != nullptr && napi_create_object(env, &pair) == napi_ok) {
      napi_set_named_property(env, pair, "text", text);
      napi_set_named_property(env, pair, "summary", summary);
    } else {
      pair = nullptr;
    }
    settle(env, c->deferred, pair,
           too_large_message("printed text", c->printed.size(),
                             "narrow the search or set max_output_bytes"));
  } else {
    settle(env, c->deferred, make_string(env, c->result, c->result_len),
           too_large_message(result_name(c->kind), c->result_len, smaller_result(c->kind)));
  }
  napi_delete_async_work(env, c->work);
  delete c;
}

// Queues `c` on the pool and returns its Promise.
napi_value start_call(napi_env env, call *c) {
  napi_value promise = nullptr, name = nullptr;
  if (napi_create_promise(env, &c->deferred, &promise) != napi_ok ||
      napi_create_string_utf8(env, "quenmar-grep", NAPI_AUTO_LENGTH, &name) != napi_ok ||
      napi_create_async_work(env, nullptr, name, execute_call, complete_call, c, &c->work) !=
          napi_ok ||
      napi_queue_async_work(env, c->work) != napi_ok) {
    if (c->stop_ref != nullptr) napi_delete_reference(env, c->stop_ref);
    delete c;
    napi_throw_error(env, nullptr, "Cannot queue the library call");
    return nullptr;
  }
  return promise;
}

// Reads `count` arguments; false when fewer were given (a TypeError thrown).
bool get_args(napi_env env, napi_callback_info info, size_t count, napi_value *args) {
  size_t given = count;
  if (napi_get_cb_info(env, info, &given, args, nullptr, nullptr) != napi_ok || given < count) {
    napi_throw_type_error(env, nullptr, "Missing arguments");
    return false;
  }
  return true;
}

// searchJson(root, pattern, optionsJson) -> Promise<string>
napi_value search_json(napi_env env, napi_callback_info info) {
  napi_value args[3];
  auto *c = new_call(call_kind::search_json);
  if (!get_args(env, info, 3, args) || !read_string(env, args[0], "root", c->a) ||
      !read_string(env, args[1], "pattern", c->b) || !read_string(env, args[2], "options", c->c)) {
    delete c;
    return nullptr;
  }
  return start_call(env, c);
}

// listFilesJson(root, optionsJson) -> Promise<string>
napi_value list_files_json(napi_env env, napi_callback_info info) {
  napi_value args[2];
  auto *c = new_call(call_kind::list_files);
  if (!get_args(env, info, 2, args) || !read_string(env, args[0], "root", c->a) ||
      !read_string(env, args[1], "options", c->c)) {
    delete c;
    return nullptr;
  }
  return start_call(env, c);
}

// Reads argument `v`, a string (as UTF-8) or a Buffer or Uint8Array (its
// bytes), into `out`; false (a TypeError thrown) for anything else.
bool read_bytes(napi_env env, napi_value v, const char *what, std::string &out) {
  bool is_buffer = false, is_typed = false;
  napi_is_buffer(env, v, &is_buffer);
  napi_is_typedarray(env, v, &is_typed);
  if (is_buffer) {
    void *data = nullptr;
    size_t len = 0;
    napi_get_buffer_info(env, v, &data, &len);
    out.assign(static_cast<const char *>(data), len);
    return true;
  }
  if (is_typed) {
    napi_typedarray_type type;
    size_t len = 0, offset = 0;
    void *data = nullptr;
    napi_value buffer = nullptr;
    napi_get_typedarray_info(env, v, &type, &len, &data, &buffer, &offset);
    if (type == napi_uint8_array) {
      out.assign(static_cast<const char *>(data), len);
      return true;
    }
  }
  size_t len = 0;
  if (napi_get_value_string_utf8(env, v, nullptr, 0, &len) != napi_ok) {
    napi_throw_type_error(env, nullptr,
                          (std::string(what) + " must be a string or a Buffer").c_str());
    return false;
  }
  out.resize(len + 1);
  napi_get_value_string_utf8(env, v, out.data(), len + 1, &len);
  out.resize(len);
  return true;
}

// searchText(name, text, pattern, optionsJson) -> Promise<string>
napi_value search_text(napi_env env, napi_callback_info info) {
  napi_value args[4];
  auto *c = new_call(call_kind::search_text);
  if (!get_args(env, info, 4, args) || !read_string(env, args[0], "name", c->a) ||
      !read_bytes(env, args[1], "text", c->d) || !read_string(env, args[2], "pattern", c->b) ||
      !read_string(env, args[3], "options", c->c)) {
    delete c;
    return nullptr;
  }
  return start_call(env, c);
}

// Holds the first byte of the Uint8Array `v` as the stop flag of `c`;
// false (a TypeError thrown) for anything else.
bool hold_stop_flag(napi_env env, napi_value v, call *c) {
  bool is_typed = false;
  napi_typedarray_type type;
  size_t len = 0, offset = 0;
  void *data = nullptr;
  napi_value buffer = nullptr;
  if (napi_is_typedarray(env, v, &is_typed) != napi_ok || !is_typed ||
      napi_get_typedarray_info(env, v, &type, &len, &data, &buffer, &offset) != napi_ok ||
      type != napi_uint8_array || len < 1 || napi_create_reference(env, v, 1, &c->stop_ref) != napi_ok) {
    napi_throw_type_error(env, nullptr, "stop must be a Uint8Array");
    return false;
  }
  c->stop_flag = static_cast<unsigned char *>(data);
  return true;
}

// searchLines(root, text | null, pattern, optionsJson, stop?) -> Promise<{text, summary}>;
// setting stop[0] (a Uint8Array) stops the search within about 10 ms.
napi_value search_lines(napi_env env, napi_callback_info info) {
  napi_value args[5];
  auto *c = new_call(call_kind::search_lines);
  napi_valuetype text_type = napi_undefined;
  size_t given = 5;
  if (napi_get_cb_info(env, info, &given, args, nullptr, nullptr) != napi_ok) given = 0;
  if (!get_args(env, info, 4, args) || !read_string(env, args[0], "root", c->a) ||
      napi_typeof(env, args[1], &text_type) != napi_ok ||
      (text_type != napi_null && text_type != napi_undefined &&
       !read_bytes(env, args[1], "text", c->d)) ||
      !read_string(env, args[2], "pattern", c->b) || !read_string(env, args[3], "options", c->c)) {
    delete c;
    return nullptr;
  }
  c->has_text = text_type != napi_null && text_type != napi_undefined;
  if (given == 5 && !hold_stop_flag(env, args[4], c)) {
    delete c;
    return nullptr;
  }
  return start_call(env, c);
}

// optionsSchema() -> string: the library's options schema.
napi_value options_schema(napi_env env, napi_callback_info) {
  return make_string(env, grep_options_schema_json());
}

// readOptions(optionsJson) -> string: the options as a search would read them.
napi_value read_options(napi_env env, napi_callback_info info) {
  napi_value arg = nullptr;
  std::string options;
  if (!get_args(env, info, 1, &arg) || !read_string(env, arg, "options", options)) return nullptr;
  return make_string(env, grep_options_read_json(options.c_str()));
}

// readLines(path, start, end) -> Promise<string>
napi_value read_lines(napi_env env, napi_callback_info info) {
  napi_value args[3];
  auto *c = new_call(call_kind::read_lines);
  if (!get_args(env, info, 3, args) || !read_string(env, args[0], "path", c->a) ||
      !read_int32(env, args[1], "start", c->start) || !read_int32(env, args[2], "end", c->end)) {
    delete c;
    return nullptr;
  }
  return start_call(env, c);
}

// replaceLines(path, start, end, text, exact) -> Promise<undefined>; with
// `exact` true (a boolean, false when left out) every line end is kept.
napi_value replace_lines(napi_env env, napi_callback_info info) {
  napi_value args[5];
  size_t given = 5;
  auto *c = new_call(call_kind::replace_lines);
  if (!get_args(env, info, 4, args) || !read_string(env, args[0], "path", c->a) ||
      !read_int32(env, args[1], "start", c->start) || !read_int32(env, args[2], "end", c->end) ||
      !read_string(env, args[3], "text", c->b)) {
    delete c;
    return nullptr;
  }
  napi_get_cb_info(env, info, &given, args, nullptr, nullptr);
  if (given >= 5 && napi_get_value_bool(env, args[4], &c->exact) != napi_ok) {
    delete c;
    napi_throw_type_error(env, nullptr, "exact must be true or false");
    return nullptr;
  }
  return start_call(env, c);
}

// batchJson(instructionsJson) -> Promise<string>
napi_value batch_json(napi_env env, napi_callback_info info) {
  napi_value args[1];
  auto *c = new_call(call_kind::batch);
  if (!get_args(env, info, 1, args) || !read_string(env, args[0], "edits", c->a)) {
    delete c;
    return nullptr;
  }
  return start_call(env, c);
}

// replaceJson(root, pattern, replacement, optionsJson) -> Promise<string>
napi_value replace_json(napi_env env, napi_callback_info info) {
  napi_value args[4];
  auto *c = new_call(call_kind::replace);
  if (!get_args(env, info, 4, args) || !read_string(env, args[0], "root", c->a) ||
      !read_string(env, args[1], "pattern", c->b) ||
      !read_string(env, args[2], "replacement", c->d) ||
      !read_string(env, args[3], "options", c->c)) {
    delete c;
    return nullptr;
  }
  return start_call(env, c);
}

// editJson(instructionsJson) -> Promise<string>: a batch of one file's edits,
// rejected with that file's error when it fails.
napi_value edit_json(napi_env env, napi_callback_info info) {
  napi_value args[1];
  auto *c = new_call(call_kind::edit);
  if (!get_args(env, info, 1, args) || !read_string(env, args[0], "edits", c->a)) {
    delete c;
    return nullptr;
  }
  return start_call(env, c);
}

// ---- The streamed search ----

// Matches handed to JavaScript and not yet read there: the search waits at
// this many, or once they hold this many bytes (but always lets one through),
// so that a slow reader holds memory for no more, however large each is.
constexpr int kMaxUnread = 256;
constexpr size_t kMaxUnreadBytes = size_t{64} << 20;

struct stream {
  std::string root, pattern, options;
  napi_threadsafe_function on_match = nullptr;
  napi_ref on_done = nullptr;
  napi_async_work work = nullptr;
  std::mutex mutex;
  std::condition_variable room;
  // The sizes of the unread matches, oldest first, in a ring (read in order).
  size_t unread_sizes[kMaxUnread] = {};
  int unread_first = 0;
  int unread = 0;
  size_t unread_bytes = 0;
  std::atomic<bool> stop{false};
  int count = 0;
  int status = GREP_OK;
  std::string error;
  std::string failure;       // why a match could not be delivered (set once, under the mutex)
  int delivered = 0;         // matches handed to onMatch (the JavaScript thread's)
  std::atomic<int> refs{2};  // the end mark's delivery and the JavaScript handle
};

void release_stream(stream *s) {
  if (--s->refs == 0) delete s;
}

// Ends the stream because a match could not be delivered: the search stops
// at its next match, and onDone gets `message` (the first one given).
void fail_stream(stream *s, const std::string &message) {
  {
    std::lock_guard<std::mutex> lock(s->mutex);
    if (s->failure.empty()) s->failure = message;
    s->stop = true;
  }
  s->room.notify_all();
}

// Called on the pool thread for each match: waits for room, then queues the
// text for the JavaScript thread. A non-zero return stops the search.
int deliver_match(const char *match_json, void *user_data) {
  auto *s = static_cast<stream *>(user_data);
  const size_t n = std::strlen(match_json);
  {
    std::unique_lock<std::mutex> lock(s->mutex);
    s->room.wait(lock, [s] {
      return s->stop.load() || s->unread == 0 ||
             (s->unread < kMaxUnread && s->unread_bytes < kMaxUnreadBytes);
    });
    if (s->stop.load()) return 1;
    s->unread_sizes[(s->unread_first + s->unread) % kMaxUnread] = n;
    ++s->unread;
    s->unread_bytes += n;
  }
  auto *copy = static_cast<char *>(std::malloc(n + 1));
  if (copy == nullptr) {
    fail_stream(s, "Out of memory copying a match object (" + std::to_string(n) + " bytes)");
    return 1;
  }
  std::memcpy(copy, match_json, n + 1);
  if (napi_call_threadsafe_function(s->on_match, copy, napi_tsfn_blocking) != napi_ok) {
    std::free(copy);
    return 1;
  }
  return 0;
}

// Runs the search on the pool thread; at its end, queues the end mark behind
// the last match, so that JavaScript learns of the end only after every match.
void execute_stream(napi_env, void *data) {
  auto *s = static_cast<stream *>(data);
  s->count = grep_search_stream_ctx(s->root.c_str(), s->pattern.c_str(), s->options.c_str(),
                                    deliver_match, s);
  s->status = grep_last_status();
  if (s->status < 0 || s->status == GREP_TIMED_OUT || s->status == GREP_OUTPUT_LIMITED) {
    s->error = grep_last_error();
  }
  napi_call_threadsafe_function(s->on_match, nullptr, napi_tsfn_blocking);
}

// onDone(error | null, count), once every match is delivered: the error of
// a search that failed, timed out (code "GREP_TIMED_OUT") or reached its
// output cap ("GREP_OUTPUT_LIMITED"), after what it found; or of a match
// that could not be delivered ("GREP_E_NO_MEMORY"), with the count of those
// delivered before it.
void call_on_done(napi_env env, stream *s) {
  napi_value callback = nullptr, undefined = nullptr, args[2];
  napi_get_reference_value(env, s->on_done, &callback);
  napi_get_undefined(env, &undefined);
  napi_get_null(env, &args[0]);
  std::string failure;
  {
    std::lock_guard<std::mutex> lock(s->mutex);
    failure = s->failure;
  }
  int count = s->count;
  if (!failure.empty()) {
    args[0] = make_error(env, failure, GREP_E_NO_MEMORY);
    count = s->delivered;
  } else if (s->status < 0 || s->status == GREP_TIMED_OUT || s->status == GREP_OUTPUT_LIMITED) {
    args[0] = make_error(env, s->error, s->status);
  }
  napi_create_int32(env, count, &args[1]);
  if (callback != nullptr) napi_call_function(env, undefined, callback, 2, args, nullptr);
}

// Runs on the JavaScript thread for each queued item, in queue order: a match
// text for onMatch(text), or the end mark (null) for onDone. A text that
// cannot become a string ends the stream with that failure. With no
// environment (Node is shutting down) only memory is freed.
void call_on_match(napi_env env, napi_value js_callback, void *context, void *data) {
  auto *s = static_cast<stream *>(context);
  char *text = static_cast<char *>(data);
  if (text == nullptr) {
    if (env != nullptr) {
      call_on_done(env, s);
      napi_delete_reference(env, s->on_done);
    }
    release_stream(s);
    return;
  }
  if (env != nullptr && !s->stop.load()) {
    const size_t n = std::strlen(text);
    napi_value undefined = nullptr, arg = make_string(env, text, n);
    if (arg == nullptr) {
      fail_stream(
          s, too_large_message("match object", n, "narrow the search or set max_output_bytes"));
    } else {
      napi_get_undefined(env, &undefined);
      ++s->delivered;
      napi_call_function(env, undefined, js_callback, 1, &arg, nullptr);
    }
  }
  std::free(text);
}

// The search has ended and its end mark is queued: the work and this
// thread's hold on the thread-safe function go (it lives until its queue is
// empty).
void complete_stream(napi_env env, napi_status, void *data) {
  auto *s = static_cast<stream *>(data);
  napi_release_threadsafe_function(s->on_match, napi_tsfn_release);
  napi_delete_async_work(env, s->work);
}

napi_value stream_from_this(napi_env env, napi_callback_info info, stream **out) {
  napi_value self = nullptr;
  NAPI_CHECK(env, napi_get_cb_info(env, info, nullptr, nullptr, &self, nullptr));
  NAPI_CHECK(env, napi_unwrap(env, self, reinterpret_cast<void **>(out)));
  return self;
}

// handle.read(n): the JavaScript side has read n more matches.
napi_value stream_read(napi_env env, napi_callback_info info) {
  size_t argc = 1;
  napi_value arg = nullptr, self = nullptr;
  stream *s = nullptr;
  int32_t n = 0;
  NAPI_CHECK(env, napi_get_cb_info(env, info, &argc, &arg, &self, nullptr));
  NAPI_CHECK(env, napi_unwrap(env, self, reinterpret_cast<void **>(&s)));
  if (argc < 1 || !read_int32(env, arg, "n", n)) return nullptr;
  {
    std::lock_guard<std::mutex> lock(s->mutex);
    for (; n > 0 && s->unread > 0; --n, --s->unread) {
      s->unread_bytes -= s->unread_sizes[s->unread_first];
      s->unread_first = (s->unread_first + 1) % kMaxUnread;
    }
  }
  s->room.notify_all();
  return nullptr;
}

// handle.stop(): the search stops at its next match or file.
napi_value stream_stop(napi_env env, napi_callback_info info) {
  stream *s = nullptr;
  if (stream_from_this(env, info, &s) == nullptr) return nullptr;
  {
    std::lock_guard<std::mutex> lock(s->mutex);
    s->stop = true;
  }
  s->room.notify_all();
  return nullptr;
}

void finalize_handle(napi_env, void *data, void *) { release_stream(static_cast<stream *>(data)); }

// startStream(root, pattern, optionsJson, onMatch, onDone) -> handle
napi_value start_stream(napi_env env, napi_callback_info info) {
  napi_value args[5];
  if (!get_args(env, info, 5, args)) return nullptr;
  auto *s = new stream;
  if (!read_string(env, args[0], "root", s->root) ||
      !read_string(env, args[1], "pattern", s->pattern) ||
      !read_string(env, args[2], "options", s->options)) {
    delete s;
    return nullptr;
  }
  napi_value name = nullptr, handle = nullptr, read_fn = nullptr, stop_fn = nullptr;
  napi_create_string_utf8(env, "quenmar-grep stream", NAPI_AUTO_LENGTH, &name);
  // Room for every unread match and the end mark.
  if (napi_create_threadsafe_function(env, args[3], nullptr, name, kMaxUnread + 1, 1, nullptr,
                                      nullptr, s, call_on_match, &s->on_match) != napi_ok ||
      napi_create_reference(env, args[4], 1, &s->on_done) != napi_ok ||
      napi_create_object(env, &handle) != napi_ok ||
      napi_wrap(env, handle, s, finalize_handle, nullptr, nullptr) != napi_ok) {
    delete s;
    napi_throw_error(env, nullptr, "Cannot start the streamed search");
    return nullptr;
  }
  napi_create_function(env, "read", NAPI_AUTO_LENGTH, stream_read, nullptr, &read_fn);
  napi_create_function(env, "stop", NAPI_AUTO_LENGTH, stream_stop, nullptr, &stop_fn);
  napi_set_named_property(env, handle, "read", read_fn);
  napi_set_named_property(env, handle, "stop", stop_fn);
  NAPI_CHECK(env, napi_create_async_work(env, nullptr, name, execute_stream, complete_stream, s,
                                         &s->work));
  NAPI_CHECK(env, napi_queue_async_work(env, s->work));
  return handle;
}

napi_value version(napi_env env, napi_callback_info) { return make_string(env, grep_version()); }

napi_value init(napi_env env, napi_value exports) {
  const napi_property_descriptor functions[] = {
      {"version", nullptr, version, nullptr, nullptr, nullptr, napi_default, nullptr},
      {"searchJson", nullptr, search_json, nullptr, nullptr, nullptr, napi_default, nullptr},
      {"searchText", nullptr, search_text, nullptr, nullptr, nullptr, napi_default, nullptr},
      {"listFilesJson", nullptr, list_files_json, nullptr, nullptr, nullptr, napi_default, nullptr},
      {"startStream", nullptr, start_stream, nullptr, nullptr, nullptr, napi_default, nullptr},
      {"readLines", nullptr, read_lines, nullptr, nullptr, nullptr, napi_default, nullptr},
      {"replaceLines", nullptr, replace_lines, nullptr, nullptr, nullptr, napi_default, nullptr},
      {"batchJson", nullptr, batch_json, nullptr, nullptr, nullptr, napi_default, nullptr},
      {"replaceJson", nullptr, replace_json, nullptr, nullptr, nullptr, napi_default, nullptr},
      {"editJson", nullptr, edit_json, nullptr, nullptr, nullptr, napi_default, nullptr},
      {"searchLines", nullptr, search_lines, nullptr, nullptr, nullptr, napi_default, nullptr},
      {"optionsSchema", nullptr, options_schema, nullptr, nullptr, nullptr, napi_default, nullptr},
      {"readOptions", nullptr, read_options, nullptr, nullptr, nullptr, napi_default, nullptr},
  };
  NAPI_CHECK(env,
             napi_define_properties(env, exports, sizeof functions / sizeof *functions, functions));
  return exports;
}

}  // namespace

NAPI_MODULE(quenmar_grep, init)
