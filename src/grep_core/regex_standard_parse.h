// The standard regular-expression syntax (the one that Python's re, PCRE,
// JavaScript and ripgrep share), read into a tree of nodes that the compiler
// (regex_standard_compile.cpp) turns into a program of the same kind as the
// dialect's.
//
// What a pattern means is fixed here, so the compiler works on meanings
// only: every character class, escape and literal becomes a UNIT holding a
// set of code points, with case folding (ASCII's, or in Unicode mode
// Unicode's simple case folding, unicode_props.h) already applied where (?i)
// is in force; a capturing group is a GROUP node around its contents, which
// every reading but the captures' takes as those contents alone. The line is taken as
// UTF-8 in which each byte that is not part of a valid sequence stands for
// itself as one unit; such a unit is the code point 0xDC80 + its byte (the
// convention of Python's surrogateescape), which no valid UTF-8 text holds.
//
// A tree is made by re_syntax_parse and owned by the caller, who releases it
// with re_tree_free. Parsing allocates the tree and nothing else, does not
// recurse, and keeps no state; any thread.
#ifndef QG_REGEX_STANDARD_PARSE_H
#define QG_REGEX_STANDARD_PARSE_H

#include <stdbool.h>
#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

// Bounds of the syntax: counted repetitions take at most this count, and
// groups nest at most this deep (the compiler recurses with the nesting).
#define RE_MAX_REPEAT_COUNT 1000u
#define RE_MAX_NESTING 256u

// An unbounded repetition's maximum.
#define RE_REPEAT_MANY UINT32_MAX

// The code point that stands for the byte `b` (0x80..0xFF) when it is not
// part of valid UTF-8, and the range of them.
#define RE_INVALID_UNIT(b) (0xDC00u + (uint32_t)(b))
#define RE_INVALID_FIRST 0xDC80u
#define RE_INVALID_LAST 0xDCFFu

typedef enum re_node_kind {
  RE_NODE_EMPTY = 0,  // matches the empty text
  RE_NODE_UNIT,       // one unit whose code point is in the node's ranges
  RE_NODE_ASSERT,     // a test of the position, consuming nothing
  RE_NODE_CONCAT,     // the children one after another
  RE_NODE_ALT,        // the first child that leads to a match, in order
  RE_NODE_REPEAT,     // the only child, min..max times
  RE_NODE_GROUP,      // the only child, as capturing group number `min` (from 1)
} re_node_kind;

// What an RE_NODE_ASSERT tests (the same values as the program's ASSERT
// instruction takes).
typedef enum re_assert_kind {
  RE_ASSERT_LINE_START = 0,             // '^': the line's first position
  RE_ASSERT_LINE_END,                   // '$': the line's last position
  RE_ASSERT_WORD_BOUNDARY,              // '\b': ASCII word byte on exactly one side
  RE_ASSERT_NOT_WORD_BOUNDARY,          // '\B'
  RE_ASSERT_INVALID_UNIT,               // (programs only) no valid UTF-8 sequence starts here
  RE_ASSERT_UNICODE_WORD_BOUNDARY,      // '\b' in Unicode mode: a word character (of
                                        // uc_is_word) on exactly one side
  RE_ASSERT_UNICODE_NOT_WORD_BOUNDARY,  // '\B' in Unicode mode
} re_assert_kind;

// A closed range of code points.
typedef struct re_range {
  uint32_t lo, hi;
} re_range;

typedef struct re_node {
  uint8_t kind;           // re_node_kind
  uint8_t assert_kind;    // RE_NODE_ASSERT: re_assert_kind
  bool greedy;            // RE_NODE_REPEAT: false for the lazy forms
  bool nullable;          // some path through the node consumes nothing
  uint32_t first_child;   // CONCAT, ALT, REPEAT: index of the first child
  uint32_t next_sibling;  // the next child of the parent, or RE_NO_NODE
  uint32_t range_begin;   // RE_NODE_UNIT: first of its ranges in the tree's list
  uint32_t range_count;   // RE_NODE_UNIT: sorted, disjoint, not adjacent
  uint32_t min, max;      // RE_NODE_REPEAT; RE_NODE_GROUP: its number in `min`
} re_node;

#define RE_NO_NODE UINT32_MAX

typedef struct re_tree {
  re_node *nodes;
  uint32_t node_count;
  re_range *ranges;
  uint32_t range_count;
  uint32_t root;
  bool anchored;  // every match begins with '^' at the top level
  // The capturing groups, numbered from 1 in the order of their opening
  // parentheses: group i's name is the `hi` bytes at offset `lo` of the
  // pattern read, for i = 1..group_count at group_names[i - 1] (`hi` 0: the
  // group has none).
  uint32_t group_count;
  re_range *group_names;
} re_tree;

// Why a pattern is refused: `what` (static text, or the tree's own buffer)
// and the byte offset from 0 where the fault lies.
typedef struct re_syntax_error {
  char what[96];
  size_t at;
} re_syntax_error;

// Outcomes of re_syntax_parse.
typedef enum re_parse_result {
  RE_PARSE_OK = 0,
  RE_PARSE_INVALID,  // *error says why
  RE_PARSE_NO_MEMORY,
} re_parse_result;

// Reads the `len` bytes at `pattern` as a pattern of the standard syntax,
// `fold` and `unicode` being in force from the start (as "(?i)" and "(?u)"
// put them). On RE_PARSE_OK
// *tree holds the tree; otherwise it is empty and, for an invalid pattern,
// *error says what is wrong where.
re_parse_result re_syntax_parse(const char *pattern, size_t len, bool fold, bool unicode,
                                re_tree *tree, re_syntax_error *error);

// Releases what a tree holds; an empty tree is accepted.
void re_tree_free(re_tree *tree);

#ifdef __cplusplus
}
#endif

#endif  // QG_REGEX_STANDARD_PARSE_H
