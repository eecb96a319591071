// Starting a child program and waiting for it, and the facts the program
// search needs from the system.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

// The folder of the running executable, without a trailing delimiter.
std::u16string ExecutableFolder();
// Windows: the system folder; elsewhere empty.
std::u16string SystemFolder();
// The entries of the PATH variable, in order, as written (Windows: without the
// double quotes an entry may be written in).
std::vector<std::u16string> PathEntries();
// The file name a program started by this name has: on Windows ".exe" is
// added when the name has no extension.
std::u16string ProgramFileName(const std::u16string& name);
// True for an existing file (not a folder) that this user may execute.
bool IsProgramFile(const std::u16string& path);
// The system's message text for an error code.
std::string SystemErrorText(int code);

// Lets another process of this user bring its window in front of this
// one's (Windows AllowSetForegroundWindow); nothing elsewhere.
void AllowForegroundHandOver();

// How a child ended, as far as the system told.
struct ChildEnd {
  bool known = false;  // false while it runs, or when the system could not tell
  int exitCode = 0;    // its exit code (POSIX: the exit status)
  int signal = 0;      // POSIX: the signal that ended it; 0 when it exited
};

// Takes the child's output as it is read, in pieces of any size.
using OutputSink = std::function<void(std::string_view)>;

// The text of a child's output line, from the bytes it wrote: UTF-8 on POSIX,
// the OEM code page (what console tools write into a pipe) on Windows.
std::u16string ChildOutputText(const std::string& bytes);

// A started child. Move-only; the destructor closes what Close would.
class ChildProcess {
 public:
  ChildProcess() = default;
  ChildProcess(ChildProcess&& other) noexcept;
  ChildProcess& operator=(ChildProcess&& other) noexcept;
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;
  ~ChildProcess();

  // Waits at most milliseconds (0 to 10) for the child to end; true once it
  // has ended. A wait the system refuses counts as the end, so a caller that
  // loops on it can never hang. Output waiting in the pipe (see StartChild)
  // goes to the sink meanwhile, so the child never blocks on a full pipe.
  bool Wait(int milliseconds);
  // How the child ended, once Wait has returned true.
  ChildEnd End() const { return end_; }
  // Releases the child: the handles on Windows; on POSIX the child is reaped
  // if it has ended. The child itself is left running.
  void Close();
  // Ends this child at once (POSIX SIGKILL, Windows TerminateProcess with
  // exit code 0), and nothing else: it is addressed by the handle, or by a pid
  // that cannot have been reused because the child is not reaped yet. False
  // once it has ended or been closed, or when the system refuses. Does not wait.
  bool Terminate();

 private:
  // Hands what the pipe holds to the sink, at most a bounded amount per call
  // so that a child writing without pause cannot keep the caller here.
  void Drain();

#ifdef _WIN32
  void* process_ = nullptr;
  void* thread_ = nullptr;
  void* output_ = nullptr;  // the read end of the output pipe
#else
  int pid_ = -1;
  int pidfd_ = -1;
  int output_ = -1;  // the read end of the error pipe, non-blocking
  bool ended_ = false;
#endif
  ChildEnd end_;
  OutputSink sink_;
  friend ChildProcess StartChild(const std::u16string&, const std::u16string&, const std::vector<std::u16string>&,
                                 OutputSink);
};

// Starts program (a full path) with the command line, hidden: Windows
// CreateProcessW with program as application name, handles inherited,
// CREATE_NO_WINDOW, this process's environment and current folder; POSIX
// fork and exec of the line's arguments split by the Windows rules, with
// stdin, stdout and stderr on /dev/null and no other descriptor inherited.
// The child does not outlive this process: on Linux it gets SIGTERM when the
// thread that started it ends (PR_SET_PDEATHSIG), so start it from a thread
// that lives as long as the run, as the main thread does; on Windows it runs
// in a job that the system ends when this process ends.
// With an output sink, the child's standard output and error go through one
// pipe to the sink: its failures and its closing summary (console tools on
// Windows write their errors among their other output).
// Windows starts it with commandLine; POSIX with args, the same line split by
// the Windows rules. Throws std::system_error with the system's code when the
// start fails.
ChildProcess StartChild(const std::u16string& program, const std::u16string& commandLine,
                        const std::vector<std::u16string>& args, OutputSink output = {});

}  // namespace platform
