// Stopping a mirror ends the runner's own child and no other process, not
// even one of the same name; and the child does not outlive the process that
// started it.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#ifndef _WIN32
#include <cerrno>
#include <csignal>
#include <sys/prctl.h>
#include <sys/wait.h>
#endif

#include "foreign_process.h"
#include "funcoes/funcoes.h"
#include "funcoes/runner.h"
#include "tempdir.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using testsupport::CopyProgram;
using testsupport::ForeignProcess;
using testsupport::TempDir;
using testsupport::U;

namespace {

#ifdef _WIN32
const std::string kRobocopy = "robocopy.exe";
#else
const std::string kRobocopy = "robocopy";
#endif

// True once the child has ended, waiting at most limit.
bool EndsWithin(platform::ChildProcess& child, std::chrono::milliseconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (!child.Wait(10))
    if (std::chrono::steady_clock::now() > deadline) return false;
  return true;
}

}  // namespace

TEST(StopMirror, EndsTheRunnersOwnChildAndNoOtherProcessOfItsName) {
  TempDir t;
  // Both carry the copy program's name; only one is the runner's.
  ForeignProcess foreign(CopyProgram(TARNVEL_SLEEPER, t / "foreign", kRobocopy), {});
  ASSERT_TRUE(foreign.Started());
  const fs::path own = CopyProgram(TARNVEL_SLEEPER, t / "own", kRobocopy);
  const struct {
    const char* name;
    bool running, held, ownEnds;
  } cases[] = {
      {"during a run", true, true, true},
      {"no run", false, true, false},
      {"a run whose child the runner does not hold", true, false, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    platform::ChildProcess child = StartChild(U(own), u"robocopy");
    MirrorRunning = c.running;
    MirrorStopRequested = false;
    MirrorChild = c.held ? &child : nullptr;

    StopMirror();

    EXPECT_EQ(MirrorStopRequested, c.running);
    EXPECT_EQ(EndsWithin(child, c.ownEnds ? 10000ms : 300ms), c.ownEnds);
#ifndef _WIN32
    if (c.ownEnds) EXPECT_EQ(child.End().signal, SIGKILL);
#endif
    MirrorRunning = false;
    MirrorChild = nullptr;
    if (!c.ownEnds) {
      EXPECT_TRUE(child.Terminate());
      EXPECT_TRUE(EndsWithin(child, 10000ms));
    }
  }
  EXPECT_TRUE(foreign.End()) << "a process the runner did not start was ended";
}

// The pid of an ended child may already be another process's.
TEST(ChildProcess, TerminateReachesNothingOnceTheChildIsReapedOrClosed) {
  platform::ChildProcess child = StartChild(U(TARNVEL_SLEEPER), u"sleeper");
  EXPECT_TRUE(child.Terminate());
  ASSERT_TRUE(EndsWithin(child, 10000ms));
#ifndef _WIN32
  EXPECT_FALSE(child.Terminate());
#endif
  child.Close();
  EXPECT_FALSE(child.Terminate());
  EXPECT_FALSE(platform::ChildProcess().Terminate());
}

// A crash, a kill or a logout of the program ends its copy too: a copy left
// running would race with the one a restarted program starts.
TEST(StartChild, TheChildEndsWithTheProcessThatStartedIt) {
  TempDir t;
  const fs::path pidFile = t / "pid.txt";
#ifndef _WIN32
  // The orphan comes to this process, which can then see how it ended.
  ASSERT_EQ(prctl(PR_SET_CHILD_SUBREAPER, 1), 0);
#endif
  ForeignProcess parent(TARNVEL_MIRROR_PARENT, {TARNVEL_SLEEPER, pidFile.string()});
  ASSERT_TRUE(parent.Started());
  long pid = 0;
  for (auto deadline = std::chrono::steady_clock::now() + 60s; pid == 0 && std::chrono::steady_clock::now() < deadline;
       std::this_thread::sleep_for(10ms))
    std::ifstream(pidFile) >> pid;
  ASSERT_GT(pid, 0) << "the child did not start";

#ifdef _WIN32
  HANDLE child = OpenProcess(SYNCHRONIZE | PROCESS_TERMINATE, FALSE, static_cast<DWORD>(pid));
  ASSERT_NE(child, nullptr);
  parent.Crash();
  const bool ended = WaitForSingleObject(child, 1000) == WAIT_OBJECT_0;
  if (!ended) TerminateProcess(child, 1);
  CloseHandle(child);
  EXPECT_TRUE(ended) << "the child outlived its parent";
#else
  parent.Crash();
  int status = 0;
  bool ended = false;
  for (auto deadline = std::chrono::steady_clock::now() + 1s; !ended && std::chrono::steady_clock::now() < deadline;
       std::this_thread::sleep_for(5ms)) {
    // ECHILD until the orphan has come to this process.
    ended = waitpid(static_cast<pid_t>(pid), &status, WNOHANG) == pid;
  }
  if (!ended) {
    kill(static_cast<pid_t>(pid), SIGKILL);
    waitpid(static_cast<pid_t>(pid), nullptr, 0);
  }
  ASSERT_TRUE(ended) << "the child outlived its parent by more than a second";
  EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM);
#endif
}
