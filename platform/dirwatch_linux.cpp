// Directory changes on Linux through inotify.
//
// inotify watches one folder per watch, so a subtree takes a watch on every
// folder in it. The folder's own watch is added when the handle is opened;
// those of the folders below it by the first wait, on the waiting thread, so
// a large tree does not hold up the opener. What changes below meanwhile is
// not missed: each entry found there that changed (ctime) since the open is
// reported as modified. Folders that appear later (created or moved in) get
// their watch as they come; entries they already hold are reported as added.
//
// Filter bit                 inotify events              reported as
// FILE_NAME  (0x1)           IN_CREATE, IN_DELETE,       added, removed, renamed
//                            IN_MOVED_FROM, IN_MOVED_TO  old/new (files)
// DIR_NAME   (0x2)           the same, with IN_ISDIR     the same (folders)
// ATTRIBUTES (0x4)           IN_ATTRIB                   modified
// SIZE       (0x8)           IN_MODIFY, IN_CLOSE_WRITE   modified
// LAST_WRITE (0x10)          IN_MODIFY, IN_CLOSE_WRITE,  modified
//                            IN_ATTRIB
// LAST_ACCESS (0x20)         IN_ATTRIB (times set)       modified
// CREATION   (0x40)          none: no settable birth time
// SECURITY   (0x100)         IN_ATTRIB (mode, owner)     modified
//
// The close of a file that was open for writing is reported as a
// modification: it is the moment a file being written is complete.
//
// LAST_ACCESS deliberately leaves out IN_ACCESS: every read of a file would
// report it, so copying out of a watched folder would report the folder's own
// files again and again.
//
// A rename inside the watched tree (an IN_MOVED_FROM and IN_MOVED_TO pair with
// one cookie) gives renamed-old then renamed-new; a move out of the tree gives
// removed, a move in gives added. IN_Q_OVERFLOW gives changes lost.
//
// When a watch cannot be added because the user's inotify watch limit is
// reached (raise it with the sysctl fs.inotify.max_user_watches), the wait
// reports changes lost instead of watching part of the tree in silence; every
// later wait retries the missing watches first and keeps reporting changes
// lost while any is still missing.
//
// More than MaxBatchChanges changes at once (a large tree moved in) are
// reported as changes lost; the folders in it still get their watches.
//
// The watched folder itself going away (deleted, moved away, its file system
// unmounted: IN_DELETE_SELF, IN_MOVE_SELF, IN_UNMOUNT, IN_IGNORED on its
// watch) ends the watch with FolderGone. It is back when its path names a
// folder again and, where it lay on a mounted file system, a file system is
// mounted there again: the bare mount point left by an unmount is not the
// folder. The check runs every second and whenever the mount table changes.
// A folder above it renamed or removed tells its watch nothing: while nothing
// happens, the path is looked at every second too, and a path that no longer
// leads to the watched folder counts as the folder gone.
//
// Each handle has an eventfd beside its inotify descriptor; waking the handle
// ends its wait at once, so a monitor switched off lets go of its inotify
// instance (a per-user resource, 128 by default) without waiting for a change.
#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <time.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <deque>
#include <iterator>
#include <string>
#include <unordered_map>

#include "platform/dirwatch.h"
#include "platform/text.h"

namespace platform {

namespace {

// The filter bits that ask for modifications.
constexpr std::uint32_t ModifyFilter =
    NotifyAttributes | NotifySize | NotifyLastWrite | NotifyLastAccess | NotifySecurity;

// How long a wait for a folder that went away lasts, unless the mount table
// changes first; and how often a quiet watch checks its folder's path.
constexpr int FolderBackCheckMs = 1000;

struct MoveOut {
  std::uint32_t cookie;
  std::string name;
  bool isDir;
};

class Watcher {
 public:
  Watcher(int fd, int wake, std::string root) : fd_(fd), wake_(wake), root_(std::move(root)) {}
  ~Watcher() {
    close(fd_);
    close(wake_);
    if (mounts_ >= 0) close(mounts_);
  }

  // 0, or the errno that kept the folder from being watched.
  int Open(bool subtree, std::uint32_t filter);
  DirReadResult Read();
  bool FolderBack();
  void Wake() const;

