#include <cerrno>

#include "platform/errors.h"

namespace platform {

int TranslateErrno(int error) {
  switch (error) {
    case ENOENT:
      return ErrorFileNotFound;
    case EMFILE:
    case ENFILE:
      return ErrorTooManyOpenFiles;
    case EACCES:
      return ErrorAccessDenied;
    default:
      return ErrorPathNotFound;
  }
}

}  // namespace platform
