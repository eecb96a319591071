// Two runs on one destination (a hot-folder run and a click, two windows):
// the second waits for the first, then mirrors, and neither reports a failure
// that the other caused.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <iostream>
#include <map>
#include <sstream>
#include <thread>

#include "mirror_support.h"
#include "tempdir.h"

namespace {

using testsupport::TempDir;
using testsupport::WriteFile;
namespace fs = std::filesystem;

struct Events {
  std::vector<long long> creations;
  long long release = -1;  // the destination's lock given up
  long long exit = -1;
};

// The fault shim's EVENT_LOG, by process.
std::map<pid_t, Events> ReadEvents(const fs::path& log) {
  std::map<pid_t, Events> events;
  std::istringstream in(testsupport::ReadFile(log));
  pid_t pid;
  long long ns;
  std::string what;
  while (in >> pid >> ns >> what) {
    if (what == "create") events[pid].creations.push_back(ns);
    if (what == "release") events[pid].release = ns;
    if (what == "exit") events[pid].exit = ns;
  }
  return events;
}

TEST(MirrorLock, ASecondRunOnTheSameDestinationWaitsForTheFirst) {
  TempDir dir;
  const fs::path src = dir / "src", dst = dir / "dst", log = dir / "events.log";
  for (int i = 0; i < 2000; ++i) WriteFile(src / ("small" + std::to_string(i / 100)) / ("f" + std::to_string(i)), "x");
  for (int i = 0; i < 3; ++i) {
    std::ofstream big(src / ("big" + std::to_string(i) + ".mov"), std::ios::binary);
    const std::string block(1 << 20, static_cast<char>('a' + i));
    for (int mb = 0; mb < 100; ++mb) big.write(block.data(), block.size());
  }
  const auto args = mirrortest::ProgramArgs(src, dst, false);
  const auto env = mirrortest::ShimEnv({"EVENT_LOG=" + log.string()});
  const pid_t first = mirrortest::Start(ROBOCOPY_PATH, args, dir / "first", env);
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  const pid_t second = mirrortest::Start(ROBOCOPY_PATH, args, dir / "second", env);
  // Work for the second run: the first has listed the source's top folder by now.
  WriteFile(src / "late.mov", "late");
  ASSERT_GT(first, 0);
  ASSERT_GT(second, 0);
  const mirrortest::Outcome a = mirrortest::Finish(first, dir / "first");
  const mirrortest::Outcome b = mirrortest::Finish(second, dir / "second");
  EXPECT_EQ(a.exitCode, 1) << a.err;
  EXPECT_EQ(a.err.find("ERROR"), std::string::npos) << a.err;
  EXPECT_EQ(b.exitCode & ~(1 | 2), 0) << b.err;
  EXPECT_EQ(b.err.find("ERROR"), std::string::npos) << b.err;
  // The tool's own folder (its checksum list) is no part of the mirror.
  EXPECT_EQ(mirrortest::Run("diff", {"-r", "-x", ".tarnvel", src.string(), dst.string()}, dir / "diff").exitCode, 0);

  const std::map<pid_t, Events> events = ReadEvents(log);
  ASSERT_TRUE(events.contains(first));
  ASSERT_GE(events.at(first).exit, 0);
  // The lock goes with the destination's descriptor, a moment before the
  // exit: a loaded machine may let the second run copy in between.
  ASSERT_GE(events.at(first).release, 0);
  EXPECT_LE(events.at(first).release, events.at(first).exit);
  EXPECT_FALSE(events.at(first).creations.empty());
  EXPECT_LT(*std::max_element(events.at(first).creations.begin(), events.at(first).creations.end()),
            events.at(first).release);
  if (events.contains(second)) {
    const std::vector<long long>& copies = events.at(second).creations;
    std::cout << "the second run made " << copies.size() << " files\n";
    if (!copies.empty()) {
      EXPECT_GT(*std::min_element(copies.begin(), copies.end()), events.at(first).release)
          << "the second run made files while the first still ran";
    }
  }
}

}  // namespace
