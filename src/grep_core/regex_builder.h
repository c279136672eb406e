// Building a program (regex_program.h): the instruction and set lists that
// both compilers fill, and the analysis of where attempts can begin that
// finishes a program. Internal to the pattern matcher; a builder belongs to
// one compilation on one thread.
#ifndef QG_REGEX_BUILDER_H
#define QG_REGEX_BUILDER_H

#include "grep_core/grow_array.h"
#include "grep_core/key_map.h"
#include "grep_core/regex_program.h"

// Every program begins with its MATCH, which every path to success ends at.
constexpr uint32_t kMatchInst = 0;

struct program_builder {
  grow_array<re_inst> insts;
  grow_array<re_byteset> sets;
  key_map set_ids;         // hash of a set -> a set id with that hash (checked)
  bool too_large = false;  // an add passed RE_MAX_INSTRUCTIONS

  // Appends an instruction, its index written to *id; false when out of
  // memory or past RE_MAX_INSTRUCTIONS (too_large set).
  bool add(re_op op, uint32_t next, uint32_t arg, uint32_t *id);

  // The id of `s` among the program's sets, added when new.
  bool set_id(const re_byteset &s, uint32_t *id);
};

inline void re_set_add(re_byteset *s, unsigned char c) {
  s->bits[c >> 6] |= uint64_t{1} << (c & 63);
}

// Why a compilation ended without a program.
enum class compile_end { done, no_memory, too_large, stopped };

// Says why a compilation of a pattern of `m` bytes gave no program: the
// message and its kind, or nothing when it was stopped. *out_stopped (may be
// null) tells whether it was.
void report_compile_end(compile_end why, size_t m, bool *out_stopped);

// Hands the builder's instructions and sets to `prog` and works out where
// its attempts can begin (re_program's `first`, `empty`, `at_end`), and
// reverses it (`reverse`, left null when memory runs out). False
// when out of memory; the builder is empty afterwards either way.
bool program_finish(program_builder *b, re_program *prog);

#endif  // QG_REGEX_BUILDER_H
