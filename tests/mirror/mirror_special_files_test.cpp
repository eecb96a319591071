// A source entry that is a pipe, a socket or a device is not copied: the
// destination's file of that name stays, and the run reports one failure that
// names the source entry. A file that becomes a pipe after the folder was
// listed does not hold the run up.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/sysmacros.h>
#include <sys/un.h>

#include <chrono>
#include <functional>
#include <thread>

#include "mirror_support.h"
#include "tempdir.h"

namespace {

using testsupport::ReadFile;
using testsupport::TempDir;
using testsupport::WriteFile;
namespace fs = std::filesystem;

// Makes the special file `path`; returns why not where the system refuses.
using Maker = std::function<std::string(const fs::path&)>;

std::string MakeFifo(const fs::path& path) { return ::mkfifo(path.c_str(), 0644) == 0 ? "" : "mkfifo refused"; }

std::string MakeSocket(const fs::path& path) {
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  const std::string text = path.string();
  if (fd < 0 || text.size() >= sizeof address.sun_path) return "no socket here";
  text.copy(address.sun_path, text.size());
  const bool made = ::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
  ::close(fd);  // the socket's entry stays in the folder
  return made ? "" : "bind refused";
}

std::string MakeDevice(const fs::path& path) {
  // The null device's numbers: reading it would end at once, but it is no media.
  return ::mknod(path.c_str(), S_IFCHR | 0644, ::makedev(1, 3)) == 0 ? "" : "mknod needs root";
}

struct Case {
  const char* name;
  Maker make;        // made in the source before the run; empty: see becomes
  bool becomesFifo;  // a regular file when listed, a pipe when the copy opens it
};

void PrintTo(const Case& c, std::ostream* out) { *out << c.name; }

class MirrorSpecialFiles : public testing::TestWithParam<Case> {};

TEST_P(MirrorSpecialFiles, AreNotCopiedAndKeepTheDestinationsFile) {
  const Case& c = GetParam();
  TempDir dir;
  const fs::path source = dir / "src", destination = dir / "dst", clip = source / "day1" / "clip.mov";
  WriteFile(source / "day1" / "other.mov", "other");
  WriteFile(destination / "day1" / "clip.mov", "the backup");
  if (c.becomesFifo) {
    WriteFile(clip, "a clip");
  } else {
    fs::create_directories(clip.parent_path());
    if (const std::string refused = c.make(clip); !refused.empty()) GTEST_SKIP() << refused;
  }
  const auto args = mirrortest::ProgramArgs(source, destination, false);
  const std::vector<std::string> env =
      c.becomesFifo ? mirrortest::ShimEnv({"BECOME_FIFO=" + clip.string()}) : std::vector<std::string>{};

  // The first run copies the other clip (1) and fails this one (8); the
  // second has only the failure left.
  for (const int expected : {1 | 8, 8}) {
    SCOPED_TRACE(expected == 8 ? "second run" : "first run");
    const pid_t pid = mirrortest::Start(ROBOCOPY_PATH, args, dir / "run", env);
    ASSERT_GT(pid, 0);
    int status = 0;
    bool ended = false;
    for (int i = 0; i < 600 && !ended; ++i) {
      ended = ::waitpid(pid, &status, WNOHANG) == pid;
      if (!ended) std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    if (!ended) {
      ::kill(pid, SIGKILL);
      ::waitpid(pid, nullptr, 0);
      FAIL() << "the run waits on the pipe forever";
    }
    EXPECT_FALSE(fs::is_regular_file(clip));
    const std::string err = ReadFile(dir / "run.err");
    EXPECT_EQ(WIFEXITED(status) ? WEXITSTATUS(status) : -1, expected) << err;
    EXPECT_EQ(err, "ERROR : Copying File " + clip.string() + " : not a regular file (a pipe, socket or device)\n");
    EXPECT_EQ(ReadFile(destination / "day1" / "clip.mov"), "the backup");
    EXPECT_EQ(ReadFile(destination / "day1" / "other.mov"), "other");
  }
}

std::string CaseName(const testing::TestParamInfo<Case>& info) { return info.param.name; }

INSTANTIATE_TEST_SUITE_P(, MirrorSpecialFiles,
                         testing::Values(Case{"Fifo", MakeFifo, false}, Case{"Socket", MakeSocket, false},
                                         Case{"Device", MakeDevice, false}, Case{"BecomesAFifoAfterListing", {}, true}),
                         CaseName);

}  // namespace
