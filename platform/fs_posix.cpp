#include <cerrno>
#include <cstdlib>
#include <sys/stat.h>
#include <sys/types.h>

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

}  // namespace platform
