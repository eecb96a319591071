// A disk that a test can unplug and plug back: an ext4 file system in an image
// file, mounted on a folder through a loop device, unmounted and mounted again
// on request. Needs root; where the system cannot mount it, Reason() says why
// and the test skips. Unmounted at the end (the loop device goes with it).
#pragma once

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "tempdir.h"

namespace testsupport {

class Ext4Volume {
 public:
  explicit Ext4Volume(int megabytes = 16) {
    if (::geteuid() != 0) {
      reason_ = "mounting an ext4 image needs root";
      return;
    }
    fs::create_directories(path());
    if (!Shell("truncate -s " + std::to_string(megabytes) + "M '" + image().string() + "'") ||
        !Shell("mkfs.ext4 -q -F '" + image().string() + "'")) {
      reason_ = "mkfs.ext4 failed (package e2fsprogs)";
      return;
    }
    if (!Mount()) reason_ = "mounting the image through a loop device was refused (mount -o loop)";
  }
  ~Ext4Volume() { Unmount(); }
  Ext4Volume(const Ext4Volume&) = delete;
  Ext4Volume& operator=(const Ext4Volume&) = delete;

  // Empty when the volume could be mounted; otherwise why not.
  const std::string& Reason() const { return reason_; }
  // The mount point: the volume's root while mounted, a bare folder otherwise.
  fs::path path() const { return dir_ / "mnt"; }

  bool Mount() {
    if (!mounted_) mounted_ = Shell("mount -o loop '" + image().string() + "' '" + path().string() + "'");
    return mounted_;
  }
  bool Unmount() {
    if (mounted_ && Shell("umount '" + path().string() + "'")) mounted_ = false;
    return !mounted_;
  }

 private:
  static bool Shell(const std::string& command) { return std::system((command + " >/dev/null 2>&1").c_str()) == 0; }
  fs::path image() const { return dir_ / "ext4.img"; }

  TempDir dir_;
  std::string reason_;
  bool mounted_ = false;
};

}  // namespace testsupport
