// The hot-folder tests' robocopy.exe on Windows, where the POSIX build uses a
// shell script: each start adds a line to the runs file, waits while the hold
// file exists, runs the real mirror tool with its own command line and output,
// adds a line to the mirrored file, waits while the hold-after file exists and
// ends with the mirror tool's exit code. The files come from the environment.
#include <windows.h>

#include <filesystem>
#include <fstream>
#include <string>

namespace {

std::wstring Env(const wchar_t* name) {
  std::wstring value(32768, L'\0');
  const DWORD n = GetEnvironmentVariableW(name, value.data(), DWORD(value.size()));
  value.resize(n < value.size() ? n : 0);
  return value;
}

void Note(const std::wstring& file, const char* line) {
  std::ofstream(std::filesystem::path(file), std::ios::app) << line << "\n";
}

void WaitWhile(const std::wstring& file) {
  while (std::filesystem::exists(file)) Sleep(20);
}

// The command line after this program's own name, as the caller wrote it.
const wchar_t* Arguments() {
  const wchar_t* p = GetCommandLineW();
  for (bool quoted = false; *p && (quoted || (*p != L' ' && *p != L'\t')); ++p)
    if (*p == L'"') quoted = !quoted;
  return p;
}

}  // namespace

int wmain() {
  const std::wstring tool = Env(L"TARNVEL_COUNTING_TOOL");
  Note(Env(L"TARNVEL_COUNTING_RUNS"), "run");
  WaitWhile(Env(L"TARNVEL_COUNTING_HOLD"));
  std::wstring command = L"\"" + tool + L"\"" + Arguments();
  STARTUPINFOW start{};
  start.cb = sizeof start;
  start.dwFlags = STARTF_USESTDHANDLES;
  start.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  start.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
  start.hStdError = GetStdHandle(STD_ERROR_HANDLE);
  PROCESS_INFORMATION process{};
  DWORD code = 16;  // robocopy's "nothing was copied: fatal error"
  if (CreateProcessW(tool.c_str(), command.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &start, &process)) {
    WaitForSingleObject(process.hProcess, INFINITE);
    GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
  }
  Note(Env(L"TARNVEL_COUNTING_MIRRORED"), "done");
  WaitWhile(Env(L"TARNVEL_COUNTING_HOLD_AFTER"));
  return int(code);
}
