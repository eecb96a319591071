// The mirror's rules where rsync is no oracle: links, entries of the other
// kind, folders inside each other, leftovers of stopped copies.
#include <gtest/gtest.h>

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
    const char* copied;  // a file the mirror must have made
    const char* absent;  // a path that must not exist afterwards
  };
  const Case cases[] = {
      {"destination inside the source", "tree", "tree/copy", "tree/copy/media/clip.mov", "tree/copy/copy"},
      {"source inside the destination", "tree/media", "tree", "tree/clip.mov", "tree/notes.txt"},
      {"the same folder", "tree", "tree", "tree/notes.txt", "tree/media/media"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir, logs;
    WriteFile(dir / "tree" / "media" / "clip.mov", "clip");
    WriteFile(dir / "tree" / "notes.txt", "notes");
    const auto args = mirrortest::ProgramArgs(dir / c.source, dir / c.destination, false);
    const mirrortest::Outcome o = mirrortest::RunMirror(args, logs / "run");
    EXPECT_EQ(o.exitCode & ~(1 | 2), 0) << o.err;
    EXPECT_EQ(ReadFile(dir / "tree" / "media" / "clip.mov"), "clip");  // the source is intact
    EXPECT_TRUE(fs::exists(dir / c.copied));
    EXPECT_FALSE(fs::exists(dir / c.absent));
    EXPECT_EQ(mirrortest::RunMirror(args, logs / "run").exitCode, 0);  // and then nothing to do
  }
}

TEST(MirrorBehaviour, LeftoversOfStoppedCopiesAreRemoved) {
  for (bool preserve : {false, true}) {
    SCOPED_TRACE(preserve ? "preserving" : "mirroring");
    Trees t;
    WriteFile(t.source / "a.txt", "a");
    const std::string stale = mirror::TemporaryName("gone.mov", 10, 0);
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

}  // namespace
