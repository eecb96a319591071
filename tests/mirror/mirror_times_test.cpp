// Times are compared as finely as the destination keeps them: an edit that
// keeps the size reaches the destination however soon it follows the last
// copy, and a re-mirror with nothing changed copies nothing, even where the
// destination cuts times down.
#include <gtest/gtest.h>
#include <sys/mount.h>

#include <cerrno>
#include <cstring>
#include <optional>
#include <thread>

#include "exfat_mount.h"
#include "mirror/mirror.h"
#include "mirror_support.h"
#include "tempdir.h"

namespace {

using testsupport::ReadFile;
using testsupport::TempDir;
using testsupport::WriteFile;
namespace fs = std::filesystem;

constexpr std::int64_t kSecond = 1'000'000'000;

// A tmpfs mounted on a temporary folder (root only).
class TmpfsMount {
 public:
  TmpfsMount() {
    if (::geteuid() != 0) {
      reason_ = "mounting a tmpfs needs root";
    } else if (::mount("tmpfs", dir_.path().c_str(), "tmpfs", 0, "size=16m") != 0) {
      reason_ = std::string("mount tmpfs: ") + std::strerror(errno);
    }
  }
  ~TmpfsMount() {
    if (reason_.empty()) ::umount(dir_.path().c_str());
  }
  const std::string& Reason() const { return reason_; }
  fs::path path() const { return dir_.path(); }

 private:
  TempDir dir_;
  std::string reason_;
};

void Stamp(const fs::path& file, std::int64_t ns) {
  const timespec t{static_cast<time_t>(ns / kSecond), static_cast<long>(ns % kSecond)};
  const timespec times[2] = {t, t};
  ASSERT_EQ(utimensat(AT_FDCWD, file.c_str(), times, 0), 0);
}

// A destination file system, mounted for the life of the object where it
// needs mounting; Reason() says why not where it could not be.
class Destination {
 public:
  enum Kind { TemporaryFolder, Tmpfs, Exfat };
  explicit Destination(Kind kind) {
    if (kind == Tmpfs) reason_ = tmpfs_.emplace().Reason();
    if (kind == Exfat) reason_ = exfat_.emplace().Reason();
  }
  const std::string& Reason() const { return reason_; }
  fs::path path() const { return tmpfs_ ? tmpfs_->path() : exfat_ ? exfat_->path() : plain_.path(); }

 private:
  TempDir plain_;
  std::optional<TmpfsMount> tmpfs_;
  std::optional<testsupport::ExfatMount> exfat_;
  std::string reason_;
};

// Steps after which an edit is seen: any, where the destination keeps what
// it is given; the whole seconds of exFAT through FUSE otherwise.
std::vector<std::int64_t> Edits(Destination::Kind kind) {
  if (kind == Destination::Exfat) return {kSecond, kSecond, 2 * kSecond, kSecond + kSecond / 2};
  return {kSecond, kSecond, 2 * kSecond, kSecond / 2, 1'000'000, 1};
}

class MirrorTimesOn : public testing::TestWithParam<Destination::Kind> {
 protected:
  void SetUp() override {
    destination_.emplace(GetParam());
    if (!destination_->Reason().empty()) GTEST_SKIP() << destination_->Reason();
  }
  fs::path root() const { return destination_->path(); }

