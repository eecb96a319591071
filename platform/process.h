// Facts about the running program that the system knows.
#pragma once

#include <string>

namespace platform {

// The folder of the running executable, without a trailing delimiter.
std::u16string ExecutableFolder();

}  // namespace platform
