#include "funcoes/runner.h"

#include <algorithm>
#include <cstdlib>
#include <functional>
#include <iostream>

#include <gtest/gtest.h>

#ifndef _WIN32
#include <fcntl.h>
#include <unistd.h>
#endif

#include "child_helper.h"
#include "funcoes/cmdline.h"
#include "funcoes/exceptions.h"
#include "tempdir.h"

namespace {

using namespace testsupport;

#ifdef _WIN32
constexpr char16_t PathSeparator = u';';
#else
constexpr char16_t PathSeparator = u':';
#endif

// A copy of the stand-in child under the given program name.
fs::path PlaceProgram(const fs::path& folder, const std::u16string& name) {
  fs::create_directories(folder);
  const fs::path target = folder / fs::path(platform::ProgramFileName(name));
  fs::copy_file(ChildHelperPath(), target, fs::copy_options::overwrite_existing);
  fs::permissions(target, fs::perms::owner_all, fs::perm_options::add);
  return target;
}

TEST(ProgramSearchFolders, OwnFolderFirstThenFullPathsOnPathNeverTheCurrentFolder) {
  TempDir tmp;
  fs::create_directories(tmp / "a");
  fs::create_directories(tmp / "b");
  const std::u16string sep(1, PathSeparator);
  ScopedPath path(U(tmp / "a") + sep + u"relative" + sep + sep + u"." + sep + U(tmp / "b") + sep);
  ScopedCurrentFolder current(tmp.path());

  std::vector<std::u16string> want = {platform::ExecutableFolder()};
#ifdef _WIN32
  want.push_back(platform::SystemFolder());
#endif
  want.push_back(U(tmp / "a"));
  want.push_back(U(tmp / "b"));
  EXPECT_EQ(ProgramSearchFolders(), want);
  EXPECT_FALSE(want.front().empty());
}

TEST(FindProgram, TakesTheFirstFolderHoldingAProgramFile) {
  TempDir tmp;
  const std::u16string name = u"tarnvel-probe";
  const std::u16string file = platform::ProgramFileName(name);
  fs::create_directories(tmp / "empty");
  fs::create_directories(tmp / "folder" / fs::path(file));  // a folder of that name is no program
  const fs::path first = PlaceProgram(tmp / "first", name);
  PlaceProgram(tmp / "second", name);
#ifndef _WIN32
  WriteFile(tmp / "plain" / "tarnvel-probe", "not executable");
  fs::permissions(tmp / "plain" / "tarnvel-probe", fs::perms::owner_read | fs::perms::owner_write);
#endif
  const std::u16string delim(1, PathDelim);
  const struct {
    std::vector<std::u16string> folders;
    std::u16string want;
  } cases[] = {
      {{}, u""},
      {{U(tmp / "empty"), U(tmp / "folder"), U(tmp / "plain")}, u""},
      {{U(tmp / "empty"), U(tmp / "folder"), U(tmp / "plain"), U(tmp / "first"), U(tmp / "second")}, U(first)},
      {{U(tmp / "first") + delim}, U(first)},
      {{U(tmp / "second"), U(tmp / "first")}, U(tmp / "second" / fs::path(file))},
  };
  for (const auto& c : cases) EXPECT_EQ(FindProgram(name, c.folders), c.want);
}

TEST(FindProgram, FindsTheOwnFolderAndOnPathButNeverTheCurrentFolder) {
  TempDir tmp;
  const std::u16string name = u"tarnvel-probe-" + platform::FromUtf8(std::to_string(
#ifdef _WIN32
                                                      GetCurrentProcessId()
#else
                                                      getpid()
#endif
                                                          ));
  PlaceProgram(tmp / "current", name);
  fs::create_directories(tmp / "path");
  ScopedPath path(U(tmp / "path"));
  ScopedCurrentFolder current(tmp / "current");

  EXPECT_EQ(FindProgram(name, ProgramSearchFolders()), u"");
  EXPECT_EQ(FindProgram(name, {u""}), u"");

  const fs::path onPath = PlaceProgram(tmp / "path", name);
  EXPECT_EQ(FindProgram(name, ProgramSearchFolders()), U(onPath));

  const fs::path own = PlaceProgram(fs::path(platform::ExecutableFolder()), name);
  const std::u16string found = FindProgram(name, ProgramSearchFolders());
  fs::remove(own);
  EXPECT_EQ(found, U(own));
}

TEST(StartChild, RunsTheChildWithTheLinesArgumentsAndWaitsForItsEnd) {
  TempDir tmp;
  fs::create_directories(tmp / "src");
  fs::create_directories(tmp / "dst with blank");
  WriteFile(tmp / "dst with blank" / "hold", "");
  const std::u16string line = MirrorCommandLine(U(tmp / "src"), U(tmp / "dst with blank"), true);

  platform::ChildProcess child = StartChild(U(ChildHelperPath()), line);
  // The child cannot end while the hold file exists; its argv is written first.
  while (!fs::exists(tmp / "dst with blank" / "self.txt")) EXPECT_FALSE(child.Wait(10));
  EXPECT_FALSE(child.Wait(10));
  fs::remove(tmp / "dst with blank" / "hold");
  WaitForEnd(child);
  EXPECT_TRUE(child.Wait(0));
  child.Close();

  EXPECT_EQ(ReadLines(tmp / "dst with blank" / "argv.txt"), SplitCommandLine(line));
  const auto args = SplitCommandLine(line);
  ASSERT_GE(args.size(), 3u);
  EXPECT_EQ(args[2], U(tmp / "dst with blank") + PathDelim);
}

TEST(StartMirror, AFailedStartRaisesTheSystemError) {
  TempDir tmp;
  fs::create_directories(tmp / "empty");
  ScopedPath path(U(tmp / "empty"));
  const fs::path folderProgram = tmp / "folder";
  fs::create_directories(folderProgram);
  const struct {
    std::function<void()> start;
    int code;
  } cases[] = {
      {[] { StartMirror(u"  tarnvel-no-such-program a b  "); }, 2},
      {[] { StartMirror(u""); }, 2},
#ifndef _WIN32
      {[&] { StartChild(U(folderProgram), u"x"); }, EACCES},
#else
      {[&] { StartChild(U(tmp / "missing.exe"), u"x"); }, ERROR_FILE_NOT_FOUND},
#endif
  };
  for (const auto& c : cases) {
    try {
      c.start();
      ADD_FAILURE() << "no error for code " << c.code;
    } catch (const EOSError& e) {
      EXPECT_EQ(e.ErrorCode, c.code);
      EXPECT_EQ(std::string(e.what()),
                "System Error.  Code: " + std::to_string(c.code) + "." + LineBreak + platform::SystemErrorText(c.code));
      EXPECT_FALSE(platform::SystemErrorText(c.code).empty());
    }
  }
}

#ifndef _WIN32
TEST(StartChild, GivesTheChildOnlyDevNullAsItsDescriptors) {
  TempDir tmp;
  fs::create_directories(tmp / "dst");
  int leaky[2];
  ASSERT_EQ(pipe(leaky), 0);  // no close-on-exec
  const int leakyFile = open("/dev/zero", O_RDONLY);
  platform::ChildProcess child =
      StartChild(U(ChildHelperPath()), MirrorCommandLine(U(tmp / "src"), U(tmp / "dst"), false));
  WaitForEnd(child);
  close(leaky[0]);
  close(leaky[1]);
  close(leakyFile);
  EXPECT_EQ(ReadFile(tmp / "dst" / "fds.txt"), "0 /dev/null\n1 /dev/null\n2 /dev/null\n");

  // Read for its failures and its summary, the child's standard output and
  // error are one pipe, and nothing else is open.
  std::string errors;
  child = StartChild(U(ChildHelperPath()), MirrorCommandLine(U(tmp / "src"), U(tmp / "dst"), false),
                     [&errors](std::string_view bytes) { errors += bytes; });
  WaitForEnd(child);
  const std::string fds = ReadFile(tmp / "dst" / "fds.txt");
  const size_t one = fds.find("\n1 "), two = fds.find("\n2 ");
  ASSERT_TRUE(fds.starts_with("0 /dev/null\n") && one != std::string::npos && two != std::string::npos) << fds;
  const std::string out = fds.substr(one + 3, two - one - 3),
                    err = fds.substr(two + 3, fds.find('\n', two + 1) - two - 3);
  EXPECT_TRUE(out.starts_with("pipe:[")) << fds;
  EXPECT_EQ(out, err) << fds;
  EXPECT_EQ(std::count(fds.begin(), fds.end(), '\n'), 3) << fds;
}
#endif

TEST(FoldersOverlap, SameOrNestedFoldersOverlapSiblingsDoNot) {
  TempDir tmp;
  for (const char* folder : {"a/b/c", "a/bc", "x"}) fs::create_directories(tmp / folder);
  const std::u16string t = U(tmp.path()), d(1, PathDelim);
  struct Case {
    std::u16string a, b;
    bool want;
  };
  std::vector<Case> cases = {
      {t + d + u"a", t + d + u"a", true},
      {t + d + u"a" + d, t + d + u"a", true},
      {t + d + u"a", t + d + u"a" + d + u"b" + d + u"c", true},
      {t + d + u"a" + d + u"b", t + d + u"a", true},
      {t + d + u"a" + d + u"b", t + d + u"a" + d + u"bc", false},
      {t + d + u"a" + d + u"bc", t + d + u"a" + d + u"b" + d + u"c", false},
      {t + d + u"a", t + d + u"x", false},
      {t + d + u"a" + d + u"b" + d + u".." + d + u"bc", t + d + u"a" + d + u"bc", true},
      {u"", t + d + u"a", false},
      {t + d + u"a", u"", false},
  };
#ifdef _WIN32
  // Windows compares names ignoring letter case.
  cases.push_back({t + d + u"A" + d + u"B", t + d + u"a" + d + u"b" + d + u"c", true});
#else
  fs::create_directory_symlink(tmp / "a" / "b", tmp / "link");
  cases.push_back({t + u"/link", t + u"/a/b", true});
  cases.push_back({t + u"/link/c", t + u"/a", true});
  cases.push_back({t + u"/a", t + u"/link", true});
  cases.push_back({t + u"/link", t + u"/a/bc", false});
  cases.push_back({u"/", t + u"/x", true});
  // A bind mount shows a folder under another path that no link explains:
  // only the folders' identities tell.
  fs::create_directories(tmp / "bound");
  const bool bound =
      geteuid() == 0 &&
      std::system(
          ("mount --bind '" + (tmp / "a").string() + "' '" + (tmp / "bound").string() + "' 2>/dev/null").c_str()) == 0;
  if (bound) {
    cases.push_back({t + u"/bound/b/c", t + u"/a", true});
    cases.push_back({t + u"/bound", t + u"/a/b", true});
    cases.push_back({t + u"/bound/bc", t + u"/a/b", false});
    cases.push_back({t + u"/bound", t + u"/x", false});
  } else {
    std::cout << "bind mount rows left out: mounting needs root\n";
  }
#endif
  for (const auto& c : cases) {
    SCOPED_TRACE(platform::ToUtf8(c.a) + " | " + platform::ToUtf8(c.b));
    EXPECT_EQ(FoldersOverlap(c.a, c.b), c.want);
    EXPECT_EQ(FoldersOverlap(c.b, c.a), c.want);
  }
#ifndef _WIN32
  if (bound) std::system(("umount '" + (tmp / "bound").string() + "'").c_str());
#endif
}

TEST(MirrorPercentage, DestinationAgainstSourceRoundedHalfToEvenAndHeldWithinTheGauge) {
  const struct {
    int64_t source, destination;
    int32_t percent;
  } cases[] = {
      {8, 1, 12},                         // 12.5: the even neighbour below
      {8, 3, 38},                         // 37.5: the even neighbour above
      {8, 4, 50},          {8, 16, 100},  // more than the source shows as full
      {8, 800000000, 100},                // a hundred million times larger
      {1, INT64_MAX, 100},                // far beyond int's range
      {3, 2, 67},                         // 66.67
      {200, 1, 0},                        // 0.5: the even neighbour below
      {200, 3, 2},                        // 1.5: the even neighbour above
      {8, 0, 0},                          // nothing copied yet
      {0, 0, 0},                          // an empty source and an empty destination: no ratio, nothing shown
      {0, 5, 100},                        // an empty source: the destination holds all of it and more
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.destination) + " of " + std::to_string(c.source));
    EXPECT_EQ(MirrorPercentage(c.source, c.destination), c.percent);
  }
}

}  // namespace
