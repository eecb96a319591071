#include "funcoes/paths.h"

namespace {

#ifdef _WIN32
constexpr bool Windows = true;
#else
constexpr bool Windows = false;
#endif

// Past the last separator or drive colon; 0 when there is none.
size_t NameStart(const std::u16string& path) {
  for (size_t i = path.size(); i > 0; --i)
    if (IsFolderSeparator(path[i - 1]) || (Windows && path[i - 1] == u':')) return i;
  return 0;
}

}  // namespace

bool IsPathDelimiter(const std::u16string& path, size_t index) {
  return index < path.size() && path[index] == PathDelim;
}

std::u16string IncludeTrailingPathDelimiter(const std::u16string& path) {
  return !path.empty() && IsPathDelimiter(path, path.size() - 1) ? path : path + PathDelim;
}

bool IsFolderSeparator(char16_t c) { return c == PathDelim || (Windows && c == u'/'); }

std::u16string ExtractFileDrive(const std::u16string& path) {
  if (!Windows) return {};
  if (path.size() >= 2 && path[1] == u':') return path.substr(0, 2);
  if (path.size() >= 2 && IsFolderSeparator(path[0]) && IsFolderSeparator(path[1])) {
    // Two separators, the server, one separator, the share.
    size_t end = 2;
    while (end < path.size() && !IsFolderSeparator(path[end])) ++end;
    if (end < path.size()) ++end;
    while (end < path.size() && !IsFolderSeparator(path[end])) ++end;
    return path.substr(0, end);
  }
  return {};
}

std::u16string ExtractFilePath(const std::u16string& path) { return path.substr(0, NameStart(path)); }

std::u16string ExtractFileName(const std::u16string& path) { return path.substr(NameStart(path)); }

std::u16string ExtractFileDir(const std::u16string& path) {
  std::u16string dir = ExtractFilePath(path);
  while (dir.size() > 1 && IsFolderSeparator(dir.back()) && !(Windows && dir[dir.size() - 2] == u':')) dir.pop_back();
  return dir;
}

bool IsFullPath(const std::u16string& path) {
  if (!Windows) return !path.empty() && path[0] == u'/';
  if (path.size() >= 3 && path[1] == u':' && IsFolderSeparator(path[2])) return true;
  return path.size() >= 2 && IsFolderSeparator(path[0]) && IsFolderSeparator(path[1]);
}
