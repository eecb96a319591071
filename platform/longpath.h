// The form of a path that the Windows file calls take without the 260-character
// limit: "\\?\C:\..." and "\\?\UNC\server\share\...". Such a path is passed to
// the system as it is, so it must already be full and normalized.
#pragma once

#include <string>

namespace platform {

// fullPath in the extended-length form: a drive path gets "\\?\", a UNC path
// "\\server\share" becomes "\\?\UNC\server\share". A path already in that form
// or naming a device ("\\.\") is returned unchanged, and so is anything that is
// not a full path with backslashes (relative, drive-relative, rooted without a
// drive): only a full path can safely skip the system's own normalization.
std::u16string ExtendedLengthForm(const std::u16string& fullPath);

#ifdef _WIN32
// What the file calls get: path made full by the system's rules (current
// folder, "." and "..", "/" as a delimiter, trailing dots and blanks) and then
// put in the extended-length form. path unchanged when the system cannot make
// it full (an empty path, for one).
std::u16string ApiPath(const std::u16string& path);
#endif

}  // namespace platform
