// The running processes and ending one of them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace platform {

struct ProcessEntry {
  uint32_t id = 0;
  // The names the process is known by: on Windows the image name of the
  // snapshot; on POSIX the kernel's command name and the executable's path.
  std::vector<std::u16string> names;
};

// Every process the system lists, in its order; empty when it cannot be listed.
std::vector<ProcessEntry> ListProcesses();

// Asks the system to end the process at once. False when it may not be
// opened or the request fails; does not wait for the end.
bool TerminateProcessById(uint32_t id);

}  // namespace platform
