// Lists folders before the walk reaches them, on two threads of their own, so
// that the walk compares one folder while the next ones are being listed.
// The walk goes depth first: the work handed in last is taken up first, for
// it holds the folders the walk needs next.
#pragma once

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

  ListAhead() {
    for (std::jthread& t : threads_) t = std::jthread([this](std::stop_token stop) { Serve(stop); });
  }
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
  // Results held for the walk at most: a wide tree is listed ahead only as
  // far as this, not whole into memory.
  static constexpr size_t kMostAhead = 256;

  static void Run(Job& job) {
    try {
      job.work();
    } catch (...) {
      job.failure = std::current_exception();
    }
    job.work = nullptr;
  }

  void Serve(std::stop_token stop) {
    std::unique_lock<std::mutex> guard(lock_);
    for (;;) {
      if (!wake_.wait(guard, stop, [&] { return !waiting_.empty() && ahead_ < kMostAhead; })) return;
      std::shared_ptr<Job> job = std::move(waiting_.back());
      waiting_.pop_back();
      if (job->state != State::Waiting) continue;  // dropped, or taken up by its owner
      job->state = State::Running;
      ++ahead_;
      guard.unlock();
      Run(*job);
      guard.lock();
      job->state = State::Done;
      done_.notify_all();
    }
  }

  // The job's work done, here if no thread has started it.
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
  std::jthread threads_[2];  // last: started once the rest is ready, joined first
};

}  // namespace mirror
