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
