#include "file_types.h"

#include <cstdio>

namespace qg_cli {

const std::vector<file_type> &file_types() {
  static const std::vector<file_type> types = {
      {"asm", {"*.asm", "*.s", "*.S"}},
      {"c", {"*.c", "*.h", "*.H", "*.C"}},
      {"cmake", {"CMakeLists.txt", "*.cmake"}},
      {"cpp", {"*.C", "*.cc", "*.cpp", "*.cxx", "*.c++", "*.h", "*.H", "*.hh", "*.hpp", "*.hxx",
               "*.h++", "*.inl"}},
      {"cs", {"*.cs"}},
      {"css", {"*.css", "*.scss", "*.sass", "*.less"}},
      {"go", {"*.go"}},
      {"html", {"*.htm", "*.html"}},
      {"java", {"*.java"}},
      {"js", {"*.js", "*.jsx", "*.mjs", "*.cjs", "*.vue"}},
      {"json", {"*.json"}},
      {"kotlin", {"*.kt", "*.kts"}},
      {"lua", {"*.lua"}},
      {"make", {"Makefile", "makefile", "GNUmakefile", "*.mk", "*.mak"}},
      {"md", {"*.md", "*.markdown"}},
      {"php", {"*.php"}},
      {"py", {"*.py", "*.pyi"}},
      {"rb", {"*.rb", "Gemfile", "Rakefile"}},
      {"rust", {"*.rs"}},
      {"sh", {"*.sh", "*.bash", "*.zsh"}},
      {"sql", {"*.sql"}},
      {"swift", {"*.swift"}},
      {"toml", {"*.toml"}},
      {"ts", {"*.ts", "*.tsx", "*.mts", "*.cts"}},
      {"txt", {"*.txt"}},
      {"xml", {"*.xml"}},
      {"yaml", {"*.yaml", "*.yml"}},
  };
  return types;
}

const file_type *find_file_type(std::string_view name) {
  for (const file_type &t : file_types()) {
    if (t.name == name) return &t;
  }
  return nullptr;
}

void print_file_types() {
  for (const file_type &t : file_types()) {
    std::printf("%.*s:", static_cast<int>(t.name.size()), t.name.data());
    const char *sep = " ";
    for (std::string_view g : t.globs) {
      std::printf("%s%.*s", sep, static_cast<int>(g.size()), g.data());
      sep = ", ";
    }
    std::fputc('\n', stdout);
  }
}

}  // namespace qg_cli
