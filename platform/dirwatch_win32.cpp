// Directory changes on Windows: ReadDirectoryChangesW, overlapped.
//
// The first read is issued when the handle is opened, so changes are gathered
// from that moment and not only from the worker's first wait; each completed
// read issues the next before its records are handed on. A wait also ends when
// the handle is woken (WakeDirWatch), so a monitor that is switched off lets go
// of its folder at once: a card can be ejected and a deleted folder goes away.
//
// A read that ends without records while the folder no longer answers to its
// path (deleted, its volume removed) means the folder is gone: the handle is
// closed, so the deletion completes, and the path is looked at every second
// until it names a folder that opens again. A quiet watch looks at its path
// every second as well: a folder handle follows its folder when it is renamed
// away, and tells nothing.
#include <windows.h>

#include <cstddef>
#include <cstring>
#include <vector>

#include "platform/dirwatch.h"
#include "platform/longpath.h"
#include "platform/process.h"
#include "platform/win32util.h"

namespace platform {

namespace {

// The system fills this buffer; a batch that does not fit is dropped by the
// system, which then reports no records or ERROR_NOTIFY_ENUM_DIR: changes lost.
constexpr DWORD ReadBufferSize = 32768;
// A record takes at least 16 bytes, so a batch never passes the bound.
static_assert(ReadBufferSize / 16 <= MaxBatchChanges);

// How long a wait for a folder that went away lasts, and how often a quiet
// watch checks that its folder is still at its path.
constexpr DWORD FolderBackCheckMs = 1000;

struct Watch {
  std::u16string path;  // as the system takes it
  HANDLE folder = INVALID_HANDLE_VALUE;
  HANDLE done = nullptr;  // the read's completion
  HANDLE wake = nullptr;  // set once, by WakeDirWatch
  OVERLAPPED overlapped{};
  bool pending = false;
  BOOL subtree = FALSE;
  DWORD filter = 0;
  std::vector<DWORD> buffer = std::vector<DWORD>(ReadBufferSize / sizeof(DWORD));

  ~Watch() {
    Finish();
    if (folder != INVALID_HANDLE_VALUE) CloseHandle(folder);
    if (done) CloseHandle(done);
    if (wake) CloseHandle(wake);
  }

  void Issue() {
    overlapped = OVERLAPPED{};
    overlapped.hEvent = done;
    pending = ReadDirectoryChangesW(folder, buffer.data(), ReadBufferSize, subtree, filter, nullptr, &overlapped,
                                    nullptr) != FALSE;
  }

  // Cancels a read in progress and waits until the system has let go of the
  // buffer, whatever the read's outcome.
  void Finish() {
    if (!pending) return;
    CancelIoEx(folder, &overlapped);
    DWORD ignored = 0;
    GetOverlappedResult(folder, &overlapped, &ignored, TRUE);
    pending = false;
  }

