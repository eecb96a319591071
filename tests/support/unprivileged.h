// A stretch of a test run with the access rights of an ordinary user. Tests
// run as root in CI, and root may open any file; there the process takes the
// ids of "nobody" for the stretch, keeping root as its saved id so that it can
// take them back. Run by any other user, nothing changes. POSIX only: Windows
// has no root, and its access rights are not these ids.
#pragma once

#include <grp.h>
#include <sys/types.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <vector>

namespace testsupport {

class ScopedUnprivileged {
 public:
  static constexpr uid_t Id = 65534;

  ScopedUnprivileged() {
    if (geteuid() != 0) {
      active_ = true;
      return;
    }
    groups_.resize(static_cast<size_t>(getgroups(0, nullptr)));
    if (getgroups(static_cast<int>(groups_.size()), groups_.data()) < 0) groups_.clear();
    active_ = setgroups(0, nullptr) == 0 && setresgid(Id, Id, 0) == 0 && setresuid(Id, Id, 0) == 0;
    dropped_ = true;
  }
  ~ScopedUnprivileged() {
    if (dropped_ &&
        (setresuid(0, 0, 0) != 0 || setresgid(0, 0, 0) != 0 || setgroups(groups_.size(), groups_.data()) != 0))
      std::abort();  // the rest of the run would not be root
  }
  ScopedUnprivileged(const ScopedUnprivileged&) = delete;
  ScopedUnprivileged& operator=(const ScopedUnprivileged&) = delete;

  // False when root could not take another user's ids here.
  bool Active() const { return active_; }

  // Makes a path, made by the test as root, the ordinary user's.
  static void Give(const std::filesystem::path& path) {
    if (geteuid() == 0 && chown(path.c_str(), Id, Id) != 0) std::abort();
  }

 private:
  bool active_ = false;
  bool dropped_ = false;
  std::vector<gid_t> groups_;
};

}  // namespace testsupport
