// The opt-in parallel search: the calling thread walks the tree and hands the
// files, in walk order, to a window of jobs; helper threads and the calling
// thread itself read and scan them, each with its own tools, writing every
// match object into its job; the calling thread then takes the jobs in walk
// order and does exactly what the search on one thread would have done with
// each file: set the reader's message, count the file, put each object into
// the sink, apply the cap and the callbacks' stop. So the sink sees the same
// objects in the same order, on the calling thread, and the tally and the
// last-error text end the same. Helpers are started for the call and joined
// before it returns.
#include "grep_core/last_error.h"
#include "search_core/clock.h"
#include "search_core/match_json.h"
#include "search_core/searcher.h"

#include <string.h>

#include <atomic>
#include <new>

namespace {

// Files in flight at once: read ahead of the one being delivered.
constexpr size_t kWindow = 256;
constexpr int kMaxThreads = 64;

enum class job_state { queued, claimed, done };
enum class outcome { unreadable, binary, scanned, abandoned };

// One file of the walk and what scanning it gave.
struct job {
  char *path = nullptr;
  job_state state = job_state::queued;
  outcome result = outcome::abandoned;
  char message[1024] = {};  // the last-error text the file's read or scan left
  bool has_message = false;
  json_out objects = {};   // the match objects, each followed by a NUL
  size_t *ends = nullptr;  // where each object ends in `objects`
  size_t count = 0;
  size_t capacity = 0;

  void clear() {
    free(path);
    json_out_free(&objects);
    free(ends);
    *this = job{};
  }
};

struct pool {
  searcher *s = nullptr;
  plat_mutex *mutex = nullptr;
  plat_cond *work = nullptr;  // a job was queued, or the walk ended or stopped
  plat_cond *done = nullptr;  // a job was done
  job slots[kWindow];
  size_t produced = 0;   // jobs queued so far (their indices run from 0)
  size_t claimed = 0;    // jobs taken by a thread (always the lowest unclaimed)
  size_t delivered = 0;  // jobs the calling thread has finished with
  bool walk_done = false;
  // Threads asleep on each condition: a signal is sent only to a sleeper, so
  // that a busy search makes no system call for it.
  int helpers_waiting = 0;
  bool caller_waiting = false;
  std::atomic<bool> stop{false};

