#include <cerrno>
#include <cstdlib>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include "platform/fs.h"
#include "platform/text.h"

namespace platform {

bool PathIsDirectory(const std::u16string& path) {
  struct stat st {};
  if (stat(ToUtf8(path).c_str(), &st) == 0) return S_ISDIR(st.st_mode);
  // Only "it is not there" means no; a refusal to tell means yes.
  switch (errno) {
    case ENOENT:
    case ENOTDIR:
    case ENAMETOOLONG:
    case ELOOP:
      return false;
    default:
      return true;
  }
}

bool MakeDirectory(const std::u16string& path) {
  return mkdir(ToUtf8(path).c_str(), 0777) == 0;
}

std::u16string ResolvedPath(const std::u16string& path) {
  char* resolved = realpath(ToUtf8(path).c_str(), nullptr);
  if (!resolved) return path;
  std::u16string result = FromUtf8(resolved);
  free(resolved);
  return result;
}

bool SamePathName(const std::u16string& a, const std::u16string& b) { return a == b; }

int DirectoryEntryError(const std::u16string& path) {
  const std::string native = ToUtf8(path);
  struct stat st {};
  if (stat(native.c_str(), &st) != 0) {
    switch (errno) {
      case EACCES:
        return 5;
      case ENOENT: {
        // A missing folder is "not found" when its parent is there, else the path is bad.
        const auto slash = native.find_last_of('/');
        const std::string parent = slash == std::string::npos ? "." : slash == 0 ? "/" : native.substr(0, slash);
        struct stat pst {};
        return stat(parent.c_str(), &pst) == 0 && S_ISDIR(pst.st_mode) ? 2 : 3;
      }
      default:
        return 3;
    }
  }
  if (!S_ISDIR(st.st_mode)) return 267;
  if (access(native.c_str(), X_OK) != 0) return errno == EACCES ? 5 : 3;
  return 0;
}

}  // namespace platform
