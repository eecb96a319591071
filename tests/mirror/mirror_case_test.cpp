// Destinations that ignore letter case (exFAT on memory cards and camera
// media): case-only renames in the source lose nothing, and a re-mirror
// finds nothing to do although such a file system keeps coarse times.
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

}  // namespace