  job &at(size_t index) { return slots[index % kWindow]; }
};

// The stop check of helpers' reads and scans: the calling thread stopped the
// search, or its time limit passed.
bool helper_should_stop(void *ctx) {
  auto *p = static_cast<pool *>(ctx);
  if (p->stop.load(std::memory_order_relaxed)) return true;
  const int64_t deadline = p->s->deadline_ms;
  return deadline != 0 && search_clock_ms() >= deadline;
}

struct job_call {
  job *j;
  scan_tools *tools;
  const searcher *s;
  bool path_written;
};

bool keep_end(job *j, size_t end) {
  if (j->count == j->capacity) {
    const size_t grown = j->capacity == 0 ? 16 : j->capacity * 2;
    auto *block = static_cast<size_t *>(realloc(j->ends, grown * sizeof(size_t)));
    if (block == nullptr) return false;
    j->ends = block;
    j->capacity = grown;
  }
  j->ends[j->count++] = end;
  return true;
}

// Writes one match object into the job. A file never gives more objects than
// the cap, which is all the calling thread could deliver from it, nor more
// than the cap per file.
bool emit_into_job(void *ctx, const scan_match *m) {
  auto *c = static_cast<job_call *>(ctx);
  if (!c->path_written) {
    json_out_string_into(&c->tools->path, c->j->path, strlen(c->j->path));
    c->path_written = true;
  }
  json_out *out = &c->j->objects;
  match_json_write(out, &c->tools->path, m, c->s->opts->match_length);
  json_out_char(out, '\0');
  if (out->failed || c->tools->path.failed || !keep_end(c->j, out->len - 1)) {
    // Out of memory: what the job holds cannot be delivered faithfully.
    c->j->result = outcome::abandoned;
    return false;
  }
  const int32_t cap = c->s->opts->max_results;
  return !(cap > 0 && c->j->count >= static_cast<size_t>(cap)) &&
         !searcher_file_cap_reached(c->j->count, c->s->opts) &&
         c->j->count < static_cast<size_t>(INT32_MAX);
}

void keep_message(job *j) {
  const char *message = qm_grep_get_last_error();
  strncpy(j->message, message, sizeof j->message - 1);
  j->has_message = true;
}

// Reads and scans the job's file with `tools`.
void run_job(pool *p, job *j, scan_tools *tools) {
  const char *text = nullptr;
  size_t len = 0;
  bool stopped = false;
  if (!read_file_reusing(j->path, &tools->buffers, &text, &len, helper_should_stop, p, &stopped)) {
    j->result = stopped ? outcome::abandoned : outcome::unreadable;
    if (!stopped) keep_message(j);
    return;
  }
  if (is_binary_buffer(text, len)) {
    j->result = outcome::binary;
    return;
  }
  const auto *nul = static_cast<const char *>(memchr(text, '\0', len));
  if (nul != nullptr) len = static_cast<size_t>(nul - text);
  j->result = outcome::scanned;
  job_call call{j, tools, p->s, false};
  const scan_result r = scanner_scan(tools->scan, text, len, emit_into_job, &call);
  if (r == SCAN_NO_MEMORY) {
    qm_grep_set_last_error("Out of memory holding the context of a match in '%s'", j->path);
    keep_message(j);
  } else if (r == SCAN_STOPPED && helper_should_stop(p)) {
    j->result = outcome::abandoned;  // cut short: the search is ending
  }
}

// Takes the lowest queued job, if any; called with the mutex held.
job *claim(pool *p) {
  if (p->claimed == p->produced) return nullptr;
  job *j = &p->at(p->claimed++);
  j->state = job_state::claimed;
  return j;
}

void finish(pool *p, job *j) {
  plat_mutex_lock(p->mutex);
  j->state = job_state::done;
  if (p->caller_waiting) plat_cond_broadcast(p->done);
  plat_mutex_unlock(p->mutex);
}

struct helper {
  pool *p;
  scan_tools tools;
  bool ready;
};

void helper_main(void *arg) {
  auto *h = static_cast<helper *>(arg);
  pool *p = h->p;
  plat_mutex_lock(p->mutex);
  for (;;) {
    while (!p->stop.load() && p->claimed == p->produced && !p->walk_done) {
      ++p->helpers_waiting;
      plat_cond_wait(p->work, p->mutex);
      --p->helpers_waiting;
    }
    if (p->stop.load()) break;
    job *j = claim(p);
    if (j == nullptr) break;  // the walk is done and every job taken
    plat_mutex_unlock(p->mutex);
    run_job(p, j, &h->tools);
    finish(p, j);
    plat_mutex_lock(p->mutex);
  }
  plat_mutex_unlock(p->mutex);
}

// Puts the job's result into the search, as the search on one thread would
// have done with the file. False once the search must end.
bool deliver(searcher *s, job *j) {
  if (searcher_should_stop(s)) return false;
  switch (j->result) {
    case outcome::unreadable:
      qm_grep_set_last_error("%s", j->message);
      return true;
    case outcome::binary:
      return true;
    case outcome::abandoned:
      s->tally->stop = true;
      return false;
    case outcome::scanned:
      break;
  }
  ++s->tally->files_searched;
  const search_sink *sink = s->sink;
  size_t begin = 0;
  for (size_t i = 0; i < j->count && !s->tally->stop; ++i) {
    const char *object = j->objects.data + begin;
    const size_t len = j->ends[i] - begin;
    begin = j->ends[i] + 1;
    ++s->tally->total_matches;
    if (sink->document != nullptr) {
      if (s->objects++ > 0) json_out_char(sink->document, ',');
      json_out_bytes(sink->document, object, len);
      if (sink->document->failed) s->tally->stop = true;
    } else if (sink->object != nullptr && !sink->object(sink->ctx, object, len)) {
      s->tally->stop = true;
    }
    if (searcher_cap_reached(s->tally, s->opts)) s->tally->stop = true;
  }
  if (j->has_message) qm_grep_set_last_error("%s", j->message);
  return !s->tally->stop;
}

// Queues files from the walk until the window is full or the walk ends, and
// wakes sleeping helpers once for all of them.
void produce(pool *p) {
  searcher *s = p->s;
  char *paths[kWindow];
  size_t count = 0;
  bool ended = false;
  while (p->produced + count - p->delivered < kWindow) {
    if (!searcher_next_file(s)) {
      ended = true;
      break;
    }
    if ((paths[count] = strdup(s->path)) == nullptr) {
      // No memory for the path: end the search rather than skip a file.
      s->tally->stop = true;
      ended = true;
      break;
    }
    ++count;
  }
  if (count == 0 && !ended) return;
  plat_mutex_lock(p->mutex);
  for (size_t i = 0; i < count; ++i) {
    job &j = p->at(p->produced);
    j.path = paths[i];
    j.state = job_state::queued;
    ++p->produced;
  }
  if (ended) p->walk_done = true;
  if (p->helpers_waiting > 0) plat_cond_broadcast(p->work);
  plat_mutex_unlock(p->mutex);
}

// The calling thread's part: walk, help, and deliver in order.
void run_calling_thread(pool *p) {
  searcher *s = p->s;
  for (;;) {
    if (!p->walk_done) produce(p);
    plat_mutex_lock(p->mutex);
    if (p->delivered == p->produced) {
      plat_mutex_unlock(p->mutex);
      if (p->walk_done) return;
      continue;
    }
    job &next = p->at(p->delivered);
    // Until the next job in order is done, the calling thread scans the
    // lowest queued job (the next one itself when nobody has it yet), and
    // sleeps only when every job in flight is taken.
    while (next.state != job_state::done) {
      job *mine = claim(p);
      if (mine == nullptr) {
        p->caller_waiting = true;
        plat_cond_wait(p->done, p->mutex);
        p->caller_waiting = false;
        continue;
      }
      plat_mutex_unlock(p->mutex);
      // The job may be a file ahead of the ones delivered, whose messages must
      // not reach this thread's last-error text until (and unless) it is
      // delivered: the job keeps them, and the text is put back.
      char saved[1024];
      strncpy(saved, qm_grep_get_last_error(), sizeof saved - 1);
      saved[sizeof saved - 1] = '\0';
      run_job(p, mine, &s->tools);
      qm_grep_set_last_error("%s", saved);
      plat_mutex_lock(p->mutex);
      mine->state = job_state::done;
    }
    plat_mutex_unlock(p->mutex);
    const bool go_on = deliver(s, &next);
    next.clear();
    ++p->delivered;
    if (!go_on) return;
  }
}

}  // namespace

