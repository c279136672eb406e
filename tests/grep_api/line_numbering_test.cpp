// Reading, searching and editing number a file's lines the same way, whatever
// mix of CR LF, lone CR and LF ends them: a host that reads line N and then
// replaces line N changes exactly the line it read.
#include "quenmar_grep.h"
#include "support/temp_files.h"

#include <gtest/gtest.h>
#include <yyjson.h>

#include <string.h>

#include <string>
#include <vector>

namespace {

// "N: text\n" rows of grep_read_lines, as (number, text) pairs in order.
std::vector<std::pair<int, std::string>> read_rows(const std::string &path) {
  std::string text = grep_read_lines(path.c_str(), 0, 0);
  std::vector<std::pair<int, std::string>> rows;
  size_t at = 0;
  while (at < text.size()) {
    size_t colon = text.find(": ", at);
    size_t lf = text.find('\n', colon);
    rows.emplace_back(std::stoi(text.substr(at, colon - at)),
                      text.substr(colon + 2, lf - colon - 2));
    at = lf + 1;
  }
  return rows;
}

// Every line as the search reports it: the empty pattern matches each line.
std::vector<std::pair<int, std::string>> search_rows(const std::string &path) {
  const char *json = grep_search_json(path.c_str(), "", "{\"regex\":true}");
  yyjson_doc *doc = yyjson_read(json, strlen(json), 0);
  std::vector<std::pair<int, std::string>> rows;
  yyjson_val *match;
  size_t idx, max;
  yyjson_arr_foreach(yyjson_obj_get(yyjson_doc_get_root(doc), "matches"), idx, max, match) {
    rows.emplace_back(static_cast<int>(yyjson_get_int(yyjson_obj_get(match, "line"))),
                      yyjson_get_str(yyjson_obj_get(match, "text")));
  }
  yyjson_doc_free(doc);
  return rows;
}

// Every file of up to three lines whose texts are empty or "tN" and whose
// endings are LF, CR LF or a lone CR (the last line may have none), so that
// runs such as CR CR LF and LF CR arise between lines.
std::vector<std::string> ending_mixes() {
  const char *endings[] = {"\n", "\r\n", "\r", ""};
  std::vector<std::string> files = {""};
  std::vector<std::string> open = {""};  // files whose last line has an ending
  for (int line = 1; line <= 3; ++line) {
    std::vector<std::string> next;
    for (const std::string &prefix : open) {
      for (const std::string &text : {std::string(), "t" + std::to_string(line)}) {
        for (const char *ending : endings) {
          std::string file = prefix + text + ending;
          if (file.empty()) continue;
          files.push_back(file);
          if (*ending != '\0') next.push_back(file);
        }
      }
    }
    open = next;
  }
  return files;
}

TEST(LineNumbering, ReadSearchAndEditAgreeOnEveryEndingMix) {
  qg_test::TempDir dir;
  const std::vector<std::string> files = ending_mixes();
  ASSERT_GT(files.size(), 200u);
  int k = 0;
  for (const std::string &bytes : files) {
    SCOPED_TRACE(testing::PrintToString(bytes));
    std::string path = dir.write("mix.txt", bytes);
    const auto read = read_rows(path);
    ASSERT_EQ(search_rows(path), read);
    for (size_t i = 0; i < read.size(); ++i) ASSERT_EQ(read[i].first, static_cast<int>(i) + 1);
    if (read.empty()) continue;

    // Replace the line that the reader numbers `line`; only it changes.
    const int line = 1 + (k++ % static_cast<int>(read.size()));
    ASSERT_EQ(grep_replace_lines(path.c_str(), line, line, "EDIT"), 0) << grep_last_error();
    auto expected = read;
    expected[static_cast<size_t>(line) - 1].second = "EDIT";
    EXPECT_EQ(read_rows(path), expected) << "edited line " << line;
  }
}

}  // namespace
