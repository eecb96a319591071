// Folder monitor timings.
//   latency: from a file's creation to its OnFolderChange on the main thread,
//            p50 and p99 over 1,000 files, one at a time.
//   burst:   10,000 files created while the worker is held in its first
//            hand-off; how many reach OnFolderChange, how often OnChangesLost
//            stood for the rest (a flood past the batch bound, or the
//            platform's overflow), and the same seen through a second handle
//            read the same way.
// Usage: folder_monitor_bench [folder]   (default: a new folder in the temp folder)
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "folder_monitor/FolderMon.h"
#include "funcoes/mainthread.h"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

void Create(const fs::path& p, const std::string& content) { std::ofstream(p, std::ios::binary) << content; }

bool IsProbe(const WideString& name) { return name.find(u"probe") != WideString::npos; }

// Writes probe files until the monitor reports one: its worker is then waiting.
void WaitUntilWatching(const fs::path& dir, bool& watching) {
  for (int k = 0; !watching && k < 200; ++k) {
    Create(dir / ("probe" + std::to_string(k)), "");
    const auto end = Clock::now() + std::chrono::milliseconds(100);
    while (!watching && Clock::now() < end) CheckSynchronize(5);
  }
}

void Latency(const fs::path& dir) {
  TFolderMon mon;
  bool watching = false, delivered = false;
  Clock::time_point arrived;
  mon.SetFolder(dir.u16string());
  mon.SetMonitoredChanges({ctFileName});
  mon.SetOnFolderChange([&](TFolderMon*, TFolderItemInfo item) {
    if (IsProbe(item.Name)) {
      watching = true;
    } else {
      arrived = Clock::now();
      delivered = true;
    }
  });
  mon.Activate();
  WaitUntilWatching(dir, watching);
  std::vector<double> micros;
  for (int i = 0; i < 1000; ++i) {
    delivered = false;
    const auto start = Clock::now();
    Create(dir / ("lat" + std::to_string(i)), "");
    const auto deadline = start + std::chrono::seconds(5);
    while (!delivered && Clock::now() < deadline) CheckSynchronize(50);
    if (delivered) micros.push_back(std::chrono::duration<double, std::micro>(arrived - start).count());
  }
  std::sort(micros.begin(), micros.end());
  auto at = [&](double q) { return micros.empty() ? 0.0 : micros[size_t(q * (micros.size() - 1))]; };
  std::printf("latency: %zu of 1000 delivered, p50 %.0f us, p99 %.0f us, max %.0f us\n", micros.size(), at(0.5),
              at(0.99), micros.empty() ? 0.0 : micros.back());
}

// Reads a second handle like the worker does: one batch, then nothing until the
// burst is over, then everything left; counts records and lost-changes batches.
struct RawReader {
  platform::DirWatchHandle handle;
  std::atomic<bool> firstBatch{false}, burstOver{false}, done{false};
  std::atomic<long> records{0}, lostBatches{0};
  std::thread thread;

  int error = 0;
  RawReader(const fs::path& dir, std::uint32_t f) : handle(platform::OpenDirWatch(dir.u16string(), false, f, error)) {
    thread = std::thread([this] { Run(); });
  }
  void Run() {
    while (!done) {
      const platform::DirReadResult batch = platform::ReadDirChanges(handle);
      if (batch.status == platform::DirReadStatus::Failed) break;
      if (batch.status == platform::DirReadStatus::ChangesLost) ++lostBatches;
      for (const platform::DirChange& change : batch.changes) {
        if (change.name.rfind(u"end", 0) == 0)
          done = true;
        else if (change.name.rfind(u"probe", 0) != 0)
          ++records;
      }
      firstBatch = true;
      while (!burstOver) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
  }
};

void Burst(const fs::path& dir, const char* label, TChangeTypes changes, const std::string& content) {
  TFolderMon mon;
  bool watching = false;
  long delivered = 0, lost = 0;
  mon.SetFolder(dir.u16string());
  mon.SetMonitoredChanges(changes);
  mon.SetOnFolderChange([&](TFolderMon*, TFolderItemInfo item) {
    if (IsProbe(item.Name))
      watching = true;
    else if (item.Name.rfind(u"end", 0) != 0)
      ++delivered;
  });
  mon.SetOnChangesLost([&](TFolderMon*) { ++lost; });
  mon.Activate();
  RawReader raw(dir, NotifyFilterFor(changes));
  WaitUntilWatching(dir, watching);
  while (!raw.firstBatch) Create(dir / "probe-raw", "");
  // Drain the probes, then let the worker take the burst's first record and hold it.
  for (auto end = Clock::now() + std::chrono::milliseconds(300); Clock::now() < end;) CheckSynchronize(5);
  delivered = lost = 0;
  const auto start = Clock::now();
  for (int i = 0; i < 10000; ++i) Create(dir / ("b" + std::to_string(i)), content);
  const double createMs = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
  raw.burstOver = true;
  // Deliver everything that comes; stop after a quiet second.
  auto quietSince = Clock::now();
  long last = -1;
  while (Clock::now() - quietSince < std::chrono::seconds(1)) {
    CheckSynchronize(20);
    if (delivered + lost != last) {
      last = delivered + lost;
      quietSince = Clock::now();
    }
  }
  const double drainMs = std::chrono::duration<double, std::milli>(Clock::now() - start).count() - createMs - 1000;
  for (int k = 0; !raw.done && k < 500; ++k) {
    Create(dir / ("end" + std::to_string(k)), "");
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    CheckSynchronize(0);
  }
  raw.thread.join();
  platform::CloseDirWatch(raw.handle);
  std::printf(
      "burst %s: 10000 files created in %.0f ms; %ld records delivered to OnFolderChange and %ld "
      "OnChangesLost (%.0f ms after the last creation); second handle: %ld records, %ld lost-changes batches "
      "(lost changes %s)\n",
      label, createMs, delivered, lost, drainMs, raw.records.load(), raw.lostBatches.load(),
      raw.lostBatches ? "seen" : "not seen");
}

}  // namespace

int main(int argc, char** argv) {
  IsMainThread();
  fs::path root = argc > 1 ? fs::path(argv[1])
                           : fs::temp_directory_path() / ("tarnvel-bench-" + std::to_string(std::random_device{}()));
  auto fresh = [&](const char* name) {
    fs::path dir = root / name;
    fs::create_directories(dir);
    return dir;
  };
  Latency(fresh("latency"));
  Burst(fresh("burst-names"), "[ctFileName], empty files", {ctFileName}, "");
  Burst(fresh("burst-59"), "set 59, 1-byte files", TChangeTypes(59), "x");
  std::error_code ec;
  fs::remove_all(root, ec);
  return 0;
}
