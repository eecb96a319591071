// A child for the process tests: waits until it is ended, at most ten minutes,
// so a test that fails half-way leaves nothing running for long. Given a file
// path, it first writes its process id there.
#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>
#include <thread>
#ifdef _WIN32
#include <windows.h>
#else
#include <unistd.h>
#endif

int main(int argc, char** argv) {
  if (argc > 1) {
#ifdef _WIN32
    const unsigned long id = GetCurrentProcessId();
#else
    const long id = getpid();
#endif
    // Written whole under another name first: a reader never sees half of it.
    const std::string file = argv[1];
    std::ofstream(file + ".part") << id << "\n";
    std::rename((file + ".part").c_str(), file.c_str());
  }
  std::this_thread::sleep_for(std::chrono::minutes(10));
  return 3;
}
