// A file still open for writing (a clip being recorded or copied in) is not
// copied: its destination stays as it was and the run reports a failure, so a
// later run, after the writer's close, copies it whole.
#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <optional>
#include <thread>

#include "mirror_support.h"
#include "tempdir.h"
#include "unprivileged.h"

namespace {

using testsupport::ReadFile;
using testsupport::TempDir;
using testsupport::WriteFile;
namespace fs = std::filesystem;

enum class Holder { Nobody, ThisProcessReading, ThisProcessWriting, OtherProcessWriting };

// Keeps the file open as the holder does until the end of its scope.
class Hold {
 public:
  Hold(Holder holder, const fs::path& file) {
    switch (holder) {
      case Holder::Nobody:
        break;
      case Holder::ThisProcessReading:
        fd_ = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
        break;
      case Holder::ThisProcessWriting:
        fd_ = ::open(file.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
        break;
      case Holder::OtherProcessWriting: {
        // The child's output goes to the file: it holds it open for writing
        // from before it starts to run.
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 1, file.c_str(), O_WRONLY | O_APPEND, 0);
        char sleep[] = "sleep", seconds[] = "600";
        char* argv[] = {sleep, seconds, nullptr};
        if (posix_spawnp(&pid_, "sleep", &actions, nullptr, argv, environ) != 0) pid_ = -1;
        posix_spawn_file_actions_destroy(&actions);
        break;
      }
    }
  }
  ~Hold() {
    if (fd_ >= 0) ::close(fd_);
    if (pid_ > 0) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
    }
  }
  bool Held(Holder holder) const { return holder == Holder::Nobody || fd_ >= 0 || pid_ > 0; }

 private:
  int fd_ = -1;
  pid_t pid_ = -1;
};

TEST(MirrorInUse, AFileOpenForWritingIsLeftForALaterRun) {
  struct Case {
    const char* name;
    Holder holder;
    std::optional<std::string> destinationBefore;  // what the destination held
    bool copied;
    int exitBits;
  };
  const Case cases[] = {
      {"nobody holds it", Holder::Nobody, std::nullopt, true, 1},
      {"open for reading only", Holder::ThisProcessReading, "older take", true, 1},
      {"open for writing here, no copy yet", Holder::ThisProcessWriting, std::nullopt, false, 1 | 8},
      {"open for writing here, an older copy", Holder::ThisProcessWriting, "older take", false, 1 | 8},
      {"open for writing by another process", Holder::OtherProcessWriting, "older take", false, 1 | 8},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    const fs::path source = dir / "src", destination = dir / "dst";
    WriteFile(source / "clip.mxf", "the whole clip");
    WriteFile(source / "done.xml", "<done/>");  // beside it, finished
    fs::create_directories(destination);
    if (c.destinationBefore) WriteFile(destination / "clip.mxf", *c.destinationBefore);
    const auto before = mirrortest::Picture(destination);

    mirrortest::Outcome o;
    {
      Hold hold(c.holder, source / "clip.mxf");
      ASSERT_TRUE(hold.Held(c.holder));
      o = mirrortest::RunMirror(mirrortest::ProgramArgs(source, destination, false), dir / "run");
    }
    EXPECT_EQ(o.exitCode, c.exitBits) << o.err;
    EXPECT_EQ(ReadFile(destination / "done.xml"), "<done/>");
    if (c.copied) {
      EXPECT_EQ(ReadFile(destination / "clip.mxf"), "the whole clip");
      EXPECT_EQ(o.err, "");
    } else {
      auto after = mirrortest::Picture(destination);
      after.erase("done.xml");
      EXPECT_EQ(after, before) << mirrortest::Describe(before, after);
      // One line that names the file and why.
      EXPECT_EQ(o.err, "ERROR : File In Use " + (source / "clip.mxf").string() + " : open for writing\n");
      // Once the writer has closed it, the next run copies it.
      const mirrortest::Outcome next =
          mirrortest::RunMirror(mirrortest::ProgramArgs(source, destination, false), dir / "next");
      EXPECT_EQ(next.exitCode, 1) << next.err;
      EXPECT_EQ(ReadFile(destination / "clip.mxf"), "the whole clip");
    }
  }
}

