// Test helpers around the stand-in child program (tests/core/helpers/child.cpp)
// and the process state a program search depends on.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#endif

#include "platform/process.h"
#include "platform/text.h"
#include "tempdir.h"

namespace testsupport {

// The stand-in child, built beside the core test programs; programs built
// elsewhere are told where it is.
inline fs::path ChildHelperPath() {
#ifdef TARNVEL_TEST_CHILD
  return fs::path(TARNVEL_TEST_CHILD);
#else
  return fs::path(platform::ExecutableFolder()) / fs::path(platform::ProgramFileName(u"tarnvel_test_child"));
#endif
}

// A copy of a program (the stand-in child unless told) as robocopy in a
// folder, removed at the end.
class PlacedRobocopy {
 public:
  explicit PlacedRobocopy(const fs::path& folder, const fs::path& program = ChildHelperPath())
      : path_(folder / fs::path(platform::ProgramFileName(u"robocopy"))) {
    // Removed first: MinGW's copy_file takes any two files for the same one
    // (its file ids are all zero) and refuses to overwrite.
    fs::remove(path_);
    fs::copy_file(program, path_);
  }
  ~PlacedRobocopy() {
    std::error_code ec;
    fs::remove(path_, ec);
  }
  PlacedRobocopy(const PlacedRobocopy&) = delete;
  PlacedRobocopy& operator=(const PlacedRobocopy&) = delete;
  const fs::path& path() const { return path_; }

 private:
  fs::path path_;
};

// The lines of a UTF-8 file as UTF-16 strings.
inline std::vector<std::u16string> ReadLines(const fs::path& p) {
  std::vector<std::u16string> lines;
  std::istringstream in(ReadFile(p));
  for (std::string line; std::getline(in, line);) lines.push_back(platform::FromUtf8(line));
  return lines;
}

// Sets PATH for the life of the object.
class ScopedPath {
 public:
  explicit ScopedPath(const std::u16string& value) {
#ifdef _WIN32
    wchar_t buffer[32767];
    const DWORD length = GetEnvironmentVariableW(L"PATH", buffer, 32767);
    if (length > 0 && length < 32767) old_ = std::u16string(reinterpret_cast<const char16_t*>(buffer), length);
#else
    if (const char* old = std::getenv("PATH")) old_ = platform::FromUtf8(old);
#endif
    Set(value);
  }
  ~ScopedPath() { Set(old_); }
  ScopedPath(const ScopedPath&) = delete;
  ScopedPath& operator=(const ScopedPath&) = delete;

 private:
  static void Set(const std::optional<std::u16string>& value) {
#ifdef _WIN32
    SetEnvironmentVariableW(L"PATH", value ? reinterpret_cast<const wchar_t*>(value->c_str()) : nullptr);
#else
    if (value)
      setenv("PATH", platform::ToUtf8(*value).c_str(), 1);
    else
      unsetenv("PATH");
#endif
  }
  std::optional<std::u16string> old_;
};

// Makes a folder current for the life of the object.
class ScopedCurrentFolder {
 public:
  explicit ScopedCurrentFolder(const fs::path& folder) : old_(fs::current_path()) { fs::current_path(folder); }
  ~ScopedCurrentFolder() { fs::current_path(old_); }
  ScopedCurrentFolder(const ScopedCurrentFolder&) = delete;
  ScopedCurrentFolder& operator=(const ScopedCurrentFolder&) = delete;

 private:
  fs::path old_;
};

// Waits for the child to end, in passes of at most 10 ms as the runner does.
inline void WaitForEnd(platform::ChildProcess& child) {
  while (!child.Wait(10)) {
  }
}

}  // namespace testsupport
