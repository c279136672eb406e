// The options' path globs: globs in git's ignore syntax, with braces, over
// an entry's path below the search's root. A glob selects (whitelists) what
// it matches; one that starts with '!' excludes it; the last glob that
// matches decides. When any glob selects, a file that none matches is passed
// over, while directories are still walked, so that files below them can be
// selected. A selected entry is walked or searched whatever the hidden rule,
// the fixed skip list and the ignore files say.
//
// The globs become one rule set read with git's rules, each glob a rule of
// the opposite sense: a selecting glob is a negated rule (the path stays),
// an excluding one a plain rule.
#include "search_core/searcher.h"

#include "grep_core/last_error.h"
#include "platform/platform.h"
#include "search_core/ignore_rules.h"

#include <stdlib.h>
#include <string.h>

#include <string>
#include <string_view>
#include <vector>

namespace {

// Most globs one glob's braces expand to; the rest are dropped.
constexpr size_t kMaxExpansions = 256;

// The first brace group of `glob` that holds a comma at its own level: the
// offsets of its '{' and '}'. False when there is none. Escaped braces and
// commas ('\{') are literal.
bool first_brace_group(std::string_view glob, size_t *open, size_t *close) {
  std::vector<size_t> opens;
  std::vector<bool> has_comma;
  for (size_t i = 0; i < glob.size(); ++i) {
    const char c = glob[i];
    if (c == '\\') {
      ++i;
    } else if (c == '{') {
      opens.push_back(i);
      has_comma.push_back(false);
    } else if (c == ',' && !opens.empty()) {
      has_comma.back() = true;
    } else if (c == '}' && !opens.empty()) {
      const size_t at = opens.back();
      const bool comma = has_comma.back();
      opens.pop_back();
      has_comma.pop_back();
      if (comma && opens.empty()) {
        *open = at;
        *close = i;
        return true;
      }
    }
  }
  return false;
}

// The alternatives of the brace group between `open` and `close`, split at
// the commas of its own level.
std::vector<std::string_view> alternatives(std::string_view glob, size_t open, size_t close) {
  std::vector<std::string_view> out;
  size_t depth = 0;
  size_t start = open + 1;
  for (size_t i = open + 1; i < close; ++i) {
    const char c = glob[i];
    if (c == '\\') {
      ++i;
    } else if (c == '{') {
      ++depth;
    } else if (c == '}') {
      --depth;
    } else if (c == ',' && depth == 0) {
      out.push_back(glob.substr(start, i - start));
      start = i + 1;
    }
  }
  out.push_back(glob.substr(start, close - start));
  return out;
}

// Every glob that `glob`'s braces stand for, at most kMaxExpansions, each
// expanded left to right without recursion.
std::vector<std::string> expand_braces(std::string_view glob) {
  std::vector<std::string> done;
  std::vector<std::string> work{std::string(glob)};
  while (!work.empty() && done.size() < kMaxExpansions) {
    std::string g = std::move(work.back());
    work.pop_back();
    size_t open = 0, close = 0;
    if (!first_brace_group(g, &open, &close)) {
      done.push_back(std::move(g));
      continue;
    }
    const std::vector<std::string_view> alts = alternatives(g, open, close);
    // Pushed in reverse so that they come out in order.
    for (size_t k = alts.size(); k-- > 0 && work.size() < kMaxExpansions;) {
      std::string e = g.substr(0, open);
      e.append(alts[k]);
      e.append(g, close + 1);
      work.push_back(std::move(e));
    }
  }
  return done;
}

// Appends the ignore rule for one expanded glob to `text`; counts it in
// `selecting` when it selects. A glob holding a line break would be two
// rules and is dropped.
void append_rule(std::string &text, std::string_view glob, int32_t *selecting) {
  if (glob.find_first_of("\r\n") != std::string_view::npos) return;
  if (!glob.empty() && glob[0] == '!') {
    glob.remove_prefix(1);
    if (glob.empty()) return;
    // A rule may not start with these unescaped.
    if (glob[0] == '#' || glob[0] == '!') text.push_back('\\');
  } else {
    if (glob.empty()) return;
    text.push_back('!');
    ++*selecting;
  }
  text.append(glob);
  // Trailing spaces would be dropped from a rule; escaped, they stay.
  if (glob.back() == ' ') text.insert(text.size() - 1, 1, '\\');
  text.push_back('\n');
}

}  // namespace

bool path_globs_load(searcher *s) {
  s->path_rules = nullptr;
  s->path_selecting = 0;
  if (s->opts->path_glob_count == 0) return true;
  std::string text;
  for (int32_t i = 0; i < s->opts->path_glob_count; ++i) {
    for (const std::string &g : expand_braces(s->opts->path_globs[i])) {
      append_rule(text, g, &s->path_selecting);
    }
  }
  s->path_rules = ignore_rules_new();
  if (s->path_rules == nullptr || !ignore_rules_add_text(s->path_rules, text.data(), text.size())) {
    qg_fail(GREP_E_NO_MEMORY, "Out of memory reading the path globs");
    return false;
  }
  return true;
}

void path_globs_free(searcher *s) {
  ignore_rules_free(s->path_rules);
  s->path_rules = nullptr;
}

path_glob_verdict path_globs_judge(const searcher *s, bool is_dir) {
  if (s->path_rules == nullptr || s->frame_count == 0) return PATH_GLOB_NONE;
  const size_t root_len = s->frames[0].path_len;
  const char *rel = s->path + root_len + 1;
  const size_t rel_len = s->path_len - root_len - 1;
  switch (ignore_rules_match(s->path_rules, rel, rel_len, plat_path_separator(), is_dir)) {
    case IGNORE_INCLUDE:
      return PATH_GLOB_SELECTED;
    case IGNORE_EXCLUDE:
      return PATH_GLOB_EXCLUDED;
    case IGNORE_NO_MATCH:
      break;
  }
  return !is_dir && s->path_selecting > 0 ? PATH_GLOB_EXCLUDED : PATH_GLOB_NONE;
}
