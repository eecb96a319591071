// The command line: what is accepted, and what is refused with exit code 16
// before anything is touched.
#include <gtest/gtest.h>

#include "mirror/options.h"
#include "mirror_support.h"
#include "tempdir.h"

namespace {

using mirror::Options;
using mirror::ParseOptions;
using testsupport::TempDir;
using testsupport::WriteFile;
namespace fs = std::filesystem;

// The program's line, built and split by the core, reaches the tool as the
// folders and options it means, whatever the folders' names hold.
TEST(MirrorCommandLine, TheProgramsLineReachesTheToolIntact) {
  const std::vector<std::string> excludedFolders = {"$Recycle.bin", "Boot", "Recycler", "System Volume Information"};
  for (const std::string folder : {"/media/clips", "/media/my clips", "/media/say \"hi\"", "/media/a\\b \\"}) {
    for (const bool preserve : {false, true}) {
      SCOPED_TRACE(folder + (preserve ? " keeping extras" : ""));
      const WideString line = MirrorCommandLine(platform::FromUtf8(folder), u"/backup/out", preserve);
      const Options o = ParseOptions(mirrortest::ProgramArgs(folder, "/backup/out", preserve));
      EXPECT_EQ(o.source, folder + "/");
      EXPECT_EQ(o.destination, "/backup/out/");
      EXPECT_TRUE(o.subfolders);
      EXPECT_EQ(o.keepExtras, preserve);
      EXPECT_EQ(o.Purging(), !preserve);
      // The core's reading of its own line agrees with the tool's.
      EXPECT_EQ(PurgesExtras(line), o.Purging());
      EXPECT_TRUE(o.fatTimes);
      EXPECT_TRUE(o.restartable);
      EXPECT_TRUE(o.skipHidden);
      EXPECT_EQ(o.retries, 0);
      EXPECT_EQ(o.excludedFolders, excludedFolders);
      EXPECT_EQ(o.excludedFiles, std::vector<std::string>{"*.exe"});
    }
  }
}

TEST(MirrorCommandLine, ProgramLinesParse) {
  struct Case {
    std::vector<std::string> args;
    bool purging, fatTimes, restartable, skipHidden;
    std::vector<std::string> folders, files;
  };
  const Case cases[] = {
      // clang-format off
      {mirrortest::ProgramArgs("/s", "/d", false), true,  true, true, true,
       {"$Recycle.bin", "Boot", "Recycler", "System Volume Information"}, {"*.exe"}},
      {mirrortest::ProgramArgs("/s", "/d", true),  false, true, true, true,
       {"$Recycle.bin", "Boot", "Recycler", "System Volume Information"}, {"*.exe"}},
      // clang-format on
      // Options are case-insensitive; a list runs until the next option.
      {{"s", "d", "/mir", "/xd", "a", "b", "/fft", "/xf", "*.x", "/r:3", "/w:1"},
       true,
       true,
       false,
       false,
       {"a", "b"},
       {"*.x"}},
      {{"s", "d", "/E", "/PURGE", "/xa:h", "/z", "/XD", "/XF"}, true, false, true, true, {}, {}},
      {{"s", "d"}, false, false, false, false, {}, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.args));
    const Options o = ParseOptions(c.args);
    EXPECT_EQ(o.Purging(), c.purging);
    EXPECT_EQ(o.fatTimes, c.fatTimes);
    EXPECT_EQ(o.restartable, c.restartable);
    EXPECT_EQ(o.skipHidden, c.skipHidden);
    EXPECT_EQ(o.excludedFolders, c.folders);
    EXPECT_EQ(o.excludedFiles, c.files);
  }
}

TEST(MirrorCommandLine, WildcardsIgnoreAsciiCase) {
  struct Case {
    const char* pattern;
    const char* name;
    bool match;
  };
  const Case cases[] = {
      {"*.exe", "setup.EXE", true},
      {"*.exe", "setup.exe.txt", false},
      {"*.exe", ".exe", true},
      {"*.exe", "exe", false},
      {"Boot", "BOOT", true},
      {"Boot", "Boots", false},
      {"a?c", "abc", true},
      {"a?c", "ac", false},
      {"a?c",
       "a\xC3\xA9"
       "c",
       true},
      {"\xC3\xA9", "\xC3\x89", false},  // only ASCII letters fold
      {"*a*b*", "xxaxxbxx", true},
      {"*a*b", "ab_a", false},
      {"*", "", true},
      {"$Recycle.bin", "$RECYCLE.BIN", true},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(mirror::WildcardMatch(c.pattern, c.name), c.match) << c.pattern << " vs " << c.name;
  }
}

TEST(MirrorCommandLine, BadLinesExitWith16AndTouchNothing) {
  TempDir dir, logs;
  const fs::path source = dir / "src", destination = dir / "dst", file = dir / "file.txt";
  WriteFile(source / "a.txt", "a");
  WriteFile(file, "not a folder");
  const std::string s = source.string() + "/", d = destination.string() + "/";
  struct Case {
    const char* name;
    std::vector<std::string> args;
    const char* message;
  };
  const Case cases[] = {
      {"no arguments", {}, "No Source Directory"},
      {"source only", {s}, "No Destination Directory"},
      {"unknown option", {s, d, "/MIR", "/FOO"}, "Invalid Parameter #4 : \"/FOO\""},
      {"unknown option after valid ones", {s, d, "/MIR", "/XF", "*.exe", "/MOVE"}, "Invalid Parameter #6"},
      {"word outside a list", {s, d, "/MIR", "stray"}, "Invalid Parameter #4 : \"stray\""},
      {"retry count not a number", {s, d, "/MIR", "/R:x"}, "Invalid Parameter #4"},
      {"option with a value it does not take", {s, d, "/XA:S"}, "Invalid Parameter #3"},
      {"missing source", {(dir / "nowhere").string() + "/", d, "/MIR"}, "Accessing Source Directory"},
      {"source is a file", {file.string(), d, "/MIR"}, "Accessing Source Directory"},
      {"destination below a file", {s, (file / "sub").string() + "/", "/MIR"}, "Accessing Destination"},
  };
  const auto before = mirrortest::Picture(dir.path());
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const mirrortest::Outcome o = mirrortest::RunMirror(c.args, logs / "run");
    EXPECT_EQ(o.exitCode, 16);
    EXPECT_NE(o.err.find(c.message), std::string::npos) << o.err;
    EXPECT_EQ(mirrortest::Picture(dir.path()), before);
  }
}

}  // namespace
