// The application ending while workers report to the main thread: a wake that
// comes late must find nothing to wake, never a toolkit that is gone.
#include <QCoreApplication>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <thread>
#include <vector>

#include "funcoes/mainthread.h"
#include "toolkit/application.h"

namespace {

// Whether a worker reported while the toolkit destroyed itself, and whether
// the toolkit ran that report.
std::atomic<bool> ReportedWhileTheToolkitWent{false}, ReportRanInDyingToolkit{false};

// Runs inside the toolkit's destruction (a post routine): a worker reports now
// and the dying toolkit's events are dispatched for a while. Its wake must not
// reach them: the report stays queued until the queue is drained by hand.
void ReportWhileTheToolkitGoes() {
  std::atomic<bool> ran{false};
  std::thread worker([&] { Synchronize([&] { ran = true; }); });
  const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(200);
  while (!ran && std::chrono::steady_clock::now() < until) {
    QCoreApplication::sendPostedEvents();
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  ReportRanInDyingToolkit = ran.load();
  while (!ran) CheckSynchronize(5);
  worker.join();
  ReportedWhileTheToolkitWent = true;
}

}  // namespace

int main(int argc, char** argv) {
  {
    TApplication app(argc, argv);
    app.Initialize();
    qAddPostRoutine(ReportWhileTheToolkitGoes);
  }
  if (!ReportedWhileTheToolkitWent || ReportRanInDyingToolkit) {
    std::printf("FAIL: %s\n", ReportRanInDyingToolkit ? "a report made while the toolkit was destroyed woke it"
                                                      : "no report was made while the toolkit was destroyed");
    return 1;
  }

  constexpr int kRounds = 50, kWorkers = 3;
  for (int round = 0; round < kRounds; ++round) {
    std::atomic<bool> stop{false};
    std::atomic<int> reports{0}, finished{0};
    std::vector<std::thread> workers;
    {
      TApplication app(argc, argv);
      app.Initialize();
      for (int i = 0; i < kWorkers; ++i) {
        workers.emplace_back([&] {
          while (!stop) Synchronize([&] { ++reports; });
          ++finished;
        });
      }
      // A few reports through the event loop, then the application ends with
      // the workers in mid-report.
      while (reports < 3 * kWorkers) QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    stop = true;
    // No application now: the queue is drained here, as the core's own tests do.
    while (finished < kWorkers) CheckSynchronize(5);
    for (std::thread& worker : workers) worker.join();
  }
  std::printf("%d rounds ended with workers reporting\n", kRounds);
  return 0;
}
