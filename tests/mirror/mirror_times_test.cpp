// Times are compared as finely as the destination keeps them: an edit that
// keeps the size reaches the destination however soon it follows the last
// copy, and a re-mirror with nothing changed copies nothing, even where the
// destination cuts times down.
#include <gtest/gtest.h>
#include <sys/mount.h>

#include <cerrno>
#include <cstring>
#include <functional>
#include <optional>

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

TEST(MirrorTimes, SameSizeEditsReachTheDestinationHoweverSoon) {
  struct Destination {
    const char* name;
    std::function<std::string()> mount;  // empty string: mounted; otherwise why not
    std::function<fs::path()> root;
    // Steps after which an edit is seen: any, where the destination keeps what
    // it is given; the whole seconds of exFAT through FUSE otherwise.
    std::vector<std::int64_t> edits;
  };
  std::optional<TempDir> ext;
  std::optional<TmpfsMount> tmpfs;
  std::optional<testsupport::ExfatMount> exfat;
  const std::vector<std::int64_t> anySoon = {kSecond, kSecond, 2 * kSecond, kSecond / 2, 1'000'000, 1};
  const std::vector<Destination> destinations = {
      {"the temporary folder's file system (ext4 here)", [&] { return ext.emplace(), std::string(); },
       [&] { return ext->path(); }, anySoon},
      {"tmpfs", [&] { return tmpfs.emplace().Reason(); }, [&] { return tmpfs->path(); }, anySoon},
      {"exFAT",
       [&] { return exfat.emplace().Reason(); },
       [&] { return exfat->path(); },
       {kSecond, kSecond, 2 * kSecond, kSecond + kSecond / 2}},
  };
  for (const Destination& d : destinations) {
    SCOPED_TRACE(d.name);
    if (const std::string reason = d.mount(); !reason.empty()) {
      std::printf("skipped %s: %s\n", d.name, reason.c_str());
      continue;
    }
    // A source time with a fraction of a second, and one without (a camera's card).
    for (const std::int64_t first : {1'700'000'000 * kSecond + 123'456'789, 1'700'000'000 * kSecond}) {
      for (const bool programLine : {true, false}) {
        SCOPED_TRACE(testing::Message() << (programLine ? "the program's line" : "/MIR alone") << ", first time "
                                        << first);
        TempDir src, logs;
        const fs::path source = src / "media", destination = d.root() / (programLine ? "program" : "plain");
        const std::vector<std::string> args =
            programLine ? mirrortest::ProgramArgs(source, destination, false)
                        : std::vector<std::string>{source.string() + "/", destination.string() + "/", "/MIR"};
        const fs::path clip = source / "clip.xml", copy = destination / "clip.xml";
        std::int64_t time = first;
        WriteFile(clip, "<clip take=\"0000\"/>\n");
        Stamp(clip, time);
        mirrortest::Outcome o = mirrortest::RunMirror(args, logs / "run");
        ASSERT_EQ(o.exitCode, 1) << o.err;
        for (size_t i = 0; i < d.edits.size(); ++i) {
          const std::string take = "<clip take=\"000" + std::to_string(i + 1) + "\"/>\n";
          SCOPED_TRACE(take);
          o = mirrortest::RunMirror(args, logs / "run");
          EXPECT_EQ(o.exitCode, 0) << "nothing changed, yet copied again\n" << o.err << o.out;
          time += d.edits[i];
          WriteFile(clip, take);
          Stamp(clip, time);
          o = mirrortest::RunMirror(args, logs / "run");
          EXPECT_EQ(o.exitCode, 1) << o.err << o.out;
          EXPECT_EQ(ReadFile(copy), take);
        }
      }
    }
  }
}

// The steps of file systems that cannot be mounted here (FAT, exFAT's kernel
// driver), and how a file system of unknown kind is read from what it stored.
TEST(MirrorTimes, ComparedAtTheDestinationsStep) {
  using mirror::TimeKeeping;
  constexpr std::int64_t t = 1'700'000'000 * kSecond, ms = 1'000'000;
  struct Case {
    const char* what;
    std::int64_t destination, source;
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
  };
  for (const Case& c : cases) {
    EXPECT_EQ(mirror::SameTimes(c.destination, c.source, c.keeping, c.fatTimes), c.same) << c.what;
  }
}

}  // namespace
