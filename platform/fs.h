// Folder queries, creation and listing.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

namespace platform {

// True for an existing folder (a link counts when its target is a folder),
// false for a file or when the system says the path is missing or malformed,
// true when the system refuses to tell for any other reason.
bool PathIsDirectory(const std::u16string& path);

// True for an existing entry that is not a folder (a link counts by its target).
bool PathIsFile(const std::u16string& path);

// Whether the system marks the entry hidden, as the mirror tool sees it: a
// name that begins with a dot on POSIX, the hidden attribute on Windows.
bool PathIsHidden(const std::u16string& path);

// Creates one folder whose parent exists. False when the system refuses.
bool MakeDirectory(const std::u16string& path);

// Whether the folder could be entered (made the current folder), without
// entering it: 0 when it can, otherwise a code of platform/errors.h:
// ErrorFileNotFound a missing folder whose parent exists, ErrorPathNotFound a
// missing parent or malformed path, ErrorAccessDenied, ErrorDirectory a file
// that is not a folder, others as the system reports them.
int DirectoryEntryError(const std::u16string& path);

// Whether an existing folder is where a file system is mounted: the root of a
// mounted disk, a bind mount, or the system's root; on Windows a volume's root
// (a drive letter's root, or a volume mounted on a folder). False for a missing
// path, or when the system does not tell.
bool IsMountPoint(const std::u16string& path);

// Whether a file is still being written, as far as the system tells.
enum class FileWriter : std::uint8_t { Closed, Open, Unknown };

struct FileActivity {
  // Open while some process has the file open for writing; Unknown where the
  // system does not say (a file of another user, a network share).
  FileWriter writer = FileWriter::Unknown;
  // Since its contents or its entry last changed (the later of the two);
  // empty when the file cannot be read.
  std::optional<std::chrono::nanoseconds> sinceChange;
};

// What the system tells of a file's writer and its last change. Holds up no
// writer: a probe that a writer's open would wait on is given up at once.
FileActivity FileActivityOf(const std::u16string& path);

// What tells two folders apart on one machine, links resolved.
struct FolderId {
  uint64_t volume = 0;
  uint64_t index = 0;
  bool operator==(const FolderId&) const = default;
};

// The identity of an existing folder, links followed; empty when the path is
// no folder or the system does not tell.
std::optional<FolderId> FolderIdOf(const std::u16string& path);

struct FolderEntry {
  std::u16string name;
  bool isFolder = false;  // links to folders included
  int64_t size = 0;       // 0 for a folder
};

// The entries of one folder, in the order the file system returns them,
// "." and ".." included, nothing filtered. Closed when destroyed.
class FolderListing {
 public:
  // folder ends with the path delimiter.
  explicit FolderListing(const std::u16string& folder);
  ~FolderListing();
  FolderListing(const FolderListing&) = delete;
  FolderListing& operator=(const FolderListing&) = delete;

  // False when the folder is missing, is not a folder or may not be read.
  bool IsOpen() const;
  // The listed folder's identity; empty when the system does not tell.
  std::optional<FolderId> Id() const;
  // The next entry; false at the end.
  bool Next(FolderEntry& entry);

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace platform

namespace platform {

// The path with every link followed, as the system names the final object
// (POSIX realpath; Windows the final path of an opened handle, in drive-letter
// form). The path unchanged when the system cannot resolve it.
std::u16string ResolvedPath(const std::u16string& path);

// Whether two path texts name the same entry by the file system's comparison
// of names: exact on POSIX, letter case ignored on Windows.
bool SamePathName(const std::u16string& a, const std::u16string& b);

}  // namespace platform
