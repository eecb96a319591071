// The hot folder's scheduling without a window: which reports start a run,
// the run owed after a run, files left in use waiting for their writer, and
// the disk checks on real mounts. Times are passed in: no test sleeps.
#include "funcoes/hotfolder.h"

#include <gtest/gtest.h>

#include <map>

#include "funcoes/mirrorfailures.h"
#include "platform/dirwatch.h"
#include "tempdir.h"
#ifndef _WIN32
#include <fcntl.h>
#include <unistd.h>

#include "ext4_volume.h"
#include "unprivileged.h"
#endif

namespace {

using namespace std::chrono_literals;
using namespace testsupport;
using TAsk = THotFolderSchedule::TAsk;
using Clock = THotFolderSchedule::Clock;
using platform::FileActivity;
using platform::FileWriter;

const std::u16string Clip = u"/src/clip.mxf", Other = u"/src/other.mxf";

// A schedule whose files are what the test says they are.
struct Fixture {
  std::map<std::u16string, FileActivity> files;
  THotFolderSchedule schedule{[this](const std::u16string& path) {
    const auto found = files.find(path);
    return found == files.end() ? FileActivity{} : found->second;
  }};
  Clock::time_point t0 = Clock::now();
  Clock::time_point At(Clock::duration d) const { return t0 + d; }

