// robocopy SOURCE DESTINATION [options]: the mirror tool that stands in for
// robocopy.exe where the system has none.
#include <iostream>
#include <string>
#include <vector>

#include "mirror/mirror.h"
#include "mirror/options.h"

#ifdef _WIN32
#include <filesystem>
#endif

namespace {

int Run(const std::vector<std::string>& args) {
  mirror::Options options;
  try {
    options = mirror::ParseOptions(args);
  } catch (const mirror::InvalidCommandLine& e) {
    std::cerr << e.what() << '\n';
    return 16;
  }
  try {
    mirror::Mirror run(options, std::cerr);
    const mirror::Summary summary = run.Run();
    mirror::PrintSummary(std::cout, options, summary);
    return summary.ExitCode();
  } catch (const mirror::FatalError& e) {
    std::cerr << e.what() << '\n';
    return 16;
  } catch (const std::exception& e) {
    std::cerr << "ERROR : " << e.what() << '\n';
    return 16;
  }
}

}  // namespace

#ifdef _WIN32
// The arguments as the system split them, in UTF-16, carried on in UTF-8.
int wmain(int argc, wchar_t** argv) {
  std::vector<std::string> args;
  for (int i = 1; i < argc; ++i) {
    const std::u8string text = std::filesystem::path(argv[i]).u8string();
    args.emplace_back(text.begin(), text.end());
  }
  return Run(args);
}
#else
int main(int argc, char** argv) { return Run(std::vector<std::string>(argv + 1, argv + argc)); }
#endif
