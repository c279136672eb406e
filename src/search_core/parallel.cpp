// The opt-in parallel search. The calling thread walks the tree and queues
// the files, in walk order, into a window of jobs; helper threads read and
// scan them with the one per-file driver, recording each file's events
// (begin, matches, end) into its job's chunks; the calling thread takes the
// jobs in walk order and replays each one's events into the search's
// accounting (search.cpp), exactly as its own scan would have delivered them.
// So the sink sees the same calls in the same order, on the calling thread,
// and the counts, caps, limits and last-error text end the same as on one
// thread.
//
// Bounds: a job holds at most kJobHeldMax bytes of events that the calling
// thread has not replayed (its helper waits for room, so a file of a million
// matches never sits in memory whole); no new job is claimed while all jobs
// together hold kHeldBudget; at most kWindow files are queued ahead. Every
// helper checks the stop flag before each file and each match, and the time
// limit every few hundred matches, so a stop or a limit ends a parallel
// search within milliseconds, and no file is opened after it. Helpers are
// started for the call and joined before it returns.
//
// The calling thread scans too: the next job in order when nobody has taken
// it, straight into the accounting; while it waits for a helper's job, a job
// further ahead, recorded like a helper's. A job it scans ahead that outgrows
// kJobHeldMax is given back (its recording dropped) for a helper or for its
// turn in order, since only the calling thread can drain it.
#include "grep_core/grow_array.h"
#include "grep_core/last_error.h"
#include "search_core/clock.h"
#include "search_core/searcher.h"

#include <stddef.h>
#include <stdlib.h>
#include <string.h>

#include <atomic>
#include <new>

namespace {

constexpr size_t kWindow = 256;
constexpr int kMaxThreads = 64;
constexpr size_t kChunkBytes = size_t{64} << 10;
constexpr size_t kJobHeldMax = size_t{1} << 20;
constexpr size_t kHeldBudget = size_t{16} << 20;

// A run of recorded events. Events never straddle two chunks.
struct chunk {
  chunk *next;
  size_t len;
  size_t cap;
  char data[1];
};

chunk *chunk_new(size_t cap) {
  auto *c = static_cast<chunk *>(malloc(offsetof(chunk, data) + cap));
  if (c != nullptr) *c = chunk{nullptr, 0, cap, {0}};
  return c;
}

void chunk_list_free(chunk *c) {
  while (c != nullptr) {
    chunk *next = c->next;
    free(c);
    c = next;
  }
}

enum class job_state { queued, claimed, done };

// One file of the walk and what scanning it gave.
struct job {
  char *path = nullptr;
  job_state state = job_state::queued;
  bool caller_declined = false;  // given back once by the calling thread
  file_outcome outcome = FILE_STOPPED;
  int failure_kind = GREP_E_IO;
  char message[QG_LAST_ERROR_SIZE] = {};
  bool has_message = false;
  chunk *head = nullptr;  // recorded chunks not yet taken by the calling thread
  chunk *tail = nullptr;
  size_t held = 0;  // their bytes
};

struct pool {
  searcher *s = nullptr;
  plat_mutex *mutex = nullptr;
  plat_cond *work = nullptr;      // a job was queued, room came, or the search is ending
  plat_cond *progress = nullptr;  // a job recorded a chunk or finished
  plat_cond *drained = nullptr;   // the calling thread took a job's chunks
  job slots[kWindow];
  size_t produced = 0;   // jobs queued so far (their indices run from 0)
  size_t delivered = 0;  // jobs the calling thread has finished with
  size_t held_total = 0;
  bool walk_done = false;
  // Threads asleep on each condition: a signal is sent only to a sleeper, so
  // that a busy search makes no system call for it.
  int helpers_waiting = 0;
  int writers_waiting = 0;
  bool caller_waiting = false;
  std::atomic<bool> stop{false};
  // The calling thread's room for a replayed match's context and submatches.
  grow_array<text_span> context;
  grow_array<match_span> subs;
  grow_array<match_span> groups;

