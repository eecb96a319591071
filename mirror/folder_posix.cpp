#include "mirror/folder.h"

#include <dirent.h>
#include <fcntl.h>
#include <linux/magic.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/vfs.h>
#include <unistd.h>
#include <xxhash.h>

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <mutex>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <utility>

namespace mirror {
namespace {

[[noreturn]] void Fail(const char* what) { throw std::system_error(errno, std::system_category(), what); }
[[noreturn]] void FailSource(const char* what) { throw SourceFailure(errno, std::system_category(), what); }

// Closes a descriptor at the end of a scope.
class Fd {
 public:
  explicit Fd(int fd) : fd_(fd) {}
  ~Fd() {
    if (fd_ >= 0) ::close(fd_);
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  int get() const { return fd_; }
  int release() { return std::exchange(fd_, -1); }

 private:
  int fd_;
};

Kind KindOf(mode_t mode) {
  if (S_ISREG(mode)) return Kind::File;
  if (S_ISDIR(mode)) return Kind::Folder;
  if (S_ISLNK(mode)) return Kind::Link;
  return Kind::Other;
}

FileTime TimeOf(const timespec& t) {
  return {static_cast<std::int64_t>(t.tv_sec), static_cast<std::int32_t>(t.tv_nsec)};
}

constexpr size_t kChunk = 1 << 20;
// Direct reads take whole blocks of this size.
constexpr size_t kBlock = 4096;
// A folder's names are read this many bytes at a time: a few hundred names a call.
constexpr size_t kListBuffer = 64 << 10;
// From this many entries on, a folder's entries are looked at in inode order.
constexpr size_t kInodeOrderFrom = 1024;

// A direct read of `length` bytes in whole blocks, a chunk at most: a read
// past a file's end costs the kernel as much as one within it.
size_t WholeBlocks(off_t length) {
  return std::min<size_t>(kChunk, (std::max<off_t>(length, 1) + kBlock - 1) / kBlock * kBlock);
}

// The running XXH3 128-bit hash of a file's bytes.
class Hasher {
 public:
  Hasher() : state_(XXH3_createState(), XXH3_freeState) {
    if (!state_) throw std::bad_alloc();
    Reset();
  }
  void Reset() { XXH3_128bits_reset(state_.get()); }
  void Add(const void* data, size_t length) { XXH3_128bits_update(state_.get(), data, length); }
  // In the canonical byte order, as xxhsum prints it.
  std::string Digest() const {
    XXH128_canonical_t canonical;
    XXH128_canonicalFromHash(&canonical, XXH3_128bits_digest(state_.get()));
    std::string hex;
    for (const unsigned char byte : canonical.digest) {
      hex += "0123456789abcdef"[byte >> 4];
      hex += "0123456789abcdef"[byte & 15];
    }
    return hex;
  }

