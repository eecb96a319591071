#include "mirror/writeback.h"

#include <chrono>

namespace mirror {
namespace {

constexpr auto kTick = std::chrono::milliseconds(250);
// Below this much a flush costs more than it saves, and a small run keeps its
// one flush at the end.
constexpr std::int64_t kFlushFiles = 256;
constexpr std::int64_t kFlushBytes = 32 << 20;

}  // namespace

Writeback::Writeback(const Folder& destination)
    : destination_(destination), thread_([this](std::stop_token stop) { Serve(stop); }) {}

void Writeback::Wrote(std::int64_t bytes) {
  ++files_;
  bytes_ += bytes;
}

std::error_code Writeback::Stop() {
  thread_.request_stop();
  if (thread_.joinable()) thread_.join();
  std::lock_guard<std::mutex> guard(lock_);
  return error_;
}

void Writeback::Serve(std::stop_token stop) {
  std::unique_lock<std::mutex> guard(lock_);
  while (!tick_.wait_for(guard, stop, kTick, [&stop] { return stop.stop_requested(); })) {
    if (files_ < kFlushFiles && bytes_ < kFlushBytes) continue;
    files_ = 0;
    bytes_ = 0;
    guard.unlock();
    std::error_code error;
    try {
      destination_.Flush();
    } catch (const std::system_error& e) {
      error = e.code();
    }
    guard.lock();
    if (!error_) error_ = error;
  }
}

}  // namespace mirror
