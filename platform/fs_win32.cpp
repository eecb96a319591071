#include <windows.h>

#include "platform/fs.h"
#include "platform/longpath.h"
#include "platform/win32util.h"

// Every path reaches the system through ApiPath, in the extended-length form:
// folders deeper than 260 characters, common in media projects, work like any.

namespace platform {

namespace {

bool IsMissingCode(DWORD code) {
  switch (code) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_BAD_PATHNAME:
    case ERROR_INVALID_NAME:
    case ERROR_BAD_NETPATH:
    case ERROR_BAD_NET_NAME:
    case ERROR_NOT_READY:
      return true;
    default:
      return false;
  }
}

}  // namespace

bool PathIsDirectory(const std::u16string& name) {
  const std::u16string path = ApiPath(name);
  const DWORD attributes = GetFileAttributesW(W(path));
  if (attributes == INVALID_FILE_ATTRIBUTES) return !IsMissingCode(GetLastError());
  if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) return false;
  if (!(attributes & FILE_ATTRIBUTE_REPARSE_POINT)) return true;
  // A link to a folder counts only when its target can be opened.
  const OwnedHandle target = OpenToQuery(path);
  return target.Valid() || !IsMissingCode(GetLastError());
}

bool PathIsFile(const std::u16string& path) {
  // Follows a link to its target, as a file's link counts as that file.
  const OwnedHandle h = OpenToQuery(ApiPath(path));
  BY_HANDLE_FILE_INFORMATION info{};
  return h.Valid() && GetFileInformationByHandle(h.handle, &info) &&
         !(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool PathIsHidden(const std::u16string& path) {
  const DWORD attributes = GetFileAttributesW(W(ApiPath(path)));
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_HIDDEN) != 0;
}

bool MakeDirectory(const std::u16string& path) { return CreateDirectoryW(W(ApiPath(path)), nullptr) != 0; }

std::u16string ResolvedPath(const std::u16string& path) {
  const OwnedHandle h = OpenToQuery(ApiPath(path));
  if (!h.Valid()) return path;
  std::u16string result(MAX_PATH, u'\0');
  DWORD length = GetFinalPathNameByHandleW(h.handle, W(result), static_cast<DWORD>(result.size()),
                                           FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
  if (length >= result.size()) {
    result.resize(length);
    length = GetFinalPathNameByHandleW(h.handle, W(result), static_cast<DWORD>(result.size()),
                                       FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
  }
  if (length == 0 || length >= result.size()) return path;
  result.resize(length);
  // "\\?\C:\x" -> "C:\x", "\\?\UNC\server\x" -> "\\server\x".
  if (result.rfind(u"\\\\?\\UNC\\", 0) == 0) return u"\\\\" + result.substr(8);
  if (result.rfind(u"\\\\?\\", 0) == 0) return result.substr(4);
  return result;
}

FileActivity FileActivityOf(const std::u16string& name) {
  FileActivity activity;
  const std::u16string path = ApiPath(name);
  WIN32_FILE_ATTRIBUTE_DATA data{};
  if (!GetFileAttributesExW(W(path), GetFileExInfoStandard, &data)) return activity;
  const auto ticks = [](const FILETIME& t) { return (int64_t(t.dwHighDateTime) << 32) | t.dwLowDateTime; };
  FILETIME now{};
  GetSystemTimeAsFileTime(&now);
  activity.sinceChange = std::chrono::nanoseconds((ticks(now) - ticks(data.ftLastWriteTime)) * 100);
  // Opened without sharing writes: refused while a writer has it open.
  const HANDLE h = CreateFileW(W(path), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h != INVALID_HANDLE_VALUE) {
    CloseHandle(h);
    activity.writer = FileWriter::Closed;
  } else if (GetLastError() == ERROR_SHARING_VIOLATION) {
    activity.writer = FileWriter::Open;
  }
  return activity;
}

bool IsMountPoint(const std::u16string& path) {
  if (!PathIsDirectory(path)) return false;
  std::u16string volume(MAX_PATH + 1, u'\0');
  if (!GetVolumePathNameW(W(path), W(volume), static_cast<DWORD>(volume.size()))) return false;
  volume.resize(volume.find(u'\0'));
  // The volume's root, as the system names it, is the folder itself.
  std::u16string folder = path;
  if (folder.empty() || (folder.back() != u'\\' && folder.back() != u'/')) folder += u'\\';
  return SamePathName(volume, folder);
}

bool SamePathName(const std::u16string& a, const std::u16string& b) {
  return CompareStringOrdinal(W(a), static_cast<int>(a.size()), W(b), static_cast<int>(b.size()), TRUE) == CSTR_EQUAL;
}

int DirectoryEntryError(const std::u16string& name) {
  const std::u16string path = ApiPath(name);
  const DWORD attributes = GetFileAttributesW(W(path));
  if (attributes == INVALID_FILE_ATTRIBUTES) return static_cast<int>(GetLastError());
  if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) return ERROR_DIRECTORY;
  // Entering needs the right to traverse; a handle opened for it tells.
  const OwnedHandle h = OpenToQuery(path, FILE_TRAVERSE);
  return h.Valid() ? 0 : static_cast<int>(GetLastError());
}

std::optional<FolderId> FolderIdOf(const std::u16string& path) {
  // Opening the folder itself resolves junctions and links to their target.
  const OwnedHandle h = OpenToQuery(path);
  BY_HANDLE_FILE_INFORMATION info{};
  if (!h.Valid() || !GetFileInformationByHandle(h.handle, &info) || !(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
    return std::nullopt;
  return FolderId{info.dwVolumeSerialNumber, (uint64_t{info.nFileIndexHigh} << 32) | info.nFileIndexLow};
}

struct FolderListing::State {
  HANDLE find = INVALID_HANDLE_VALUE;
  WIN32_FIND_DATAW data{};
  bool pending = false;  // data holds an entry not yet handed out
  std::optional<FolderId> id;
};

FolderListing::FolderListing(const std::u16string& name) : state_(std::make_unique<State>()) {
  const std::u16string folder = ApiPath(name);
  state_->find = FindFirstFileW(W(folder + u"*.*"), &state_->data);
  if (state_->find == INVALID_HANDLE_VALUE) return;
  state_->pending = true;
  state_->id = FolderIdOf(folder);
}

FolderListing::~FolderListing() {
  if (state_->find != INVALID_HANDLE_VALUE) FindClose(state_->find);
}

bool FolderListing::IsOpen() const { return state_->find != INVALID_HANDLE_VALUE; }

std::optional<FolderId> FolderListing::Id() const { return state_->id; }

bool FolderListing::Next(FolderEntry& entry) {
  if (state_->find == INVALID_HANDLE_VALUE) return false;
  if (!state_->pending && !FindNextFileW(state_->find, &state_->data)) return false;
  state_->pending = false;
  const WIN32_FIND_DATAW& d = state_->data;
  entry.name.assign(reinterpret_cast<const char16_t*>(d.cFileName));  // reuses the name's room
  entry.isFolder = (d.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  entry.size = entry.isFolder ? 0 : static_cast<int64_t>((uint64_t{d.nFileSizeHigh} << 32) | d.nFileSizeLow);
  return true;
}

}  // namespace platform
