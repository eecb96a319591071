// Time from starting the program to its main window shown, and its resident
// memory at that moment: the median of RUNS fresh processes (default 10).
//   tarnvel_startup_bench [RUNS]
// Run it offscreen (QT_QPA_PLATFORM=offscreen) or on a display (xvfb-run).
#include <QTest>
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fstream>
#include <spawn.h>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "app/startup.h"
#include "forms/UFrmTarnvel.h"
#include "toolkit/application.h"

extern char** environ;

namespace {

long long NowNs() {
  timespec ts{};
  clock_gettime(CLOCK_REALTIME, &ts);
  return ts.tv_sec * 1000000000LL + ts.tv_nsec;
}

long ResidentKb() {
  std::ifstream status("/proc/self/status");
  for (std::string line; std::getline(status, line);)
    if (line.rfind("VmRSS:", 0) == 0) return std::stol(line.substr(6));
  return -1;
}

// The program's start, then the moment its window is on the screen.
int Child(int argc, char** argv) {
  TApplication application(argc, argv);
  StartUp();
  FrmTarnvel->show();
  if (!QTest::qWaitForWindowExposed(FrmTarnvel)) return 1;
  std::printf("%lld %ld\n", NowNs(), ResidentKb());
  return 0;
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc > 1 && std::strcmp(argv[1], "--child") == 0) return Child(argc, argv);
  const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 10;
  std::vector<double> ms, mb, cpu;
  for (int i = 0; i < runs; ++i) {
    int out[2];
    if (pipe(out) != 0) return 1;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    char child[] = "--child";
    char* args[] = {argv[0], child, nullptr};
    pid_t pid = 0;
    const long long start = NowNs();
    const int spawned = posix_spawn(&pid, "/proc/self/exe", &actions, nullptr, args, environ);
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    if (spawned != 0) return 1;
    std::string text;
    char buffer[256];
    for (ssize_t n; (n = read(out[0], buffer, sizeof buffer)) > 0;) text.append(buffer, size_t(n));
    close(out[0]);
    int status = 0;
    rusage usage{};
    wait4(pid, &status, 0, &usage);
    // CPU time of the whole child (shown, then exit): stable on a loaded machine.
    cpu.push_back((usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1e3 +
                  (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e3);
    long long shown = 0;
    long rss = 0;
    if (std::sscanf(text.c_str(), "%lld %ld", &shown, &rss) != 2) {
      std::fprintf(stderr, "run %d: the window was not shown\n", i + 1);
      return 1;
    }
    ms.push_back((shown - start) / 1e6);
    mb.push_back(rss / 1024.0);
    std::printf("run %2d: %7.1f ms  %6.1f MB  %6.1f ms CPU\n", i + 1, ms.back(), mb.back(), cpu.back());
  }
  std::printf("median of %d: %.1f ms to the main window shown, %.1f MB resident, %.1f ms CPU per run\n", runs,
              Median(ms), Median(mb), Median(cpu));
  return 0;
}
