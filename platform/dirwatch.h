// Directory-change notification: a handle on one folder and a blocking wait
// that returns the changes seen in it.
#pragma once

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
};

struct DirReadResult {
  DirReadStatus status = DirReadStatus::Failed;
  std::vector<DirChange> changes;
};

// InvalidDirWatch when the folder cannot be opened. Where the system allows,
// changes are gathered from here on, so none is missed before the first wait.
DirWatchHandle OpenDirWatch(const std::u16string& folder, bool watchSubtree, std::uint32_t filter);

// Blocks until a change matching the handle's filter happens in its folder (or
// below it, when opened with watchSubtree). Failed, at once, for
// InvalidDirWatch and, where waking is supported, once the handle has been
// woken. One handle serves one waiting thread.
DirReadResult ReadDirChanges(DirWatchHandle handle);

// From any thread, while the handle is open (the caller makes sure it is not
// closed meanwhile). Windows: ends the wait in progress on handle and every
// later one, so a watch that is no longer wanted lets go of its folder at once
// (an open folder handle keeps a card from being ejected). Linux: nothing; an
// inotify watch keeps no folder busy, and the wait ends at the next change.
void WakeDirWatch(DirWatchHandle handle);

void CloseDirWatch(DirWatchHandle handle);

}  // namespace platform
