#include "funcoes/mainthread.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <exception>
#include <mutex>
#include <thread>

namespace {

// One queued call; it lives on the stack of the worker that waits for it.
struct PendingCall {
  const std::function<void()>* fn;
  bool done = false;
  std::exception_ptr error;
};

struct CallQueue {
  std::mutex lock;
  std::condition_variable arrived;   // main thread: something was queued
  std::condition_variable finished;  // workers: a call has run
  std::deque<PendingCall*> calls;
  std::function<void()> wake;
  std::atomic<std::thread::id> mainThread{};
};

// Never destroyed: a detached worker may still wait in it while the process exits.
CallQueue& Queue() {
  static CallQueue* queue = new CallQueue;
  return *queue;
}

}  // namespace

bool IsMainThread() {
  auto& q = Queue();
  std::thread::id expected{};
  const auto self = std::this_thread::get_id();
  return q.mainThread.compare_exchange_strong(expected, self) || expected == self;
}

void SetWakeMainThread(std::function<void()> wake) {
  IsMainThread();
  auto& q = Queue();
  std::lock_guard<std::mutex> guard(q.lock);
  q.wake = std::move(wake);
}

void Synchronize(const std::function<void()>& fn) {
  if (IsMainThread()) {
    fn();
    return;
  }
  auto& q = Queue();
  PendingCall call{&fn};
  {
    std::lock_guard<std::mutex> guard(q.lock);
    q.calls.push_back(&call);
    // Under the lock: once SetWakeMainThread(nullptr) has returned, no wake
    // is under way, so the application may end its event loop's objects.
    if (q.wake) q.wake();
  }
  q.arrived.notify_one();
  std::unique_lock<std::mutex> guard(q.lock);
  q.finished.wait(guard, [&] { return call.done; });
  if (call.error) std::rethrow_exception(call.error);
}

bool CheckSynchronize(int timeoutMs) {
  if (!IsMainThread()) return false;
  auto& q = Queue();
  std::unique_lock<std::mutex> guard(q.lock);
  if (q.calls.empty() && timeoutMs > 0)
    q.arrived.wait_for(guard, std::chrono::milliseconds(timeoutMs), [&] { return !q.calls.empty(); });
  // Only what is queued now: a busy worker queues again as soon as it is
  // released and must not keep the main thread here for ever.
  size_t count = q.calls.size();
  bool ran = false;
  while (count-- > 0 && !q.calls.empty()) {
    PendingCall* call = q.calls.front();
    q.calls.pop_front();
    guard.unlock();
    // A routine may pump the queue itself (a nested message loop): the lock is not held here.
    try {
      (*call->fn)();
    } catch (...) {
      call->error = std::current_exception();
    }
    ran = true;
    guard.lock();
    call->done = true;
    q.finished.notify_all();
  }
  return ran;
}
