#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#endif

#include "funcoes/foldersize.h"
#include "funcoes/funcoes.h"
#include "tempdir.h"

namespace fs = std::filesystem;
using testsupport::TempDir;
using testsupport::TryLink;
using testsupport::U;
using testsupport::WriteFile;

namespace {

struct Case {
  std::u16string path;
  bool recurse;
  int64_t expected;
};

void ExpectSizes(const std::vector<Case>& cases) {
  for (const Case& c : cases) {
    SCOPED_TRACE(fs::path(c.path).string() + (c.recurse ? " recursive" : " top level"));
    EXPECT_EQ(FolderSize(c.path, c.recurse), c.expected);
  }
}

// Hidden and system on Windows; the leading "." already hides it elsewhere.
void MakeHidden(const fs::path& p) {
#ifdef _WIN32
  SetFileAttributesW(p.c_str(), FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);
#else
  (void)p;
#endif
}

// The oracle: bytes of the regular files, folders beginning with "." skipped.
int64_t SumOfFiles(const fs::path& root) {
  int64_t sum = 0;
  for (auto it = fs::recursive_directory_iterator(root); it != fs::recursive_directory_iterator(); ++it) {
    if (it->is_directory() && it->path().filename().string().starts_with(".")) {
      it.disable_recursion_pending();
    } else if (it->is_regular_file()) {
      sum += static_cast<int64_t>(it->file_size());
    }
  }
  return sum;
}

// A random tree under root, some folders and files hidden by a leading "."; its folders, root first.
std::vector<fs::path> GenerateTree(const fs::path& root, unsigned seed, int folderCount, int fileCount) {
  std::mt19937 random(seed);
  std::vector<fs::path> folders{root};
  for (int i = 0; i < folderCount; ++i) {
    const fs::path& parent = folders[random() % folders.size()];
    const std::string name = (random() % 6 == 0 ? ".d" : "d") + std::to_string(i);
    folders.push_back(parent / name);
    fs::create_directories(folders.back());
  }
  for (int i = 0; i < fileCount; ++i) {
    const fs::path& folder = folders[random() % folders.size()];
    const std::string name = (random() % 8 == 0 ? ".f" : "f") + std::to_string(i) + ".bin";
    WriteFile(folder / name, std::string(random() % 5000, 'z'));
  }
  return folders;
}

// The oracle with links: a folder whose target lies on the path from the first
// folder down to it is not entered; files are counted by their own size.
int64_t SumOnPaths(const fs::path& folder, std::vector<fs::path>& walking) {
  const fs::path target = fs::canonical(folder);
  for (const fs::path& above : walking)
    if (above == target) return 0;
  walking.push_back(target);
  int64_t sum = 0;
  for (const fs::directory_entry& e : fs::directory_iterator(folder)) {
    if (e.is_directory()) {
      if (!e.path().filename().string().starts_with(".")) sum += SumOnPaths(e.path(), walking);
    } else {
      sum += static_cast<int64_t>(e.file_size());
    }
  }
  walking.pop_back();
  return sum;
}

}  // namespace