 private:
  std::unique_ptr<XXH3_state_t, XXH_errorcode (*)(XXH3_state_t*)> state_;
};

// Hashes all that `fd` holds, `chunk` bytes at a time. False, errno set, when
// a read fails.
bool HashAll(int fd, Hasher& hasher, char* buffer, size_t chunk) {
  for (off_t done = 0;;) {
    const ssize_t got = ::pread(fd, buffer, chunk, done);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return false;
    if (got == 0) return true;
    hasher.Add(buffer, static_cast<size_t>(got));
    done += got;
  }
}

// The hash of what the disk holds for the durable file `fd`, read past the
// cache where the file system allows (O_DIRECT); elsewhere its cached pages
// are dropped first. Read from memory, the check would prove nothing.
bool ReadBack(int fd, std::string& digest) {
  struct stat st;
  if (::fstat(fd, &st) != 0) return false;
  const size_t chunk = WholeBlocks(st.st_size);  // a small file in as few blocks as hold it
  Hasher hasher;
  const int flags = ::fcntl(fd, F_GETFL);
  if (flags >= 0 && ((flags & O_DIRECT) != 0 || ::fcntl(fd, F_SETFL, flags | O_DIRECT) == 0)) {
    std::unique_ptr<char, void (*)(void*)> buffer(static_cast<char*>(std::aligned_alloc(kBlock, chunk)), std::free);
    if (!buffer) throw std::bad_alloc();
    const bool read = HashAll(fd, hasher, buffer.get(), chunk);
    const int error = errno;
    if ((flags & O_DIRECT) == 0) ::fcntl(fd, F_SETFL, flags);
    if (read) {
      digest = hasher.Digest();
      return true;
    }
    if (error != EINVAL) {
      errno = error;
      return false;
    }
    hasher.Reset();  // a file system that takes the flag but not such reads
    if ((flags & O_DIRECT) != 0) ::fcntl(fd, F_SETFL, flags & ~O_DIRECT);
  }
  if (const int failed = ::posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED); failed != 0) {
    errno = failed;
    return false;
  }
  std::unique_ptr<char[]> buffer(new char[chunk]);
  if (!HashAll(fd, hasher, buffer.get(), chunk)) return false;
  digest = hasher.Digest();
  return true;
}

// Reads a big copy back from the disk while it is still being written: each
// stretch once its write-back has ended, through a descriptor of its own that
// reads past the cache (O_DIRECT). Read after the copy instead, the reading
// would add the whole file's time to the copy's.
class ReadBehind {
 public:
  // `direct`: the copy opened for reading with O_DIRECT.
  explicit ReadBehind(int direct)
      : fd_(direct), buffer_(static_cast<char*>(std::aligned_alloc(kBlock, kChunk)), std::free) {
    if (!buffer_) throw std::bad_alloc();
    thread_ = std::jthread([this](std::stop_token stop) { Serve(stop); });
  }
  ReadBehind(const ReadBehind&) = delete;
  ReadBehind& operator=(const ReadBehind&) = delete;

  // The copy's first `bytes` have reached the disk.
  void Durable(off_t bytes) {
    {
      std::lock_guard<std::mutex> guard(lock_);
      durable_ = bytes;
    }
    wake_.notify_all();
  }
  // Once the whole copy of `size` bytes is durable: the hash of what the
  // disk holds. False, errno set, when a read failed; EINVAL with nothing
  // read: the file system takes the flag but not such reads.
  bool Finish(off_t size, std::string& digest) {
    Durable(size);
    std::unique_lock<std::mutex> guard(lock_);
    wake_.wait(guard, [&] { return error_ != 0 || read_ >= size; });
    if (error_ != 0) {
      errno = error_;
      return false;
    }
    digest = hasher_.Digest();
    return true;
  }
  bool ReadNothing() const {
    std::lock_guard<std::mutex> guard(lock_);
    return read_ == 0;
  }

 private:
  void Serve(std::stop_token stop) {
    std::unique_lock<std::mutex> guard(lock_);
    for (;;) {
      wake_.wait(guard, stop, [&] { return read_ < durable_; });
      if (stop.stop_requested()) return;
      const off_t until = durable_;
      off_t at = read_;
      guard.unlock();
      int failed = 0;
      while (at < until) {
        // Only the copy's end is not at a block's.
        const off_t left = until - at;
        const ssize_t got = ::pread(fd_.get(), buffer_.get(), WholeBlocks(left), at);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) {
          failed = got < 0 ? errno : EIO;  // a durable copy shorter than written
          break;
        }
        const off_t used = std::min<off_t>(got, left);
        hasher_.Add(buffer_.get(), static_cast<size_t>(used));
        at += used;
      }
      guard.lock();
      read_ = at;
      error_ = failed;
      wake_.notify_all();
      if (failed != 0) return;
    }
  }

