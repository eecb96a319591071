#include <windows.h>

#include <system_error>

#include "platform/longpath.h"
#include "platform/process.h"
#include "platform/text.h"
#include "platform/win32util.h"

namespace platform {

std::u16string ExecutableFolder() {
  std::wstring buffer(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length = GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (length == 0) return {};
    if (length < buffer.size()) {
      // The system names the module by its full path: the folder ends at its last "\".
      const std::u16string path = U(buffer.data(), length);
      const size_t cut = path.rfind(u'\\');
      return cut == std::u16string::npos ? std::u16string() : path.substr(0, cut);
    }
    buffer.resize(buffer.size() * 2);
  }
}

std::u16string SystemFolder() {
  wchar_t buffer[MAX_PATH];
  const UINT length = GetSystemDirectoryW(buffer, MAX_PATH);
  return length == 0 || length >= MAX_PATH ? std::u16string() : U(buffer, length);
}

std::vector<std::u16string> PathEntries() {
  std::vector<std::u16string> entries;
  const DWORD size = GetEnvironmentVariableW(L"PATH", nullptr, 0);
  if (size == 0) return entries;
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
    entries.push_back(entry);
    start = end + 1;
  }
  return entries;
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
  const DWORD length =
      FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                     nullptr, static_cast<DWORD>(code), 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  std::u16string message = length ? U(text, length) : std::u16string();
  if (text) LocalFree(text);
  // The system ends its texts with a line break and sometimes a blank.
  while (!message.empty() && message.back() <= u' ') message.pop_back();
  return ToUtf8(message);
}

std::u16string ChildOutputText(const std::string& bytes) {
  if (bytes.empty()) return {};
  const int length = MultiByteToWideChar(CP_OEMCP, 0, bytes.data(), static_cast<int>(bytes.size()), nullptr, 0);
  std::wstring text(static_cast<size_t>(length > 0 ? length : 0), L'\0');
  if (length > 0) MultiByteToWideChar(CP_OEMCP, 0, bytes.data(), static_cast<int>(bytes.size()), text.data(), length);
  return U(text.data(), text.size());
}

void AllowForegroundHandOver() { AllowSetForegroundWindow(ASFW_ANY); }

ChildProcess::ChildProcess(ChildProcess&& other) noexcept
    : process_(other.process_),
      thread_(other.thread_),
      output_(other.output_),
      end_(other.end_),
      sink_(std::move(other.sink_)) {
  other.process_ = other.thread_ = other.output_ = nullptr;
}

ChildProcess& ChildProcess::operator=(ChildProcess&& other) noexcept {
  if (this != &other) {
    Close();
    process_ = other.process_;
    thread_ = other.thread_;
    output_ = other.output_;
    end_ = other.end_;
    sink_ = std::move(other.sink_);
    other.process_ = other.thread_ = other.output_ = nullptr;
  }
  return *this;
}

ChildProcess::~ChildProcess() { Close(); }

void ChildProcess::Drain() {
  char buffer[65536];
  for (size_t taken = 0; output_ && taken < 16 * sizeof buffer;) {
    DWORD waiting = 0, read = 0;
    // An anonymous pipe has no non-blocking read: only what it holds is read.
    if (!PeekNamedPipe(output_, nullptr, 0, nullptr, &waiting, nullptr) ||
        (waiting > 0 &&
         !ReadFile(output_, buffer, waiting < sizeof buffer ? waiting : sizeof buffer, &read, nullptr))) {
      // The child and everything it started have closed the pipe.
      CloseHandle(output_);
      output_ = nullptr;
      return;
    }
    if (read == 0) return;
    taken += read;
    if (sink_) sink_(std::string_view(buffer, read));
  }
}

bool ChildProcess::Wait(int milliseconds) {
  if (!process_) return true;
  const ULONGLONG deadline = GetTickCount64() + static_cast<ULONGLONG>(milliseconds);
  for (;;) {
    Drain();
    // With a pipe to empty, the wait is cut into short slices.
    const ULONGLONG now = GetTickCount64();
    const DWORD left = now < deadline ? static_cast<DWORD>(deadline - now) : 0;
    const DWORD result = WaitForSingleObject(process_, output_ && left > 1 ? 1 : left);
    if (result != WAIT_TIMEOUT) {
      DWORD code = 0;
      if (result == WAIT_OBJECT_0 && GetExitCodeProcess(process_, &code)) end_ = {true, static_cast<int>(code), 0};
      Drain();
      return true;
    }
    if (left <= 1) return false;
  }
}

void ChildProcess::Close() {
  if (process_) CloseHandle(process_);
  if (thread_) CloseHandle(thread_);
  if (output_) CloseHandle(output_);
  process_ = thread_ = output_ = nullptr;
}

bool ChildProcess::Terminate() { return process_ && TerminateProcess(process_, 0); }

namespace {

[[noreturn]] void RaiseLastError() {
  throw std::system_error(static_cast<int>(GetLastError()), std::system_category(), "start");
}

// The job every child runs in. Its one handle is never inherited and never
// closed here: the system closes it when this process ends, however it ends,
// and then ends every process still in the job. Null when the system refuses one.
HANDLE ChildJob() {
  static const HANDLE job = [] {
    HANDLE created = CreateJobObjectW(nullptr, nullptr);
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
    limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
    if (created && !SetInformationJobObject(created, JobObjectExtendedLimitInformation, &limits, sizeof limits)) {
      CloseHandle(created);
      created = nullptr;
    }
    return created;
  }();
  return job;
}

}  // namespace

ChildProcess StartChild(const std::u16string& program, const std::u16string& commandLine,
                        const std::vector<std::u16string>&, OutputSink output) {
  std::u16string line = commandLine;  // CreateProcessW may write into the line
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  OwnedHandle read, write, input;
  if (output) {
    SECURITY_ATTRIBUTES inherited{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    if (!CreatePipe(&read.handle, &write.handle, &inherited, 1 << 16)) RaiseLastError();
    // Only the child's end is inherited.
    if (!SetHandleInformation(read.handle, HANDLE_FLAG_INHERIT, 0)) RaiseLastError();
    input.handle =
        CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherited, OPEN_EXISTING, 0, nullptr);
    if (input.handle == INVALID_HANDLE_VALUE) RaiseLastError();
    startup.dwFlags |= STARTF_USESTDHANDLES;
    startup.hStdInput = input.handle;
    startup.hStdOutput = write.handle;
    startup.hStdError = write.handle;
  }
  PROCESS_INFORMATION info{};
  // Suspended until it is in the job, so nothing it starts escapes the job.
  if (!CreateProcessW(W(program), W(line), nullptr, nullptr, TRUE, CREATE_NO_WINDOW | CREATE_SUSPENDED, nullptr,
                      nullptr, &startup, &info))
    RaiseLastError();
  // A system that refuses the job (an older one, inside a job of its own that
  // allows no other) still gets its copy; only the tie to this process is lost.
  if (const HANDLE job = ChildJob()) AssignProcessToJobObject(job, info.hProcess);
  if (ResumeThread(info.hThread) == static_cast<DWORD>(-1)) {
    const DWORD error = GetLastError();
    TerminateProcess(info.hProcess, 0);
    CloseHandle(info.hThread);
    CloseHandle(info.hProcess);
    SetLastError(error);
    RaiseLastError();
  }
  ChildProcess child;
  child.process_ = info.hProcess;
  child.thread_ = info.hThread;
  child.output_ = read.handle;
  read.handle = nullptr;
  child.sink_ = std::move(output);
  return child;
}

}  // namespace platform
