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

}  // namespace platform