  Fd fd_;
  std::unique_ptr<char, void (*)(void*)> buffer_;
  Hasher hasher_;  // the reading thread's alone until Finish
  mutable std::mutex lock_;
  std::condition_variable_any wake_;
  off_t durable_ = 0;    // guarded by lock_
  off_t read_ = 0;       // guarded by lock_
  int error_ = 0;        // guarded by lock_
  std::jthread thread_;  // last: started once the rest is ready, stopped and joined first
};

// A big copy's write-back runs behind it in stretches of this size, and at
// most two of them are being written while the copy goes on: a run never
// holds much more than that in memory that is not yet on the disk.
constexpr off_t kWindow = off_t{16} << 20;

// Starts the write-back of the copy's bytes up to `end` and waits for it
// up to one stretch before, which then is durable for `reader`. Write-back
// that the file system cannot be asked for is left to the flush at the end.
bool WriteBehind(int out, off_t end, off_t& submitted, off_t& waited, ReadBehind& reader) {
  if (waited < 0) return true;
  if (::sync_file_range(out, submitted, end - submitted, SYNC_FILE_RANGE_WRITE) != 0) {
    // A failed write-back is told once: it must fail the copy here.
    if (errno != EINVAL && errno != ESPIPE && errno != ENOSYS && errno != EOPNOTSUPP) return false;
    waited = -1;
    return true;
  }
  submitted = end;
  if (end - kWindow <= waited) return true;
  if (::sync_file_range(out, waited, end - kWindow - waited,
                        SYNC_FILE_RANGE_WAIT_BEFORE | SYNC_FILE_RANGE_WRITE | SYNC_FILE_RANGE_WAIT_AFTER) != 0) {
    return false;
  }
  waited = end - kWindow;
  reader.Durable(waited);
  return true;
}

// Copies and hashes the source's bytes in one pass. The kernel's own copy
// (copy_file_range) would need the source read again for its hash: that was
// slower, for small files and big ones alike. readFailed: a failure was the
// source's. With `reader`, the copy is read back behind the writing.
bool CopyData(int in, int out, off_t& offset, off_t size, bool& readFailed, Hasher& hasher, ReadBehind* reader) {
  std::unique_ptr<char[]> buffer(new char[kChunk]);
  off_t submitted = offset / kWindow * kWindow, waited = reader ? 0 : -1;
  while (offset < size) {
    ssize_t got = ::pread(in, buffer.get(), std::min<off_t>(kChunk, size - offset), offset);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) {
      readFailed = true;
      return false;
    }
    if (got == 0) break;  // the source shrank meanwhile
    hasher.Add(buffer.get(), static_cast<size_t>(got));
    for (ssize_t done = 0; done < got;) {
      ssize_t put = ::pwrite(out, buffer.get() + done, got - done, offset + done);
      if (put < 0 && errno == EINTR) continue;
      if (put < 0) return false;
      done += put;
    }
    offset += got;
    const off_t stretch = offset / kWindow * kWindow;
    if (reader && stretch > submitted && !WriteBehind(out, stretch, submitted, waited, *reader)) return false;
  }
  return true;
}

// Reserves the space of a big copy before its first byte is written, so that
// a full disk fails it at once rather than near its end. The file's size
// stays what is written. File systems without it simply fill as they go.
bool Preallocate(int out, off_t offset, off_t size) {
  if (::fallocate(out, FALLOC_FL_KEEP_SIZE, offset, size - offset) == 0) return true;
  return errno != ENOSPC && errno != EDQUOT && errno != EFBIG;
}

// Whether the first `length` bytes of `temp` are those of `source`: a
// leftover whose bytes differ (a write lost with the power, a bad card) must
// not become the start of the copy. The source's bytes go into `hasher`.
bool SamePrefix(int source, int temp, off_t length, Hasher& hasher) {
  std::unique_ptr<char[]> a(new char[kChunk]), b(new char[kChunk]);
  for (off_t at = 0; at < length;) {
    const size_t want = static_cast<size_t>(std::min<off_t>(kChunk, length - at));
    const ssize_t got = ::pread(source, a.get(), want, at);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return false;
    for (size_t done = 0; done < static_cast<size_t>(got);) {
      const ssize_t more = ::pread(temp, b.get() + done, got - done, at + done);
      if (more < 0 && errno == EINTR) continue;
      if (more <= 0) return false;
      done += more;
    }
    if (std::memcmp(a.get(), b.get(), got) != 0) return false;
    hasher.Add(a.get(), static_cast<size_t>(got));
    at += got;
  }
  return true;
}

