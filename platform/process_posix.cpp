#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <pthread.h>
#include <sys/prctl.h>
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
#include <utility>

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

void AllowForegroundHandOver() {}

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

bool ChildProcess::Terminate() {
  if (pid_ < 0 || ended_) return false;
  // The pid is still this child's: it is not reaped until Wait sees it end.
  if (pidfd_ >= 0) return syscall(SYS_pidfd_send_signal, pidfd_, SIGKILL, nullptr, 0) == 0;
  return kill(pid_, SIGKILL) == 0;
}

namespace {

[[noreturn]] void Raise(int code) { throw std::system_error(code, std::system_category(), "start"); }

// A descriptor, closed when destroyed unless taken.
struct Descriptor {
  int fd = -1;
  Descriptor() = default;
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  ~Descriptor() {
    if (fd >= 0) close(fd);
  }
  int Take() { return std::exchange(fd, -1); }
};

// Both ends of a close-on-exec pipe, each above the standard descriptors so
// that placing the child's 0, 1 and 2 cannot overwrite one of them.
void OpenPipe(Descriptor& read, Descriptor& write) {
  int ends[2];
  if (pipe2(ends, O_CLOEXEC) != 0) Raise(errno);
  read.fd = ends[0];
  write.fd = ends[1];
  for (Descriptor* end : {&read, &write})
    if (end->fd < 3) {
      const int moved = fcntl(end->fd, F_DUPFD_CLOEXEC, 3);
      if (moved < 0) Raise(errno);
      close(end->fd);
      end->fd = moved;
    }
}

// What the child needs, all prepared before the fork.
struct ChildSetup {
  const char* path;
  char* const* argv;
  int null;      // /dev/null, for stdin, stdout and (without a pipe) stderr
  int error;     // the write end of the output pipe, or -1
  int report;    // where a failed exec writes its errno
  pid_t parent;  // this process, as the child must find it still running
  int openMax;   // the descriptor limit, for kernels without close_range
};

void CloseFrom(int first, int last, int openMax) {
  if (first > last) return;
  if (syscall(SYS_close_range, static_cast<unsigned>(first), static_cast<unsigned>(last), 0u) == 0) return;
  for (int fd = first; fd <= last && fd < openMax; ++fd) close(fd);
}

// The child between fork and exec. Other threads of the parent may have held
// locks at the fork, so only async-signal-safe calls are made here.
[[noreturn]] void ExecChild(const ChildSetup& s) {
  // Every handler at its default, while all signals are still blocked.
  struct sigaction initial {};
  initial.sa_handler = SIG_DFL;
  for (int sig = 1; sig < NSIG; ++sig) sigaction(sig, &initial, nullptr);
  // The copy ends with this process. A parent that died before the request
  // took effect would never send it: then the copy does not start at all.
  if (prctl(PR_SET_PDEATHSIG, SIGTERM) != 0 || getppid() != s.parent) _exit(127);
  int code = 0;
  // With a sink, standard output joins standard error in the pipe, as a
  // console tool's output does on Windows: the copy's closing summary is read too.
  const int output = s.error >= 0 ? s.error : s.null;
  if (dup2(s.null, 0) < 0 || dup2(output, 1) < 0 || dup2(output, 2) < 0) code = errno;
  if (code == 0) {
    // Nothing of ours beyond the three standard descriptors reaches the
    // program, whatever other code in this process opened without close-on-exec.
    CloseFrom(3, s.report - 1, s.openMax);
    CloseFrom(s.report + 1, ~0u >> 1, s.openMax);
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    execve(s.path, s.argv, environ);
    code = errno;
  }
  while (write(s.report, &code, sizeof code) < 0 && errno == EINTR) {
  }
  _exit(127);
}

}  // namespace

ChildProcess StartChild(const std::u16string& program, const std::u16string&, const std::vector<std::u16string>& args,
                        OutputSink output) {
  const std::string path = ToUtf8(program);
  std::vector<std::string> native;
  for (const auto& arg : args) native.push_back(ToUtf8(arg));
  std::vector<char*> argv;
  for (auto& arg : native) argv.push_back(arg.data());
  argv.push_back(nullptr);

  Descriptor outputRead, outputWrite, reportRead, reportWrite, null;
  if (output) {
    OpenPipe(outputRead, outputWrite);
    // The loop that waits for the child reads only what is there.
    if (fcntl(outputRead.fd, F_SETFL, O_NONBLOCK) != 0) Raise(errno);
  }
  OpenPipe(reportRead, reportWrite);
  null.fd = open("/dev/null", O_RDWR | O_CLOEXEC);
  if (null.fd < 0) Raise(errno);
  const long openMax = sysconf(_SC_OPEN_MAX);
  const ChildSetup setup{path.c_str(),
                         argv.data(),
                         null.fd,
                         outputWrite.fd,
                         reportWrite.fd,
                         getpid(),
                         openMax > 0 && openMax < (1 << 30) ? static_cast<int>(openMax) : (1 << 20)};

  // Blocked across the fork, so no handler of ours runs in the child before
  // it has put every handler back to its default.
  sigset_t all, previous;
  sigfillset(&all);
  pthread_sigmask(SIG_SETMASK, &all, &previous);
  const pid_t pid = fork();
  const int forkError = errno;
  if (pid == 0) ExecChild(setup);
  pthread_sigmask(SIG_SETMASK, &previous, nullptr);
  if (pid < 0) Raise(forkError);

  // The report pipe closes without a word when the exec succeeds.
  close(reportWrite.Take());
  int code = 0;
  ssize_t n;
  while ((n = read(reportRead.fd, &code, sizeof code)) < 0 && errno == EINTR) {
  }
  if (n > 0) {
    while (waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
    }
    Raise(code != 0 ? code : ECHILD);
  }

  ChildProcess child;
  child.pid_ = pid;
  // Without a pidfd (an old kernel) the wait falls back to short sleeps.
  child.pidfd_ = static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
  child.output_ = outputRead.Take();
  child.sink_ = std::move(output);
  return child;
}

}  // namespace platform
