// Test helpers: a temporary folder removed at the end, files, links and conversions.
#pragma once

#include <filesystem>
#include <fstream>
#include <random>
#include <string>

namespace testsupport {

namespace fs = std::filesystem;

inline std::u16string U(const fs::path& p) { return p.u16string(); }

class TempDir {
 public:
  TempDir() {
    std::random_device rd;
    path_ = fs::temp_directory_path() / ("tarnvel-test-" + std::to_string(rd()) + std::to_string(rd()));
    fs::create_directories(path_);
  }
  ~TempDir() {
    std::error_code ec;
    fs::permissions(path_, fs::perms::owner_all, fs::perm_options::add, ec);
    fs::remove_all(path_, ec);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const fs::path& path() const { return path_; }
  fs::path operator/(const fs::path& rel) const { return path_ / rel; }

 private:
  fs::path path_;
};

inline void WriteFile(const fs::path& p, const std::string& content) {
  fs::create_directories(p.parent_path());
  std::ofstream(p, std::ios::binary) << content;
}

// A link to a folder; false when the system refuses (links need privileges
// on Windows; Wine grants them).
inline bool TryLink(const fs::path& target, const fs::path& link) {
  std::error_code ec;
  fs::create_directory_symlink(target, link, ec);
  return !ec;
}

inline std::string ReadFile(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

}  // namespace testsupport