TEST(FolderSize, FixtureTree) {
  TempDir t;
  const fs::path r = t / "root";
  WriteFile(r / "a.mp4", std::string(10, 'a'));
  WriteFile(r / ".hidden", std::string(7, 'h'));
  WriteFile(r / "sys.dat", std::string(3, 's'));
  MakeHidden(r / "sys.dat");
  WriteFile(r / "sub" / "b.mov", std::string(100, 'b'));
  WriteFile(r / "sub" / "deeper" / "c.wav", std::string(1000, 'c'));
  WriteFile(r / "sub" / ".cache" / "d", std::string(5000, 'd'));
  WriteFile(r / "sub" / ".cache" / "inner" / "e", std::string(6000, 'e'));
  WriteFile(r / ".dot" / "f", std::string(20000, 'f'));
  WriteFile(r / ".dot" / "inner" / "g", std::string(40000, 'g'));
  WriteFile(r / u"\u00fcn\u00efcode \u65e5\u672c" / "h.mp4", std::string(200, 'h'));
  fs::create_directories(r / "empty");
  fs::create_directories(r / "onlyfolders" / "x" / "y");
  MakeHidden(r / "sub");

  ExpectSizes({
      {U(r), true, 10 + 7 + 3 + 100 + 1000 + 200},
      {U(r) + PathDelim, true, 10 + 7 + 3 + 100 + 1000 + 200},
      {U(r), false, 10 + 7 + 3},
      {U(r / "sub"), true, 1100},
      {U(r / "sub"), false, 100},
      // A "." folder named directly is listed; only its "." sub-folders are skipped.
      {U(r / ".dot"), true, 60000},
      {U(r / "sub" / ".cache"), true, 11000},
      {U(r / "empty"), true, 0},
      {U(r / "onlyfolders"), true, 0},
      {U(r / "missing"), true, 0},
      {U(r / "missing" / "deeper"), true, 0},
      {U(r / "a.mp4"), true, 0},
      {u"", true, 0},
  });
}

TEST(FolderSize, LargeSparseFilesDoNotWrap) {
  constexpr int64_t GiB = int64_t{1} << 30;
  TempDir t;
  const auto sparse = [](const fs::path& p, int64_t size) {
    WriteFile(p, "");
    fs::resize_file(p, static_cast<uintmax_t>(size));
  };
  sparse(t / "five" / "five.bin", 5 * GiB);
  sparse(t / "several" / "three.bin", 3 * GiB);
  sparse(t / "several" / "sub" / "three.bin", 3 * GiB);
  sparse(t / "several" / "sub" / "two.bin", 2 * GiB - 1);

  ExpectSizes({
      {U(t / "five"), true, 5368709120},
      {U(t / "several"), false, 3 * GiB},
      {U(t / "several"), true, 8 * GiB - 1},
  });
}

TEST(FolderSize, LinkCyclesEnd) {
  TempDir t;
  const fs::path r = t / "root";
  WriteFile(r / "x.bin", std::string(1, 'x'));
  WriteFile(r / "sub" / "s.bin", std::string(10, 's'));
  WriteFile(r / "loop" / "l.bin", std::string(100, 'l'));
  WriteFile(t / "pair" / "m1" / "a.bin", std::string(1000, 'a'));
  WriteFile(t / "pair" / "m2" / "b.bin", std::string(10000, 'b'));
  if (!TryLink(r, r / "loop" / "back") || !TryLink(r / "sub", r / "alias") ||
      !TryLink(t / "pair" / "m2", t / "pair" / "m1" / "to2") || !TryLink(t / "pair" / "m1", t / "pair" / "m2" / "to1"))
    GTEST_SKIP() << "links to folders cannot be made here";

  ExpectSizes({
      // alias leads to sub, which is not on its path: counted a second time.
      {U(r), true, 1 + 10 + 10 + 100},
      // From loop, back leads up to root once; root's own loop is then on the path.
      {U(r / "loop"), true, 100 + 1 + 10 + 10},
      {U(r / "alias"), true, 10},
      // Two folders linking to each other: each counted once per path.
      {U(t / "pair"), true, 2 * (1000 + 10000)},
  });
}

TEST(FolderSize, AgreesWithFileSumsOnGeneratedTree) {
  TempDir t;
  const fs::path r = t / "tree";
  GenerateTree(r, 20240605, 60, 600);

  const int64_t expected = SumOfFiles(r);
  ASSERT_GT(expected, 0);
  EXPECT_EQ(FolderSize(U(r), true), expected);
#ifndef _WIN32
  // The same sum from find, as du --apparent-size counts files.
  const std::string command =
      "find '" + r.string() + "' -type f -not -path '*/.*/*' -printf '%s\\n' | awk '{s+=$1} END {print s+0}'";
  FILE* pipe = popen(command.c_str(), "r");
  ASSERT_NE(pipe, nullptr);
  long long fromFind = -1;
  EXPECT_EQ(fscanf(pipe, "%lld", &fromFind), 1);
  pclose(pipe);
  EXPECT_EQ(FolderSize(U(r), true), fromFind);
#endif
}

