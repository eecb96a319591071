#include "funcoes/exceptions.h"

#include "platform/errors.h"
#include "platform/text.h"

Exception::Exception(const std::u16string& message) : std::runtime_error(platform::ToUtf8(message)) {}

namespace {

// The I/O result codes of the runtime, beside the system's.
constexpr int ReadBeyondEndOfFile = 100;
constexpr int DiskFull = 101;
constexpr int InvalidNumericInput = 106;

}  // namespace

std::string EInOutError::MessageFor(int code) {
  switch (code) {
    case platform::ErrorFileNotFound:
      return "File not found";
    case platform::ErrorPathNotFound:
      return "Invalid filename";
    case platform::ErrorTooManyOpenFiles:
      return "Too many open files";
    case platform::ErrorAccessDenied:
      return "File access denied";
    case ReadBeyondEndOfFile:
      return "Read beyond end of file";
    case DiskFull:
      return "Disk full";
    case InvalidNumericInput:
      return "Invalid numeric input";
    default:
      return "I/O error " + std::to_string(code);
  }
}

EInOutError::EInOutError(int code) : Exception(MessageFor(code)), ErrorCode(code) {}

EOSError::EOSError(int code, const std::string& systemText)
    : Exception(code == 0 ? std::string("A call to an OS function failed")
                          : "System Error.  Code: " + std::to_string(code) + "." + LineBreak + systemText),
      ErrorCode(code) {}
