// What a run wrote is flushed to the disk, during a long run and at its end.
// When a flush fails, the files the run put in place may never have reached
// the disk: the run reports the failure, and the next run copies them again
// instead of taking them as current.
#include <gtest/gtest.h>

#include "mirror_support.h"
#include "tempdir.h"

namespace {

using testsupport::ReadFile;
using testsupport::TempDir;
using testsupport::WriteFile;
namespace fs = std::filesystem;

// The "Copied" figure of the summary's Files line.
long long CopiedFiles(const std::string& out) {
  const size_t at = out.find("Files :");
  long long total = 0, copied = -1;
  if (at != std::string::npos) std::sscanf(out.c_str() + at, "Files : %lld %lld", &total, &copied);
  return copied;
}

TEST(MirrorFlush, AFailedFlushLeavesTheRunsFilesToBeCopiedAgain) {
  struct Case {
    const char* name;
    int files;
    const char* delay;    // COPY_DELAY_US: a slow disk, so that the write-back flushes during the run
    const char* failing;  // SYNCFS_FAIL: which flush fails; empty: none
    int fewestFlushes;
  };
  const Case cases[] = {
      {"a long run flushes during the run and at its end", 1000, "2000", "", 2},
      {"the first flush, during the run, fails", 1000, "2000", "1", 2},
      {"the flush at the end fails", 20, "0", "1", 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    const fs::path source = dir / "src", destination = dir / "dst", log = dir / "syncs.log";
    for (int i = 0; i < c.files; ++i) WriteFile(source / ("clip" + std::to_string(i)), "x");
    // An older copy, replaced by the run.
    WriteFile(destination / "clip0", "old");
    const auto args = mirrortest::ProgramArgs(source, destination, false);
    std::vector<std::string> settings{"SYNC_LOG=" + log.string(), "COPY_DELAY_US=" + std::string(c.delay)};
    if (*c.failing != '\0') settings.push_back("SYNCFS_FAIL=" + std::string(c.failing));
    const mirrortest::Outcome o = mirrortest::RunMirror(args, dir / "run", mirrortest::ShimEnv(settings));

    const std::string logged = ReadFile(log);
    const long flushes = std::count(logged.begin(), logged.end(), '\n');
    EXPECT_GE(flushes, c.fewestFlushes) << logged;
    const mirrortest::Outcome next = mirrortest::RunMirror(args, dir / "next");
    if (*c.failing == '\0') {
      EXPECT_EQ(o.exitCode, 1) << o.err;
      EXPECT_EQ(o.err, "");
      EXPECT_EQ(next.exitCode, 0) << next.out;
    } else {
      EXPECT_EQ(o.exitCode, 1 | 8) << o.err;
      EXPECT_EQ(o.err, "ERROR : Flushing Destination Directory " + destination.string() + "/ : Input/output error\n");
      // Not one of them passes for current.
      EXPECT_EQ(next.exitCode, 1) << next.err;
      EXPECT_EQ(CopiedFiles(next.out), c.files) << next.out;
    }
    EXPECT_EQ(mirrortest::Picture(destination), mirrortest::Picture(source));
  }
}

}  // namespace