// Under /Z, files from this size on are copied under a temporary name that a
// stopped copy leaves behind to resume from; smaller ones are quick to copy again.
constexpr off_t kResumableSize = off_t{64} << 20;

// Copies from this size on are made durable and read back before they get
// their name: a flush of their own costs little beside their bytes. Smaller
// ones are read back after the run's one flush, which a flush per file would
// slow down many times over.
constexpr off_t kVerifiedBeforeNaming = off_t{16} << 20;

// Whether an anonymous file can be given a name: through /proc, which a
// container may lack.
bool CanLinkByDescriptor() {
  static const bool can = ::access("/proc/self/fd", X_OK) == 0;
  return can;
}

// Gives the anonymous file `fd` the name `name` in folder `folder`. A file of
// that name that appeared meanwhile is replaced, through `temp`, as a rename
// would replace it.
bool LinkInPlace(int fd, int folder, const std::string& name, const std::string& temp) {
  const std::string self = "/proc/self/fd/" + std::to_string(fd);
  if (::linkat(AT_FDCWD, self.c_str(), folder, name.c_str(), AT_SYMLINK_FOLLOW) == 0) return true;
  if (errno != EEXIST) return false;
  if (::unlinkat(folder, temp.c_str(), 0) != 0 && errno != ENOENT) return false;
  return ::linkat(AT_FDCWD, self.c_str(), folder, temp.c_str(), AT_SYMLINK_FOLLOW) == 0 &&
         ::renameat(folder, temp.c_str(), folder, name.c_str()) == 0;
}

// devtmpfs calls itself tmpfs to statfs: the mount table tells them apart.
bool IsDevtmpfs(dev_t device) {
  std::ifstream table("/proc/self/mountinfo");
  const std::string wanted = std::to_string(major(device)) + ":" + std::to_string(minor(device));
  for (std::string line; std::getline(table, line);) {
    std::istringstream fields(line);
    std::string id, parent, numbers;
    fields >> id >> parent >> numbers;
    if (numbers != wanted) continue;
    const size_t dash = line.find(" - ");
    if (dash != std::string::npos && line.compare(dash + 3, 9, "devtmpfs ") == 0) return true;
  }
  return false;
}

// Gives the complete copy `fd` the source's permission bits. A file system
// without them (FAT, exFAT) keeps what it has.
bool KeepMode(int fd, mode_t mode) {
  struct stat st;
  if (::fstat(fd, &st) != 0) return false;
  if ((st.st_mode & 0777) == mode) return true;
  return ::fchmod(fd, mode) == 0 || errno == EPERM || errno == EOPNOTSUPP || errno == ENOTSUP;
}

}  // namespace

Folder Folder::Open(const std::string& path) {
  int fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) Fail("open");
  return Folder(fd);
}

void Folder::Create(const std::string& path) {
  for (size_t end = path.find('/', 1);; end = path.find('/', end + 1)) {
    std::string part = path.substr(0, end);
    if (!part.empty() && ::mkdir(part.c_str(), 0777) != 0 && errno != EEXIST) Fail("mkdir");
    if (end == std::string::npos) break;
  }
}

Folder::Folder(Folder&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}

Folder::~Folder() {
  if (fd_ >= 0) ::close(fd_);
}

Identity Folder::Id() const {
  struct stat st;
  if (::fstat(fd_, &st) != 0) Fail("fstat");
  return {static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino)};
}

