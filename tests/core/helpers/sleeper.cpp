// A child for the process tests: waits until it is ended, at most ten minutes,
// so a test that fails half-way leaves nothing running for long.
#include <chrono>
#include <thread>

int main() {
  std::this_thread::sleep_for(std::chrono::minutes(10));
  return 3;
}
