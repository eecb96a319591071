// The mirror's rules where rsync is no oracle: links, entries of the other
// kind, folders inside each other, leftovers of stopped copies.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <functional>
#include <sstream>
#include <thread>

#include "mirror/mirror.h"
#include "mirror_support.h"
#include "tempdir.h"

namespace {

using testsupport::ReadFile;
using testsupport::TempDir;
using testsupport::WriteFile;
namespace fs = std::filesystem;

struct Trees {
  TempDir dir, logs;
  fs::path source = dir / "src", destination = dir / "dst", outside = dir / "outside";
  Trees() {
    fs::create_directories(source);
    fs::create_directories(destination);
    WriteFile(outside / "precious.txt", "keep me");
  }
  mirrortest::Outcome Mirror(bool preserve) {
    return mirrortest::RunMirror(mirrortest::ProgramArgs(source, destination, preserve), logs / "run");
  }
};

TEST(MirrorBehaviour, DestinationLinksAreNeverFollowed) {
  struct Case {
    const char* name;
    bool preserve;
    bool sourceHasFolder;  // the source holds a folder of the link's name
    fs::file_type expected;
    int exitBits;
  };
  const Case cases[] = {
      {"extra link is removed as a link", false, false, fs::file_type::not_found, 2},
      {"link where the source has a folder is replaced", false, true, fs::file_type::directory, 1},
      {"preserving keeps an extra link", true, false, fs::file_type::symlink, 0},
      {"preserving: link where the source has a folder fails", true, true, fs::file_type::symlink, 8},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Trees t;
    if (c.sourceHasFolder) WriteFile(t.source / "media" / "clip.mov", "clip");
    fs::create_directory_symlink(t.outside, t.destination / "media");
    const mirrortest::Outcome o = t.Mirror(c.preserve);
    EXPECT_EQ(o.exitCode, c.exitBits) << o.err;
    EXPECT_EQ(fs::symlink_status(t.destination / "media").type(), c.expected);
    EXPECT_EQ(ReadFile(t.outside / "precious.txt"), "keep me");
    EXPECT_EQ(std::distance(fs::directory_iterator(t.outside), fs::directory_iterator()), 1);
    if (c.expected == fs::file_type::directory) EXPECT_EQ(ReadFile(t.destination / "media" / "clip.mov"), "clip");
  }
}

TEST(MirrorBehaviour, EntriesOfTheOtherKind) {
  struct Case {
    const char* name;
    bool preserve;
    bool sourceFile;  // the source has a file "x" and the destination a folder, or the reverse
    fs::file_type expected;
    int exitBits;
  };
  const Case cases[] = {
      {"folder replaced by file", false, true, fs::file_type::regular, 1 | 2},
      {"file replaced by folder", false, false, fs::file_type::directory, 1},
      {"preserving: folder kept, copy fails", true, true, fs::file_type::directory, 8},
      {"preserving: file kept, folder fails", true, false, fs::file_type::regular, 8},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Trees t;
    WriteFile(t.source / "other.txt", "o");
    if (c.sourceFile) {
      WriteFile(t.source / "x", "file");
      WriteFile(t.destination / "x" / "inner.txt", "inner");
    } else {
      WriteFile(t.source / "x" / "inner.txt", "inner");
      WriteFile(t.destination / "x", "file");
    }
    const mirrortest::Outcome o = t.Mirror(c.preserve);
    EXPECT_EQ(o.exitCode, c.exitBits | 1) << o.err;
    EXPECT_EQ(fs::symlink_status(t.destination / "x").type(), c.expected);
    if (c.exitBits & 8) EXPECT_NE(o.err.find("x"), std::string::npos);
  }
}

TEST(MirrorBehaviour, FolderReplacedByFileKeepsExcludedContent) {
  Trees t;
  WriteFile(t.source / "x", "file");
  WriteFile(t.destination / "x" / "tool.exe", "excluded, so kept");
  const mirrortest::Outcome o = t.Mirror(false);
  EXPECT_EQ(o.exitCode & 8, 8);
  EXPECT_EQ(ReadFile(t.destination / "x" / "tool.exe"), "excluded, so kept");
}

TEST(MirrorBehaviour, SourceLinksAreFollowedWithoutLooping) {
  Trees t;
  WriteFile(t.source / "real" / "a.txt", "a");
  fs::create_symlink(t.outside / "precious.txt", t.source / "linked.txt");
  fs::create_directory_symlink(t.outside, t.source / "linked");
  fs::create_directory_symlink(t.source, t.source / "real" / "loop");
  fs::create_symlink(t.dir / "nothing", t.source / "dangling");
  const mirrortest::Outcome o = t.Mirror(false);
  EXPECT_EQ(o.exitCode, 1 | 8) << o.err;  // the dangling link is a failure
  EXPECT_NE(o.err.find("dangling"), std::string::npos);
  EXPECT_EQ(fs::symlink_status(t.destination / "linked.txt").type(), fs::file_type::regular);
  EXPECT_EQ(ReadFile(t.destination / "linked.txt"), "keep me");
  EXPECT_EQ(ReadFile(t.destination / "linked" / "precious.txt"), "keep me");
  EXPECT_EQ(ReadFile(t.destination / "real" / "a.txt"), "a");
  EXPECT_FALSE(fs::exists(fs::symlink_status(t.destination / "real" / "loop")));
}

TEST(MirrorBehaviour, FoldersInsideEachOther) {
  struct Case {
    const char* name;
    const char* source;
    const char* destination;
    const char* added;   // a file added to the fixture, or null
    const char* copied;  // a file the mirror must have made
    const char* absent;  // a path that must not exist afterwards
    const char* grown;   // the part of the source that is the destination, or null
    int failure;         // 8 when a folder on the source's path blocks the mirror
  };
  const Case cases[] = {
      {"destination inside the source", "tree", "tree/copy", nullptr, "tree/copy/media/clip.mov", "tree/copy/copy",
       "copy", 0},
      {"source inside the destination", "tree/media", "tree", nullptr, "tree/clip.mov", "tree/notes.txt", nullptr, 0},
      {"the same folder", "tree", "tree", nullptr, "tree/notes.txt", "tree/media/media", nullptr, 0},
      // The destination's entry of that name is the source itself.
      {"source holds a file of its own name", "tree/media", "tree", "tree/media/media", "tree/clip.mov",
       "tree/notes.txt", nullptr, 8},
      {"source holds a folder of its own name", "tree/media", "tree", "tree/media/media/x", "tree/clip.mov",
       "tree/notes.txt", nullptr, 8},
      // ... or a folder on the way down to it.
      {"source holds the path down to itself", "tree/media", "", "tree/media/tree/media/y", "clip.mov", "tree/media/y",
       nullptr, 8},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir, logs;
    WriteFile(dir / "tree" / "media" / "clip.mov", "clip");
    WriteFile(dir / "tree" / "notes.txt", "notes");
    if (c.added != nullptr) WriteFile(dir / c.added, "mine");
    const auto sourcePicture = [&] {
      auto picture = mirrortest::Picture(dir / c.source);
      if (c.grown != nullptr) std::erase_if(picture, [&](const auto& e) { return e.first.starts_with(c.grown); });
      return picture;
    };
    const auto before = sourcePicture();
    const auto args = mirrortest::ProgramArgs(dir / c.source, dir / c.destination, false);
    const mirrortest::Outcome o = mirrortest::RunMirror(args, logs / "run");
    EXPECT_EQ(o.exitCode & ~(1 | 2), c.failure) << o.err;
    EXPECT_TRUE(fs::exists(dir / c.copied));
    EXPECT_FALSE(fs::exists(dir / c.absent));
    EXPECT_EQ(mirrortest::RunMirror(args, logs / "run").exitCode, c.failure);  // and then nothing to do
    const auto after = sourcePicture();
    EXPECT_EQ(after, before) << mirrortest::Describe(before, after);  // the source is intact
  }
}

TEST(MirrorBehaviour, LeftoversOfStoppedCopiesAreRemoved) {
  for (bool preserve : {false, true}) {
    SCOPED_TRACE(preserve ? "preserving" : "mirroring");
    Trees t;
    WriteFile(t.source / "a.txt", "a");
    const std::string stale = mirror::TemporaryName("gone.mov", 10, {});
    WriteFile(t.destination / "sub" / stale, "partial");
    WriteFile(t.destination / stale, "partial");
    const mirrortest::Outcome o = t.Mirror(preserve);
    EXPECT_EQ(o.exitCode & 8, 0) << o.err;
    EXPECT_FALSE(fs::exists(t.destination / stale));
    // Only the walked folders are cleaned: an extra folder is left alone when preserving.
    EXPECT_EQ(fs::exists(t.destination / "sub" / stale), preserve);
  }
}

TEST(MirrorBehaviour, MissingDestinationIsCreatedWithItsParents) {
  Trees t;
  WriteFile(t.source / "empty" / ".keep", "");
  WriteFile(t.source / "a.txt", "a");
  const fs::path destination = t.dir / "new" / "deeper";
  const mirrortest::Outcome o =
      mirrortest::RunMirror(mirrortest::ProgramArgs(t.source, destination, false), t.logs / "run");
  EXPECT_EQ(o.exitCode, 1) << o.err;
  EXPECT_EQ(ReadFile(destination / "a.txt"), "a");
  EXPECT_TRUE(fs::is_directory(destination / "empty"));  // empty of what is copied, made all the same
  EXPECT_FALSE(fs::exists(destination / "empty" / ".keep"));
}

TEST(MirrorBehaviour, ExitBitsAndSummary) {
  Trees t;
  WriteFile(t.source / "a.txt", "abc");
  WriteFile(t.destination / "extra.txt", "e");
  mirrortest::Outcome o = t.Mirror(true);
  EXPECT_EQ(o.exitCode, 1);
  EXPECT_NE(o.out.find("Files :"), std::string::npos);
  o = t.Mirror(false);
  EXPECT_EQ(o.exitCode, 2);
  EXPECT_FALSE(fs::exists(t.destination / "extra.txt"));
  o = t.Mirror(false);
  EXPECT_EQ(o.exitCode, 0);
  // Bytes: Total 3, Copied 0, Skipped 3.
  EXPECT_NE(o.out.find("Bytes :         3         0         3"), std::string::npos) << o.out;
}

// Every figure of the summary stays a figure of its own, however many digits.
TEST(MirrorBehaviour, SummaryColumnsStayApart) {
  const std::int64_t figures[][6] = {
      {3, 0, 3, 0, 0, 0},
      {1'048'576'000, 1'048'576'000, 0, 0, 0, 0},
      {123'456'789'012, 99'999'999'999, 9'999'999'999, 1, 23'456'789'012, 1'000'000'000'000},
  };
  for (const auto& f : figures) {
    const mirror::Counts counts{f[0], f[1], f[2], f[3], f[4], f[5]};
    mirror::Options options;
    std::ostringstream out;
    mirror::PrintSummary(out, options, mirror::Summary{counts, counts, counts});
    for (const char* label : {"Dirs :", "Files :", "Bytes :"}) {
      SCOPED_TRACE(label);
      const size_t at = out.str().find(label);
      ASSERT_NE(at, std::string::npos) << out.str();
      std::istringstream row(out.str().substr(at + std::strlen(label)));
      for (const std::int64_t expected : f) {
        std::int64_t read = -1;
        row >> read;
        EXPECT_EQ(read, expected) << out.str();
      }
    }
  }
}

TEST(MirrorBehaviour, ManyFilesInOneFolderAreEachCopiedOnce) {
  Trees t;
  for (int i = 0; i < 300; ++i) WriteFile(t.source / "many" / ("f" + std::to_string(i)), std::string(i, 'x'));
  const mirrortest::Outcome o = t.Mirror(false);
  EXPECT_EQ(o.exitCode, 1) << o.err;
  // Files: Total 300, Copied 300; Bytes: 0 + 1 + ... + 299.
  EXPECT_NE(o.out.find("Files :       300       300         0"), std::string::npos) << o.out;
  EXPECT_NE(o.out.find("Bytes :     44850     44850         0"), std::string::npos) << o.out;
  EXPECT_EQ(mirrortest::Picture(t.destination), mirrortest::Picture(t.source));
}

TEST(MirrorBehaviour, SourceEntriesThatCannotBeExaminedKeepTheirCopies) {
  struct Case {
    const char* name;
    const char* error;  // FAULT_ERRNO for the look at "clip.mov" in the source
    bool folder;        // "clip.mov" is a folder on both sides
    bool kept;          // its copy stays in the destination
    int exitCode;
  };
  const Case cases[] = {
      {"a failing file", "5" /* EIO */, false, true, 8},
      {"a failing folder keeps its whole copy", "5", true, true, 8},
      {"a file that may not be examined", "13" /* EACCES */, false, true, 8},
      {"a stale share", "116" /* ESTALE */, true, true, 8},
      {"a file really gone is an extra", "2" /* ENOENT */, false, false, 2},
  };
  // Alone beside one other file, and among more files than a small folder
  // holds, which are looked at in another order.
  for (const Case& c : cases) {
    for (const int others : {1, 1500}) {
      SCOPED_TRACE(std::string(c.name) + ", among " + std::to_string(others));
      Trees t;
      for (int i = 0; i < others; ++i) {
        const std::string other = "other" + std::to_string(i) + ".txt";
        WriteFile(t.source / other, "o");
        WriteFile(t.destination / other, "o");
        mirrortest::SetTime(t.destination / other, 1'600'000'000);
        mirrortest::SetTime(t.source / other, 1'600'000'000);
      }
      const std::string clip = c.folder ? "clip.mov/take.mov" : "clip.mov";
      WriteFile(t.source / clip, "new");
      WriteFile(t.destination / clip, "backup");
      const mirrortest::Outcome o =
          mirrortest::RunMirror(mirrortest::ProgramArgs(t.source, t.destination, false), t.logs / "run",
                                mirrortest::ShimEnv({"FAULT_FOLDER=" + t.source.string(), "FAULT_NAME=clip.mov",
                                                     "FAULT_ERRNO=" + std::string(c.error)}));
      EXPECT_EQ(o.exitCode, c.exitCode) << o.err;
      EXPECT_EQ(fs::exists(t.destination / clip), c.kept);
      if (c.kept) {
        EXPECT_EQ(ReadFile(t.destination / clip), "backup");
        // One line names it.
        EXPECT_NE(o.err.find("ERROR : Accessing Source File " + (t.source / "clip.mov").string()), std::string::npos)
            << o.err;
      }
      // The others are neither copied again nor taken for extras.
      long long total = -1, copied = -1, skipped = -1;
      const size_t files = o.out.find("Files :");
      ASSERT_NE(files, std::string::npos) << o.out;
      std::sscanf(o.out.c_str() + files, "Files : %lld %lld %lld", &total, &copied, &skipped);
      EXPECT_EQ(copied, 0) << o.out;
      EXPECT_EQ(skipped, others) << o.out;
      int kept = 0;
      for (const fs::directory_entry& e : fs::directory_iterator(t.destination)) {
        kept += e.path().filename().string().starts_with("other") ? 1 : 0;
      }
      EXPECT_EQ(kept, others);
    }
  }
}

TEST(MirrorBehaviour, FileChangingWhileCopiedIsNotPutInPlace) {
  struct Case {
    const char* name;
    bool append;    // else rewritten in place, its size unchanged
    bool replaces;  // the destination holds an older copy; else the file is new there
    // The in-use check cannot tell (its lease refused, as for a file of
    // another owner) and the file was left alone before the run: it changes
    // while the copy is paused, so only the check after the copy can catch it.
    bool probeBlind;
  };
  const Case cases[] = {
      {"a clip still being recorded", true, true, false},
      {"a file rewritten in place", false, true, false},
      {"a new clip still being recorded", true, false, false},
      {"unseen by the in-use check: a clip recorded on", true, true, true},
      {"unseen by the in-use check: rewritten in place", false, true, true},
      {"unseen by the in-use check: a new clip recorded on", true, false, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Trees t;
    const fs::path clip = t.source / "rec.mov", pause = t.logs / "pause";
    WriteFile(clip, std::string(16 << 20, 'r'));
    if (c.replaces) WriteFile(t.destination / "rec.mov", "what the destination had");
    const auto write = [&](std::ofstream& out, int i) {
      if (!c.append) out.seekp(0);
      out << std::string(4096, static_cast<char>('a' + i % 26)) << std::flush;
    };
    const auto open = [&] {
      return std::ofstream(clip, std::ios::binary | (c.append ? std::ios::app : std::ios::in | std::ios::out));
    };
    mirrortest::Outcome o;
    if (c.probeBlind) {
      fs::create_directories(pause);
      std::this_thread::sleep_for(std::chrono::milliseconds(2100));  // quiet: not taken for in use
      const pid_t pid =
          mirrortest::Start(ROBOCOPY_PATH, mirrortest::ProgramArgs(t.source, t.destination, false), t.logs / "run",
                            mirrortest::ShimEnv({"LEASE_ERRNO=13", "COPY_PAUSE=" + pause.string()}));
      while (!fs::exists(pause / "paused")) std::this_thread::sleep_for(std::chrono::milliseconds(5));
      {
        std::ofstream out = open();
        write(out, 0);
      }
      WriteFile(pause / "go", "");
      o = mirrortest::Finish(pid, t.logs / "run");
      EXPECT_NE(o.err.find("the file changed while it was copied"), std::string::npos) << o.err;
    } else {
      std::atomic<bool> stop{false};
      std::thread writer([&] {
        std::ofstream out = open();
        for (int i = 0; !stop; ++i) {
          write(out, i);
          std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
      });
      o = t.Mirror(false);
      stop = true;
      writer.join();
    }
    EXPECT_EQ(o.exitCode & 8, 8) << o.err;
    EXPECT_NE(o.err.find("rec.mov"), std::string::npos) << o.err;
    // Never a prefix or a blend: what it had (or nothing), or exactly the source.
    if (c.replaces || fs::exists(t.destination / "rec.mov")) {
      const std::string now = ReadFile(t.destination / "rec.mov");
      EXPECT_TRUE(now == "what the destination had" || now == ReadFile(clip)) << now.size() << " bytes";
    }
    // No temporary.
    EXPECT_EQ(std::distance(fs::directory_iterator(t.destination), fs::directory_iterator()), c.replaces ? 1 : 0);
    // The next run, the file at rest, completes it.
    if (c.probeBlind) std::this_thread::sleep_for(std::chrono::milliseconds(2100));
    EXPECT_EQ(t.Mirror(false).exitCode, 1);
    EXPECT_TRUE(ReadFile(t.destination / "rec.mov") == ReadFile(clip));
  }
}

TEST(MirrorBehaviour, FoldersKeepTheirPermissionBits) {
  struct Case {
    fs::perms source, expected;
  };
  const Case cases[] = {
      {fs::perms(0700), fs::perms(0700)},  // private stays private
      {fs::perms(0750), fs::perms(0750)},
      {fs::perms(0755), fs::perms(0755)},
      {fs::perms(0500), fs::perms(0700)},  // the owner may always fill it
  };
  const mode_t mask = ::umask(022);
  for (const Case& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.source));
    Trees t;
    WriteFile(t.source / "private" / "deeper" / "a.txt", "a");
    fs::permissions(t.source / "private" / "deeper", c.source);
    fs::permissions(t.source / "private", c.source);
    const mirrortest::Outcome o = t.Mirror(false);
    fs::permissions(t.source / "private", fs::perms(0700));
    fs::permissions(t.source / "private" / "deeper", fs::perms(0700));
    EXPECT_EQ(o.exitCode, 1) << o.err;
    EXPECT_EQ(fs::status(t.destination / "private").permissions(), c.expected);
    EXPECT_EQ(fs::status(t.destination / "private" / "deeper").permissions(), c.expected);
    EXPECT_EQ(ReadFile(t.destination / "private" / "deeper" / "a.txt"), "a");
  }
  ::umask(mask);
}

TEST(MirrorBehaviour, OnlyTheToolsOwnTemporariesAreRemoved) {
  struct Case {
    std::string name;
    bool temporary;
  };
  const Case cases[] = {
      {mirror::TemporaryName("clip.mov", 10, {}), true},
      {".~robocopy-0123456789abcdef.tmp", true},
      {".~robocopy-0123456789ABCDEF.tmp", false},  // ours are written in small letters
      {".~robocopy-0123456789abcdeg.tmp", false},
      {".~robocopy-my holiday pics.tmp", false},  // the right length, but words
      {".~robocopy-0123456789abcdef.tmp.mov", false},
      {".~robocopy-0123456789abcde.tmp", false},
      {"~robocopy-0123456789abcdef0.tmp", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(mirror::IsTemporaryName(c.name), c.temporary);
    Trees t;  // preserving: only a temporary is ever removed
    WriteFile(t.source / "a.txt", "a");
    WriteFile(t.destination / c.name, "the user's");
    const mirrortest::Outcome o = t.Mirror(true);
    EXPECT_EQ(o.exitCode & 8, 0) << o.err;
    EXPECT_EQ(fs::exists(t.destination / c.name), !c.temporary);
  }
}

TEST(MirrorBehaviour, WritesAreMadeDurableOncePerRun) {
  struct Case {
    const char* name;
    std::function<void(Trees&)> arrange;
    int fewest, most;  // syncfs calls on the destination; never a flush per file
  };
  const auto files = [](int count) {
    return [count](Trees& t) {
      for (int i = 0; i < count; ++i) WriteFile(t.source / std::to_string(i), "x");
    };
  };
  const Case cases[] = {
      {"files copied", files(20), 1, 1},
      // Big runs start the write-back early, a flush per few hundred files at most.
      {"many files copied", files(3000), 1, 3000 / 256 + 1},
      {"a folder made", [](Trees& t) { fs::create_directories(t.source / "empty"); }, 1, 1},
      {"an extra removed", [](Trees& t) { WriteFile(t.destination / "extra.txt", "e"); }, 1, 1},
      {"nothing to do", [](Trees&) {}, 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Trees t;
    c.arrange(t);
    const fs::path log = t.logs / "syncs.log";
    const mirrortest::Outcome o =
        mirrortest::RunMirror(mirrortest::ProgramArgs(t.source, t.destination, false), t.logs / "run",
                              mirrortest::ShimEnv({"SYNC_LOG=" + log.string()}));
    EXPECT_EQ(o.exitCode & 8, 0) << o.err;
    const std::string logged = ReadFile(log);
    const std::string line = "syncfs " + t.destination.string() + "\n";
    // After them, the checksum list's own write: its content, then its name.
    const std::string list = "fdatasync " + (t.destination / ".tarnvel" / "XXH128SUMS.new").string() + "\nfsync " +
                             (t.destination / ".tarnvel").string() + "\n";
    int syncs = 0;
    size_t at = 0;
    for (; at < logged.size() && logged.compare(at, line.size(), line) == 0; at += line.size()) ++syncs;
    if (at < logged.size()) EXPECT_EQ(logged.substr(at), list) << logged;
    EXPECT_GE(syncs, c.fewest);
    EXPECT_LE(syncs, c.most);
  }
}

}  // namespace
