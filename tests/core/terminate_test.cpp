// The routine ends every process of a name. The tests' children carry a name
// of this run's own, so no robocopy of the user's, nor another test's child,
// is ended with them.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
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

#include "funcoes/funcoes.h"
#include "tempdir.h"

namespace fs = std::filesystem;
using testsupport::TempDir;
using testsupport::U;

namespace {

// A copy of the waiting helper under the given file name, in its own folder
// (names differing only in case cannot share a folder on Windows).
fs::path HelperNamed(const TempDir& t, const std::string& folder, const std::string& name) {
  const fs::path target = t / folder / name;
  fs::create_directories(target.parent_path());
  fs::copy_file(TARNVEL_SLEEPER, target);
  return target;
}

enum class End { EndedByRoutine, Survived };

#ifdef _WIN32
class Child {
 public:
  explicit Child(const fs::path& exe) {
    STARTUPINFOW si{};
    si.cb = sizeof si;
    std::wstring commandLine = L"\"" + exe.wstring() + L"\"";
    // Without a console of its own: no console host outlives a child ended by force.
    if (CreateProcessW(exe.c_str(), commandLine.data(), nullptr, nullptr, FALSE, DETACHED_PROCESS, nullptr, nullptr,
                       &si, &pi_)) {
      CloseHandle(pi_.hThread);
    }
  }
  ~Child() { (void)Finish(); }
  bool Started() const { return pi_.hProcess != nullptr; }
  // Ends the child (if still running) with an exit code of its own, so the
  // code tells who ended it: the routine ends with 0.
  End Finish() {
    if (!pi_.hProcess) return End::Survived;
    TerminateProcess(pi_.hProcess, 77);
    WaitForSingleObject(pi_.hProcess, INFINITE);
    DWORD code = 0;
    GetExitCodeProcess(pi_.hProcess, &code);
    CloseHandle(pi_.hProcess);
    pi_.hProcess = nullptr;
    return code == 0 ? End::EndedByRoutine : End::Survived;
  }

 private:
  PROCESS_INFORMATION pi_{};
};
#else
class Child {
 public:
  // posix_spawn returns after the exec, so the child already carries its name.
  explicit Child(const fs::path& exe, std::string arg = {}) {
    const std::string path = exe.string();
    char* argv[] = {const_cast<char*>(path.c_str()), arg.empty() ? nullptr : arg.data(), nullptr};
    if (posix_spawn(&pid_, path.c_str(), nullptr, nullptr, argv, environ) != 0) pid_ = 0;
  }
  ~Child() { (void)Finish(); }
  bool Started() const { return pid_ > 0; }
  pid_t Id() const { return pid_; }
  // Ends the child (if still running) with SIGTERM, so the signal tells who
  // ended it: the routine ends with SIGKILL.
  End Finish() {
    if (pid_ <= 0) return End::Survived;
    kill(pid_, SIGTERM);
    int status = 0;
    waitpid(pid_, &status, 0);
    pid_ = 0;
    return WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL ? End::EndedByRoutine : End::Survived;
  }

 private:
  pid_t pid_ = 0;
};
#endif

#ifdef _WIN32
constexpr bool kPosix = false;
const std::string kExe = ".exe";
int ProcessId() { return static_cast<int>(GetCurrentProcessId()); }
#else
constexpr bool kPosix = true;
const std::string kExe;
int ProcessId() { return static_cast<int>(getpid()); }
#endif

std::string Upper(std::string text) {
  for (char& c : text)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return text;
}

// The children's name: short enough for a POSIX process name (15 characters).
const std::string kBase = "tvk" + std::to_string(ProcessId());

std::u16string W(const std::string& ascii) { return std::u16string(ascii.begin(), ascii.end()); }

}  // namespace

TEST(TerminateProcessesByName, EndsEveryMatchAndSparesOthers) {
  TempDir t;
  Child upper(HelperNamed(t, "a", Upper(kBase + kExe)));
  Child lower(HelperNamed(t, "b", kBase + kExe));
  Child other(HelperNamed(t, "c", kBase.substr(0, kBase.size() - 1) + kExe));
  ASSERT_TRUE(upper.Started() && lower.Started() && other.Started());

  EXPECT_NE(TerminateProcessesByName(W(kBase + ".exe")), 0);

  EXPECT_EQ(upper.Finish(), End::EndedByRoutine);
  EXPECT_EQ(lower.Finish(), End::EndedByRoutine);
  EXPECT_EQ(other.Finish(), End::Survived);
}

TEST(TerminateProcessesByName, NameMatching) {
  TempDir t;
  // Listed with a capital first letter.
  const std::string listed = "T" + kBase.substr(1);
  const fs::path helper = HelperNamed(t, "h", listed + kExe);
  struct Case {
    std::u16string name;
    bool ends;
  };
  const std::vector<Case> cases = {
      {W(kBase + ".exe"), true},
      {W(Upper(kBase) + ".EXE"), true},
      {W("tVK" + kBase.substr(3) + ".eXe"), true},
      // The bare name is the process's own name only where programs carry no ".exe".
      {W(listed), kPosix},
      // The whole executable path is known only on POSIX.
      {U(helper), kPosix},
      {W(kBase.substr(0, kBase.size() - 1) + ".exe"), false},
      {W(kBase.substr(1) + ".exe"), false},
      {W(kBase + ".ex"), false},
      {W(kBase + ".exe.exe"), false},
      {W(kBase + ".exe "), false},
      {u"", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(fs::path(c.name).string());
    Child child(helper);
    ASSERT_TRUE(child.Started());
    EXPECT_EQ(TerminateProcessesByName(c.name) != 0, c.ends);
    EXPECT_EQ(child.Finish(), c.ends ? End::EndedByRoutine : End::Survived);
  }
}

#ifdef __linux__
// A process may clear its own name. An empty name asked for ends nothing, not
// the processes that have no name.
TEST(TerminateProcessesByName, AnEmptyNameEndsNoNamelessProcess) {
  TempDir t;
  Child nameless(HelperNamed(t, "n", kBase), "--nameless");
  ASSERT_TRUE(nameless.Started());
  const std::string comm = "/proc/" + std::to_string(nameless.Id()) + "/comm";
  std::string name = kBase;
  for (int i = 0; i < 500 && !name.empty(); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    std::getline(std::ifstream(comm), name);
  }
  ASSERT_TRUE(name.empty()) << "the helper did not clear its name";

  EXPECT_EQ(TerminateProcessesByName(u""), 0);
  EXPECT_EQ(nameless.Finish(), End::Survived);
}
#endif
