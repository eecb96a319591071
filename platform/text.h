// UTF-8 <-> UTF-16 conversion and ASCII-only letter case helpers.
#pragma once

#include <optional>
#include <string>

namespace platform {

std::string ToUtf8(const std::u16string& text);
std::u16string FromUtf8(const std::string& text);
// A path as the system takes it; nothing when it holds a NUL, which the
// system would read as its end, so that a shortened path is never used.
std::optional<std::string> PathToUtf8(const std::u16string& path);

// Maps 'a'..'z' to 'A'..'Z' and nothing else.
std::u16string AsciiUpper(std::u16string text);
bool SameTextAscii(const std::u16string& a, const std::u16string& b);

// The format with its one "%s" replaced by name.
std::u16string FormatWithName(const char* format, const std::u16string& name);

}  // namespace platform
