// A small tmpfs mounted on a folder for the life of the object: a destination
// that fills up. Mounting needs root (as in CI); where the system refuses,
// Mounted() is false and Refusal() says why.
#pragma once

#include <sys/mount.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <string>

namespace testsupport {

class SmallVolume {
 public:
  SmallVolume(const std::filesystem::path& folder, const char* size = "1m") : folder_(folder) {
    const std::string options = std::string("size=") + size;
    if (mount("tmpfs", folder_.c_str(), "tmpfs", 0, options.c_str()) == 0)
      mounted_ = true;
    else
      refusal_ = "mounting a tmpfs was refused: " + std::string(std::strerror(errno));
  }
  ~SmallVolume() {
    if (mounted_) umount2(folder_.c_str(), MNT_DETACH);
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
