// Starts the program it is given, with the arguments that follow, through the
// core's StartChild as the runner starts a mirror, then waits to be ended: a
// test ends it by force and looks for what became of the child.
#include <chrono>
#include <thread>

#include "funcoes/exceptions.h"
#include "funcoes/runner.h"
#include "platform/text.h"

int main(int argc, char** argv) {
  if (argc < 2) return 2;
  const WideString program = platform::FromUtf8(argv[1]);
  WideString line = u"\"" + program + u"\"";
  for (int i = 2; i < argc; ++i) line += u" \"" + platform::FromUtf8(argv[i]) + u"\"";
  try {
    platform::ChildProcess child = StartChild(program, line);
    std::this_thread::sleep_for(std::chrono::minutes(10));
  } catch (const EOSError&) {
    return 1;
  }
  return 0;
}
