// What the Windows files of this layer share: the text handed to and taken from
// the wide calls, a handle that closes itself, and the open of a file or folder
// only to ask about it. Included by *_win32.cpp only.
#pragma once

#include <windows.h>

#include <cstddef>
#include <string>

namespace platform {

// char16_t and wchar_t hold the same UTF-16 code units on Windows.
inline const wchar_t* W(const std::u16string& s) { return reinterpret_cast<const wchar_t*>(s.c_str()); }
inline wchar_t* W(std::u16string& s) { return reinterpret_cast<wchar_t*>(s.data()); }
inline std::u16string U(const wchar_t* s, size_t length) {
  return std::u16string(reinterpret_cast<const char16_t*>(s), length);
}
inline std::u16string U(const wchar_t* s) { return std::u16string(reinterpret_cast<const char16_t*>(s)); }

// A handle closed when its holder goes; none, or INVALID_HANDLE_VALUE, is not closed.
struct OwnedHandle {
  HANDLE handle = nullptr;

  OwnedHandle() = default;
  explicit OwnedHandle(HANDLE h) : handle(h) {}
  OwnedHandle(const OwnedHandle&) = delete;
  OwnedHandle& operator=(const OwnedHandle&) = delete;
  ~OwnedHandle() {
    if (Valid()) CloseHandle(handle);
  }
  bool Valid() const { return handle && handle != INVALID_HANDLE_VALUE; }
};

// Opens an existing file or folder (a folder opens only with backup semantics)
// for access alone, 0 to read its facts, links followed, every kind of sharing
// allowed so that no other program's use of it is disturbed. The path is passed
// as given. Not Valid when the system refuses; GetLastError says why.
inline OwnedHandle OpenToQuery(const std::u16string& path, DWORD access = 0) {
  return OwnedHandle(CreateFileW(W(path), access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                 OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
}

}  // namespace platform
