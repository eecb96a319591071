#include <windows.h>

#include "platform/process.h"

namespace platform {

namespace {

std::u16string U(const wchar_t* s, size_t length) { return std::u16string(reinterpret_cast<const char16_t*>(s), length); }

std::u16string FolderOf(const std::u16string& path) {
  const size_t slash = path.find_last_of(u"\\/");
  return slash == std::u16string::npos ? std::u16string() : path.substr(0, slash);
}

}  // namespace

std::u16string ExecutableFolder() {
  std::wstring buffer(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length = GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (length == 0) return {};
    if (length < buffer.size()) return FolderOf(U(buffer.data(), length));
    buffer.resize(buffer.size() * 2);
  }
}

}  // namespace platform
