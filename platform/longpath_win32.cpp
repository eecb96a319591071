#include <windows.h>

#include "platform/longpath.h"
#include "platform/win32util.h"

namespace platform {

std::u16string ApiPath(const std::u16string& path) {
  if (path.empty()) return path;
  std::u16string full(path.size() + MAX_PATH, u'\0');
  for (;;) {
    const DWORD length = GetFullPathNameW(W(path), static_cast<DWORD>(full.size()), W(full), nullptr);
    if (length == 0) return path;
    if (length < full.size()) {
      full.resize(length);
      return ExtendedLengthForm(full);
    }
    full.resize(length);  // the size needed, terminating zero included
  }
}

}  // namespace platform