  job &at(size_t index) { return slots[index % kWindow]; }
};

void clear_job(pool *p, job &j) {
  p->held_total -= j.held;
  chunk_list_free(j.head);
  free(j.path);
  j = job{};
}

// The stop check of helpers' reads and scans: the calling thread ended the
// search, or its time limit passed.
bool helper_should_stop(void *ctx) {
  auto *p = static_cast<pool *>(ctx);
  if (p->stop.load(std::memory_order_relaxed)) return true;
  const int64_t deadline = p->s->deadline_ms;
  return deadline != 0 && search_clock_ms() >= deadline;
}

// Ends the parallel part of the search: every helper stops at its next check
// and every sleeper wakes.
void stop_all(pool *p) {
  plat_mutex_lock(p->mutex);
  p->stop.store(true);
  plat_cond_broadcast(p->work);
  plat_cond_broadcast(p->drained);
  plat_mutex_unlock(p->mutex);
}

// ---- Recording a file's events ----

enum event_kind : char { kBegin = 'B', kMatch = 'M', kEnd = 'E' };

// Writes plain values into a chunk at its end.
struct writer {
  char *at;
  template <typename T>
  void put(const T &value) {
    memcpy(at, &value, sizeof value);
    at += sizeof value;
  }
  void put_bytes(const char *p, size_t n) {
    if (n > 0) memcpy(at, p, n);
    at += n;
  }
};

size_t match_event_size(const scan_match *m) {
  size_t n = 1 + 3 * sizeof(int32_t) + sizeof(uint64_t) + m->line.n + sizeof(uint64_t) +
             sizeof(uint64_t) + m->submatch_count * sizeof(match_span) + sizeof(uint32_t) +
             sizeof(uint64_t) + m->group_span_count * sizeof(match_span) + sizeof(void *);
  for (size_t i = 0; i < m->context_count; ++i) n += sizeof(uint64_t) + m->context[i].n;
  return n;
}

struct recorder {
  pool *p;
  job *j;
  chunk *current;
  bool by_caller;  // the calling thread, scanning ahead: it gives the job back when it fills
  bool given_back;
  bool out_of_memory;
  clock_pace pace;
};

// Hands the current chunk to the job's list, where the calling thread takes it.
void publish(recorder *r) {
  chunk *c = r->current;
  r->current = nullptr;
  if (c == nullptr || c->len == 0) {
    free(c);
    return;
  }
  pool *p = r->p;
  plat_mutex_lock(p->mutex);
  if (r->j->tail != nullptr) {
    r->j->tail->next = c;
  } else {
    r->j->head = c;
  }
  r->j->tail = c;
  r->j->held += c->len;
  p->held_total += c->len;
  if (p->caller_waiting) plat_cond_broadcast(p->progress);
  plat_mutex_unlock(p->mutex);
}

// Room for an event of `need` bytes in the current chunk; false when the scan
// must end (the search stopped, memory ran out, or the calling thread gives
// the job back). A helper whose job holds its fill waits for the calling
// thread to take some.
bool make_room(recorder *r, size_t need) {
  if (r->current != nullptr && r->current->cap - r->current->len >= need) return true;
  publish(r);
  pool *p = r->p;
  plat_mutex_lock(p->mutex);
  while (r->j->held >= kJobHeldMax && !p->stop.load()) {
    if (r->by_caller) {
      r->given_back = true;
      break;
    }
    ++p->writers_waiting;
    plat_cond_wait(p->drained, p->mutex);
    --p->writers_waiting;
  }
  const bool go_on = !p->stop.load() && !r->given_back;
  plat_mutex_unlock(p->mutex);
  if (!go_on) return false;
  r->current = chunk_new(need > kChunkBytes ? need : kChunkBytes);
  if (r->current == nullptr) {
    r->out_of_memory = true;
    return false;
  }
  return true;
}

bool record_mark(recorder *r, event_kind kind) {
  if (!make_room(r, 1)) return false;
  r->current->data[r->current->len++] = kind;
  return true;
}

bool record_begin(void *ctx) { return record_mark(static_cast<recorder *>(ctx), kBegin); }

void record_end(void *ctx) { record_mark(static_cast<recorder *>(ctx), kEnd); }

bool record_match(void *ctx, const scan_match *m) {
  auto *r = static_cast<recorder *>(ctx);
  if (r->p->stop.load(std::memory_order_relaxed)) return false;
  if (r->pace.due(m) && helper_should_stop(r->p)) return false;
  const size_t need = match_event_size(m);
  if (!make_room(r, need)) return false;
  writer w{r->current->data + r->current->len};
  w.put(static_cast<char>(kMatch));
  w.put(m->line_no);
  w.put(m->col);
  w.put(m->length);
  w.put(static_cast<uint64_t>(m->line.n));
  w.put_bytes(m->line.p, m->line.n);
  w.put(static_cast<uint64_t>(m->context_count));
  for (size_t i = 0; i < m->context_count; ++i) {
    w.put(static_cast<uint64_t>(m->context[i].n));
    w.put_bytes(m->context[i].p, m->context[i].n);
  }
  w.put(static_cast<uint64_t>(m->submatch_count));
  w.put_bytes(reinterpret_cast<const char *>(m->submatches),
              m->submatch_count * sizeof(match_span));
  w.put(m->group_count);
  w.put(static_cast<uint64_t>(m->group_span_count));
  w.put_bytes(reinterpret_cast<const char *>(m->groups), m->group_span_count * sizeof(match_span));
  w.put(m->group_names);  // the search's compiled pattern's, which outlives the job
  r->current->len += need;
  return true;
}

// Keeps the thread's last-error text and its kind in the job, for the
// calling thread to set when it delivers the job.
void keep_message(job *j) {
  strncpy(j->message, qm_grep_get_last_error(), sizeof j->message - 1);
  j->failure_kind = qg_failure_kind();
  j->has_message = true;
}

// Reads and scans the job's file with `fs`, recording its events. False when
// the calling thread (scanning ahead) gives the job back.
bool run_job(pool *p, job *j, file_scanner *fs, bool by_caller) {
  recorder r = {p, j, nullptr, by_caller, false, false, {}};
  const match_receiver receiver = {&r, record_begin, record_match, record_end};
  file_outcome outcome = search_file_content(fs, j->path, &receiver);
  if (r.given_back) {
    free(r.current);
    return false;
  }
  if (r.out_of_memory) {
    qg_fail(GREP_E_NO_MEMORY, "Out of memory searching '%s'", j->path);
    outcome = FILE_NO_MEMORY;
  }
  if (outcome == FILE_UNREADABLE || outcome == FILE_NO_MEMORY) keep_message(j);
  publish(&r);
  j->outcome = outcome;
  return true;
}

// ---- Replaying a job on the calling thread ----

struct reader {
  const char *at;
  template <typename T>
  T get() {
    T value;
    memcpy(&value, at, sizeof value);
    at += sizeof value;
    return value;
  }
};

// Ends the search for want of memory to deliver the job's matches; false.
bool fail_delivery(searcher *s, const job &j) {
  qg_fail(GREP_E_NO_MEMORY, "Out of memory delivering the matches of '%s'", j.path);
  searcher_fail(s);
  return false;
}

// Reads `count` spans into `into`; false when it cannot hold them.
bool read_spans(reader *r, grow_array<match_span> *into, size_t count) {
  if (!into->reserve(count)) return false;
  if (count > 0) memcpy(static_cast<void *>(into->items), r->at, count * sizeof(match_span));
  r->at += count * sizeof(match_span);
  return true;
}

// Puts the events of one chunk into the accounting; false once the search
// has ended.
bool replay_chunk(pool *p, job &j, const chunk *c) {
  searcher *s = p->s;
  reader r{c->data};
  const char *const end = c->data + c->len;
  while (r.at < end) {
    const char kind = *r.at++;
    if (kind == kBegin) {
      if (!searcher_begin_file(s, j.path)) return false;
      continue;
    }
    if (kind == kEnd) {
      searcher_end_file(s);
      continue;
    }
    scan_match m = {};
    m.line_no = r.get<int32_t>();
    m.col = r.get<int32_t>();
    m.length = r.get<int32_t>();
    m.line.n = static_cast<size_t>(r.get<uint64_t>());
    m.line.p = r.at;
    r.at += m.line.n;
    m.context_count = static_cast<size_t>(r.get<uint64_t>());
    if (!p->context.reserve(m.context_count)) return fail_delivery(s, j);
    for (size_t i = 0; i < m.context_count; ++i) {
      p->context.items[i].n = static_cast<size_t>(r.get<uint64_t>());
      p->context.items[i].p = r.at;
      r.at += p->context.items[i].n;
    }
    m.context = p->context.items;
    m.submatch_count = static_cast<size_t>(r.get<uint64_t>());
    if (!read_spans(&r, &p->subs, m.submatch_count)) return fail_delivery(s, j);
    m.submatches = p->subs.items;
    m.group_count = r.get<uint32_t>();
    m.group_span_count = static_cast<size_t>(r.get<uint64_t>());
    if (!read_spans(&r, &p->groups, m.group_span_count)) return fail_delivery(s, j);
    m.groups = m.group_span_count > 0 ? p->groups.items : nullptr;
    m.group_names = r.get<const char *const *>();
    if (!searcher_take_match(s, &m)) return false;
  }
  return true;
}

// Takes the chunks the job has recorded so far; called with the mutex held.
chunk *take_chunks(pool *p, job &j) {
  chunk *taken = j.head;
  p->held_total -= j.held;
  j.head = j.tail = nullptr;
  j.held = 0;
  if (taken != nullptr && p->writers_waiting > 0) plat_cond_broadcast(p->drained);
  if (taken != nullptr && p->helpers_waiting > 0) plat_cond_broadcast(p->work);
  return taken;
}

// What a finished job's read or scan left, as the search on one thread would
// have met it.
void finish_job(pool *p, const job &j) {
  searcher *s = p->s;
  if (j.has_message) qg_fail(j.failure_kind, "%s", j.message);
  if (j.outcome == FILE_STOPPED && !searcher_should_stop(s)) {
    // A helper stops only when the search has ended or its time limit has
    // passed, and the calling thread's clock reads the limit the same way.
    searcher_end(s, SEARCH_TIMED_OUT);
    return;
  }
  searcher_file_done(s, j.outcome);
}

// The lowest queued job that the calling thread may scan ahead of delivery;
// called with the mutex held.
job *claim_ahead(pool *p) {
  if (p->held_total >= kHeldBudget) return nullptr;
  for (size_t i = p->delivered + 1; i < p->produced; ++i) {
    job &j = p->at(i);
    if (j.state == job_state::queued && !j.caller_declined) {
      j.state = job_state::claimed;
      return &j;
    }
  }
  return nullptr;
}

// The calling thread's scan of a job ahead of delivery, its own last-error
// text kept aside meanwhile (the job keeps what the file leaves).
void scan_ahead(pool *p, job *j) {
  searcher *s = p->s;
  char saved[QG_LAST_ERROR_SIZE];
  strncpy(saved, qm_grep_get_last_error(), sizeof saved - 1);
  saved[sizeof saved - 1] = '\0';
  const int saved_kind = qg_failure_kind();
  const bool kept = run_job(p, j, &s->tools, true);
  qg_fail(saved_kind, "%s", saved);
  plat_mutex_lock(p->mutex);
  if (kept) {
    j->state = job_state::done;
  } else {
    p->held_total -= j->held;
    chunk_list_free(j->head);
    j->head = j->tail = nullptr;
    j->held = 0;
    j->state = job_state::queued;
    j->caller_declined = true;
    if (p->helpers_waiting > 0) plat_cond_broadcast(p->work);
  }
  plat_mutex_unlock(p->mutex);
}

// Delivers the next job in walk order, scanning it if nobody has, replaying
// what its helper records as it comes, and scanning ahead while it waits.
// False once the search has ended.
bool deliver_next(pool *p) {
  searcher *s = p->s;
  job &j = p->at(p->delivered);
  plat_mutex_lock(p->mutex);
  for (;;) {
    if (j.state == job_state::queued) {
      j.state = job_state::claimed;
      plat_mutex_unlock(p->mutex);
      searcher_scan_file(s, j.path);
      plat_mutex_lock(p->mutex);
      break;
    }
    const bool done = j.state == job_state::done;
    chunk *taken = take_chunks(p, j);
    if (taken != nullptr) {
      plat_mutex_unlock(p->mutex);
      bool go_on = true;
      for (const chunk *c = taken; c != nullptr && go_on; c = c->next)
        go_on = replay_chunk(p, j, c);
      chunk_list_free(taken);
      if (!go_on) return false;
      plat_mutex_lock(p->mutex);
      continue;
    }
    if (done) {
      plat_mutex_unlock(p->mutex);
      finish_job(p, j);
      plat_mutex_lock(p->mutex);
      break;
    }
    if (job *ahead = claim_ahead(p)) {
      plat_mutex_unlock(p->mutex);
      scan_ahead(p, ahead);
      if (searcher_should_stop(s)) return false;
      plat_mutex_lock(p->mutex);
      continue;
    }
    p->caller_waiting = true;
    plat_cond_wait(p->progress, p->mutex);
    p->caller_waiting = false;
  }
  clear_job(p, j);
  ++p->delivered;
  if (p->helpers_waiting > 0) plat_cond_broadcast(p->work);
  plat_mutex_unlock(p->mutex);
  return !searcher_should_stop(s);
}

// The walk's visit in a parallel search: queues the file, first making room
// in the window by delivering jobs in order.
bool queue_file(searcher *s, void *ctx) {
  auto *p = static_cast<pool *>(ctx);
  while (p->produced - p->delivered >= kWindow) {
    if (!deliver_next(p)) return false;
  }
  char *path = strdup(s->path);
  if (path == nullptr) {
    // Skipping the file would change the results: the search ends instead.
    qg_fail(GREP_E_NO_MEMORY, "Out of memory queuing '%s'", s->path);
    searcher_fail(s);
    return false;
  }
  plat_mutex_lock(p->mutex);
  job &j = p->at(p->produced);
  j = job{};
  j.path = path;
  ++p->produced;
  if (p->helpers_waiting > 0) plat_cond_broadcast(p->work);
  plat_mutex_unlock(p->mutex);
  return !searcher_should_stop(s);
}

// ---- Helpers ----

struct helper {
  pool *p;
  file_scanner tools;
};

// The lowest queued job for a helper, within the budget (the next job in
// order is always open); called with the mutex held.
job *claim_for_helper(pool *p, bool *none_left) {
  *none_left = true;
  for (size_t i = p->delivered; i < p->produced; ++i) {
    job &j = p->at(i);
    if (j.state != job_state::queued) continue;
    *none_left = false;
    if (i != p->delivered && p->held_total >= kHeldBudget) return nullptr;
    j.state = job_state::claimed;
    return &j;
  }
  return nullptr;
}

void helper_main(void *arg) {
  auto *h = static_cast<helper *>(arg);
  pool *p = h->p;
  plat_mutex_lock(p->mutex);
  for (;;) {
    job *j = nullptr;
    while (!p->stop.load()) {
      bool none_left = false;
      j = claim_for_helper(p, &none_left);
      if (j != nullptr || (none_left && p->walk_done)) break;
      ++p->helpers_waiting;
      plat_cond_wait(p->work, p->mutex);
      --p->helpers_waiting;
    }
    if (j == nullptr || p->stop.load()) {
      if (j != nullptr) j->state = job_state::done;
      break;
    }
    plat_mutex_unlock(p->mutex);
    run_job(p, j, &h->tools, false);
    plat_mutex_lock(p->mutex);
    j->state = job_state::done;
    if (p->caller_waiting) plat_cond_broadcast(p->progress);
  }
  plat_mutex_unlock(p->mutex);
}

void destroy_helper(helper *h) {
  file_scanner_free(&h->tools);
  h->~helper();
  free(h);
}

// Starts up to `count` helpers into `helpers`/`handles`; returns how many run.
int start_helpers(pool *p, int count, helper **helpers, plat_thread **handles) {
  int started = 0;
  for (int i = 0; i < count; ++i) {
    void *block = malloc(sizeof(helper));
    if (block == nullptr) break;
    auto *h = new (block) helper{p, {}};
    plat_thread *t = nullptr;
    if (!file_scanner_init(&h->tools, p->s->pattern, p->s->opts, p->s->program, helper_should_stop,
                           p) ||
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

// The walk and the delivery of every job, on the calling thread.
void run_calling_thread(pool *p) {
  searcher *s = p->s;
  s->shared_stop = &p->stop;
  s->visit_file = queue_file;
  s->visit_ctx = p;
  search_directory_win(s, 0);
  plat_mutex_lock(p->mutex);
  p->walk_done = true;
  if (p->helpers_waiting > 0) plat_cond_broadcast(p->work);
  plat_mutex_unlock(p->mutex);
  while (p->delivered < p->produced && deliver_next(p)) {
  }
  s->shared_stop = nullptr;
}

}  // namespace

void searcher_walk_parallel(searcher *s, int threads) {
  if (threads > kMaxThreads) threads = kMaxThreads;
  void *block = malloc(sizeof(pool));
  auto *p = block != nullptr ? new (block) pool{} : nullptr;
  helper *helpers[kMaxThreads];
  plat_thread *handles[kMaxThreads];
  int started = 0;
  if (p != nullptr) {
    p->s = s;
    p->mutex = plat_mutex_new();
    p->work = plat_cond_new();
    p->progress = plat_cond_new();
    p->drained = plat_cond_new();
    if (p->mutex != nullptr && p->work != nullptr && p->progress != nullptr &&
        p->drained != nullptr) {
      started = start_helpers(p, threads - 1, helpers, handles);
    }
  }
  if (started > 0) {
    run_calling_thread(p);
    stop_all(p);
    for (int i = 0; i < started; ++i) {
      plat_thread_join(handles[i]);
      destroy_helper(helpers[i]);
    }
    for (size_t i = p->delivered; i < p->produced; ++i) clear_job(p, p->at(i));
  }
  if (p != nullptr) {
    plat_cond_free(p->drained);
    plat_cond_free(p->progress);
    plat_cond_free(p->work);
    plat_mutex_free(p->mutex);
    p->~pool();
    free(p);
  }
  // No helper could be started: the search runs on the calling thread alone.
  if (started == 0) searcher_walk(s);
}
