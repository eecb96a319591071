#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "funcoes/funcoes.h"
#include "funcoes/mirrormeter.h"
#include "tempdir.h"

namespace fs = std::filesystem;
using testsupport::TempDir;
using testsupport::U;
using testsupport::WriteFile;

namespace {

// Polls until done holds; false after ten seconds (a loaded machine, a sanitizer).
bool Eventually(const std::function<bool()>& done) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return true;
}

bool Shows(const MirrorMeter& meter, int64_t source, int64_t destination) {
  const std::optional<MirrorSizes> sizes = meter.Latest();
  return sizes && sizes->source == source && sizes->destination == destination;
}

}  // namespace

TEST(MirrorMeter, MeasuresBothTreesAsTheyChange) {
  TempDir t;
  const fs::path source = t / "origem", destination = t / "destino";
  WriteFile(source / "a.mp4", std::string(300, 'a'));
  WriteFile(source / "sub" / "b.mp4", std::string(700, 'b'));
  WriteFile(source / ".hidden" / "c.mp4", std::string(5, 'c'));
  fs::create_directories(destination);

  MirrorMeter meter(U(source), U(destination));
  EXPECT_TRUE(Eventually([&] { return Shows(meter, 1000, 0); }));
  // The copy goes on: later measurements see it.
  WriteFile(destination / "a.mp4", std::string(300, 'a'));
  EXPECT_TRUE(Eventually([&] { return Shows(meter, 1000, 300); }));
  WriteFile(destination / "sub" / "b.mp4", std::string(700, 'b'));
  EXPECT_TRUE(Eventually([&] { return Shows(meter, 1000, 1000); }));
}

TEST(MirrorMeter, RootsSetMeanwhileAreMeasuredFromThenOn) {
  TempDir t;
  WriteFile(t / "one" / "f", std::string(10, 'x'));
  WriteFile(t / "two" / "deep" / "f", std::string(20, 'x'));
  struct Case {
    std::u16string source, destination;
    int64_t sourceBytes, destinationBytes;
  };
  // An empty root names no folder and a missing one holds nothing: both count 0.
  const std::vector<Case> cases{
      {U(t / "one"), U(t / "two"), 10, 20}, {U(t / "two"), U(t / "one"), 20, 10},    {u"", U(t / "two"), 0, 20},
      {U(t / "one"), u"", 10, 0},           {U(t / "missing"), U(t / "one"), 0, 10},
  };
  MirrorMeter meter(U(t / "missing"), u"");
  for (const Case& c : cases) {
    SCOPED_TRACE(fs::path(c.source).string() + " -> " + fs::path(c.destination).string());
    meter.SetRoots(c.source, c.destination);
    EXPECT_TRUE(Eventually([&] { return Shows(meter, c.sourceBytes, c.destinationBytes); }));
  }
}

TEST(MirrorMeter, StopEndsTheMeasuringAndKeepsTheLatest) {
  TempDir t;
  WriteFile(t / "origem" / "a", std::string(40, 'a'));
  fs::create_directories(t / "destino");
  MirrorMeter meter(U(t / "origem"), U(t / "destino"));
  ASSERT_TRUE(Eventually([&] { return Shows(meter, 40, 0); }));
  meter.Stop();
  WriteFile(t / "destino" / "a", std::string(40, 'a'));
  std::this_thread::sleep_for(std::chrono::milliseconds(100));  // ten pauses of an idle meter
  EXPECT_TRUE(Shows(meter, 40, 0));
  meter.Stop();  // a second stop, and the destructor's, do nothing
  EXPECT_TRUE(Shows(meter, 40, 0));
}

// Stopped at any moment, mid-walk included, the meter shows a whole measurement or none.
TEST(MirrorMeter, AStopMidWalkLeavesNoPartialSizes) {
  TempDir t;
  const fs::path source = t / "origem", destination = t / "destino";
  for (int folder = 0; folder < 200; ++folder) {
    const fs::path f = "pasta" + std::to_string(folder);
    for (int file = 0; file < 5; ++file) {
      WriteFile(source / f / ("clip" + std::to_string(file)), std::string(3, 's'));
      if (folder % 2 == 0) WriteFile(destination / f / ("clip" + std::to_string(file)), std::string(3, 'd'));
    }
  }
  const int64_t sourceBytes = FolderSize(U(source), true), destinationBytes = FolderSize(U(destination), true);
  ASSERT_EQ(sourceBytes, 3000);
  ASSERT_EQ(destinationBytes, 1500);
  for (int delayUs = 0; delayUs < 4000; delayUs += 200) {
    SCOPED_TRACE("stopped after " + std::to_string(delayUs) + " us");
    std::optional<MirrorSizes> sizes;
    {
      MirrorMeter meter(U(source), U(destination));
      std::this_thread::sleep_for(std::chrono::microseconds(delayUs));
      meter.Stop();
      sizes = meter.Latest();
    }
    if (sizes) {
      EXPECT_EQ(sizes->source, sourceBytes);
      EXPECT_EQ(sizes->destination, destinationBytes);
    }
  }
}
