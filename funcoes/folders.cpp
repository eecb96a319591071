#include "funcoes/exceptions.h"
#include "funcoes/funcoes.h"
#include "platform/fs.h"

namespace {

bool IsDelimiter(char16_t c) {
#ifdef _WIN32
  return c == u'\\' || c == u'/';
#else
  return c == u'/';
#endif
}

WideString WithoutTrailingDelimiters(WideString path) {
  while (!path.empty() && IsDelimiter(path.back())) path.pop_back();
  return path;
}

// The part before the last delimiter, or empty when there is none.
WideString ParentOf(const WideString& path) {
  const auto pos = path.find_last_of(
#ifdef _WIN32
      u"\\/:"
#else
      u"/"
#endif
  );
  if (pos == WideString::npos) return WideString();
  return path.substr(0, pos + 1);
}

}  // namespace

bool DirectoryExists(const WideString& path) { return !path.empty() && platform::PathIsDirectory(path); }

bool FileExists(const WideString& path) { return !path.empty() && platform::PathIsFile(path); }

bool ForceDirectories(const WideString& path) {
  if (path.empty()) throw EInOutError("Unable to create directory", 0);
  const WideString dir = WithoutTrailingDelimiters(path);
  // A path of delimiters alone is the file system's root.
  if (dir.empty() || DirectoryExists(dir)) return true;
#ifdef _WIN32
  if (dir.size() == 2 && dir[1] == u':') return DirectoryExists(dir + u"\\");  // a drive
#endif
  const WideString parent = ParentOf(dir);
  if (!parent.empty() && parent != dir && !ForceDirectories(parent)) return false;
  return platform::MakeDirectory(dir) || DirectoryExists(dir);
}

WideString ExtractFileDrive(const WideString& path) {
#ifdef _WIN32
  if (path.size() >= 2 && path[1] == u':') return path.substr(0, 2);
  if (path.size() >= 2 && IsDelimiter(path[0]) && IsDelimiter(path[1])) {
    // Two delimiters, the server, one delimiter, the share.
    size_t end = 2;
    while (end < path.size() && !IsDelimiter(path[end])) ++end;
    if (end < path.size()) ++end;
    while (end < path.size() && !IsDelimiter(path[end])) ++end;
    return path.substr(0, end);
  }
#else
  (void)path;
#endif
  return WideString();
}
