#include <windows.h>

#include "platform/dirwatch.h"

namespace platform {

DirWatchHandle OpenDirWatch(const std::u16string& folder, bool, std::uint32_t) {
  HANDLE h = CreateFileW(reinterpret_cast<const wchar_t*>(folder.c_str()), GENERIC_READ | FILE_LIST_DIRECTORY,
                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                         FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  return reinterpret_cast<DirWatchHandle>(h);
}

bool ReadDirChanges(DirWatchHandle handle, void* buffer, std::uint32_t length, bool watchSubtree,
                    std::uint32_t filter, std::uint32_t& bytesReturned) {
  DWORD count = 0;
  const BOOL ok = ReadDirectoryChangesW(reinterpret_cast<HANDLE>(handle), buffer, length, watchSubtree ? TRUE : FALSE,
                                        filter, &count, nullptr, nullptr);
  bytesReturned = count;
  return ok != FALSE;
}

void CloseDirWatch(DirWatchHandle handle) { CloseHandle(reinterpret_cast<HANDLE>(handle)); }

}  // namespace platform
