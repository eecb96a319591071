// A real exFAT file system for a test: an image file formatted with
// mkfs.exfat, attached to a loop device and mounted with mount.exfat-fuse
// (Debian exfatprogs, exfat-fuse). Needs root; where the system cannot mount
// it, Reason() says why and the test skips. Unmounted and detached at the end.
#pragma once

#include <unistd.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "tempdir.h"

namespace testsupport {

class ExfatMount {
 public:
  explicit ExfatMount(int megabytes = 64) {
    if (::geteuid() != 0) {
      reason_ = "mounting an exFAT image needs root";
      return;
    }
    const fs::path image = dir_ / "exfat.img";
    fs::create_directories(path());
    if (!Shell("truncate -s " + std::to_string(megabytes) + "M '" + image.string() + "'") ||
        !Shell("mkfs.exfat '" + image.string() + "'")) {
      reason_ = "mkfs.exfat failed (package exfatprogs)";
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
    if (!Shell("mount.exfat-fuse '" + loop_ + "' '" + path().string() + "'")) {
      reason_ = "mount.exfat-fuse failed (package exfat-fuse, /dev/fuse)";
      return;
    }
    mounted_ = true;
  }
  ~ExfatMount() {
    if (mounted_) Shell("umount '" + path().string() + "'");
    if (!loop_.empty()) Shell("losetup -d '" + loop_ + "'");
  }
  ExfatMount(const ExfatMount&) = delete;
  ExfatMount& operator=(const ExfatMount&) = delete;

  // Empty when mounted; otherwise why not.
  const std::string& Reason() const { return reason_; }
  fs::path path() const { return dir_ / "mnt"; }

 private:
  static bool Shell(const std::string& command) { return std::system((command + " >/dev/null 2>&1").c_str()) == 0; }

  TempDir dir_;
  std::string loop_, reason_;
  bool mounted_ = false;
};

}  // namespace testsupport
