// What a mirror run tells the user when it did not finish its job: the failure
// lines taken from the copy program's output, the notice built from them and
// the exit, and the stand-in child's real exit codes and output through a pipe.
#include "funcoes/mirrorfailures.h"

#include <gtest/gtest.h>

#include <csignal>

#include "child_helper.h"
#include "funcoes/cmdline.h"
#include "funcoes/noticeonce.h"
#include "funcoes/runner.h"
#include "tempdir.h"

namespace {

using namespace testsupport;

const std::u16string Head = u"Sincronismo incompleto: a pasta de destino não é uma cópia completa da pasta de origem.";

TMirrorFailures Read(const std::string& output) {
  TMirrorFailures failures;
  // In pieces that split lines, as a pipe delivers them.
  for (size_t at = 0; at < output.size(); at += 7) failures.Feed(std::string_view(output).substr(at, 7));
  failures.Finish();
  return failures;
}

std::vector<std::u16string> Texts(const TMirrorFailures& failures, bool inUse) {
  std::vector<std::u16string> texts;
  for (const auto& line : failures.Lines())
    if (line.inUse == inUse) texts.push_back(line.text);
  return texts;
}

TEST(MirrorFailures, FailureLinesOfBothCopyProgramsAndFilesInUse) {
  const struct {
    const char* name;
    std::string output;
    std::vector<std::u16string> failures, inUse;
  } cases[] = {
      {"the mirror tool's lines",
       "ERROR : Copying File /d/clip.mp4 : No space left on device\nERROR : Deleting Extra /d/x : Permission denied\n",
       {u"ERROR : Copying File /d/clip.mp4 : No space left on device",
        u"ERROR : Deleting Extra /d/x : Permission denied"},
       {}},
      {"a file in use, from the mirror tool",
       "ERROR : File In Use /s/grava.mxf : open for writing by another program\n",
       {},
       {u"ERROR : File In Use /s/grava.mxf : open for writing by another program"}},
      {"robocopy.exe: date, time, numbered error, its reason on the next line, CRLF",
       "\r\n  New File  \t\t 100\tC:\\s\\a.mp4\r\n"
       "2026/12/10 15:40:44 ERROR 112 (0x00000070) Copying File C:\\s\\b.mp4\r\n"
       "There is not enough space on the disk.\r\n\r\n"
       "2026/12/10 15:40:45 ERROR 32 (0x00000020) Copying File C:\\s\\c.mxf\r\n"
       "The process cannot access the file because it is being used by another process.\r\n",
       {u"ERROR 112 (0x00000070) Copying File C:\\s\\b.mp4 : There is not enough space on the disk."},
       {u"ERROR 32 (0x00000020) Copying File C:\\s\\c.mxf : The process cannot access the file because it is being "
        u"used by another process."}},
      {"a lock violation is a file in use; a numbered error without its reason at the end",
       "ERROR 33 (0x00000021) Copying File C:\\s\\d.wav\r\nThe process cannot access the file.\r\n"
       "ERROR 5 (0x00000005) Copying File C:\\s\\e.wav",
       {u"ERROR 5 (0x00000005) Copying File C:\\s\\e.wav"},
       {u"ERROR 33 (0x00000021) Copying File C:\\s\\d.wav : The process cannot access the file."}},
      {"a fatal line of the mirror tool, no line break at the end",
       "ERROR : Accessing Source Directory /s : No such file or directory",
       {u"ERROR : Accessing Source Directory /s : No such file or directory"},
       {}},
      {"lines that name no failure", "ERRORS seen: 0\n   Files :  3  1\nno ERROR here\nTotal ERROR 5\n\n", {}, {}},
      {"UTF-8 paths",
       "ERROR : Copying File /d/mídia/ação.mov : Input/output error\n",
       {u"ERROR : Copying File /d/m\u00eddia/a\u00e7\u00e3o.mov : Input/output error"},
       {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
#ifdef _WIN32
    // Console output is in the OEM code page there.
    if (std::string(c.name) == "UTF-8 paths") continue;
#endif
    const TMirrorFailures failures = Read(c.output);
    EXPECT_EQ(Texts(failures, false), c.failures);
    EXPECT_EQ(Texts(failures, true), c.inUse);
    EXPECT_EQ(failures.Count(false), static_cast<int64_t>(c.failures.size()));
    EXPECT_EQ(failures.Count(true), static_cast<int64_t>(c.inUse.size()));
  }
}

TEST(MirrorFailures, KeepsAFewLinesOfEachKindAndCutsLongOnesWhateverTheAmount) {
  std::string output(3 * 1024 * 1024, 'x');  // one line of 3 MB, no failure
  output = "ERROR : Copying File /d/" + output + " : No space left on device\n";
  for (int i = 0; i < 200000; ++i)
    output += (i % 2 ? "ERROR : File In Use /s/" : "ERROR : Copying File /d/") + std::to_string(i) + " : x\n";
  const TMirrorFailures failures = Read(output);
  EXPECT_EQ(failures.Count(false), 100001);
  EXPECT_EQ(failures.Count(true), 100000);
  ASSERT_EQ(failures.Lines().size(), 2 * TMirrorFailures::LinesKept);
  EXPECT_EQ(failures.Lines()[0].text.size(), TMirrorFailures::LineBytes);
  EXPECT_EQ(Texts(failures, true).front(), u"ERROR : File In Use /s/1 : x");
  EXPECT_EQ(Texts(failures, false).back(), u"ERROR : Copying File /d/6 : x");
}

TEST(MirrorFailureNotice, WhenARunShowsWhat) {
  const std::string tool = "ERROR : Copying File /d/clip.mp4 : No space left on device\n";
  const std::string inUse = "ERROR : File In Use /s/grava.mxf : open for writing by another program\n";
  std::string seven;
  for (int i = 1; i <= 7; ++i) seven += "ERROR : Copying File /d/" + std::to_string(i) + " : No space left on device\n";
  const std::u16string clip = u"ERROR : Copying File /d/clip.mp4 : No space left on device";
  const std::u16string busy = u"ERROR : File In Use /s/grava.mxf : open for writing by another program";
  std::u16string firstFive;
  for (int i = 1; i <= 5; ++i)
    firstFive += u"\nERROR : Copying File /d/" + std::u16string(1, char16_t(u'0' + i)) + u" : No space left on device";
  const platform::ChildEnd unknown{};
  const struct {
    const char* name;
    platform::ChildEnd end;
    std::string output;
    bool stopped, hotFolder;
    std::u16string notice;
  } cases[] = {
      {"copied", {true, 1, 0}, "", false, false, u""},
      {"extras seen, copied", {true, 3, 0}, "", false, false, u""},
      {"a failure", {true, 9, 0}, tool, false, false, Head + u"\n\n" + clip},
      {"fatal",
       {true, 16, 0},
       "ERROR : Invalid Parameter #3 : \"/Q\"\n",
       false,
       false,
       Head + u"\n\nERROR : Invalid Parameter #3 : \"/Q\""},
      {"a failure without lines", {true, 8, 0}, "", false, false, Head},
      {"more than five lines", {true, 8, 0}, seven, false, false, Head + u"\n" + firstFive + u"\n..."},
      {"stopped by the user", {true, 0, SIGTERM}, tool, true, false, u""},
      {"a failure, then stopped", {true, 8, 0}, tool, true, true, u""},
      {"ended by a signal nobody here sent", {true, 0, SIGTERM}, "", false, true, Head},
      {"a crash code, not robocopy's", {true, -1073741819, 0}, "", false, false, Head},
      {"the end unknown", unknown, tool, false, false, u""},
      {"only files in use, hot folder", {true, 8, 0}, inUse, false, true, u""},
      {"only files in use, by the user", {true, 8, 0}, inUse, false, false, Head + u"\n\n" + busy},
      {"files in use and a failure, hot folder", {true, 9, 0}, inUse + tool, false, true, Head + u"\n\n" + clip},
      {"files in use and a failure, by the user",
       {true, 9, 0},
       inUse + tool,
       false,
       false,
       Head + u"\n\n" + busy + u"\n" + clip},
      {"only files in use but fatal, hot folder", {true, 16, 0}, inUse, false, true, Head},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(MirrorFailureNotice(c.end, Read(c.output), c.stopped, c.hotFolder), c.notice);
  }
}

TEST(NoticeOnce, EachCauseOnceUntilForgotten) {
  TNoticeOnce notices;
  EXPECT_TRUE(notices.Due({u"/a", u"/b"}));
  EXPECT_FALSE(notices.Due({u"/a", u"/b"}));
  EXPECT_TRUE(notices.Due({u"/a", u"/c"}));
  EXPECT_TRUE(notices.Due({u"/a/", u"b"}));  // not the same pair joined differently
  EXPECT_FALSE(notices.Due({u"/a", u"/b"}));
  notices.Forget();
  EXPECT_TRUE(notices.Due({u"/a", u"/b"}));
}

// The stand-in child through a real pipe: its exit code, its failure output,
// and a flood of output that must neither block it nor the waiting loop.
class ChildFailures : public ::testing::Test {
 protected:
  TempDir tmp;
  fs::path records = tmp / "dst";
  void SetUp() override { fs::create_directories(records); }

  // Runs the stand-in to its end as the runner does and returns the notice.
  std::u16string Run(bool hotFolder = false) {
    TMirrorFailures failures;
    platform::ChildProcess child = StartChild(U(ChildHelperPath()), MirrorCommandLine(U(tmp / "src"), U(records), true),
                                              [&failures](std::string_view bytes) { failures.Feed(bytes); });
    WaitForEnd(child);
    const platform::ChildEnd end = child.End();
    child.Close();
    failures.Finish();
    kept = failures.Lines().size();
    return MirrorFailureNotice(end, failures, false, hotFolder);
  }
  size_t kept = 0;
};

TEST_F(ChildFailures, ExitCodesThatShowTheNotice) {
  WriteFile(records / "output.txt", "ERROR : Copying File /d/clip.mp4 : No space left on device\n");
  const struct {
    int code;
    bool notice;
  } cases[] = {{0, false}, {1, false}, {2, false}, {3, false}, {8, true}, {9, true}, {16, true}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.code);
    WriteFile(records / "exit.txt", std::to_string(c.code));
    EXPECT_EQ(Run(), c.notice ? Head + u"\n\nERROR : Copying File /d/clip.mp4 : No space left on device" : u"");
  }
}

TEST_F(ChildFailures, TenMegabytesOfFailureOutputNeitherBlockNorAreKept) {
  WriteFile(records / "exit.txt", "8");
  WriteFile(records / "flood.txt", std::to_string(10 * 1024 * 1024));
  const std::u16string notice = Run();
  EXPECT_TRUE(fs::exists(records / "ends.txt"));
  EXPECT_EQ(kept, TMirrorFailures::LinesKept);
  std::u16string five;
  for (int i = 0; i < 5; ++i) five += u"\nERROR : Copying File /flood/clip.mp4 : No space left on device";
  EXPECT_EQ(notice, Head + u"\n" + five + u"\n...");
}

#ifndef _WIN32
TEST_F(ChildFailures, EndedByASignalShowsTheNotice) {
  WriteFile(records / "signal.txt", std::to_string(SIGTERM));
  EXPECT_EQ(Run(true), Head);
}
#endif

}  // namespace
