// GetLastError: the layer keeps no state of its own, so the last error is
// errno, translated. Its functions leave errno describing their failure; it
// is only meaningful right after a call that failed.
#include <cerrno>

#include "platform/platform.h"

namespace {

constexpr DWORD kErrorInvalidFunction = 1;
constexpr DWORD kErrorNotEnoughMemory = 8;
constexpr DWORD kErrorGenFailure = 31;

}  // namespace

DWORD GetLastError() {
  switch (errno) {
    case 0:
      return ERROR_SUCCESS;
    case ENOENT:
    case ENODEV:
    case ENXIO:
      return ERROR_FILE_NOT_FOUND;
    case EACCES:
    case EPERM:
    case EBUSY:
    case EWOULDBLOCK:
      return ERROR_ACCESS_DENIED;  // Win32's answer for a port in use
    case EBADF:
      return ERROR_INVALID_HANDLE;
    case EINVAL:
      return ERROR_INVALID_PARAMETER;
    case ENOTTY:
      return kErrorInvalidFunction;
    case ENOMEM:
      return kErrorNotEnoughMemory;
    default:
      return kErrorGenFailure;
  }
}
