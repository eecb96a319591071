// Where the walk goes and what its failure lines name: links that lead into
// the destination or onto the kernel's file systems, the path each failure
// names, and the file system's own lost+found folder.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <fstream>
#include <functional>
#include <memory>
#include <regex>
#include <thread>

#include "ext4_volume.h"
#include "mirror_support.h"
#include "tempdir.h"
#include "unprivileged.h"

namespace {

using testsupport::ReadFile;
using testsupport::TempDir;
using testsupport::WriteFile;
namespace fs = std::filesystem;

// How many times `text` holds `part`.
size_t Count(const std::string& text, const std::string& part) {
  size_t n = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
  return n;
}

// The ERROR lines of a run's standard error.
std::vector<std::string> ErrorLines(const std::string& err) {
  std::vector<std::string> lines;
  std::istringstream in(err);
  for (std::string line; std::getline(in, line);) {
    if (line.starts_with("ERROR : ")) lines.push_back(line);
  }
  return lines;
}

// The tool run as the ordinary user 65534 through setpriv, or as root.
mirrortest::Outcome RunTool(const std::vector<std::string>& args, const fs::path& scratch, bool unprivileged,
                            int seconds = 120) {
  std::vector<std::string> line;
  if (unprivileged) line = {"--reuid=65534", "--regid=65534", "--clear-groups", ROBOCOPY_PATH};
  line.insert(line.end(), args.begin(), args.end());
  return mirrortest::FinishWithin(mirrortest::Start(unprivileged ? "setpriv" : ROBOCOPY_PATH, line, scratch), scratch,
                                  seconds);
}

// Makes a tree the ordinary user's, so that it may write there.
void GiveTree(const fs::path& root) {
  testsupport::ScopedUnprivileged::Give(root);
  if (!fs::is_directory(root)) return;
  for (const auto& e : fs::recursive_directory_iterator(root)) testsupport::ScopedUnprivileged::Give(e.path());
}

std::uintmax_t TreeBytes(const fs::path& root) {
  std::uintmax_t bytes = 0;
  for (const auto& e : fs::recursive_directory_iterator(root)) {
    if (e.is_regular_file()) bytes += e.file_size();
  }
  return bytes;
}

// Why the system cannot serve a row that links to `target`, or empty. /dev is
// a plain tmpfs in many containers: only devtmpfs is the kernel's own.
std::string Unavailable(const fs::path& target) {
  struct stat st;
  if (::stat(target.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return target.string() + " is missing here";
  if (target != "/dev") return "";
  std::ifstream table("/proc/self/mountinfo");
  for (std::string line; std::getline(table, line);) {
    if (line.find(" /dev ") != std::string::npos && line.find(" - devtmpfs ") != std::string::npos) return "";
  }
  return "/dev is no devtmpfs here";
}

TEST(MirrorWalk, FollowedLinksNeverLeadIntoTheDestinationNorOntoPseudoFileSystems) {
  struct Case {
    const char* name;
    const char* link;  // in the source
    // The link's target, given the source, the destination and the folder that holds both.
    std::function<fs::path(const fs::path&, const fs::path&, const fs::path&)> target;
    const char* reason;  // what its failure line says
    const char* named;   // the source folder it names: the link, or the destination met behind it
  };
  const Case cases[] = {
      {"a link to a folder inside the destination", "Projects/All",
       [](const fs::path&, const fs::path& dst, const fs::path&) { return dst / "Projects"; }, "destination",
       "Projects/All"},
      {"a link to the destination itself", "backup",
       [](const fs::path&, const fs::path& dst, const fs::path&) { return dst; }, "destination", "backup"},
      {"a link to the folder that holds the destination", "up",
       [](const fs::path&, const fs::path&, const fs::path& both) { return both; }, "destination", "up/dst"},
      {"a link to /proc", "proc", [](const fs::path&, const fs::path&, const fs::path&) { return fs::path("/proc"); },
       "pseudo file system", "proc"},
      {"a link to /sys", "sys", [](const fs::path&, const fs::path&, const fs::path&) { return fs::path("/sys"); },
       "pseudo file system", "sys"},
      {"a link to /dev", "dev", [](const fs::path&, const fs::path&, const fs::path&) { return fs::path("/dev"); },
       "pseudo file system", "dev"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir, logs;
    const fs::path src = dir / "src", dst = dir / "dst";
    WriteFile(src / "Projects" / "clip.mov", std::string(4096, 'c'));
    WriteFile(src / "notes.txt", "notes");
    WriteFile(dst / "Projects" / "clip.mov", "an older copy");
    const fs::path target = c.target(src, dst, dir.path());
    if (const std::string why = Unavailable(target); !why.empty()) {
      std::cout << "row \"" << c.name << "\" skipped: " << why << "\n";
      continue;
    }
    fs::create_directory_symlink(target, src / c.link);
    const auto args = mirrortest::ProgramArgs(src, dst, false);
    const mirrortest::Outcome o = RunTool(args, logs / "run", false, 60);
    ASSERT_NE(o.exitCode, 128 + SIGKILL) << "the run did not end";
    EXPECT_EQ(o.exitCode & (8 | 16), 8) << o.err;
    // One line, naming the folder in the source.
    const std::string line = "ERROR : Scanning Source Directory " + (src / c.named).string() + " : ";
    EXPECT_EQ(Count(o.err, line), 1u) << o.err;
    EXPECT_NE(o.err.find(c.reason), std::string::npos) << o.err;
    EXPECT_EQ(ErrorLines(o.err).size(), 1u) << o.err;
    // The rest is mirrored; the destination did not grow into itself.
    EXPECT_EQ(ReadFile(dst / "Projects" / "clip.mov"), std::string(4096, 'c'));
    EXPECT_EQ(ReadFile(dst / "notes.txt"), "notes");
    EXPECT_FALSE(fs::exists(fs::symlink_status(dst / c.named))) << "made in the destination";
    EXPECT_LT(TreeBytes(dst), 64u * 1024);
    // A second run does the same and nothing more.
    const mirrortest::Outcome again = RunTool(args, logs / "again", false, 60);
    EXPECT_EQ(again.exitCode, 8) << again.err;
    EXPECT_EQ(ErrorLines(again.err), ErrorLines(o.err));
  }
}

TEST(MirrorWalk, ALinkFromASourceInsideTheDestinationToAnotherPartOfItIsRefused) {
  TempDir dir, logs;
  const fs::path dst = dir / "tree", src = dst / "media";
  WriteFile(src / "clip.mov", "clip");
  WriteFile(dst / "other" / "take.wav", "take");
  fs::create_directory_symlink(dst / "other", src / "other");
  const mirrortest::Outcome o = RunTool(mirrortest::ProgramArgs(src, dst, false), logs / "run", false, 60);
  EXPECT_EQ(o.exitCode & (8 | 16), 8) << o.err;
  EXPECT_EQ(Count(o.err, "ERROR : Scanning Source Directory " + (src / "other").string() + " : "), 1u) << o.err;
  // The folder the link leads to is the destination's own: neither read as
  // source nor written through the link.
  EXPECT_EQ(ReadFile(dst / "other" / "take.wav"), "take");
  EXPECT_EQ(ReadFile(dst / "clip.mov"), "clip");
  EXPECT_FALSE(fs::exists(dst / "other" / "clip.mov"));
}

TEST(MirrorWalk, EachFailureLineNamesThePathWhereTheProblemIs) {
  if (::geteuid() != 0) GTEST_SKIP() << "the rows run the tool as another user through setpriv, which needs root";
  struct Case {
    const char* name;
    std::function<void(const fs::path& src, const fs::path& dst)> arrange;  // after the first mirror
    const char* line;    // the expected failure line, with {src} and {dst} for the two roots
    const char* absent;  // a destination path the run must not make, or null
  };
  const Case cases[] = {
      {"a source file that may not be read",
       [](const fs::path& src, const fs::path&) {
         WriteFile(src / "secret.mp4", "secret");
         fs::permissions(src / "secret.mp4", fs::perms::none);
       },
       "ERROR : Reading Source File {src}/secret.mp4 : Permission denied", "secret.mp4"},
      {"a source folder that may not be listed",
       [](const fs::path& src, const fs::path&) {
         WriteFile(src / "privdir" / "a.mov", "a");
         fs::permissions(src / "privdir", fs::perms::none);
       },
       "ERROR : Scanning Source Directory {src}/privdir : Permission denied", "privdir"},
      {"a folder below it that may not be listed",
       [](const fs::path& src, const fs::path&) {
         WriteFile(src / "open" / "shut" / "a.mov", "a");
         fs::permissions(src / "open" / "shut", fs::perms::owner_all);
       },
       "ERROR : Scanning Source Directory {src}/open/shut : Permission denied", "open/shut"},
      // The destination's side is named as before.
      {"a destination folder that may not be written",
       [](const fs::path& src, const fs::path& dst) {
         WriteFile(src / "sealed" / "new.mov", "new");
         fs::create_directories(dst / "sealed");
         fs::permissions(dst / "sealed", fs::perms(0555));
       },
       "ERROR : Copying File {dst}/sealed/new.mov : Permission denied", nullptr},
  };
  // Every row is arranged first, then left alone for 2 seconds: the tool,
  // run as another user, gets no lease on root's files, and takes a file
  // changed within the last 2 seconds for one still being written.
  std::vector<std::unique_ptr<TempDir>> dirs, logDirs;
  for (const Case& c : cases) {
    const TempDir& dir = *dirs.emplace_back(std::make_unique<TempDir>());
    const TempDir& logs = *logDirs.emplace_back(std::make_unique<TempDir>());
    const fs::path src = dir / "src", dst = dir / "dst";
    WriteFile(src / "a.txt", "a");
    fs::create_directories(dst);
    c.arrange(src, dst);
    testsupport::ScopedUnprivileged::Give(dst);
    testsupport::ScopedUnprivileged::Give(logs.path());
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(2100));
  for (size_t i = 0; i < std::size(cases); ++i) {
    const Case& c = cases[i];
    SCOPED_TRACE(c.name);
    const TempDir &dir = *dirs[i], &logs = *logDirs[i];
    const fs::path src = dir / "src", dst = dir / "dst";
    const mirrortest::Outcome o = RunTool(mirrortest::ProgramArgs(src, dst, false), logs / "run", true);
    const std::string line = std::regex_replace(std::regex_replace(c.line, std::regex("\\{src\\}"), src.string()),
                                                std::regex("\\{dst\\}"), dst.string());
    EXPECT_EQ(o.exitCode & (8 | 16), 8) << o.err;
    EXPECT_EQ(ErrorLines(o.err), std::vector<std::string>{line}) << o.err;
    EXPECT_EQ(ReadFile(dst / "a.txt"), "a");
    if (c.absent != nullptr) EXPECT_FALSE(fs::exists(dst / c.absent));
  }
}

TEST(MirrorWalk, LostAndFoundAtAFileSystemsRootIsNeitherCopiedNorPurged) {
  testsupport::Ext4Volume ext4;
  if (!ext4.Mounted()) GTEST_SKIP() << "no ext4 file system: " << ext4.Refusal();
  const fs::path root = ext4.path();
  ASSERT_TRUE(fs::is_directory(root / "lost+found"));
  struct Case {
    const char* name;
    bool sourceIsRoot;  // else the destination is the ext4 root
    bool unprivileged;
  };
  const Case cases[] = {
      {"destination root, as an ordinary user", false, true},
      {"destination root, as root", false, false},
      {"source root, as an ordinary user", true, true},
      {"source root, as root", true, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir, logs;
    for (const auto& e : fs::directory_iterator(root)) {
      if (e.path().filename() != "lost+found") fs::remove_all(e.path());
    }
    const fs::path src = c.sourceIsRoot ? root : dir / "src", dst = c.sourceIsRoot ? dir / "dst" : root;
    WriteFile(src / "clip.mov", "clip");
    // A lost+found below the root is an ordinary folder.
    WriteFile(src / "card" / "lost+found" / "kept.txt", "mine");
    WriteFile(dst / "extra.txt", "extra");
    fs::create_directories(dst);
    if (c.unprivileged) {
      GiveTree(c.sourceIsRoot ? dst : src);
      for (const auto& e : fs::directory_iterator(root)) {
        if (e.path().filename() != "lost+found") GiveTree(e.path());
      }
      testsupport::ScopedUnprivileged::Give(root);
      testsupport::ScopedUnprivileged::Give(logs.path());
    }
    const auto args = mirrortest::ProgramArgs(src, dst, false);
    const mirrortest::Outcome o = RunTool(args, logs / "run", c.unprivileged);
    EXPECT_EQ(o.exitCode, 1 | 2) << o.err;
    EXPECT_EQ(o.err, "");
    EXPECT_EQ(ReadFile(dst / "clip.mov"), "clip");
    EXPECT_EQ(ReadFile(dst / "card" / "lost+found" / "kept.txt"), "mine");
    EXPECT_FALSE(fs::exists(dst / "extra.txt"));
    if (c.sourceIsRoot) {
      EXPECT_FALSE(fs::exists(dst / "lost+found"));
    } else {
      EXPECT_TRUE(fs::is_directory(root / "lost+found"));
    }
    const mirrortest::Outcome again = RunTool(args, logs / "again", c.unprivileged);
    EXPECT_EQ(again.exitCode, 0) << again.err;
  }
}

}  // namespace
