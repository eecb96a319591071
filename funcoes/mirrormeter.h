// Measures the two trees of a running mirror on a thread of its own, so that
// the window shows the copy's progress without walking the trees itself.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <optional>
#include <thread>

#include "funcoes/funcoes.h"

// Both trees measured afresh, in one measurement.
struct MirrorSizes {
  int64_t source = 0;
  int64_t destination = 0;
};

// Measures both trees (FolderSize, sub-folders included; an empty root counts
// 0) over and over until stopped. After each measurement it pauses three times
// as long as the measurement took, and at least 10 ms, so that the measuring
// takes at most a quarter of one core from the copy.
class MirrorMeter {
 public:
  // Starts measuring at once.
  MirrorMeter(const WideString& source, const WideString& destination);
  // Stops.
  ~MirrorMeter();
  MirrorMeter(const MirrorMeter&) = delete;
  MirrorMeter& operator=(const MirrorMeter&) = delete;

  // The roots to measure from the next measurement on.
  void SetRoots(const WideString& source, const WideString& destination);
  // The latest complete measurement; empty until the first one ends.
  std::optional<MirrorSizes> Latest() const;
  // Ends the measuring, a walk under way at its next folder, and returns once
  // the worker has ended. Latest keeps its value. Calling it again does nothing.
  void Stop();

 private:
  void Measure();

  mutable std::mutex mutex_;
  std::condition_variable wake_;  // the worker's pause: ends early on a stop
  WideString source_, destination_;
  std::optional<MirrorSizes> latest_;
  std::atomic<bool> stopping_{false};
  std::thread worker_;
};
