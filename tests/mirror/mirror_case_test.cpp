// Destinations that ignore letter case (exFAT on memory cards and camera
// media): case-only renames in the source lose nothing, and a re-mirror
// finds nothing to do although such a file system keeps coarse times. Two
// source names that such a destination cannot hold both: one is mirrored,
// the other reported, and runs agree on which.
#include <gtest/gtest.h>

#include <regex>

#include "exfat_mount.h"
#include "mirror_support.h"
#include "tempdir.h"

namespace {

using testsupport::TempDir;
using testsupport::WriteFile;
namespace fs = std::filesystem;

// Names, kinds and bytes; the times are checked by the re-mirror finding nothing to do.
std::map<std::string, std::string> Content(const fs::path& root) {
  std::map<std::string, std::string> picture = mirrortest::Picture(root);
  for (auto& [path, what] : picture) what = std::regex_replace(what, std::regex(", mtime .*"), "");
  return picture;
}

TEST(MirrorCaseInsensitive, CaseOnlyRenamesOnExfatLoseNothing) {
  testsupport::ExfatMount exfat;
  if (!exfat.Reason().empty()) GTEST_SKIP() << "no exFAT file system: " << exfat.Reason();
  struct Step {
    const char* name;
    std::vector<std::pair<const char*, const char*>> renames;  // in the source, in this order
  };
  const std::vector<Step> steps = {
      {"first mirror", {}},
      {"files and folders at several depths",
       {{"song.mp3", "Song.mp3"},
        {"Clips", "clips"},
        {"clips/Deep", "clips/DEEP"},
        {"clips/DEEP/Deeper/c.mov", "clips/DEEP/Deeper/C.MOV"},
        {"raw/x.wav", "raw/X.wav"}}},
      {"and back again", {{"Song.mp3", "song.mp3"}, {"clips", "Clips"}, {"raw/X.wav", "raw/x.wav"}}},
      {"a name and a folder swap spellings", {{"song.mp3", "SONG.mp3"}, {"Clips/DEEP", "Clips/deep"}, {"raw", "RAW"}}},
  };
  // The program's line compares times within 2 seconds; the plain one exactly.
  for (const bool programLine : {true, false}) {
    SCOPED_TRACE(programLine ? "the program's line" : "/MIR alone");
    TempDir dir, logs;
    const fs::path source = dir / "src", destination = exfat.path() / (programLine ? "program" : "plain");
    for (const char* file :
         {"song.mp3", "notes.txt", "Clips/a.mov", "Clips/Deep/b.mov", "Clips/Deep/Deeper/c.mov", "raw/x.wav"}) {
      WriteFile(source / file, std::string("bytes of ") + file);
      // A time between two of exFAT's steps.
      const timespec times[2] = {{1'600'000'001, 123'456'789}, {1'600'000'001, 123'456'789}};
      utimensat(AT_FDCWD, (source / file).c_str(), times, 0);
    }
    const std::vector<std::string> args =
        programLine ? mirrortest::ProgramArgs(source, destination, false)
                    : std::vector<std::string>{source.string() + "/", destination.string() + "/", "/MIR"};
    for (const Step& step : steps) {
      SCOPED_TRACE(step.name);
      for (const auto& [from, to] : step.renames) fs::rename(source / from, source / to);
      const mirrortest::Outcome o = mirrortest::RunMirror(args, logs / "run");
      EXPECT_EQ(o.exitCode & 8, 0) << o.err;
      const auto want = Content(source), got = Content(destination);
      EXPECT_EQ(got, want) << mirrortest::Describe(got, want);
      const mirrortest::Outcome again = mirrortest::RunMirror(args, logs / "run");
      EXPECT_EQ(again.exitCode, 0) << again.err << again.out;
    }
  }
}

TEST(MirrorCaseInsensitive, NamesDifferingOnlyInCaseKeepOneSpellingAndReportTheOthers) {
  testsupport::ExfatMount exfat;
  if (!exfat.Reason().empty()) GTEST_SKIP() << "no exFAT file system: " << exfat.Reason();
  struct Case {
    const char* name;
    std::vector<std::pair<std::string, std::string>> source;  // path, content
    std::vector<std::string> before;                          // mirrored on their own first, in this order
    std::string kept;                                         // the spelling the destination holds
    std::vector<std::string> reported;                        // the source entries named as failures
  };
  const Case cases[] = {
      {"two files, none there yet", {{"CLIP.MOV", "upper"}, {"clip.mov", "lower"}}, {}, "CLIP.MOV", {"clip.mov"}},
      {"two files, the destination holds the later one",
       {{"CLIP.MOV", "upper"}, {"clip.mov", "lower"}},
       {"clip.mov"},
       "clip.mov",
       {"CLIP.MOV"}},
      {"two folders", {{"DCIM/a.jpg", "a"}, {"dcim/b.jpg", "b"}}, {}, "DCIM", {"dcim"}},
      {"a file and a folder", {{"notes", "a file"}, {"NOTES/x.txt", "x"}}, {}, "NOTES", {"notes"}},
      {"three spellings",
       {{"Take.wav", "1"}, {"take.wav", "2"}, {"TAKE.WAV", "3"}},
       {},
       "TAKE.WAV",
       {"Take.wav", "take.wav"}},
      {"letters beyond ASCII",
       {{"Caf\xC3\xA9.wav", "lower"}, {"CAF\xC3\x89.wav", "upper"}},
       {},
       "CAF\xC3\x89.wav",
       {"Caf\xC3\xA9.wav"}},
      {"deeper down", {{"day/CLIP.MOV", "upper"}, {"day/clip.mov", "lower"}}, {}, "day/CLIP.MOV", {"day/clip.mov"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir, logs;
    const fs::path source = dir / "src", destination = exfat.path() / "dst";
    fs::remove_all(destination);
    WriteFile(source / "other.txt", "other");
    const auto args = mirrortest::ProgramArgs(source, destination, false);
    for (const std::string& first : c.before) {
      for (const auto& [path, content] : c.source) {
        if (path == first) WriteFile(source / path, content);
      }
      ASSERT_EQ(mirrortest::RunMirror(args, logs / "before").exitCode & 8, 0);
    }
    for (const auto& [path, content] : c.source) WriteFile(source / path, content);
    const mirrortest::Outcome o = mirrortest::RunMirror(args, logs / "run");
    EXPECT_EQ(o.exitCode & (8 | 16), 8) << o.err;
    std::string lines;
    for (const std::string& name : c.reported) {
      lines += "ERROR : " + std::string(fs::is_directory(source / name) ? "Creating Directory " : "Copying File ") +
               (source / name).string() + " : another name differing only in letter case is already in this folder\n";
    }
    EXPECT_EQ(o.err, lines);
    // The kept spelling, under its own name and with its own content.
    const fs::path kept = destination / c.kept;
    const std::vector<std::string> names = [&] {
      std::vector<std::string> found;
      for (const auto& e : fs::directory_iterator(kept.parent_path())) found.push_back(e.path().filename().string());
      return found;
    }();
    EXPECT_NE(std::find(names.begin(), names.end(), kept.filename().string()), names.end());
    if (fs::is_directory(kept)) {
      EXPECT_EQ(Content(kept), Content(source / c.kept));
    } else {
      EXPECT_EQ(testsupport::ReadFile(kept), testsupport::ReadFile(source / c.kept));
    }
    EXPECT_EQ(testsupport::ReadFile(destination / "other.txt"), "other");
    // The next run copies and purges nothing, and says the same.
    const auto before = mirrortest::Picture(destination);
    const mirrortest::Outcome again = mirrortest::RunMirror(args, logs / "again");
    EXPECT_EQ(again.exitCode, 8) << again.err;
    EXPECT_EQ(again.err, lines);
    EXPECT_EQ(mirrortest::Picture(destination), before);
  }
}

TEST(MirrorCaseInsensitive, NamesDifferingOnlyInCaseAreAllMirroredWhereTheDestinationTellsThemApart) {
  TempDir dir, logs;
  const fs::path source = dir / "src", destination = dir / "dst";
  for (const char* name : {"CLIP.MOV", "clip.mov", "DCIM/a.jpg", "dcim/b.jpg"}) WriteFile(source / name, name);
  const mirrortest::Outcome o =
      mirrortest::RunMirror(mirrortest::ProgramArgs(source, destination, false), logs / "run");
  EXPECT_EQ(o.exitCode, 1) << o.err;
  EXPECT_EQ(mirrortest::Picture(destination), mirrortest::Picture(source));
}

}  // namespace