 private:
  // Which entries of a folder given a watch are reported.
  enum class Report { None, All, ChangedSinceOpen };
  void WatchSubtree();
  void AddFolder(const std::string& rel, Report report);
  void Translate(const char* events, ssize_t size);
  void Translate(const inotify_event& ev);
  void FlushMoveOut();
  void RenameFolders(const std::string& from, const std::string& to);
  void ForgetFolders(const std::string& rel);
  void Push(DirAction action, const std::string& rel, bool isDir);
  bool Readable(int timeoutMs) const;
  bool Woken() const;
  bool WaitForEvents();
  bool StillAtItsPath() const;
  int Arm();
  void ForgetAll();
  bool Present() const;
  std::string Full(const std::string& rel) const { return rel.empty() ? root_ : root_ + "/" + rel; }

  int fd_;
  int wake_;         // eventfd: readable once the handle was woken
  int mounts_ = -1;  // /proc/self/mountinfo, polled while the folder is gone
  std::string root_;
  std::string mountPoint_;  // the mount point the folder lay on when opened; "" for the root file system
  bool started_ = false;
  timespec opened_{};  // ctime from which an entry counts as changed
  bool subtree_ = false;
  std::uint32_t filter_ = 0;
  std::uint32_t mask_ = 0;
  int rootWd_ = -1;
  dev_t rootDev_ = 0;  // the watched folder, as found at its path when armed
  ino_t rootIno_ = 0;
  bool rootGone_ = false;
  bool lost_ = false;                             // changes lost since the last batch
  bool missing_ = false;                          // a folder of the tree has no watch
  std::unordered_map<int, std::string> folders_;  // watch -> folder relative to the root ("" is the root)
  std::deque<DirChange> pending_;
  bool moveOutHeld_ = false;
  MoveOut moveOut_{};
};

std::string Join(const std::string& folder, const char* name) {
  return folder.empty() ? std::string(name) : folder + "/" + name;
}

bool IsUnder(const std::string& path, const std::string& folder) {
  return path == folder ||
         (path.size() > folder.size() && path.compare(0, folder.size(), folder) == 0 && path[folder.size()] == '/');
}

std::uint32_t MaskFor(std::uint32_t filter, bool subtree) {
  std::uint32_t mask = 0;
  // Folder events are needed to follow the tree even when their names are not reported.
  if (filter & (NotifyFileName | NotifyDirName) || subtree) mask |= IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO;
  if (filter & (NotifySize | NotifyLastWrite)) mask |= IN_MODIFY | IN_CLOSE_WRITE;
  if (filter & (NotifyAttributes | NotifyLastWrite | NotifyLastAccess | NotifySecurity)) mask |= IN_ATTRIB;
  return mask;
}

std::string ParentOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == 0 || slash == std::string::npos ? std::string("/") : path.substr(0, slash);
}

// A file system is mounted on folder (it lies on another device than its parent).
bool IsMountPoint(const std::string& folder) {
  struct stat self {
  }, parent{};
  return stat(folder.c_str(), &self) == 0 && stat(ParentOf(folder).c_str(), &parent) == 0 &&
         self.st_dev != parent.st_dev;
}

// The nearest folder at or above path that a file system is mounted on; ""
// when that is the root file system.
std::string MountPointOf(const std::string& path) {
  const std::unique_ptr<char, decltype(&std::free)> real(realpath(path.c_str(), nullptr), &std::free);
  if (!real) return {};
  for (std::string folder = real.get(); folder != "/"; folder = ParentOf(folder))
    if (IsMountPoint(folder)) return folder;
  return {};
}

int Watcher::Open(bool subtree, std::uint32_t filter) {
  subtree_ = subtree;
  filter_ = filter;
  mask_ = MaskFor(filter, subtree);
  mountPoint_ = MountPointOf(root_);
  return Arm();
}

// Watches the folder itself, afresh; its subtree follows at the next wait.
int Watcher::Arm() {
  // The coarse clock is the one file times are taken from: a change after
  // this moment has a ctime no earlier than it.
  clock_gettime(CLOCK_REALTIME_COARSE, &opened_);
  const int wd = inotify_add_watch(fd_, root_.c_str(), mask_ | IN_ONLYDIR | IN_DELETE_SELF | IN_MOVE_SELF);
  if (wd < 0) return errno;
  struct stat st {};
  if (stat(root_.c_str(), &st) == 0) {
    rootDev_ = st.st_dev;
    rootIno_ = st.st_ino;
  }
  rootWd_ = wd;
  folders_.clear();
  folders_[rootWd_] = std::string();
  rootGone_ = started_ = lost_ = missing_ = moveOutHeld_ = false;
  pending_.clear();
  return 0;
}

// The folder went away: every watch left (a folder moved away keeps them) goes too.
void Watcher::ForgetAll() {
  for (const auto& [wd, rel] : folders_) inotify_rm_watch(fd_, wd);
  folders_.clear();
  rootWd_ = -1;
}

bool Watcher::Present() const {
  struct stat st {};
  return stat(root_.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && (mountPoint_.empty() || IsMountPoint(mountPoint_));
}

bool Watcher::FolderBack() {
  if (mounts_ < 0) mounts_ = open("/proc/self/mountinfo", O_RDONLY | O_CLOEXEC);
  // The mount table reports a change as a priority event.
  pollfd p[2] = {{wake_, POLLIN, 0}, {mounts_, POLLPRI, 0}};
  poll(p, mounts_ >= 0 ? 2 : 1, FolderBackCheckMs);
  if (Woken() || !Present()) return false;
  // What the old watches still queued is about a tree no longer watched.
  alignas(inotify_event) char stale[16384];
  while (Readable(0) && read(fd_, stale, sizeof stale) > 0) {
  }
  return Arm() == 0;
}

void Watcher::Wake() const {
  const std::uint64_t one = 1;
  // Fails only when the counter would overflow: then the handle is woken already.
  if (write(wake_, &one, sizeof one) < 0) return;
}

void Watcher::WatchSubtree() {
  started_ = true;  // also when gone: FolderBack arms afresh
  if (subtree_ && !rootGone_) AddFolder(std::string(), Report::ChangedSinceOpen);
  if (missing_) lost_ = true;
}

bool ChangedSince(const timespec& changed, const timespec& since) {
  return changed.tv_sec > since.tv_sec || (changed.tv_sec == since.tv_sec && changed.tv_nsec >= since.tv_nsec);
}

// Watches every folder below rel (rel itself when it is not the root) and
// queues the entries found there that report asks for.
void Watcher::AddFolder(const std::string& rel, Report report) {
  if (!rel.empty()) {
    const int wd = inotify_add_watch(fd_, Full(rel).c_str(), mask_ | IN_ONLYDIR | IN_DONT_FOLLOW);
    if (wd < 0) {
      // A folder already gone needs no watch; any other refusal leaves part of the tree unwatched.
      if (errno != ENOENT && errno != ENOTDIR) missing_ = true;
      return;
    }
    folders_[wd] = rel;
  }
  DIR* dir = opendir(Full(rel).c_str());
  if (!dir) return;
  while (const dirent* entry = readdir(dir)) {
    if (std::strcmp(entry->d_name, ".") == 0 || std::strcmp(entry->d_name, "..") == 0) continue;
    bool isDir = entry->d_type == DT_DIR;
    struct stat st {};
    // The root's own entries are watched since the open.
    const bool lookForChange = report == Report::ChangedSinceOpen && !rel.empty();
    const bool looked = (entry->d_type == DT_UNKNOWN || lookForChange) &&
                        fstatat(dirfd(dir), entry->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0;
    if (entry->d_type == DT_UNKNOWN) isDir = looked && S_ISDIR(st.st_mode);
    const std::string child = Join(rel, entry->d_name);
    if (report == Report::All) Push(DirAction::Added, child, isDir);
    if (lookForChange && looked && ChangedSince(st.st_ctim, opened_))
      Push(filter_ & ModifyFilter ? DirAction::Modified : DirAction::Added, child, isDir);
    if (isDir) AddFolder(child, report);
  }
  closedir(dir);
}

void Watcher::Push(DirAction action, const std::string& rel, bool isDir) {
  if (action != DirAction::Modified && !(filter_ & (isDir ? NotifyDirName : NotifyFileName))) return;
  if (lost_) return;  // the batch is told as changes lost anyway
  if (pending_.size() >= MaxBatchChanges) {
    lost_ = true;
    pending_.clear();
    return;
  }
  pending_.push_back({action, FromUtf8(rel)});
}

void Watcher::RenameFolders(const std::string& from, const std::string& to) {
  for (auto& [wd, rel] : folders_)
    if (IsUnder(rel, from)) rel = to + rel.substr(from.size());
}

void Watcher::ForgetFolders(const std::string& rel) {
  for (auto it = folders_.begin(); it != folders_.end();) {
    if (IsUnder(it->second, rel)) {
      inotify_rm_watch(fd_, it->first);
      it = folders_.erase(it);
    } else {
      ++it;
    }
  }
}

// The held IN_MOVED_FROM had no partner: the entry left the watched tree.
void Watcher::FlushMoveOut() {
  moveOutHeld_ = false;
  Push(DirAction::Removed, moveOut_.name, moveOut_.isDir);
  if (moveOut_.isDir && subtree_) ForgetFolders(moveOut_.name);
}

void Watcher::Translate(const inotify_event& ev) {
  if (ev.mask & IN_Q_OVERFLOW) {
    // Folders created meanwhile may lack a watch: look again at the next wait.
    lost_ = true;
    missing_ = missing_ || subtree_;
    return;
  }
  if (ev.mask & IN_IGNORED) {
    if (ev.wd == rootWd_) rootGone_ = true;
    folders_.erase(ev.wd);
    return;
  }
  if (ev.wd == rootWd_ && (ev.mask & (IN_DELETE_SELF | IN_MOVE_SELF | IN_UNMOUNT))) {
    rootGone_ = true;
    return;
  }
  const auto folder = folders_.find(ev.wd);
  // Events about a watched folder itself are reported by its parent's watch.
  if (folder == folders_.end() || ev.len == 0) return;
  const std::string name = Join(folder->second, ev.name);
  const bool isDir = ev.mask & IN_ISDIR;

  if (moveOutHeld_ && !((ev.mask & IN_MOVED_TO) && ev.cookie == moveOut_.cookie)) FlushMoveOut();

  if (ev.mask & IN_MOVED_FROM) {
    moveOutHeld_ = true;
    moveOut_ = {ev.cookie, name, isDir};
  } else if (ev.mask & IN_MOVED_TO) {
    if (moveOutHeld_) {
      moveOutHeld_ = false;
      Push(DirAction::RenamedOld, moveOut_.name, isDir);
      Push(DirAction::RenamedNew, name, isDir);
      if (isDir && subtree_) RenameFolders(moveOut_.name, name);
    } else {
      Push(DirAction::Added, name, isDir);
      if (isDir && subtree_) AddFolder(name, Report::All);
    }
  } else if (ev.mask & IN_CREATE) {
    Push(DirAction::Added, name, isDir);
    if (isDir && subtree_) AddFolder(name, Report::All);
  } else if (ev.mask & IN_DELETE) {
    Push(DirAction::Removed, name, isDir);
  } else if (ev.mask & (IN_MODIFY | IN_CLOSE_WRITE)) {
    if (filter_ & (NotifySize | NotifyLastWrite)) Push(DirAction::Modified, name, isDir);
  } else if (ev.mask & IN_ATTRIB) {
    if (filter_ & (NotifyAttributes | NotifyLastWrite | NotifyLastAccess | NotifySecurity))
      Push(DirAction::Modified, name, isDir);
  }
}

void Watcher::Translate(const char* events, ssize_t size) {
  for (ssize_t at = 0; at < size;) {
    const auto* ev = reinterpret_cast<const inotify_event*>(events + at);
    Translate(*ev);
    at += static_cast<ssize_t>(sizeof(inotify_event) + ev->len);
  }
}

bool Watcher::Readable(int timeoutMs) const {
  pollfd p{fd_, POLLIN, 0};
  return poll(&p, 1, timeoutMs) > 0;
}

bool Watcher::Woken() const {
  pollfd p{wake_, POLLIN, 0};
  return poll(&p, 1, 0) > 0;
}

bool Watcher::StillAtItsPath() const {
  struct stat st {};
  return stat(root_.c_str(), &st) == 0 && st.st_dev == rootDev_ && st.st_ino == rootIno_;
}

// Blocks until events are queued or the folder is found gone from its path;
// false once the handle has been woken.
bool Watcher::WaitForEvents() {
  pollfd p[2] = {{fd_, POLLIN, 0}, {wake_, POLLIN, 0}};
  for (;;) {
    const int ready = poll(p, 2, FolderBackCheckMs);
    if (ready > 0) return !(p[1].revents & POLLIN);
    if (ready < 0 && errno != EINTR) return false;
    if (ready == 0 && !StillAtItsPath()) {
      rootGone_ = true;
      return true;
    }
  }
}

DirReadResult Watcher::Read() {
  if (!started_) {
    WatchSubtree();
  } else if (missing_ && !rootGone_) {
    missing_ = false;
    AddFolder(std::string(), Report::None);
  }
  alignas(inotify_event) char events[16384];
  for (;;) {
    // What the kernel holds already is read first: an overflow at its end
    // makes every record before it moot, and a flood is told once, not once
    // per MaxBatchChanges.
    const bool lost = lost_ || (missing_ && !pending_.empty());
    if (lost && !Readable(0)) {
      lost_ = false;
      pending_.clear();
      moveOutHeld_ = false;
      return {DirReadStatus::ChangesLost, {}};
    }
    if (!lost && !pending_.empty() && !moveOutHeld_ && !Readable(0)) break;
    if (rootGone_) {
      // What happened before the folder went is told first.
      if (moveOutHeld_) FlushMoveOut();
      if (!pending_.empty() && !lost_) break;
      ForgetAll();
      return {DirReadStatus::FolderGone, {}};
    }
    // The partner of a move is queued right behind it, or the entry left the tree.
    if (moveOutHeld_ && !Readable(10)) {
      FlushMoveOut();
      continue;
    }
    if (!WaitForEvents()) return {};
    if (rootGone_) continue;  // gone from its path
    const ssize_t n = read(fd_, events, sizeof events);
    if (n < 0) {
      if (errno == EINTR) continue;
      return {};
    }
    Translate(events, n);
  }
  DirReadResult batch{DirReadStatus::Changes,
                      {std::make_move_iterator(pending_.begin()), std::make_move_iterator(pending_.end())}};
  pending_.clear();
  return batch;
}

}  // namespace

DirWatchHandle OpenDirWatch(const std::u16string& folder, bool watchSubtree, std::uint32_t filter, int& error) {
  const auto native = PathToUtf8(folder);
  if (!native) {
    error = EINVAL;
    return InvalidDirWatch;
  }
  const int fd = inotify_init1(IN_CLOEXEC);
  if (fd < 0) {
    error = errno;
    return InvalidDirWatch;
  }
  const int wake = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (wake < 0) {
    error = errno;
    close(fd);
    return InvalidDirWatch;
  }
  auto watcher = std::make_unique<Watcher>(fd, wake, *native);
  // Watching starts now, not at the first wait: a file that lands right after
  // the monitor is switched on is reported.
  error = watcher->Open(watchSubtree, filter);
  if (error != 0) return InvalidDirWatch;
  return reinterpret_cast<DirWatchHandle>(watcher.release());
}

std::string DirWatchErrorText(int error) {
  switch (error) {
    case EMFILE:
      return std::string(std::strerror(error)) +
             " (or the user's limit of inotify instances is reached: sysctl fs.inotify.max_user_instances)";
    case ENOSPC:
      return "The user's limit of inotify watches is reached (sysctl fs.inotify.max_user_watches)";
    default:
      return std::strerror(error);
  }
}

DirReadResult ReadDirChanges(DirWatchHandle handle) {
  if (handle == InvalidDirWatch) return {};
  return reinterpret_cast<Watcher*>(handle)->Read();
}

bool DirWatchFolderBack(DirWatchHandle handle) {
  return handle != InvalidDirWatch && reinterpret_cast<Watcher*>(handle)->FolderBack();
}

void WakeDirWatch(DirWatchHandle handle) {
  if (handle != InvalidDirWatch) reinterpret_cast<Watcher*>(handle)->Wake();
}

void CloseDirWatch(DirWatchHandle handle) {
  if (handle != InvalidDirWatch) delete reinterpret_cast<Watcher*>(handle);
}

}  // namespace platform
