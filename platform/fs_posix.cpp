#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include "platform/fs.h"
#include "platform/errors.h"
#include "platform/text.h"

namespace platform {

bool PathIsDirectory(const std::u16string& path) {
  const auto native = PathToUtf8(path);
  if (!native) return false;  // malformed
  struct stat st {};
  if (stat(native->c_str(), &st) == 0) return S_ISDIR(st.st_mode);
  // Only "it is not there" means no; a refusal to tell means yes.
  switch (errno) {
    case ENOENT:
    case ENOTDIR:
    case ENAMETOOLONG:
    case ELOOP:
      return false;
    default:
      return true;
  }
}

bool PathIsFile(const std::u16string& path) {
  const auto native = PathToUtf8(path);
  struct stat st {};
  return native && stat(native->c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

bool PathIsHidden(const std::u16string& path) {
  const size_t slash = path.find_last_of(u'/');
  const size_t name = slash == std::u16string::npos ? 0 : slash + 1;
  return name < path.size() && path[name] == u'.';
}

bool MakeDirectory(const std::u16string& path) {
  const auto native = PathToUtf8(path);
  return native && mkdir(native->c_str(), 0777) == 0;
}

std::u16string ResolvedPath(const std::u16string& path) {
  const auto native = PathToUtf8(path);
  char* resolved = native ? realpath(native->c_str(), nullptr) : nullptr;
  if (!resolved) return path;
  std::u16string result = FromUtf8(resolved);
  free(resolved);
  return result;
}

bool SamePathName(const std::u16string& a, const std::u16string& b) { return a == b; }

bool IsMountPoint(const std::u16string& path) {
  const auto native = PathToUtf8(path);
  struct stat self {};
  struct stat parent {};
  if (!native || stat(native->c_str(), &self) != 0 || !S_ISDIR(self.st_mode)) return false;
#ifdef STATX_ATTR_MOUNT_ROOT
  // The kernel's own word also covers a bind mount of a folder of the same disk.
  struct statx sx {};
  if (statx(AT_FDCWD, native->c_str(), 0, 0, &sx) == 0 && (sx.stx_attributes_mask & STATX_ATTR_MOUNT_ROOT))
    return (sx.stx_attributes & STATX_ATTR_MOUNT_ROOT) != 0;
#endif
  if (stat((*native + "/..").c_str(), &parent) != 0) return false;
  // Another device above it, or the root, whose parent is itself.
  return self.st_dev != parent.st_dev || self.st_ino == parent.st_ino;
}

FileActivity FileActivityOf(const std::u16string& path) {
  FileActivity activity;
  const auto native = PathToUtf8(path);
  struct stat st {};
  if (!native || stat(native->c_str(), &st) != 0) return activity;
  const auto ns = [](const timespec& t) {
    return std::chrono::seconds(t.tv_sec) + std::chrono::nanoseconds(t.tv_nsec);
  };
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  activity.sinceChange = ns(now) - std::max(ns(st.st_mtim), ns(st.st_ctim));
#ifdef __linux__
  // A writer that opens the file while the lease is held has the kernel
  // signal the holder, which would end the program.
  static const bool sigioIgnored = [] {
    std::signal(SIGIO, SIG_IGN);
    return true;
  }();
  (void)sigioIgnored;
  const int fd = open(native->c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) return activity;
  // A read lease is refused (EAGAIN) while anyone has the file open for
  // writing; given back at once. Another user's file, or a file system
  // without leases, refuses it for other reasons: that tells nothing.
  if (fcntl(fd, F_SETLEASE, F_RDLCK) == 0) {
    fcntl(fd, F_SETLEASE, F_UNLCK);
    activity.writer = FileWriter::Closed;
  } else if (errno == EAGAIN) {
    activity.writer = FileWriter::Open;
  }
  close(fd);
#endif
  return activity;
}

int DirectoryEntryError(const std::u16string& path) {
  const auto checked = PathToUtf8(path);
  if (!checked) return ErrorPathNotFound;  // malformed
  const std::string& native = *checked;
  struct stat st {};
  if (stat(native.c_str(), &st) != 0) {
    const int code = TranslateErrno(errno);
    if (code != ErrorFileNotFound) return code;
    // A missing folder is "not found" when its parent is there, else the path is bad.
    const auto slash = native.find_last_of('/');
    const std::string parent = slash == std::string::npos ? "." : slash == 0 ? "/" : native.substr(0, slash);
    struct stat pst {};
    return stat(parent.c_str(), &pst) == 0 && S_ISDIR(pst.st_mode) ? ErrorFileNotFound : ErrorPathNotFound;
  }
  if (!S_ISDIR(st.st_mode)) return ErrorDirectory;
  if (access(native.c_str(), X_OK) != 0) return TranslateErrno(errno);
  return 0;
}

std::optional<FolderId> FolderIdOf(const std::u16string& path) {
  struct stat st {};
  if (stat(ToUtf8(path).c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return std::nullopt;
  return FolderId{static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino)};
}

struct FolderListing::State {
  DIR* dir = nullptr;
  FolderId id;
};

FolderListing::FolderListing(const std::u16string& folder) : state_(std::make_unique<State>()) {
  const auto native = PathToUtf8(folder);
  state_->dir = native ? opendir(native->c_str()) : nullptr;
  struct stat st {};
  if (state_->dir && fstat(dirfd(state_->dir), &st) == 0)
    state_->id = {static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino)};
}

FolderListing::~FolderListing() {
  if (state_->dir) closedir(state_->dir);
}

bool FolderListing::IsOpen() const { return state_->dir != nullptr; }

std::optional<FolderId> FolderListing::Id() const {
  if (!state_->dir) return std::nullopt;
  return state_->id;
}

namespace {

// Most names are ASCII: copy them without decoding.
void AssignName(std::u16string& to, const char* name) {
  to.clear();
  for (const char* p = name; *p; ++p) {
    if (static_cast<unsigned char>(*p) >= 0x80) {
      to = FromUtf8(name);
      return;
    }
    to += static_cast<char16_t>(*p);
  }
}

}  // namespace

bool FolderListing::Next(FolderEntry& entry) {
  if (!state_->dir) return false;
  const int fd = dirfd(state_->dir);
  while (const dirent* d = readdir(state_->dir)) {
    entry.isFolder = false;
    entry.size = 0;
    if (d->d_type == DT_DIR) {
      entry.isFolder = true;  // a folder's own size is never counted
    } else {
      struct stat st {};
      if (fstatat(fd, d->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0) continue;  // vanished meanwhile
      if (S_ISLNK(st.st_mode)) {
        // A link to a folder is listed as a folder, as on Windows.
        struct stat target {};
        entry.isFolder = fstatat(fd, d->d_name, &target, 0) == 0 && S_ISDIR(target.st_mode);
      } else {
        entry.isFolder = S_ISDIR(st.st_mode);
      }
      if (!entry.isFolder) entry.size = static_cast<int64_t>(st.st_size);
    }
    AssignName(entry.name, d->d_name);
    return true;
  }
  return false;
}

}  // namespace platform
