// The application ending while workers report to the main thread: a wake that
// comes late must find nothing to wake, never a toolkit that is gone.
#include <QCoreApplication>
#include <atomic>
#include <cstdio>
#include <thread>
#include <vector>

#include "funcoes/mainthread.h"
#include "toolkit/application.h"

int main(int argc, char** argv) {
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
