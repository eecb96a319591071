// Whether a file is open for writing: a clip still being recorded or copied in
// is left for the run that follows its writer's close.
#include <fcntl.h>
#include <linux/magic.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
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

// Where no lease tells, a file changed this recently is taken to be still
// written: a recording by another user lands between two of its writes.
constexpr std::int64_t kQuietSeconds = 2;

bool ChangedLately(const struct stat& st) {
  timespec now;
  if (::clock_gettime(CLOCK_REALTIME, &now) != 0) return false;
  const auto recent = [&now](const timespec& t) {
    // A time ahead of the clock (a camera's, a share's) says nothing about a writer.
    if (t.tv_sec > now.tv_sec || (t.tv_sec == now.tv_sec && t.tv_nsec > now.tv_nsec)) return false;
    const std::int64_t seconds = now.tv_sec - t.tv_sec;
    return seconds < kQuietSeconds || (seconds == kQuietSeconds && now.tv_nsec < t.tv_nsec);
  };
  return recent(st.st_mtim) || recent(st.st_ctim);
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
  struct stat st;
  bool inUse = false;
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    // The copy refuses what is not a regular file, with its own line.
  } else if (::fcntl(fd, F_SETLEASE, F_RDLCK) == 0) {
    // A read lease is refused (EAGAIN) while anyone has the file open for
    // writing. It is given back at once, so no writer waits on it.
    ::fcntl(fd, F_SETLEASE, F_UNLCK);
  } else if (errno == EAGAIN && !LeaseSaysNothing(fd)) {
    inUse = true;
  } else {
    // Refused for another reason (a file of another owner, a file system
    // without leases), or on a share where a refusal says nothing.
    inUse = ChangedLately(st);
  }
  ::close(fd);
  return inUse;
}

}  // namespace mirror