  // A run from start to end that left inUse in use; true when one more is owed.
  bool Run(Clock::duration start, Clock::duration end, std::vector<std::u16string> inUse = {}) {
    schedule.RunStarted(At(start));
    return schedule.RunEnded(inUse, At(end));
  }
};

TEST(HotFolderSchedule, ReportsStartARunUnlessARunSinceHasSeenThem) {
  Fixture f;
  EXPECT_EQ(f.schedule.Reported(Clip, f.At(0s), f.At(0s)), TAsk::Run);
  EXPECT_FALSE(f.Run(1s, 2s));
  // Read before that run started: it saw the change.
  EXPECT_EQ(f.schedule.Reported(Clip, f.At(500ms), f.At(3s)), TAsk::Nothing);
  EXPECT_EQ(f.schedule.Lost(f.At(500ms)), TAsk::Nothing);
  EXPECT_EQ(f.schedule.Reported(Clip, f.At(1500ms), f.At(3s)), TAsk::Run);
  EXPECT_EQ(f.schedule.Lost(f.At(1500ms)), TAsk::Run);
}

TEST(HotFolderSchedule, AnAskDuringARunIsOwedOnceAfterIt) {
  struct Case {
    const char* name;
    std::function<TAsk(Fixture&)> ask;
  } cases[] = {
      {"report", [](Fixture& f) { return f.schedule.Reported(Clip, f.At(2s), f.At(2s)); }},
      {"changes lost", [](Fixture& f) { return f.schedule.Lost(f.At(2s)); }},
      {"watch started", [](Fixture& f) { return f.schedule.Armed(); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Fixture f;
    f.schedule.RunStarted(f.At(1s));
    EXPECT_TRUE(f.schedule.Running());
    EXPECT_EQ(c.ask(f), TAsk::AfterRun);
    EXPECT_TRUE(f.schedule.RunEnded({}, f.At(3s)));
    EXPECT_FALSE(f.schedule.Running());
    // Owed once: the next run asked for nothing.
    EXPECT_FALSE(f.Run(4s, 5s));
  }
}

TEST(HotFolderSchedule, AFileLeftInUseWaitsForItsWritersClose) {
  Fixture f;
  f.files[Clip] = {FileWriter::Open, 0ms};
  f.schedule.RunStarted(f.At(0s));
  // Every write of the file being copied in is reported during the run.
  EXPECT_EQ(f.schedule.Reported(Clip, f.At(1s), f.At(1s)), TAsk::AfterRun);
  EXPECT_FALSE(f.schedule.RunEnded({Clip}, f.At(2s)));  // its asks were about the file still written
  for (int write = 3; write < 10; ++write)
    EXPECT_EQ(f.schedule.Reported(Clip, f.At(std::chrono::seconds(write)), f.At(std::chrono::seconds(write))),
              TAsk::Nothing);
  if (platform::DirWatchReportsClose) {
    EXPECT_FALSE(f.schedule.NextLook());  // its close will be reported: no timer
  } else {
    // No close will be reported: it is looked at again, and again while it stays open.
    ASSERT_TRUE(f.schedule.NextLook());
    EXPECT_EQ(*f.schedule.NextLook(), f.At(11s));
    EXPECT_EQ(f.schedule.Look(f.At(11s)), TAsk::Nothing);
    ASSERT_TRUE(f.schedule.NextLook());
    EXPECT_EQ(*f.schedule.NextLook(), f.At(13s));
  }
  // Another file is not held up by it.
  EXPECT_EQ(f.schedule.Reported(Other, f.At(9s), f.At(9s)), TAsk::Run);
  f.files[Clip] = {FileWriter::Closed, 0ms};
  EXPECT_EQ(f.schedule.Reported(Clip, f.At(10s), f.At(10s)), TAsk::Run);
}

TEST(HotFolderSchedule, AFileWhoseWriterCannotBeSeenRunsAfterTwoQuietSeconds) {
  Fixture f;
  f.files[Clip] = {FileWriter::Unknown, 500ms};
  EXPECT_FALSE(f.Run(0s, 1s, {Clip}));
  // Changed 0.5 s before the run ended: looked at again 1.5 s later.
  ASSERT_TRUE(f.schedule.NextLook());
  EXPECT_EQ(*f.schedule.NextLook(), f.At(2500ms));
  f.files[Clip] = {FileWriter::Unknown, 700ms};  // the same change, seen later
  EXPECT_EQ(f.schedule.Reported(Clip, f.At(1200ms), f.At(1200ms)), TAsk::Nothing);
  EXPECT_EQ(*f.schedule.NextLook(), f.At(2500ms));
  EXPECT_EQ(f.schedule.Look(f.At(2s)), TAsk::Nothing);  // not due yet
  // It was written again meanwhile: it waits for its new quiet time.
  f.files[Clip] = {FileWriter::Unknown, 300ms};
  EXPECT_EQ(f.schedule.Look(f.At(2500ms)), TAsk::Nothing);
  ASSERT_TRUE(f.schedule.NextLook());
  EXPECT_EQ(*f.schedule.NextLook(), f.At(4200ms));
  // Quiet at last, and no report comes (a share reports no close): the timer asks.
  f.files[Clip] = {FileWriter::Unknown, 2s};
  EXPECT_EQ(f.schedule.Look(f.At(4200ms)), TAsk::Run);
  EXPECT_FALSE(f.schedule.NextLook());
}

TEST(HotFolderSchedule, AFileLeftInUseAndDoneByTheRunsEndIsOwedARun) {
  struct Case {
    const char* name;
    FileActivity activity;
    bool owed;
  } cases[] = {
      {"closed", {FileWriter::Closed, 0ms}, true},
      {"quiet long enough", {FileWriter::Unknown, 3s}, true},
      {"gone", {FileWriter::Unknown, std::nullopt}, true},
      {"still open", {FileWriter::Open, 0ms}, false},
      {"changed just now", {FileWriter::Unknown, 100ms}, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Fixture f;
    f.files[Clip] = c.activity;
    EXPECT_EQ(f.Run(0s, 1s, {Clip}), c.owed);
  }
}

TEST(HotFolderSchedule, AsksBeyondTheNamesKeptAreOwedAll) {
  Fixture f;
  f.schedule.RunStarted(f.At(0s));
  for (size_t i = 0; i <= THotFolderSchedule::NamesKept; ++i) {
    const std::u16string name = u"/src/f" + std::u16string(1, char16_t(u'A' + i % 26)) + std::u16string(i / 26, u'x');
    f.files[name] = {FileWriter::Open, 0ms};
    f.schedule.Reported(name, f.At(1s), f.At(1s));
  }
  // The one past the bound is not known by name: a run covers it.
  EXPECT_TRUE(f.schedule.RunEnded({}, f.At(2s)));
}

TEST(HotFolderSchedule, ANewWatchForgetsTheFilesOfTheOldOne) {
  Fixture f;
  f.files[Clip] = {FileWriter::Open, 0ms};
  EXPECT_FALSE(f.Run(0s, 1s, {Clip}));
  EXPECT_EQ(f.schedule.Armed(), TAsk::Run);
  EXPECT_EQ(f.schedule.Reported(Clip, f.At(2s), f.At(2s)), TAsk::Run);
}

TEST(FilesLeftInUse, TakesEachNamedFileBackToTheSource) {
  // Full paths as each system writes them.
#ifdef _WIN32
  const std::string src = "C:\\src", dst = "C:\\dst", sep = "\\";
#else
  const std::string src = "/src", dst = "/dst", sep = "/";
#endif
  const auto w = [](const std::string& text) { return std::u16string(text.begin(), text.end()); };
  struct Case {
    std::string output;
    std::vector<std::u16string> files;
  } cases[] = {
      {"ERROR : File In Use " + src + sep + "day" + sep + "clip.mxf : open for writing\n",
       {w(src + sep + "day" + sep + "clip.mxf")}},
      {"ERROR : File In Use " + dst + sep + "day" + sep + "clip.mxf : open for writing\n",
       {w(src + sep + "day" + sep + "clip.mxf")}},
      {"ERROR : File In Use day" + sep + "clip.mxf : open for writing\n", {w(src + sep + "day" + sep + "clip.mxf")}},
      {"2026/01/02 10:00:00 ERROR 32 (0x00000020) Copying File " + src + sep +
           "clip.mxf\n"
           "The process cannot access the file because it is being used by another process.\n",
       {w(src + sep + "clip.mxf")}},
      {"ERROR : Copying File " + dst + sep + "full.mxf : No space left on device\n", {}},
      {"ERROR : File In Use " + src + sep + "a.mxf : open for writing\nERROR : File In Use " + src + sep +
           "b.mxf : open for writing\n",
       {w(src + sep + "a.mxf"), w(src + sep + "b.mxf")}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.output);
    TMirrorFailures failures;
    failures.Feed(c.output);
    failures.Finish();
    EXPECT_EQ(FilesLeftInUse(failures, w(src), w(dst + sep)), c.files);
  }
}

#ifndef _WIN32

TEST(FileActivity, TellsAWriterAtWorkFromAClosedFile) {
  TempDir dir;
  const fs::path file = dir / "clip.mxf";
  WriteFile(file, "x");
  EXPECT_EQ(platform::FileActivityOf(file.u16string()).writer, FileWriter::Closed);
  const int fd = ::open(file.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(::write(fd, "y", 1), 1);
  const FileActivity writing = platform::FileActivityOf(file.u16string());
  EXPECT_EQ(writing.writer, FileWriter::Open);
  ASSERT_TRUE(writing.sinceChange);
  EXPECT_LT(*writing.sinceChange, 5s);
  ::close(fd);
  EXPECT_EQ(platform::FileActivityOf(file.u16string()).writer, FileWriter::Closed);
  EXPECT_FALSE(platform::FileActivityOf((dir / "missing").u16string()).sinceChange);
}

// Another user's file: the system does not tell whether it is being written.
TEST(FileActivity, AnotherUsersFileTellsNothingOfItsWriter) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root, to be another user than the file's owner";
  TempDir dir;
  const fs::path file = dir / "clip.mxf";
  WriteFile(file, "x");
  fs::permissions(dir.path(), fs::perms::all);
  ScopedUnprivileged nobody;
  ASSERT_TRUE(nobody.Active());
  const FileActivity activity = platform::FileActivityOf(file.u16string());
  EXPECT_EQ(activity.writer, FileWriter::Unknown);
  EXPECT_TRUE(activity.sinceChange);
}

TEST(DiskChecks, AnUnpluggedDiskIsToldFromItsBareMountPoint) {
  TempDir dir;
  const fs::path mount = dir / "backup", folder = mount / "projetos";
  auto disk = std::make_unique<Ext4Volume>(mount);
  if (!disk->Mounted()) GTEST_SKIP() << disk->Refusal();
  fs::create_directories(folder);
  EXPECT_TRUE(platform::IsMountPoint(mount.u16string()));
  EXPECT_FALSE(platform::IsMountPoint(folder.u16string()));
  EXPECT_TRUE(platform::IsMountPoint(u"/"));
  EXPECT_EQ(DiskMountPoint(folder.u16string()), mount.u16string());
  EXPECT_EQ(DiskMountPoint(mount.u16string()), mount.u16string());
  EXPECT_EQ(DiskMountPoint(dir.path().u16string()).find(dir.path().u16string()), std::u16string::npos);
  EXPECT_TRUE(DiskConnected(mount.u16string(), folder.u16string()));

  ASSERT_TRUE(disk->Unplug());
  fs::create_directories(folder);  // what a careless mirror would make on the system's disk
  EXPECT_FALSE(platform::IsMountPoint(mount.u16string()));
  EXPECT_FALSE(DiskConnected(mount.u16string(), folder.u16string()));
  EXPECT_FALSE(DiskConnected(mount.u16string(), mount.u16string()));
  // Nothing remembered, or a mount point that does not hold the folder: no guard.
  EXPECT_TRUE(DiskConnected(u"", folder.u16string()));
  EXPECT_TRUE(DiskConnected(mount.u16string(), dir.path().u16string()));
  // Shown again while unplugged, the bare folder does not replace what was remembered.
  EXPECT_EQ(DiskToRemember(mount.u16string(), folder.u16string()), mount.u16string());
  EXPECT_EQ(DiskToRemember(u"", folder.u16string()), DiskMountPoint(folder.u16string()));

  // Any disk mounted there again.
  disk.reset();
  fs::remove_all(mount);
  Ext4Volume other(mount);
  ASSERT_TRUE(other.Mounted());
  fs::create_directories(folder);
  EXPECT_TRUE(DiskConnected(mount.u16string(), folder.u16string()));
  EXPECT_EQ(DiskToRemember(mount.u16string(), folder.u16string()), mount.u16string());
}

#endif

}  // namespace
