#include "support/test_os.h"

#include "support/temp_files.h"

#include <windows.h>
#include <winioctl.h>

#include <errno.h>
#include <stdio.h>
#include <string.h>

#include <filesystem>

namespace qg_test {

bool make_fifo(const std::string &) { return false; }  // named pipes live in \\.\pipe\ only

namespace {

bool exists(const std::wstring &name) {
  return GetFileAttributesW(name.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// The reparse data of a junction (a mount point), which Windows lets any user
// make: the target in the \??\ form, then the name to show.
struct mount_point_buffer {
  DWORD tag;
  WORD data_length;
  WORD reserved;
  WORD substitute_offset;
  WORD substitute_length;
  WORD print_offset;
  WORD print_length;
  WCHAR names[1024];
};

// Makes the empty directory `link` a junction to the absolute path `target`.
bool make_junction(const std::wstring &target, const std::wstring &link) {
  const std::wstring substitute = L"\\??\\" + target;
  mount_point_buffer b{};
  const size_t sub_bytes = substitute.size() * sizeof(WCHAR);
  const size_t print_bytes = target.size() * sizeof(WCHAR);
  if (substitute.size() + target.size() + 2 > 1024) return false;
  b.tag = IO_REPARSE_TAG_MOUNT_POINT;
  b.substitute_length = static_cast<WORD>(sub_bytes);
  b.print_offset = static_cast<WORD>(sub_bytes + sizeof(WCHAR));
  b.print_length = static_cast<WORD>(print_bytes);
  memcpy(b.names, substitute.c_str(), sub_bytes + sizeof(WCHAR));
  memcpy(b.names + substitute.size() + 1, target.c_str(), print_bytes + sizeof(WCHAR));
  b.data_length = static_cast<WORD>(4 * sizeof(WORD) + sub_bytes + print_bytes + 2 * sizeof(WCHAR));
  if (!CreateDirectoryW(link.c_str(), nullptr)) return false;
  const HANDLE h = CreateFileW(link.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                               FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  DWORD returned = 0;
  const bool ok = h != INVALID_HANDLE_VALUE &&
                  DeviceIoControl(h, FSCTL_SET_REPARSE_POINT, &b, 8 + b.data_length, nullptr, 0,
                                  &returned, nullptr) != 0;
  if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
  if (!ok) RemoveDirectoryW(link.c_str());
  return ok;
}

}  // namespace

bool make_dir_link(const std::string &target, const std::string &link) {
  const std::wstring from = from_utf8(link).wstring();
  const std::wstring to = std::filesystem::absolute(from_utf8(target)).wstring();
  // A symbolic link needs a privilege or developer mode; some systems report
  // success without making one, so the link is looked for afterwards.
  if (CreateSymbolicLinkW(
          from.c_str(), to.c_str(),
          SYMBOLIC_LINK_FLAG_DIRECTORY | SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE) != 0 &&
      exists(from)) {
    return true;
  }
  return make_junction(to, from);
}

void run_on_stack(size_t bytes, void (*fn)(void *), void *arg) {
  struct call {
    void (*fn)(void *);
    void *arg;
  } c{fn, arg};
  auto body = [](LPVOID p) -> DWORD {
    auto *x = static_cast<call *>(p);
    x->fn(x->arg);
    return 0;
  };
  HANDLE h = CreateThread(nullptr, bytes, body, &c, STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr);
  if (h == nullptr) return;
  WaitForSingleObject(h, INFINITE);
  CloseHandle(h);
}

int os_read(plat_file file, void *buf, size_t n, size_t *got) {
  DWORD read = 0;
  *got = 0;
  if (!ReadFile(reinterpret_cast<HANDLE>(file.handle), buf, static_cast<DWORD>(n), &read,
                nullptr)) {
    return EIO;
  }
  *got = read;
  return 0;
}

bool set_read_only(const std::string &path, bool read_only) {
  const std::wstring name = from_utf8(path).wstring();
  const DWORD attributes = GetFileAttributesW(name.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return false;
  const DWORD wanted = read_only ? (attributes | FILE_ATTRIBUTE_READONLY)
                                 : (attributes & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY));
  return SetFileAttributesW(name.c_str(), wanted) != 0;
}

bool names_are_bytes() { return false; }

bool read_only_is_enforced() { return true; }

// The working set's peak cannot be started afresh.
bool peak_memory_reset() { return false; }
size_t peak_resident_bytes() { return 0; }
size_t resident_bytes() { return 0; }

}  // namespace qg_test
