// A copy killed half-way (the stop button sends SIGKILL) leaves no partial
// file under the real name, and the next run completes it from where it
// stopped, as long as what it left is a true start of the file.
#include <gtest/gtest.h>
#include <signal.h>

#include <thread>

#include "mirror/mirror.h"
#include "mirror_support.h"
#include "tempdir.h"
#include "unprivileged.h"

namespace {

using testsupport::ScopedUnprivileged;
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

struct Case {
  const char* name;
  bool corrupt;   // 1 MiB inside the leftover zeroed, as after a lost write-back
  bool readOnly;  // the clip is read-only (0444), both runs by an ordinary user
  bool resumes;   // the second run copies only the rest
};

void PrintTo(const Case& c, std::ostream* out) { *out << c.name; }

class MirrorKill : public testing::TestWithParam<Case> {};

TEST_P(MirrorKill, StoppedCopyLeavesNoPartialFileAndResumesOnlyFromTrueBytes) {
  const Case& c = GetParam();
  TempDir dir;
  const fs::path src = dir / "src", dst = dir / "dst";
  fs::create_directories(src);
  fs::create_directories(dst);
  {
    // No byte is zero, so that zeroed bytes in the leftover are wrong ones.
    std::ofstream out(src / "big.mov", std::ios::binary);
    std::string block(1 << 20, '\0');
    for (std::int64_t i = 0; i < kSize / static_cast<std::int64_t>(block.size()); ++i) {
      for (size_t j = 0; j < block.size(); ++j) block[j] = static_cast<char>(1 + (i * 131 + j * 7) % 251);
      out.write(block.data(), block.size());
    }
  }
  if (c.readOnly) {
    if (::geteuid() != 0) GTEST_SKIP() << "taking an ordinary user's ids needs root";
    fs::permissions(src / "big.mov", fs::perms(0444));
    ScopedUnprivileged::Give(dst);
    // Another user's file gives no lease to tell whether it is being
    // written: it is copied once it has been left alone for 2 seconds.
    std::this_thread::sleep_for(std::chrono::milliseconds(2100));
  }
  const auto args = mirrortest::ProgramArgs(src, dst, false);
  const auto start = [&](const fs::path& log) {
    return c.readOnly ? mirrortest::StartAs(ScopedUnprivileged::Id, args, log)
                      : mirrortest::Start(ROBOCOPY_PATH, args, log);
  };
  // The copy's temporary, once it has been made.
  const auto leftover = [&dst]() -> fs::path {
    for (const auto& e : fs::directory_iterator(dst)) {
      if (mirror::IsTemporaryName(e.path().filename().string())) return e.path();
    }
    return {};
  };

  // Kill the tool as soon as the partial file has content; a copy too quick
  // to be caught is tried again.
  std::int64_t partial = -1;
  fs::path temp;
  for (int attempt = 0; attempt < 20 && partial < 0; ++attempt) {
    if (!temp.empty()) fs::remove(temp);
    fs::remove(dst / "big.mov");
    const pid_t pid = start(dir / "log");
    ASSERT_GT(pid, 0);
    bool caught = false;
    while (!caught) {
      if (temp.empty()) temp = leftover();
      std::error_code ec;
      const auto size = temp.empty() ? 0 : fs::file_size(temp, ec);
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
  // File systems that clone (Btrfs, XFS) copy it whole at once.
  if (partial < 0) GTEST_SKIP() << "the copy always ended before it could be stopped";
  if (c.corrupt) {
    const std::int64_t from = partial / 4, length = std::min<std::int64_t>(1 << 20, partial / 2);
    const std::string zeros(length, '\0');
    const int fd = ::open(temp.c_str(), O_WRONLY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::pwrite(fd, zeros.data(), zeros.size(), from), static_cast<ssize_t>(zeros.size()));
    ::close(fd);
  }

  const mirrortest::Outcome o = mirrortest::Finish(start(dir / "log"), dir / "log");
  EXPECT_EQ(o.exitCode, 1) << o.err;
  EXPECT_EQ(CopiedBytes(o.out), c.resumes ? kSize - partial : kSize) << o.out;
  EXPECT_EQ(leftover(), fs::path());
  EXPECT_EQ(mirrortest::Picture(dst), mirrortest::Picture(src));
  // Writable while it was written, the source's permission bits once complete.
  EXPECT_EQ(fs::status(dst / "big.mov").permissions(), fs::status(src / "big.mov").permissions());
}

std::string CaseName(const testing::TestParamInfo<Case>& info) { return info.param.name; }

INSTANTIATE_TEST_SUITE_P(, MirrorKill,
                         testing::Values(Case{"IntactLeftover", false, false, true},
                                         Case{"LeftoverWithZeroedBytes", true, false, false},
                                         Case{"ReadOnlyClipOfAnOrdinaryUser", false, true, true}),
                         CaseName);

}  // namespace
