// These tests end every process named robocopy: they hold the robocopy
// resource lock so no other test's child is ended with them.
#include <gtest/gtest.h>

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
    if (CreateProcessW(exe.c_str(), commandLine.data(), nullptr, nullptr, FALSE, DETACHED_PROCESS, nullptr,
                       nullptr, &si, &pi_)) {
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
  explicit Child(const fs::path& exe) {
    const std::string path = exe.string();
    char* argv[] = {const_cast<char*>(path.c_str()), nullptr};
    if (posix_spawn(&pid_, path.c_str(), nullptr, nullptr, argv, environ) != 0) pid_ = 0;
  }
  ~Child() { (void)Finish(); }
  bool Started() const { return pid_ > 0; }
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
const char* const kUpperName = "ROBOCOPY.EXE";
const char* const kLowerName = "robocopy.exe";
const char* const kOtherName = "robocop.exe";
#else
constexpr bool kPosix = true;
const char* const kUpperName = "robocopy";
const char* const kLowerName = "robocopy";
const char* const kOtherName = "robocop";
#endif

}  // namespace

TEST(TerminateProcessesByName, EndsEveryMatchAndSparesOthers) {
  TempDir t;
  Child upper(HelperNamed(t, "a", kUpperName));
  Child lower(HelperNamed(t, "b", kLowerName));
  Child other(HelperNamed(t, "c", kOtherName));
  ASSERT_TRUE(upper.Started() && lower.Started() && other.Started());

  EXPECT_NE(TerminateProcessesByName(u"robocopy.exe"), 0);

  EXPECT_EQ(upper.Finish(), End::EndedByRoutine);
  EXPECT_EQ(lower.Finish(), End::EndedByRoutine);
  EXPECT_EQ(other.Finish(), End::Survived);
}

TEST(TerminateProcessesByName, NameMatching) {
  TempDir t;
  // Listed with a capital R.
  const fs::path helper = HelperNamed(t, "h", kPosix ? "Robocopy" : "Robocopy.exe");
  struct Case {
    std::u16string name;
    bool ends;
  };
  const std::vector<Case> cases = {
      {u"robocopy.exe", true},
      {u"ROBOCOPY.EXE", true},
      {u"rOBOcopy.eXe", true},
      // The bare name is the process's own name only where programs carry no ".exe".
      {u"Robocopy", kPosix},
      // The whole executable path is known only on POSIX.
      {U(helper), kPosix},
      {u"robocop.exe", false},
      {u"obocopy.exe", false},
      {u"robocopy.ex", false},
      {u"robocopy.exe.exe", false},
      {u"robocopy.exe ", false},
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
