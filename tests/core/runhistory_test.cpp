// The run history below the window: reading the copy program's summary, and
// a log that stays under its limit by moving the older records aside.
#include "funcoes/runhistory.h"

#include <gtest/gtest.h>

#include "tempdir.h"

using namespace testsupport;

struct SummaryCase {
  const char* name;
  std::string output;
  bool complete;
  int64_t filesCopied, bytesCopied, filesExtras, filesFailed;
};

class Summary : public testing::TestWithParam<SummaryCase> {};

TEST_P(Summary, CountsComeFromTheTableRowsInOrder) {
  const SummaryCase& c = GetParam();
  TMirrorSummary summary;
  size_t start = 0;
  for (size_t end; (end = c.output.find('\n', start)) != std::string::npos; start = end + 1)
    summary.Line(std::string_view(c.output).substr(start, end - start));
  ASSERT_EQ(summary.Complete(), c.complete);
  if (!c.complete) return;
  EXPECT_EQ(summary.Files().Copied, c.filesCopied);
  EXPECT_EQ(summary.Bytes().Copied, c.bytesCopied);
  EXPECT_EQ(summary.Files().Extras, c.filesExtras);
  EXPECT_EQ(summary.Files().Failed, c.filesFailed);
}

INSTANTIATE_TEST_SUITE_P(
    Tables, Summary,
    testing::Values(SummaryCase{"MirrorTool",
                                "   Source : /a/\n     Dest : /b/\n"
                                "               Total    Copied   Skipped  Mismatch    FAILED    Extras\n"
                                "    Dirs :         2         1         1         0         0         1\n"
                                "   Files :        12        10         1         0         1         3\n"
                                "   Bytes :  12345678901  12345678000 901 0 0 55\n",
                                true, 10, 12345678000, 3, 1},
                    // robocopy.exe writes units, and a translated one other row names.
                    SummaryCase{"RobocopyWithUnits",
                                "               Total    Copiado  Ignorado Incompatibilidade     FALHA    Extras\n"
                                "Diretórios:         1         0         1         0         0         0\n"
                                "  Arquivos:         4         3         1         0         0         0\n"
                                "     Bytes:   1.500 m   1,000 m     512 k         0         0         0\n"
                                "     Times:   0:00:01   0:00:01                       0:00:00   0:00:00\n",
                                true, 3, 1048576, 0, 0},
                    // A path with a drive letter, or a failure line, is no row.
                    SummaryCase{"NoTable",
                                "ERROR : Copying File C:\\a b 1 2 3 4 5 6 : reason\n   Source : C:\\1 2 3 4 5 6\\\n",
                                false, 0, 0, 0, 0}),
    [](const testing::TestParamInfo<SummaryCase>& info) { return std::string(info.param.name); });

TEST(RunLog, AppendsAndRotatesBeforePassingTheLimit) {
  TempDir tmp;
  const std::filesystem::path log = tmp / "state" / "Corvalen" / "TARNVEL.log";
  const std::string record(40, 'r');
  // Made with its folder, then appended to.
  ASSERT_TRUE(AppendRunRecord(log, record, 100));
  ASSERT_TRUE(AppendRunRecord(log, record, 100));
  EXPECT_EQ(ReadFile(log), record + record);
  // The third would pass 100 bytes: the two go to .1 and the log starts again.
  ASSERT_TRUE(AppendRunRecord(log, record, 100));
  EXPECT_EQ(ReadFile(log), record);
  EXPECT_EQ(ReadFile(tmp / "state" / "Corvalen" / "TARNVEL.log.1"), record + record);
  // And again: the older .1 is replaced.
  ASSERT_TRUE(AppendRunRecord(log, record + "x", 100));
  ASSERT_TRUE(AppendRunRecord(log, record, 100));
  EXPECT_EQ(ReadFile(log), record);
  EXPECT_EQ(ReadFile(tmp / "state" / "Corvalen" / "TARNVEL.log.1"), record + record + "x");
}

TEST(RunLog, AFolderThatCannotBeMadeIsAFailureNotAnException) {
  TempDir tmp;
  WriteFile(tmp / "state", "a file where the folder should be");
  EXPECT_FALSE(AppendRunRecord(tmp / "state" / "Corvalen" / "TARNVEL.log", "record"));
  EXPECT_EQ(ReadFile(tmp / "state"), "a file where the folder should be");
}
