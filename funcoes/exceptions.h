// The program's exception classes. Messages are kept as UTF-8 in what().
#pragma once

#include <stdexcept>
#include <string>

#ifdef _WIN32
inline constexpr const char* LineBreak = "\r\n";
#else
inline constexpr const char* LineBreak = "\n";
#endif

class Exception : public std::runtime_error {
 public:
  explicit Exception(const std::string& message) : std::runtime_error(message) {}
  explicit Exception(const std::u16string& message);
};

// Input/output failure with the operating system's error code.
class EInOutError : public Exception {
 public:
  // The message is chosen by the code (2 "File not found", 5 "File access denied", ...).
  explicit EInOutError(int code);
  EInOutError(const std::string& message, int code) : Exception(message), ErrorCode(code) {}
  static std::string MessageFor(int code);
  int ErrorCode;
};

// An operating-system call failed: "System Error.  Code: %d." + line break + system text.
class EOSError : public Exception {
 public:
  EOSError(int code, const std::string& systemText);
  int ErrorCode;
};

// Silent abort: the error box shows nothing for it.
class EAbort : public Exception {
 public:
  EAbort() : Exception("Operation aborted") {}
};
