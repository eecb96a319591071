#include "funcoes/exceptions.h"

#include "platform/text.h"

Exception::Exception(const std::u16string& message) : std::runtime_error(platform::ToUtf8(message)) {}

std::string EInOutError::MessageFor(int code) {
  switch (code) {
    case 2: return "File not found";
    case 3: return "Invalid filename";
    case 4: return "Too many open files";
    case 5: return "File access denied";
    case 100: return "Read beyond end of file";
    case 101: return "Disk full";
    case 106: return "Invalid numeric input";
    default: return "I/O error " + std::to_string(code);
  }
}

EInOutError::EInOutError(int code) : Exception(MessageFor(code)), ErrorCode(code) {}

EOSError::EOSError(int code, const std::string& systemText)
    : Exception(code == 0 ? std::string("A call to an OS function failed")
                          : "System Error.  Code: " + std::to_string(code) + "." + LineBreak + systemText),
      ErrorCode(code) {}
