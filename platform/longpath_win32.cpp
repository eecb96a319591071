#include <windows.h>

#include "platform/longpath.h"

namespace platform {

std::u16string ApiPath(const std::u16string& path) {
  if (path.empty()) return path;
  const auto* in = reinterpret_cast<const wchar_t*>(path.c_str());
  std::u16string full(path.size() + MAX_PATH, u'\0');
  for (;;) {
    const DWORD length =
        GetFullPathNameW(in, static_cast<DWORD>(full.size()), reinterpret_cast<wchar_t*>(full.data()), nullptr);
    if (length == 0) return path;
    if (length < full.size()) {
      full.resize(length);
      return ExtendedLengthForm(full);
    }
    full.resize(length);  // the size needed, terminating zero included
  }
}

}  // namespace platform