// Where no lease can tell (a file of another owner, a file system without
// leases), a file changed within the last 2 seconds counts as being written:
// a recording caught between two writes never lands cut short.
TEST(MirrorInUse, WhereNoLeaseTellsARecentChangeCountsAsInUse) {
  struct Case {
    const char* name;
    const char* leaseErrno;  // the shim refuses the lease with it; empty: no shim
    bool otherUser;          // written by another user, the tool run by an ordinary one
    bool quiet;              // left alone for 2 seconds before the run
  };
  const Case cases[] = {
      {"lease refused to a non-owner, written just now", "13" /* EACCES */, false, false},
      {"no leases on the file system, written just now", "22" /* EINVAL */, false, false},
      {"lease refused, left alone for 2 seconds", "13", false, true},
      {"another user is recording it", "", true, false},
  };
  constexpr unsigned kWriter = 1000;
  constexpr auto kQuiet = std::chrono::milliseconds(2100);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    if (c.otherUser && ::geteuid() != 0) {
      std::printf("skipped \"%s\": taking other users' ids needs root\n", c.name);
      continue;
    }
    TempDir dir;
    const fs::path source = dir / "src", destination = dir / "dst", clip = source / "rec.mxf";
    WriteFile(clip, "first seconds of the take");
    WriteFile(destination / "rec.mxf", "yesterday's take");
    const auto args = mirrortest::ProgramArgs(source, destination, false);
    const std::vector<std::string> env =
        *c.leaseErrno ? mirrortest::ShimEnv({"LEASE_ERRNO=" + std::string(c.leaseErrno)}) : std::vector<std::string>{};
    const auto run = [&](const char* log) {
      const fs::path scratch = dir / log;
      return c.otherUser
                 ? mirrortest::Finish(mirrortest::StartAs(testsupport::ScopedUnprivileged::Id, args, scratch), scratch)
                 : mirrortest::RunMirror(args, scratch, env);
    };
    pid_t writer = -1;
    if (c.otherUser) {
      testsupport::ScopedUnprivileged::Give(destination);
      testsupport::ScopedUnprivileged::Give(destination / "rec.mxf");
      ASSERT_EQ(::chown(clip.c_str(), kWriter, kWriter), 0);
      // Holds the clip open and adds to it now and then, as a recorder does.
      const std::string id = std::to_string(kWriter);
      writer = mirrortest::Start("setpriv",
                                 {"--reuid=" + id, "--regid=" + id, "--clear-groups", "sh", "-c",
                                  "exec >>'" + clip.string() + "'; while :; do printf ' more'; sleep 0.5; done"},
                                 dir / "writer");
      ASSERT_GT(writer, 0);
      while (ReadFile(clip).find(" more") == std::string::npos)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    if (c.quiet) std::this_thread::sleep_for(kQuiet);
    const mirrortest::Outcome o = run("run");
    if (writer > 0) {
      ::kill(writer, SIGKILL);
      ::waitpid(writer, nullptr, 0);
    }
    if (c.quiet) {
      EXPECT_EQ(o.exitCode, 1) << o.err;
      EXPECT_EQ(ReadFile(destination / "rec.mxf"), ReadFile(clip));
      continue;
    }
    EXPECT_EQ(o.exitCode, 8) << o.err;
    EXPECT_NE(o.err.find("ERROR : File In Use "), std::string::npos) << o.err;
    EXPECT_EQ(ReadFile(destination / "rec.mxf"), "yesterday's take");
    // Left alone for 2 seconds, it is copied whole.
    std::this_thread::sleep_for(kQuiet);
    const mirrortest::Outcome next = run("next");
    EXPECT_EQ(next.exitCode, 1) << next.err;
    EXPECT_EQ(ReadFile(destination / "rec.mxf"), ReadFile(clip));
  }
}

}  // namespace
