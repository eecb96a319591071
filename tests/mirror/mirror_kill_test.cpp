// A copy killed half-way (the stop button sends SIGKILL) leaves no partial
// file under the real name, and the next run completes it from where it stopped.
#include <gtest/gtest.h>
#include <signal.h>

#include <thread>

#include "mirror/mirror.h"
#include "mirror_support.h"
#include "tempdir.h"

namespace {

using testsupport::TempDir;
namespace fs = std::filesystem;

constexpr std::int64_t kSize = 200 * 1024 * 1024;

// The "Copied" figure of the summary's Bytes line.
long long CopiedBytes(const std::string& out) {
  const size_t at = out.find("Bytes :");
  if (at == std::string::npos) return -1;
  long long total = 0, copied = -1;
  std::sscanf(out.c_str() + at, "Bytes : %lld %lld", &total, &copied);
  return copied;
}

TEST(MirrorKill, StoppedCopyLeavesNoPartialFileAndResumes) {
  TempDir dir;
  const fs::path src = dir / "src", dst = dir / "dst";
  fs::create_directories(src);
  {
    std::ofstream out(src / "big.mov", std::ios::binary);
    std::string block(1 << 20, '\0');
    for (std::int64_t i = 0; i < kSize / static_cast<std::int64_t>(block.size()); ++i) {
      for (size_t j = 0; j < block.size(); j += 4096) block[j] = static_cast<char>(i + j / 4096);
      out.write(block.data(), block.size());
    }
  }
  const auto args = mirrortest::ProgramArgs(src, dst, false);
  struct stat st;
  ASSERT_EQ(stat((src / "big.mov").c_str(), &st), 0);
  const fs::path temp =
      dst / mirror::TemporaryName("big.mov", kSize, st.st_mtim.tv_sec * 1'000'000'000LL + st.st_mtim.tv_nsec);

  // Kill the tool as soon as the partial file has content; a copy too quick
  // to be caught is tried again.
  std::int64_t partial = -1;
  for (int attempt = 0; attempt < 20 && partial < 0; ++attempt) {
    fs::remove_all(dst);
    const pid_t pid = mirrortest::Start(ROBOCOPY_PATH, args, dir / "log");
    ASSERT_GT(pid, 0);
    bool caught = false;
    while (!caught) {
      std::error_code ec;
      const auto size = fs::file_size(temp, ec);
      if (!ec && size > 0 && size < static_cast<std::uintmax_t>(kSize)) {
        caught = kill(pid, SIGKILL) == 0;
      }
      if (waitpid(pid, nullptr, caught ? 0 : WNOHANG) == pid) break;
      std::this_thread::yield();
    }
    if (!caught) continue;
    EXPECT_FALSE(fs::exists(dst / "big.mov")) << "a partial file under the real name";
    std::error_code ec;
    partial = static_cast<std::int64_t>(fs::file_size(temp, ec));
    if (ec) partial = -1;
  }
  if (partial < 0) GTEST_SKIP() << "the copy always ended before it could be stopped";

  const mirrortest::Outcome o = mirrortest::RunMirror(args, dir / "log");
  EXPECT_EQ(o.exitCode, 1) << o.err;
  EXPECT_EQ(CopiedBytes(o.out), kSize - partial) << o.out;  // resumed, not started over
  EXPECT_FALSE(fs::exists(temp));
  EXPECT_EQ(mirrortest::Picture(dst), mirrortest::Picture(src));
}

}  // namespace
