// A small tmpfs mounted on a folder for the life of the object: a destination
// that fills up. Mounting needs root (as in CI); where the system refuses,
// Mounted() is false and Refusal() says why.
#pragma once

#ifndef _WIN32
#include <sys/mount.h>
#endif

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <string>

namespace testsupport {

class SmallVolume {
 public:
  SmallVolume(const std::filesystem::path& folder, const char* size = "1m") : folder_(folder) {
#ifdef _WIN32
    (void)size;
    refusal_ = "a small volume is a tmpfs mount, which Windows (and Wine) cannot make";
#else
    const std::string options = std::string("size=") + size;
    if (mount("tmpfs", folder_.c_str(), "tmpfs", 0, options.c_str()) == 0)
      mounted_ = true;
    else
      refusal_ = "mounting a tmpfs was refused: " + std::string(std::strerror(errno));
#endif
  }
  ~SmallVolume() {
#ifndef _WIN32
    if (mounted_) umount2(folder_.c_str(), MNT_DETACH);
#endif
  }
  SmallVolume(const SmallVolume&) = delete;
  SmallVolume& operator=(const SmallVolume&) = delete;
  bool Mounted() const { return mounted_; }
  const std::string& Refusal() const { return refusal_; }

 private:
  std::filesystem::path folder_;
  bool mounted_ = false;
  std::string refusal_;
};

}  // namespace testsupport
