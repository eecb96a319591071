// Directory-change notification: a handle on one folder and a blocking wait
// that fills a buffer with change records.
//
// Records use one layout on every system, little-endian, each starting on a
// 4-byte boundary: NextEntryOffset (4 bytes, 0 in the last record), Action
// (4: 1 added, 2 removed, 3 modified, 4 renamed old name, 5 renamed new name),
// FileNameLength (4, in bytes), then the name relative to the watched folder in
// UTF-16 code units without a terminating zero.
#pragma once

#include <cstdint>
#include <string>

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

// InvalidDirWatch when the folder cannot be opened. Where the system allows,
// changes are gathered from here on, so none is missed before the first wait;
// watchSubtree and filter must then be those of every wait on the handle.
DirWatchHandle OpenDirWatch(const std::u16string& folder, bool watchSubtree, std::uint32_t filter);

// Blocks until a change matching filter happens in the folder (or below it with
// watchSubtree), then fills buffer (4-byte aligned). False when the wait fails,
// always so for InvalidDirWatch, and where waking is supported once the handle
// has been woken. True with bytesReturned 0 when changes were lost.
// One handle serves one caller whose filter and subtree flag do not change.
bool ReadDirChanges(DirWatchHandle handle, void* buffer, std::uint32_t length, bool watchSubtree, std::uint32_t filter,
                    std::uint32_t& bytesReturned);

// From any thread, while the handle is open (the caller makes sure it is not
// closed meanwhile). Windows: ends the wait in progress on handle and every
// later one, so a watch that is no longer wanted lets go of its folder at once
// (an open folder handle keeps a card from being ejected). Linux: nothing; an
// inotify watch keeps no folder busy, and the wait ends at the next change.
void WakeDirWatch(DirWatchHandle handle);

void CloseDirWatch(DirWatchHandle handle);

}  // namespace platform
