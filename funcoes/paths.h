// The path rules, written once: which characters delimit folders, where a
// path's drive, folder and name lie, and whether it depends on a current
// folder. Pure text: nothing here asks the file system.
#pragma once

#include <cstddef>
#include <string>

#ifdef _WIN32
constexpr char16_t PathDelim = u'\\';
#else
constexpr char16_t PathDelim = u'/';
#endif

// Whether path[index] is PathDelim, the delimiter this program writes. Only
// that one: where a path only needs a delimiter at its end, a "/" that Windows
// would also read does not count as one.
bool IsPathDelimiter(const std::u16string& path, size_t index);

// path with PathDelim appended unless it already ends in it; an empty path
// becomes PathDelim alone.
std::u16string IncludeTrailingPathDelimiter(const std::u16string& path);

// Whether the system reads c as the end of a folder's name in a path:
// PathDelim, and on Windows "/" as well.
bool IsFolderSeparator(char16_t c);

// The drive of a full path: "C:" for "C:\dir", "\\server\share" for a network
// path; empty when the path has none, and always on POSIX, whose one root has no drive.
std::u16string ExtractFileDrive(const std::u16string& path);

// The path up to and including its last separator (on Windows also a drive's
// colon): "/a/b" -> "/a/", "C:x" -> "C:"; empty when there is none.
std::u16string ExtractFilePath(const std::u16string& path);

// The path after its last separator or drive colon; the whole path without one.
std::u16string ExtractFileName(const std::u16string& path);

// The folder that holds the path's last part: ExtractFilePath without the
// separators it ends in, except a root's: "/a/b" -> "/a", "/a" -> "/",
// "C:\a" -> "C:\". A root is its own folder.
std::u16string ExtractFileDir(const std::u16string& path);

// Whether the path stands on its own, not relative to a current folder or
// drive: POSIX "/..."; Windows "X:\..." or "\\server\...".
bool IsFullPath(const std::u16string& path);
