// A disk that can be unplugged and plugged in again: an ext4 image of its own,
// loop-mounted on a folder (one of its own unless one is given). Mounting needs
// root (as in CI); where the system refuses, Mounted() is false and Refusal()
// says why. Unmounted at the end.
#pragma once

#ifndef _WIN32
#include <unistd.h>
#endif

#include <cstdlib>
#include <filesystem>
#include <string>

#include "tempdir.h"

namespace testsupport {

class Ext4Volume {
 public:
  explicit Ext4Volume(const fs::path& mountPoint = {}, int megabytes = 16)
      : mountPoint_(mountPoint.empty() ? dir_ / "mnt" : mountPoint) {
#ifdef _WIN32
    (void)megabytes;
    refusal_ = "an ext4 image is loop-mounted, which Windows (and Wine) cannot do";
    return;
#else
    if (::geteuid() != 0) {
      refusal_ = "mounting an ext4 image needs root";
      return;
    }
#endif
    const std::string image = (dir_ / "ext4.img").string();
    fs::create_directories(mountPoint_);
    if (!Shell("truncate -s " + std::to_string(megabytes) + "M '" + image + "'") ||
        !Shell("mkfs.ext4 -q -F '" + image + "'")) {
      refusal_ = "mkfs.ext4 failed (package e2fsprogs)";
      return;
    }
    if (!Plug()) refusal_ = "mounting a loop device was refused (mount -o loop)";
  }
  ~Ext4Volume() { Unplug(); }
  Ext4Volume(const Ext4Volume&) = delete;
  Ext4Volume& operator=(const Ext4Volume&) = delete;

  bool Mounted() const { return mounted_; }
  // The mount point: the volume's root while mounted, a bare folder otherwise.
  const fs::path& path() const { return mountPoint_; }
  const std::string& Refusal() const { return refusal_; }

  // Mounts the image on the folder again; what it held is there again.
  bool Plug() {
    if (!mounted_)
      mounted_ = Shell("mount -o loop '" + (dir_ / "ext4.img").string() + "' '" + mountPoint_.string() + "'");
    return mounted_;
  }
  // Unmounts it, leaving the bare folder on the disk beneath.
  bool Unplug() {
    if (mounted_)
      mounted_ = !Shell("umount '" + mountPoint_.string() + "' || umount -l '" + mountPoint_.string() + "'");
    return !mounted_;
  }

 private:
  static bool Shell(const std::string& command) { return std::system((command + " >/dev/null 2>&1").c_str()) == 0; }

  TempDir dir_;
  fs::path mountPoint_;
  std::string refusal_;
  bool mounted_ = false;
};

}  // namespace testsupport
