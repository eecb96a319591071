#include <algorithm>
#include <csignal>
#include <dirent.h>
#include <fstream>
#include <limits.h>
#include <string>
#include <sys/types.h>
#include <unistd.h>

#include "platform/proclist.h"
#include "platform/text.h"

namespace platform {

std::vector<ProcessEntry> ListProcesses() {
  std::vector<ProcessEntry> processes;
  DIR* proc = opendir("/proc");
  if (!proc) return processes;
  while (const dirent* d = readdir(proc)) {
    const std::string pid = d->d_name;
    if (pid.empty() || pid.size() > 9 ||
        !std::all_of(pid.begin(), pid.end(), [](char c) { return c >= '0' && c <= '9'; }))
      continue;
    ProcessEntry entry;
    entry.id = static_cast<uint32_t>(std::stoul(pid));
    const std::string base = "/proc/" + pid;
    std::string comm;
    if (std::getline(std::ifstream(base + "/comm"), comm)) entry.names.push_back(FromUtf8(comm));
    char exe[PATH_MAX];
    const ssize_t n = readlink((base + "/exe").c_str(), exe, sizeof exe);
    if (n > 0) entry.names.push_back(FromUtf8(std::string(exe, static_cast<size_t>(n))));
    // Gone meanwhile, or a kernel thread: nothing to match.
    if (!entry.names.empty()) processes.push_back(std::move(entry));
  }
  closedir(proc);
  return processes;
}

bool TerminateProcessById(uint32_t id) {
  // kill refuses processes this user may not signal.
  return id > 0 && kill(static_cast<pid_t>(id), SIGKILL) == 0;
}

}  // namespace platform
