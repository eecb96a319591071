// Folder queries and creation.
#pragma once

#include <string>

namespace platform {

// True for an existing folder (a link counts when its target is a folder),
// false for a file or when the system says the path is missing or malformed,
// true when the system refuses to tell for any other reason.
bool PathIsDirectory(const std::u16string& path);

// Creates one folder whose parent exists. False when the system refuses.
bool MakeDirectory(const std::u16string& path);

// Whether the folder could be entered (made the current folder), without
// entering it: 0 when it can, otherwise the Windows error code: 2 a missing
// folder whose parent exists, 3 a missing parent or malformed path, 5 access
// denied, 267 a file that is not a folder, others as the system reports them.
int DirectoryEntryError(const std::u16string& path);

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
