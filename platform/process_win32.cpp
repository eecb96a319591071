#include <windows.h>

#include "funcoes/exceptions.h"
#include "platform/longpath.h"
#include "platform/process.h"
#include "platform/text.h"

namespace platform {

namespace {

const wchar_t* W(const std::u16string& s) { return reinterpret_cast<const wchar_t*>(s.c_str()); }

std::u16string U(const wchar_t* s, size_t length) { return std::u16string(reinterpret_cast<const char16_t*>(s), length); }

std::u16string FolderOf(const std::u16string& path) {
  const size_t slash = path.find_last_of(u"\\/");
  return slash == std::u16string::npos ? std::u16string() : path.substr(0, slash);
}

bool IsDelimiter(char16_t c) { return c == u'\\' || c == u'/'; }

// "X:\..." or "\\server\...": not relative to the current drive or folder.
bool IsFullPath(const std::u16string& path) {
  if (path.size() >= 3 && path[1] == u':' && IsDelimiter(path[2])) return true;
  return path.size() >= 2 && IsDelimiter(path[0]) && IsDelimiter(path[1]);
}

}  // namespace

std::u16string ExecutableFolder() {
  std::wstring buffer(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length = GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (length == 0) return {};
    if (length < buffer.size()) return FolderOf(U(buffer.data(), length));
    buffer.resize(buffer.size() * 2);
  }
}

std::u16string SystemFolder() {
  wchar_t buffer[MAX_PATH];
  const UINT length = GetSystemDirectoryW(buffer, MAX_PATH);
  return length == 0 || length >= MAX_PATH ? std::u16string() : U(buffer, length);
}

std::vector<std::u16string> PathFolders() {
  std::vector<std::u16string> folders;
  const DWORD size = GetEnvironmentVariableW(L"PATH", nullptr, 0);
  if (size == 0) return folders;
  std::wstring value(size, L'\0');
  const DWORD length = GetEnvironmentVariableW(L"PATH", value.data(), size);
  const std::u16string text = U(value.data(), length < size ? length : 0);
  size_t start = 0;
  while (start <= text.size()) {
    size_t end = text.find(u';', start);
    if (end == std::u16string::npos) end = text.size();
    std::u16string entry = text.substr(start, end - start);
    // An entry may be written in double quotes.
    if (entry.size() >= 2 && entry.front() == u'"' && entry.back() == u'"') entry = entry.substr(1, entry.size() - 2);
    if (IsFullPath(entry)) folders.push_back(entry);
    start = end + 1;
  }
  return folders;
}

std::u16string ProgramFileName(const std::u16string& name) {
  const size_t dot = name.rfind(u'.');
  const size_t slash = name.find_last_of(u"\\/");
  const bool hasExtension = dot != std::u16string::npos && (slash == std::u16string::npos || dot > slash);
  return hasExtension ? name : name + u".exe";
}

bool IsProgramFile(const std::u16string& path) {
  const DWORD attributes = GetFileAttributesW(W(ApiPath(path)));
  return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

std::string SystemErrorText(int code) {
  wchar_t* text = nullptr;
  const DWORD length = FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
      static_cast<DWORD>(code), 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  std::u16string message = length ? U(text, length) : std::u16string();
  if (text) LocalFree(text);
  // The system ends its texts with a line break and sometimes a blank.
  while (!message.empty() && message.back() <= u' ') message.pop_back();
  return ToUtf8(message);
}

ChildProcess::ChildProcess(ChildProcess&& other) noexcept : process_(other.process_), thread_(other.thread_) {
  other.process_ = other.thread_ = nullptr;
}

ChildProcess& ChildProcess::operator=(ChildProcess&& other) noexcept {
  if (this != &other) {
    Close();
    process_ = other.process_;
    thread_ = other.thread_;
    other.process_ = other.thread_ = nullptr;
  }
  return *this;
}

ChildProcess::~ChildProcess() { Close(); }

bool ChildProcess::Wait(int milliseconds) {
  if (!process_) return true;
  return WaitForSingleObject(process_, static_cast<DWORD>(milliseconds)) != WAIT_TIMEOUT;
}

void ChildProcess::Close() {
  if (process_) CloseHandle(process_);
  if (thread_) CloseHandle(thread_);
  process_ = thread_ = nullptr;
}

ChildProcess StartChild(const std::u16string& program, const std::u16string& commandLine) {
  std::wstring line(reinterpret_cast<const wchar_t*>(commandLine.c_str()), commandLine.size());
  line.push_back(L'\0');  // CreateProcessW may write into the line
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION info{};
  if (!CreateProcessW(W(program), line.data(), nullptr, nullptr, TRUE, CREATE_NO_WINDOW, nullptr, nullptr, &startup,
                      &info)) {
    const int code = static_cast<int>(GetLastError());
    throw EOSError(code, SystemErrorText(code));
  }
  ChildProcess child;
  child.process_ = info.hProcess;
  child.thread_ = info.hThread;
  return child;
}

}  // namespace platform
