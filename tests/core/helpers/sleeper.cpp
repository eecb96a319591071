// A child for the process tests: waits until it is ended, at most ten minutes,
// so a test that fails half-way leaves nothing running for long. With
// "--nameless" it first clears its process name, as any program may.
#include <chrono>
#include <cstring>
#include <thread>
#ifdef __linux__
#include <sys/prctl.h>
#endif

int main(int argc, char** argv) {
#ifdef __linux__
  if (argc > 1 && std::strcmp(argv[1], "--nameless") == 0) prctl(PR_SET_NAME, "", 0, 0, 0);
#endif
  std::this_thread::sleep_for(std::chrono::minutes(10));
  return 3;
}
