// Directory changes on Windows: ReadDirectoryChangesW, overlapped.
//
// The first read is issued when the handle is opened, so changes are gathered
// from that moment and not only from the worker's first wait; each completed
// read issues the next before its records are handed on. A wait also ends when
// the handle is woken (WakeDirWatch), so a monitor that is switched off lets go
// of its folder at once: a card can be ejected and a deleted folder goes away.
#include <windows.h>

#include <cstddef>
#include <cstring>
#include <vector>

#include "platform/dirwatch.h"
#include "platform/longpath.h"
#include "platform/win32util.h"

namespace platform {

namespace {

// The system fills this buffer; a batch that does not fit is dropped by the
// system, which then reports no records: changes lost.
constexpr DWORD ReadBufferSize = 32768;

struct Watch {
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
};

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

DirWatchHandle OpenDirWatch(const std::u16string& folder, bool watchSubtree, std::uint32_t filter) {
  HANDLE h = CreateFileW(W(ApiPath(folder)), GENERIC_READ | FILE_LIST_DIRECTORY,
                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                         FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OVERLAPPED, nullptr);
  if (h == INVALID_HANDLE_VALUE) return InvalidDirWatch;
  auto* watch = new Watch;
  watch->folder = h;
  watch->done = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  watch->wake = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  if (!watch->done || !watch->wake) {
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
  if (!watch.pending) watch.Issue();
  if (!watch.pending) return {};
  const HANDLE events[2] = {watch.done, watch.wake};
  if (WaitForMultipleObjects(2, events, FALSE, INFINITE) != WAIT_OBJECT_0) {
    watch.Finish();  // woken: the wait ends without records
    return {};
  }
  DWORD count = 0;
  const BOOL ok = GetOverlappedResult(watch.folder, &watch.overlapped, &count, FALSE);
  watch.pending = false;
  if (!ok) return {};
  DirReadResult result;
  result.changes = Parse(reinterpret_cast<const unsigned char*>(watch.buffer.data()), count);
  // No records: the batch did not fit and the system dropped it.
  result.status = result.changes.empty() ? DirReadStatus::ChangesLost : DirReadStatus::Changes;
  watch.Issue();
  return result;
}

void WakeDirWatch(DirWatchHandle handle) {
  if (handle != InvalidDirWatch) SetEvent(Of(handle)->wake);
}

void CloseDirWatch(DirWatchHandle handle) {
  if (handle != InvalidDirWatch) delete Of(handle);
}

}  // namespace platform
