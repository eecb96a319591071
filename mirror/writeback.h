// Starts the destination's write-back while a run goes on, so that the one
// flush that makes the run durable at its end finds little left to write.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <system_error>
#include <thread>

#include "mirror/folder.h"

namespace mirror {

class Writeback {
 public:
  explicit Writeback(const Folder& destination);
  Writeback(const Writeback&) = delete;
  Writeback& operator=(const Writeback&) = delete;

  // After each file put in place; any thread.
  void Wrote(std::int64_t bytes);
  // Ends the flushing and returns the first error a flush met meanwhile: the
  // file system reports a failed write-back once, so the flush at the end may
  // no longer see it.
  std::error_code Stop();

 private:
  void Serve(std::stop_token stop);

  const Folder& destination_;
  std::atomic<std::int64_t> files_{0};
  std::atomic<std::int64_t> bytes_{0};
  std::mutex lock_;
  std::condition_variable_any tick_;
  std::error_code error_;  // guarded by lock_
  std::jthread thread_;    // last: started once the rest is ready
};

}  // namespace mirror
