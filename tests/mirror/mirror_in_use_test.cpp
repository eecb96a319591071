// A file still open for writing (a clip being recorded or copied in) is not
// copied: its destination stays as it was and the run reports a failure, so a
// later run, after the writer's close, copies it whole.
#include <gtest/gtest.h>
#include <signal.h>

#include <optional>

#include "mirror_support.h"
#include "tempdir.h"

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

}  // namespace
