// The Windows side: plain std::filesystem plus the hidden attribute. It serves
// as the runner's stand-in in the Windows test leg; the system's robocopy.exe
// does the real work there.
#include <windows.h>

#include <chrono>
#include <cstdio>
#include <cwctype>
#include <fstream>
#include <functional>
#include <iterator>
#include <utility>

#include "mirror/folder.h"
#include "platform/longpath.h"

namespace mirror {
namespace fs = std::filesystem;

namespace {

fs::path FromUtf8(const std::string& text) { return fs::path(std::u8string(text.begin(), text.end())); }

// A folder given on the command line, in the extended-length form: every path
// below it is built from it, so trees deeper than 260 characters are mirrored.
fs::path RootPath(const std::string& text) { return fs::path(platform::ApiPath(FromUtf8(text).u16string())); }

std::string ToUtf8(const fs::path& path) {
  const std::u8string text = path.u8string();
  return std::string(text.begin(), text.end());
}

void Check(const std::error_code& error, const char* what) {
  if (error) throw std::system_error(error, what);
}

FileTime TimeOf(fs::file_time_type time) {
  // Since 1970, as on POSIX: the comparison knows which years FAT can store.
  const auto since = std::chrono::file_clock::to_sys(time).time_since_epoch();
  const auto seconds = std::chrono::floor<std::chrono::seconds>(since);
  return {seconds.count(), static_cast<std::int32_t>(std::chrono::nanoseconds(since - seconds).count())};
}

Identity IdentityOf(const fs::path& path) {
  std::error_code error;
  const fs::path canonical = fs::canonical(path, error);
  return {0, std::hash<std::wstring>{}((error ? path : canonical).wstring())};
}

}  // namespace

Folder Folder::Open(const std::string& path) {
  fs::path p = RootPath(path);
  std::error_code error;
  const fs::file_status status = fs::status(p, error);
  Check(error, "open");
  if (!fs::is_directory(status)) throw std::system_error(std::make_error_code(std::errc::not_a_directory), "open");
  return Folder(p);
}

void Folder::Create(const std::string& path) {
  std::error_code error;
  fs::create_directories(RootPath(path), error);
  Check(error, "mkdir");
}

Folder::Folder(Folder&& other) noexcept : path_(std::move(other.path_)), hold_(std::exchange(other.hold_, nullptr)) {}

Folder::~Folder() {
  if (hold_ != nullptr) CloseHandle(hold_);
}

Identity Folder::Id() const { return IdentityOf(path_); }

TimeKeeping Folder::Times() const {
  wchar_t volume[MAX_PATH + 1], system[MAX_PATH + 1];
  if (!GetVolumePathNameW(path_.c_str(), volume, MAX_PATH + 1) ||
      !GetVolumeInformationW(volume, nullptr, 0, nullptr, nullptr, nullptr, system, MAX_PATH + 1)) {
    throw std::system_error(static_cast<int>(GetLastError()), std::system_category(), "volume");
  }
  const std::wstring name = system;
  if (name == L"NTFS" || name == L"ReFS") return TimeKeeping::Exact;
  if (name == L"exFAT") return TimeKeeping::TenMilliseconds;
  if (name == L"FAT" || name == L"FAT32") return TimeKeeping::TwoSeconds;
  return TimeKeeping::Unknown;
}

std::vector<Identity> Folder::PathIds() const {
  std::error_code error;
  fs::path folder = fs::canonical(path_, error);
  if (error) folder = fs::absolute(path_);
  std::vector<Identity> ids{IdentityOf(folder)};
  for (; folder.has_relative_path(); folder = folder.parent_path()) ids.push_back(IdentityOf(folder.parent_path()));
  return ids;
}

// Windows has no file systems of the kernel's own to walk into.
bool Folder::OnPseudoFileSystem() const { return false; }

bool Folder::IsFileSystemRoot() const {
  std::error_code error;
  const fs::path folder = fs::canonical(path_, error);
  return !error && folder == folder.root_path();
}

bool Folder::IgnoresCase(const std::string& probe) const {
  const fs::path made = path_ / FromUtf8(probe);
  HANDLE file = CreateFileW(made.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  CloseHandle(file);
  std::string other = probe;
  for (char& c : other) c = (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
  std::error_code error;
  const bool same = other != probe && fs::exists(path_ / FromUtf8(other), error);
  fs::remove(made, error);
  return same;
}

// A lock file in the temporary folder, named after the destination and held
// open without sharing: a second run waits until the first closes it.
void Folder::Hold() {
  std::error_code error;
  const fs::path folder = fs::canonical(path_, error);
  std::wstring key = (error ? path_ : folder).wstring();
  for (wchar_t& c : key) c = static_cast<wchar_t>(towupper(c));
  char hex[17];
  std::snprintf(hex, sizeof hex, "%016llx", static_cast<unsigned long long>(std::hash<std::wstring>{}(key)));
  const fs::path lock = fs::temp_directory_path(error) / ("robocopy-" + std::string(hex) + ".lock");
  if (error) return;
  for (;;) {
    HANDLE file = CreateFileW(lock.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
      hold_ = file;
      return;
    }
    if (GetLastError() != ERROR_SHARING_VIOLATION) return;
    Sleep(100);
  }
}

std::vector<Entry> Folder::List(bool followLinks) const {
  std::vector<Entry> entries;
  std::error_code error;
  for (fs::directory_iterator it(path_, error), end; !error && it != end; it.increment(error)) {
    const fs::path p = it->path();
    Entry e;
    e.name = ToUtf8(p.filename());
    const DWORD attributes = GetFileAttributesW(p.c_str());
    e.hidden = attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_HIDDEN) != 0;
    std::error_code statError;
    const fs::file_status status = followLinks ? fs::status(p, statError) : fs::symlink_status(p, statError);
    if (statError) {
      // Only an entry removed meanwhile is absent; one that cannot be
      // examined is listed with its error.
      std::error_code gone;
      if (fs::symlink_status(p, gone).type() == fs::file_type::not_found) continue;
      e.error = statError;
      entries.push_back(std::move(e));
      continue;
    }
    if (fs::is_symlink(status)) {
      e.kind = Kind::Link;
    } else if (fs::is_directory(status)) {
      e.kind = Kind::Folder;
      e.id = IdentityOf(p);
      e.linked = followLinks && fs::is_symlink(fs::symlink_status(p, statError));
    } else if (fs::is_regular_file(status)) {
      e.kind = Kind::File;
      e.size = static_cast<std::int64_t>(fs::file_size(p, statError));
      e.mtime = TimeOf(fs::last_write_time(p, statError));
    }
    entries.push_back(std::move(e));
  }
  Check(error, "readdir");
  return entries;
}

Folder Folder::OpenChild(const std::string& name, bool followLinks) const {
  const fs::path p = path_ / FromUtf8(name);
  std::error_code error;
  const fs::file_status status = followLinks ? fs::status(p, error) : fs::symlink_status(p, error);
  Check(error, "open");
  if (!fs::is_directory(status)) throw std::system_error(std::make_error_code(std::errc::not_a_directory), "open");
  return Folder(p);
}

// Windows folders have no permission bits to carry over.
void Folder::MakeChild(const std::string& name, std::uint32_t /*permissions*/) const {
  std::error_code error;
  if (!fs::create_directory(path_ / FromUtf8(name), error) && !error) {
    error = std::make_error_code(std::errc::file_exists);
  }
  Check(error, "mkdir");
}

// The stand-in always writes a temporary and renames it. Like the system's
// robocopy.exe, it neither hashes nor reads back what it wrote.
Copied Folder::CopyIn(const Folder& from, const std::string& name, const std::string& temp, bool /*resume*/,
                      bool /*replaces*/) const {
  const fs::path source = from.path_ / FromUtf8(name);
  const fs::path partial = path_ / FromUtf8(temp);
  std::error_code error;
  const fs::file_time_type time = fs::last_write_time(source, error);
  const std::uintmax_t size = error ? 0 : fs::file_size(source, error);
  if (error) throw SourceFailure(error, "open source");
  fs::copy_file(source, partial, fs::copy_options::overwrite_existing, error);
  bool sourceSide = false;
  if (!error) {
    // Still being written: a prefix must never pass for the file.
    std::error_code changed;
    if (fs::last_write_time(source, changed) != time || fs::file_size(source, changed) != size ||
        fs::file_size(partial, changed) != size || changed) {
      error = changed ? changed : SourceChanged();
      sourceSide = true;
    }
  }
  if (!error) fs::last_write_time(partial, time, error);
  if (!error) fs::rename(partial, path_ / FromUtf8(name), error);
  if (error) {
    std::error_code ignored;
    fs::remove(partial, ignored);
    if (sourceSide) throw SourceFailure(error, "copy");
    throw std::system_error(error, "copy");
  }
  return {static_cast<std::int64_t>(fs::file_size(path_ / FromUtf8(name), error)), {}, false};
}

// Copies made here carry no digest to compare with.
bool Folder::ReadsBackAs(const std::string&, const std::string&) const {
  throw std::system_error(std::make_error_code(std::errc::not_supported), "read back");
}

// The system keeps no change time apart: the modification time stands for it.
FileTime Folder::ChangedAt(const std::string& path) const {
  std::error_code error;
  const fs::file_time_type time = fs::last_write_time(path_ / FromUtf8(path), error);
  Check(error, "stat");
  return TimeOf(time);
}

std::string Folder::ReadFile(const std::string& name) const {
  std::ifstream in(path_ / FromUtf8(name), std::ios::binary);
  if (!in) throw std::system_error(std::make_error_code(std::errc::no_such_file_or_directory), "open");
  return std::string(std::istreambuf_iterator<char>(in), {});
}

void Folder::ReplaceFile(const std::string& name, const std::string& content) const {
  const fs::path temp = path_ / FromUtf8(name + ".new");
  {
    std::ofstream out(temp, std::ios::binary | std::ios::trunc);
    out << content;
    if (!out.flush()) throw std::system_error(std::make_error_code(std::errc::io_error), "write");
  }
  std::error_code error;
  fs::rename(temp, path_ / FromUtf8(name), error);
  Check(error, "rename");
}

// Asked as robocopy.exe opens a source, without sharing writes: a file that
// another program has open for writing is refused (a sharing violation), so
// it is never copied only as far as it has been written.
bool Folder::OpenForWriting(const std::string& name) const {
  const HANDLE file = CreateFileW((path_ / FromUtf8(name)).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE,
                                  nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return GetLastError() == ERROR_SHARING_VIOLATION;
  CloseHandle(file);
  return false;
}

void Folder::RemoveFile(const std::string& name) const {
  std::error_code error;
  const fs::path p = path_ / FromUtf8(name);
  // A link to a folder is removed as a folder entry, never through it.
  if (fs::is_symlink(fs::symlink_status(p, error)) && fs::is_directory(fs::status(p, error))) {
    if (!RemoveDirectoryW(p.c_str())) error = std::error_code(static_cast<int>(GetLastError()), std::system_category());
  } else if (!fs::remove(p, error) && !error) {
    error = std::make_error_code(std::errc::no_such_file_or_directory);
  }
  Check(error, "remove");
}

void Folder::RemoveEmptyFolder(const std::string& name) const {
  std::error_code error;
  if (!fs::remove(path_ / FromUtf8(name), error) && !error) {
    error = std::make_error_code(std::errc::no_such_file_or_directory);
  }
  Check(error, "remove folder");
}

// The system's robocopy.exe does the real work on Windows; this stand-in
// leaves flushing to the system.
void Folder::Flush() const {}

}  // namespace mirror