 private:
  std::optional<Destination> destination_;
};

TEST_P(MirrorTimesOn, SameSizeEditsReachTheDestinationHoweverSoon) {
  // A source time with a fraction of a second, and one without (a camera's card).
  for (const std::int64_t first : {1'700'000'000 * kSecond + 123'456'789, 1'700'000'000 * kSecond}) {
    for (const bool programLine : {true, false}) {
      SCOPED_TRACE(testing::Message() << (programLine ? "the program's line" : "/MIR alone") << ", first time "
                                      << first);
      TempDir src, logs;
      const fs::path source = src / "media", destination = root() / (programLine ? "program" : "plain");
      const std::vector<std::string> args =
          programLine ? mirrortest::ProgramArgs(source, destination, false)
                      : std::vector<std::string>{source.string() + "/", destination.string() + "/", "/MIR"};
      const fs::path clip = source / "clip.xml", copy = destination / "clip.xml";
      std::int64_t time = first;
      WriteFile(clip, "<clip take=\"0000\"/>\n");
      Stamp(clip, time);
      mirrortest::Outcome o = mirrortest::RunMirror(args, logs / "run");
      ASSERT_EQ(o.exitCode, 1) << o.err;
      const std::vector<std::int64_t> edits = Edits(GetParam());
      for (size_t i = 0; i < edits.size(); ++i) {
        const std::string take = "<clip take=\"000" + std::to_string(i + 1) + "\"/>\n";
        SCOPED_TRACE(take);
        o = mirrortest::RunMirror(args, logs / "run");
        EXPECT_EQ(o.exitCode, 0) << "nothing changed, yet copied again\n" << o.err << o.out;
        time += edits[i];
        WriteFile(clip, take);
        Stamp(clip, time);
        o = mirrortest::RunMirror(args, logs / "run");
        EXPECT_EQ(o.exitCode, 1) << o.err << o.out;
        EXPECT_EQ(ReadFile(copy), take);
      }
    }
  }
}

// Times a count of nanoseconds cannot hold (after 2262), and times FAT and
// exFAT cannot store (before 1980, after 2107): copied once, then left alone.
TEST_P(MirrorTimesOn, FarTimesAreCopiedOnce) {
  struct Case {
    const char* what;
    std::int64_t seconds;
    long nanoseconds;
  };
  const Case cases[] = {
      {"2400", 13'569'465'600, 123'456'789},
      {"2262, past a count of nanoseconds", 9'300'000'000, 0},
      {"2200", 7'271'208'000, 500'000'000},
      {"2107, the last year FAT keeps", 4'354'819'198, 0},
      {"1975", 168'480'000, 0},
      {"1960", -315'619'200, 250'000'000},
  };
  TempDir src, logs;
  const fs::path source = src / "media", destination = root() / "far";
  for (const Case& c : cases) {
    const fs::path clip = source / (std::string(c.what) + ".mov");
    WriteFile(clip, c.what);
    const timespec times[2] = {{static_cast<time_t>(c.seconds), c.nanoseconds},
                               {static_cast<time_t>(c.seconds), c.nanoseconds}};
    ASSERT_EQ(utimensat(AT_FDCWD, clip.c_str(), times, 0), 0) << c.what;
  }
  const auto args = mirrortest::ProgramArgs(source, destination, false);
  mirrortest::Outcome o = mirrortest::RunMirror(args, logs / "run");
  ASSERT_EQ(o.exitCode, 1) << o.err;
  for (const Case& c : cases) EXPECT_EQ(ReadFile(destination / (std::string(c.what) + ".mov")), c.what);
  // FUSE answers with the times it was given for a second; then with what the disk holds.
  if (GetParam() == Destination::Exfat) std::this_thread::sleep_for(std::chrono::milliseconds(1500));
  o = mirrortest::RunMirror(args, logs / "run");
  EXPECT_EQ(o.exitCode, 0) << "copied again\n" << o.out;
  // A same-size edit of a far time is still seen where the destination keeps it.
  if (GetParam() != Destination::Exfat) {
    const fs::path clip = source / "2400.mov";
    WriteFile(clip, "2401");
    const timespec times[2] = {{13'569'465'601, 0}, {13'569'465'601, 0}};
    ASSERT_EQ(utimensat(AT_FDCWD, clip.c_str(), times, 0), 0);
    o = mirrortest::RunMirror(args, logs / "run");
    EXPECT_EQ(o.exitCode, 1) << o.out;
    EXPECT_EQ(ReadFile(destination / "2400.mov"), "2401");
  }
}

std::string DestinationName(const testing::TestParamInfo<Destination::Kind>& info) {
  switch (info.param) {
    case Destination::Tmpfs:
      return "Tmpfs";
    case Destination::Exfat:
      return "Exfat";
    default:
      return "TemporaryFolder";
  }
}

INSTANTIATE_TEST_SUITE_P(, MirrorTimesOn,
                         testing::Values(Destination::TemporaryFolder, Destination::Tmpfs, Destination::Exfat),
                         DestinationName);

// The steps of file systems that cannot be mounted here (FAT, exFAT's kernel
// driver), and how a file system of unknown kind is read from what it stored.
TEST(MirrorTimes, ComparedAtTheDestinationsStep) {
  using mirror::TimeKeeping;
  constexpr std::int64_t t = 1'700'000'000 * kSecond, ms = 1'000'000;
  // Times as seconds and nanoseconds; in nanoseconds below, where they fit.
  struct Time {
    mirror::FileTime time;
    Time(std::int64_t ns)  // NOLINT: the table's nanosecond counts
        : time{ns / kSecond - (ns % kSecond < 0), static_cast<std::int32_t>((ns % kSecond + kSecond) % kSecond)} {}
    Time(std::int64_t seconds, std::int32_t nanoseconds) : time{seconds, nanoseconds} {}
  };
  constexpr std::int64_t y2400 = 13'569'465'600, y2107end = 4'354'819'199, y1980 = 315'532'800;
  struct Case {
    const char* what;
    Time destination, source;
    TimeKeeping keeping;
    bool fatTimes, same;
  };
  const std::vector<Case> cases = {
      {"exact: the same time", t + 123, t + 123, TimeKeeping::Exact, false, true},
      {"exact: an edit 1 s later, /FFT or not", t, t + kSecond, TimeKeeping::Exact, true, false},
      {"exact: 1 ns later", t, t + 1, TimeKeeping::Exact, true, false},
      {"exact: the source cut to seconds is no match", t, t + 500 * ms, TimeKeeping::Exact, false, false},
      {"exFAT: the source cut to 10 ms", t + 120 * ms, t + 123 * ms + 456, TimeKeeping::TenMilliseconds, false, true},
      {"exFAT: an edit 1 s later", t + 120 * ms, t + kSecond + 123 * ms, TimeKeeping::TenMilliseconds, true, false},
      {"exFAT: an edit 20 ms later", t + 120 * ms, t + 143 * ms, TimeKeeping::TenMilliseconds, true, false},
      {"exFAT: whole seconds are no match", t, t + 123 * ms, TimeKeeping::TenMilliseconds, false, false},
      {"FAT with /FFT: rounded up", t + 2 * kSecond, t + kSecond + 300 * ms, TimeKeeping::TwoSeconds, true, true},
      {"FAT with /FFT: cut down", t, t + kSecond + 900 * ms, TimeKeeping::TwoSeconds, true, true},
      {"FAT with /FFT: 3 s apart", t, t + 3 * kSecond, TimeKeeping::TwoSeconds, true, false},
      {"FAT without /FFT: cut down to 2 s", t, t + kSecond + 900 * ms, TimeKeeping::TwoSeconds, false, true},
      {"FAT without /FFT: rounded up", t + 2 * kSecond, t + kSecond, TimeKeeping::TwoSeconds, false, false},
      {"unknown, stored whole seconds: the source cut", t, t + 700 * ms, TimeKeeping::Unknown, false, true},
      {"unknown, stored whole seconds: 1 s later", t, t + kSecond + 100 * ms, TimeKeeping::Unknown, true, false},
      {"unknown, stored 10 ms steps: cut to 10 ms", t + 120 * ms, t + 125 * ms, TimeKeeping::Unknown, false, true},
      {"unknown, stored 10 ms steps: 30 ms later", t + 120 * ms, t + 150 * ms, TimeKeeping::Unknown, false, false},
      {"unknown, stored a fine time: exact", t + 123'456'789, t + 123'456'790, TimeKeeping::Unknown, true, false},
      {"before 1970: cut towards the past", -kSecond - 10 * ms, -kSecond - 5 * ms, TimeKeeping::TenMilliseconds, false,
       true},
      {"exact: 2400, the same", Time(y2400, 5), Time(y2400, 5), TimeKeeping::Exact, false, true},
      {"exact: 2400, 1 s apart", Time(y2400, 5), Time(y2400 + 1, 5), TimeKeeping::Exact, true, false},
      {"exact: 2400 is not 2400 minus 2^64 ns", Time(y2400 - 18'446'744'073, 290'448'384), Time(y2400, 0),
       TimeKeeping::Exact, false, false},
      {"exFAT: 2400 against what the driver stored", Time(1'451'347'200, 0), Time(y2400, 123),
       TimeKeeping::TenMilliseconds, false, true},
      {"exFAT: 2400 clamped to the last second", Time(y2107end, 0), Time(y2400, 0), TimeKeeping::TenMilliseconds, false,
       true},
      {"exFAT through FUSE: 2400", Time(1'451'347'200, 0), Time(y2400, 0), TimeKeeping::Unknown, false, true},
      {"exFAT through FUSE: 1960 stored as 1980", Time(y1980, 0), Time(-315'619'200, 0), TimeKeeping::Unknown, false,
       true},
      {"FAT: 1975 stored as 1980", Time(y1980, 0), Time(168'480'000, 0), TimeKeeping::TwoSeconds, true, true},
      {"exFAT: the last second it keeps is compared", Time(y2107end - 1, 0), Time(y2107end, 0),
       TimeKeeping::TenMilliseconds, true, false},
      {"FAT with /FFT: exactly 2 s apart", Time(y2107end - 2, 500), Time(y2107end, 500), TimeKeeping::TwoSeconds, true,
       true},
      {"FAT with /FFT: 2 s and 1 ns apart", Time(y2107end - 2, 500), Time(y2107end, 501), TimeKeeping::TwoSeconds, true,
       false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(mirror::SameTimes(c.destination.time, c.source.time, c.keeping, c.fatTimes), c.same) << c.what;
  }
}

}  // namespace
