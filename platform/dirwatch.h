// Directory-change notification: a handle on one folder and a blocking wait
// that returns the changes seen in it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace platform {

using DirWatchHandle = std::uintptr_t;
inline constexpr DirWatchHandle InvalidDirWatch = ~DirWatchHandle(0);

// Notify-filter bits.
inline constexpr std::uint32_t NotifyFileName = 0x1;
inline constexpr std::uint32_t NotifyDirName = 0x2;
inline constexpr std::uint32_t NotifyAttributes = 0x4;
inline constexpr std::uint32_t NotifySize = 0x8;
inline constexpr std::uint32_t NotifyLastWrite = 0x10;
inline constexpr std::uint32_t NotifyLastAccess = 0x20;
inline constexpr std::uint32_t NotifyCreation = 0x40;
inline constexpr std::uint32_t NotifySecurity = 0x100;

enum class DirAction : std::uint8_t { Added, Removed, Modified, RenamedOld, RenamedNew };

struct DirChange {
  DirAction action = DirAction::Added;
  std::u16string name;  // relative to the watched folder
};

enum class DirReadStatus : std::uint8_t {
  Changes,      // changes holds one or more, in the order they happened
  ChangesLost,  // the system dropped changes and nobody knows which; changes is empty
  Failed,       // the wait failed or the handle was woken; changes is empty
  FolderGone,   // the folder itself went away (deleted, moved away, its disk
                // unmounted); changes is empty, and nothing more is seen until
                // DirWatchFolderBack has found it again
};

// A batch holds at most this many changes. Past it the system's report (a
// large tree moved in, say) is dropped and the batch says changes lost: one
// look at the whole folder costs less than that many reports.
inline constexpr std::size_t MaxBatchChanges = 4096;

// Whether a watch reports the close of a file that was open for writing:
// inotify does (a modification); ReadDirectoryChangesW does not.
#ifdef _WIN32
inline constexpr bool DirWatchReportsClose = false;
#else
inline constexpr bool DirWatchReportsClose = true;
#endif

struct DirReadResult {
  DirReadStatus status = DirReadStatus::Failed;
  std::vector<DirChange> changes;
};

// InvalidDirWatch when the folder cannot be watched, with the system's error
// code in error (errno on POSIX, the last-error code on Windows). Where the
// system allows, changes are gathered from here on, so none is missed before
// the first wait.
DirWatchHandle OpenDirWatch(const std::u16string& folder, bool watchSubtree, std::uint32_t filter, int& error);

// What an error code of OpenDirWatch means, in the system's words, with the
// limit to raise where a per-user limit refused the watch.
std::string DirWatchErrorText(int error);

// Blocks until a change matching the handle's filter happens in its folder (or
// below it, when opened with watchSubtree). Failed, at once, for
// InvalidDirWatch and, where waking is supported, once the handle has been
// woken. One handle serves one waiting thread.
DirReadResult ReadDirChanges(DirWatchHandle handle);

// After FolderGone: waits up to about a second (less when the system's mount
// table changes) and true once the folder is back at its path, on a mounted
// disk again where it lay on one, and watched as when opened. False when it is
// still missing, and at once when the handle has been woken.
bool DirWatchFolderBack(DirWatchHandle handle);

// From any thread, while the handle is open (the caller makes sure it is not
// closed meanwhile): ends the wait in progress on handle and every later one,
// so a watch that is no longer wanted lets go of its folder and of the
// system's per-user watch resources at once (an open folder handle keeps a
// card from being ejected).
void WakeDirWatch(DirWatchHandle handle);

void CloseDirWatch(DirWatchHandle handle);

}  // namespace platform
