#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>

#include "funcoes/exceptions.h"
#include "funcoes/mainthread.h"

namespace {

// Runs the main thread's side until done is set (or a deadline, so a fault shows as a failure, not a hang).
template <class Done>
bool DrainUntil(Done done) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (!done() && std::chrono::steady_clock::now() < deadline) CheckSynchronize(20);
  return done();
}

class MainThreadTest : public ::testing::Test {
 protected:
  void SetUp() override { SetWakeMainThread(nullptr); }
  void TearDown() override { SetWakeMainThread(nullptr); }
};

TEST_F(MainThreadTest, WorkerCallRunsOnMainThreadAndCarriesItsOutcomeBack) {
  struct Case {
    const char* name;
    bool raise;
  };
  for (const Case& c : {Case{"returns", false}, Case{"raises", true}}) {
    SCOPED_TRACE(c.name);
    const auto mainId = std::this_thread::get_id();
    std::thread::id ranOn;
    std::atomic<bool> workerDone{false};
    std::string caught = "nothing";
    bool ranBeforeWorkerWentOn = false;
    bool ran = false;
    std::thread worker([&] {
      try {
        Synchronize([&] {
          ranOn = std::this_thread::get_id();
          ran = true;
          if (c.raise) throw Exception("from the handler");
        });
        ranBeforeWorkerWentOn = ran;
      } catch (const Exception& e) {
        caught = e.what();
        ranBeforeWorkerWentOn = ran;
      }
      workerDone = true;
    });
    ASSERT_TRUE(DrainUntil([&] { return workerDone.load(); }));
    worker.join();
    EXPECT_EQ(ranOn, mainId);
    EXPECT_TRUE(ranBeforeWorkerWentOn);
    EXPECT_EQ(caught, c.raise ? "from the handler" : "nothing");
  }
}

TEST_F(MainThreadTest, OnMainThreadRunsAtOnceAndQueueStaysEmpty) {
  bool ran = false;
  Synchronize([&] { ran = true; });
  EXPECT_TRUE(ran);
  EXPECT_FALSE(CheckSynchronize(0));
  EXPECT_THROW(Synchronize([] { throw Exception("direct"); }), Exception);
}

TEST_F(MainThreadTest, OtherThreadsNeitherDrainNorCountAsMain) {
  bool drained = true, isMain = true;
  std::thread other([&] {
    drained = CheckSynchronize(0);
    isMain = IsMainThread();
  });
  other.join();
  EXPECT_FALSE(drained);
  EXPECT_FALSE(isMain);
  EXPECT_TRUE(IsMainThread());
}

TEST_F(MainThreadTest, WakeHookIsCalledForEachQueuedCall) {
  std::atomic<int> wakes{0};
  SetWakeMainThread([&] { ++wakes; });
  std::atomic<int> done{0};
  std::thread worker([&] {
    for (int i = 0; i < 3; ++i) Synchronize([] {});
    done = 1;
  });
  ASSERT_TRUE(DrainUntil([&] { return done.load() == 1; }));
  worker.join();
  EXPECT_EQ(wakes.load(), 3);
}

// The application removes its hook before it takes down what the hook wakes:
// once SetWakeMainThread(nullptr) has returned, a wake that was under way has
// ended, and no report made afterwards calls the old hook.
TEST_F(MainThreadTest, RemovedHookIsNeitherRunningNorCalledAgain) {
  std::atomic<int> running{0}, callsAfterRemoval{0};
  std::atomic<bool> woken{false}, removed{false}, stop{false}, finished{false};
  SetWakeMainThread([&] {
    ++running;
    if (removed) ++callsAfterRemoval;
    woken = true;
    // Long enough for the main thread to remove the hook meanwhile.
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    --running;
  });
  std::thread worker([&] {
    while (!stop) Synchronize([] {});
    finished = true;
  });
  while (!woken) std::this_thread::yield();
  SetWakeMainThread(nullptr);
  removed = true;
  EXPECT_EQ(running.load(), 0);
  // The worker keeps reporting for a while without a hook.
  for (int i = 0; i < 20; ++i) CheckSynchronize(5);
  stop = true;
  ASSERT_TRUE(DrainUntil([&] { return finished.load(); }));
  worker.join();
  EXPECT_EQ(callsAfterRemoval.load(), 0);
}

// A routine that pumps the queue itself (a nested message loop) lets another
// worker's call run inside it instead of deadlocking.
TEST_F(MainThreadTest, NestedPumpRunsOtherWorkersCalls) {
  std::atomic<int> finished{0};
  std::atomic<bool> insideFirst{false};
  bool secondRanNested = false;
  std::thread first([&] {
    Synchronize([&] {
      insideFirst = true;
      DrainUntil([&] { return secondRanNested; });
      insideFirst = false;
    });
    ++finished;
  });
  std::thread second([&] {
    // Queued only once the first call is running on the main thread.
    while (!insideFirst) std::this_thread::yield();
    Synchronize([&] { secondRanNested = insideFirst.load(); });
    ++finished;
  });
  ASSERT_TRUE(DrainUntil([&] { return finished.load() == 2; }));
  first.join();
  second.join();
  EXPECT_TRUE(secondRanNested);
}

}  // namespace
