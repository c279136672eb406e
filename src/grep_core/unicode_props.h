// The Unicode character properties of the standard syntax's Unicode mode:
// word characters, white space and digits, the general categories and
// scripts that \p{...} names, the POSIX classes read over all of Unicode,
// and the partners of each code point under simple case folding.
//
// Everything comes from tables generated from one version of the Unicode
// Character Database (unicode_tables.h, QG_UNICODE_VERSION); nothing is read
// at run time. Sets are handed out as ranges of code points through a
// callback, which may fail (out of memory) and so stop the walk: ascending
// and disjoint for one property, and for a class made of several (the POSIX
// classes, fold partners) in no set order, for the caller to merge.
// Pure functions over immutable tables; any thread.
#ifndef QG_UNICODE_PROPS_H
#define QG_UNICODE_PROPS_H

#include <stdbool.h>
#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

// Receives one range [lo, hi]; false stops the walk (which then returns false).
typedef bool (*uc_emit)(void *ctx, uint32_t lo, uint32_t hi);

// The sets of \w, \s and \d in Unicode mode: the characters that Python's
// str.isalnum() or '_' accepts, those str.isspace() accepts, and the decimal
// digits (category Nd).
bool uc_word_ranges(uc_emit emit, void *ctx);
bool uc_space_ranges(uc_emit emit, void *ctx);
bool uc_digit_ranges(uc_emit emit, void *ctx);

// True when `cp` is a word character of Unicode mode (as uc_word_ranges).
bool uc_is_word(uint32_t cp);

// A property that \p{...} names: a set of general categories or a script.
typedef struct uc_property {
  uint32_t categories;  // bits by the tables' category index; with `script` < 0
  int32_t script;       // the script's index, or -1 for categories
  bool assigned_only;   // "Assigned": every category but Cn
} uc_property;

// Reads the `n` bytes at `name` (what stands between the braces, or the one
// letter of \pL) as a property: a general category by short or long name
// ("L", "Lu", "Letter", "Uppercase_Letter", also "LC" and "L&"), a script by
// long or short name ("Greek", "Grek"), either one after "gc=",
// "General_Category=", "sc=" or "Script=", or "Any", "ASCII" and "Assigned".
// Names compare as Unicode's loose matching does: case, spaces, '_' and '-'
// do not count. False when it names none of them.
bool uc_property_named(const char *name, size_t n, uc_property *out);

// Hands out the code points of `p` (the surrogates never among them).
bool uc_property_ranges(const uc_property *p, uc_emit emit, void *ctx);

// The POSIX class named by the `n` bytes at `name`, read over Unicode
// (alpha: L; lower: Ll; upper: Lu; digit: Nd; alnum: L and Nd; space: as \s;
// blank: Zs and tab; cntrl: Cc; punct: P and the ASCII symbols; graph:
// everything assigned but white space and Cc; print: graph and Zs; word: as
// \w; xdigit and ascii as in ASCII). *known false when there is no such class.
bool uc_posix_ranges(const char *name, size_t n, uc_emit emit, void *ctx, bool *known);

// Hands out, one code point at a time, every partner under simple case
// folding of a code point in [lo, hi] (a code point is not its own partner).
bool uc_fold_partners(uint32_t lo, uint32_t hi, uc_emit emit, void *ctx);

// True when simple case folding gives `cp` a partner outside ASCII (every
// non-ASCII letter with another case, and the ASCII letters k, s and their
// capitals, whose partners are KELVIN SIGN and LONG S).
bool uc_folds_beyond_ascii(uint32_t cp);

// The version of the Unicode Character Database the tables come from.
const char *uc_version(void);

#ifdef __cplusplus
}
#endif

#endif  // QG_UNICODE_PROPS_H
