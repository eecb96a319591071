// The file system as the mirror sees it: open folders, their entries, and a
// copy that lands under its final name only when complete. One implementation
// per OS (folder_posix.cpp, folder_win32.cpp); failures throw std::system_error.
#pragma once

#include <cstdint>
#include <string>
#include <system_error>
#include <vector>

#ifdef _WIN32
#include <filesystem>
#endif

namespace mirror {

enum class Kind { File, Folder, Link, Other };

// How a file system keeps the modification times it is given.
enum class TimeKeeping {
  Exact,            // as given (ext4, XFS, Btrfs, tmpfs, NTFS)
  TenMilliseconds,  // cut down to 10 ms steps (exFAT)
  TwoSeconds,       // 2 s steps, cut down or rounded by the driver (FAT)
  Unknown,          // each stored time tells: one without a fraction of a second may have lost it
};

// A file time as the system keeps it: seconds since the epoch and the
// nanoseconds within that second. Held apart, so that times past 2262, which
// a count of nanoseconds cannot hold, compare as they are.
struct FileTime {
  std::int64_t seconds = 0;
  std::int32_t nanoseconds = 0;  // 0 to 999'999'999, also before 1970
  friend auto operator<=>(const FileTime&, const FileTime&) = default;
};

// Tells folders apart even when reached through different links.
struct Identity {
  std::uint64_t device = 0;
  std::uint64_t inode = 0;
  bool operator==(const Identity&) const = default;
};

struct Entry {
  std::string name;
  Kind kind = Kind::Other;
  bool hidden = false;
  std::int64_t size = 0;
  FileTime mtime;                 // modification time
  std::uint32_t permissions = 0;  // the mode's permission bits (0777)
  Identity id;
  // Set when the entry could not be examined (kind Other), or when a followed
  // link leads nowhere (kind Link).
  std::error_code error;
  bool linked = false;  // listed with followLinks, and reached through a link
};

// The mirror's own reasons for refusing a copy.
class MirrorErrorCategory : public std::error_category {
 public:
  const char* name() const noexcept override { return "mirror"; }
  std::string message(int code) const override {
    switch (code) {
      case 1:
        return "the file changed while it was copied";
      case 2:
        return "not a regular file (a pipe, socket or device)";
      default:
        return "the copy read back differs from the source";
    }
  }
};
inline const std::error_category& MirrorCategory() {
  static const MirrorErrorCategory category;
  return category;
}
// The failure of a copy whose source changed while it was read.
inline std::error_code SourceChanged() { return {1, MirrorCategory()}; }
// A source entry that is neither a file nor a folder: reading a pipe would
// wait for a writer forever, and a device is not media.
inline std::error_code NotRegularFile() { return {2, MirrorCategory()}; }
// A copy whose bytes, read back from the disk, are not the source's.
inline std::error_code CopyDiffers() { return {3, MirrorCategory()}; }

// A copy that failed on its source's side (opening or reading it, or a source
// that changed meanwhile); any other failure of a copy is the destination's.
class SourceFailure : public std::system_error {
 public:
  using std::system_error::system_error;
};

// Whether copies here are hashed and read back (Linux). The Windows build is
// only the tests' stand-in for robocopy.exe, which does neither.
#ifdef _WIN32
inline constexpr bool kCopiesVerified = false;
#else
inline constexpr bool kCopiesVerified = true;
#endif

// What CopyIn put in place.
struct Copied {
  std::int64_t bytes = 0;  // copied by this run (a resumed copy: the rest)
  // The XXH3 128-bit hash of the source's bytes as `xxhsum -H2` prints it;
  // empty where this system's copies carry none.
  std::string digest;
  bool verified = false;  // read back from the disk before it got its name
};

class Folder {
 public:
  // Follows links. Throws std::system_error (ENOENT, ENOTDIR, ...).
  static Folder Open(const std::string& path);
  // Creates the folder and its missing parents.
  static void Create(const std::string& path);

