#include "console.h"

#include <windows.h>
// After windows.h, whose types it uses.
#include <shellapi.h>

#include <fcntl.h>
#include <io.h>

#include <cerrno>
#include <cstdlib>
#include <string>
#include <vector>

namespace qg_cli {

namespace {

// The UTF-16 text `wide` in UTF-8; empty for an empty text.
std::string narrow(const wchar_t *wide) {
  const int bytes = WideCharToMultiByte(CP_UTF8, 0, wide, -1, nullptr, 0, nullptr, nullptr);
  if (bytes <= 1) return std::string();
  std::string out(static_cast<size_t>(bytes), '\0');
  WideCharToMultiByte(CP_UTF8, 0, wide, -1, out.data(), bytes, nullptr, nullptr);
  out.pop_back();  // the terminator
  return out;
}

// The UTF-8 text `text` in UTF-16; false for bytes that are not UTF-8.
bool widen(const char *text, std::wstring &out) {
  const int units = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text, -1, nullptr, 0);
  if (units <= 0) return false;
  out.assign(static_cast<size_t>(units), L'\0');
  MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text, -1, out.data(), units);
  out.pop_back();  // the terminator
  return true;
}

UINT g_saved_output_cp = 0;

void restore_console() {
  if (g_saved_output_cp != 0) SetConsoleOutputCP(g_saved_output_cp);
}

}  // namespace

// main() gets its arguments in the process's code page, which cannot name
// every file; the wide command line can, and is converted here.
bool utf8_arguments(int &argc, char **&argv) {
  int count = 0;
  LPWSTR *wide = CommandLineToArgvW(GetCommandLineW(), &count);
  if (wide == nullptr) return false;
  static std::vector<std::string> texts;
  static std::vector<char *> pointers;
  texts.clear();
  for (int i = 0; i < count; ++i) texts.push_back(narrow(wide[i]));
  LocalFree(wide);
  pointers.clear();
  for (std::string &t : texts) pointers.push_back(t.data());
  pointers.push_back(nullptr);
  argc = count;
  argv = pointers.data();
  return true;
}

void prepare_console() {
  if (!_isatty(_fileno(stdout)) || g_saved_output_cp != 0) return;
  g_saved_output_cp = GetConsoleOutputCP();
  SetConsoleOutputCP(CP_UTF8);
  std::atexit(restore_console);
}

std::FILE *open_for_reading(const char *name) {
  std::wstring wide;
  if (!widen(name, wide)) {
    errno = EILSEQ;
    return nullptr;
  }
  return _wfopen(wide.c_str(), L"rb");
}

bool is_terminal(std::FILE *stream) { return _isatty(_fileno(stream)) != 0; }

bool stdin_has_input() {
  const DWORD type = GetFileType(GetStdHandle(STD_INPUT_HANDLE));
  return type == FILE_TYPE_PIPE || type == FILE_TYPE_DISK;
}

std::FILE *binary_stdin() {
  _setmode(_fileno(stdin), _O_BINARY);
  return stdin;
}

}  // namespace qg_cli
