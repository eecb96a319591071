// A stand-in for the mirror program in tests. Its second argument is a folder
// (the destination of a mirror line, ending in a delimiter); into it, it writes
//   argv.txt  every argument it received, one per line (UTF-8),
//   self.txt  the full path of its own executable,
//   fds.txt   (POSIX) each open descriptor and what it refers to,
//   starts.txt one line more for each start,
// then waits while a file named "hold" exists there, adds a line to ends.txt
// and exits 0. With
// TARNVEL_TEST_CHILD_FOLDER set, that folder takes the records and the hold
// file instead, so that the destination holds only what a test puts there.
#include <chrono>
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
  while (fs::exists(folder / "hold")) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  std::ofstream(folder / "ends.txt", std::ios::binary | std::ios::app) << "ended\n";
  return 0;
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
