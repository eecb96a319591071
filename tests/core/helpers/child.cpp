// A stand-in for the mirror program in tests. Its second argument is a folder
// (the destination of a mirror line, ending in a delimiter); into it, it writes
//   argv.txt  every argument it received, one per line (UTF-8),
//   self.txt  the full path of its own executable,
//   fds.txt   (POSIX) each open descriptor and what it refers to,
//   starts.txt one line more for each start,
// then writes to its failure output (standard error; on Windows standard
// output, as robocopy.exe does) what output.txt there holds, and as many bytes
// of failure lines as flood.txt says, waits while a file named "hold" exists
// there, adds a line to ends.txt and exits with the code exit.txt holds (0
// without one); a signal.txt there makes it end by that signal instead. With
// TARNVEL_TEST_CHILD_FOLDER set, that folder takes the records and the hold
// file instead, so that the destination holds only what a test puts there.
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#else
#include <dirent.h>
#include <unistd.h>
#endif

namespace fs = std::filesystem;

namespace {

// The number a record file holds; fallback without one.
long long Number(const fs::path& file, long long fallback) {
  std::ifstream in(file);
  long long value = fallback;
  return in >> value ? value : fallback;
}

void WriteFailureOutput(const fs::path& folder) {
#ifdef _WIN32
  FILE* out = stdout;
#else
  FILE* out = stderr;
#endif
  std::ifstream in(folder / "output.txt", std::ios::binary);
  const std::string text((std::istreambuf_iterator<char>(in)), {});
  std::fwrite(text.data(), 1, text.size(), out);
  const std::string line = "ERROR : Copying File /flood/clip.mp4 : No space left on device\n";
  for (long long left = Number(folder / "flood.txt", 0); left > 0; left -= static_cast<long long>(line.size()))
    std::fwrite(line.data(), 1, line.size(), out);
  std::fflush(out);
}

int Run(const std::vector<fs::path>& args, const fs::path& self) {
  if (args.size() < 3) return 16;
  const char* recordFolder = std::getenv("TARNVEL_TEST_CHILD_FOLDER");
  const fs::path folder = recordFolder && *recordFolder ? fs::path(recordFolder) : args[2];
#ifndef _WIN32
  // Listed before this program opens anything of its own.
  std::string fds;
  if (DIR* dir = opendir("/proc/self/fd")) {
    while (dirent* entry = readdir(dir)) {
      const std::string name = entry->d_name;
      if (name == "." || name == ".." || std::stoi(name) == dirfd(dir)) continue;
      std::error_code ec;
      fds += name + " " + fs::read_symlink("/proc/self/fd/" + name, ec).string() + "\n";
    }
    closedir(dir);
  }
  std::ofstream(folder / "fds.txt", std::ios::binary) << fds;
#endif
  {
    std::ofstream out(folder / "argv.txt", std::ios::binary);
    for (const auto& arg : args) out << reinterpret_cast<const char*>(arg.u8string().c_str()) << "\n";
  }
  std::ofstream(folder / "self.txt", std::ios::binary) << reinterpret_cast<const char*>(self.u8string().c_str());
  std::ofstream(folder / "starts.txt", std::ios::binary | std::ios::app) << "started\n";
  WriteFailureOutput(folder);
  while (fs::exists(folder / "hold")) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  std::ofstream(folder / "ends.txt", std::ios::binary | std::ios::app) << "ended\n";
  if (const long long signal = Number(folder / "signal.txt", 0)) std::raise(static_cast<int>(signal));
  return static_cast<int>(Number(folder / "exit.txt", 0));
}

}  // namespace

#ifdef _WIN32
int wmain(int argc, wchar_t** argv) {
  wchar_t self[4096];
  const DWORD length = GetModuleFileNameW(nullptr, self, 4096);
  return Run(std::vector<fs::path>(argv, argv + argc), fs::path(std::wstring(self, length)));
}
#else
int main(int argc, char** argv) {
  return Run(std::vector<fs::path>(argv, argv + argc), fs::read_symlink("/proc/self/exe"));
}
#endif
