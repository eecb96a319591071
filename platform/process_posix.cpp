#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "platform/process.h"
#include "platform/text.h"

extern char** environ;

namespace platform {

std::u16string ExecutableFolder() {
  std::string buffer(4096, '\0');
  const ssize_t length = readlink("/proc/self/exe", buffer.data(), buffer.size());
  if (length <= 0) return {};
  buffer.resize(static_cast<size_t>(length));
  const size_t slash = buffer.rfind('/');
  return FromUtf8(slash == 0 ? std::string("/") : buffer.substr(0, slash));
}

std::u16string SystemFolder() { return {}; }

std::vector<std::u16string> PathEntries() {
  std::vector<std::u16string> entries;
  const char* path = std::getenv("PATH");
  if (!path) return entries;
  const std::string text = path;
  size_t start = 0;
  while (start <= text.size()) {
    const size_t colon = std::min(text.find(':', start), text.size());
    entries.push_back(FromUtf8(text.substr(start, colon - start)));
    start = colon + 1;
  }
  return entries;
}

std::u16string ProgramFileName(const std::u16string& name) { return name; }

bool IsProgramFile(const std::u16string& path) {
  const auto p = PathToUtf8(path);
  struct stat st {};
  return p && stat(p->c_str(), &st) == 0 && S_ISREG(st.st_mode) && access(p->c_str(), X_OK) == 0;
}

std::string SystemErrorText(int code) { return std::strerror(code); }

std::u16string ChildOutputText(const std::string& bytes) { return FromUtf8(bytes); }

ChildProcess::ChildProcess(ChildProcess&& other) noexcept
    : pid_(other.pid_),
      pidfd_(other.pidfd_),
      output_(other.output_),
      ended_(other.ended_),
      end_(other.end_),
      sink_(std::move(other.sink_)) {
  other.pid_ = -1;
  other.pidfd_ = -1;
  other.output_ = -1;
}

ChildProcess& ChildProcess::operator=(ChildProcess&& other) noexcept {
  if (this != &other) {
    Close();
    pid_ = other.pid_;
    pidfd_ = other.pidfd_;
    output_ = other.output_;
    ended_ = other.ended_;
    end_ = other.end_;
    sink_ = std::move(other.sink_);
    other.pid_ = -1;
    other.pidfd_ = -1;
    other.output_ = -1;
  }
  return *this;
}

void ChildProcess::Drain() {
  char buffer[65536];
  for (size_t taken = 0; output_ >= 0 && taken < 16 * sizeof buffer;) {
    const ssize_t n = read(output_, buffer, sizeof buffer);
    if (n > 0) {
      taken += static_cast<size_t>(n);
      if (sink_) sink_(std::string_view(buffer, static_cast<size_t>(n)));
    } else if (n < 0 && errno == EINTR) {
      continue;
    } else {
      // The end of the output, or a read the system refuses: nothing more comes.
      if (n == 0 || errno != EAGAIN) {
        close(output_);
        output_ = -1;
      }
      return;
    }
  }
}

ChildProcess::~ChildProcess() { Close(); }

bool ChildProcess::Wait(int milliseconds) {
  if (pid_ < 0 || ended_) return true;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
  for (;;) {
    Drain();
    int status = 0;
    const pid_t r = waitpid(pid_, &status, WNOHANG);
    if (r == pid_ || (r < 0 && errno != EINTR)) {
      ended_ = true;  // ended, or reaped by someone else: either way it is gone
      if (r == pid_) {
        end_.known = WIFEXITED(status) || WIFSIGNALED(status);
        end_.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 0;
        end_.signal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
      }
      // What it wrote last is in the pipe; a process it left behind may hold
      // the pipe open, so this takes what is there and waits for nothing.
      Drain();
      return true;
    }
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return false;
    pollfd p[2] = {{pidfd_, POLLIN, 0}, {output_, POLLIN, 0}};
    if (pidfd_ >= 0) {
      poll(p, 2, static_cast<int>(left.count()));
    } else if (output_ >= 0) {
      poll(p + 1, 1, static_cast<int>(std::min<long long>(left.count(), 1)));
    } else {
      std::this_thread::sleep_for(std::min(left, std::chrono::milliseconds(1)));
    }
  }
}

void ChildProcess::Close() {
  if (pid_ >= 0 && !ended_) {
    int status = 0;
    waitpid(pid_, &status, WNOHANG);
  }
  if (pidfd_ >= 0) close(pidfd_);
  if (output_ >= 0) close(output_);
  pid_ = -1;
  pidfd_ = -1;
  output_ = -1;
  ended_ = false;
}

namespace {

// Owns the spawn attributes and file actions for one start.
struct SpawnSetup {
  posix_spawn_file_actions_t actions;
  posix_spawnattr_t attributes;
  SpawnSetup() {
    posix_spawn_file_actions_init(&actions);
    posix_spawnattr_init(&attributes);
  }
  ~SpawnSetup() {
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
  }
};

[[noreturn]] void Raise(int code) { throw std::system_error(code, std::system_category(), "start"); }

// Both ends of a pipe, closed when destroyed unless taken.
struct Pipe {
  int read = -1, write = -1;
  ~Pipe() {
    if (read >= 0) close(read);
    if (write >= 0) close(write);
  }
};

}  // namespace

ChildProcess StartChild(const std::u16string& program, const std::u16string&, const std::vector<std::u16string>& args,
                        OutputSink output) {
  std::vector<std::string> native;
  for (const auto& arg : args) native.push_back(ToUtf8(arg));
  std::vector<char*> argv;
  for (auto& arg : native) argv.push_back(arg.data());
  argv.push_back(nullptr);

  Pipe pipe;
  if (output) {
    int ends[2];
    if (pipe2(ends, O_CLOEXEC) != 0) Raise(errno);
    pipe.read = ends[0];
    pipe.write = ends[1];
    // The loop that waits for the child reads only what is there.
    if (fcntl(pipe.read, F_SETFL, O_NONBLOCK) != 0) Raise(errno);
  }

  SpawnSetup setup;
  int err = 0;
  for (int fd = 0; fd <= 2 && err == 0; ++fd)
    err = fd == 2 && output
              ? posix_spawn_file_actions_adddup2(&setup.actions, pipe.write, fd)
              : posix_spawn_file_actions_addopen(&setup.actions, fd, "/dev/null", fd == 0 ? O_RDONLY : O_WRONLY, 0);
  // Nothing of ours beyond the three standard descriptors reaches the child,
  // whatever other code in this process opened without close-on-exec.
  if (err == 0) err = posix_spawn_file_actions_addclosefrom_np(&setup.actions, 3);
  // A clean signal state: nothing blocked, every handler at its default.
  sigset_t signals;
  sigemptyset(&signals);
  if (err == 0) err = posix_spawnattr_setsigmask(&setup.attributes, &signals);
  sigfillset(&signals);
  if (err == 0) err = posix_spawnattr_setsigdefault(&setup.attributes, &signals);
  if (err == 0) err = posix_spawnattr_setflags(&setup.attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
  if (err != 0) Raise(err);

  pid_t pid = -1;
  err = posix_spawn(&pid, ToUtf8(program).c_str(), &setup.actions, &setup.attributes, argv.data(), environ);
  if (err != 0) Raise(err);

  ChildProcess child;
  child.pid_ = pid;
  // Without a pidfd (an old kernel) the wait falls back to short sleeps.
  child.pidfd_ = static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
  child.output_ = pipe.read;
  pipe.read = -1;
  child.sink_ = std::move(output);
  return child;
}

}  // namespace platform