  Folder(Folder&& other) noexcept;
  Folder& operator=(Folder&&) = delete;
  ~Folder();

  Identity Id() const;
  // How the file system that holds this folder keeps modification times.
  TimeKeeping Times() const;
  // This folder's identity, then those of the folders above it up to the root.
  std::vector<Identity> PathIds() const;
  // Whether this folder lies on a file system of the kernel's own (proc,
  // sysfs, devtmpfs, cgroup...), which holds no files to mirror.
  bool OnPseudoFileSystem() const;
  // Whether this folder is the root of its file system.
  bool IsFileSystemRoot() const;
  // Whether names that differ only in letter case name one entry here. Tried
  // with a file named `probe` (in small letters), removed again; false when
  // that cannot be made.
  bool IgnoresCase(const std::string& probe) const;
  // Waits until no other run holds this folder, then holds it until the
  // object ends. Gives up silently where the file system has no locks.
  void Hold();
  // followLinks: entries reached through a link describe the link's target;
  // otherwise a link is a Kind::Link entry of its own.
  std::vector<Entry> List(bool followLinks) const;
  Folder OpenChild(const std::string& name, bool followLinks) const;
  // Owner access is always granted, so that the folder can be filled.
  void MakeChild(const std::string& name, std::uint32_t permissions) const;

  // Copies file `name` of `from` here: written to `temp`, given the source's
  // modification time, then renamed to `name`, replacing what is there.
  // resume: continue from what `temp` already holds, for a file big enough to
  // be worth it. A file that does not replace one (`replaces` false) and is
  // not resumable is written without a name where the file system allows,
  // and linked as `name` when complete. Returns the bytes copied.
  // A source whose size or time changed meanwhile, or that gave fewer bytes
  // than its size, is not put in place: throws SourceChanged(); one that is
  // no longer a regular file throws NotRegularFile(). Failures on the
  // source's side throw SourceFailure. The copy is writable by its owner
  // until complete, so that /Z can resume it, and then takes the source's
  // permission bits. /Z resumes only from a temporary whose bytes are the
  // source's; any other is written again from the start.
  // A big copy is made durable and read back from the disk before it gets
  // its name; one that differs is discarded and throws CopyDiffers(). A
  // smaller one is left to ReadsBackAs after the run's flush.
  Copied CopyIn(const Folder& from, const std::string& name, const std::string& temp, bool resume, bool replaces) const;
  // Whether file `name`, read from the disk rather than from memory (its
  // cached pages dropped first, so call it once the data is durable), has the
  // hash `digest`. Throws when it cannot be read.
  bool ReadsBackAs(const std::string& name, const std::string& digest) const;
  // When the file at `path` (below this folder) last changed in any way,
  // its data, its name or its attributes; throws when there is none.
  FileTime ChangedAt(const std::string& path) const;
  // The content of the small file `name`; throws ENOENT when there is none.
  std::string ReadFile(const std::string& name) const;
  // Puts `content` durably in place as file `name`, replacing it whole: a
  // stop at any moment leaves the old content or the new.
  void ReplaceFile(const std::string& name, const std::string& content) const;
  // Whether file `name` is open for writing by any process. Where the system
  // cannot tell (a file of another owner, a network share), a file whose
  // modification or change time lies within the last 2 seconds counts as
  // being written; the check after the copy guards the rest.
  bool OpenForWriting(const std::string& name) const;
  // Removes a file or a link (never what it points to).
  void RemoveFile(const std::string& name) const;
  // Removes an empty folder; a folder that is not empty throws ENOTEMPTY.
  void RemoveEmptyFolder(const std::string& name) const;
  // Makes everything written to this folder's file system durable.
  void Flush() const;

 private:
#ifdef _WIN32
  explicit Folder(std::filesystem::path path) : path_(std::move(path)) {}
  std::filesystem::path path_;
  void* hold_ = nullptr;  // the lock file's handle while held
#else
  explicit Folder(int fd) : fd_(fd) {}
  int fd_;
#endif
};

}  // namespace mirror
