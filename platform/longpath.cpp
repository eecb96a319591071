#include "platform/longpath.h"

namespace platform {

std::u16string ExtendedLengthForm(const std::u16string& fullPath) {
  const auto startsWith = [&](const char16_t* prefix) { return fullPath.rfind(prefix, 0) == 0; };
  if (startsWith(u"\\\\?\\") || startsWith(u"\\\\.\\") || startsWith(u"\\??\\")) return fullPath;
  const bool drive = fullPath.size() >= 3 &&
                     ((fullPath[0] >= u'A' && fullPath[0] <= u'Z') || (fullPath[0] >= u'a' && fullPath[0] <= u'z')) &&
                     fullPath[1] == u':' && fullPath[2] == u'\\';
  if (drive) return u"\\\\?\\" + fullPath;
  // "\\server\share": a server name must follow the two delimiters.
  if (fullPath.size() >= 3 && startsWith(u"\\\\") && fullPath[2] != u'\\') return u"\\\\?\\UNC\\" + fullPath.substr(2);
  return fullPath;
}

}  // namespace platform
