// Starting a child program and waiting for it, and the facts the program
// search needs from the system.
#pragma once

#include <string>
#include <vector>

namespace platform {

// The folder of the running executable, without a trailing delimiter.
std::u16string ExecutableFolder();
// Windows: the system folder; elsewhere empty.
std::u16string SystemFolder();
// The entries of the PATH variable that are full paths, in order; empty and
// relative entries are dropped, since they would name the current folder.
std::vector<std::u16string> PathFolders();
// The file name a program started by this name has: on Windows ".exe" is
// added when the name has no extension.
std::u16string ProgramFileName(const std::u16string& name);
// True for an existing file (not a folder) that this user may execute.
bool IsProgramFile(const std::u16string& path);
// The system's message text for an error code.
std::string SystemErrorText(int code);

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
  // loops on it can never hang.
  bool Wait(int milliseconds);
  // Releases the child: the handles on Windows; on POSIX the child is reaped
  // if it has ended. The child itself is left running.
  void Close();

 private:
#ifdef _WIN32
  void* process_ = nullptr;
  void* thread_ = nullptr;
#else
  int pid_ = -1;
  int pidfd_ = -1;
  bool ended_ = false;
#endif
  friend ChildProcess StartChild(const std::u16string&, const std::u16string&);
};

// Starts program (a full path) with the command line, hidden: Windows
// CreateProcessW with program as application name, handles inherited,
// CREATE_NO_WINDOW, this process's environment and current folder; POSIX
// posix_spawn of the line's arguments split by the Windows rules, with
// stdin, stdout and stderr on /dev/null and no other descriptor inherited.
// Raises EOSError with the system's code when the start fails.
ChildProcess StartChild(const std::u16string& program, const std::u16string& commandLine);

}  // namespace platform
