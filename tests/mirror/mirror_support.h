// Helpers for the mirror tool's tests: start the tool, and read a tree into a
// comparable picture.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "funcoes/cmdline.h"
#include "platform/text.h"

extern char** environ;

namespace mirrortest {

namespace fs = std::filesystem;

struct Outcome {
  int exitCode = -1;
  std::string out, err;
};

// Starts `program` with `args` (argv[1..]), its output captured in files
// beside `scratch`, `env` ("NAME=value") added to the environment. Returns the
// child's pid.
inline pid_t Start(const std::string& program, const std::vector<std::string>& args, const fs::path& scratch,
                   std::vector<std::string> env = {}) {
  std::vector<std::string> all{program};
  all.insert(all.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& a : all) argv.push_back(a.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  const std::string out = scratch.string() + ".out", err = scratch.string() + ".err";
  posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  std::vector<char*> envp;
  for (std::string& e : env) envp.push_back(e.data());
  for (char** e = environ; *e != nullptr; ++e) envp.push_back(*e);  // the first of a name wins
  envp.push_back(nullptr);
  pid_t pid = -1;
  const int rc = posix_spawnp(&pid, program.c_str(), &actions, nullptr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  return rc == 0 ? pid : -1;
}

inline std::string Slurp(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

inline Outcome Finish(pid_t pid, const fs::path& scratch) {
  Outcome o;
  int status = 0;
  if (pid > 0 && waitpid(pid, &status, 0) == pid) {
    o.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  }
  o.out = Slurp(scratch.string() + ".out");
  o.err = Slurp(scratch.string() + ".err");
  return o;
}

// As Finish, but a child still running after `seconds` is killed (a run
// that would never end); its exit code is then 128 + SIGKILL.
inline Outcome FinishWithin(pid_t pid, const fs::path& scratch, int seconds) {
  for (int waited = 0; pid > 0; ++waited) {
    siginfo_t info{};
    if (waitid(P_PID, pid, &info, WEXITED | WNOHANG | WNOWAIT) == 0 && info.si_pid == pid) break;
    if (waited == seconds * 100) {
      kill(pid, SIGKILL);
      break;
    }
    usleep(10'000);
  }
  return Finish(pid, scratch);
}

inline Outcome Run(const std::string& program, const std::vector<std::string>& args, const fs::path& scratch,
                   std::vector<std::string> env = {}) {
  return Finish(Start(program, args, scratch, std::move(env)), scratch);
}

inline Outcome RunMirror(const std::vector<std::string>& args, const fs::path& scratch,
                         std::vector<std::string> env = {}) {
  return Run(ROBOCOPY_PATH, args, scratch, std::move(env));
}

// The tool started as user and group `id` (tests run as root): the program
// `setpriv` takes the ids and becomes the tool, so the pid is the tool's.
inline pid_t StartAs(unsigned id, const std::vector<std::string>& args, const fs::path& scratch,
                     std::vector<std::string> env = {}) {
  std::vector<std::string> all{"--reuid=" + std::to_string(id), "--regid=" + std::to_string(id), "--clear-groups",
                               ROBOCOPY_PATH};
  all.insert(all.end(), args.begin(), args.end());
  return Start("setpriv", all, scratch, std::move(env));
}

// The environment that loads the tests' fault shim (fault_shim.c) into the
// tool, with its settings; a sanitizer's runtime would otherwise refuse it.
inline std::vector<std::string> ShimEnv(std::vector<std::string> settings) {
  const char* asan = std::getenv("ASAN_OPTIONS");
  settings.push_back("LD_PRELOAD=" SHIM_PATH);
  settings.push_back("ASAN_OPTIONS=" + (asan ? std::string(asan) + ":" : std::string()) + "verify_asan_link_order=0");
  return settings;
}

// The arguments the program hands the tool: its own command line, split as
// the child receives it, without the program's name.
inline std::vector<std::string> ProgramArgs(const fs::path& source, const fs::path& destination, bool preserve) {
  const std::vector<WideString> line =
      SplitCommandLine(MirrorCommandLine(source.u16string(), destination.u16string(), preserve));
  std::vector<std::string> args;
  for (size_t i = 1; i < line.size(); ++i) args.push_back(platform::ToUtf8(line[i]));
  return args;
}

// What a tree holds, entry by entry: kind, size, a digest of the content and
// the modification time of files. The tool's own folder at the root, which
// holds its checksum list, is no part of the mirror and is left out.
inline std::map<std::string, std::string> Picture(const fs::path& root) {
  std::map<std::string, std::string> picture;
  std::error_code ec;
  if (!fs::exists(fs::symlink_status(root, ec))) return picture;
  for (auto it = fs::recursive_directory_iterator(root); it != fs::recursive_directory_iterator(); ++it) {
    const fs::path rel = fs::relative(it->path(), root);
    if (it.depth() == 0 && rel == ".tarnvel") {
      it.disable_recursion_pending();
      continue;
    }
    struct stat st;
    lstat(it->path().c_str(), &st);
    std::ostringstream line;
    if (S_ISLNK(st.st_mode)) {
      line << "link -> " << fs::read_symlink(it->path()).string();
    } else if (S_ISDIR(st.st_mode)) {
      line << "folder";
    } else {
      std::uint64_t digest = 14695981039346656037ull;
      std::ifstream in(it->path(), std::ios::binary);
      char buffer[1 << 16];
      while (in.read(buffer, sizeof buffer) || in.gcount() > 0) {
        for (std::streamsize i = 0; i < in.gcount(); ++i) {
          digest = (digest ^ static_cast<unsigned char>(buffer[i])) * 1099511628211ull;
        }
      }
      line << "file " << st.st_size << " bytes, digest " << std::hex << digest << std::dec << ", mtime "
           << st.st_mtim.tv_sec << "." << st.st_mtim.tv_nsec;
    }
    picture[rel.string()] = line.str();
  }
  return picture;
}

inline std::string Describe(const std::map<std::string, std::string>& a, const std::map<std::string, std::string>& b) {
  std::ostringstream out;
  for (const auto& [path, what] : a) {
    auto it = b.find(path);
    if (it == b.end())
      out << "  only in first: " << path << " (" << what << ")\n";
    else if (it->second != what)
      out << "  differs: " << path << ": " << what << " | " << it->second << "\n";
  }
  for (const auto& [path, what] : b) {
    if (!a.contains(path)) out << "  only in second: " << path << " (" << what << ")\n";
  }
  return out.str();
}

inline void SetTime(const fs::path& p, std::int64_t seconds) {
  const timespec times[2] = {{seconds, 0}, {seconds, 0}};
  utimensat(AT_FDCWD, p.c_str(), times, AT_SYMLINK_NOFOLLOW);
}

}  // namespace mirrortest
