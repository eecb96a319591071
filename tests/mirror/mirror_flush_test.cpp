// What a run wrote is flushed to the disk, during a long run and at its end.
// When a flush fails, the files the run put in place may never have reached
// the disk: the run reports the failure, and the next run copies them again
// instead of taking them as current.
#include <gtest/gtest.h>
#include <sys/sysmacros.h>

#include <fstream>

#include "ext4_volume.h"
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

// Bytes written to the block device that holds `folder`, as the kernel counts
// them once the device has taken them; -1 when it cannot tell.
long long DeviceBytesWritten(const fs::path& folder) {
  struct stat st;
  if (::stat(folder.c_str(), &st) != 0) return -1;
  std::ifstream counts("/sys/dev/block/" + std::to_string(major(st.st_dev)) + ":" + std::to_string(minor(st.st_dev)) +
                       "/stat");
  long long field[7] = {};
  for (long long& f : field) counts >> f;
  return counts ? field[6] * 512 : -1;  // the seventh: sectors written
}

// The sizes of the files in `folder`, a copy's temporary among them.
long long BytesIn(const fs::path& folder) {
  long long bytes = 0;
  std::error_code ec;
  for (const fs::directory_entry& e : fs::directory_iterator(folder, ec)) {
    struct stat st;
    if (::lstat(e.path().c_str(), &st) == 0 && S_ISREG(st.st_mode)) bytes += st.st_size;
  }
  return bytes;
}

// The window's gauge is the destination's size against the source's. A big
// copy whose bytes pile up in memory would show the gauge full while
// hundreds of megabytes are not yet on the disk, and a disk pulled then would
// lose them: the copy keeps no more than 256 MiB ahead of the disk.
TEST(MirrorFlush, ABigCopyKeepsCloseBehindTheDisk) {
  testsupport::Ext4Volume disk({}, 1200);
  if (!disk.Mounted()) GTEST_SKIP() << disk.Refusal();
  TempDir dir;
  const fs::path source = dir / "src", destination = disk.path() / "dst";
  constexpr long long kSize = 768ll << 20;
  fs::create_directories(source);
  {
    std::ofstream clip(source / "clip.mxf", std::ios::binary);
    std::string block(1 << 20, '\0');
    for (long long i = 0; i < kSize >> 20; ++i) {
      for (size_t k = 0; k < block.size(); k += 4096) block[k] = static_cast<char>(i + k / 4096);
      clip.write(block.data(), static_cast<std::streamsize>(block.size()));
    }
  }
  fs::create_directories(destination);
  const long long before = DeviceBytesWritten(destination);
  ASSERT_GE(before, 0) << "no block device counts for " << destination;

  const pid_t pid = mirrortest::Start(ROBOCOPY_PATH, mirrortest::ProgramArgs(source, destination, false), dir / "run");
  long long furthest = 0, samples = 0;
  for (siginfo_t info{}; waitid(P_PID, pid, &info, WEXITED | WNOHANG | WNOWAIT) == 0 && info.si_pid != pid;) {
    const long long written = BytesIn(destination), onDisk = DeviceBytesWritten(destination) - before;
    furthest = std::max(furthest, written - onDisk);
    ++samples;
    usleep(2'000);
  }
  const mirrortest::Outcome o = mirrortest::Finish(pid, dir / "run");
  EXPECT_EQ(o.exitCode, 1) << o.err;
  EXPECT_GT(samples, 10);
  EXPECT_LE(furthest, 256ll << 20) << "the copy ran " << (furthest >> 20) << " MiB ahead of the disk";
  EXPECT_EQ(mirrortest::Picture(destination), mirrortest::Picture(source));
}

}  // namespace
