// Lists folders before the walk reaches them, on threads of their own, so
// that the walk compares one folder while the next ones are being listed.
// The walk goes depth first: the work handed in last is taken up first, for
// it holds the folders the walk needs next. A walk that would wait for a
// listing under way lists the next folder itself meanwhile: with one thread
// fewer than the processors, every processor lists and none waits.
#pragma once

#include <algorithm>
#include <condition_variable>
#include <cstddef>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <utility>
#include <vector>

namespace mirror {

class ListAhead {
  struct Job;

 public:
  // One piece of work handed in: its result is taken once, by its owner.
  // Ending a ticket whose work has not started drops the work; one under
  // way is waited for, so the work never outlives what it was given.
  template <class Result>
  class Ticket {
   public:
    Ticket() = default;
    Ticket(Ticket&&) noexcept = default;
    Ticket& operator=(Ticket&&) noexcept = default;
    ~Ticket() {
      if (job_) job_->owner->Drop(*job_);
    }
    // The result, worked out here if no thread has started on it; rethrows
    // what the work threw.
    Result Take() {
      std::shared_ptr<Job> job = std::move(job_);
      job->owner->Finish(*job);
      if (job->failure) std::rethrow_exception(job->failure);
      return std::move(**static_cast<std::optional<Result>*>(job->result.get()));
    }

   private:
    friend class ListAhead;
    explicit Ticket(std::shared_ptr<Job> job) : job_(std::move(job)) {}
    std::shared_ptr<Job> job_;
  };

  // One thread fewer than the processors, the walk's own being the last.
  static size_t Threads() {
    const unsigned processors = std::thread::hardware_concurrency();
    return std::clamp<size_t>(processors > 1 ? processors - 1 : 1, 1, kMostThreads);
  }
  explicit ListAhead(size_t threads = Threads()) {
    for (size_t i = 0; i < threads; ++i) threads_.emplace_back([this](std::stop_token stop) { Serve(stop); });
  }
  // Results held for the walk at most: a wide tree is listed ahead only as
  // far as this, not whole into memory.
  static constexpr size_t kMostAhead = 256;

  ListAhead(const ListAhead&) = delete;
  ListAhead& operator=(const ListAhead&) = delete;

  template <class Work>
  auto Start(Work work) -> Ticket<decltype(work())> {
    using Result = decltype(work());
    auto job = std::make_shared<Job>();
    job->owner = this;
    auto result = std::make_shared<std::optional<Result>>();
    job->result = result;
    job->work = [result, work = std::move(work)] { result->emplace(work()); };
    {
      std::lock_guard<std::mutex> guard(lock_);
      waiting_.push_back(job);
    }
    wake_.notify_one();
    return Ticket<Result>(std::move(job));
  }

 private:
  enum class State { Waiting, Running, Done, Dropped };
  struct Job {
    ListAhead* owner = nullptr;
    State state = State::Waiting;  // guarded by the owner's lock
    std::function<void()> work;
    std::shared_ptr<void> result;
    std::exception_ptr failure;
  };
  // Listing is mostly the file system's work, which more threads than this
  // share rather than speed up.
  static constexpr size_t kMostThreads = 3;

  static void Run(Job& job) {
    try {
      job.work();
    } catch (...) {
      job.failure = std::current_exception();
    }
    job.work = nullptr;
  }

  // The job handed in last that is still waiting, or none; under the lock.
  std::shared_ptr<Job> Next() {
    while (!waiting_.empty()) {
      std::shared_ptr<Job> job = std::move(waiting_.back());
      waiting_.pop_back();
      if (job->state == State::Waiting) return job;  // else dropped, or taken up by its owner
    }
    return nullptr;
  }

  // Does a waiting job for its owner, who takes it later; entered and left under the lock.
  void Work(std::unique_lock<std::mutex>& guard, Job& job) {
    job.state = State::Running;
    ++ahead_;
    guard.unlock();
    Run(job);
    guard.lock();
    job.state = State::Done;
    done_.notify_all();
  }

  void Serve(std::stop_token stop) {
    std::unique_lock<std::mutex> guard(lock_);
    for (;;) {
      if (!wake_.wait(guard, stop, [&] { return !waiting_.empty() && ahead_ < kMostAhead; })) return;
      if (std::shared_ptr<Job> job = Next()) Work(guard, *job);
    }
  }

  // The job's work done, here if no thread has started it. While a thread
  // works on it, the jobs waiting are worked here.
  void Finish(Job& job) {
    std::unique_lock<std::mutex> guard(lock_);
    if (job.state == State::Waiting) {
      job.state = State::Running;
      guard.unlock();
      Run(job);
      guard.lock();
      job.state = State::Done;
      return;
    }
    while (job.state != State::Done && ahead_ < kMostAhead) {
      std::shared_ptr<Job> other = Next();
      if (!other) break;
      Work(guard, *other);
    }
    Collect(guard, job);
  }

  void Drop(Job& job) {
    std::unique_lock<std::mutex> guard(lock_);
    if (job.state == State::Waiting) {
      job.state = State::Dropped;
      return;
    }
    Collect(guard, job);
  }

  // Waits for a job a thread took up, which then no longer holds a place ahead.
  void Collect(std::unique_lock<std::mutex>& guard, Job& job) {
    done_.wait(guard, [&] { return job.state == State::Done; });
    --ahead_;
    guard.unlock();
    wake_.notify_all();
  }

  std::mutex lock_;
  std::condition_variable_any wake_;  // work waiting, or room ahead
  std::condition_variable done_;      // a job done
  std::vector<std::shared_ptr<Job>> waiting_;
  size_t ahead_ = 0;         // jobs taken up by the threads and not yet taken by their owners
  std::vector<std::jthread> threads_;  // last: started once the rest is ready
};

}  // namespace mirror
