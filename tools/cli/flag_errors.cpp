#include "flag_errors.h"

#include "messages.h"

#include <algorithm>
#include <vector>

namespace qg_cli {

namespace {

// Levenshtein distance, in two rows.
size_t edit_distance(const std::string &a, const std::string &b) {
  std::vector<size_t> prev(b.size() + 1), cur(b.size() + 1);
  for (size_t j = 0; j <= b.size(); ++j) prev[j] = j;
  for (size_t i = 1; i <= a.size(); ++i) {
    cur[0] = i;
    for (size_t j = 1; j <= b.size(); ++j) {
      const size_t swap = prev[j - 1] + (a[i - 1] == b[j - 1] ? 0 : 1);
      cur[j] = std::min({prev[j] + 1, cur[j - 1] + 1, swap});
    }
    std::swap(prev, cur);
  }
  return prev[b.size()];
}

// Every spelling of every flag of `cmd`: "--max-count", "-m", ...
std::vector<std::string> flag_spellings(const CLI::App &cmd) {
  std::vector<std::string> out;
  for (const CLI::Option *opt : cmd.get_options()) {
    for (const std::string &name : opt->get_lnames()) out.push_back("--" + name);
    for (const std::string &name : opt->get_snames()) out.push_back("-" + name);
  }
  return out;
}

}  // namespace

std::string nearest_flag(const CLI::App &cmd, const std::string &given) {
  // "--max-count=3" is judged by its name. Every one-letter flag is one edit
  // from every other, so an unknown one is offered none: only long names
  // are compared, with long names.
  const std::string name = given.substr(0, given.find('='));
  if (name.size() < 3 || name.compare(0, 2, "--") != 0) return {};
  std::string best;
  size_t best_distance = 0;
  for (const std::string &flag : flag_spellings(cmd)) {
    if (flag.compare(0, 2, "--") != 0) continue;
    const size_t d = edit_distance(name, flag);
    if (best.empty() || d < best_distance) {
      best = flag;
      best_distance = d;
    }
  }
  // Near enough: a third of the name may differ, and always two edits.
  const size_t allowed = std::max<size_t>(2, name.size() / 3);
  return best_distance <= allowed ? best : std::string();
}

bool no_leftovers(const CLI::App &cmd) {
  std::vector<std::string> left = cmd.remaining();
  // The "--" that ends the flags is kept among them; it is no argument.
  left.erase(std::remove(left.begin(), left.end(), "--"), left.end());
  if (left.empty()) return true;
  const std::string &first = left.front();
  if (first.size() > 1 && first[0] == '-') {
    const std::string near = nearest_flag(cmd, first);
    std::string message = "unknown flag '" + first + "'";
    if (!near.empty()) message += "; did you mean '" + near + "'?";
    message += " (see quenmar-grep " + cmd.get_name() + " --help)";
    fail_with(message);
    return false;
  }
  fail_with("unexpected argument '" + first + "' (see quenmar-grep " + cmd.get_name() +
            " --help)");
  return false;
}

}  // namespace qg_cli
