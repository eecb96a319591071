// The error codes the program names, in the Windows numbering that its messages
// are keyed on. On POSIX the system's errno values are translated into it here,
// once.
#pragma once

namespace platform {

constexpr int ErrorFileNotFound = 2;  // a missing file, or a missing folder whose parent exists
constexpr int ErrorPathNotFound = 3;  // a missing parent or a malformed path
constexpr int ErrorTooManyOpenFiles = 4;
constexpr int ErrorAccessDenied = 5;
constexpr int ErrorDirectory = 267;  // the name is not a folder

#ifndef _WIN32
// errno -> the code above; a value without one of its own is ErrorPathNotFound.
int TranslateErrno(int error);
#endif

}  // namespace platform
