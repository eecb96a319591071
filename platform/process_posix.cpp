#include <unistd.h>

#include "platform/process.h"
#include "platform/text.h"

namespace platform {

std::u16string ExecutableFolder() {
  std::string buffer(4096, '\0');
  const ssize_t length = readlink("/proc/self/exe", buffer.data(), buffer.size());
  if (length <= 0) return {};
  buffer.resize(static_cast<size_t>(length));
  const size_t slash = buffer.rfind('/');
  return FromUtf8(slash == 0 ? std::string("/") : buffer.substr(0, slash));
}

}  // namespace platform
