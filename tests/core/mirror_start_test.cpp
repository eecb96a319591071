// Starts a stand-in named robocopy from the program's own folder, the way the
// runner starts a mirror.
#include <gtest/gtest.h>

#include "child_helper.h"
#include "funcoes/cmdline.h"
#include "funcoes/runner.h"
#include "platform/fs.h"
#include "tempdir.h"

namespace {

using namespace testsupport;

TEST(StartMirror, RunsRobocopyFromTheOwnFolderWithTheMirrorLine) {
  TempDir tmp;
#ifdef _WIN32
  const fs::path source = tmp / fs::path(u"m\u00eddia src"), destination = tmp / "dst x";
#else
  const fs::path source = tmp / fs::path(u"m\u00eddia src"), destination = tmp / "dst \"x\"";
#endif
  fs::create_directories(tmp / "current");
  fs::create_directories(source);
  fs::create_directories(destination);
  PlacedRobocopy own(fs::path(platform::ExecutableFolder()));
  PlacedRobocopy inCurrentFolder(tmp / "current");
  ScopedCurrentFolder current(tmp / "current");

  for (bool preserve : {true, false}) {
    SCOPED_TRACE(preserve);
    fs::remove(destination / "argv.txt");
    const std::u16string line = MirrorCommandLine(U(source), U(destination), preserve);
    platform::ChildProcess child = StartMirror(u" \t" + line + u"\r\n");
    WaitForEnd(child);
    child.Close();

    std::vector<std::u16string> want = {u"robocopy", U(source) + PathDelim, U(destination) + PathDelim};
    const auto all = SplitCommandLine(line);
    want.insert(want.end(), all.begin() + 3, all.end());
    EXPECT_EQ(ReadLines(destination / "argv.txt"), want);
    EXPECT_TRUE(platform::SamePathName(platform::FromUtf8(ReadFile(destination / "self.txt")), U(own.path())));
  }
}

}  // namespace