TimeKeeping Folder::Times() const {
  struct statfs st;
  if (::fstatfs(fd_, &st) != 0) Fail("fstatfs");
  switch (static_cast<unsigned long>(st.f_type)) {
    case 0xEF53:      // ext2, ext3, ext4
    case 0x58465342:  // XFS
    case 0x9123683E:  // Btrfs
    case 0x01021994:  // tmpfs
    case 0x858458F6:  // ramfs
    case 0x794C7630:  // overlayfs
    case 0xF2F52010:  // F2FS
    case 0x2FC12FC1:  // ZFS
    case 0x7366746E:  // NTFS (ntfs3)
    case 0x5346544E:  // NTFS (read-write ntfs)
      return TimeKeeping::Exact;
    case 0x2011BAB0:  // exFAT
      return TimeKeeping::TenMilliseconds;
    case 0x4D44:  // FAT (msdos, vfat)
      return TimeKeeping::TwoSeconds;
    default:
      // FUSE drivers (exFAT's keeps whole seconds, NTFS's keeps 100 ns, and
      // both call themselves "fuseblk"), network shares and the rest.
      return TimeKeeping::Unknown;
  }
}

std::vector<Identity> Folder::PathIds() const {
  std::vector<Identity> ids{Id()};
  // The root is its own parent.
  for (int fd = ::openat(fd_, "..", O_RDONLY | O_DIRECTORY | O_CLOEXEC);;) {
    if (fd < 0) Fail("open");
    const Folder up(fd);
    const Identity id = up.Id();
    if (id == ids.back()) return ids;
    ids.push_back(id);
    fd = ::openat(up.fd_, "..", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  }
}

bool Folder::OnPseudoFileSystem() const {
  struct statfs fs;
  if (::fstatfs(fd_, &fs) != 0) return false;
  switch (static_cast<unsigned long>(fs.f_type)) {
    case PROC_SUPER_MAGIC:
    case SYSFS_MAGIC:
    case CGROUP_SUPER_MAGIC:
    case CGROUP2_SUPER_MAGIC:
    case DEVPTS_SUPER_MAGIC:
    case DEBUGFS_MAGIC:
    case TRACEFS_MAGIC:
    case SECURITYFS_MAGIC:
    case SELINUX_MAGIC:
    case SMACK_MAGIC:
    case BPF_FS_MAGIC:
    case PSTOREFS_MAGIC:
    case EFIVARFS_MAGIC:
    case BINFMTFS_MAGIC:
    case NSFS_MAGIC:
    case 0x19800202:  // mqueue
    case 0x62656570:  // configfs
    case 0x65735543:  // fusectl
      return true;
    case TMPFS_MAGIC: {
      struct stat st;
      return ::fstat(fd_, &st) == 0 && IsDevtmpfs(st.st_dev);
    }
    default:
      return false;
  }
}

bool Folder::IsFileSystemRoot() const {
  struct stat self, up;
  if (::fstat(fd_, &self) != 0 || ::fstatat(fd_, "..", &up, 0) != 0) return false;
  return self.st_dev != up.st_dev || self.st_ino == up.st_ino;
}

bool Folder::IgnoresCase(const std::string& probe) const {
  const auto create = [&] {
    return ::openat(fd_, probe.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
  };
  int fd = create();
  if (fd < 0 && errno == EEXIST && ::unlinkat(fd_, probe.c_str(), 0) == 0) fd = create();  // left by a stopped run
  Fd made(fd);
  if (made.get() < 0) return false;
  std::string other = probe;
  for (char& c : other) c = (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
  // The other spelling finds the probe: identities would not tell, since
  // FUSE numbers a file anew for each name it is looked up by.
  struct stat found;
  const bool same = other != probe && ::fstatat(fd_, other.c_str(), &found, AT_SYMLINK_NOFOLLOW) == 0;
  ::unlinkat(fd_, probe.c_str(), 0);
  return same;
}

void Folder::Hold() {
  while (::flock(fd_, LOCK_EX) != 0 && errno == EINTR) {
  }
}

std::vector<Entry> Folder::List(bool followLinks) const {
  // A descriptor of its own: reading moves its position, which a duplicate would share.
  Fd own(::openat(fd_, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (own.get() < 0) Fail("opendir");
  // The names first, then their states: the entries are made once, at their
  // final count, and a large folder is looked at in the order of its inodes.
  struct Found {
    size_t at;  // in `names`, ended by a 0
    std::uint64_t inode;
    unsigned char type;
  };
  std::string names;
  std::vector<Found> found;
  const std::unique_ptr<char[]> buffer(new char[kListBuffer]);
  for (;;) {
    const ssize_t got = ::getdents64(own.get(), buffer.get(), kListBuffer);
    if (got < 0) Fail("readdir");
    if (got == 0) break;
    for (ssize_t at = 0; at < got;) {
      const auto* d = reinterpret_cast<const dirent64*>(buffer.get() + at);
      at += d->d_reclen;
      const char* n = d->d_name;
      if (n[0] == '.' && (n[1] == 0 || (n[1] == '.' && n[2] == 0))) continue;
      found.push_back({names.size(), d->d_ino, d->d_type});
      names.append(n, std::strlen(n) + 1);
    }
  }
  // In a large folder, names come in the order of their hashes, which visits
  // the inodes all over; in the inodes' own order their states are nearer
  // each other, in memory and on the disk. The order of a listing means nothing.
  if (found.size() >= kInodeOrderFrom) {
    std::sort(found.begin(), found.end(), [](const Found& a, const Found& b) { return a.inode < b.inode; });
  }
  std::vector<Entry> entries(found.size());
  std::vector<size_t> gone;
  for (size_t i = 0; i < found.size(); ++i) {
    Entry& e = entries[i];
    const char* n = names.data() + found[i].at;
    e.name = n;
    e.hidden = n[0] == '.';
    struct stat st;
    if (::fstatat(fd_, n, &st, followLinks ? 0 : AT_SYMLINK_NOFOLLOW) != 0) {
      e.error = std::error_code(errno, std::system_category());
      // A link that leads nowhere is described as the link. Only an entry
      // removed meanwhile is absent: one that cannot be examined (a failing
      // disk, a dropped share) is listed with its error.
      if (::fstatat(fd_, n, &st, AT_SYMLINK_NOFOLLOW) != 0) {
        if (errno == ENOENT) {
          gone.push_back(i);
        } else {
          e.error = std::error_code(errno, std::system_category());
        }
        continue;
      }
    }
    e.kind = KindOf(st.st_mode);
    const unsigned char type = found[i].type;
    if (followLinks && e.kind == Kind::Folder && type != DT_DIR) {
      struct stat self;
      e.linked = type == DT_LNK ||
                 (type == DT_UNKNOWN && ::fstatat(fd_, n, &self, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(self.st_mode));
    }
    e.size = st.st_size;
    e.mtime = TimeOf(st.st_mtim);
    e.permissions = st.st_mode & 0777;
    e.id = {static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino)};
  }
  if (!gone.empty()) {
    size_t kept = 0;
    for (size_t i = 0, g = 0; i < entries.size(); ++i) {
      if (g < gone.size() && gone[g] == i) {
        ++g;
      } else {
        if (kept != i) entries[kept] = std::move(entries[i]);
        ++kept;
      }
    }
    entries.resize(kept);
  }
  return entries;
}

Folder Folder::OpenChild(const std::string& name, bool followLinks) const {
  int fd = ::openat(fd_, name.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC | (followLinks ? 0 : O_NOFOLLOW));
  if (fd < 0) Fail("open");
  return Folder(fd);
}

void Folder::MakeChild(const std::string& name, std::uint32_t permissions) const {
  if (::mkdirat(fd_, name.c_str(), (permissions & 0777) | S_IRWXU) != 0) Fail("mkdir");
}

Copied Folder::CopyIn(const Folder& from, const std::string& name, const std::string& temp, bool resume,
                      bool replaces) const {
  // Without blocking: a source replaced by a pipe since it was listed would
  // otherwise wait for a writer that never comes.
  Fd in(::openat(from.fd_, name.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
  if (in.get() < 0) FailSource("open source");
  struct stat st;
  if (::fstat(in.get(), &st) != 0) FailSource("fstat source");
  if (!S_ISREG(st.st_mode)) throw SourceFailure(NotRegularFile(), "copy");
  const mode_t mode = st.st_mode & 0777;
  // The owner may write it until it is complete: a read-only clip's leftover
  // must be resumable by an ordinary user.
  const mode_t writable = mode | S_IRUSR | S_IWUSR;

  off_t offset = 0;
  int outFd = -1;
  Hasher hasher;
  const bool resumable = resume && st.st_size >= kResumableSize;
  if (resumable) {
    int fd = ::openat(fd_, temp.c_str(), O_RDWR | O_NOFOLLOW | O_CLOEXEC);
    struct stat have;
    if (fd >= 0 && ::fstat(fd, &have) == 0 && S_ISREG(have.st_mode) && have.st_size <= st.st_size) {
      outFd = fd;
      offset = have.st_size;
      // Otherwise written again from the start.
      if (!SamePrefix(in.get(), fd, offset, hasher)) {
        offset = 0;
        hasher.Reset();
        if (::ftruncate(fd, 0) != 0) Fail("truncate temporary file");
      }
    } else if (fd >= 0) {
      ::close(fd);
    }
  } else if (!replaces && CanLinkByDescriptor()) {
    // A file without a name until it is complete: no temporary to create and
    // no rename. File systems without it (FUSE, FAT) refuse, and get the
    // temporary below.
    outFd = ::openat(fd_, ".", O_TMPFILE | O_RDWR | O_CLOEXEC, writable);
  }
  const bool anonymous = !resumable && outFd >= 0;
  if (outFd < 0) {
    outFd = ::openat(fd_, temp.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, writable);
    if (outFd < 0 && errno == EEXIST) {
      // Left by an earlier run that was stopped.
      if (::unlinkat(fd_, temp.c_str(), 0) != 0 && errno != ENOENT) Fail("remove temporary file");
      outFd = ::openat(fd_, temp.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, writable);
    }
    if (outFd < 0) Fail("create temporary file");
  }
  Fd out(outFd);

  const off_t started = offset;
  // The source's access time too: exFAT through FUSE takes a time left out as "now".
  const timespec times[2] = {st.st_atim, st.st_mtim};
  std::error_code error;
  bool sourceSide = false;
  struct stat after;
  const bool verifyNow = st.st_size >= kVerifiedBeforeNaming;
  std::optional<ReadBehind> reader;
  if (verifyNow) {
    const std::string self = "/proc/self/fd/" + std::to_string(out.get());
    const int direct = anonymous ? ::open(self.c_str(), O_RDONLY | O_DIRECT | O_CLOEXEC)
                                 : ::openat(fd_, temp.c_str(), O_RDONLY | O_DIRECT | O_NOFOLLOW | O_CLOEXEC);
    if (direct >= 0) reader.emplace(direct);  // else read back once the copy is complete
  }
  // The copy as the disk holds it, once durable.
  const auto readBack = [&](std::string& digest) {
    if (!reader) return ReadBack(out.get(), digest);
    if (reader->Finish(offset, digest)) return true;
    return errno == EINVAL && reader->ReadNothing() && ReadBack(out.get(), digest);
  };
  std::string onDisk;
  if ((verifyNow && !Preallocate(out.get(), offset, st.st_size)) ||
      !CopyData(in.get(), out.get(), offset, st.st_size, sourceSide, hasher, reader ? &*reader : nullptr) ||
      (::fstat(in.get(), &after) != 0 && (sourceSide = true))) {
    error = std::error_code(errno, std::system_category());
  } else if (offset != st.st_size || after.st_size != st.st_size || after.st_mtim.tv_sec != st.st_mtim.tv_sec ||
             after.st_mtim.tv_nsec != st.st_mtim.tv_nsec) {
    // Still being written: a prefix must never pass for the file.
    error = SourceChanged();
    sourceSide = true;
  } else if (!KeepMode(out.get(), mode) || (verifyNow && (::fdatasync(out.get()) != 0 || !readBack(onDisk)))) {
    error = std::error_code(errno, std::system_category());
  } else if (verifyNow && onDisk != hasher.Digest()) {
    error = CopyDiffers();
  } else if (anonymous) {
    if (::futimens(out.get(), times) != 0 || !LinkInPlace(out.get(), fd_, name, temp) || ::close(out.release()) != 0) {
      error = std::error_code(errno, std::system_category());
    }
  } else if (::close(out.release()) != 0 ||
             // After the close: some file systems (exFAT through FUSE) stamp
             // the time of the last write when the data reaches them there.
             ::utimensat(fd_, temp.c_str(), times, AT_SYMLINK_NOFOLLOW) != 0 ||
             ::renameat(fd_, temp.c_str(), fd_, name.c_str()) != 0) {
    error = std::error_code(errno, std::system_category());
  }
  if (error) {
    ::unlinkat(fd_, temp.c_str(), 0);
    if (sourceSide) throw SourceFailure(error, "copy");
    throw std::system_error(error, "copy");
  }
  return {offset - started, hasher.Digest(), verifyNow};
}

bool Folder::ReadsBackAs(const std::string& name, const std::string& digest) const {
  // Opened for direct reads at once where the file system takes them.
  int opened = ::openat(fd_, name.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_DIRECT);
  if (opened < 0 && errno == EINVAL) opened = ::openat(fd_, name.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
  Fd fd(opened);
  std::string onDisk;
  if (fd.get() < 0 || !ReadBack(fd.get(), onDisk)) Fail("read back");
  return onDisk == digest;
}

FileTime Folder::ChangedAt(const std::string& path) const {
  struct stat st;
  if (::fstatat(fd_, path.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) Fail("stat");
  return TimeOf(st.st_ctim);
}

std::string Folder::ReadFile(const std::string& name) const {
  Fd fd(::openat(fd_, name.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
  if (fd.get() < 0) Fail("open");
  std::string content;
  char buffer[1 << 16];
  for (;;) {
    const ssize_t got = ::read(fd.get(), buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) Fail("read");
    if (got == 0) return content;
    content.append(buffer, static_cast<size_t>(got));
  }
}

void Folder::ReplaceFile(const std::string& name, const std::string& content) const {
  // A fixed name: a stopped run's leftover is simply written over.
  const std::string temp = name + ".new";
  Fd fd(::openat(fd_, temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0644));
  if (fd.get() < 0) Fail("create");
  for (size_t done = 0; done < content.size();) {
    const ssize_t put = ::write(fd.get(), content.data() + done, content.size() - done);
    if (put < 0 && errno == EINTR) continue;
    if (put < 0) Fail("write");
    done += static_cast<size_t>(put);
  }
  // The content durable before the name: else a power cut after the rename
  // could leave the name on an empty file.
  if (::fdatasync(fd.get()) != 0) Fail("fdatasync");
  if (::close(fd.release()) != 0) Fail("close");
  if (::renameat(fd_, temp.c_str(), fd_, name.c_str()) != 0) Fail("rename");
  if (::fsync(fd_) != 0) Fail("fsync");
}

void Folder::RemoveFile(const std::string& name) const {
  if (::unlinkat(fd_, name.c_str(), 0) != 0) Fail("remove");
}

void Folder::RemoveEmptyFolder(const std::string& name) const {
  if (::unlinkat(fd_, name.c_str(), AT_REMOVEDIR) != 0) Fail("remove folder");
}

void Folder::Flush() const {
  if (::syncfs(fd_) != 0) Fail("syncfs");
}

}  // namespace mirror
