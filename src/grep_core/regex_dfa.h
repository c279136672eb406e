// A lazy DFA over a compiled pattern (regex_program.h), for deciding which
// lines of a whole text hold a match, in one pass over its bytes.
//
// It answers only "does this line hold a match": a line's membership in a
// regular language does not depend on the priority order of the program's
// alternatives, so the answer is the same for the dialect and the standard
// syntax, and the exact matcher (re_find) still gives the column, length and
// further matches of each line the DFA accepts. The DFA may accept a line
// that holds no match (the test at the start of an invalid UTF-8 unit is read
// as "a byte of 0x80-0xFF follows", and standard-syntax attempts are let
// begin inside a multi-byte unit); it never rejects one that holds a match.
//
// States are sets of program instructions plus what the text just behind the
// position says (a line start, a word byte, a CR that an LF may complete):
// line anchors, word boundaries and END are decided inside the DFA, with the
// byte after the position as their look-ahead. Bytes are read through the
// program's byte classes (bytes no set, word test or line break tells apart
// share one column of the transition table). A line ends at LF, CR LF or a
// lone CR, as the line rule says (text_lines.h), and the DFA starts afresh
// after it.
//
// States are built as the text needs them and kept in a cache of at most
// RE_DFA_CACHE_BYTES, working memory included; a full cache is cleared and
// refilled. When clears come too often for the bytes read (fewer than
// RE_DFA_MIN_BYTES_PER_STATE bytes of the text per state built since the
// last clear, from the RE_DFA_MIN_CLEARS-th clear in the text on) the DFA
// gives up on that text and the caller matches the rest line by line with
// the exact matcher, so a text never costs more than the exact matcher's
// bound plus one fill of the cache.
//
// A DFA belongs to one thread; the program it reads is shared and read only.
#ifndef QG_REGEX_DFA_H
#define QG_REGEX_DFA_H

#include "grep_core/regex.h"

#include <stdbool.h>
#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

// Most bytes one DFA holds: its state cache and its working memory. A
// program too large for a DFA within this bound gets none (re_dfa_new).
#define RE_DFA_CACHE_BYTES ((size_t)2 << 20)

// The clear of a text from which the DFA may give up: the first, since a
// DFA that fills its whole cache at fewer bytes per state than this is no
// faster than the exact matcher, and each further fill only adds to the cost.
#define RE_DFA_MIN_CLEARS 1
#define RE_DFA_MIN_BYTES_PER_STATE 10

typedef struct re_dfa re_dfa;

// A DFA for `program` (kept by the caller while the DFA lives), or null when
// the program has none (it opts out, or needs more working memory than the
// bound allows) or memory runs out: the caller then uses the exact matcher.
// Released with re_dfa_free.
re_dfa *re_dfa_new(const re_program *program);
void re_dfa_free(re_dfa *dfa);

// Asked every RE_STOP_CHECK_STEPS steps of building states.
void re_dfa_set_stop(re_dfa *dfa, re_stop_check check, void *ctx);

// Starts a new text: the DFA stands at a line start, with no clears counted.
void re_dfa_begin_text(re_dfa *dfa);

// Sets the DFA at a line start of the same text (after a line the caller
// handled itself).
void re_dfa_at_line_start(re_dfa *dfa);

typedef enum re_dfa_result {
  RE_DFA_NO_MATCH = 0,  // no line was found to hold a match in the bytes read
  RE_DFA_MATCH = 1,     // the line holding byte *at (or ended by it) may hold a match
  RE_DFA_GAVE_UP = 2,   // too many clears: match from the line holding byte *at on
  RE_DFA_STOPPED = 3,   // the stop check said so
} re_dfa_result;

// Reads text[from, to) of a text of `len` bytes, going on from where the last
// call stopped (to <= len; a call that reaches `len` also ends the text's
// last line). On RE_DFA_MATCH and RE_DFA_GAVE_UP, *at is a byte of the line
// concerned, or the break that ends it, or `len`; the caller goes on with
// re_dfa_at_line_start at a later line start.
re_dfa_result re_dfa_scan(re_dfa *dfa, const char *text, size_t len, size_t from, size_t to,
                          size_t *at);

// Whether the `n` bytes at `line` (one line: no CR or LF) may hold a match,
// as re_dfa_scan would say of a text of that one line; RE_DFA_GAVE_UP and
// RE_DFA_STOPPED as there. The lines of one text (re_dfa_begin_text) count
// together toward giving up, so a text of many lines is given up once.
re_dfa_result re_dfa_line(re_dfa *dfa, const char *line, size_t n);

// Whether the program tests word boundaries (\b or \B, ASCII's or Unicode's).
bool re_tests_words(const re_program *program);

// Whether it tests Unicode's word boundaries, which need the characters
// around a position and not only the bytes.
bool re_tests_unicode_words(const re_program *program);

// Writes the byte class of every byte to `classes` and returns how many
// there are: bytes that no set of the program, line break (LF, CR), word
// test or 0x80 boundary it reads (or, with `split_high`, that no 0x80
// boundary) tells apart share a class. Classes are numbered in the order of
// their first byte.
uint32_t re_byte_classes(const re_program *program, bool split_high, uint8_t classes[256]);

#ifdef __cplusplus
}
#endif

#endif  // QG_REGEX_DFA_H