namespace {

void destroy_helper(helper *h) {
  h->~helper();
  free(h);
}

// Starts up to `count` helpers into `helpers`/`handles`; returns how many run.
int start_helpers(pool *p, int count, helper **helpers, plat_thread **handles) {
  int started = 0;
  for (int i = 0; i < count; ++i) {
    void *block = malloc(sizeof(helper));
    if (block == nullptr) break;
    auto *h = new (block) helper{p, {}, false};
    plat_thread *t = nullptr;
    if (!scan_tools_init(&h->tools, p->s, helper_should_stop, p) ||
        (t = plat_thread_start(helper_main, h)) == nullptr) {
      destroy_helper(h);
      break;
    }
    helpers[started] = h;
    handles[started] = t;
    ++started;
  }
  return started;
}

}  // namespace

void searcher_walk_parallel(searcher *s, int threads) {
  if (threads > kMaxThreads) threads = kMaxThreads;
  void *block = malloc(sizeof(pool));
  if (block == nullptr) {
    searcher_walk(s);
    return;
  }
  auto *p = new (block) pool{};
  p->s = s;
  p->mutex = plat_mutex_new();
  p->work = plat_cond_new();
  p->done = plat_cond_new();
  helper *helpers[kMaxThreads];
  plat_thread *handles[kMaxThreads];
  int started = 0;
  if (p->mutex != nullptr && p->work != nullptr && p->done != nullptr) {
    started = start_helpers(p, threads - 1, helpers, handles);
  }
  if (started > 0) {
    searcher_enter_directory(s, 0);
    run_calling_thread(p);
    plat_mutex_lock(p->mutex);
    p->stop.store(true);
    p->walk_done = true;
    plat_cond_broadcast(p->work);
    plat_mutex_unlock(p->mutex);
    for (int i = 0; i < started; ++i) {
      plat_thread_join(handles[i]);
      destroy_helper(helpers[i]);
    }
    for (size_t i = p->delivered; i < p->produced; ++i) p->at(i).clear();
  }
  plat_cond_free(p->done);
  plat_cond_free(p->work);
  plat_mutex_free(p->mutex);
  p->~pool();
  free(p);
  // No helper could be started: the search runs on the calling thread alone.
  if (started == 0) searcher_walk(s);
}
