// Every copy is read back from the disk and compared with the source's bytes:
// a copy that differs is a failure and never stays under the file's name.
// The destination keeps a list of the hashes of what was verified, which
// xxhsum checks without the source.
#include <gtest/gtest.h>
#include <signal.h>

#include <algorithm>
#include <cstring>
#include <random>

#include "ext4_volume.h"
#include "mirror_support.h"
#include "tempdir.h"

namespace {

using testsupport::ReadFile;
using testsupport::TempDir;
using testsupport::WriteFile;
namespace fs = std::filesystem;

constexpr std::int64_t kMiB = 1 << 20;
// From this size on a copy is read back before it gets its name.
constexpr std::int64_t kEarly = 16 * kMiB;

// `size` bytes that differ from file to file.
std::string Content(std::int64_t size, unsigned seed) {
  std::mt19937_64 random(seed);
  std::string bytes(static_cast<size_t>(size), '\0');
  for (size_t i = 0; i + 8 <= bytes.size(); i += 8) {
    const std::uint64_t word = random();
    std::memcpy(&bytes[i], &word, 8);
  }
  for (size_t i = bytes.size() / 8 * 8; i < bytes.size(); ++i) bytes[i] = static_cast<char>(random());
  return bytes;
}

std::string VerifyLine(const fs::path& copy) {
  return "ERROR : Verifying File " + copy.string() + " : the copy read back differs from the source\n";
}

// The list's lines, by path.
std::map<std::string, std::string> Listed(const fs::path& destination) {
  std::map<std::string, std::string> lines;
  std::istringstream in(ReadFile(destination / ".tarnvel" / "XXH128SUMS"));
  for (std::string line; std::getline(in, line);) lines[line.substr(34)] = line.substr(0, 32);
  return lines;
}

// Runs `xxhsum -c` on the list inside `destination`, as a user checks a backup.
mirrortest::Outcome CheckWithXxhsum(const fs::path& destination, const fs::path& scratch) {
  const std::string line = "cd '" + destination.string() + "' && xxhsum -c .tarnvel/XXH128SUMS";
  return mirrortest::Run("sh", {"-c", line}, scratch);
}

bool HaveXxhsum() { return std::system("command -v xxhsum >/dev/null 2>&1") == 0; }

struct Fault {
  std::string name;
  std::int64_t size, offset;
  bool onDisk;    // flipped on the disk after the flush, else in what the tool writes
  bool replaces;  // the destination holds an older copy
};

std::vector<Fault> Faults() {
  std::vector<Fault> faults;
  // An empty copy can only be wrong on the disk: a byte added.
  faults.push_back({"empty.txt", 0, 0, true, false});
  faults.push_back({"empty-replacing.txt", 0, 0, true, true});
  // Around the size from which a copy is read back before it gets its name,
  // and the biggest: the last byte, and the first of the second chunk.
  const std::int64_t big[] = {5 * kMiB, kEarly - 1, kEarly, kEarly + 1, 64 * kMiB};
  for (const std::int64_t size : big) {
    faults.push_back({"big" + std::to_string(size) + ".mov", size, size - 1, false, size == kEarly + 1});
    faults.push_back({"big" + std::to_string(size) + "-disk.mxf", size, kMiB, true, size == 64 * kMiB});
  }
  const std::int64_t sizes[] = {1, 2, 100, 4095, 4096, 4097, 65536, kMiB - 1, kMiB, kMiB + 1, 3 * kMiB + 7};
  const char* extensions[] = {".mov", ".wav", ".jpg", ".mxf", ".braw"};
  for (int i = 0; faults.size() < 100; ++i) {
    const std::int64_t size = sizes[i % std::size(sizes)];
    // The first byte, the last, the middle, one past a chunk of the copy,
    // one a third in.
    const std::int64_t offsets[] = {0, size - 1, size / 2, std::min(size - 1, kMiB), size / 3};
    const std::int64_t offset = offsets[(i / std::size(sizes)) % std::size(offsets)];
    const bool onDisk = i % 3 == 1, replaces = i % 4 == 3;
    faults.push_back(
        {"clip" + std::to_string(i) + extensions[i % std::size(extensions)], size, offset, onDisk, replaces});
  }
  return faults;
}

// One named file's copy gets one byte wrong, in the write or on the disk
// after the flush; the run tells, keeps no wrong copy under the name, and the
// next run copies it right.
// The table runs in quarters, each within a test's time on the slow
// sanitizer builds.
class MirrorVerifyFaults : public testing::TestWithParam<int> {};

TEST_P(MirrorVerifyFaults, AWrongByteInACopyIsCaughtAndTheNextRunCopiesItAgain) {
  testsupport::Ext4Volume disk({}, 400);
  if (!disk.Mounted()) GTEST_SKIP() << "no ext4 file system: " << disk.Refusal();
  const std::vector<Fault> faults = Faults();
  ASSERT_EQ(faults.size(), 100u);
  for (size_t row = GetParam(); row < faults.size(); row += 4) {
    const Fault& f = faults[row];
    SCOPED_TRACE(f.name + ", " + std::to_string(f.size) + " bytes, byte " + std::to_string(f.offset) +
                 (f.onDisk ? " on the disk" : " in the write") + (f.replaces ? ", replacing a copy" : ""));
    const fs::path source = disk.path() / "src", destination = disk.path() / "dst";
    const std::string content = Content(f.size, static_cast<unsigned>(row));
    WriteFile(source / f.name, content);
    WriteFile(source / "neighbour.txt", "copied right");
    if (f.replaces) {
      WriteFile(destination / f.name, "an older copy");
      mirrortest::SetTime(destination / f.name, 1'500'000'000);
    }
    const auto args = mirrortest::ProgramArgs(source, destination, false);
    std::vector<std::string> settings{"FLIP_SOURCE=" + (source / f.name).string(),
                                      "FLIP_OFFSET=" + std::to_string(f.offset)};
    if (f.onDisk) settings.push_back("FLIP_ON_DISK=" + (destination / f.name).string());
    const mirrortest::Outcome bad = mirrortest::RunMirror(args, disk.path() / "bad", mirrortest::ShimEnv(settings));

    EXPECT_EQ(bad.exitCode, 1 | 8) << bad.out;
    EXPECT_EQ(bad.err, VerifyLine(destination / f.name));
    // Under the name: nothing, or the older copy it was to replace.
    if (fs::exists(destination / f.name)) {
      EXPECT_TRUE(f.replaces && f.size >= kEarly);
      EXPECT_EQ(ReadFile(destination / f.name), "an older copy");
    } else {
      EXPECT_FALSE(f.replaces && f.size >= kEarly);
    }
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(destination)) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    const std::vector<std::string> held = fs::exists(destination / f.name)
                                              ? std::vector<std::string>{".tarnvel", f.name, "neighbour.txt"}
                                              : std::vector<std::string>{".tarnvel", "neighbour.txt"};
    EXPECT_EQ(names, held) << "no temporary is left";
    const auto listed = Listed(destination);
    EXPECT_TRUE(listed.contains("neighbour.txt"));
    EXPECT_FALSE(listed.contains(f.name));

    const mirrortest::Outcome next = mirrortest::RunMirror(args, disk.path() / "next");
    EXPECT_EQ(next.exitCode, 1) << next.err;
    EXPECT_TRUE(ReadFile(destination / f.name) == content) << "the copy is the source's";
    EXPECT_TRUE(Listed(destination).contains(f.name));
    fs::remove_all(source);
    fs::remove_all(destination);
  }
}

INSTANTIATE_TEST_SUITE_P(Quarters, MirrorVerifyFaults, testing::Range(0, 4));

// After runs that copy, replace, purge and rename files by letter case only,
// xxhsum finds every listed file as the list says, and a byte gone wrong on
// the disk later is named.
TEST(MirrorVerify, XxhsumChecksTheDestinationAgainstItsList) {
  if (!HaveXxhsum()) GTEST_SKIP() << "no xxhsum (package xxhash)";
  TempDir dir;
  const fs::path source = dir / "src", destination = dir / "dst";
  const std::vector<std::string> args{source.string(), destination.string(), "/MIR", "/R:0"};
  struct Step {
    const char* name;
    std::vector<std::pair<std::string, std::string>> write;  // path, content
    std::vector<std::string> remove;
    int exitCode;
  };
  const Step steps[] = {
      {"first copies", {{"a.wav", "aaa"}, {"Song.mp3", "song"}, {"day 1/b c.mov", Content(20 * kMiB, 1)}}, {}, 1},
      {"a change and a new file", {{"a.wav", "changed"}, {"day 1/d.jpg", "d"}, {"day 2/e.jpg", ""}}, {}, 1},
      {"a file and a folder purged", {}, {"day 1/d.jpg", "day 2"}, 2},
      {"a case-only rename", {{"song.mp3", "song"}}, {"Song.mp3"}, 3},
      {"nothing to do", {}, {}, 0},
  };
  for (const Step& s : steps) {
    SCOPED_TRACE(s.name);
    for (const auto& [path, content] : s.write) WriteFile(source / path, content);
    for (const std::string& path : s.remove) fs::remove_all(source / path);
    const fs::path list = destination / ".tarnvel" / "XXH128SUMS";
    struct stat before {};
    ::stat(list.c_str(), &before);
    const mirrortest::Outcome o = mirrortest::RunMirror(args, dir / "run");
    EXPECT_EQ(o.exitCode, s.exitCode) << o.err;
    EXPECT_EQ(mirrortest::Picture(destination), mirrortest::Picture(source));

    // One line for every file, and none for another.
    std::vector<std::string> files, listed;
    for (const auto& e : fs::recursive_directory_iterator(destination)) {
      const std::string rel = fs::relative(e.path(), destination).string();
      if (e.is_regular_file() && !rel.starts_with(".tarnvel/")) files.push_back(rel);
    }
    for (const auto& [path, digest] : Listed(destination)) listed.push_back(path);
    std::sort(files.begin(), files.end());
    EXPECT_EQ(listed, files);
    const mirrortest::Outcome check = CheckWithXxhsum(destination, dir / "check");
    EXPECT_EQ(check.exitCode, 0) << check.out << check.err;
    if (s.exitCode == 0) {
      struct stat after {};
      ::stat(list.c_str(), &after);
      EXPECT_EQ(after.st_ino, before.st_ino) << "a run that copies nothing leaves the list as it is";
      EXPECT_EQ(after.st_mtim.tv_nsec, before.st_mtim.tv_nsec);
    }
  }
  // A bad sector, long after: xxhsum names the file.
  {
    std::fstream copy(destination / "day 1" / "b c.mov", std::ios::in | std::ios::out | std::ios::binary);
    copy.seekp(12345);
    copy.put('\x42' ^ Content(20 * kMiB, 1)[12345]);
  }
  const mirrortest::Outcome check = CheckWithXxhsum(destination, dir / "check");
  EXPECT_NE(check.exitCode, 0);
  EXPECT_NE(check.out.find("day 1/b c.mov: FAILED"), std::string::npos) << check.out << check.err;
  EXPECT_EQ(check.out.find("a.wav: FAILED"), std::string::npos) << check.out;
}

// A run stopped at any moment leaves the old list or the new one, whole.
TEST(MirrorVerify, AStoppedRunLeavesTheOldListOrTheNew) {
  struct Case {
    const char* name;
    std::vector<std::string> settings;  // the fault shim's
    bool newList;
  };
  const Case cases[] = {
      {"stopped while copying", {"COPY_PAUSE="}, false},
      {"stopped half-way through writing the list", {"STOP_AT=write"}, false},
      {"stopped just before the list gets its name", {"STOP_AT=before-rename"}, false},
      {"stopped just after the list got its name", {"STOP_AT=after-rename"}, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    const fs::path source = dir / "src", destination = dir / "dst";
    const std::vector<std::string> args{source.string(), destination.string(), "/MIR", "/R:0"};
    for (int i = 0; i < 50; ++i) WriteFile(source / ("old" + std::to_string(i)), "old " + std::to_string(i));
    ASSERT_EQ(mirrortest::RunMirror(args, dir / "first").exitCode, 1);
    const std::string old = ReadFile(destination / ".tarnvel" / "XXH128SUMS");
    for (int i = 0; i < 50; ++i) WriteFile(source / ("new" + std::to_string(i)), "new " + std::to_string(i));
    fs::remove(source / "old0");

    std::vector<std::string> settings = c.settings;
    if (settings[0] == "COPY_PAUSE=") settings[0] += dir.path().string();
    const pid_t pid = mirrortest::Start(ROBOCOPY_PATH, args, dir / "stopped", mirrortest::ShimEnv(settings));
    if (settings[0].starts_with("COPY_PAUSE=")) {
      for (int i = 0; i < 3000 && !fs::exists(dir / "paused"); ++i) usleep(10'000);
      kill(pid, SIGKILL);
    }
    const mirrortest::Outcome stopped = mirrortest::FinishWithin(pid, dir / "stopped", 60);
    EXPECT_EQ(stopped.exitCode, 128 + SIGKILL);

    const std::string now = ReadFile(destination / ".tarnvel" / "XXH128SUMS");
    if (c.newList) {
      EXPECT_NE(now, old);
      EXPECT_EQ(std::count(now.begin(), now.end(), '\n'), 99) << now;
    } else {
      EXPECT_EQ(now, old);
    }
    // The next run leaves no line that xxhsum would find wrong: none for
    // the file the stopped run purged. The copies that the stopped run
    // completed are current and stay unlisted until next copied.
    EXPECT_EQ(mirrortest::RunMirror(args, dir / "next").exitCode & ~3, 0);
    const auto listed = Listed(destination);
    EXPECT_FALSE(listed.contains("old0"));
    EXPECT_GE(listed.size(), c.newList ? 99u : 49u);
    if (HaveXxhsum()) {
      const mirrortest::Outcome check = CheckWithXxhsum(destination, dir / "check");
      EXPECT_EQ(check.exitCode, 0) << check.out << check.err;
    }
  }
}

// The tool's own folder at the destination's root is never purged, written
// over or counted; a source's own such folder is copied as any other folder,
// except at the source's root.
TEST(MirrorVerify, TheToolsOwnFolderIsNeitherPurgedNorCopiedOver) {
  struct Case {
    const char* name;
    std::vector<std::string> sourceFiles, destinationFiles;
    int exitCode;
    std::map<std::string, std::string> after;  // destination file: content ("" when absent)
  };
  const Case cases[] = {
      {"a destination that holds the folder",
       {"a.wav"},
       {".tarnvel/notes.txt", ".tarnvel/sub/more.txt"},
       1,
       {{".tarnvel/notes.txt", ".tarnvel/notes.txt"}, {".tarnvel/sub/more.txt", ".tarnvel/sub/more.txt"}}},
      {"a source that holds it at its root (a mirror of a mirror)",
       {"a.wav", ".tarnvel/XXH128SUMS", ".tarnvel/notes.txt"},
       {},
       1,
       {{".tarnvel/notes.txt", ""}}},
      {"both hold it at their roots",
       {"a.wav", ".tarnvel/notes.txt"},
       {".tarnvel/notes.txt"},
       1,
       {{".tarnvel/notes.txt", ".tarnvel/notes.txt"}}},
      {"a source that holds it in a subfolder",
       {"a.wav", "day 1/.tarnvel/XXH128SUMS", "day 1/.tarnvel/notes.txt"},
       {},
       1,
       {{"day 1/.tarnvel/XXH128SUMS", "day 1/.tarnvel/XXH128SUMS"},
        {"day 1/.tarnvel/notes.txt", "day 1/.tarnvel/notes.txt"}}},
      {"a destination that holds it in a subfolder only: an extra",
       {"a.wav", "day 1/b.wav"},
       {"day 1/.tarnvel/notes.txt"},
       1 | 2,
       {{"day 1/.tarnvel/notes.txt", ""}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    const fs::path source = dir / "src", destination = dir / "dst";
    // Each file holds its own path, so that any copy over another shows.
    for (const std::string& f : c.sourceFiles) WriteFile(source / f, f);
    for (const std::string& f : c.destinationFiles) WriteFile(destination / f, f);
    fs::create_directories(destination);
    const std::vector<std::string> args{source.string(), destination.string(), "/MIR", "/R:0"};
    const mirrortest::Outcome o = mirrortest::RunMirror(args, dir / "run");
    EXPECT_EQ(o.exitCode, c.exitCode) << o.err << o.out;
    EXPECT_EQ(o.err, "");
    for (const auto& [path, content] : c.after) {
      EXPECT_EQ(fs::exists(destination / path), !content.empty()) << path;
      if (!content.empty()) EXPECT_EQ(ReadFile(destination / path), content) << path;
    }
    // The list names this mirror's files only, and xxhsum finds them.
    std::vector<std::string> listed;
    for (const auto& [path, digest] : Listed(destination)) listed.push_back(path);
    std::vector<std::string> copied;
    for (const std::string& f : c.sourceFiles) {
      if (!f.starts_with(".tarnvel/")) copied.push_back(f);
    }
    std::sort(copied.begin(), copied.end());
    EXPECT_EQ(listed, copied);
    if (HaveXxhsum()) {
      const mirrortest::Outcome check = CheckWithXxhsum(destination, dir / "check");
      EXPECT_EQ(check.exitCode, 0) << check.out << check.err;
    }
    // Nothing left to do: the folder is no extra.
    EXPECT_EQ(mirrortest::RunMirror(args, dir / "again").exitCode, 0);
  }
}

}  // namespace
