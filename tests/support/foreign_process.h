// A process the program did not start: the tests start it themselves, outside
// the program's runner, and afterwards tell whether something else ended it.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#else
#include <csignal>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
extern char** environ;
#endif

namespace testsupport {

// A copy of program under the file name name, in folder.
inline std::filesystem::path CopyProgram(const std::filesystem::path& program, const std::filesystem::path& folder,
                                         const std::string& name) {
  std::filesystem::create_directories(folder);
  const std::filesystem::path target = folder / name;
  std::filesystem::remove(target);  // MinGW's copy_file refuses to overwrite
  std::filesystem::copy_file(program, target);
  std::filesystem::permissions(target, std::filesystem::perms::owner_all, std::filesystem::perm_options::add);
  return target;
}

class ForeignProcess {
 public:
  ForeignProcess(const std::filesystem::path& exe, const std::vector<std::string>& args) {
#ifdef _WIN32
    STARTUPINFOW si{};
    si.cb = sizeof si;
    std::wstring line = L"\"" + exe.wstring() + L"\"";
    for (const std::string& arg : args) line += L" \"" + std::filesystem::path(arg).wstring() + L"\"";
    // Without a console of its own: no console host outlives a process ended by force.
    if (CreateProcessW(exe.c_str(), line.data(), nullptr, nullptr, FALSE, DETACHED_PROCESS, nullptr, nullptr, &si,
                       &pi_))
      CloseHandle(pi_.hThread);
#else
    std::vector<std::string> words{exe.filename().string()};
    words.insert(words.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& word : words) argv.push_back(word.data());
    argv.push_back(nullptr);
    // posix_spawn returns after the exec, so the process already carries its name.
    if (posix_spawn(&pid_, exe.c_str(), nullptr, nullptr, argv.data(), environ) != 0) pid_ = 0;
#endif
  }
  ~ForeignProcess() { (void)End(); }
  ForeignProcess(const ForeignProcess&) = delete;
  ForeignProcess& operator=(const ForeignProcess&) = delete;

  bool Started() const {
#ifdef _WIN32
    return pi_.hProcess != nullptr;
#else
    return pid_ > 0;
#endif
  }

  // Ends it by force, as a crash would (POSIX SIGKILL), and waits for it.
  void Crash() {
#ifdef _WIN32
    (void)End();
#else
    if (pid_ <= 0) return;
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
    pid_ = 0;
#endif
  }

  // Ends it, with a code (Windows) or signal (POSIX) of the test's own, and
  // waits for it: true when it was still running until then.
  bool End() {
#ifdef _WIN32
    if (!pi_.hProcess) return false;
    TerminateProcess(pi_.hProcess, 77);
    WaitForSingleObject(pi_.hProcess, INFINITE);
    DWORD code = 0;
    GetExitCodeProcess(pi_.hProcess, &code);
    CloseHandle(pi_.hProcess);
    pi_.hProcess = nullptr;
    return code == 77;
#else
    if (pid_ <= 0) return false;
    kill(pid_, SIGUSR2);
    int status = 0;
    waitpid(pid_, &status, 0);
    pid_ = 0;
    return WIFSIGNALED(status) && WTERMSIG(status) == SIGUSR2;
#endif
  }

 private:
#ifdef _WIN32
  PROCESS_INFORMATION pi_{};
#else
  pid_t pid_ = 0;
#endif
};

}  // namespace testsupport
