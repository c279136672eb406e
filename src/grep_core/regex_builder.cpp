#include "grep_core/regex_builder.h"

#include "grep_core/last_error.h"
#include "grep_core/regex_dfa.h"
#include "grep_core/regex_dfa_bounds.h"

#include <stdlib.h>
#include <string.h>

bool program_builder::add(re_op op, uint32_t next, uint32_t arg, uint32_t *id) {
  if (insts.count >= RE_MAX_INSTRUCTIONS) {
    too_large = true;
    return false;
  }
  *id = insts.count;
  return insts.push(re_inst{static_cast<uint32_t>(op), next, arg});
}

bool program_builder::set_id(const re_byteset &s, uint32_t *id) {
  uint64_t h = 1469598103934665603ull;
  for (uint64_t w : s.bits) h = (h ^ w) * 1099511628211ull;
  const uint32_t found = set_ids.find(h);
  if (found != QG_KEY_MAP_NONE && memcmp(&sets.items[found], &s, sizeof s) == 0) {
    *id = found;
    return true;
  }
  *id = sets.count;
  return sets.push(s) && (found != QG_KEY_MAP_NONE || set_ids.insert(h, *id));
}

namespace {

// Follows the paths from `start` that consume nothing and records what they
// lead to: the sets that can consume the first byte, MATCH, END.
bool analyse_start(re_program *prog) {
  auto *seen = static_cast<uint8_t *>(calloc(prog->count, 1));
  auto *stack = static_cast<uint32_t *>(malloc(sizeof(uint32_t) * (prog->count + 1)));
  if (seen == nullptr || stack == nullptr) {
    free(seen);
    free(stack);
    return false;
  }
  memset(&prog->first, 0, sizeof prog->first);
  size_t sp = 0;
  stack[sp++] = prog->start;
  while (sp > 0) {
    const uint32_t pc = stack[--sp];
    if (seen[pc]) continue;
    seen[pc] = 1;
    const re_inst &in = prog->insts[pc];
    switch (in.op) {
      case RE_OP_MATCH:
        prog->empty = true;
        break;
      case RE_OP_END:
        prog->at_end = true;
        break;
      case RE_OP_SET:
        for (int w = 0; w < 4; ++w) prog->first.bits[w] |= prog->sets[in.arg].bits[w];
        break;
      case RE_OP_SPLIT:
        stack[sp++] = in.arg;
        stack[sp++] = in.next;
        break;
      case RE_OP_ASSERT:
        // Taken as holding: the start may only be looked for more widely.
        stack[sp++] = in.next;
        break;
      default:
        break;
    }
  }
  free(seen);
  free(stack);
  prog->first_count = 0;
  for (unsigned c = 0; c < 256 && prog->first_count < 3; ++c) {
    if (!re_set_has(&prog->first, static_cast<unsigned char>(c))) continue;
    if (prog->first_count < 2) prog->first_bytes[prog->first_count] = static_cast<unsigned char>(c);
    ++prog->first_count;
  }
  return true;
}

}  // namespace

bool program_finish(program_builder *b, re_program *prog) {
  prog->count = b->insts.count;
  prog->insts = b->insts.release();
  prog->set_count = b->sets.count;
  prog->sets = b->sets.release();
  if (!analyse_start(prog)) return false;
  // None (matches are bounded by the exact matcher) where a Unicode word
  // boundary needs the characters around it, which the bounds DFAs, reading
  // ASCII alone, do not see.
  if (!re_tests_unicode_words(prog)) prog->reverse = re_program_reverse(prog);
  return true;
}

void re_prepare_literals(re_program *prog) {
  const char *needles[RE_MAX_PREFILTER_LITERALS];
  for (int i = 0; i < prog->literal_count; ++i) {
    qg_finder_init(&prog->literal_finders[i], prog->literals[i], prog->literal_lens[i],
                   !prog->fold);
    needles[i] = prog->literals[i];
  }
  if (prog->literal_count >= 2) {
    qg_set_finder_init(&prog->literal_set, needles, prog->literal_lens, prog->literal_count,
                       !prog->fold);
  }
}

void report_compile_end(compile_end why, size_t m, bool *out_stopped) {
  if (out_stopped != nullptr) *out_stopped = why == compile_end::stopped;
  switch (why) {
    case compile_end::too_large:
      qg_fail(GREP_E_ARGUMENT, "Pattern too large: its program passes %llu instructions",
              static_cast<unsigned long long>(RE_MAX_INSTRUCTIONS));
      return;
    case compile_end::no_memory:
      qg_fail(GREP_E_NO_MEMORY, "Out of memory compiling the pattern (%llu bytes)",
              static_cast<unsigned long long>(m));
      return;
    case compile_end::stopped:
    case compile_end::done:
      return;
  }
}