TEST(FolderHoldsFiles, AnyFileAtAnyDepthCounts) {
  TempDir tmp;
  fs::create_directories(tmp / "empty");
  fs::create_directories(tmp / "folders" / "a" / "b");
  fs::create_directories(tmp / "folders" / "c");
  WriteFile(tmp / "deep" / "a" / "b" / "clip.mp4", "");  // empty, still a file
  WriteFile(tmp / "hidden" / ".cache" / "x", "x");
  WriteFile(tmp / "hidden" / "sub" / ".Trashes", "x");
  WriteFile(tmp / "top" / "clip.mp4", "x");
  const struct {
    std::u16string path;
    bool holds;
  } cases[] = {
      {U(tmp / "empty"), false},
      {U(tmp / "folders"), false},
      {U(tmp / "deep"), true},
      {U(tmp / "hidden"), false},
      {U(tmp / "top"), true},
      {U(tmp / "missing"), false},
      {U(tmp / "top" / "clip.mp4"), false},
      {u"", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(fs::path(c.path).string());
    EXPECT_EQ(FolderHoldsFiles(c.path), c.holds);
  }
  // A link back up the tree ends the walk instead of repeating it.
  if (TryLink(tmp / "folders", tmp / "folders" / "a" / "b" / "up")) EXPECT_FALSE(FolderHoldsFiles(U(tmp / "folders")));
}

// Sibling folders walked on several threads: the same sums, link guard included,
// whatever the number of threads, and a walk that is told to stop ends.
TEST(FolderSize, SiblingWalksOnSeveralThreadsGiveTheSameSums) {
  TempDir t;
  const fs::path r = t / "tree";
  const std::vector<fs::path> folders = GenerateTree(r, 1400, 120, 800);
  // Links up the tree, from deep folders, and across to other branches.
  bool linked = true;
  for (int i = 0; i < 6 && linked; ++i) {
    const fs::path from = folders[folders.size() - 1 - static_cast<size_t>(i) * 7];
    const fs::path up = from.parent_path().parent_path();
    linked = TryLink(up.string().size() >= r.string().size() ? up : r, from / ("up" + std::to_string(i)));
  }
  linked = linked && TryLink(folders[5], folders[90] / "across") && TryLink(folders[100], folders[3] / "across");
  if (!linked) GTEST_SKIP() << "links to folders cannot be made here";

  std::vector<fs::path> walking;
  const int64_t expected = SumOnPaths(r, walking);
  ASSERT_GT(expected, 0);
  EXPECT_EQ(FolderSize(U(r), true), expected);
  const std::atomic<bool> never{false};
  for (unsigned threads : {0u, 1u, 2u, 3u, 8u}) {
    SCOPED_TRACE(std::to_string(threads) + " threads");
    EXPECT_EQ(FolderSize(U(r), true, threads, never), expected);
    EXPECT_EQ(FolderSize(U(r), false, threads, never), FolderSize(U(r), false));
  }
  const std::atomic<bool> stopped{true};
  EXPECT_EQ(FolderSize(U(r), true, 2, stopped), 0);
}

#ifndef _WIN32
// Folder names that are not valid UTF-8 hold overlong forms of "/" and NUL:
// decoded loosely they named the folder beside them, which was counted twice.
TEST(FolderSize, ANameThatIsNotUtf8IsNeverAnotherFolder) {
  TempDir t;
  WriteFile(t / "sub" / "clip.mov", std::string(100, 'x'));
  for (const char* odd : {"sub\xC0\xAF",
                          "sub\xC0\x80"
                          "x"})
    fs::create_directories(t / odd);
  EXPECT_EQ(FolderSize(U(t.path()), true), 100);
}
#endif