  // The folder went away: let go of it, so that a deletion completes.
  DirReadResult Gone() {
    Finish();
    CloseHandle(folder);
    folder = INVALID_HANDLE_VALUE;
    return {DirReadStatus::FolderGone, {}};
  }
};

HANDLE OpenFolder(const std::u16string& path) {
  return CreateFileW(W(path), GENERIC_READ | FILE_LIST_DIRECTORY,
                     FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                     FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OVERLAPPED, nullptr);
}

// A folder being deleted answers as access denied: not present either.
bool FolderPresent(const std::u16string& path) {
  const DWORD attributes = GetFileAttributesW(W(path));
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

Watch* Of(DirWatchHandle handle) { return reinterpret_cast<Watch*>(handle); }

DirAction ActionOf(DWORD code) {
  switch (code) {
    case FILE_ACTION_REMOVED:
      return DirAction::Removed;
    case FILE_ACTION_MODIFIED:
      return DirAction::Modified;
    case FILE_ACTION_RENAMED_OLD_NAME:
      return DirAction::RenamedOld;
    case FILE_ACTION_RENAMED_NEW_NAME:
      return DirAction::RenamedNew;
    default:
      return DirAction::Added;
  }
}

// The FILE_NOTIFY_INFORMATION records of a batch of count bytes. A record
// that would reach past the batch ends it: the system never writes one.
std::vector<DirChange> Parse(const unsigned char* batch, DWORD count) {
  constexpr DWORD header = offsetof(FILE_NOTIFY_INFORMATION, FileName);
  std::vector<DirChange> changes;
  for (DWORD at = 0; count - at >= header;) {
    FILE_NOTIFY_INFORMATION record;
    std::memcpy(&record, batch + at, header);
    if (record.FileNameLength > count - at - header) break;
    DirChange& change = changes.emplace_back();
    change.action = ActionOf(record.Action);
    change.name.resize(record.FileNameLength / sizeof(char16_t));
    std::memcpy(change.name.data(), batch + at + header, change.name.size() * sizeof(char16_t));
    if (record.NextEntryOffset == 0 || record.NextEntryOffset > count - at) break;
    at += record.NextEntryOffset;
  }
  return changes;
}

}  // namespace

DirWatchHandle OpenDirWatch(const std::u16string& folder, bool watchSubtree, std::uint32_t filter, int& error) {
  const std::u16string path = ApiPath(folder);
  HANDLE h = OpenFolder(path);
  if (h == INVALID_HANDLE_VALUE) {
    error = static_cast<int>(GetLastError());
    return InvalidDirWatch;
  }
  auto* watch = new Watch;
  watch->path = path;
  watch->folder = h;
  watch->done = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  watch->wake = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  if (!watch->done || !watch->wake) {
    error = static_cast<int>(GetLastError());
    delete watch;
    return InvalidDirWatch;
  }
  watch->subtree = watchSubtree ? TRUE : FALSE;
  watch->filter = filter;
  watch->Issue();
  return reinterpret_cast<DirWatchHandle>(watch);
}

DirReadResult ReadDirChanges(DirWatchHandle handle) {
  if (handle == InvalidDirWatch) return {};
  Watch& watch = *Of(handle);
  if (watch.folder == INVALID_HANDLE_VALUE) return {};
  if (!watch.pending) watch.Issue();
  if (!watch.pending) return FolderPresent(watch.path) ? DirReadResult{} : watch.Gone();
  const HANDLE events[2] = {watch.done, watch.wake};
  DWORD waited;
  while ((waited = WaitForMultipleObjects(2, events, FALSE, FolderBackCheckMs)) == WAIT_TIMEOUT)
    if (!FolderPresent(watch.path)) return watch.Gone();
  if (waited != WAIT_OBJECT_0) {
    watch.Finish();  // woken: the wait ends without records
    return {};
  }
  DWORD count = 0;
  const BOOL ok = GetOverlappedResult(watch.folder, &watch.overlapped, &count, FALSE);
  // The system also tells of a batch it dropped as a failed read, asking for
  // the folder to be looked at whole.
  const bool dropped = !ok && GetLastError() == ERROR_NOTIFY_ENUM_DIR;
  watch.pending = false;
  DirReadResult result;
  if (ok) result.changes = Parse(reinterpret_cast<const unsigned char*>(watch.buffer.data()), count);
  // A failed or empty read where the folder no longer is: it went away.
  if (result.changes.empty() && !FolderPresent(watch.path)) return watch.Gone();
  if (!ok && !dropped) return {};
  // No records: the batch did not fit and the system dropped it.
  result.status = result.changes.empty() ? DirReadStatus::ChangesLost : DirReadStatus::Changes;
  watch.Issue();
  return result;
}

std::string DirWatchErrorText(int error) { return SystemErrorText(error); }

bool DirWatchFolderBack(DirWatchHandle handle) {
  if (handle == InvalidDirWatch) return false;
  Watch& watch = *Of(handle);
  if (WaitForSingleObject(watch.wake, FolderBackCheckMs) == WAIT_OBJECT_0) return false;
  if (watch.folder != INVALID_HANDLE_VALUE) return true;
  if (!FolderPresent(watch.path)) return false;
  watch.folder = OpenFolder(watch.path);
  if (watch.folder == INVALID_HANDLE_VALUE) return false;
  watch.Issue();
  if (watch.pending) return true;
  CloseHandle(watch.folder);
  watch.folder = INVALID_HANDLE_VALUE;
  return false;
}

void WakeDirWatch(DirWatchHandle handle) {
  if (handle != InvalidDirWatch) SetEvent(Of(handle)->wake);
}

void CloseDirWatch(DirWatchHandle handle) {
  if (handle != InvalidDirWatch) delete Of(handle);
}

}  // namespace platform
