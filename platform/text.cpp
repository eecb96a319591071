#include "platform/text.h"

#include <algorithm>

namespace platform {

std::string ToUtf8(const std::u16string& text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    char32_t c = text[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
      c = 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00);
      ++i;
    } else if (c >= 0xD800 && c <= 0xDFFF) {
      c = 0xFFFD;  // lone surrogate
    }
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else if (c < 0x800) {
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      out += static_cast<char>(0xE0 | (c >> 12));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (c >> 18));
      out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}

std::optional<std::string> PathToUtf8(const std::u16string& path) {
  if (path.find(u'\0') != std::u16string::npos) return std::nullopt;
  return ToUtf8(path);
}

// Strict decoding: an overlong form, a surrogate, a value past U+10FFFF or a
// cut-short sequence never yields a character; each maximal ill-formed part
// becomes one U+FFFD, so no two byte strings decode to the same "/" or NUL.
std::u16string FromUtf8(const std::string& text) {
  std::u16string out;
  out.reserve(text.size());
  size_t i = 0;
  while (i < text.size()) {
    const unsigned char b = static_cast<unsigned char>(text[i]);
    if (b < 0x80) {
      out += static_cast<char16_t>(b);
      ++i;
      continue;
    }
    // Continuation bytes: how many, and the range the first one must fall in.
    size_t need = 0;
    unsigned char low = 0x80, high = 0xBF;
    if (b >= 0xC2 && b <= 0xDF) {
      need = 1;
    } else if (b >= 0xE0 && b <= 0xEF) {
      need = 2;
      if (b == 0xE0) low = 0xA0;   // below: overlong
      if (b == 0xED) high = 0x9F;  // above: a surrogate
    } else if (b >= 0xF0 && b <= 0xF4) {
      need = 3;
      if (b == 0xF0) low = 0x90;   // below: overlong
      if (b == 0xF4) high = 0x8F;  // above: past U+10FFFF
    } else {
      out += u'\uFFFD';
      ++i;
      continue;
    }
    char32_t c = b & (0x7F >> (need + 1));
    size_t k = 1;
    for (; k <= need && i + k < text.size(); ++k) {
      const unsigned char cb = static_cast<unsigned char>(text[i + k]);
      if (cb < low || cb > high) break;
      c = (c << 6) | (cb & 0x3F);
      low = 0x80;
      high = 0xBF;
    }
    i += k;
    if (k <= need) {
      out += u'\uFFFD';
      continue;
    }
    if (c >= 0x10000) {
      c -= 0x10000;
      out += static_cast<char16_t>(0xD800 + (c >> 10));
      out += static_cast<char16_t>(0xDC00 + (c & 0x3FF));
    } else {
      out += static_cast<char16_t>(c);
    }
  }
  return out;
}

std::u16string AsciiUpper(std::u16string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](char16_t c) { return (c >= u'a' && c <= u'z') ? char16_t(c - 32) : c; });
  return text;
}

bool SameTextAscii(const std::u16string& a, const std::u16string& b) {
  return a.size() == b.size() && AsciiUpper(a) == AsciiUpper(b);
}

std::u16string FormatWithName(const char* format, const std::u16string& name) {
  std::u16string text = FromUtf8(format);
  const auto at = text.find(u"%s");
  if (at != std::u16string::npos) text.replace(at, 2, name);
  return text;
}

}  // namespace platform
