// The parts the walk lists and finds entries with: the threads that list
// folders ahead of it, and the index that finds a destination's entry by name.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "mirror/list_ahead.h"
#include "mirror/name_index.h"

namespace {

using mirror::ListAhead;

// A gate that work waits at until opened; a wait gives up after a while, so
// that a walk that never opens it fails instead of hanging.
class Gate {
 public:
  void Open() {
    {
      std::lock_guard<std::mutex> guard(lock_);
      open_ = true;
    }
    opened_.notify_all();
  }
  bool Wait() {
    std::unique_lock<std::mutex> guard(lock_);
    return opened_.wait_for(guard, std::chrono::seconds(20), [&] { return open_; });
  }

 private:
  std::mutex lock_;
  std::condition_variable opened_;
  bool open_ = false;
};

TEST(ListAhead, EachTicketGivesItsOwnWorksResultOnceWhoeverRanIt) {
  for (const size_t threads : {1, 2, 3}) {
    SCOPED_TRACE(threads);
    ListAhead ahead(threads);
    std::vector<std::atomic<int>> runs(600);
    std::vector<ListAhead::Ticket<int>> tickets;
    for (int i = 0; i < 600; ++i) {
      tickets.push_back(ahead.Start([i, &runs] {
        ++runs[i];
        return i * 7;
      }));
    }
    // Taken out of the order they were handed in, as the walk takes a deep
    // tree's folders; more of them than are ever held ahead.
    for (int i = 0; i < 600; i += 2) EXPECT_EQ(tickets[i].Take(), i * 7);
    for (int i = 599; i > 0; i -= 2) EXPECT_EQ(tickets[i].Take(), i * 7);
    for (int i = 0; i < 600; ++i) EXPECT_EQ(runs[i], 1) << i;
  }
}

TEST(ListAhead, ATakerWhoseWorkIsUnderWayWorksTheWaitingJobsMeanwhile) {
  ListAhead ahead(1);
  Gate started, released;
  // The one thread is held by the first job until the second has run: only
  // the taker of the first can run the second.
  ListAhead::Ticket<bool> first = ahead.Start([&] {
    started.Open();
    return released.Wait();
  });
  ASSERT_TRUE(started.Wait());
  std::thread::id ranOn;
  ListAhead::Ticket<int> second = ahead.Start([&] {
    ranOn = std::this_thread::get_id();
    released.Open();
    return 2;
  });
  EXPECT_TRUE(first.Take()) << "the waiting job was not run while the first was under way";
  EXPECT_EQ(ranOn, std::this_thread::get_id());
  EXPECT_EQ(second.Take(), 2);
}

TEST(ListAhead, WhatTheWorkThrowsIsThrownByTake) {
  ListAhead ahead(1);
  Gate started, released;
  ListAhead::Ticket<int> blocker = ahead.Start([&]() -> int {
    started.Open();
    released.Wait();
    throw std::runtime_error("on the thread");
  });
  ASSERT_TRUE(started.Wait());
  // Run by the taker while the thread is busy, and by the taker directly.
  ListAhead::Ticket<int> helped = ahead.Start([&]() -> int {
    released.Open();
    throw std::runtime_error("helped");
  });
  ListAhead::Ticket<int> direct = ahead.Start([]() -> int { throw std::runtime_error("direct"); });
  const auto message = [](ListAhead::Ticket<int>& t) {
    try {
      t.Take();
    } catch (const std::runtime_error& e) {
      return std::string(e.what());
    }
    return std::string("nothing thrown");
  };
  EXPECT_EQ(message(blocker), "on the thread");
  EXPECT_EQ(message(helped), "helped");
  EXPECT_EQ(message(direct), "direct");
}

TEST(ListAhead, WorkOfATicketEndedBeforeItStartedNeverRuns) {
  ListAhead ahead(1);
  Gate started, released;
  std::atomic<bool> ran{false};
  {
    ListAhead::Ticket<int> blocker = ahead.Start([&] {
      started.Open();
      released.Wait();
      return 1;
    });
    ASSERT_TRUE(started.Wait());
    {
      ListAhead::Ticket<int> dropped = ahead.Start([&] { return ran = true, 2; });
    }
    released.Open();
    EXPECT_EQ(blocker.Take(), 1);
  }
  // Later work still runs: the dropped job holds no place.
  EXPECT_EQ(ahead.Start([] { return 3; }).Take(), 3);
  EXPECT_FALSE(ran);
}

TEST(NameIndex, FindsEachNameAndNoOther) {
  std::vector<mirror::Entry> entries;
  for (int i = 0; i < 3000; ++i) entries.push_back({.name = "file" + std::to_string(i) + ".dat"});
  entries.push_back({.name = ""});
  entries.push_back({.name = "Clip.mov"});
  entries.push_back({.name = "clip.mov"});
  entries.push_back({.name = "clip.mov"});  // a second of a name: the first stands for it
  const mirror::NameIndex index(entries);
  for (size_t i = 0; i < 3000; ++i) EXPECT_EQ(index.Find(entries[i].name), i);
  EXPECT_EQ(index.Find(""), 3000u);
  EXPECT_EQ(index.Find("Clip.mov"), 3001u);
  EXPECT_EQ(index.Find("clip.mov"), 3002u);
  EXPECT_EQ(index.Get("clip.mov"), &entries[3002]);
  for (const char* absent : {"CLIP.MOV", "file3000.dat", "file1.da", "file1.dat ", "x"}) {
    EXPECT_EQ(index.Find(absent), mirror::NameIndex::npos) << absent;
    EXPECT_EQ(index.Get(absent), nullptr) << absent;
  }
  const std::vector<mirror::Entry> none;
  EXPECT_EQ(mirror::NameIndex(none).Find("file1.dat"), mirror::NameIndex::npos);
}

}  // namespace
