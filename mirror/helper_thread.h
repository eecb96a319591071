// One thread that runs tasks handed to it, in order, while the caller goes on
// with its own work.
#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <thread>

namespace mirror {

class HelperThread {
 public:
  HelperThread() : thread_([this](std::stop_token stop) { Serve(stop); }) {}
  ~HelperThread() {
    {
      std::lock_guard<std::mutex> guard(lock_);
      thread_.request_stop();
    }
    wake_.notify_one();
  }
  HelperThread(const HelperThread&) = delete;
  HelperThread& operator=(const HelperThread&) = delete;

  // The task's result, or what it threw, comes through the future.
  template <class Task>
  auto Start(Task task) -> std::future<decltype(task())> {
    auto job = std::make_shared<std::packaged_task<decltype(task())()>>(std::move(task));
    std::future<decltype(task())> result = job->get_future();
    {
      std::lock_guard<std::mutex> guard(lock_);
      queue_.emplace_back([job] { (*job)(); });
    }
    wake_.notify_one();
    return result;
  }

 private:
  void Serve(std::stop_token stop) {
    for (;;) {
      std::function<void()> job;
      {
        std::unique_lock<std::mutex> guard(lock_);
        wake_.wait(guard, [&] { return stop.stop_requested() || !queue_.empty(); });
        if (queue_.empty()) return;
        job = std::move(queue_.front());
        queue_.pop_front();
      }
      job();
    }
  }

  std::mutex lock_;
  std::condition_variable wake_;
  std::deque<std::function<void()>> queue_;
  std::jthread thread_;  // last: started once the rest is ready, joined first
};

}  // namespace mirror
