#include "funcoes/exceptions.h"
#include "funcoes/funcoes.h"
#include "platform/fs.h"

namespace {

WideString WithoutTrailingSeparators(WideString path) {
  while (!path.empty() && IsFolderSeparator(path.back())) path.pop_back();
  return path;
}

}  // namespace

bool DirectoryExists(const WideString& path) { return !path.empty() && platform::PathIsDirectory(path); }

bool FileExists(const WideString& path) { return !path.empty() && platform::PathIsFile(path); }

bool ForceDirectories(const WideString& path) {
  if (path.empty()) throw EInOutError("Unable to create directory", 0);
  const WideString dir = WithoutTrailingSeparators(path);
  // A path of delimiters alone is the file system's root.
  if (dir.empty() || DirectoryExists(dir)) return true;
#ifdef _WIN32
  if (dir.size() == 2 && dir[1] == u':') return DirectoryExists(dir + u"\\");  // a drive
#endif
  const WideString parent = ExtractFilePath(dir);
  if (!parent.empty() && parent != dir && !ForceDirectories(parent)) return false;
  return platform::MakeDirectory(dir) || DirectoryExists(dir);
}
