// Whether a file is open for writing: a clip still being recorded or copied in
// is left for the run that follows its writer's close.
#include <fcntl.h>
#include <linux/magic.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>

#include "mirror/folder.h"

namespace mirror {
namespace {

// On network shares a lease depends on what the server grants, not on who
// writes: refused there, it tells nothing.
bool LeaseSaysNothing(int fd) {
  struct statfs fs;
  if (::fstatfs(fd, &fs) != 0) return true;
  switch (static_cast<unsigned long>(fs.f_type)) {
    case NFS_SUPER_MAGIC:
    case SMB_SUPER_MAGIC:
    case CIFS_SUPER_MAGIC:
    case SMB2_SUPER_MAGIC:
      return true;
    default:
      return false;
  }
}

}  // namespace

bool Folder::OpenForWriting(const std::string& name) const {
  // A writer that opens the file while the lease is held makes the kernel
  // signal SIGIO here, which would otherwise end the tool.
  static const bool sigioIgnored = [] {
    std::signal(SIGIO, SIG_IGN);
    return true;
  }();
  (void)sigioIgnored;
  const int fd = ::openat(fd_, name.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return false;  // the copy's own open reports why
  // A read lease is refused (EAGAIN) while anyone has the file open for
  // writing. It is given back at once, so no writer waits on it.
  bool inUse = false;
  if (::fcntl(fd, F_SETLEASE, F_RDLCK) == 0)
    ::fcntl(fd, F_SETLEASE, F_UNLCK);
  else
    inUse = errno == EAGAIN && !LeaseSaysNothing(fd);
  ::close(fd);
  return inUse;
}

}  // namespace mirror
