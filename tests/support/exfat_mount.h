// Real file systems for a test: an image file formatted by the system's mkfs,
// attached to a loop device and mounted, unmounted and detached at the end.
// ExfatMount: mkfs.exfat and mount.exfat-fuse (Debian exfatprogs,
// exfat-fuse), a destination that ignores letter case. Needs root; where the
// system cannot mount it, Reason() says why and the test skips.
#pragma once

#include <unistd.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "tempdir.h"

namespace testsupport {

class ImageMount {
 public:
  // mkfs and mount: the commands that format the image and mount the loop
  // device (each followed by its arguments); package: where they come from.
  ImageMount(int megabytes, const std::string& mkfs, const std::string& mount, const std::string& package) {
    if (::geteuid() != 0) {
      reason_ = "mounting a file system image needs root";
      return;
    }
    const fs::path image = dir_ / "volume.img";
    fs::create_directories(path());
    if (!Shell("truncate -s " + std::to_string(megabytes) + "M '" + image.string() + "'") ||
        !Shell(mkfs + " '" + image.string() + "'")) {
      reason_ = mkfs + " failed (package " + package + ")";
      return;
    }
    std::array<char, 128> line{};
    if (FILE* out = ::popen(("losetup -f --show '" + image.string() + "' 2>/dev/null").c_str(), "r")) {
      if (std::fgets(line.data(), line.size(), out) != nullptr) loop_ = line.data();
      ::pclose(out);
    }
    while (!loop_.empty() && (loop_.back() == '\n' || loop_.back() == ' ')) loop_.pop_back();
    if (loop_.empty()) {
      reason_ = "no loop device could be attached (losetup)";
      return;
    }
    if (!Shell(mount + " '" + loop_ + "' '" + path().string() + "'")) {
      reason_ = mount + " failed (package " + package + ")";
      return;
    }
    mounted_ = true;
  }
  ~ImageMount() {
    if (mounted_) Shell("umount '" + path().string() + "'");
    if (!loop_.empty()) Shell("losetup -d '" + loop_ + "'");
  }
  ImageMount(const ImageMount&) = delete;
  ImageMount& operator=(const ImageMount&) = delete;

  // Empty when mounted; otherwise why not.
  const std::string& Reason() const { return reason_; }
  fs::path path() const { return dir_ / "mnt"; }

 private:
  static bool Shell(const std::string& command) { return std::system((command + " >/dev/null 2>&1").c_str()) == 0; }

  TempDir dir_;
  std::string loop_, reason_;
  bool mounted_ = false;
};

class ExfatMount : public ImageMount {
 public:
  explicit ExfatMount(int megabytes = 64)
      : ImageMount(megabytes, "mkfs.exfat", "mount.exfat-fuse", "exfatprogs, exfat-fuse, /dev/fuse") {}
};

}  // namespace testsupport
